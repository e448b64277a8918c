// AIFF and AU read and write: a 10-minute 44,100 Hz stereo 16-bit file written from floats and
// read back to floats, as the editor saves and loads (2,048-frame pushes, 8,192-sample pulls).
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "formats/Aiff.h"
#include "formats/Au.h"
#include "formats/Probe.h"

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr std::int64_t kFrames = std::int64_t(kRate) * 600;

const std::vector<float>& Music() {
  static const std::vector<float> samples = [] {
    std::vector<float> s(std::size_t(kFrames) * kChannels);
    for (std::int64_t i = 0; i < kFrames; ++i) {
      const double t = double(i) / kRate;
      s[std::size_t(i) * 2] = float(0.4 * std::sin(2 * M_PI * 440 * t));
      s[std::size_t(i) * 2 + 1] = float(0.4 * std::sin(2 * M_PI * 660 * t));
    }
    return s;
  }();
  return samples;
}

std::unique_ptr<AudioAbstract> MakeWriter(std::ostream& out, const char* extension) {
  if (std::string(extension) == ".au") return std::make_unique<AuWrite>(out, kFrames, kChannels, kRate, CompressionPcm16);
  return std::make_unique<AiffWrite>(out, kFrames, kChannels, kRate, CompressionPcm16, AnnotationList());
}

std::string Write(const char* extension) {
  const std::string path = (std::filesystem::temp_directory_path() / (std::string("tintwave-bench-10min") + extension)).string();
  std::ofstream out(path, std::ios::binary);
  auto writer = MakeWriter(out, extension);
  const std::vector<float>& samples = Music();
  for (std::size_t at = 0; at < samples.size(); at += 2048 * kChannels)
    writer->PushSamples(samples.data() + at, int(std::min<std::size_t>(2048 * kChannels, samples.size() - at)));
  return path;
}

void BM_Write(benchmark::State& state, const char* extension) {
  Music();
  for (auto _ : state) benchmark::DoNotOptimize(Write(extension));
}

void BM_Read(benchmark::State& state, const char* extension) {
  const std::string path = Write(extension);
  std::vector<float> block(8192);
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    auto reader = CreateReaderForFile(in, std::int64_t(std::filesystem::file_size(path)), extension, true);
    reader->CurrentSamplingRate();
    reader->CurrentChannels();
    std::int64_t total = 0;
    while (int n = reader->PullSamples(block.data(), int(block.size()))) total += n;
    if (total != kFrames * kChannels) state.SkipWithError("short read");
  }
  std::filesystem::remove(path);
}

BENCHMARK_CAPTURE(BM_Read, aiff16, ".aif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, au16, ".au")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write, aiff16, ".aif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write, au16, ".au")->Unit(benchmark::kMillisecond);

}  // namespace
