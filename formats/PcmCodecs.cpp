#include "formats/PcmCodecs.h"

#include <bit>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Halves round away from zero; the result is clamped to lo..hi; NaN gives 0.
std::int32_t RoundAndClamp(double v, std::int32_t lo, std::int32_t hi) {
  if (std::isnan(v)) return 0;
  v = v >= 0 ? v + 0.5 : v - 0.5;
  if (v <= lo) return lo;
  if (v >= hi) return hi;
  return static_cast<std::int32_t>(v);  // truncates toward zero
}

std::int32_t SignExtend24(std::uint32_t v) { return static_cast<std::int32_t>(v << 8) >> 8; }

// The low n bytes of v, least or most significant first.
inline void StoreLsbFirst(std::uint8_t* out, std::uint32_t v, int n) {
  for (int b = 0; b < n; ++b) out[b] = static_cast<std::uint8_t>(v >> (8 * b));
}
inline void StoreMsbFirst(std::uint8_t* out, std::uint32_t v, int n) {
  for (int b = 0; b < n; ++b) out[b] = static_cast<std::uint8_t>(v >> (8 * (n - 1 - b)));
}

constexpr float kScale8 = 1.0f / 128.0f;
constexpr float kScale16 = 1.0f / 32768.0f;
constexpr float kScale24 = 1.0f / 8388608.0f;
constexpr float kScale32 = 1.0f / 2147483648.0f;

#if defined(__SSE2__)
// Eight 16-bit samples from 16 bytes (least significant byte first) to floats: sign-extended and
// scaled by 2^-15, exact as in the plain loop.
inline void DecodeEight16(const std::uint8_t* in, float* out) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
  const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
  const __m128 scale = _mm_set1_ps(kScale16);
  _mm_storeu_ps(out, _mm_mul_ps(_mm_cvtepi32_ps(lo), scale));
  _mm_storeu_ps(out + 4, _mm_mul_ps(_mm_cvtepi32_ps(hi), scale));
}

// FloatToPcm16 of two floats, in doubles as there: x * 32768 and the half away from zero are
// exact, then clamped and truncated; NaN gives 0.
inline __m128i TwoToPcm16(const float* in) {
  const __m128d v = _mm_mul_pd(_mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in)))),
                               _mm_set1_pd(32768.0));
  const __m128d half = _mm_or_pd(_mm_and_pd(v, _mm_set1_pd(-0.0)), _mm_set1_pd(0.5));
  __m128d r = _mm_add_pd(v, half);
  r = _mm_min_pd(_mm_max_pd(r, _mm_set1_pd(-32768.0)), _mm_set1_pd(32767.0));
  r = _mm_andnot_pd(_mm_cmpunord_pd(v, v), r);
  return _mm_cvttpd_epi32(r);
}

// Eight floats to 16-bit samples, least significant byte first (or most, swapped).
inline void EncodeEight16(const float* in, std::uint8_t* out, bool msbFirst) {
  const __m128i a = _mm_unpacklo_epi64(TwoToPcm16(in), TwoToPcm16(in + 2));
  const __m128i b = _mm_unpacklo_epi64(TwoToPcm16(in + 4), TwoToPcm16(in + 6));
  __m128i v = _mm_packs_epi32(a, b);  // in range already: no saturation happens
  if (msbFirst) v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}
#endif

}  // namespace

std::int32_t FloatToPcm8(float x) { return RoundAndClamp(double(x) * 128.0, -128, 127); }

std::int32_t FloatToPcm16(float x) { return RoundAndClamp(double(x) * 32768.0, -32768, 32767); }

std::int32_t FloatToPcm24(float x) {
  if (std::isnan(x)) return 0;
  if (x >= 0) {
    const double a = double(x) * 8388608.0 + 0.5;
    return a >= 8388607.0 ? 8388607 : static_cast<std::int32_t>(a);
  }
  // Negative values are coded from -1 upwards, so their halves round toward plus infinity.
  const double t = (double(x) + 1.0) * 8388608.0 + 0.5;
  const std::int64_t a = t < 1.0 ? 8388608 : static_cast<std::int64_t>(t) + 8388608;
  return static_cast<std::int32_t>(a - 16777216);
}

std::int32_t FloatToPcm32(float x) {
  if (std::isnan(x)) return 0;
  if (x < 0) {
    const double v = double(x) * 2147483648.0 - 0.5;
    return v <= -2147483648.0 ? INT32_MIN : static_cast<std::int32_t>(v);
  }
  const double v = std::fmin(double(x) * 2147483648.0, 2147483647.0) + 0.5;
  return static_cast<std::int32_t>(v);
}

void DecompressPcm8Signed::DecodeSamples(const std::uint8_t* in, float* out, int count) {
  for (int i = 0; i < count; ++i) out[i] = static_cast<std::int8_t>(in[i]) * kScale8;
}

void DecompressPcm8Unsigned::DecodeSamples(const std::uint8_t* in, float* out, int count) {
  for (int i = 0; i < count; ++i) out[i] = (int(in[i]) - 128) * kScale8;
}

void DecompressPcm16MsbSigned::DecodeSamples(const std::uint8_t* in, float* out, int count) {
  for (int i = 0; i < count; ++i, in += 2) out[i] = static_cast<std::int16_t>((in[0] << 8) | in[1]) * kScale16;
}

