#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "analysis/SampleSlabs.h"
#include "analysis/SampleTrack.h"
#include "tests/analysis/TestAudio.h"

namespace {

std::vector<int> Counts(const CAP_SampleTrack& t) {
  std::vector<int> c;
  for (const SampleBlock* b = t.Head(); b; b = b->next) c.push_back(b->count);
  return c;
}

std::vector<float> All(CAP_SampleTrack& t) {
  std::vector<float> v(std::size_t(t.Length()));
  EXPECT_EQ(t.ReadSamples(v.data(), t.Length(), 0), t.Length());
  return v;
}

TEST(SampleTrack, CapacityFollowsRate) {
  const int rates[] = {8000, 11025, 22050, 44100, 48000, 96000};
  const int caps[] = {800, 1102, 2204, 4410, 4800, 9600};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(CAP_SampleTrack(rates[i]).Capacity(), caps[i]);
}

TEST(SampleTrack, InsertSplitsIntoHalfBlocks) {
  CAP_SampleTrack t(44100);
  const auto v = testaudio::Noise(10000, 1);
  t.InsertSamples(v.data(), 10000, 0);
  EXPECT_EQ(Counts(t), (std::vector<int>{2205, 2205, 2205, 2205, 1180}));
  EXPECT_EQ(All(t), v);
  EXPECT_DOUBLE_EQ(t.duration, 10000 / 44100.0);
}

TEST(SampleTrack, DeleteInsideOneBlockMerges) {
  CAP_SampleTrack t(44100);
  const auto v = testaudio::Noise(4410, 2);
  t.InsertSamples(v.data(), 2205, 0);
  t.InsertSamples(v.data() + 2205, 2205, 2205);
  EXPECT_EQ(Counts(t), (std::vector<int>{2205, 2205}));
  // Split at 100 and 110, the 10 samples go, and what is left merges into one block.
  t.DeleteSamples(10, 100);
  EXPECT_EQ(t.Length(), 4400);
  EXPECT_EQ(Counts(t), (std::vector<int>{4400}));
  std::vector<float> expect(v.begin(), v.begin() + 100);
  expect.insert(expect.end(), v.begin() + 110, v.end());
  EXPECT_EQ(All(t), expect);
}

TEST(SampleTrack, WritesPlainMixedAndPastTheEnd) {
  CAP_SampleTrack t(8000);
  std::vector<float> v(100, 0.8f);
  t.InsertSamples(v.data(), 100, 0);
  const float big = 1.5f;
  t.WriteSamples(&big, 1, 0, 1, 100, 0);
  float got;
  t.ReadSamples(&got, 1, 0);
  EXPECT_EQ(got, 1.5f);  // plain writes are not clamped
  const float x = 0.8f;
  t.WriteSamples(&x, 1, 1, 1, 100, 100);
  t.ReadSamples(&got, 1, 1);
  EXPECT_EQ(got, 1.0f);
  const float neg = -0.6f;
  t.WriteSamples(&neg, 1, 2, 1, 100, 0);
  t.WriteSamples(&neg, 1, 2, 1, 100, 100);
  t.ReadSamples(&got, 1, 2);
  EXPECT_EQ(got, -1.0f);

  const auto tail = testaudio::Noise(1000, 3);
  EXPECT_EQ(t.WriteSamples(tail.data(), 1000, 50), 1000);  // 50 in place, 950 appended
  EXPECT_EQ(t.Length(), 1050);
  std::vector<float> back(1000);
  EXPECT_EQ(t.ReadSamples(back.data(), 1000, 50), 1000);
  EXPECT_EQ(back, tail);
}

TEST(SampleTrack, ReadsAtAndPastTheEnd) {
  CAP_SampleTrack t(8000);
  const auto v = testaudio::Noise(500, 4);
  t.InsertSamples(v.data(), 500, 0);
  float buf[100];
  EXPECT_EQ(t.ReadSamples(buf, 10, 500), 0);
  EXPECT_EQ(t.ReadSamples(buf, 100, 450), 50);
  // Interleaved destination.
  std::vector<float> stereo(20, -9.0f);
  EXPECT_EQ(t.ReadSamples(stereo.data() + 1, 10, 0, 2), 10);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(stereo[2 * i + 1], v[i]);
    EXPECT_EQ(stereo[2 * i], -9.0f);
  }
  CAP_SampleTrack empty(8000);
  EXPECT_EQ(empty.ReadSamples(buf, 10, 0), 0);
  EXPECT_EQ(empty.Locate(0, nullptr), nullptr);
}

TEST(SampleTrack, InsertAtEndAppendsAfterFullBlock) {
  CAP_SampleTrack a(8000);
  const auto v = testaudio::Noise(800, 5);
  // 400, then 1 + 400 merge to 401, then 399 + 401 merge to one full block.
  a.InsertSamples(v.data() + 400, 400, 0);
  a.InsertSamples(v.data() + 399, 1, 0);
  a.InsertSamples(v.data(), 399, 0);
  ASSERT_EQ(Counts(a), (std::vector<int>{800}));
  EXPECT_EQ(All(a), v);
  a.InsertSamples(v.data(), 10, 800);
  EXPECT_EQ(Counts(a), (std::vector<int>{800, 10}));
}

