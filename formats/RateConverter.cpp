#include "formats/RateConverter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr double kRolloff = 0.8;
constexpr double kBeta = 16.0;
constexpr int kZeroCrossings = 45;
constexpr int kInterpolatedPhases = 128;
constexpr int kMaxWingLength = 10240;
constexpr int kBlock = 8192;
constexpr int kMaxRatio = 256;

// Modified Bessel function of order 0, as a power series.
double BesselI0(double x) {
  double sum = 1, term = 1;
  for (int n = 1;; ++n) {
    const double t = (x / 2) / n;
    term *= t * t;
    sum += term;
    if (term < 1e-21 * sum) return sum;
  }
}

// One wing of a Kaiser-windowed sinc sampled at `phases` entries per input sample, normalised to
// unit gain at zero frequency. table[0] is a copy of entry 1 and two zero guards follow entry
// wingLength - 1, so the coefficient for entry i is table[i + 1].
bool BuildFilterTable(std::vector<double>& table, int wingLength, int phases) {
  if (wingLength > kMaxWingLength) return false;
  const double span = phases / kRolloff;
  const int used = static_cast<int>(std::floor(wingLength / span) * span + 0.5);
  if (used <= 0) return false;
  table.assign(std::size_t(wingLength) + 3, 0.0);
  double* c = table.data() + 1;
  c[0] = kRolloff;
  const double i0Beta = BesselI0(kBeta);
  for (int i = 1; i < used; ++i) {
    const double x = M_PI * i / phases;
    const double r = double(i) / used;
    c[i] = std::sin(kRolloff * x) / x * BesselI0(kBeta * std::sqrt(1 - r * r)) / i0Beta;
  }
  double dc = c[0];
  for (int i = phases; i < used; i += phases) dc += 2 * c[i];
  for (int i = 0; i < used; ++i) c[i] /= dc;
  table[0] = c[1];
  return true;
}

// The sums of four outputs of two lanes each, side by side: for every output, lane by lane,
// left = sum over k of tap[k] * in[k] from k = 0 up, the right wing likewise, then left + right,
// each product and sum rounded as in the plain loop. taps hold each entry twice (one per lane).
void SumFourPairs(const double* const* taps, const double* const* lefts, const double* const* rights,
                  int halfWidth, double* out) {
#if defined(__SSE2__)
  __m128d left[4], right[4];
#pragma GCC unroll 4
  for (int f = 0; f < 4; ++f) left[f] = right[f] = _mm_setzero_pd();
  for (int k = 0; k < halfWidth; ++k) {
#pragma GCC unroll 4
    for (int f = 0; f < 4; ++f) {
      const double* t = taps[f];
      left[f] = _mm_add_pd(left[f], _mm_mul_pd(_mm_load_pd(t + 2 * k), _mm_loadu_pd(lefts[f] + 2 * k)));
      right[f] = _mm_add_pd(right[f], _mm_mul_pd(_mm_load_pd(t + 2 * (halfWidth + k)), _mm_loadu_pd(rights[f] - 2 * k)));
    }
  }
#pragma GCC unroll 4
  for (int f = 0; f < 4; ++f) _mm_storeu_pd(out + 2 * f, _mm_add_pd(left[f], right[f]));
#else
  for (int f = 0; f < 4; ++f) {
    for (int lane = 0; lane < 2; ++lane) {
      double left = 0, right = 0;
      for (int k = 0; k < halfWidth; ++k) left += taps[f][2 * k] * lefts[f][2 * k + lane];
      for (int k = 0; k < halfWidth; ++k) right += taps[f][2 * (halfWidth + k)] * rights[f][lane - 2 * k];
      out[2 * f + lane] = left + right;
    }
  }
#endif
}

#if defined(__x86_64__)
bool HasAvx() {
  static const bool has = __builtin_cpu_supports("avx");
  return has;
}

