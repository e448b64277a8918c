#pragma once
// The stages that readers and writers of plain sample data share (WAVE, AU, AIFF): a reader of
// one run of fixed-width samples, and a writer whose header declares the data size.
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>

#include "formats/AudioAbstract.h"

// A reader whose audio is one run of fixed-width samples in its stream (AU, AIFF): it reads
// only within that run and seeks by sample.
class SampleDataReader : public AudioAbstract {
public:
  int PullSamples(float* out, int count) override;
  int PushSamples(const float*, int) override { return 0; }
  int PullBytes(std::uint8_t* buffer, int length) override;
  bool SeekToSample(std::int64_t sampleIndex) override;

protected:
  explicit SampleDataReader(std::istream& in) : in_(in) {}
  // Cuts the run to whole frames (at most maxFrames), so that a torn last frame cannot shift the
  // channels, and counts its floats. Needs the decompressor.
  void KeepWholeFrames(int channels, std::int64_t maxFrames);

  std::istream& in_;
  std::unique_ptr<AbstractDecompressor> decompressor_;
  std::int64_t dataStart_ = 0;
  std::int64_t dataLength_ = 0;     // audio bytes from dataStart_
  std::int64_t dataRemaining_ = 0;  // audio bytes still to read
};

// A writer whose header declares the data size up front (AU, AIFF): it accepts at most the
// declared samples, may seek among them, and pads the rest with silence when it completes.
class FixedSizeWriter : public AudioAbstract {
public:
  int PullSamples(float*, int) override { return 0; }
  // Accepts at most the samples the header declared.
  int PushSamples(const float* in, int count) override;
  int PushBytes(const std::uint8_t* data, int length) override;
  bool SeekToSample(std::int64_t sampleIndex) override;

  std::int64_t DataSize() const { return dataSize_; }
  std::int64_t DataStart() const { return dataStart_; }

protected:
  FixedSizeWriter(std::ostream& out, std::int64_t frameCount, int bits);
  // The big-endian (and G.711) compressor of a compression code; SoundError for any other code.
  void CreateBigEndianCompressor(int compression);
  // Pads the data with zero samples up to its declared size, then flushes. Never throws: a
  // failure shows in the stream's state.
  void Complete() noexcept;

  std::ostream& out_;
  std::int64_t frameCount_;
  int bits_;
  std::int64_t dataSize_ = 0;
  std::int64_t dataStart_ = 0;
  std::int64_t nextSample_ = 0;  // where the next pushed sample lands
  std::int64_t highWater_ = 0;   // samples written so far, counted from the start of the data
  std::unique_ptr<AbstractCompressor> compressor_;
  bool padsToEven_ = false;  // IFF chunks of odd size are followed by a pad byte
};
