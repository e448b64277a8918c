#pragma once
// AIFF and AIFC reader and writer (FileFormat 3).
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <vector>

#include "formats/Au.h"
#include "formats/ChunkWalker.h"

class AiffRead : public SampleDataReader {
public:
  // Parses the chunk tree up to the audio, chooses the decompressor, then also reads the chunks
  // behind the audio (COMM and annotations may follow it) and returns to the first sample.
  // fileSize (bytes, 0 = unknown) bounds every chunk. Throws SoundError on a malformed or
  // unsupported file.
  AiffRead(std::istream& in, std::int64_t fileSize);
  ~AiffRead() override;

  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;

  bool IsAifc() const { return formType_ == 0x41494643; }  // "AIFC"
  std::uint32_t CompressionType() const { return compressionType_; }
  std::int64_t DataStart() const { return dataStart_; }

private:
  void NextChunk();
  void TreatChunk(ChunkWalker::Chunk& chunk);
  void ParseComm();
  void ChooseDecompressor();

  std::int64_t fileSize_;
  ChunkWalker walker_;
  std::vector<std::uint8_t> comm_;  // the COMM chunk as read
  std::uint32_t formType_ = 0;
  int commChannels_ = 0;
  std::uint32_t commFrames_ = 0;
  int commBits_ = 0;
  int commRate_ = 0;
  std::uint32_t compressionType_ = 0;
  bool ssndSeen_ = false;
};

class AiffWrite : public FixedSizeWriter {
public:
  // Writes the whole header at once, sized for frameCount frames: AIFF for compressions 16, 17,
  // 18 and 19 (signed PCM of 8, 16, 24, 32 bits), AIFC for 2 (mu-law), 3 (A-law) and 20 (32-bit
  // float). Annotations of kinds 1..4 and items by chunk id are written as chunks (kind items
  // without their trailing zero bytes). Anything else, a channel count outside 1..64, a rate that
  // is not positive or audio too long for the 32-bit sizes throws SoundError before writing.
  AiffWrite(std::ostream& out, std::int64_t frameCount, int channels, int rate, int compression,
            const AnnotationList& annotations);
  // Completes the file: pads the data with zero samples up to the declared size and the pad byte.
  ~AiffWrite() override;
};

// The 80-bit IEEE extended rate of a COMM chunk. Reading keeps the integer part; 0 for a value
// that is no usable rate (negative, below 1, above 2^31 - 1, infinite or NaN).
int RateFromExtended(const std::uint8_t* bytes);
void ExtendedFromRate(double rate, std::uint8_t* bytes);

// The AIFF chunk id of an annotation kind (1..4), 0 when the kind has none.
std::uint32_t AiffIdForKind(int kind);
