#pragma once
// 4-bit ADPCM decoders: IMA ADPCM in WAVE (format tag 0x11), Apple IMA4 in AIFC ("ima4") and
// MS ADPCM in WAVE (format tag 2), one or two channels each. They read whole blocks through
// their source's PullBytes, decode them into 16-bit values per channel and hand the samples out
// interleaved, each divided by 32768. A short block ends the data.
#include <cstdint>
#include <limits>
#include <vector>

#include "formats/AudioAbstract.h"

// What the three decoders share: a block of decoded 16-bit frames handed out interleaved, and
// seeking by whole blocks. A seek lands on the start of the block that holds the wanted sample;
// the frames before it in that block are decoded and dropped, so the next pull starts exactly
// at the wanted sample.
class AdpcmBlockDecompressor : public AbstractDecompressor {
public:
  int PullSamples(float* out, int count) override;
  // Called by seeking: remembers where inside its block the seek wants to go.
  std::int64_t ByteCountFor(std::int64_t samples) const override;
  int BitsPerSample() const override { return 4; }

  // Fits the decoder to a data run of dataBytes and returns the bytes of its whole blocks (a
  // torn last block is not decoded). declaredFrames is what the file says the data holds (a
  // fact chunk, 0 = nothing): when it falls inside the last block, the padding after it is not
  // delivered; any other count is ignored and every block is decoded.
  std::int64_t FitToData(std::int64_t dataBytes, std::int64_t declaredFrames);
  // The frames the decoder delivers from the start of the data (after FitToData).
  std::int64_t Frames() const { return frameLimit_; }
  int FramesPerBlock() const { return framesPerBlock_; }
  int BlockBytes() const { return blockBytes_; }

protected:
  AdpcmBlockDecompressor(AudioAbstract& source, int channels, int framesPerBlock, int blockBytes);
  // Fills samples_ with the next block (framesPerBlock_ frames, channel c at c x framesPerBlock_)
  // from block_; false when the data ends before a whole block.
  virtual bool DecodeBlock() = 0;
  // Reads one whole block into block_; false on a short read.
  bool ReadBlock();

  int channels_;
  int framesPerBlock_;
  int blockBytes_;
  std::vector<std::uint8_t> block_;
  std::vector<std::int16_t> samples_;

private:
  int readPosition_ = 0;
  int available_ = 0;             // frames of the current block not yet delivered
  std::int64_t framePosition_ = 0;  // frame of the data the next pull delivers
  std::int64_t frameLimit_ = std::numeric_limits<std::int64_t>::max();
  mutable bool seekPending_ = false;
  mutable std::int64_t seekFrame_ = 0;
};

// IMA ADPCM step index and predictor of one channel.
struct ImaAdpcmState {
  std::int32_t predictor = 0;
  std::int32_t index = 0;
  // Decodes one nibble; the new predictor is the output sample.
  std::int16_t Decode(int nibble);
};

// IMA ADPCM in WAVE. A block holds, per channel, a 4-byte header (the first sample and the step
// index) and then groups of 4 bytes per channel, 8 samples each. samplesPerBlock - 1 must be a
// multiple of 8; blockAlign (the fmt chunk's) must hold the block, and any bytes beyond it are
// skipped. Hostile values throw SoundError at construction.
class DecompressImaAdpcmMs : public AdpcmBlockDecompressor {
public:
  DecompressImaAdpcmMs(AudioAbstract& source, int samplesPerBlock, int channels, int blockAlign);

  // The bytes of the block's own content, channels x ((samplesPerBlock + 7) / 2).
  static std::int64_t BlockContentBytes(int samplesPerBlock, int channels);

protected:
  bool DecodeBlock() override;

private:
  ImaAdpcmState state_[2];
};

// Apple IMA4 in AIFC: packets of 34 bytes per channel (channel packets alternate), 64 samples
// each, with the state carried from packet to packet.
class DecompressImaAdpcmApple : public AdpcmBlockDecompressor {
public:
  static constexpr int kPacketBytes = 34;
  static constexpr int kPacketFrames = 64;

  DecompressImaAdpcmApple(AudioAbstract& source, int channels);

protected:
  bool DecodeBlock() override;

private:
  ImaAdpcmState state_[2];
};

// MS ADPCM in WAVE. coefficientPairs gives the fmt chunk's first and second coefficient of each
// pair (at most 256); a block whose predictor index is beyond them throws SoundError.
class DecompressMsAdpcm : public AdpcmBlockDecompressor {
public:
  static constexpr int kMaxCoefficientPairs = 256;

  DecompressMsAdpcm(AudioAbstract& source, int samplesPerBlock, int channels, int blockAlign,
                    const std::vector<std::int16_t>& firstCoefficients,
                    const std::vector<std::int16_t>& secondCoefficients);

protected:
  bool DecodeBlock() override;

private:
  std::vector<std::int16_t> coef1_;
  std::vector<std::int16_t> coef2_;
};
