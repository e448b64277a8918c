#include "analysis/BlockSummary.h"

#include <algorithm>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace {
constexpr int kMaxLevels = 12;  // 8^11 samples would be far beyond any block

// Entries of each level for a block of n samples; level 0 is the samples.
struct Shape {
  int entries[kMaxLevels];
  int count = 0;  // levels including level 0
};

Shape ShapeOf(int n) {
  Shape s;
  s.entries[0] = n;
  s.count = 1;
  while (n > 0 && s.count < kMaxLevels) {
    const int m = (n + 7) / 8;
    s.entries[s.count++] = m;
    if (n <= 8) break;
    n = m;
  }
  return s;
}

// The first level stored. A block that stores its samples keeps levels 3 (one entry per 512
// samples) and up: the levels below cost a few hundred samples' reading at a column's edge, and
// would take 4 % as much room as the samples. A computed block (the mix) keeps level 2 and up,
// since its samples are worked out from two other tracks. The top level (the block's min and max)
// is always stored.
int FirstStored(const Shape& s, bool computed) { return std::max(1, std::min(computed ? 2 : 3, s.count - 1)); }

struct Levels {
  const float* mins[kMaxLevels];
  const float* maxs[kMaxLevels];
  int entries[kMaxLevels];
  int count = 0;
  int firstStored = 1;
};

Levels LevelsOf(const SampleBlock* block) {
  const Shape s = ShapeOf(block->count);
  Levels l;
  l.count = s.count;
  l.firstStored = FirstStored(s, block->computed);
  const float* out = block->Summaries();
  for (int k = 0; k < s.count; ++k) {
    l.entries[k] = s.entries[k];
    if (k < l.firstStored) continue;
    l.mins[k] = out;
    l.maxs[k] = out + s.entries[k];
    out += 2 * s.entries[k];
  }
  return l;
}

// One level-1 entry: the min and max of up to 8 samples. The running minimum and maximum start
// at 1 and -1 and take a sample only when it is smaller (larger), so a NaN never enters. Whole
// groups go through vector registers; the order of the comparisons is fixed, so an entry worked
// out when asked equals the one the level above was built from, down to the sign of a zero.
inline void EightMinMax(const float* samples, int n, float& lo, float& hi) {
#if defined(__SSE2__)
  if (n == 8) {
    const __m128 a = _mm_loadu_ps(samples), b = _mm_loadu_ps(samples + 4);
    __m128 l = _mm_min_ps(b, _mm_min_ps(a, _mm_set1_ps(1.0f)));
    __m128 h = _mm_max_ps(b, _mm_max_ps(a, _mm_set1_ps(-1.0f)));
    l = _mm_min_ps(l, _mm_movehl_ps(l, l));
    h = _mm_max_ps(h, _mm_movehl_ps(h, h));
    l = _mm_min_ss(l, _mm_shuffle_ps(l, l, 1));
    h = _mm_max_ss(h, _mm_shuffle_ps(h, h, 1));
    lo = _mm_cvtss_f32(l);
    hi = _mm_cvtss_f32(h);
    return;
  }
#endif
  lo = 1.0f;
  hi = -1.0f;
  for (int i = 0; i < n; ++i) {
    lo = samples[i] < lo ? samples[i] : lo;
    hi = samples[i] > hi ? samples[i] : hi;
  }
}

// Level-1 entry j of a block of n samples.
inline void LevelOneEntry(const float* samples, int n, int j, float& lo, float& hi) {
  EightMinMax(samples + 8 * j, std::min(8, n - 8 * j), lo, hi);
}

// Entry j of a level that is not stored (1 or 2), worked out from the samples: each entry of a
// level above 1 folds the eight below it in order, exactly as the stored levels are built.
// entries: of every level, the samples first.
void UnstoredEntry(const float* samples, const int* entries, int level, int j, float& lo, float& hi) {
  if (level <= 1) {
    LevelOneEntry(samples, entries[0], j, lo, hi);
    return;
  }
  lo = 1.0f;
  hi = -1.0f;
  for (int i = 8 * j; i < std::min(8 * j + 8, entries[level - 1]); ++i) {
    float l, h;
    UnstoredEntry(samples, entries, level - 1, i, l, h);
    lo = std::min(lo, l);
    hi = std::max(hi, h);
  }
}
}  // namespace

int SummaryFloats(int n, bool computed) {
  const Shape s = ShapeOf(n);
  int total = 0;
  for (int k = FirstStored(s, computed); k < s.count; ++k) total += 2 * s.entries[k];
  return total;
}

namespace {
// Level k from level k - 1 (below entries), each entry folding its eight in order.
void FoldLevel(const float* lowerMin, const float* lowerMax, int below, float* mn, float* mx, int m) {
  for (int j = 0; j < m; ++j) {
    float lo = 1.0f, hi = -1.0f;
    for (int i = 8 * j; i < std::min(8 * j + 8, below); ++i) {
      lo = std::min(lo, lowerMin[i]);
      hi = std::max(hi, lowerMax[i]);
    }
    mn[j] = lo;
    mx[j] = hi;
  }
}
}  // namespace

void BuildSummaries(SampleBlock* block, const float* d) {
  const Shape s = ShapeOf(block->count);
  if (s.count < 2) return;
  const int first = FirstStored(s, block->computed);
  // The levels below the first stored one are built level by level in a scratch pyramid, as if
  // they were stored (the same folds UnstoredEntry makes, without its recursion); the first
  // stored level and those above go to the block.
  thread_local std::vector<float> scratch;
  std::size_t below = 0;
  for (int k = 1; k < first; ++k) below += 2 * std::size_t(s.entries[k]);
  if (scratch.size() < below) scratch.resize(below);
  float* out = block->Summaries();
  float* mn = first == 1 ? out : scratch.data();
  float* mx = mn + s.entries[1];
  for (int j = 0; j < s.entries[1]; ++j) LevelOneEntry(d, s.entries[0], j, mn[j], mx[j]);
  float* next = first == 1 ? out + 2 * s.entries[1] : mx + s.entries[1];
  for (int k = 2; k < s.count; ++k) {
    if (k == first) next = out;
    const int m = s.entries[k];
    FoldLevel(mn, mx, s.entries[k - 1], next, next + m, m);
    mn = next;
    mx = next + m;
    next += 2 * m;
  }
}

void BlockMinMax(const SampleBlock* block, const float* samples, int from, int to, int level, float& min,
                 float& max) {
  if (from >= to) return;
  const Levels l = LevelsOf(block);
  while (from < to && level < l.count) {
    const int b = std::min((from + 7) & ~7, to);
    const int c = std::max(to & ~7, b);
    auto take = [&](int i) {
      float lo, hi;
      if (level == 0) {
        lo = hi = samples[i];
      } else if (level < l.firstStored) {
        UnstoredEntry(samples, l.entries, level, i, lo, hi);
      } else {
        lo = l.mins[level][i];
        hi = l.maxs[level][i];
      }
      min = std::min(min, lo);
      max = std::max(max, hi);
    };
    for (int i = from; i < b; ++i) take(i);
    for (int i = c; i < to; ++i) take(i);
    from = b / 8;
    to = c / 8;
    ++level;
  }
}

void BlockTotalMinMax(const SampleBlock* block, float& min, float& max) {
  if (block->count <= 0) return;
  const Levels l = LevelsOf(block);
  min = std::min(min, l.mins[l.count - 1][0]);
  max = std::max(max, l.maxs[l.count - 1][0]);
}
