#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/BlockSummary.h"
#include "analysis/SampleTrack.h"
#include "tests/analysis/TestAudio.h"

namespace {

TEST(Summary, LevelsOfABlock) {
  // Levels 1 and 2 (552 and 69 entries) are worked out from the samples, not stored; a computed
  // block, with no samples at hand, keeps level 2.
  EXPECT_EQ(SummaryFloats(4410, false), 2 * (9 + 2 + 1));
  EXPECT_EQ(SummaryFloats(4410, true), 2 * (69 + 9 + 2 + 1));
  EXPECT_EQ(SummaryFloats(512, false), 2);  // the top level is always stored
  EXPECT_EQ(SummaryFloats(64, false), 2);
  EXPECT_EQ(SummaryFloats(8, false), 2);  // one level above the samples, one entry: stored
  EXPECT_EQ(SummaryFloats(1, true), 2);
  EXPECT_EQ(SummaryFloats(0, false), 0);

  CAP_SampleTrack t(8000);
  std::vector<float> v(300, 1.5f);
  t.InsertSamples(v.data(), 300, 0);
  const SampleBlock* b = t.Head();
  // Entries start at 1 and -1: minima never above 1. The first stored level (3) has 1 entry.
  EXPECT_EQ(b->Samples()[300], 1.0f);
  EXPECT_EQ(b->Samples()[300 + 1], 1.5f);
  float lo = 5, hi = -5;
  BlockMinMax(b, 10, 10, 0, lo, hi);
  EXPECT_EQ(lo, 5.0f);
  EXPECT_EQ(hi, -5.0f);
}

TEST(Summary, BlockMinMaxEqualsBruteForce) {
  std::mt19937 rng(3);
  CAP_SampleTrack t(96000);
  const auto v = testaudio::Noise(9600, 4, 1.3f);
  t.InsertSamples(v.data(), 4800, 0);
  const SampleBlock* b = t.Head();
  for (int k = 0; k < 3000; ++k) {
    int from = std::uniform_int_distribution<int>(0, b->count)(rng);
    int to = std::uniform_int_distribution<int>(0, b->count)(rng);
    if (from > to) std::swap(from, to);
    float lo = 1.0f, hi = -1.0f;
    BlockMinMax(b, from, to, 0, lo, hi);
    float elo = 1.0f, ehi = -1.0f;
    for (int i = from; i < to; ++i) {
      elo = std::min(elo, v[i]);
      ehi = std::max(ehi, v[i]);
    }
    ASSERT_EQ(lo, elo) << from << ".." << to;
    ASSERT_EQ(hi, ehi) << from << ".." << to;
  }
}

// GetColumns against min/max taken straight from the samples, for random starts and zooms.
TEST(Summary, ColumnsEqualBruteForce) {
  const int rate = 44100;
  CAP_SampleTrack t(rate);
  auto v = testaudio::Sweep(rate * 3, rate, 50, 9000);
  const auto n = testaudio::Noise(rate, 5, 0.3f);
  v.insert(v.begin() + rate, n.begin(), n.end());
  for (std::size_t i = 0; i < v.size(); i += 997) v[i] = 1.25f;  // out-of-range spikes
  for (std::size_t i = 501; i < v.size(); i += 7919) v[i] = std::nanf("");  // damaged samples are passed over
  t.InsertSamples(v.data(), int(v.size()), 0);
  std::mt19937 rng(8);
  const int columns = 300;
  std::vector<float> mins(columns), maxs(columns);
  std::vector<BlockColor> colors(columns);
  for (int trial = 0; trial < 60; ++trial) {
    const double step = std::pow(2.0, std::uniform_real_distribution<double>(-14, -4)(rng));
    const double start = std::uniform_real_distribution<double>(0, 4.2)(rng);
    std::fill(mins.begin(), mins.end(), 7.0f);
    t.GetColumns(start, step, columns, mins.data(), maxs.data(), colors.data());
    long long s = std::llround(rate * start);
    for (int k = 0; k < columns; ++k) {
      if (s >= (long long)v.size() && k > 0) {
        EXPECT_EQ(mins[k], 7.0f) << "column past the end was written";
        break;
      }
      const long long e = std::llround(rate * start + (k + 1) * step * rate);
      float lo = 1.0f, hi = -1.0f;
      for (long long i = s; i < e && i < (long long)v.size(); ++i) {
        lo = std::min(lo, v[i]);
        hi = std::max(hi, v[i]);
      }
      ASSERT_EQ(mins[k], lo) << trial << " column " << k;
      ASSERT_EQ(maxs[k], hi) << trial << " column " << k;
      int off = 0;
      const SampleBlock* b = t.Locate(int(std::min<long long>(s, (long long)v.size())), &off);
      ASSERT_EQ(colors[k], b->color);
      s = e;
      if (e >= (long long)v.size()) break;
    }
  }
}

// A stored block works out the levels below 512 samples; a computed one (the mix) keeps level 2.
// The mix of two equal tracks has their samples (a zero's sign aside: the mix's zeros are
// positive), so the two must give the same columns, bit for bit, at every zoom.
TEST(Summary, StoredAndComputedColumnsAgreeBitForBit) {
  const int rate = 44100;
  CAP_SampleTrack left(rate), right(rate), mix(rate);
  mix.ComputeFrom(&left, &right);
  auto v = testaudio::Noise(rate * 3, 11, 0.6f);
  std::mt19937 rng(5);
  for (std::size_t i = 0; i < v.size(); i += 1 + rng() % 40) v[i] = 0.0f;
  for (std::size_t i = 77; i < v.size(); i += 5003) v[i] = std::nanf("");
  for (CAP_SampleTrack* t : {&left, &right, &mix}) t->InsertSamples(v.data(), int(v.size()), 0);
  mix.Settle();
  const int columns = 257;
  std::vector<float> mins[2], maxs[2];
  std::vector<BlockColor> colors(columns);
  for (int trial = 0; trial < 80; ++trial) {
    const double step = std::pow(2.0, std::uniform_real_distribution<double>(-14, -5)(rng));
    const double start = std::uniform_real_distribution<double>(0, 2.5)(rng);
    for (int k = 0; k < 2; ++k) {
      mins[k].assign(columns, 7.0f);
      maxs[k].assign(columns, 7.0f);
      (k ? mix : left).GetColumns(start, step, columns, mins[k].data(), maxs[k].data(), colors.data());
    }
    ASSERT_EQ(std::memcmp(mins[0].data(), mins[1].data(), sizeof(float) * columns), 0) << trial;
    ASSERT_EQ(std::memcmp(maxs[0].data(), maxs[1].data(), sizeof(float) * columns), 0) << trial;
  }
}

TEST(Summary, ColumnEdges) {
  const int rate = 44100;
  CAP_SampleTrack t(rate);
  std::vector<float> v(rate * 2, 0.25f);
  v[44540] = 0.5f;   // last sample of column 0
  v[44541] = -0.5f;  // first of column 1
  t.InsertSamples(v.data(), int(v.size()), 0);
  float mins[3], maxs[3];
  BlockColor colors[3];
  t.GetColumns(1.0, 0.01, 2, mins, maxs, colors);
  EXPECT_EQ(maxs[0], 0.5f);
  EXPECT_EQ(mins[0], 0.25f);
  EXPECT_EQ(mins[1], -0.5f);
  EXPECT_EQ(maxs[1], 0.25f);
  // At or beyond the end: only the first column, empty, in the last block's colour.
  mins[1] = 9;
  t.GetColumns(5.0, 0.01, 3, mins, maxs, colors);
  EXPECT_EQ(mins[0], 1.0f);
  EXPECT_EQ(maxs[0], -1.0f);
  EXPECT_EQ(colors[0], t.Tail()->color);
  EXPECT_EQ(mins[1], 9.0f);
}

}  // namespace
