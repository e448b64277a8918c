// VOC and 8SVX reading: a 10-minute 44,100 Hz stereo file (VOC 16-bit in one new-style block,
// 8SVX 8-bit with its two channel halves) read to floats as the editor loads (8,192-sample pulls).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/Probe.h"

namespace {

constexpr int kRate = 44100;
constexpr std::int64_t kFrames = std::int64_t(kRate) * 600;

std::string Le(std::uint32_t v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += char(v >> (8 * i));
  return s;
}
std::string Be32(std::uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// A sample pattern that is not silence; its values do not matter here.
std::string Pattern(std::int64_t bytes) {
  std::string s(std::size_t(bytes), '\0');
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = char((i * 37) >> 3);
  return s;
}

std::string WriteVoc() {
  const std::string path = (std::filesystem::temp_directory_path() / "tintwave-bench-10min.voc").string();
  const std::int64_t bytes = kFrames * 2 * 2;
  std::ofstream out(path, std::ios::binary);
  out << std::string("Creative Voice File\x1A", 20) << Le(26, 2) << Le(0x0114, 2) << Le(0x111F, 2);
  // One block holds at most 2^24 - 1 bytes: the rest follows in continuation blocks.
  const std::string data = Pattern(bytes);
  constexpr std::int64_t kMaxBlock = (1 << 24) - 4;
  std::int64_t at = std::min(bytes, kMaxBlock - 12);
  out << char(9) << Le(std::uint32_t(at + 12), 3) << Le(kRate, 4) << char(16) << char(2) << Le(4, 2) << Le(0, 4);
  out.write(data.data(), at);
  while (at < bytes) {
    const std::int64_t n = std::min(bytes - at, kMaxBlock);
    out << char(2) << Le(std::uint32_t(n), 3);
    out.write(data.data() + at, n);
    at += n;
  }
  out << char(0);
  return path;
}

std::string Write8svx() {
  const std::string path = (std::filesystem::temp_directory_path() / "tintwave-bench-10min.8svx").string();
  const std::int64_t bytes = kFrames * 2;
  const std::string vhdr = "VHDR" + Be32(20) + Be32(std::uint32_t(kFrames)) + Be32(0) + Be32(0) + char(kRate >> 8) +
                           char(kRate & 0xFF) + char(1) + char(0) + Be32(0x10000);
  const std::string chan = "CHAN" + Be32(4) + Be32(6);
  std::ofstream out(path, std::ios::binary);
  out << "FORM" << Be32(std::uint32_t(4 + vhdr.size() + chan.size() + 8 + bytes)) << "8SVX" << vhdr << chan << "BODY"
      << Be32(std::uint32_t(bytes)) << Pattern(bytes);
  return path;
}

void BM_Read(benchmark::State& state, std::string (*write)(), const char* extension) {
  const std::string path = write();
  std::vector<float> block(8192);
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    auto reader = CreateReaderForFile(in, std::int64_t(std::filesystem::file_size(path)), extension, true);
    reader->CurrentSamplingRate();
    reader->CurrentChannels();
    std::int64_t total = 0;
    while (int n = reader->PullSamples(block.data(), int(block.size()))) total += n;
    if (total != kFrames * 2) state.SkipWithError("wrong sample count");
  }
  std::filesystem::remove(path);
}

BENCHMARK_CAPTURE(BM_Read, voc16, WriteVoc, ".voc")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, svx8, Write8svx, ".8svx")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
