// The store and the search on a one-hour 44,100 Hz track: fill, match, columns, edits, heap.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "analysis/SampleTrack.h"
#include "analysis/SignatureKernels.h"
#include "analysis/SoundMatch.h"
#include "analysis/TrackBands.h"
#include "tests/analysis/PlantedSounds.h"

namespace {
constexpr int kRate = 44100;
constexpr int kHour = kRate * 3600;

// Ten seconds of varied sound (tones, sweeps, noise bursts), tiled over the hour.
const std::vector<float>& TenSeconds() {
  static const std::vector<float> v = [] {
    std::vector<float> s(std::size_t(kRate) * 10);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> noise(-0.4f, 0.4f);
    double phase = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      const double t = double(i) / kRate;
      const int part = int(t * 2) % 4;
      if (part == 0) s[i] = noise(rng);
      else if (part == 1) s[i] = 0.5f * float(std::sin(2 * M_PI * 440 * t));
      else {
        phase += 2 * M_PI * (200 + 3000 * std::fmod(t, 0.5)) / kRate;
        s[i] = 0.6f * float(std::sin(phase));
      }
    }
    return s;
  }();
  return v;
}

// Appends the hour as loading does: 0.1 s writes at the end.
void FillHour(CAP_SampleTrack& t) {
  const auto& src = TenSeconds();
  const int chunk = 4410;
  for (int pos = 0; pos < kHour; pos += chunk)
    t.WriteSamples(src.data() + (pos % int(src.size())), chunk, pos);
}

CAP_SampleTrack& HourTrack() {
  static std::unique_ptr<CAP_SampleTrack> t = [] {
    auto track = std::make_unique<CAP_SampleTrack>(kRate);
    FillHour(*track);
    return track;
  }();
  return *t;
}

void BM_FillOneHour(benchmark::State& state) {
  TenSeconds();
  for (auto _ : state) {
    const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
    CAP_SampleTrack t(kRate);
    FillHour(t);
    const std::size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
    state.counters["heap_per_sample_bytes"] = double(after - before) / kHour;
    state.counters["heap_ratio_to_4B"] = double(after - before) / (4.0 * kHour);
    benchmark::DoNotOptimize(t.Length());
  }
}
BENCHMARK(BM_FillOneHour)->Unit(benchmark::kMillisecond)->Iterations(1);

// Signatures of the hour's blocks: the store's decimating kernel against the plain analyzer.
void BM_BlockSignaturesHour(benchmark::State& state) {
  const auto& src = TenSeconds();
  const bool plain = state.range(0) == 1;
  for (auto _ : state) {
    SoundSignature s;
    std::uint8_t rgb[3];
    for (int pos = 0; pos < kHour; pos += 2205) {
      const float* p = src.data() + (pos % int(src.size()));
      if (plain) ComputeRangeSignature(p, 0, 2205, 1, kRate, &s, rgb);
      else ComputeBlockSignature(p, 2205, kRate, &s);
    }
    benchmark::DoNotOptimize(s);
  }
  state.SetLabel(plain ? "plain analyzer" : "decimating kernel");
}
BENCHMARK(BM_BlockSignaturesHour)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

// Arg 0: the packed search, 1: the block walk as written; Arg 1: phases (1 is the grid search).
void BM_ComputeMatches10s(benchmark::State& state) {
  CAP_SampleTrack& t = HourTrack();
  const bool plain = state.range(0) == 1;
  const int phases = int(state.range(1));
  for (auto _ : state) {
    if (plain) t.ComputeMatchesReference(10 * kRate, 1800 * kRate + 777, phases);
    else t.ComputeMatches(10 * kRate, 1800 * kRate + 777, phases);
    benchmark::DoNotOptimize(t.CountMatches(70));
  }
  state.SetLabel(std::string(plain ? "block-by-block walk" : "packed arrays") +
                 (phases > 1 ? ", match anywhere" : ", grid"));
  state.counters["blocks"] = t.BlockCount();
  state.counters["matches70"] = t.CountMatches(70);
}
BENCHMARK(BM_ComputeMatches10s)
    ->Args({0, kGridPhases})
    ->Args({1, kGridPhases})
    ->Args({0, kMatchAnywherePhases})
    ->Args({1, kMatchAnywherePhases})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The band shapes of the loaded hour, which the first sound search makes (loading no longer
// does), on two threads where there are two processors.
void BM_BandShapesHour(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto t = std::make_unique<CAP_SampleTrack>(kRate);
    FillHour(*t);
    state.ResumeTiming();
    FillBandShapes(*t);
    state.PauseTiming();
    t.reset();
    state.ResumeTiming();
  }
  state.counters["bytes_per_block"] = double(sizeof(BlockBands));
  state.counters["ratio_to_samples"] = double(sizeof(BlockBands)) / (4.0 * CAP_SampleTrack::CapacityForRate(kRate) / 2);
}
BENCHMARK(BM_BandShapesHour)->Unit(benchmark::kMillisecond)->Iterations(2)->MeasureProcessCPUTime()->UseRealTime();

