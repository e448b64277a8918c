// Hundreds of random edits on a track, each checked against a plain vector of samples: the
// samples, every block's signature, colour and summaries, the block size rules, and the range
// the viewers were told of.
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

class Recorder : public CAP_AudioViewer {};

void CheckBlocks(CAP_SampleTrack& t, const std::vector<float>& model, const char* step) {
  SCOPED_TRACE(step);
  ASSERT_EQ(t.Length(), int(model.size()));
  EXPECT_DOUBLE_EQ(t.duration, double(model.size()) / t.sampleRate);
  std::vector<float> got(model.size());
  ASSERT_EQ(t.ReadSamples(got.data(), int(got.size()), 0), int(got.size()));
  ASSERT_TRUE(std::equal(got.begin(), got.end(), model.begin(), [](float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
  }));
  int blocks = 0, sum = 0;
  const SampleBlock* prev = nullptr;
  for (const SampleBlock* b = t.Head(); b; prev = b, b = b->next) {
    ++blocks;
    sum += b->count;
    ASSERT_EQ(b->prev, prev);
    ASSERT_GT(b->count, 0);
    ASSERT_LE(b->count, t.Capacity());
    if (b->next) {
      ASSERT_GE(b->count, t.Capacity() / 2) << "short block inside the track";
    }
    SoundSignature fresh;
    std::uint8_t rgb[3];
    ComputeRangeSignature(b->Samples(), 0, b->count, 1, t.sampleRate, &fresh, rgb);
    ASSERT_EQ(b->signature, fresh);
    ASSERT_EQ(b->color, PackColor(rgb));
    // Summaries equal a rebuild from the samples.
    SampleBlock copy;
    copy.count = b->count;
    copy.allocated = b->allocated;
    copy.data.reset(new float[b->allocated]);
    std::memcpy(copy.Samples(), b->Samples(), sizeof(float) * b->count);
    BuildSummaries(&copy);
    ASSERT_EQ(std::memcmp(copy.Samples(), b->Samples(), sizeof(float) * b->allocated), 0);
  }
  EXPECT_EQ(prev, t.Tail());
  EXPECT_EQ(blocks, t.BlockCount());
  EXPECT_EQ(sum, t.Length());
}

// The viewer must have been told of at least the samples that differ, in the new track's
// positions (what a deletion removed from the end is told by the shift).
void CheckViewer(Recorder& v, const std::vector<float>& before, const std::vector<float>& after,
                 int rate, const char* step) {
  SCOPED_TRACE(step);
  const std::size_t n = after.size();
  std::size_t first = n, last = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const bool same = i < before.size() && i < after.size() &&
                      std::memcmp(&before[i], &after[i], sizeof(float)) == 0;
    if (!same) {
      first = std::min(first, i);
      last = i;
    }
  }
  if (first < n) {
    EXPECT_LE(v.changedStart * rate, double(first) + 1e-6);
    EXPECT_GE((v.changedStart + v.changedLength) * rate, double(last + 1) - 1e-6);
  }
  EXPECT_NEAR(v.shift * rate, double(after.size()) - double(before.size()), 1e-6);
  v.ApplyChanges(0, 0);
}

