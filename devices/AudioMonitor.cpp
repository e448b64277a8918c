#include "devices/AudioMonitor.h"

#include <algorithm>
#include <cmath>

#include "analysis/SoundSignature.h"

CAP_AudioMonitor::CAP_AudioMonitor(int channels_, int rate, CAI_LevelMeter* meter0, CAI_LevelMeter* meter1)
    : meter_{meter0, meter1} {
  channels = std::clamp(channels_, 1, 2);
  sampleRate = rate;
  resolution = 32;
}

int CAP_AudioMonitor::ReadFloat(float* dest, int frames, int position) {
  if (!source_ || frames < 1) return 0;
  const int n = std::clamp(source_->ReadFloat(dest, frames, position), 0, frames);
  Measure(dest, n);
  return n;
}

int CAP_AudioMonitor::WriteFloat(const float* source, int frames, int position) {
  if (frames < 1) return 0;
  Measure(source, frames);
  return sink_ ? sink_->WriteFloat(source, frames, position) : frames;
}

void CAP_AudioMonitor::Measure(const float* frames, int count) {
  if (count < 0) count = 0;
  const int ch = channels;
  // The DC estimate runs over the first buffers until 100,000 frames were seen, then stays.
  if (dcFrames_ < kDcEstimateFrames && count > 0) {
    for (int c = 0; c < ch; ++c) {
      double sum = 0;
      for (int i = 0; i < count; ++i) {
        const float v = frames[i * ch + c];
        if (v == v) sum += v;  // a NaN must not poison the estimate for good
      }
      dcSum_[c] += sum;
      dcOffset_[c] = float(dcSum_[c] / (double(dcFrames_) + count));
    }
    dcFrames_ += count;
  }

  bool coloured = false;
  BlockColor colour = 0;
  for (int c = 0; c < ch; ++c) {
    CAI_LevelMeter* meter = meter_[c];
    if (!meter) continue;
    if (!coloured) {  // the colour is the whole buffer's, the same for every meter
      SoundSignature signature;
      std::uint8_t rgb[3] = {0, 0, 0};
      ComputeRangeSignature(frames, 0, count, ch, sampleRate, &signature, rgb);
      colour = PackColor(rgb);
      coloured = true;
    }
    double peak = 0;
    for (int i = 0; i < count; ++i) peak = std::max(peak, double(std::fabs(frames[i * ch + c] - dcOffset_[c])));
    double* history = peakHistory_[c];
    int& n = historyCount_[c];
    for (int k = std::min(n, kHoldBuffers - 1); k > 0; --k) history[k] = history[k - 1];
    history[0] = peak;
    n = std::min(n + 1, kHoldBuffers);
    double hold = 0;
    for (int k = 0; k < n; ++k) hold = std::max(hold, history[k]);
    meter->UpdateLevels(float(peak), float(hold), colour);
    meter->InvalidateAll();
  }
}
