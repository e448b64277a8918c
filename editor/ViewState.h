#pragma once
// The view an undo group brings back: the waveform's scroll offset (0 or negative) and zoomed
// width in pixels, and the selection in samples.
#include <cstdint>

struct ViewState {
  std::int32_t viewOffset = 0;
  std::int32_t viewWidth = 0;
  std::int32_t selectionStart = 0;
  std::int32_t selectionLength = 0;
  bool operator==(const ViewState&) const = default;
};
