#pragma once
// M4A/MP4 (AAC, ALAC), WMA, WavPack, Monkey's Audio, Matroska/WebM, Wave64 and the audio track of a video
// file, read by FFmpeg's demuxers and decoders. The I/O context reads through the stream the caller
// opened; no other file or network address is ever opened (a file that names one is refused).
// The first audio stream is read; the others are named in an annotation (id "strm").
#include <cstdint>
#include <istream>
#include <memory>
#include <vector>

#include "formats/AudioAbstract.h"

class FfmpegRead : public AudioAbstract {
public:
  // fileFormat names the container the probe saw. Throws SoundError when FFmpeg refuses the file
  // or it holds no audio.
  FfmpegRead(std::istream& in, std::int64_t fileSize, int fileFormat);
  ~FfmpegRead() override;

  int PullSamples(float* out, int count) override;
  int PushSamples(const float*, int) override { return 0; }
  // Seeks by decoding again from the start: exact whatever the container's index says.
  bool SeekToSample(std::int64_t sampleIndex) override;
  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;
  std::istream* SourceStream() override { return &in_; }
  std::int64_t SourceSize() override { return fileSize_; }

  struct Library;  // the demuxer, the decoder and the I/O context

private:
  void ChooseStream();
  void ReadTags();
  // Decodes the next frame into pending_; false at the end of the stream.
  bool DecodeMore();
  void Append();
  [[noreturn]] void Damaged() const;

  std::istream& in_;
  std::int64_t fileSize_;
  std::unique_ptr<Library> library_;
  std::vector<float> pending_;  // decoded samples not yet delivered
  std::size_t pendingRead_ = 0;
  std::int64_t announced_ = 0;  // frames the container announces
  std::int64_t position_ = 0;   // frames delivered
  std::int64_t decoded_ = 0;    // frames decoded
  bool draining_ = false;
  bool ended_ = false;
};
