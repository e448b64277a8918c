#pragma once
// FLAC, Ogg Vorbis, Opus and CAF files, read by libsndfile over the stream the caller
// opened (sf_open_virtual): every byte comes through the product's own file buffer.
#include <cstdint>
#include <istream>
#include <memory>

#include "formats/AudioAbstract.h"

class SndfileRead : public AudioAbstract {
public:
  // fileFormat names the container the probe saw (FileFormatFlac, ...); Ogg becomes
  // FileFormatOpus when the stream is Opus. Throws SoundError when libsndfile refuses the file.
  SndfileRead(std::istream& in, std::int64_t fileSize, int fileFormat);
  ~SndfileRead() override;

  int PullSamples(float* out, int count) override;
  int PushSamples(const float*, int) override { return 0; }
  bool SeekToSample(std::int64_t sampleIndex) override;
  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;
  std::istream* SourceStream() override { return &in_; }
  std::int64_t SourceSize() override { return fileSize_; }

  struct Library;  // the libsndfile handle and its virtual I/O

private:
  void ReadTags();

  std::istream& in_;
  std::int64_t fileSize_;
  std::unique_ptr<Library> library_;
  std::int64_t frames_ = 0;    // what the header announces
  bool lengthKnown_ = true;
  bool cutShort_ = false;  // an Ogg stream without its last page
  std::int64_t position_ = 0;  // frames delivered
};
