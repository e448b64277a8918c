#pragma once
// RIFF WAVE reader and writer (FileFormat 1); the reader also reads RF64 (and BW64), the WAVE
// of 64-bit sizes.
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <vector>

#include "formats/AudioAbstract.h"
#include "formats/ChunkWalker.h"
#include "formats/SampleData.h"

class WaveRead : public SampleDataReader {
public:
  // Parses the chunk tree and chooses the decompressor; throws SoundError on a malformed or
  // unsupported file. fileSize (bytes, 0 = unknown) bounds every chunk length. With
  // readTrailingChunks the reader may seek: it walks the whole file (annotations behind the
  // audio) and returns to the data; without it the stream only ever moves forwards.
  WaveRead(std::istream& in, std::int64_t fileSize, bool readTrailingChunks);
  ~WaveRead() override;

  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;
  std::istream* SourceStream() override { return &in_; }
  std::int64_t SourceSize() override { return fileSize_; }

  int FormatTag() const { return formatTag_; }
  std::int64_t DataStart() const { return dataStart_; }
  std::int64_t DataLength() const { return dataLength_; }
  // What the data chunk's header announces; more than DataLength when the file was cut short.
  std::int64_t DeclaredDataLength() const { return declaredDataLength_; }

private:
  void NextChunk();
  void TreatChunk(ChunkWalker::Chunk& chunk);
  void ChooseDecompressor();

  std::int64_t fileSize_;
  bool readTrailingChunks_;
  ChunkWalker walker_;
  std::vector<std::uint8_t> fmt_;  // the fmt chunk as read
  bool fmtSeen_ = false;
  int formatTag_ = 0;
  int fmtChannels_ = 0;
  int fmtRate_ = 0;
  int fmtBits_ = 0;
  std::int64_t factSampleCount_ = 0;
  bool dataSeen_ = false;
  std::int64_t ds64DataSize_ = -1;  // RF64: the data size that does not fit the data chunk
  bool lengthUnknown_ = false;  // streamed without a size: read to the end of the stream
  std::int64_t declaredDataLength_ = 0;
};

class WaveWrite : public FixedSizeWriter {
public:
  // Writes the whole header at once, sized for frameCount frames. compression is one of 2, 3,
  // 16..20 (CompressionCode); anything else, a channel count outside 1..64, a rate that is not
  // positive or audio too long for a RIFF file throws SoundError.
  WaveWrite(std::ostream& out, std::int64_t frameCount, int channels, int rate, int compression,
            const AnnotationList& annotations);
  // Completes the file: pads the data with zero samples up to the declared size, then writes the
  // LIST/INFO and DISP chunks. Stream failures show in the stream's state.
  ~WaveWrite() override;

  std::int64_t HeaderSize() const { return dataStart_ - headerStart_; }

private:
  void CreateCompressor();
  void CompleteWave();
  void WriteChunk(std::uint32_t id, const Annotation& item);

  std::int64_t infoTotal_ = 0;
  std::int64_t dispTotal_ = 0;
  std::int64_t headerStart_ = 0;
};

// INFO chunk ids and their annotation kinds (1..6); 0 when the id is no INFO id or the kind has none.
int InfoKindForId(std::uint32_t id);
std::uint32_t InfoIdForKind(int kind);