// Eight outputs as four pairs of consecutive outputs, a pair (two lanes each) in one 256-bit
// register: the same products and sums as SumFourPairs, lane by lane, with half the
// instructions. A pair's taps hold [first, first, second, second] per k, the right wing's
// 4 * halfWidth entries on; bit i of kCarry says whether the second output of pair i stands one
// input sample further on (else on the same one). The right wing's input starts
// 2 * (2 * halfWidth - 1) entries after the left wing's.
template <unsigned kCarry>
__attribute__((target("avx"))) void SumEightPairsAvx(const double* const* taps, const double* const* inputs,
                                                     int halfWidth, double* out) {
  __m256d left[4], right[4];
  const double* t[4];
  const double* l[4];
  const double* r[4];
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    left[i] = right[i] = _mm256_setzero_pd();
    t[i] = taps[i];
    l[i] = inputs[i];
    r[i] = inputs[i] + 2 * (2 * halfWidth - 1);
  }
  const std::ptrdiff_t rightTaps = 4 * std::ptrdiff_t(halfWidth);
  for (int k = 0; k < halfWidth; ++k) {
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
      const bool carry = (kCarry >> i) & 1u;
      const double* li = l[i] + 2 * k;
      const double* ri = r[i] - 2 * k;
      const __m256d a = carry ? _mm256_loadu_pd(li) : _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(li));
      const __m256d b = carry ? _mm256_loadu_pd(ri) : _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(ri));
      left[i] = _mm256_add_pd(left[i], _mm256_mul_pd(_mm256_loadu_pd(t[i] + 4 * k), a));
      right[i] = _mm256_add_pd(right[i], _mm256_mul_pd(_mm256_loadu_pd(t[i] + rightTaps + 4 * k), b));
    }
  }
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) _mm256_storeu_pd(out + 4 * i, _mm256_add_pd(left[i], right[i]));
}

using SumEightPairs = void (*)(const double* const*, const double* const*, int, double*);
template <unsigned... kMasks>
constexpr std::array<SumEightPairs, sizeof...(kMasks)> EightPairKernels(std::integer_sequence<unsigned, kMasks...>) {
  return {&SumEightPairsAvx<kMasks>...};
}
// One kernel per pattern of carries, so that the loop has no branch.
constexpr std::array<SumEightPairs, 16> kEightPairKernels = EightPairKernels(std::make_integer_sequence<unsigned, 16>());
#else
bool HasAvx() { return false; }
#endif

}  // namespace

// The filter state of one channel. Positions are in the coordinates of the input buffer; the
// buffer keeps `history` samples behind the next output so the filter's left wing is covered.
//
// A state may run two channels side by side (lanes = 2, interleaved in its buffers): both see the
// same positions, so each lane does exactly the arithmetic of a state of its own, in the same
// order, and gives the same bits; the pair goes through vector registers together.
struct RateConverter::State {
  State(int inRate, int outRate, int laneCount = 1) : lanes(laneCount) {
    factor = double(outRate) / inRate;
    const int g = std::gcd(inRate, outRate);
    num = inRate / g;
    den = outRate / g;
    exact = den >= num && den <= 511;
    if (exact) {
      phases = den;
      wingLength = phases * (kZeroCrossings / 2 + 1) + 1;
      // Denominators from 446 up need a table beyond the limit: those pairs interpolate.
      if (!BuildFilterTable(table, wingLength, phases)) exact = false;
    }
    if (!exact) {
      phases = kInterpolatedPhases;
      wingLength = phases * (kZeroCrossings / 2 + 1) + 1;
      BuildFilterTable(table, wingLength, phases);
    }
    if (exact) {
      halfWidth = wingLength / den;
    } else {
      step = factor < 1 ? static_cast<std::int64_t>(factor * (1 << 23) + 0.5) : (1 << 23);
      halfWidth = static_cast<int>(std::int64_t(wingLength) * 65536 / step);
    }
    history = halfWidth + 10;
    input.assign(std::size_t(std::max(kBlock, 4 * history)) * lanes, 0.0);
    filled = history;
    ticks = std::int64_t(history) * den;
    output.resize(std::size_t(kBlock) * lanes);
    if (exact) BuildPhaseTables();
  }

