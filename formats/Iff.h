#pragma once
// IFF 8SVX reader (FileFormat 6): 8-bit mono samples, plain or in one of the two 8SVX delta
// encodings; also plain stereo, which a CHAN chunk announces.
#include <cstdint>
#include <istream>
#include <memory>
#include <vector>

#include "formats/AudioAbstract.h"
#include "formats/ChunkWalker.h"

// The 8SVX delta encodings: each nibble (high first) indexes a table of steps that are added,
// times 256, to a running 16-bit value that starts at 0. Two samples per byte.
class DecompressDpcm : public AbstractDecompressor {
public:
  // Delivers count samples even when count is odd: the second sample of a split byte waits.
  int PullSamples(float* out, int count) override;
  std::int64_t ByteCountFor(std::int64_t samples) const override { return samples / 2; }
  int BitsPerSample() const override { return 4; }

protected:
  DecompressDpcm(AudioAbstract& source, const std::int8_t (&steps)[16]) : AbstractDecompressor(source), steps_(steps) {}

private:
  float Step(int nibble);

  const std::int8_t (&steps_)[16];  // indexed by (nibble + 8) mod 16
  std::int16_t value_ = 0;
  bool hasPending_ = false;
  float pending_ = 0;
};

class DecompressDpcmFibonacci : public DecompressDpcm {
public:
  explicit DecompressDpcmFibonacci(AudioAbstract& source);
};

class DecompressDpcmExponential : public DecompressDpcm {
public:
  explicit DecompressDpcmExponential(AudioAbstract& source);
};

class IffRead : public AudioAbstract {
public:
  // Walks the chunks up to the BODY and chooses the decompressor. fileSize (bytes, 0 = unknown)
  // bounds every chunk. Throws SoundError on a malformed or unsupported file.
  IffRead(std::istream& in, std::int64_t fileSize);
  ~IffRead() override;

  int PullSamples(float* out, int count) override;
  int PushSamples(const float*, int) override { return 0; }
  // Reads at most the BODY bytes left; a stereo body comes out interleaved.
  int PullBytes(std::uint8_t* buffer, int length) override;
  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;

private:
  void NextChunk();
  void TreatChunk(ChunkWalker::Chunk& chunk);
  void TreatBody(ChunkWalker::Chunk& chunk);
  void ChooseDecompressor();
  std::int64_t Position();

  std::istream& in_;
  std::int64_t fileSize_;
  std::unique_ptr<AbstractDecompressor> decompressor_;
  std::vector<std::uint8_t> vhdr_;
  int rate_ = 0;
  bool bodySeen_ = false;
  std::int64_t bodyRemaining_ = 0;  // BODY bytes still to read
  // A stereo body holds all left samples, then all right ones; they are read side by side.
  std::uint32_t chanValue_ = 0;
  bool stereo_ = false;
  std::int64_t leftStart_ = 0;
  std::int64_t framesRead_ = 0;
  std::int64_t frames_ = 0;
  ChunkWalker walker_;
};
