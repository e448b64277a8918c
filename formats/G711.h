#pragma once
// ITU-T G.711 mu-law and A-law codecs. The decoders expand through a 256-entry table built once
// per process; both directions use their own block loops (one byte per sample).
#include "formats/AudioAbstract.h"

class DecompressG711MuLaw : public AbstractDecompressor {
public:
  explicit DecompressG711MuLaw(AudioAbstract& source);
  int PullSamples(float* out, int count) override;
  std::int64_t ByteCountFor(std::int64_t samples) const override { return samples; }
  int BitsPerSample() const override { return 8; }
};

class DecompressG711ALaw : public AbstractDecompressor {
public:
  explicit DecompressG711ALaw(AudioAbstract& source);
  int PullSamples(float* out, int count) override;
  std::int64_t ByteCountFor(std::int64_t samples) const override { return samples; }
  int BitsPerSample() const override { return 8; }
};

class CompressG711MuLaw : public AbstractCompressor {
public:
  using AbstractCompressor::AbstractCompressor;
  int PushSamples(const float* in, int count) override;
  std::int64_t ByteCountFor(std::int64_t samples) const override { return samples; }
};

class CompressG711ALaw : public AbstractCompressor {
public:
  using AbstractCompressor::AbstractCompressor;
  int PushSamples(const float* in, int count) override;
  std::int64_t ByteCountFor(std::int64_t samples) const override { return samples; }
};

// One value each way, on 16-bit linear samples.
std::uint8_t MuLawCompress(std::int32_t value);
std::int32_t MuLawExpand(std::uint8_t code);
std::uint8_t ALawCompress(std::int32_t value);
std::int32_t ALawExpand(std::uint8_t code);