  // Each phase's coefficients in the order the sums take them (j from halfWidth - 1 down to 0),
  // left wing then right wing, each entry twice (one per lane), so that the pair is one load.
  // With AVX, also per phase p the taps of two consecutive outputs (phases p and p + num) as
  // [first, first, second, second] per k, left wing then right wing.
  void BuildPhaseTables() {
    const double* c = table.data() + 1;
    phaseTable.assign(std::size_t(den) * halfWidth * 4, 0.0);
    for (int phase = 0; phase < den; ++phase) {
      double* t = phaseTable.data() + std::size_t(phase) * halfWidth * 4;
      for (int j = halfWidth - 1, k = 0; j >= 0; --j, ++k) {
        t[2 * k] = t[2 * k + 1] = c[phase + j * den];
        t[2 * (halfWidth + k)] = t[2 * (halfWidth + k) + 1] = c[den - phase + j * den];
      }
    }
    if (lanes != 2 || !HasAvx()) return;
    pairTable.assign(std::size_t(den) * halfWidth * 8, 0.0);
    for (int phase = 0; phase < den; ++phase) {
      const double* first = phaseTable.data() + std::size_t(phase) * halfWidth * 4;
      const double* second = phaseTable.data() + std::size_t((phase + num) % den) * halfWidth * 4;
      double* t = pairTable.data() + std::size_t(phase) * halfWidth * 8;
      for (int k = 0; k < 2 * halfWidth; ++k) {
        t[4 * k] = t[4 * k + 1] = first[2 * k];
        t[4 * k + 2] = t[4 * k + 3] = second[2 * k];
      }
    }
  }

  double Coefficient(std::int64_t h) const {
    const double* c = table.data() + 1;
    const std::int64_t i = h >> 16;
    return c[i] + (c[i + 1] - c[i]) * double(h & 0xFFFF) / 65536.0;
  }

  // True when the input holds every sample the next output's right wing touches.
  bool NextOutputReady() const { return ticks / den + halfWidth < filled; }

  // The next `count` outputs (at most kGroup) of both lanes in exact mode: the sums of
  // NextOutput, lane by lane, in the same order. The outputs run side by side so that their sums
  // do not wait for each other.
  static constexpr int kGroup = 8;
  // Positions (input sample and phase) of up to n next outputs whose right wing lies inside the
  // input; their count. One division for the group, then steps of num.
  int ReadyGroup(int n, std::int64_t* xs, int* phases) const {
    std::int64_t x = ticks / den;
    int phase = static_cast<int>(ticks % den);
    int ready = 0;
    for (; ready < n && x + halfWidth < filled; ++ready) {
      xs[ready] = x;
      phases[ready] = phase;
      phase += num;
      while (phase >= den) {  // once at most: the exact mode has num <= den
        phase -= den;
        ++x;
      }
    }
    return ready;
  }

  void NextOutputPairs(double* out, int count, const std::int64_t* xs, const int* phases) {
    const double* taps[kGroup];
    const double* lefts[kGroup];
    const double* rights[kGroup];
    for (int f = 0; f < count; ++f) {
      taps[f] = phaseTable.data() + std::size_t(phases[f]) * halfWidth * 4;
      lefts[f] = input.data() + 2 * (xs[f] - (halfWidth - 1));
      rights[f] = input.data() + 2 * (xs[f] + halfWidth);
    }
    ticks += std::int64_t(count) * num;
    int f = 0;
#if defined(__x86_64__)
    if (count == kGroup && !pairTable.empty()) {
      const double* pairTaps[4];
      const double* pairInputs[4];
      unsigned carries = 0;
      for (int i = 0; i < 4; ++i) {
        pairTaps[i] = pairTable.data() + std::size_t(phases[2 * i]) * halfWidth * 8;
        pairInputs[i] = lefts[2 * i];
        if (xs[2 * i + 1] != xs[2 * i]) carries |= 1u << i;
      }
      kEightPairKernels[carries](pairTaps, pairInputs, halfWidth, out);
      f = kGroup;
    }
#endif
    for (; f + 4 <= count; f += 4) SumFourPairs(taps + f, lefts + f, rights + f, halfWidth, out + 2 * f);
    for (; f < count; ++f) {
      for (int lane = 0; lane < 2; ++lane) {
        const double* t = taps[f];
        double left = 0, right = 0;
        for (int k = 0; k < halfWidth; ++k) left += t[2 * k] * lefts[f][2 * k + lane];
        for (int k = 0; k < halfWidth; ++k) right += t[2 * (halfWidth + k)] * rights[f][lane - 2 * k];
        out[2 * f + lane] = left + right;
      }
    }
  }

