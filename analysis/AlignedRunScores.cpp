#include "analysis/AlignedRunScores.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

SignaturePlanes::SignaturePlanes(const std::vector<PackedSignature>& track) {
  const int blocks = int(track.size());
  stride = blocks + kAlignedLanes;
  rows.assign(std::size_t(2 * kSignatureLags) * stride, 0);
  spread.assign(stride, 0);
  impulse.assign(stride, 0);
  valid.assign(stride, 0);
  for (int t = 0; t < blocks; ++t) {
    for (int i = 0; i < kSignatureLags; ++i) {
      rows[std::size_t(i) * stride + t] = track[t].above[i];
      rows[std::size_t(kSignatureLags + i) * stride + t] = track[t].below[i];
    }
    spread[t] = float(track[t].spread);
    impulse[t] = float(track[t].impulse);
    valid[t] = track[t].valid ? -1 : 0;
  }
}

PrototypeRow::PrototypeRow(const PackedSignature& s, int stride)
    : spread(s.spread), impulse(s.impulse), valid(s.valid) {
  // A lag byte lies on one side of the neutral byte: only that side's row can agree with it.
  for (int i = 0; i < kSignatureLags; ++i) {
    const bool below = s.below[i] != 0;
    magnitude[i] = below ? s.below[i] : s.above[i];
    row[i] = (below ? kSignatureLags + i : i) * stride;
  }
}

namespace {
// The comparison's score of agreement a, total t and impulse difference d.
inline float PairScore(std::int32_t agree, std::int32_t total, std::int32_t impulseDifference) {
  const double base = total == 0 ? 100.0 : 200.0 * double(agree) / double(total);
  const float score = static_cast<float>(base - 0.5 * double(impulseDifference));
  return score < 0 ? 0.0f : score;
}

// ComparePacked of one prototype block with the kAlignedLanes track blocks from t, added to sum.
void AddPairScoresPlain(const SignaturePlanes& planes, const PrototypeRow& r, int t, float weight, float* sum) {
  std::int32_t agree[kAlignedLanes] = {};
  for (int i = 0; i < kSignatureLags; ++i) {
    const std::uint16_t* row = planes.rows.data() + r.row[i] + t;
    const std::int32_t m = r.magnitude[i];
    for (int l = 0; l < kAlignedLanes; ++l) agree[l] += std::min<std::int32_t>(m, row[l]);
  }
  for (int l = 0; l < kAlignedLanes; ++l) {
    const std::int32_t d = r.impulse - std::int32_t(planes.impulse[t + l]);
    const float score = PairScore(agree[l], r.spread + std::int32_t(planes.spread[t + l]), d < 0 ? -d : d);
    sum[l] += (r.valid && planes.valid[t + l] ? score : -1.0f) * weight;
  }
}

#if defined(__x86_64__)
// The same with AVX2: 16 agreements in one vector, then eight lanes at a time in single precision.
// For t > 0, float(200a / t - 0.5d) in double, clamped at 0, equals (400a - dt) / 2t divided in
// single precision (numerator and divisor are exact integers below 2^24, and so is every step
// that makes them) except where that quotient is positive and below 2^-9: there the double
// rounding of the quotient can show, and those rare lanes are redone in double. Checked for every
// a <= t/2, t <= 4080, d <= 255.
[[gnu::target("avx2"), gnu::always_inline]] inline void AddPairScoresAvx2(const SignaturePlanes& planes,
                                                                         const PrototypeRow& r, int t,
                                                                         float weight, float* sum) {
  if (!r.valid) {
    for (int l = 0; l < kAlignedLanes; ++l) sum[l] += -1.0f * weight;
    return;
  }
  __m256i agree = _mm256_setzero_si256();
  const std::uint16_t* rows = planes.rows.data() + t;
#pragma GCC unroll 12
  for (int i = 0; i < kSignatureLags; ++i) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows + r.row[i]));
    agree = _mm256_add_epi16(agree, _mm256_min_epu16(v, _mm256_set1_epi16(short(r.magnitude[i]))));
  }
  const __m256 protoSpread = _mm256_set1_ps(float(r.spread)), protoImpulse = _mm256_set1_ps(float(r.impulse));
  const __m256 zero = _mm256_setzero_ps(), signBit = _mm256_set1_ps(-0.0f);
  const __m256 tinyLimit = _mm256_set1_ps(1.0f / 512);
  for (int g = 0; g < kAlignedLanes; g += 8) {
    const __m256 a = _mm256_cvtepi32_ps(
        _mm256_cvtepu16_epi32(g ? _mm256_extracti128_si256(agree, 1) : _mm256_castsi256_si128(agree)));
    const __m256 total = _mm256_add_ps(protoSpread, _mm256_loadu_ps(planes.spread.data() + t + g));
    const __m256 d = _mm256_andnot_ps(signBit, _mm256_sub_ps(protoImpulse, _mm256_loadu_ps(planes.impulse.data() + t + g)));
    const __m256 numerator = _mm256_sub_ps(_mm256_mul_ps(_mm256_set1_ps(400.0f), a), _mm256_mul_ps(d, total));
    __m256 score = _mm256_div_ps(numerator, _mm256_add_ps(total, total));
    // No total (both signatures neutral): 100 less half the impulse difference.
    const __m256 none = _mm256_cmp_ps(total, zero, _CMP_EQ_OQ);
    score = _mm256_blendv_ps(score, _mm256_sub_ps(_mm256_set1_ps(100.0f), _mm256_mul_ps(_mm256_set1_ps(0.5f), d)), none);
    score = _mm256_max_ps(score, zero);
    const __m256 valid = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(planes.valid.data() + t + g)));
    score = _mm256_blendv_ps(_mm256_set1_ps(-1.0f), score, valid);
    // Tiny quotients (invalid lanes are -1, neutral ones a multiple of 0.5: neither is caught).
    const __m256 tiny = _mm256_and_ps(_mm256_cmp_ps(score, zero, _CMP_GT_OQ), _mm256_cmp_ps(score, tinyLimit, _CMP_LE_OQ));
    if (!_mm256_testz_ps(tiny, tiny)) {
      alignas(32) float lanes[8], agreeLanes[8], totalLanes[8], dLanes[8];
      _mm256_store_ps(lanes, score);
      _mm256_store_ps(agreeLanes, a);
      _mm256_store_ps(totalLanes, total);
      _mm256_store_ps(dLanes, d);
      const int mask = _mm256_movemask_ps(tiny);
      for (int l = 0; l < 8; ++l)
        if (mask >> l & 1) lanes[l] = PairScore(std::int32_t(agreeLanes[l]), std::int32_t(totalLanes[l]), std::int32_t(dLanes[l]));
      score = _mm256_load_ps(lanes);
    }
    _mm256_storeu_ps(sum + g, _mm256_add_ps(_mm256_loadu_ps(sum + g), _mm256_mul_ps(score, _mm256_set1_ps(weight))));
  }
}
#endif