// The sound search over the hour, Arg: the prototype's seconds (whole search, Match anywhere's
// phases included in the second pass; nothing remembered from the search before).
void BM_SoundMatches(benchmark::State& state) {
  CAP_SampleTrack& t = HourTrack();
  FillBandShapes(t);
  const int seconds = int(state.range(0));
  for (auto _ : state) {
    ForgetRememberedSearches();
    ComputeSoundMatches(t, seconds * kRate, 1800 * kRate + 777);
    benchmark::DoNotOptimize(t.CountMatches(70));
  }
  state.counters["blocks"] = t.BlockCount();
  state.counters["matches70"] = t.CountMatches(70);
}
BENCHMARK(BM_SoundMatches)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(3);

// Quality, not speed: the planted copies of a motif that the search recalls at the threshold 70
// over 27 minutes of material (three backgrounds, three kinds of copy, three rates), and the
// matches that are none of them. Arg: phases.
void BM_PlantedRecall(benchmark::State& state) {
  const int phases = int(state.range(0));
  planted::Found total;
  for (auto _ : state) {
    total = {};
    unsigned seed = 1;
    for (int rate : {8000, 22050, 44100})
      for (int bg = 0; bg < 3; ++bg)
        for (int copy = 0; copy < 3; ++copy, ++seed) {
          const auto p = planted::MakePlantedTrack(rate, planted::Background(bg), planted::Copy(copy), seed);
          const planted::Found f = planted::Search(p, rate, phases);
          total.recalled += f.recalled;
          total.planted += f.planted;
          total.falseMatches += f.falseMatches;
        }
  }
  state.counters["recall_percent"] = 100.0 * total.recalled / total.planted;
  state.counters["false_matches"] = total.falseMatches;
  state.SetLabel(phases > 1 ? "match anywhere" : "grid");
}
BENCHMARK(BM_PlantedRecall)->Arg(kGridPhases)->Arg(kMatchAnywherePhases)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_GetColumns1920WholeHour(benchmark::State& state) {
  CAP_SampleTrack& t = HourTrack();
  std::vector<float> mins(1920), maxs(1920);
  std::vector<BlockColor> colors(1920);
  for (auto _ : state) {
    t.GetColumns(0.0, 3600.0 / 1920, 1920, mins.data(), maxs.data(), colors.data());
    benchmark::DoNotOptimize(mins.data());
  }
}
BENCHMARK(BM_GetColumns1920WholeHour)->Unit(benchmark::kMicrosecond);

void BM_InsertOneSecondMiddle(benchmark::State& state) {
  CAP_SampleTrack& t = HourTrack();
  const auto& src = TenSeconds();
  for (auto _ : state) {
    t.InsertSamples(src.data(), kRate, kHour / 2);
    state.PauseTiming();
    t.DeleteSamples(kRate, kHour / 2);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_InsertOneSecondMiddle)->Unit(benchmark::kMicrosecond)->Iterations(20);

void BM_DeleteOneSecondMiddle(benchmark::State& state) {
  CAP_SampleTrack& t = HourTrack();
  const auto& src = TenSeconds();
  for (auto _ : state) {
    state.PauseTiming();
    t.InsertSamples(src.data(), kRate, kHour / 2);
    state.ResumeTiming();
    t.DeleteSamples(kRate, kHour / 2);
  }
}
BENCHMARK(BM_DeleteOneSecondMiddle)->Unit(benchmark::kMicrosecond)->Iterations(20);
}  // namespace
