#pragma once
// Sun AU (".au", ".snd") reader and writer (FileFormat 2).
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>

#include "formats/SampleData.h"

class AuRead : public SampleDataReader {
public:
  // Only stores its arguments: the header is parsed on the first rate or channel query (or the
  // first pull, seek or description query), so AU errors surface there. fileSize (bytes, 0 =
  // unknown) bounds the audio.
  AuRead(std::istream& in, std::int64_t fileSize);
  ~AuRead() override;

  int PullSamples(float* out, int count) override;
  bool SeekToSample(std::int64_t sampleIndex) override;
  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;
  std::int64_t FloatByteCount() override;
  int SampleResolution() override;
  int Compression() override;

  std::int64_t DataStart();
  int Encoding();

private:
  void ParseHeader();

  std::int64_t fileSize_;
  int headerRate_ = 0;
  int headerChannels_ = 0;
  int encoding_ = 0;
  bool parsed_ = false;
};

class AuWrite : public FixedSizeWriter {
public:
  // Writes the 28-byte header sized for frameCount frames. compression is 2, 3 or 16..18
  // (CompressionCode); anything else, a channel count outside 1..64, a rate that is not positive
  // or audio too long for the 32-bit size field throws SoundError before anything is written.
  AuWrite(std::ostream& out, std::int64_t frameCount, int channels, int rate, int compression);
  // Completes the file: the data is padded with zero samples up to the declared size (the header
  // is never rewritten).
  ~AuWrite() override;

  static constexpr int kHeaderSize = 28;
};
