// The format library's share of loading and saving: a 10-minute 44,100 Hz stereo 16-bit WAVE
// read to floats, written back as 16-bit WAVE, and converted to 48,000 Hz.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "formats/Probe.h"
#include "formats/RateConverter.h"
#include "formats/Wave.h"

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr std::int64_t kFrames = std::int64_t(kRate) * 600;

std::string WorkPath(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

const std::vector<float>& Music() {
  static const std::vector<float> samples = [] {
    std::vector<float> s(std::size_t(kFrames) * kChannels);
    for (std::int64_t i = 0; i < kFrames; ++i) {
      const double t = double(i) / kRate;
      s[std::size_t(i) * 2] = float(0.4 * std::sin(2 * M_PI * 440 * t) + 0.1 * std::sin(2 * M_PI * 3520 * t));
      s[std::size_t(i) * 2 + 1] = float(0.4 * std::sin(2 * M_PI * 660 * t));
    }
    return s;
  }();
  return samples;
}

void WriteWave(const std::string& path, const std::vector<float>& samples, int rate, std::int64_t frames) {
  std::ofstream out(path, std::ios::binary);
  WaveWrite writer(out, frames, kChannels, rate, CompressionPcm16, AnnotationList());
  // The editor's save pushes 2,048 frames at a time.
  for (std::size_t at = 0; at < samples.size(); at += 2048 * kChannels)
    writer.PushSamples(samples.data() + at, int(std::min<std::size_t>(2048 * kChannels, samples.size() - at)));
}

const std::string& SourceFile() {
  static const std::string path = [] {
    const std::string p = WorkPath("tintwave-bench-10min.wav");
    WriteWave(p, Music(), kRate, kFrames);
    return p;
  }();
  return path;
}

void BM_ReadWaveToFloats(benchmark::State& state) {
  const std::string& path = SourceFile();
  std::vector<float> block(8192 * kChannels);
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    auto reader = CreateReaderForFile(in, std::int64_t(std::filesystem::file_size(path)), ".wav", true);
    std::int64_t total = 0;
    while (int n = reader->PullSamples(block.data(), int(block.size()))) total += n;
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_ReadWaveToFloats)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SoxDecodeReference(benchmark::State& state) {
  const std::string command = "sox " + SourceFile() + " -t f32 /dev/null";
  for (auto _ : state) benchmark::DoNotOptimize(std::system(command.c_str()));
}
BENCHMARK(BM_SoxDecodeReference)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_WriteWave16(benchmark::State& state) {
  const std::vector<float>& samples = Music();
  const std::string path = WorkPath("tintwave-bench-out.wav");
  for (auto _ : state) WriteWave(path, samples, kRate, kFrames);
  std::filesystem::remove(path);
}
BENCHMARK(BM_WriteWave16)->Unit(benchmark::kMillisecond)->Iterations(5);

void Convert(benchmark::State& state, int toRate) {
  const std::vector<float>& samples = Music();
  std::vector<float> out;
  for (auto _ : state) {
    RateConverter converter(kChannels, kRate, toRate);
    out.resize(std::size_t(converter.MaxOutputFrames(4096)) * kChannels);
    std::int64_t produced = 0;
    // The encoder converts 4,096 frames at a time.
    for (std::size_t at = 0; at < samples.size(); at += 4096 * kChannels) {
      const int frames = int(std::min<std::size_t>(4096 * kChannels, samples.size() - at) / kChannels);
      produced += converter.Process(samples.data() + at, frames, out.data());
    }
    benchmark::DoNotOptimize(produced);
  }
}

void BM_ConvertTo48000(benchmark::State& state) { Convert(state, 48000); }
BENCHMARK(BM_ConvertTo48000)->Unit(benchmark::kMillisecond)->Iterations(2);

// The interpolated mode, for comparison (48,000 to 44,100 runs the same way).
void BM_ConvertTo22000(benchmark::State& state) { Convert(state, 22000); }
BENCHMARK(BM_ConvertTo22000)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ConvertAndWriteAt48000(benchmark::State& state) {
  const std::vector<float>& samples = Music();
  const std::string path = WorkPath("tintwave-bench-48k.wav");
  std::vector<float> out;
  for (auto _ : state) {
    const std::int64_t frames = std::int64_t(48000) * 600;
    std::ofstream file(path, std::ios::binary);
    WaveWrite writer(file, frames, kChannels, 48000, CompressionPcm16, AnnotationList());
    RateConverter converter(kChannels, kRate, 48000);
    out.resize(std::size_t(converter.MaxOutputFrames(4096)) * kChannels);
    for (std::size_t at = 0; at < samples.size(); at += 4096 * kChannels) {
      const int n = int(std::min<std::size_t>(4096 * kChannels, samples.size() - at) / kChannels);
      const int got = converter.Process(samples.data() + at, n, out.data());
      writer.PushSamples(out.data(), got * kChannels);
    }
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_ConvertAndWriteAt48000)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
