#pragma once
// An audio sink that measures what is recorded into it: a DC estimate per channel over the first
// 100,000 frames, each buffer's peak after removing that offset, a hold over the last ten
// buffers and the buffer's sound colour, all handed to the channel's meter. Written frames can be
// passed on to a further sink, and frames read through it come from a source and are measured
// the same way.
#include <cstdint>

#include "analysis/AudioContainer.h"
#include "devices/LevelMeter.h"

class CAP_AudioMonitor : public CAP_AudioContainer {
public:
  static constexpr int kHoldBuffers = 10;
  static constexpr std::int32_t kDcEstimateFrames = 100000;

  // One or two channels; either meter may be null.
  CAP_AudioMonitor(int channels, int rate, CAI_LevelMeter* meter0, CAI_LevelMeter* meter1 = nullptr);

  int ReadFloat(float* dest, int frames, int position) override;
  // Without a sink every frame counts as accepted.
  int WriteFloat(const float* source, int frames, int position) override;

  void SetSource(CAP_AudioContainer* source) { source_ = source; }
  void SetSink(CAP_AudioContainer* sink) { sink_ = sink; }
  float DcOffset(int channel) const { return dcOffset_[channel]; }
  std::int32_t DcFrames() const { return dcFrames_; }

  void Measure(const float* frames, int count);

private:
  float dcOffset_[2] = {0, 0};
  CAI_LevelMeter* meter_[2];
  CAP_AudioContainer* source_ = nullptr;
  CAP_AudioContainer* sink_ = nullptr;
  double peakHistory_[2][kHoldBuffers] = {};  // newest first
  int historyCount_[2] = {0, 0};
  double dcSum_[2] = {0, 0};
  std::int32_t dcFrames_ = 0;
};
