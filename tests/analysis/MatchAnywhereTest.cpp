// The search that lines the prototype up with the track at fractions of a block.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "analysis/AlignedRunScores.h"
#include "analysis/SampleTrack.h"
#include "tests/analysis/PlantedSounds.h"
#include "tests/analysis/TestAudio.h"

namespace {

struct Mark {
  float score;
  const SampleBlock* runHead;
  int runLength, matchOffset;
  bool inPrototype;
  bool operator==(const Mark&) const = default;
};

std::vector<Mark> Marks(const CAP_SampleTrack& t) {
  std::vector<Mark> v;
  for (const SampleBlock* b = t.Head(); b; b = b->next)
    v.push_back({b->score, b->runHead, b->runLength, b->matchOffset, b->inPrototype});
  return v;
}

void ExpectSameMarks(const std::vector<Mark>& a, const std::vector<Mark>& b, const std::string& what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (std::size_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(a[i].score, b[i].score) << what << " block " << i;
    ASSERT_EQ(a[i], b[i]) << what << " block " << i;
  }
}

// The vector sums against ComparePacked pair by pair, on random signatures; among them the rare
// pairs whose score is a tiny positive quotient, which the vector code redoes in double.
TEST(MatchAnywhere, AlignedSumsEqualThePackedComparison) {
  const std::vector<PairStep> kOnePair = {{0, 0, 1.0f}};
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> byte(0, 255), near(60, 110);
  const int blocks = 1 << 16;
  std::vector<PackedSignature> track(blocks);
  std::vector<SoundSignature> raw(blocks);
  for (int k = 0; k < blocks; ++k) {
    for (int i = 0; i < 13; ++i) raw[k].bytes[i] = std::uint8_t(k % 2 ? byte(rng) : near(rng));
    if (k % 11 == 0) for (int i = 0; i < 12; ++i) raw[k].bytes[i] = 85;
    raw[k].bytes[15] = k % 97 == 0 ? 0 : 32;
    PackSignature(raw[k], &track[k]);
  }
  const SignaturePlanes planes(track);
  int tiny = 0;
  for (int trial = 0; trial < 24; ++trial) {
    const PackedSignature& proto = track[std::size_t(rng()) % blocks];
    const PrototypeRow row(proto, planes.stride);
    float sums[kAlignedLanes];
    for (int q = 0; q + kAlignedLanes <= blocks; q += kAlignedLanes) {
      AlignedRunSums(planes, &row, 1, 1, kOnePair, q, sums);
      for (int l = 0; l < kAlignedLanes; ++l) {
        const PackedSignature& other = track[q + l];
        ASSERT_EQ(sums[l], 0.0f + ComparePacked(proto, other)) << trial << " " << q + l;
        int agree = 0;
        for (int i = 0; i < kSignatureLags; ++i)
          agree += std::min(proto.above[i], other.above[i]) + std::min(proto.below[i], other.below[i]);
        const int total = proto.spread + other.spread, numerator = 400 * agree - std::abs(proto.impulse - other.impulse) * total;
        tiny += proto.valid && other.valid && numerator > 0 && numerator * 512 < 2 * total;
      }
    }
  }
  EXPECT_GT(tiny, 0) << "no pair reached the double fallback";
  // Pairs (agreement, total, impulse difference) where a single-precision quotient would round
  // the other way: a prototype agreeing on every lag, a track with more on each.
  for (const auto& [a, t, d] : {std::array<int, 3>{875, 2071, 169}, {628, 2223, 113}, {1420, 2943, 193},
                                {1633, 3367, 194}, {1598, 3591, 178}}) {
    SoundSignature ps, ts;
    for (int i = 0; i < kSignatureLags; ++i) {
      const int m = a / 12 + (i < a % 12), e = (t - 2 * a) / 12 + (i < (t - 2 * a) % 12);
      ps.bytes[i] = std::uint8_t(kNeutralLagByte + m);
      ts.bytes[i] = std::uint8_t(kNeutralLagByte + m + e);
    }
    ps.bytes[12] = std::uint8_t(d);
    ps.bytes[15] = ts.bytes[15] = kSignatureMarker;
    PackedSignature pp, tp;
    PackSignature(ps, &pp);
    PackSignature(ts, &tp);
    const std::vector<PackedSignature> one(kAlignedLanes, tp);
    const SignaturePlanes single(one);
    const PrototypeRow row(pp, single.stride);
    float sums[kAlignedLanes];
    AlignedRunSums(single, &row, 1, 1, kOnePair, 0, sums);
    for (float sum : sums) ASSERT_EQ(sum, 0.0f + CompareSignatures(&ps, &ts)) << a << " " << t << " " << d;
  }
}

// The packed search (its aligned lanes and its walk) against the block walk as written, on tracks
// of equal blocks and on tracks made irregular by edits, at every phase count; a prototype with
// no room for a shift before it gives exactly the grid search.
TEST(MatchAnywhere, FastSearchEqualsPlainSearchAtEveryPhase) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 12; ++trial) {
    const int rate = trial % 3 == 0 ? 44100 : trial % 3 == 1 ? 8000 : 22050;
    const auto p = planted::MakePlantedTrack(rate, planted::Background(trial % 3), planted::Copy(trial % 3),
                                             unsigned(trial), 6, 3, 6);
    CAP_SampleTrack t(rate);
    t.InsertSamples(p.samples.data(), int(p.samples.size()), 0);
    if (trial % 2)
      for (int e = 0; e < 5; ++e) {
        const int at = std::uniform_int_distribution<int>(0, t.Length() - 1)(rng);
        if (e % 2) t.DeleteSamples(std::uniform_int_distribution<int>(1, rate / 10)(rng), at);
        else t.InsertSamples(p.samples.data(), std::uniform_int_distribution<int>(1, rate / 5)(rng), at);
      }
    const int start = trial % 4 == 0 ? 0 : std::uniform_int_distribution<int>(0, t.Length() / 2)(rng);
    const int count = std::uniform_int_distribution<int>(1, rate)(rng);
    if (trial % 4 == 2) {
      // An edit of the prototype's own samples (as a fade leaves them): its end blocks are cut
      // short, while every candidate lies on whole blocks.
      std::vector<float> same(count);
      t.ReadSamples(same.data(), count, start);
      t.DeleteSamples(count, start);
      t.InsertSamples(same.data(), count, start);
    }
    for (int phases : {1, 3, kMatchAnywherePhases}) {
      const std::string what = "trial " + std::to_string(trial) + " phases " + std::to_string(phases);
      t.ComputeMatches(count, start, phases);
      const auto fast = Marks(t);
      const int fastCount = t.CountMatches(70);
      t.ComputeMatchesReference(count, start, phases);
      ExpectSameMarks(fast, Marks(t), what);
      EXPECT_EQ(fastCount, t.CountMatches(70)) << what;
      if (start == 0) {
        t.ComputeMatches(count, start, kGridPhases);
        ExpectSameMarks(fast, Marks(t), what + " at the track's start");
      }
    }
  }
}

