#pragma once
// Creative Voice (VOC) reader (FileFormat 8): a chain of typed blocks carrying sound data,
// silence, repeat loops, markers and text.
#include <cstdint>
#include <istream>
#include <memory>

#include "formats/AudioAbstract.h"

class VocRead : public AudioAbstract {
public:
  // Reads the header and finds the sound parameters in the first blocks that state them, then
  // returns to the first block. fileSize (bytes, 0 = unknown) bounds every block. Throws
  // SoundError on a malformed or unsupported file.
  VocRead(std::istream& in, std::int64_t fileSize);
  ~VocRead() override;

  int PullSamples(float* out, int count) override;
  int PushSamples(const float*, int) override { return 0; }
  // Reads at most the bytes left in the current sound block; a block cut short by the end of
  // the file throws "Premature end to VOC file".
  int PullBytes(std::uint8_t* buffer, int length) override;
  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;

  // Repeat loops and silence may expand a small file; beyond this many samples (on top of one
  // per byte of the file) the file is refused.
  static constexpr std::int64_t kMaxExpansion = std::int64_t(1) << 26;
  static constexpr int kMaxRepeatDepth = 5;

private:
  enum : int { kEnd = 0, kSound = 1, kContinuation = 2, kSilence = 3, kMarker = 4, kText = 5,
               kRepeat = 6, kEndRepeat = 7, kExtended = 8, kNewSound = 9 };

  // Reads the next block header and treats the block. With scanning set (while the constructor
  // looks for the parameters) nothing is reported and loops are not followed.
  void NextBlock(bool scanning);
  bool EndsEightBytesShort(std::int64_t blockEnd);
  // Bytes of the parameters at the start of a block of this type.
  static int FixedFieldBytes(int type);
  // The file ends here: the block walk is over.
  void EndOfData();
  void TakeParameters(int rate, int channels, int bits, int format);
  void CreateDecompressor();
  std::int64_t Position();
  void CountSamples(std::int64_t n);

  std::istream& in_;
  std::int64_t fileSize_;
  std::int64_t firstBlock_ = 0;
  int blockType_ = kEnd;
  std::int64_t remaining_ = 0;  // bytes of a sound block, or zero samples of a silence block
  int repeatDepth_ = -1;
  int repeatCount_[kMaxRepeatDepth] = {};
  std::int64_t repeatStart_[kMaxRepeatDepth] = {};
  int rate_ = -1, vocChannels_ = -1, bits_ = -1, format_ = -1;
  std::unique_ptr<AbstractDecompressor> decompressor_;
  std::int64_t samplesDelivered_ = 0;
  std::int64_t blocksRead_ = 0;
};
