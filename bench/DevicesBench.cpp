// The per-buffer work of the player and the monitor, which must stay far below the buffer time:
// a 46 ms record buffer (44100 Hz stereo 16-bit) and a one-second playback refill.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "devices/AudioMonitor.h"
#include "devices/AudioPlayer.h"
#include "devices/FakeWaveDevice.h"

namespace {

struct Memory : CAP_AudioContainer {
  Memory(int ch, int rate, int frames) : samples(std::size_t(ch) * frames) {
    channels = ch;
    sampleRate = rate;
    duration = double(frames) / rate;
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = 0.5f * float(std::sin(0.03 * double(i)));
  }
  int ReadFloat(float* dest, int frames, int position) override {
    const int n = std::max(0, std::min(frames, int(samples.size() / channels) - position));
    std::copy_n(samples.begin() + std::ptrdiff_t(position) * channels, std::size_t(n) * channels, dest);
    return n;
  }
  int WriteFloat(const float*, int frames, int) override { return frames; }
  std::vector<float> samples;
};

struct NullMeter : CAI_LevelMeter {
  void UpdateLevels(float, float, BlockColor) override {}
  void InvalidateAll() override {}
};

void BM_MonitorRecordBuffer(benchmark::State& state) {
  NullMeter left, right;
  CAP_AudioMonitor monitor(2, 44100, &left, &right);
  std::vector<float> buffer(2 * 2048);
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = 0.4f * float(std::sin(0.05 * double(i)));
  for (auto _ : state) benchmark::DoNotOptimize(monitor.WriteFloat(buffer.data(), 2048, 0));
}
BENCHMARK(BM_MonitorRecordBuffer)->Unit(benchmark::kMicrosecond);

void BM_DcCorrectionRecordBuffer(benchmark::State& state) {
  std::vector<std::uint8_t> bytes(8192, 0x11);
  const float offsets[2] = {0.01f, -0.02f};
  for (auto _ : state) {
    CAI_AudioPlayer::CorrectDcOffsets(bytes.data(), 2048, 2, false, offsets);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DcCorrectionRecordBuffer)->Unit(benchmark::kMicrosecond);

// One second of 44100 Hz stereo through the 16-bit path: a refill as the fake device asks for it.
void BM_PlaybackRefillOneSecond(benchmark::State& state) {
  Memory source(2, 44100, 44100 * 600);
  auto device = std::make_unique<FakeWaveDevice>(WaveDirection::Output);
  device->acceptsFloat = false;
  FakeWaveDevice* fake = device.get();
  CAI_AudioPlayer player(&source, nullptr, std::move(device), nullptr);
  player.Play(0, 0);
  for (auto _ : state) {
    fake->ReturnNext();
    player.ProcessNotifications();
    fake->played.clear();
    fake->queuedLengths.clear();
    if (player.PlaybackFinished()) state.SkipWithError("source exhausted");
  }
}
BENCHMARK(BM_PlaybackRefillOneSecond)->Unit(benchmark::kMicrosecond)->Iterations(500);

}  // namespace
