#pragma once
// The 16-byte sound signature: how strongly a stretch of audio agrees with itself after twelve
// lags (4000 Hz down to 250 Hz periods at about 8000 analysed samples per second), plus an
// impulsiveness byte. It colours the blocks of a track, scores similarity and feeds the web search.
#include <cstdint>

struct SoundSignature {
  std::uint8_t bytes[16] = {};
  std::uint8_t& operator[](int i) { return bytes[i]; }
  std::uint8_t operator[](int i) const { return bytes[i]; }
  bool operator==(const SoundSignature&) const = default;
};

// 0x00BBGGRR, red in the lowest byte, as every colour of the display.
using BlockColor = std::uint32_t;

// (user value, label text, percent 0..100) returns whether to go on.
using ProgressCallback = bool (*)(std::intptr_t user, const char* text, int percent);

inline constexpr int kSignatureLags = 12;
inline constexpr int kSignatureMarker = 32;  // byte 15 of every valid signature
inline constexpr std::uint8_t kNeutralLagByte = 85;
extern const float kLagFrequencies[kSignatureLags];
extern const signed char kColorChannelOfLag[kSignatureLags];

struct SignatureAnalyzer {
  struct RingEntry {
    std::int8_t sign;
    std::int32_t magnitude;
  };
  std::int16_t factor;
  std::int16_t phase;
  std::int16_t lag[kSignatureLags];
  std::int32_t count;
  RingEntry ring[64];
  double acc[kSignatureLags];
  double sumAbs;
  double sumSq;
};

// None when rate is below 8000 Hz.
SignatureAnalyzer* CreateSignatureAnalyzer(int rate);
void AnalyzerAddSample(SignatureAnalyzer* analyzer, int value);
// Writes the signature and destroys the analyzer. Does nothing if either is null.
void AnalyzerFinish(SignatureAnalyzer* analyzer, SoundSignature* out);
void DestroySignatureAnalyzer(SignatureAnalyzer* analyzer);

// 0..100, or -1 when either signature is missing or invalid. Symmetric.
float CompareSignatures(const SoundSignature* a, const SoundSignature* b);
// out: red, green, blue; (0, 0, 0) for a missing or invalid signature.
void SignatureToColor(const SoundSignature* signature, std::uint8_t out[3]);
BlockColor PackColor(const std::uint8_t rgb[3]);
BlockColor SignatureColor(const SoundSignature& signature);

// Frames first..end-1 of an interleaved float array of 1 or 2 channels.
void ComputeRangeSignature(const float* samples, int first, int end, int channels, int rate,
                           SoundSignature* signatureOut, std::uint8_t colorOut[3]);

// Round half away from zero, clamped: +1.0 gives 32767, -1.0 gives -32768.
inline std::int16_t FloatToInt16(float v) {
  if (v != v) return 0;  // NaN from a damaged file plays as silence
  if (v < 0) {
    double r = static_cast<double>(v) * 32768.0 - 0.5;
    return r <= -32768.0 ? std::int16_t(-32768) : static_cast<std::int16_t>(static_cast<int>(r));
  }
  double r = static_cast<double>(v) * 32768.0 + 0.5;
  return r >= 32767.0 ? std::int16_t(32767) : static_cast<std::int16_t>(static_cast<int>(r));
}

bool IsValidSignature(const SoundSignature& s);
