#include "analysis/SignatureKernels.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void ComputeBlockSignature(const float* samples, int n, int rate, SoundSignature* out) {
  if (n <= 0 || rate < 8000) return;
  SignatureAnalyzer* a = CreateSignatureAnalyzer(rate);
  if (!a) return;
  const int factor = a->factor;
  int lag[kSignatureLags];
  int maxLag = 0;
  for (int i = 0; i < kSignatureLags; ++i) {
    lag[i] = a->lag[i];
    if (lag[i] > maxLag) maxLag = lag[i];
  }
  // The ring keeps signed values: two samples pair when their product is positive.
  std::int32_t ring[64] = {};
  std::int64_t acc[kSignatureLags] = {};
  std::int64_t sumAbs = 0;
  double sumSq = 0;
  int count = 0;
  auto add = [&](int v, bool checked) {
    const std::int32_t m = v < 0 ? -v : v;
    for (int i = 0; i < kSignatureLags; ++i) {
      if (checked && lag[i] > count) continue;
      const std::int32_t w = ring[(count - lag[i]) & 63];
      if (std::int64_t(w) * v > 0) {
        const std::int32_t mw = w < 0 ? -w : w;
        acc[i] += mw < m ? mw : m;
      }
    }
    sumAbs += m;
    sumSq += double(v) * double(v);
    ring[count & 63] = v;
    ++count;
  };
  // With factor F the analysed samples are the F-th, 2F-th, ... of the block.
  int t = factor - 1;
  for (; t < n && count < maxLag; t += factor) add(FloatToInt16(samples[t]), true);
  for (; t < n; t += factor) add(FloatToInt16(samples[t]), false);
  a->count = count;
  for (int i = 0; i < kSignatureLags; ++i) a->acc[i] = double(acc[i]);
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
