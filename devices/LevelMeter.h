#pragma once
// What the audio monitor feeds: one channel's level meter. The application adapts its display
// meter to this; tests record the calls.
#include "analysis/SoundSignature.h"

class CAI_LevelMeter {
public:
  virtual ~CAI_LevelMeter() = default;
  // Linear peak of the latest buffer, the peak-hold value and the buffer's sound colour.
  virtual void UpdateLevels(float level, float hold, BlockColor colour) = 0;
  virtual void InvalidateAll() = 0;
};