// Step by step through the plan, every phase against the same track blocks while they are in
// the cache; each lane adds its pairs in the walk's order.
#define TINTWAVE_ALIGNED_RUN_LOOP(addPairScores)                                                  \
  std::fill(sums, sums + std::size_t(phases) * kAlignedLanes, 0.0f);                             \
  for (const PairStep& step : plan)                                                               \
    for (int k = 0; k < phases; ++k)                                                              \
      addPairScores(planes, rows[std::size_t(k) * blocks + step.block], candidate + step.offset,   \
                    step.weight, sums + k * kAlignedLanes);

void AlignedRunSumsPlain(const SignaturePlanes& planes, const PrototypeRow* rows, int phases, int blocks,
                         const std::vector<PairStep>& plan, int candidate, float* sums) {
  TINTWAVE_ALIGNED_RUN_LOOP(AddPairScoresPlain)
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] void AlignedRunSumsAvx2(const SignaturePlanes& planes, const PrototypeRow* rows,
                                                int phases, int blocks, const std::vector<PairStep>& plan,
                                                int candidate, float* sums) {
  TINTWAVE_ALIGNED_RUN_LOOP(AddPairScoresAvx2)
}
#endif

using RunSums = void (*)(const SignaturePlanes&, const PrototypeRow*, int, int, const std::vector<PairStep>&, int,
                         float*);

RunSums ChooseRunSums() {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) return AlignedRunSumsAvx2;
#endif
  return AlignedRunSumsPlain;
}
}  // namespace

void AlignedRunSums(const SignaturePlanes& planes, const PrototypeRow* rows, int phases, int blocks,
                    const std::vector<PairStep>& plan, int candidate, float* sums) {
  static const RunSums runSums = ChooseRunSums();
  runSums(planes, rows, phases, blocks, plan, candidate, sums);
}
