#include "analysis/BandEnergies.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <vector>

namespace {
constexpr int kFft = 256;
constexpr double kLowHz = 100, kHighHz = 5500;

// A radix-2 transform of kFft points with its tables made once.
struct Transform {
  std::array<std::complex<float>, kFft / 2> twiddle;
  std::array<int, kFft> reversed;
  std::array<float, kFft> window;  // Hann
  Transform() {
    for (int k = 0; k < kFft / 2; ++k) twiddle[k] = std::polar(1.0f, float(-2 * M_PI * k / kFft));
    for (int i = 0; i < kFft; ++i) {
      int r = 0;
      for (int b = 1, v = i; b < kFft; b <<= 1, v >>= 1) r = (r << 1) | (v & 1);
      reversed[i] = r;
    }
    for (int i = 0; i < kFft; ++i) window[i] = float(0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / kFft));
  }
  void Run(std::array<std::complex<float>, kFft>& a) const {
    for (int i = 0; i < kFft; ++i)
      if (i < reversed[i]) std::swap(a[i], a[reversed[i]]);
    for (int len = 2; len <= kFft; len <<= 1) {
      const int step = kFft / len;
      for (int i = 0; i < kFft; i += len)
        for (int k = 0; k < len / 2; ++k) {
          const std::complex<float> u = a[i + k], v = a[i + k + len / 2] * twiddle[k * step];
          a[i + k] = u + v;
          a[i + k + len / 2] = u - v;
        }
    }
  }
};

const Transform& TheTransform() {
  static const Transform t;
  return t;
}

// cos(pi k (b + 1/2) / bands) scaled to half-decibel band units, for k = 1..kCeps.
const std::array<std::array<float, kBands>, kCeps>& CosineTable() {
  static const auto table = [] {
    std::array<std::array<float, kBands>, kCeps> t{};
    for (int k = 0; k < kCeps; ++k)
      for (int b = 0; b < kBands; ++b)
        t[k][b] = float(kBandStepDb * 2.0 / kBands * std::cos(M_PI * (k + 1) * (b + 0.5) / kBands));
    return t;
  }();
  return table;
}

// The power of each band byte.
const std::array<double, 256>& PowerOfLevel() {
  static const auto table = [] {
    std::array<double, 256> t{};
    for (int v = 0; v < 256; ++v) t[v] = std::pow(10.0, (v * kBandStepDb + kBandFloorDb) / 10);
    return t;
  }();
  return table;
}

constexpr float kDepthDb = 50.0f;

// Samples are averaged in groups of this many before the analysis: about 11 to 16 kHz remain.
int Decimation(int rate) { return std::max(1, rate / 11025); }
}  // namespace

void ComputeBandEnergies(const float* samples, int n, int rate, BandEnergies* out) {
  *out = BandEnergies{};
  if (n <= 0 || rate <= 0) return;
  const int factor = Decimation(rate);
  const double analysisRate = double(rate) / factor;
  std::vector<float> x(std::size_t(n / factor > 0 ? n / factor : 1), 0.0f);
  for (std::size_t i = 0; i < x.size(); ++i) {
    float sum = 0;
    const int from = int(i) * factor, to = std::min(n, from + factor);
    for (int k = from; k < to; ++k) sum += samples[k] == samples[k] ? samples[k] : 0.0f;  // NaN is silence
    x[i] = sum / float(factor);
  }
  // Mean power spectrum of half-overlapping windows that lie inside the block (the last one
  // ends at its end; a block shorter than a window is padded with silence).
  const Transform& fft = TheTransform();
  const int len = int(x.size());
  std::array<float, kFft / 2 + 1> power{};
  std::array<std::complex<float>, kFft> buf;
  int windows = 0;
  for (int s = 0;; s += kFft / 2) {
    if (s + kFft > len) s = std::max(0, len - kFft);
    for (int i = 0; i < kFft; ++i) buf[i] = s + i < len ? x[std::size_t(s + i)] * fft.window[i] : 0.0f;
    fft.Run(buf);
    for (int k = 0; k <= kFft / 2; ++k) power[k] += std::norm(buf[k]);
    ++windows;
    if (s + kFft >= len) break;
  }
  // Bands equally spaced on the mel scale; each the mean power per bin of the bins it holds, so
  // that white noise is level across them. A band narrower than a bin takes its nearest bin.
  auto mel = [](double f) { return 2595 * std::log10(1 + f / 700); };
  auto hz = [](double m) { return 700 * (std::pow(10, m / 2595) - 1); };
  const double binHz = analysisRate / kFft;
  // Normalised so that a full-scale sine reads about 0 dB in its band.
  const double scale = 1.0 / (windows * (kFft * 0.5 / 2) * (kFft * 0.5 / 2));
  for (int b = 0; b < kBands; ++b) {
    const double lo = hz(mel(kLowHz) + (mel(kHighHz) - mel(kLowHz)) * b / kBands);
    const double hi = hz(mel(kLowHz) + (mel(kHighHz) - mel(kLowHz)) * (b + 1) / kBands);
    if (lo >= analysisRate / 2) break;  // above this rate's reach: silence
    int k0 = int(std::ceil(lo / binHz)), k1 = int(std::floor(hi / binHz));
    k1 = std::min(k1, kFft / 2);
    if (k1 < k0) k0 = k1 = std::min(kFft / 2, int(std::lround((lo + hi) / 2 / binHz)));
    double sum = 0;
    for (int k = k0; k <= k1; ++k) sum += power[std::size_t(k)];
    const double db = 10 * std::log10(sum * scale / (k1 - k0 + 1) + 1e-30);
    const double units = std::round((db - kBandFloorDb) / kBandStepDb);
    out->level[b] = std::uint8_t(std::clamp(units, 0.0, 255.0));
  }
}

BandShape ShapeOf(const BandEnergies& bands) {
  BandShape f;
  int top = 0;
  double power = 0;
  for (int b = 0; b < kBands; ++b) {
    top = std::max<int>(top, bands.level[b]);
    power += PowerOfLevel()[bands.level[b]];
  }
  f.level = float(10 * std::log10(power / kBands + 1e-30));
  const float depth = float(top) - kDepthDb / kBandStepDb;
  const auto& table = CosineTable();
  for (int k = 0; k < kCeps; ++k) {
    float sum = 0;
    for (int b = 0; b < kBands; ++b) sum += std::max(float(bands.level[b]), depth) * table[k][b];
    f.ceps[k] = sum;
  }
  return f;
}