void RunRandomEdits(int rate, unsigned seed, int steps) {
  std::mt19937 rng(seed);
  CAP_SampleTrack t(rate);
  CAP_SampleTrack other(rate);
  Recorder viewer;
  t.AddViewer(&viewer);
  std::vector<float> model;
  const int cap = t.Capacity();
  const auto source = testaudio::Noise(6 * cap, seed + 1);
  other.InsertSamples(source.data(), int(source.size()), 0);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, std::max(lo, hi))(rng); };
  auto span = [&]() {  // lengths around the block sizes matter most
    switch (pick(0, 3)) {
      case 0: return pick(0, 8);
      case 1: return pick(cap / 2 - 2, cap / 2 + 2);
      case 2: return pick(cap - 2, cap + 2);
      default: return pick(0, 4 * cap);
    }
  };
  // Blocks taken out of the track (an undo group's part) with the samples they must still hold.
  std::vector<std::pair<BlockChain, std::vector<float>>> taken;
  auto keep = [&](BlockChain chain, std::vector<float> samples) {
    std::vector<float> held;
    for (const SampleBlock* b = chain.Head(); b; b = b->next) held.insert(held.end(), b->Samples(), b->Samples() + b->count);
    EXPECT_EQ(held, samples);
    EXPECT_EQ(chain.Length(), int(samples.size()));
    taken.emplace_back(std::move(chain), std::move(samples));
  };
  for (int step = 0; step < steps; ++step) {
    const std::vector<float> before = model;
    const int len = int(model.size());
    const int op = len == 0 ? 0 : pick(0, 10);
    const char* name = "";
    if (op == 0) {
      name = "insert";
      const int n = span(), at = pick(0, len);
      const auto v = testaudio::Noise(n, unsigned(step) * 7 + seed, 0.9f);
      t.InsertSamples(v.data(), n, at);
      model.insert(model.begin() + at, v.begin(), v.end());
    } else if (op == 1) {
      name = "delete";
      const int at = pick(0, len), n = span();
      t.DeleteSamples(n, at);
      model.erase(model.begin() + at, model.begin() + std::min(len, at + n));
    } else if (op == 2 || op == 3) {
      const bool mixed = op == 3;
      name = mixed ? "mixed write" : "write";
      const int at = pick(0, len), n = span();
      // Interleaved source: every other float belongs to this track.
      const auto v = testaudio::Noise(2 * n, unsigned(step) * 11 + seed, 1.2f);
      const int newP = mixed ? pick(0, 150) : 100, oldP = mixed ? pick(0, 150) : 0;
      EXPECT_EQ(t.WriteSamples(v.data() + 1, n, at, 2, newP, oldP), n);
      for (int k = 0; k < n; ++k) {
        const float s = v[1 + 2 * k];
        if (at + k < len) {
          if (!mixed) {
            model[at + k] = s;
          } else {
            float x = float(newP) * s / 100.0f + float(oldP) * model[at + k] / 100.0f;
            model[at + k] = x > 1 ? 1.0f : (x <= -1 ? -1.0f : x);
          }
        } else {
          model.push_back(s);
        }
      }
    } else if (op == 4) {
      name = "copy";
      const int at = pick(0, len), from = pick(0, other.Length()), n = span();
      t.CopySamples(other, n, at, from);
      const int got = std::min(n, other.Length() - from);
      model.insert(model.begin() + at, source.begin() + from, source.begin() + from + got);
    } else if (op == 5) {
      name = "walk and recolour";
      const int at = pick(0, len - 1), n = span();
      int m = 0, k = at;
      for (float* p = t.BeginBlockWalk(at, &m, n); p; p = t.NextBlockWalk(&m))
        for (int i = 0; i < m; ++i, ++k) {
          p[i] = -p[i] * 0.5f;
          model[k] = -model[k] * 0.5f;
        }
      t.RecolorRange(k - at, at);
    } else if (op == 7 || op == 8) {
      // Out and, from an earlier step, back in: the chain moves, its samples stay.
      name = op == 7 ? "take out" : "swap in";
      const int at = pick(0, len), n = std::min(span(), len - at);
      BlockChain in;
      std::vector<float> inSamples;
      if (op == 8 && !taken.empty()) {
        const std::size_t k = std::size_t(pick(0, int(taken.size()) - 1));
        in = std::move(taken[k].first);
        inSamples = std::move(taken[k].second);
        taken.erase(taken.begin() + std::ptrdiff_t(k));
      }
      BlockChain out = t.SwapRange(n, at, std::move(in));
      keep(std::move(out), std::vector<float>(model.begin() + at, model.begin() + at + n));
      model.erase(model.begin() + at, model.begin() + at + n);
      model.insert(model.begin() + at, inSamples.begin(), inSamples.end());
    } else if (op == 9) {
      name = "change";
      const int at = pick(0, len - 1), n = std::min(span(), len - at);
      int chainStart = 0;
      BlockChain old = t.ChangeRange(
          n, at, [](const float* in, float* out, int m, long long) { for (int i = 0; i < m; ++i) out[i] = in[i] * 0.25f; },
          &chainStart);
      // Whole blocks from chainStart, holding the range.
      const int extent = old.Length();
      ASSERT_TRUE(chainStart <= at && chainStart + extent >= at + n && chainStart + extent <= len) << step;
      keep(std::move(old), std::vector<float>(model.begin() + chainStart, model.begin() + chainStart + extent));
      for (int k = at; k < at + n; ++k) model[k] *= 0.25f;
    } else if (op == 10) {
      name = "reverse";
      const int at = pick(0, len), n = std::min(span(), len - at);
      keep(t.ReverseRange(n, at), std::vector<float>(model.begin() + at, model.begin() + at + n));
      std::reverse(model.begin() + at, model.begin() + at + n);
    } else {
      name = "self copy";
      const int at = pick(0, len), from = pick(0, len), n = std::min(span(), len - from);
      t.CopySamples(t, n, at, from);
      std::vector<float> piece(model.begin() + from, model.begin() + from + n);
      model.insert(model.begin() + at, piece.begin(), piece.end());
    }
    CheckBlocks(t, model, name);
    CheckViewer(viewer, before, model, rate, name);
    if (::testing::Test::HasFatalFailure()) {
      ADD_FAILURE() << "seed " << seed << " step " << step << " " << name;
      return;
    }
  }
}

TEST(TrackModel, RandomEditsMatchPlainVector8000) { RunRandomEdits(8000, 1, 400); }
TEST(TrackModel, RandomEditsMatchPlainVector11025) { RunRandomEdits(11025, 2, 300); }
TEST(TrackModel, RandomEditsMatchPlainVector44100) { RunRandomEdits(44100, 3, 150); }

TEST(TrackModel, SampleRateChangesKeepSamples) {
  CAP_SampleTrack t(44100);
  Recorder viewer;
  t.AddViewer(&viewer);
  const auto v = testaudio::Noise(30000, 9);
  t.InsertSamples(v.data(), 30000, 0);
  viewer.ApplyChanges(0, 0);
  int oldRate = 44100;
  for (int rate : {22050, 96000, 8000, 44100}) {
    t.SetSampleRate(rate);
    CheckBlocks(t, v, "rate change");
    // The old duration went, the new one came.
    EXPECT_NEAR(viewer.shift, 30000.0 / rate - 30000.0 / oldRate, 1e-9);
    viewer.ApplyChanges(0, 0);
    oldRate = rate;
  }
}

}  // namespace