  double NextOutput() {
    const double* c = table.data() + 1;
    const double* in = input.data();
    double left = 0, right = 0;
    if (exact) {
      const std::int64_t x = ticks / den;
      const int phase = static_cast<int>(ticks % den);
      for (int j = halfWidth - 1; j >= 0; --j) left += c[phase + j * den] * in[x - j];
      for (int j = halfWidth - 1; j >= 0; --j) right += c[den - phase + j * den] * in[x + 1 + j];
      ticks += num;
      return left + right;
    }
    const std::int64_t x = ticks / den;
    const double frac = double(ticks % den) / den;
    const std::int64_t hl = static_cast<std::int64_t>(frac * step);
    const std::int64_t hr = static_cast<std::int64_t>((1 - frac) * step);
    for (int j = halfWidth - 1; j >= 0; --j) left += Coefficient(hl + j * step) * in[x - j];
    for (int j = halfWidth - 1; j >= 0; --j) right += Coefficient(hr + j * step) * in[x + 1 + j];
    ticks += num;
    const double y = left + right;
    return factor < 1 ? y * factor : y;
  }

  // Takes up to n samples (null = silence), produces up to m outputs into `output`; returns
  // the samples consumed and sets produced.
  // With two lanes, n counts frames of two interleaved samples, in and output alike.
  int Flow(const float* in, int n, int m, int* produced) {
    const int k = std::min<std::int64_t>(n, std::int64_t(input.size()) / lanes - filled);
    for (int i = 0; i < k * lanes; ++i) input[filled * lanes + i] = in ? double(in[i]) : 0.0;
    filled += k;
    int count = 0;
    const int limit = std::min<int>(m, int(output.size()) / lanes);
    if (lanes == 2) {
      std::int64_t xs[kGroup];
      int phases[kGroup];
      for (int group; (group = ReadyGroup(std::min(kGroup, limit - count), xs, phases)) > 0; count += group)
        NextOutputPairs(&output[2 * std::size_t(count)], group, xs, phases);
    } else {
      while (count < limit && NextOutputReady()) output[count++] = NextOutput();
    }
    *produced = count;
    // Drop what the left wing no longer reaches.
    const std::int64_t shift = ticks / den - history;
    if (shift > 0) {
      std::memmove(input.data(), input.data() + shift * lanes, std::size_t(filled - shift) * lanes * sizeof(double));
      filled -= shift;
      ticks -= shift * den;
    }
    consumedTotal += k;
    producedTotal += count;
    return k;
  }

  // Outputs that fall inside the input consumed so far: those at times below its end.
  std::int64_t OutputsDue() const { return (consumedTotal * den + num - 1) / num; }

  int lanes = 1;
  double factor = 1;
  bool exact = false;
  int phases = 0;
  int wingLength = 0;
  std::vector<double> table;
  std::vector<double> phaseTable;  // exact mode: see BuildPhaseTables
  std::vector<double> pairTable;   // the same for pairs of outputs, with AVX
  std::int64_t step = 0;
  int num = 1, den = 1;
  // Position of the next output in 1/den input samples, in both modes, so that the timing is
  // exact however the input is split.
  std::int64_t ticks = 0;
  int halfWidth = 0;
  int history = 0;
  std::vector<double> input;
  std::int64_t filled = 0;
  std::vector<double> output;
  std::int64_t consumedTotal = 0;
  std::int64_t producedTotal = 0;
};

RateConverter::RateConverter(int channels, int inRate, int outRate)
    : channels_(std::max(channels, 1)), inRate_(inRate), outRate_(outRate) {
  // Beyond 1:256 the filter would need megabytes of history per channel.
  usable_ = inRate > 0 && outRate > 0 && channels > 0 && std::int64_t(inRate) <= std::int64_t(outRate) * kMaxRatio &&
            std::int64_t(outRate) <= std::int64_t(inRate) * kMaxRatio;
  factor_ = usable_ ? double(outRate) / inRate : 1.0;
  if (!usable_ || inRate == outRate) return;
  for (int c = 0; c < channels_; ++c) states_.push_back(std::make_unique<State>(inRate, outRate));
  // Stereo in exact mode runs as one state of two lanes.
  if (channels_ == 2 && states_[0]->exact) {
    states_.clear();
    states_.push_back(std::make_unique<State>(inRate, outRate, 2));
  }
  deinterleaved_.resize(kBlock);
}

