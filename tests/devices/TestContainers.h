#pragma once
// Small containers and a recording meter for the device tests.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "analysis/AudioContainer.h"
#include "devices/LevelMeter.h"

// Interleaved frames in memory. Writes grow it, up to an optional limit of frames.
class MemoryContainer : public CAP_AudioContainer {
public:
  MemoryContainer(int channels_, int rate, int frames = 0, int limit = 2147483647) : limit_(limit) {
    channels = channels_;
    sampleRate = rate;
    samples.assign(std::size_t(frames) * channels_, 0.0f);
    UpdateDuration();
  }
  int Frames() const { return int(samples.size() / std::size_t(channels)); }
  float At(int frame, int channel = 0) const { return samples[std::size_t(frame) * channels + channel]; }

  int ReadFloat(float* dest, int frames, int position) override {
    const int n = std::clamp(Frames() - position, 0, std::max(frames, 0));
    std::copy_n(samples.begin() + std::ptrdiff_t(position) * channels, std::size_t(n) * channels, dest);
    ++reads;
    return n;
  }
  int WriteFloat(const float* source, int frames, int position) override {
    const int n = std::clamp(limit_ - position, 0, std::max(frames, 0));
    if (n == 0) return 0;
    if (position + n > Frames()) samples.resize(std::size_t(position + n) * channels, 0.0f);
    std::copy_n(source, std::size_t(n) * channels, samples.begin() + std::ptrdiff_t(position) * channels);
    UpdateDuration();
    return n;
  }

  std::vector<float> samples;
  int reads = 0;

private:
  void UpdateDuration() { duration = double(Frames()) / sampleRate; }
  int limit_;
};

// A ramp that survives 16-bit and float playback exactly: frame i, channel c holds
// ((i * 7 + c * 1000) % 60000 - 30000) / 32768.
inline float RampSample(std::int64_t frame, int channel) {
  return float((frame * 7 + channel * 1000) % 60000 - 30000) / 32768.0f;
}

inline MemoryContainer MakeRamp(int channels, int rate, int frames) {
  MemoryContainer c(channels, rate, frames);
  for (int i = 0; i < frames; ++i)
    for (int ch = 0; ch < channels; ++ch) c.samples[std::size_t(i) * channels + ch] = RampSample(i, ch);
  return c;
}

struct RecordingMeter : CAI_LevelMeter {
  struct Update {
    float level, hold;
    BlockColor colour;
  };
  void UpdateLevels(float level, float hold, BlockColor colour) override { updates.push_back({level, hold, colour}); }
  void InvalidateAll() override { ++invalidations; }
  std::vector<Update> updates;
  int invalidations = 0;
};
