#include "analysis/BlockSummary.h"

#include <algorithm>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace {
constexpr int kMaxLevels = 12;  // 8^11 samples would be far beyond any block

struct Levels {
  const float* mins[kMaxLevels];
  const float* maxs[kMaxLevels];
  int entries[kMaxLevels];
  int count = 0;  // levels including level 0
};

Levels LevelsOf(const SampleBlock* block) {
  Levels l;
  const float* d = block->Samples();
  int n = block->count;
  l.mins[0] = l.maxs[0] = d;
  l.entries[0] = n;
  l.count = 1;
  const float* out = d + n;
  while (n > 0 && l.count < kMaxLevels) {
    const int m = (n + 7) / 8;
    l.mins[l.count] = out;
    l.maxs[l.count] = out + m;
    l.entries[l.count] = m;
    ++l.count;
    out += 2 * m;
    if (n <= 8) break;
    n = m;
  }
  return l;
}
}  // namespace

int SummaryFloats(int n) {
  int total = 0;
  while (n > 0) {
    const int m = (n + 7) / 8;
    total += 2 * m;
    if (n <= 8) break;
    n = m;
  }
  return total;
}

namespace {
// The first level, from the samples: the widest pass, eight samples a step in vector registers.
// The running minimum and maximum start at 1 and -1 and take a sample only when it is smaller
// (larger), so a NaN never enters, as in the plain loop.
void SummariseEights(const float* samples, int groups, float* mins, float* maxs) {
#if defined(__SSE2__)
  const __m128 one = _mm_set1_ps(1.0f), minusOne = _mm_set1_ps(-1.0f);
  for (int j = 0; j < groups; ++j) {
    const __m128 a = _mm_loadu_ps(samples + 8 * j), b = _mm_loadu_ps(samples + 8 * j + 4);
    __m128 lo = _mm_min_ps(b, _mm_min_ps(a, one));
    __m128 hi = _mm_max_ps(b, _mm_max_ps(a, minusOne));
    lo = _mm_min_ps(lo, _mm_movehl_ps(lo, lo));
    hi = _mm_max_ps(hi, _mm_movehl_ps(hi, hi));
    lo = _mm_min_ss(lo, _mm_shuffle_ps(lo, lo, 1));
    hi = _mm_max_ss(hi, _mm_shuffle_ps(hi, hi, 1));
    mins[j] = _mm_cvtss_f32(lo);
    maxs[j] = _mm_cvtss_f32(hi);
  }
#else
  for (int j = 0; j < groups; ++j) {
    const float* a = samples + 8 * j;
    float lo = 1.0f, hi = -1.0f;
    for (int i = 0; i < 8; ++i) {
      lo = a[i] < lo ? a[i] : lo;
      hi = a[i] > hi ? a[i] : hi;
    }
    mins[j] = lo;
    maxs[j] = hi;
  }
#endif
}
}  // namespace

void BuildSummaries(SampleBlock* block) {
  float* d = block->Samples();
  int n = block->count;
  const float* lowerMin = d;
  const float* lowerMax = d;
  float* out = d + n;
  while (n > 0) {
    const int m = (n + 7) / 8;
    float* mn = out;
    float* mx = out + m;
    const int full = n / 8;
    if (lowerMin == lowerMax) {
      SummariseEights(lowerMin, full, mn, mx);
    } else for (int j = 0; j < full; ++j) {
      float lo = 1.0f, hi = -1.0f;
      const float* a = lowerMin + 8 * j;
      const float* b = lowerMax + 8 * j;
      for (int i = 0; i < 8; ++i) {
        lo = std::min(lo, a[i]);
        hi = std::max(hi, b[i]);
      }
      mn[j] = lo;
      mx[j] = hi;
    }
    if (full < m) {
      float lo = 1.0f, hi = -1.0f;
      for (int i = 8 * full; i < n; ++i) {
        lo = std::min(lo, lowerMin[i]);
        hi = std::max(hi, lowerMax[i]);
      }
      mn[full] = lo;
      mx[full] = hi;
    }
    out += 2 * m;
    if (n <= 8) break;
    lowerMin = mn;
    lowerMax = mx;
    n = m;
  }
}

void BlockMinMax(const SampleBlock* block, int from, int to, int level, float& min, float& max) {
  if (from >= to) return;
  const Levels l = LevelsOf(block);
  while (from < to && level < l.count) {
    const int b = std::min((from + 7) & ~7, to);
    const int c = std::max(to & ~7, b);
    const float* mins = l.mins[level];
    const float* maxs = l.maxs[level];
    for (int i = from; i < b; ++i) {
      min = std::min(min, mins[i]);
      max = std::max(max, maxs[i]);
    }
    for (int i = c; i < to; ++i) {
      min = std::min(min, mins[i]);
      max = std::max(max, maxs[i]);
    }
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