void DecompressPcm16LsbSigned::DecodeSamples(const std::uint8_t* in, float* out, int count) {
  int i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= count; i += 8, in += 16) DecodeEight16(in, out + i);
#endif
  for (; i < count; ++i, in += 2) out[i] = static_cast<std::int16_t>(in[0] | (in[1] << 8)) * kScale16;
}

void DecompressPcm24MsbSigned::DecodeSamples(const std::uint8_t* in, float* out, int count) {
  for (int i = 0; i < count; ++i, in += 3)
    out[i] = SignExtend24((std::uint32_t(in[0]) << 16) | (in[1] << 8) | in[2]) * kScale24;
}

void DecompressPcm24LsbSigned::DecodeSamples(const std::uint8_t* in, float* out, int count) {
  for (int i = 0; i < count; ++i, in += 3)
    out[i] = SignExtend24(in[0] | (in[1] << 8) | (std::uint32_t(in[2]) << 16)) * kScale24;
}

void DecompressPcm32LsbSigned::DecodeSamples(const std::uint8_t* in, float* out, int count) {
  for (int i = 0; i < count; ++i, in += 4) {
    const std::uint32_t v = in[0] | (in[1] << 8) | (in[2] << 16) | (std::uint32_t(in[3]) << 24);
    out[i] = float(static_cast<std::int32_t>(v)) * kScale32;
  }
}

void DecompressPcm32Float::DecodeSamples(const std::uint8_t* in, float* out, int count) {
  for (int i = 0; i < count; ++i, in += 4) {
    const std::uint32_t bits = in[0] | (in[1] << 8) | (in[2] << 16) | (std::uint32_t(in[3]) << 24);
    const float v = std::bit_cast<float>(bits);
    out[i] = !(v > -1.0f) ? -1.0f : (v >= 1.0f ? 1.0f : v);  // NaN fails the first test
  }
}

namespace {

float ClampedDouble(std::uint64_t bits) {
  const double v = std::bit_cast<double>(bits);
  return !(v > -1.0) ? -1.0f : (v >= 1.0 ? 1.0f : float(v));  // NaN fails the first test
}

}  // namespace

void DecompressPcm64Float::DecodeSamples(const std::uint8_t* in, float* out, int count) {
  for (int i = 0; i < count; ++i, in += 8) {
    std::uint64_t bits = 0;
    for (int b = 7; b >= 0; --b) bits = (bits << 8) | in[b];
    out[i] = ClampedDouble(bits);
  }
}

void DecompressPcm64FloatMsb::DecodeSamples(const std::uint8_t* in, float* out, int count) {
  for (int i = 0; i < count; ++i, in += 8) {
    std::uint64_t bits = 0;
    for (int b = 0; b < 8; ++b) bits = (bits << 8) | in[b];
    out[i] = ClampedDouble(bits);
  }
}

void CompressPcm8Signed::EncodeSamples(const float* in, std::uint8_t* out, int count) {
  for (int i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(FloatToPcm8(in[i]));
}

void CompressPcm8Unsigned::EncodeSamples(const float* in, std::uint8_t* out, int count) {
  for (int i = 0; i < count; ++i) {
    const double v = (double(in[i]) + 1.0) * 128.0 + 0.5;
    out[i] = std::isnan(v) ? 128 : v <= 0 ? 0 : v >= 255 ? 255 : static_cast<std::uint8_t>(v);
  }
}

void CompressPcm16MsbSigned::EncodeSamples(const float* in, std::uint8_t* out, int count) {
  int i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= count; i += 8, out += 16) EncodeEight16(in + i, out, true);
#endif
  for (; i < count; ++i, out += 2) StoreMsbFirst(out, std::uint32_t(FloatToPcm16(in[i])), 2);
}

void CompressPcm16LsbSigned::EncodeSamples(const float* in, std::uint8_t* out, int count) {
  int i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= count; i += 8, out += 16) EncodeEight16(in + i, out, false);
#endif
  for (; i < count; ++i, out += 2) StoreLsbFirst(out, std::uint32_t(FloatToPcm16(in[i])), 2);
}

void CompressPcm24MsbSigned::EncodeSamples(const float* in, std::uint8_t* out, int count) {
  for (int i = 0; i < count; ++i, out += 3) StoreMsbFirst(out, std::uint32_t(FloatToPcm24(in[i])), 3);
}

void CompressPcm24LsbSigned::EncodeSamples(const float* in, std::uint8_t* out, int count) {
  for (int i = 0; i < count; ++i, out += 3) StoreLsbFirst(out, std::uint32_t(FloatToPcm24(in[i])), 3);
}

void CompressPcm32LsbSigned::EncodeSamples(const float* in, std::uint8_t* out, int count) {
  for (int i = 0; i < count; ++i, out += 4) StoreLsbFirst(out, std::uint32_t(FloatToPcm32(in[i])), 4);
}

void CompressPcm32Float::EncodeSamples(const float* in, std::uint8_t* out, int count) {
  for (int i = 0; i < count; ++i, out += 4) StoreLsbFirst(out, std::bit_cast<std::uint32_t>(in[i]), 4);
}
