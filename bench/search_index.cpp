// Indexing a library of 1,000 five-second 44,100 Hz stereo 16-bit WAVE files into a new index.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "bench/BenchSounds.h"
#include "search/LibraryIndex.h"

namespace {

namespace fs = std::filesystem;

void Put32(std::ofstream& out, std::uint32_t v) {
  const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  out.write(b, 4);
}
void Put16(std::ofstream& out, std::uint16_t v) {
  const char b[2] = {char(v), char(v >> 8)};
  out.write(b, 2);
}

// Five seconds of five of the bench sounds in a row, chosen by the file number.
void WriteWave(const std::string& path, int number) {
  constexpr int kRate = 44100, kSeconds = 5;
  std::mt19937 rng(static_cast<unsigned>(number));
  std::vector<float> second(std::size_t(2 * kRate));
  std::vector<std::int16_t> pcm;
  pcm.reserve(std::size_t(2 * kRate * kSeconds));
  for (int s = 0; s < kSeconds; ++s) {
    FillSecond((number + s * 3) % 8, rng, second, kRate);
    for (const float v : second) pcm.push_back(std::int16_t(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767)));
  }
  std::ofstream out(path, std::ios::binary);
  const std::uint32_t data = std::uint32_t(pcm.size() * 2);
  out.write("RIFF", 4);
  Put32(out, 36 + data);
  out.write("WAVEfmt ", 8);
  Put32(out, 16);
  Put16(out, 1);
  Put16(out, 2);
  Put32(out, kRate);
  Put32(out, kRate * 4);
  Put16(out, 4);
  Put16(out, 16);
  out.write("data", 4);
  Put32(out, data);
  out.write(reinterpret_cast<const char*>(pcm.data()), std::streamsize(data));
}

void BM_IndexThousandFiles(benchmark::State& state) {
  const fs::path root = fs::temp_directory_path() / ("tintwave-search-bench-" + std::to_string(::getpid()));
  const fs::path library = root / "library";
  for (int i = 0; i < 1000; ++i) {
    const fs::path folder = library / ("folder" + std::to_string(i / 100));
    fs::create_directories(folder);
    WriteWave((folder / ("sound" + std::to_string(i) + ".wav")).string(), i);
  }
  for (auto _ : state) {
    fs::remove(root / "index.sqlite");
    fs::remove(root / "index.sqlite-wal");
    fs::remove(root / "index.sqlite-shm");
    std::string error;
    auto index = LibraryIndex::Open((root / "index.sqlite").string(), &error);
    IndexRunReport report;
    if (!index || !index->Update({library.string()}, nullptr, &report, &error)) state.SkipWithError(error.c_str());
    if (report.added != 1000) state.SkipWithError("not every file was indexed");
  }
  // An update that finds nothing changed, for comparison.
  std::string error;
  auto index = LibraryIndex::Open((root / "index.sqlite").string(), &error);
  IndexRunReport report;
  const auto start = std::chrono::steady_clock::now();
  index->Update({library.string()}, nullptr, &report, &error);
  state.counters["rescan_s"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  state.counters["db_MB"] = double(fs::file_size(root / "index.sqlite")) / 1e6;
  fs::remove_all(root);
}
BENCHMARK(BM_IndexThousandFiles)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
