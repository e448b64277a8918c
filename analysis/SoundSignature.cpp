#include "analysis/SoundSignature.h"

#include <cmath>
#include <cstdlib>
#include <new>

const float kLagFrequencies[kSignatureLags] = {4000.0f, 2828.427f, 2000.0f, 1587.401f,
                                               1259.921f, 1000.0f,  793.701f, 629.961f,
                                               500.0f,    396.85f,  314.98f,  250.0f};
const signed char kColorChannelOfLag[kSignatureLags] = {0, 0, 1, 1, 1, 2, 2, 2, -1, -1, -1, -1};

SignatureAnalyzer* CreateSignatureAnalyzer(int rate) {
  if (rate < 8000) return nullptr;
  auto* a = static_cast<SignatureAnalyzer*>(std::calloc(1, sizeof(SignatureAnalyzer)));
  if (!a) return nullptr;
  a->factor = static_cast<std::int16_t>(rate / 8000);
  const double decimatedRate = double(rate) / a->factor;
  for (int i = 0; i < kSignatureLags; ++i)
    a->lag[i] = static_cast<std::int16_t>(decimatedRate / double(kLagFrequencies[i]) + 0.5);
  return a;
}

void AnalyzerAddSample(SignatureAnalyzer* a, int value) {
  if (!a) return;
  if (++a->phase < a->factor) return;
  a->phase = 0;
  const std::int8_t s = value < 0 ? -1 : (value > 0 ? 1 : 0);
  const std::int32_t m = value < 0 ? -value : value;
  const std::int32_t count = a->count;
  for (int i = 0; i < kSignatureLags; ++i) {
    if (a->lag[i] > count) continue;
    const SignatureAnalyzer::RingEntry& e = a->ring[(count - a->lag[i]) & 63];
    if (e.sign == s) a->acc[i] += e.magnitude < m ? e.magnitude : m;
  }
  a->sumAbs += m;
  a->sumSq += double(value) * double(value);
  a->ring[count & 63] = {s, m};
  a->count = count + 1;
}

void AnalyzerFinish(SignatureAnalyzer* a, SoundSignature* out) {
  if (!a) return;
  if (!out) {  // nothing to write, but the analyzer is still finished
    DestroySignatureAnalyzer(a);
    return;
  }
  const double mean = a->count ? a->sumAbs / a->count : 0.0;
  for (int i = 0; i < kSignatureLags; ++i) {
    const int pairs = a->count - a->lag[i];
    if (pairs < 30 || mean == 0) {
      out->bytes[i] = kNeutralLagByte;
    } else {
      // Not clamped: a ratio above 1 wraps modulo 256.
      const double r = a->acc[i] / pairs / mean * 255.0 + 0.5;
      out->bytes[i] = static_cast<std::uint8_t>(static_cast<std::int64_t>(r) & 0xFF);
    }
  }
  if (a->sumAbs == 0 || a->count < 2) {
    out->bytes[12] = 0;
  } else {
    const double c = 1.0 + (std::log(a->sumSq) - 2.0 * std::log(a->sumAbs)) / std::log(double(a->count));
    out->bytes[12] = c > 0.5 ? 255 : static_cast<std::uint8_t>(static_cast<int>(c * 510.0 + 0.5));
  }
  out->bytes[13] = 0;
  out->bytes[14] = 0;
  out->bytes[15] = kSignatureMarker;
  DestroySignatureAnalyzer(a);
}

void DestroySignatureAnalyzer(SignatureAnalyzer* a) { std::free(a); }

bool IsValidSignature(const SoundSignature& s) { return s.bytes[15] == kSignatureMarker; }

float CompareSignatures(const SoundSignature* a, const SoundSignature* b) {
  if (!a || !b || !IsValidSignature(*a) || !IsValidSignature(*b)) return -1.0f;
  int total = 0, agree = 0;
  for (int i = 0; i < kSignatureLags; ++i) {
    const int da = int(a->bytes[i]) - kNeutralLagByte;
    const int db = int(b->bytes[i]) - kNeutralLagByte;
    const int ma = std::abs(da), mb = std::abs(db);
    total += ma + mb;
    if ((da >= 0) == (db >= 0)) agree += ma < mb ? ma : mb;
  }
  const double base = total == 0 ? 100.0 : 200.0 * agree / total;
  float score = static_cast<float>(base - 0.5 * std::abs(int(a->bytes[12]) - int(b->bytes[12])));
  return score < 0 ? 0.0f : score;
}

void SignatureToColor(const SoundSignature* signature, std::uint8_t out[3]) {
  if (!out) return;
  if (!signature || !IsValidSignature(*signature)) {
    out[0] = out[1] = out[2] = 0;
    return;
  }
  for (int k = 0; k < 3; ++k) {
    double weighted = 0, weight = 0;
    for (int i = 0; i < kSignatureLags; ++i) {
      if (kColorChannelOfLag[i] != k) continue;
      const int b = signature->bytes[i];
      const int d = std::abs(b - kNeutralLagByte);
      weighted += double(b) * d;
      weight += d;
    }
    const int value = weight == 0 ? kNeutralLagByte : static_cast<int>(weighted / weight + 0.5);
    out[k] = static_cast<std::uint8_t>(255 - value);
  }
}

BlockColor PackColor(const std::uint8_t rgb[3]) {
  return BlockColor(rgb[0]) | (BlockColor(rgb[1]) << 8) | (BlockColor(rgb[2]) << 16);
}

BlockColor SignatureColor(const SoundSignature& signature) {
  std::uint8_t rgb[3];
  SignatureToColor(&signature, rgb);
  return PackColor(rgb);
}

void ComputeRangeSignature(const float* samples, int first, int end, int channels, int rate,
                           SoundSignature* signatureOut, std::uint8_t colorOut[3]) {
  if (end <= first) return;
  SignatureAnalyzer* a = CreateSignatureAnalyzer(rate);
  if (channels == 2) {
    for (int t = first; t < end; ++t)
      AnalyzerAddSample(a, FloatToInt16((samples[2 * t] + samples[2 * t + 1]) * 0.5f));
  } else {
    for (int t = first; t < end; ++t) AnalyzerAddSample(a, FloatToInt16(samples[t]));
  }
  if (a) {
    AnalyzerFinish(a, signatureOut);  // destroys the analyzer
  }
  SignatureToColor(signatureOut, colorOut);
}
