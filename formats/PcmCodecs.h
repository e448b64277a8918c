#pragma once
// Linear PCM and 32-bit float sample codecs over the framework's block loops. Integer encoders
// round halves away from zero and clamp to the field; NaN encodes as silence.
#include "formats/AudioAbstract.h"

// A decoder or encoder whose samples all occupy Bits / 8 bytes.
template <int Bits>
class FixedWidthDecompressor : public AbstractDecompressor {
public:
  using AbstractDecompressor::AbstractDecompressor;
  std::int64_t ByteCountFor(std::int64_t samples) const override { return samples * (Bits / 8); }
  int BitsPerSample() const override { return Bits; }
};

template <int Bits>
class FixedWidthCompressor : public AbstractCompressor {
public:
  using AbstractCompressor::AbstractCompressor;
  std::int64_t ByteCountFor(std::int64_t samples) const override { return samples * (Bits / 8); }
  int BitsPerSample() const override { return Bits; }
};

// signed byte s: s / 128
class DecompressPcm8Signed : public FixedWidthDecompressor<8> {
public:
  using FixedWidthDecompressor::FixedWidthDecompressor;
  void DecodeSamples(const std::uint8_t* in, float* out, int count) override;
};

// unsigned byte u: u / 128 - 1
class DecompressPcm8Unsigned : public FixedWidthDecompressor<8> {
public:
  using FixedWidthDecompressor::FixedWidthDecompressor;
  void DecodeSamples(const std::uint8_t* in, float* out, int count) override;
};

// v / 32768, most significant byte first
class DecompressPcm16MsbSigned : public FixedWidthDecompressor<16> {
public:
  using FixedWidthDecompressor::FixedWidthDecompressor;
  void DecodeSamples(const std::uint8_t* in, float* out, int count) override;
};

// v / 32768, least significant byte first
class DecompressPcm16LsbSigned : public FixedWidthDecompressor<16> {
public:
  using FixedWidthDecompressor::FixedWidthDecompressor;
  void DecodeSamples(const std::uint8_t* in, float* out, int count) override;
};

// v / 8388608, most significant byte first
class DecompressPcm24MsbSigned : public FixedWidthDecompressor<24> {
public:
  using FixedWidthDecompressor::FixedWidthDecompressor;
  void DecodeSamples(const std::uint8_t* in, float* out, int count) override;
};

// v / 8388608, least significant byte first
class DecompressPcm24LsbSigned : public FixedWidthDecompressor<24> {
public:
  using FixedWidthDecompressor::FixedWidthDecompressor;
  void DecodeSamples(const std::uint8_t* in, float* out, int count) override;
};

// v / 2147483648, least significant byte first
class DecompressPcm32LsbSigned : public FixedWidthDecompressor<32> {
public:
  using FixedWidthDecompressor::FixedWidthDecompressor;
  void DecodeSamples(const std::uint8_t* in, float* out, int count) override;
};

// little-endian IEEE single clamped to -1..1; NaN gives -1
class DecompressPcm32Float : public FixedWidthDecompressor<32> {
public:
  using FixedWidthDecompressor::FixedWidthDecompressor;
  void DecodeSamples(const std::uint8_t* in, float* out, int count) override;
};

// IEEE double, little-endian (Lsb) or big-endian (Msb), clamped to -1..1 as the single-precision
// decoder clamps; NaN gives -1. The stages report these as float files of 64-bit resolution.
class DecompressPcm64Float : public FixedWidthDecompressor<64> {
public:
  using FixedWidthDecompressor::FixedWidthDecompressor;
  void DecodeSamples(const std::uint8_t* in, float* out, int count) override;
};

class DecompressPcm64FloatMsb : public FixedWidthDecompressor<64> {
public:
  using FixedWidthDecompressor::FixedWidthDecompressor;
  void DecodeSamples(const std::uint8_t* in, float* out, int count) override;
};

// round(x * 128), -128..127
class CompressPcm8Signed : public FixedWidthCompressor<8> {
public:
  using FixedWidthCompressor::FixedWidthCompressor;
  void EncodeSamples(const float* in, std::uint8_t* out, int count) override;
};

// truncate((x + 1) * 128 + 0.5), 0..255
class CompressPcm8Unsigned : public FixedWidthCompressor<8> {
public:
  using FixedWidthCompressor::FixedWidthCompressor;
  void EncodeSamples(const float* in, std::uint8_t* out, int count) override;
};

// FloatToPcm16, most significant byte first
class CompressPcm16MsbSigned : public FixedWidthCompressor<16> {
public:
  using FixedWidthCompressor::FixedWidthCompressor;
  void EncodeSamples(const float* in, std::uint8_t* out, int count) override;
};

// FloatToPcm16, least significant byte first
class CompressPcm16LsbSigned : public FixedWidthCompressor<16> {
public:
  using FixedWidthCompressor::FixedWidthCompressor;
  void EncodeSamples(const float* in, std::uint8_t* out, int count) override;
};

// FloatToPcm24, most significant byte first
class CompressPcm24MsbSigned : public FixedWidthCompressor<24> {
public:
  using FixedWidthCompressor::FixedWidthCompressor;
  void EncodeSamples(const float* in, std::uint8_t* out, int count) override;
};

// FloatToPcm24, least significant byte first
class CompressPcm24LsbSigned : public FixedWidthCompressor<24> {
public:
  using FixedWidthCompressor::FixedWidthCompressor;
  void EncodeSamples(const float* in, std::uint8_t* out, int count) override;
};

// FloatToPcm32, least significant byte first
class CompressPcm32LsbSigned : public FixedWidthCompressor<32> {
public:
  using FixedWidthCompressor::FixedWidthCompressor;
  void EncodeSamples(const float* in, std::uint8_t* out, int count) override;
};

// the float's own bytes, little-endian, no clamping
class CompressPcm32Float : public FixedWidthCompressor<32> {
public:
  using FixedWidthCompressor::FixedWidthCompressor;
  void EncodeSamples(const float* in, std::uint8_t* out, int count) override;
};

// The per-sample integer conversions, shared with the G.711 encoders.
std::int32_t FloatToPcm8(float x);    // -128..127
std::int32_t FloatToPcm16(float x);   // -32768..32767
std::int32_t FloatToPcm24(float x);   // the low 24 bits are the two's complement code
std::int32_t FloatToPcm32(float x);
