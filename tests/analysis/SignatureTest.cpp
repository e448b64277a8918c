#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "analysis/SignatureKernels.h"
#include "analysis/SoundSignature.h"
#include "tests/analysis/TestAudio.h"

namespace {

SoundSignature Signature(const std::vector<float>& v, int rate) {
  SoundSignature s;
  std::uint8_t rgb[3];
  ComputeRangeSignature(v.data(), 0, int(v.size()), 1, rate, &s, rgb);
  return s;
}

SoundSignature FromHex(const char* hex) {
  SoundSignature s;
  for (int i = 0; i < 16; ++i) s.bytes[i] = std::uint8_t(std::strtol(std::string(hex + 2 * i, 2).c_str(), nullptr, 16));
  return s;
}

// A second computation written straight from the definition: decimate, then for each lag count
// the same-signed pairs over the whole decimated array.
SoundSignature PlainSignature(const std::vector<float>& v, int rate) {
  const int factor = rate / 8000;
  std::vector<int> x;
  for (std::size_t i = factor - 1; i < v.size(); i += factor) x.push_back(FloatToInt16(v[i]));
  const int n = int(x.size());
  double sumAbs = 0, sumSq = 0;
  for (int s : x) {
    sumAbs += std::abs(s);
    sumSq += double(s) * s;
  }
  const double mean = n ? sumAbs / n : 0;
  SoundSignature out;
  for (int i = 0; i < 12; ++i) {
    const int lag = int(double(rate) / factor / double(kLagFrequencies[i]) + 0.5);
    double acc = 0;
    for (int t = lag; t < n; ++t)
      if ((x[t] > 0 && x[t - lag] > 0) || (x[t] < 0 && x[t - lag] < 0))
        acc += std::min(std::abs(x[t]), std::abs(x[t - lag]));
    const int pairs = n - lag;
    out.bytes[i] = (pairs < 30 || mean == 0) ? 85 : std::uint8_t(std::int64_t(acc / pairs / mean * 255 + 0.5) % 256);
  }
  if (sumAbs == 0 || n < 2) {
    out.bytes[12] = 0;
  } else {
    const double c = 1 + (std::log(sumSq) - 2 * std::log(sumAbs)) / std::log(double(n));
    out.bytes[12] = c > 0.5 ? 255 : std::uint8_t(int(c * 510 + 0.5));
  }
  out.bytes[15] = 32;
  return out;
}

TEST(Signature, HandWorkedValues) {
  // Silence, any length.
  for (int n : {1, 10, 500}) {
    const SoundSignature s = Signature(std::vector<float>(n, 0.0f), 8000);
    EXPECT_EQ(s, FromHex("55555555555555555555555500000020")) << n;
    EXPECT_EQ(SignatureColor(s), 0xAAAAAAu);
  }
  // A constant 0.25: every lag agrees fully, even level.
  const SoundSignature constant = Signature(std::vector<float>(100, 0.25f), 8000);
  EXPECT_EQ(constant, FromHex("ffffffffffffffffffffffff00000020"));
  EXPECT_EQ(SignatureColor(constant), 0u);
  // +0.25, -0.25, ...: even lags agree, odd lags never do.
  std::vector<float> alt(100);
  for (int i = 0; i < 100; ++i) alt[i] = i % 2 ? -0.25f : 0.25f;
  const SoundSignature alternating = Signature(alt, 8000);
  EXPECT_EQ(alternating, FromHex("ff00ff00ffffff00ffff00ff00000020"));
  EXPECT_EQ(SignatureColor(alternating), 0x333355u);

  EXPECT_FLOAT_EQ(CompareSignatures(&constant, &alternating), 72.72727f);
  const SoundSignature silence = Signature(std::vector<float>(50, 0.0f), 8000);
  EXPECT_EQ(CompareSignatures(&silence, &constant), 0.0f);
  EXPECT_EQ(CompareSignatures(&silence, &alternating), 0.0f);
  EXPECT_EQ(CompareSignatures(&alternating, &alternating), 100.0f);
}

TEST(Signature, LagBytesWrapAbove255) {
  // 11025 Hz: the 250 Hz lag is 44. Loud at both ends, silent between: each loud sample pairs
  // once, the silent ones never, so the ratio to the mean is 75/62 and 308 wraps to 52.
  std::vector<float> v(75, 0.0f);
  for (int t = 0; t <= 30; ++t) v[t] = 0.5f;
  for (int t = 44; t < 75; ++t) v[t] = 0.5f;
  const SoundSignature s = Signature(v, 11025);
  EXPECT_EQ(s.bytes[11], 52);
  EXPECT_EQ(s, PlainSignature(v, 11025));
}

TEST(Signature, ShortStretchesAndLimits) {
  // Fewer than lag + 30 analysed samples: neutral.
  const SoundSignature s = Signature(testaudio::Noise(31, 1), 8000);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(s.bytes[i], 85);
  const SoundSignature one = Signature({0.5f}, 8000);
  EXPECT_EQ(one.bytes[12], 0);

  EXPECT_EQ(CreateSignatureAnalyzer(7999), nullptr);
  SoundSignature kept = FromHex("0102030405060708090a0b0c0d0e0f10");
  std::uint8_t rgb[3] = {9, 9, 9};
  const std::vector<float> noise = testaudio::Noise(100, 2);
  ComputeRangeSignature(noise.data(), 0, 100, 1, 7999, &kept, rgb);
  EXPECT_EQ(kept, FromHex("0102030405060708090a0b0c0d0e0f10"));  // nothing analysed, nothing written
  EXPECT_EQ(rgb[0], 0);                                          // and invalid: black

  SoundSignature invalid = FromHex("ffffffffffffffffffffffff00000020");
  invalid.bytes[15] = 31;
  EXPECT_EQ(CompareSignatures(&invalid, &invalid), -1.0f);
  EXPECT_EQ(CompareSignatures(nullptr, &invalid), -1.0f);
  EXPECT_EQ(SignatureColor(invalid), 0u);

  EXPECT_EQ(FloatToInt16(1.5f), 32767);
  EXPECT_EQ(FloatToInt16(-1.5f), -32768);
  EXPECT_EQ(FloatToInt16(1.0f), 32767);
  EXPECT_EQ(FloatToInt16(-1.0f), -32768);
  EXPECT_EQ(FloatToInt16(0.5f / 32768), 1);  // half away from zero
  EXPECT_EQ(FloatToInt16(-0.5f / 32768), -1);
  EXPECT_EQ(FloatToInt16(std::nanf("")), 0);
}

TEST(Signature, LagsAndDecimation) {
  struct Row { int rate, factor; int lags[12]; };
  const Row rows[] = {
      {8000, 1, {2, 3, 4, 5, 6, 8, 10, 13, 16, 20, 25, 32}},
      {48000, 6, {2, 3, 4, 5, 6, 8, 10, 13, 16, 20, 25, 32}},
      {96000, 12, {2, 3, 4, 5, 6, 8, 10, 13, 16, 20, 25, 32}},
      {22050, 2, {3, 4, 6, 7, 9, 11, 14, 18, 22, 28, 35, 44}},
      {44100, 5, {2, 3, 4, 6, 7, 9, 11, 14, 18, 22, 28, 35}},
  };
  for (const Row& r : rows) {
    SignatureAnalyzer* a = CreateSignatureAnalyzer(r.rate);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->factor, r.factor);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(a->lag[i], r.lags[i]) << r.rate << " lag " << i;
    DestroySignatureAnalyzer(a);
  }
  // 44100 Hz analyses only the 5th, 10th, ... sample: changing the others changes nothing.
  std::vector<float> v = testaudio::Noise(4410, 3);
  const SoundSignature before = Signature(v, 44100);
  for (std::size_t i = 0; i < v.size(); ++i)
    if ((i + 1) % 5) v[i] = 0.9f;
  EXPECT_EQ(Signature(v, 44100), before);
}

