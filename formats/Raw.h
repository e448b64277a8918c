#pragma once
// Headerless sample data whose layout the user states (FileFormat 9), and the big-endian 32-bit
// codecs that raw, AU and AIFF files share.
#include <cstdint>
#include <istream>
#include <memory>

#include "formats/AudioAbstract.h"
#include "formats/PcmCodecs.h"

// A little-endian 32-bit codec applied to big-endian data: each sample's bytes are reversed and
// handed to the little-endian codec, so both byte orders decode and encode exactly alike.
template <class LsbDecoder>
class BigEndian32Decompressor : public LsbDecoder {
public:
  using LsbDecoder::LsbDecoder;
  void DecodeSamples(const std::uint8_t* in, float* out, int count) override {
    std::uint8_t swapped[4 * kPiece];
    for (int done = 0; done < count; done += kPiece) {
      const int n = count - done < kPiece ? count - done : kPiece;
      ReverseEach(in + 4 * done, swapped, n);
      LsbDecoder::DecodeSamples(swapped, out + done, n);
    }
  }

private:
  static constexpr int kPiece = 1024;
  static void ReverseEach(const std::uint8_t* in, std::uint8_t* out, int n) {
    for (int i = 0; i < 4 * n; i += 4) {
      out[i] = in[i + 3];
      out[i + 1] = in[i + 2];
      out[i + 2] = in[i + 1];
      out[i + 3] = in[i];
    }
  }
};

template <class LsbEncoder>
class BigEndian32Compressor : public LsbEncoder {
public:
  using LsbEncoder::LsbEncoder;
  void EncodeSamples(const float* in, std::uint8_t* out, int count) override {
    LsbEncoder::EncodeSamples(in, out, count);
    for (int i = 0; i < 4 * count; i += 4) {
      std::uint8_t b0 = out[i], b1 = out[i + 1];
      out[i] = out[i + 3];
      out[i + 1] = out[i + 2];
      out[i + 2] = b1;
      out[i + 3] = b0;
    }
  }
};

using DecompressPcm32MsbSigned = BigEndian32Decompressor<DecompressPcm32LsbSigned>;
using DecompressPcm32FloatMsb = BigEndian32Decompressor<DecompressPcm32Float>;
using CompressPcm32MsbSigned = BigEndian32Compressor<CompressPcm32LsbSigned>;
using CompressPcm32FloatMsb = BigEndian32Compressor<CompressPcm32Float>;

class RawRead : public AudioAbstract {
public:
  // The data starts at offset 0 and runs to the end of the file. compression is 16 (8-bit PCM,
  // signed or not), 17 (16-bit), 18 (24-bit), 19 (32-bit), 20 (32-bit float), 2 (mu-law) or
  // 3 (A-law), with bits to match; the multi-byte ones take bigEndian. Only the first two of up
  // to 12 channels are delivered. Any other layout, channel count or a rate that is not positive
  // throws SoundError.
  RawRead(std::istream& in, std::int64_t fileSize, int channels, int rate, int bits, int compression, bool bigEndian,
          bool isSigned);
  ~RawRead() override;

  int PullSamples(float* out, int count) override;
  int PushSamples(const float*, int) override { return 0; }
  int PullBytes(std::uint8_t* buffer, int length) override;
  // Counts the delivered samples (two per frame for a wider file).
  bool SeekToSample(std::int64_t sampleIndex) override;

  static constexpr int kMaxChannels = 12;

private:
  int PullWideFrames(float* out, int count);

  std::istream& in_;
  int fileChannels_;
  int extraChannels_;  // channels beyond the two that are delivered
  std::unique_ptr<AbstractDecompressor> decompressor_;
};
