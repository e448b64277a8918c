#include "analysis/SignatureKernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
// Lag sums over a block's analysed samples split into their positive and negative parts: two
// samples of the same sign add the smaller magnitude, min(p, p') + min(n, n') says just that.
// Plain loops that the compiler turns into vector code; the AVX2 clone runs where the processor
// has it.
[[gnu::target_clones("avx2", "default"), gnu::optimize("tree-vectorize")]]
void LagSums(const std::int32_t* above, const std::int32_t* below, int count, const int* lags,
             std::int64_t* sums) {
  for (int i = 0; i < kSignatureLags; ++i) {
    const int lag = lags[i];
    std::int32_t sum = 0;  // at most 1,600 analysed samples of 32,768 in a block
    for (int t = lag; t < count; ++t) {
      const std::int32_t a = above[t] < above[t - lag] ? above[t] : above[t - lag];
      const std::int32_t b = below[t] < below[t - lag] ? below[t] : below[t - lag];
      sum += a + b;
    }
    sums[i] = sum;
  }
}

// Every factor-th sample as FloatToInt16 gives it, split into its positive and negative parts,
// with the sums of magnitudes and squares. The squares are summed as integers: exact, as the
// analyzer's double sum is for any block, and free of a long chain of dependent additions.
[[gnu::target_clones("avx2", "default"), gnu::optimize("tree-vectorize")]]
void DecimateToParts(const float* samples, int factor, int count, std::int32_t* above,
                     std::int32_t* below, std::int64_t* sumAbs, double* sumSq) {
  const float* p = samples + (factor - 1);
  for (int t = 0; t < count; ++t, p += factor) {
    // FloatToInt16 without branches: half away from zero, clamped; NaN gives 0.
    const float x = *p;
    const double scaled = double(x) * 32768.0;
    double r = scaled + (scaled < 0 ? -0.5 : 0.5);
    r = r < -32768.0 ? -32768.0 : (r > 32767.0 ? 32767.0 : r);
    const std::int32_t v = x == x ? std::int32_t(r) : 0;
    above[t] = v > 0 ? v : 0;
    below[t] = v < 0 ? -v : 0;
  }
  std::int64_t abs = 0, sq = 0;
  for (int t = 0; t < count; ++t) {
    const std::int32_t m = above[t] + below[t];
    abs += m;
    sq += std::int64_t(m) * m;
  }
  *sumAbs = abs;
  *sumSq = double(sq);
}

constexpr int kMaxBlockAnalysed = 16384;  // beyond this the sums could leave 32 bits
}  // namespace

void ComputeBlockSignature(const float* samples, int n, int rate, SoundSignature* out) {
  if (n <= 0 || rate < 8000) return;
  SignatureAnalyzer* a = CreateSignatureAnalyzer(rate);
  if (!a) return;
  const int factor = a->factor;
  // With factor F the analysed samples are the F-th, 2F-th, ... of the block.
  const int count = n / factor;
  if (count > kMaxBlockAnalysed) {
    for (int t = 0; t < n; ++t) AnalyzerAddSample(a, FloatToInt16(samples[t]));
    AnalyzerFinish(a, out);
    return;
  }
  alignas(32) std::int32_t above[kMaxBlockAnalysed], below[kMaxBlockAnalysed];
  std::int64_t sumAbs = 0;
  double sumSq = 0;
  DecimateToParts(samples, factor, count, above, below, &sumAbs, &sumSq);
  int lags[kSignatureLags];
  for (int i = 0; i < kSignatureLags; ++i) lags[i] = std::min<int>(a->lag[i], count);
  std::int64_t sums[kSignatureLags];
  LagSums(above, below, count, lags, sums);
  a->count = count;
  for (int i = 0; i < kSignatureLags; ++i) a->acc[i] = double(sums[i]);
  a->sumAbs = double(sumAbs);
  a->sumSq = sumSq;
  AnalyzerFinish(a, out);
}

void PackSignature(const SoundSignature& s, PackedSignature* out) {
  std::memset(out, 0, sizeof(*out));
  out->valid = IsValidSignature(s);
  for (int i = 0; i < kSignatureLags; ++i) {
    const int d = int(s.bytes[i]) - kNeutralLagByte;
    if (d >= 0) out->above[i] = std::uint8_t(d); else out->below[i] = std::uint8_t(-d);
    out->spread += d < 0 ? -d : d;
  }
  out->impulse = s.bytes[12];
}

float ComparePacked(const PackedSignature& a, const PackedSignature& b) {
  if (!a.valid || !b.valid) return -1.0f;
  int agree;
#if defined(__SSE2__)
  const __m128i above = _mm_min_epu8(_mm_load_si128(reinterpret_cast<const __m128i*>(a.above)),
                                     _mm_load_si128(reinterpret_cast<const __m128i*>(b.above)));
  const __m128i below = _mm_min_epu8(_mm_load_si128(reinterpret_cast<const __m128i*>(a.below)),
                                     _mm_load_si128(reinterpret_cast<const __m128i*>(b.below)));
  const __m128i sums = _mm_add_epi64(_mm_sad_epu8(above, _mm_setzero_si128()),
                                     _mm_sad_epu8(below, _mm_setzero_si128()));
  agree = _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
#else
  agree = 0;
  for (int i = 0; i < kSignatureLags; ++i) {
    agree += a.above[i] < b.above[i] ? a.above[i] : b.above[i];
    agree += a.below[i] < b.below[i] ? a.below[i] : b.below[i];
  }
#endif
  const int total = a.spread + b.spread;
  const double base = total == 0 ? 100.0 : 200.0 * agree / total;
  const float score = static_cast<float>(base - 0.5 * std::abs(a.impulse - b.impulse));
  return score < 0 ? 0.0f : score;
}