TEST(Signature, AgreesWithPlainComputationOnRealAudio) {
  const int rates[] = {8000, 11025, 22050, 44100, 48000, 96000};
  unsigned seed = 10;
  for (int rate : rates) {
    std::vector<std::vector<float>> sounds = {
        testaudio::Noise(rate / 10, seed++), testaudio::Sweep(rate / 10, rate, 100, 6000),
        testaudio::Tone(rate / 20, rate, 440), testaudio::Noise(rate / 10, seed++, 0.01f)};
    for (const auto& v : sounds) {
      const SoundSignature s = Signature(v, rate);
      EXPECT_EQ(s, PlainSignature(v, rate)) << rate;
      // The store's fast block signature gives the same bytes.
      for (int n : {int(v.size()), int(v.size()) - 3, 7, 1}) {
        SoundSignature fast, plain;
        ComputeBlockSignature(v.data(), n, rate, &fast);
        std::uint8_t rgb[3];
        ComputeRangeSignature(v.data(), 0, n, 1, rate, &plain, rgb);
        EXPECT_EQ(fast, plain) << rate << " n=" << n;
      }
    }
  }
  // Extreme and damaged values convert alike in both.
  std::vector<float> odd = testaudio::Noise(4410, 99, 1.6f);
  for (std::size_t i = 0; i < odd.size(); i += 3) odd[i] = (i / 3) % 4 == 0 ? std::nanf("") : ((i / 3) % 4 == 1 ? -1.0f : 1.0f);
  for (int rate : {8000, 44100}) {
    SoundSignature fast, plain;
    std::uint8_t rgb[3];
    ComputeBlockSignature(odd.data(), int(odd.size()), rate, &fast);
    ComputeRangeSignature(odd.data(), 0, int(odd.size()), 1, rate, &plain, rgb);
    EXPECT_EQ(fast, plain) << rate;
  }
  // Stereo frames are averaged before analysis.
  std::vector<float> stereo(2000), mono(1000);
  const std::vector<float> l = testaudio::Noise(1000, 77), r = testaudio::Sweep(1000, 8000, 300, 900);
  for (int i = 0; i < 1000; ++i) {
    stereo[2 * i] = l[i];
    stereo[2 * i + 1] = r[i];
    mono[i] = (l[i] + r[i]) * 0.5f;
  }
  SoundSignature s2;
  std::uint8_t rgb[3];
  ComputeRangeSignature(stereo.data(), 0, 1000, 2, 8000, &s2, rgb);
  EXPECT_EQ(s2, Signature(mono, 8000));
}

TEST(Signature, PackedComparisonEqualsPlain) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> byte(0, 255), near(60, 110);
  for (int k = 0; k < 20000; ++k) {
    SoundSignature a, b;
    for (int i = 0; i < 13; ++i) {
      a.bytes[i] = std::uint8_t(k % 2 ? byte(rng) : near(rng));
      b.bytes[i] = std::uint8_t(k % 3 ? byte(rng) : near(rng));
    }
    if (k % 7 == 0) for (int i = 0; i < 12; ++i) b.bytes[i] = 85;
    a.bytes[15] = 32;
    b.bytes[15] = k % 101 == 0 ? 0 : 32;
    PackedSignature pa, pb;
    PackSignature(a, &pa);
    PackSignature(b, &pb);
    ASSERT_EQ(ComparePacked(pa, pb), CompareSignatures(&a, &b)) << k;
    ASSERT_EQ(CompareSignatures(&a, &b), CompareSignatures(&b, &a));
  }
}

}  // namespace
