#include "analysis/BandEnergies.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {
constexpr int kFft = 256;

// A radix-2 transform of kFft points with its tables made once, on separate real and imaginary
// arrays (plain arithmetic: no library complex multiply).
struct Transform {
  std::array<float, kFft / 2> cosine, sine;
  std::array<int, kFft> reversed;
  std::array<float, kFft> window;  // Hann
  Transform() {
    for (int k = 0; k < kFft / 2; ++k) {
      cosine[k] = float(std::cos(2 * M_PI * k / kFft));
      sine[k] = float(-std::sin(2 * M_PI * k / kFft));
    }
    for (int i = 0; i < kFft; ++i) {
      int r = 0;
      for (int b = 1, v = i; b < kFft; b <<= 1, v >>= 1) r = (r << 1) | (v & 1);
      reversed[i] = r;
    }
    for (int i = 0; i < kFft; ++i) window[i] = float(0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / kFft));
  }
  void Run(float* re, float* im) const {
    for (int i = 0; i < kFft; ++i)
      if (i < reversed[i]) std::swap(re[i], re[reversed[i]]), std::swap(im[i], im[reversed[i]]);
    for (int len = 2; len <= kFft; len <<= 1) {
      const int half = len / 2, step = kFft / len;
      for (int i = 0; i < kFft; i += len)
        for (int k = 0; k < half; ++k) {
          const float wr = cosine[k * step], wi = sine[k * step];
          const int a = i + k, b = a + half;
          const float vr = re[b] * wr - im[b] * wi, vi = re[b] * wi + im[b] * wr;
          re[b] = re[a] - vr, im[b] = im[a] - vi;
          re[a] += vr, im[a] += vi;
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

// The transform bins of each band at an analysis rate; bands from reach on lie above it.
struct BandBins {
  double rate = 0, lowHz = 0, highHz = 0;
  int reach = 0;
  std::array<int, kBands> first{}, last{};
};

const BandBins& BinsFor(double analysisRate, const BandLayout& layout) {
  thread_local BandBins bins;  // the last rate asked for: a track asks for one rate
  if (bins.rate == analysisRate && bins.lowHz == layout.lowHz && bins.highHz == layout.highHz) return bins;
  const double lowHz = layout.lowHz, highHz = layout.highHz;
  auto mel = [](double f) { return 2595 * std::log10(1 + f / 700); };
  auto hz = [](double m) { return 700 * (std::pow(10, m / 2595) - 1); };
  const double binHz = analysisRate / kFft;
  bins.rate = analysisRate;
  bins.lowHz = layout.lowHz, bins.highHz = layout.highHz;
  bins.reach = 0;
  for (int b = 0; b < kBands; ++b) {
    const double lo = hz(mel(lowHz) + (mel(highHz) - mel(lowHz)) * b / kBands);
    const double hi = hz(mel(lowHz) + (mel(highHz) - mel(lowHz)) * (b + 1) / kBands);
    if (lo >= analysisRate / 2) break;
    int k0 = int(std::ceil(lo / binHz)), k1 = std::min(int(std::floor(hi / binHz)), kFft / 2);
    if (k1 < k0) k0 = k1 = std::min(kFft / 2, int(std::lround((lo + hi) / 2 / binHz)));  // narrower than a bin
    bins.first[b] = k0, bins.last[b] = k1;
    bins.reach = b + 1;
  }
  return bins;
}

// Samples are averaged in groups of this many before the analysis: about 11 to 16 kHz remain.
int Decimation(int rate, const BandLayout& layout) { return std::max(1, rate / layout.leastRate); }
}  // namespace

void ComputeBandEnergies(const float* samples, int n, int rate, BandEnergies* out, const BandLayout& layout) {
  *out = BandEnergies{};
  if (n <= 0 || rate <= 0) return;
  const int factor = Decimation(rate, layout);
  const double analysisRate = double(rate) / factor;
  thread_local std::vector<float> x;  // kept between calls: no allocation per block
  x.assign(std::size_t(n / factor > 0 ? n / factor : 1), 0.0f);
  for (std::size_t i = 0; i < x.size(); ++i) {
    float sum = 0;
    const int from = int(i) * factor, to = std::min(n, from + factor);
    for (int k = from; k < to; ++k) sum += samples[k] == samples[k] ? samples[k] : 0.0f;  // NaN is silence
    x[i] = sum / float(factor);
  }
  // Mean power spectrum of windows side by side inside the block, the last one ending at its end
  // (a block shorter than a window is padded with silence).
  const Transform& fft = TheTransform();
  const int len = int(x.size());
  thread_local std::vector<int> starts;
  starts.clear();
  for (int s = 0;; s += kFft) {
    if (s + kFft > len) s = std::max(0, len - kFft);
    starts.push_back(s);
    if (s + kFft >= len) break;
  }
  const int windows = int(starts.size());
  // Two windows per transform: one as the real part, one as the imaginary; their spectra part
  // by symmetry.
  std::array<float, kFft / 2 + 1> power{};
  std::array<float, kFft> re, im;
  auto windowed = [&](int w, int i) {
    const int at = starts[std::size_t(w)] + i;
    return at < len ? x[std::size_t(at)] * fft.window[std::size_t(i)] : 0.0f;
  };
  for (int w = 0; w < windows; w += 2) {
    const bool pair = w + 1 < windows;
    for (int i = 0; i < kFft; ++i) re[i] = windowed(w, i), im[i] = pair ? windowed(w + 1, i) : 0.0f;
    fft.Run(re.data(), im.data());
    for (int k = 0; k <= kFft / 2; ++k) {
      const int c = (kFft - k) % kFft;
      const float ar = 0.5f * (re[k] + re[c]), ai = 0.5f * (im[k] - im[c]);  // first window
      const float br = 0.5f * (im[k] + im[c]), bi = 0.5f * (re[c] - re[k]);  // second
      power[k] += ar * ar + ai * ai + br * br + bi * bi;
    }
  }
  // Bands equally spaced on the mel scale; each the mean power per bin of the bins it holds, so
  // that white noise is level across them. Normalised so that a full-scale sine reads about 0 dB
  // in its band.
  const BandBins& bins = BinsFor(analysisRate, layout);
  const double scale = 1.0 / (windows * (kFft * 0.5 / 2) * (kFft * 0.5 / 2));
  for (int b = 0; b < bins.reach; ++b) {
    const int k0 = bins.first[b], k1 = bins.last[b];
    double sum = 0;
    for (int k = k0; k <= k1; ++k) sum += power[std::size_t(k)];
    const double db = 10 * std::log10(sum * scale / (k1 - k0 + 1) + 1e-30);
    const double units = std::round((db - kBandFloorDb) / kBandStepDb);
    out->level[b] = std::uint8_t(std::clamp(units, 0.0, 255.0));
  }
}

int BandWindowSamples(int rate, const BandLayout& layout) { return kFft * Decimation(rate, layout); }

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

bool Covers(const BandEnergies& background, const BandEnergies& bands) {
  for (int b = 0; b < kBands; ++b)
    if (background.level[b] > 0 && float(bands.level[b] - background.level[b]) * kBandStepDb <= kCoverDb) return true;
  return false;
}

BandEnergies ThroughBackground(const BandEnergies& bands, int gain, const BandEnergies& background) {
  BandEnergies heard;
  for (int b = 0; b < kBands; ++b) {
    const int raised = bands.level[b] == 0 ? 0 : std::clamp(bands.level[b] + gain, 0, 255);
    const double power = PowerOfLevel()[raised] + PowerOfLevel()[background.level[b]];
    const double units = std::round((10 * std::log10(power) - kBandFloorDb) / kBandStepDb);
    heard.level[b] = std::uint8_t(std::clamp(units, 0.0, 255.0));
  }
  return heard;
}

std::uint32_t AbsentBands(const BandEnergies* blocks, int count) {
  std::array<int, kBands> loudest{};
  for (int i = 0; i < count; ++i)
    for (int b = 0; b < kBands; ++b) loudest[b] = std::max<int>(loudest[b], blocks[i].level[b]);
  const int top = *std::max_element(loudest.begin(), loudest.end());
  std::uint32_t mask = 0;
  for (int b = 0; b < kBands; ++b)
    if (float(top - loudest[b]) * kBandStepDb >= kAbsentDb) mask |= 1u << b;
  return mask;
}

BandEnergies WithoutBands(const BandEnergies& bands, std::uint32_t mask) {
  BandEnergies out = bands;
  for (int b = 0; b < kBands; ++b)
    if (mask >> b & 1) out.level[b] = 0;
  return out;
}