RateConverter::~RateConverter() = default;

int RateConverter::MaxOutputFrames(int frames) const {
  if (!usable_ || states_.empty()) return std::max(frames, 0);
  return static_cast<int>(std::ceil(std::max(frames, 0) * factor_)) + 2;
}

int RateConverter::MaxFlushFrames() const {
  if (states_.empty()) return 0;
  return static_cast<int>(std::ceil((states_[0]->halfWidth + 1) * factor_)) + 2;
}

void RateConverter::StoreOutput(const State& state, int made, float* out) const {
  if (state.lanes == 2) {
    for (int i = 0; i < 2 * made; ++i) out[i] = float(state.output[std::size_t(i)]);
    return;
  }
  for (int i = 0; i < made; ++i) out[std::int64_t(i) * channels_] = float(state.output[std::size_t(i)]);
}

int RateConverter::Process(const float* in, int frames, float* out) {
  if (!usable_ || frames <= 0) return 0;
  if (states_.empty()) {
    std::copy(in, in + std::int64_t(frames) * channels_, out);
    return frames;
  }
  int produced = 0;
  for (std::size_t c = 0; c < states_.size(); ++c) {
    State& state = *states_[c];
    const int lanes = state.lanes;
    produced = 0;
    for (int start = 0; start < frames;) {
      const int n = std::min(kBlock, frames - start);
      // A two-lane state takes the interleaved frames as they are.
      const float* block = in + std::int64_t(start) * channels_;
      if (lanes == 1) {
        for (int i = 0; i < n; ++i) deinterleaved_[i] = in[std::int64_t(start + i) * channels_ + c];
        block = deinterleaved_.data();
      }
      // Keep flowing until the block is consumed and no full output block is pending.
      for (int used = 0;;) {
        int made = 0;
        const int k = state.Flow(block + std::int64_t(used) * lanes, n - used, kBlock, &made);
        StoreOutput(state, made, out + std::int64_t(produced) * channels_ + c);
        produced += made;
        used += k;
        if (used >= n && made < kBlock) break;
        if (k == 0 && made == 0) break;  // cannot happen with a sound state; never spin
      }
      start += n;
    }
  }
  return produced;
}

int RateConverter::Flush(float* out) {
  if (!usable_ || states_.empty()) return 0;
  int produced = 0;
  for (std::size_t c = 0; c < states_.size(); ++c) {
    State& state = *states_[c];
    produced = 0;
    const std::int64_t due = state.OutputsDue();
    const std::int64_t consumed = state.consumedTotal;
    // Silence through the look-ahead, without counting it as input.
    for (int idle = 0; state.producedTotal < due && idle < 2;) {
      int made = 0;
      state.Flow(nullptr, state.halfWidth + 1, int(std::min<std::int64_t>(due - state.producedTotal, kBlock)), &made);
      StoreOutput(state, made, out + std::int64_t(produced) * channels_ + c);
      produced += made;
      idle = made > 0 ? 0 : idle + 1;
    }
    state.consumedTotal = consumed;
  }
  return produced;
}

bool RateConverter::ExactMode() const { return !states_.empty() && states_[0]->exact; }
int RateConverter::Phases() const { return states_.empty() ? 0 : states_[0]->phases; }
int RateConverter::WingLength() const { return states_.empty() ? 0 : states_[0]->wingLength; }
int RateConverter::HalfWidth() const { return states_.empty() ? 0 : states_[0]->halfWidth; }

std::vector<double> RateConverter::FilterTable() const {
  if (states_.empty()) return {};
  const std::vector<double>& table = states_[0]->table;
  return std::vector<double>(table.begin() + 1, table.begin() + 1 + states_[0]->wingLength + 1);
}