TEST(MatchAnywhere, FindsPlantedCopiesWhereverTheyStart) {
  const char* backgrounds[] = {"noise", "tone", "music"};
  const char* copies[] = {"exact", "under noise -30 dB", "6 dB quieter"};
  planted::Found gridTotal, anyTotal;
  unsigned seed = 1;
  for (int rate : {8000, 22050, 44100})
    for (int bg = 0; bg < 3; ++bg)
      for (int copy = 0; copy < 3; ++copy, ++seed) {
        const auto p = planted::MakePlantedTrack(rate, planted::Background(bg), planted::Copy(copy), seed);
        const planted::Found grid = planted::Search(p, rate, kGridPhases), any = planted::Search(p, rate, kMatchAnywherePhases);
        std::printf("%6d Hz %-6s %-19s grid %2d/%d false %d   anywhere %2d/%d false %d  start error %d\n", rate,
                    backgrounds[bg], copies[copy], grid.recalled, grid.planted, grid.falseMatches, any.recalled,
                    any.planted, any.falseMatches, any.maxStartError);
        for (planted::Found* total : {&gridTotal, &anyTotal}) {
          const planted::Found& f = total == &gridTotal ? grid : any;
          total->recalled += f.recalled;
          total->planted += f.planted;
          total->falseMatches += f.falseMatches;
        }
        // On quiet noise an exact copy is the same sound: Find Next lands on its start.
        if (bg == 0 && copy == 0) {
          const int block = CAP_SampleTrack::CapacityForRate(rate) / 2;
          EXPECT_LE(any.maxStartError, block / 16) << rate << " " << backgrounds[bg];
        }
      }
  std::printf("recall at 70: grid %d/%d (%.1f %%), false %d; anywhere %d/%d (%.1f %%), false %d\n", gridTotal.recalled,
              gridTotal.planted, 100.0 * gridTotal.recalled / gridTotal.planted, gridTotal.falseMatches,
              anyTotal.recalled, anyTotal.planted, 100.0 * anyTotal.recalled / anyTotal.planted, anyTotal.falseMatches);
  EXPECT_GE(anyTotal.recalled * 100, anyTotal.planted * 95);
  EXPECT_LE(anyTotal.falseMatches, gridTotal.falseMatches);
}

// Find Next from the prototype visits every other run's sound start in track order, around past
// the prototype's own, and Find Previous the same backwards; the selection left at a start (an
// empty one) moves on from it, as the editor uses them.
TEST(MatchAnywhere, FindNextAndPreviousStepThroughTheSoundStarts) {
  const int rate = 22050;
  const auto p = planted::MakePlantedTrack(rate, planted::Background::Music, planted::Copy::UnderNoise, 4);
  CAP_SampleTrack t(rate);
  t.InsertSamples(p.samples.data(), int(p.samples.size()), 0);
  t.ComputeMatches(p.motifLength, p.starts[0], kMatchAnywherePhases);
  std::vector<int> starts;  // of the runs at 70 or more, the prototype's own included
  int s = 0;
  for (const SampleBlock* b = t.Head(); b; s += b->count, b = b->next)
    if (b->runHead == b && b->score >= 70) starts.push_back(s + b->matchOffset);
  ASSERT_EQ(starts.size(), p.starts.size());
  EXPECT_EQ(starts[0], p.starts[0]);  // the prototype's run starts where the selection does
  const std::size_t n = starts.size();
  int position = p.starts[0];
  float score = 0;
  for (std::size_t i = 1; i <= n; ++i) {
    ASSERT_TRUE(t.FindNextMatch(70, &(position = position + 1), &score));
    EXPECT_EQ(position, starts[i % n ? i % n : 1]) << i;
  }
  for (std::size_t i = n - 1; i > 0; --i) {
    ASSERT_TRUE(t.FindPreviousMatch(70, &position, &score));
    EXPECT_EQ(position, starts[i]) << i;  // from starts[1] back over the prototype to the last
  }
}

}  // namespace
