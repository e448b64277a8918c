#pragma once
// The signatures of every window of a track for a few window lengths, each window starting half
// a window after the one before. Each signature is exactly the one ComputeRegionSignature gives
// for that region, but the whole series costs one pass over the track per decimation phase
// instead of one analyzer run per window: the analyzer's sums are differences of running sums.
#include <cstdint>
#include <vector>

#include "analysis/SoundSignature.h"

class CAP_SampleTrack;

struct WindowSeries {
  std::int32_t length = 0;  // samples of each window
  std::int32_t hop = 0;     // window i starts at sample i * hop
  std::vector<SoundSignature> signatures;
};

// The window lengths of the index, in seconds.
inline constexpr double kIndexWindowSeconds[] = {0.5, 1.0, 2.0, 5.0, 10.0};

// One series per length (in samples, each at least 2); a length longer than the track gives an
// empty series. Nothing for a track below 8000 Hz, which has no analyzer.
std::vector<WindowSeries> ComputeWindowSeries(CAP_SampleTrack& track, const std::vector<std::int32_t>& lengths);
