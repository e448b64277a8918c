// One query over a catalog of 10,000 files of 40 windows on average (about 400,000 windows):
// the search alone, and the whole answer of the server (parse, search, results page).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "search/SearchAnswer.h"
#include "search/SearchCatalog.h"

namespace {

SoundSignature RandomSignature(std::mt19937& rng) {
  SoundSignature s;
  std::normal_distribution<double> lag(110, 50);
  for (int i = 0; i < 12; ++i) s.bytes[i] = std::uint8_t(std::clamp(lag(rng), 0.0, 255.0));
  s.bytes[12] = std::uint8_t(rng() % 120);
  s.bytes[15] = 32;
  return s;
}

const SearchCatalog& TenThousandFiles() {
  static const SearchCatalog catalog = [] {
    SearchCatalog c;
    std::mt19937 rng(10000);
    const int formats[] = {1, 1, 1, 2, 3};
    for (int f = 0; f < 10000; ++f) {
      const int rate = f % 3 ? 44100 : 22050;
      const int windows = 20 + int(rng() % 41);  // 20..60, 40 on average
      WindowSeries s;
      s.length = rate;
      s.hop = rate / 2;
      for (int w = 0; w < windows; ++w) s.signatures.push_back(RandomSignature(rng));
      const SoundFacts facts{formats[f % 5], 1 + f % 2, f % 4 ? 16 : 24, rate, std::int64_t(windows + 1) * rate / 2};
      c.AddFile(f + 1, "/home/user/sounds/folder" + std::to_string(f / 100) + "/sound" + std::to_string(f) + ".wav",
                facts.length * 2 * facts.channels, facts, {s});
    }
    return c;
  }();
  return catalog;
}

std::vector<std::string> Targets() {
  std::mt19937 rng(42);
  const char* keys[] = {"&maxsize=2097152", "", "&format=wave&channels=mono&minres=16&minrate=44100&maxsize=1048576",
                        "&format=aiff&format=au"};
  std::vector<std::string> targets;
  for (int i = 0; i < 64; ++i) {
    std::string t = "/ISAPI/search.dll?sig=";
    const SoundSignature s = RandomSignature(rng);
    char hex[3];
    for (const std::uint8_t b : s.bytes) {
      std::snprintf(hex, sizeof hex, "%02x", b);
      t += hex;
    }
    targets.push_back(t + keys[i % 4]);
  }
  return targets;
}

void BM_SearchTenThousandFiles(benchmark::State& state) {
  const SearchCatalog& catalog = TenThousandFiles();
  const auto targets = Targets();
  std::vector<SearchQuery> queries(targets.size());
  QueryError error;
  for (std::size_t i = 0; i < targets.size(); ++i) ParseSearchUrl(targets[i], &queries[i], &error);
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(catalog.Search(queries[i++ % queries.size()]));
  state.counters["windows"] = double(catalog.WindowCount());
}
BENCHMARK(BM_SearchTenThousandFiles)->Unit(benchmark::kMillisecond);

// Each answer timed on its own: the server's latency is a per-request figure, so its p99 is
// taken over 2,000 single answers rather than over averages.
void BM_AnswerTenThousandFiles(benchmark::State& state) {
  const SearchCatalog& catalog = TenThousandFiles();
  const auto targets = Targets();
  std::vector<double> ms;
  for (auto _ : state) {
    ms.clear();
    for (std::size_t i = 0; i < 2000; ++i) {
      const auto start = std::chrono::steady_clock::now();
      benchmark::DoNotOptimize(AnswerSearch(catalog, targets[i % targets.size()], i % 2 == 1));
      ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
  }
  std::sort(ms.begin(), ms.end());
  state.counters["p50_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
  state.counters["max_ms"] = ms.back();
}
BENCHMARK(BM_AnswerTenThousandFiles)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
