#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "analysis/SampleTrack.h"
#include "tests/analysis/TestAudio.h"

namespace {

constexpr int kRate = 8000;
constexpr int kBlock = 400;  // new blocks hold 0.05 s

std::vector<SampleBlock*> Blocks(const CAP_SampleTrack& t) {
  std::vector<SampleBlock*> v;
  for (SampleBlock* b = t.Head(); b; b = b->next) v.push_back(b);
  return v;
}

// motif, noise, motif, tone, motif, quiet noise: 4 blocks each.
struct ThreeMotifs : ::testing::Test {
  void SetUp() override {
    const auto motif = testaudio::Sweep(4 * kBlock, kRate, 300, 3000);
    const std::vector<std::vector<float>> parts = {
        motif, testaudio::Noise(4 * kBlock, 1), motif, testaudio::Tone(4 * kBlock, kRate, 180),
        motif, testaudio::Noise(4 * kBlock, 2, 0.05f)};
    std::vector<float> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    track.InsertSamples(all.data(), int(all.size()), 0);
    track.ComputeMatches(4 * kBlock, 0);
    blocks = Blocks(track);
  }
  CAP_SampleTrack track{kRate};
  std::vector<SampleBlock*> blocks;
};

TEST_F(ThreeMotifs, IdenticalSoundsScore100AndClaimTheirBlocks) {
  ASSERT_EQ(blocks.size(), 24u);
  for (int head : {0, 8, 16}) {
    EXPECT_EQ(blocks[head]->score, 100.0f);
    for (int k = head; k < head + 4; ++k) EXPECT_EQ(blocks[k]->runHead, blocks[head]) << k;
  }
  for (int k = 0; k < 24; ++k) EXPECT_EQ(blocks[k]->inPrototype, k < 4);
  // Block 1 starts a run that would overlap the prototype's own: it is not claimed for itself.
  EXPECT_EQ(blocks[1]->runHead, blocks[0]);
  EXPECT_EQ(track.CountMatches(100), 2);  // the prototype's own run is not a match
  EXPECT_GE(track.CountMatches(0), 2);
}

TEST_F(ThreeMotifs, FindNextAndPreviousWrapAround) {
  int pos = 0;
  float score = 0;
  ASSERT_TRUE(track.FindNextMatch(100, &pos, &score));
  EXPECT_EQ(pos, 8 * kBlock);
  EXPECT_EQ(score, 100.0f);
  pos = 8 * kBlock + 100;  // inside a run: the next one
  ASSERT_TRUE(track.FindNextMatch(100, &pos, &score));
  EXPECT_EQ(pos, 16 * kBlock);
  // Past the last: wraps over the prototype's own run (block 0) to the first other run.
  ASSERT_TRUE(track.FindNextMatch(100, &pos, &score));
  EXPECT_EQ(pos, 8 * kBlock);
  pos = 16 * kBlock;
  pos = 5 * kBlock;  // between runs
  ASSERT_TRUE(track.FindNextMatch(100, &pos, &score));
  EXPECT_EQ(pos, 8 * kBlock);

  pos = 16 * kBlock;  // at the exact start: the previous match
  ASSERT_TRUE(track.FindPreviousMatch(100, &pos, &score));
  EXPECT_EQ(pos, 8 * kBlock);
  pos = 8 * kBlock;  // before it only the prototype: wraps to the last run
  ASSERT_TRUE(track.FindPreviousMatch(100, &pos, &score));
  EXPECT_EQ(pos, 16 * kBlock);
  pos = 8 * kBlock + 100;  // inside the first block of a match: its start
  ASSERT_TRUE(track.FindPreviousMatch(100, &pos, &score));
  EXPECT_EQ(pos, 8 * kBlock);
  pos = 0;  // at sample 0: the last run head in the track
  ASSERT_TRUE(track.FindPreviousMatch(100, &pos, &score));
  EXPECT_EQ(pos, 16 * kBlock);

  // Nothing reaches 101: false, and the position stays.
  pos = 1234;
  EXPECT_FALSE(track.FindNextMatch(101, &pos, &score));
  EXPECT_FALSE(track.FindPreviousMatch(101, &pos, &score));
  EXPECT_EQ(pos, 1234);
}

TEST_F(ThreeMotifs, EditsClearTheMarks) {
  // An edit inside a run removes the run from that block on.
  const float x = 0.1f;
  track.WriteSamples(&x, 1, 9 * kBlock + 5);
  EXPECT_EQ(blocks[8]->runHead, blocks[8]);
  for (int k = 9; k < 12; ++k) EXPECT_EQ(blocks[k]->runHead, nullptr);
  // An edit inside the prototype clears every mark of the track.
  track.WriteSamples(&x, 1, 2 * kBlock);
  for (const SampleBlock* b = track.Head(); b; b = b->next) {
    EXPECT_EQ(b->runHead, nullptr);
    EXPECT_FALSE(b->inPrototype);
  }
  EXPECT_EQ(track.CountMatches(0), 0);
}

TEST(Matching, WholeTrackPrototypeAndEmptyPrototype) {
  CAP_SampleTrack t(kRate);
  const auto v = testaudio::Sweep(10 * kBlock, kRate, 100, 3500);
  t.InsertSamples(v.data(), int(v.size()), 0);
  t.ComputeMatches(t.Length(), 0);
  const auto blocks = Blocks(t);
  EXPECT_EQ(blocks[0]->score, 100.0f);
  for (const SampleBlock* b : blocks) EXPECT_EQ(b->runHead, blocks[0]);
  for (int th : {0, 50, 100}) EXPECT_EQ(t.CountMatches(th), 0);

  t.ComputeMatches(0, 100);
  for (const SampleBlock* b : blocks) {
    EXPECT_EQ(b->runHead, nullptr);
    EXPECT_EQ(b->score, 0.0f);
  }
  int pos = 700;
  float score;
  EXPECT_FALSE(t.FindNextMatch(1, &pos, &score));
  EXPECT_FALSE(t.FindPreviousMatch(1, &pos, &score));
  EXPECT_EQ(pos, 700);
}

// Nothing but the selection reaches the threshold: the count says 0 and neither direction lands
// on the selection itself.
TEST(Matching, TheSelectionAloneIsNotAMatch) {
  CAP_SampleTrack t(kRate);
  const auto motif = testaudio::Sweep(2 * kBlock, kRate, 500, 2500);
  auto v = testaudio::Noise(12 * kBlock, 3);
  std::copy(motif.begin(), motif.end(), v.begin() + 6 * kBlock);
  t.InsertSamples(v.data(), int(v.size()), 0);
  t.ComputeMatches(2 * kBlock, 6 * kBlock);  // the prototype is the only sound of its kind
  EXPECT_EQ(t.CountMatches(100), 0);
  for (int from : {0, 6 * kBlock, 6 * kBlock + 450, 11 * kBlock}) {
    int pos = from;
    float score;
    EXPECT_FALSE(t.FindNextMatch(100, &pos, &score)) << from;
    EXPECT_FALSE(t.FindPreviousMatch(100, &pos, &score)) << from;
    EXPECT_EQ(pos, from);
  }
}

// The fast search gives the same scores, runs, claims and sound starts as the search written
// block by block, on the grid and at every phase; the prototype is a random range, the whole
// track, or the whole track from inside its first block (answered without the search). A track
// too slow for signatures (every comparison -1) and a one-block track are among them.
TEST(Matching, FastSearchEqualsPlainSearch) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 14; ++trial) {
    const int rate = trial == 12 ? 4000 : trial % 3 == 0 ? 44100 : kRate;
    CAP_SampleTrack t(rate);
    const int blockLen = CAP_SampleTrack::CapacityForRate(rate) / 2;
    const auto motif = testaudio::Sweep(3 * blockLen + 17, rate, 400, 3000);
    std::vector<float> v;
    if (trial == 12) v = testaudio::Noise(9 * blockLen, 4, 0.3f);
    if (trial == 13) v = testaudio::Noise(blockLen, 5, 0.3f);
    for (int k = 0; k < 12 && trial < 12; ++k) {
      const auto part = k % 3 ? testaudio::Noise(blockLen * (1 + k % 4), unsigned(trial * 100 + k), 0.2f + 0.05f * k)
                              : motif;
      v.insert(v.end(), part.begin(), part.end());
    }
    t.InsertSamples(v.data(), int(v.size()), 0);
    // Irregular block sizes from a few edits (none in every other trial: one block length).
    for (int e = 0; e < 6 && trial % 2 == 0 && trial < 12; ++e) {
      const int at = std::uniform_int_distribution<int>(0, t.Length() - 1)(rng);
      if (e % 2) {
        t.DeleteSamples(std::uniform_int_distribution<int>(1, blockLen)(rng), at);
        continue;
      }
      t.InsertSamples(motif.data(), std::uniform_int_distribution<int>(1, int(motif.size()))(rng), at);
    }
    const int start = std::uniform_int_distribution<int>(0, t.Length() - 1)(rng);
    const int count = std::uniform_int_distribution<int>(1, std::min(t.Length() - start, 6 * blockLen))(rng);
    const int inFirst = std::uniform_int_distribution<int>(1, t.Head()->count - 1)(rng);
    const struct { int count, start; } prototypes[] = {{count, start}, {t.Length(), 0}, {t.Length() - inFirst, inFirst}};
    for (const auto& proto : prototypes)
      for (int phases : {kGridPhases, kMatchAnywherePhases}) {
        struct Mark {
          float score;
          SampleBlock* runHead;
          int runLength, matchOffset;
          bool inPrototype;
        };
        auto marks = [&] {
          std::vector<Mark> m;
          for (SampleBlock* b = t.Head(); b; b = b->next)
            m.push_back({b->score, b->runHead, b->runLength, b->matchOffset, b->inPrototype});
          return m;
        };
        t.ComputeMatches(proto.count, proto.start, phases);
        const std::vector<Mark> fast = marks();
        const int fastCount = t.CountMatches(60);
        t.ComputeMatchesReference(proto.count, proto.start, phases);
        const std::vector<Mark> plain = marks();
        const std::string where = "trial " + std::to_string(trial) + " prototype " + std::to_string(proto.start) +
                                  "+" + std::to_string(proto.count) + " phases " + std::to_string(phases);
        ASSERT_EQ(fast.size(), plain.size()) << where;
        for (std::size_t i = 0; i < fast.size(); ++i) {
          ASSERT_EQ(fast[i].score, plain[i].score) << where << " block " << i;
          ASSERT_EQ(fast[i].runHead, plain[i].runHead) << where << " block " << i;
          ASSERT_EQ(fast[i].runLength, plain[i].runLength) << where << " block " << i;
          ASSERT_EQ(fast[i].matchOffset, plain[i].matchOffset) << where << " block " << i;
          ASSERT_EQ(fast[i].inPrototype, plain[i].inPrototype) << where << " block " << i;
        }
        EXPECT_EQ(fastCount, t.CountMatches(60)) << where;
        // Runs never share a block and are consecutive.
        for (SampleBlock* b = t.Head(); b; b = b->next) {
          if (b->runHead && b->runHead != b) {
            EXPECT_EQ(b->prev->runHead, b->runHead) << where;
          }
        }
      }
  }
}

}  // namespace