TEST(SampleTrack, SetSampleRateReinterprets) {
  CAP_SampleTrack t(44100);
  const auto v = testaudio::Noise(4410, 6);
  t.InsertSamples(v.data(), 4410, 0);
  t.SetSampleRate(22050);
  EXPECT_EQ(t.Capacity(), 2204);
  EXPECT_EQ(All(t), v);
  EXPECT_NEAR(t.duration, 0.2, 1e-12);
  for (const SampleBlock* b = t.Head(); b; b = b->next) EXPECT_LE(b->count, 2204);
}

// Slots come from the heap first, then from regions; every slot keeps what is written into it,
// and a region whose slots all came back goes back to the system, the newest excepted.
TEST(SampleTrack, StorageSlotsStayApartAndEmptyRegionsGoBack) {
  SampleSlabs slabs(2287);  // 2,205 samples and their summaries
  std::vector<float*> slots;
  for (int i = 0; i < 12000; ++i) {
    slots.push_back(slabs.Take());
    std::fill(slots.back(), slots.back() + 2287, float(i));
  }
  EXPECT_GE(slabs.RegionCount(), 3u);
  for (int i = 0; i < 12000; i += 97) ASSERT_EQ(slots[std::size_t(i)][2286], float(i)) << i;
  // Giving back every other slot empties no region; the freed slots are taken again first.
  for (std::size_t i = 0; i < slots.size(); i += 2) slabs.Give(slots[i]);
  const std::size_t regions = slabs.RegionCount();
  for (std::size_t i = 0; i < slots.size(); i += 2) slots[i] = slabs.Take();
  EXPECT_EQ(slabs.RegionCount(), regions);
  std::vector<float*> sorted = slots;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
  for (float* slot : slots) slabs.Give(slot);
  EXPECT_EQ(slabs.RegionCount(), 1u);
  float* again = slabs.Take();
  again[0] = 1.0f;
  slabs.Give(again);

  // A track that changes its rate moves all its samples into slots of the new size.
  CAP_SampleTrack t(44100);
  const auto v = testaudio::Noise(44100 * 40, 9);
  t.InsertSamples(v.data(), int(v.size()), 0);
  t.SetSampleRate(48000);
  t.SetSampleRate(44100);
  EXPECT_EQ(All(t), v);
}

TEST(SampleTrack, CopyKeepsWholeBlocksAndSelfCopyWorks) {
  CAP_SampleTrack src(8000), dst(8000);
  const auto v = testaudio::Sweep(4000, 8000, 200, 3000);
  src.InsertSamples(v.data(), 4000, 0);
  dst.CopySamples(src, 4000, 0, 0);
  EXPECT_EQ(All(dst), v);
  for (const SampleBlock *a = src.Head(), *b = dst.Head(); a && b; a = a->next, b = b->next) {
    EXPECT_EQ(a->signature, b->signature);
    EXPECT_EQ(a->color, b->color);
  }
  // Copy a track's own middle into itself.
  dst.CopySamples(dst, 1000, 500, 1200);
  std::vector<float> expect(v.begin(), v.begin() + 500);
  expect.insert(expect.end(), v.begin() + 1200, v.begin() + 2200);
  expect.insert(expect.end(), v.begin() + 500, v.end());
  EXPECT_EQ(All(dst), expect);
}

TEST(SampleTrack, BlockWalkAndRegionSignature) {
  CAP_SampleTrack t(8000);
  const auto v = testaudio::Noise(3000, 7);
  t.InsertSamples(v.data(), 3000, 0);
  int n = 0, total = 0;
  for (float* p = t.BeginBlockWalk(250, &n, 1000); p; p = t.NextBlockWalk(&n)) {
    for (int i = 0; i < n; ++i) p[i] = 0.0f;
    total += n;
  }
  EXPECT_EQ(total, 1000);
  t.RecolorRange(1000, 250);
  std::vector<float> back = All(t);
  for (int i = 0; i < 3000; ++i) EXPECT_EQ(back[i], (i >= 250 && i < 1250) ? 0.0f : v[i]) << i;

  SoundSignature region, direct;
  BlockColor color = 0;
  std::uint8_t rgb[3];
  t.ComputeRegionSignature(2000, 900, &region, &color);
  ComputeRangeSignature(back.data(), 900, 2900, 1, 8000, &direct, rgb);
  EXPECT_EQ(region, direct);
  EXPECT_EQ(color, PackColor(rgb));

  // Progress reaches 100 and the answer is the last one given.
  struct Log { int calls = 0, last = -1; };
  static Log log;
  log = {};
  auto progress = [](std::intptr_t, const char* text, int percent) {
    EXPECT_STREQ(text, "Processing audio data:");
    ++log.calls;
    log.last = percent;
    return percent < 50;
  };
  EXPECT_FALSE(t.ComputeRegionSignature(2000, 0, &region, nullptr, progress, 0));
  EXPECT_EQ(log.last, 100);
  // A region partly beyond the end stops there.
  t.ComputeRegionSignature(100000, 2000, &region);
  ComputeRangeSignature(back.data(), 2000, 3000, 1, 8000, &direct, rgb);
  EXPECT_EQ(region, direct);
}

}  // namespace
