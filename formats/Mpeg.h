#pragma once
// MPEG audio of layers I to III (".mp3", ".mp2", ".mpg"; FileFormat 4), with an optional ID3v2
// tag at the start. libmpg123 decodes the frames; DecompressMpeg123 wraps it and also serves
// WAVE files with format tag 0x55.
#include <cstdint>
#include <istream>
#include <memory>
#include <vector>

#include "formats/AudioAbstract.h"

struct mpg123_handle_struct;

// What one MPEG audio frame header says.
struct MpegFrameHeader {
  int layer = 0;  // 1..3
  int bitRate = 0;  // kbit/s
  int samplingRate = 0;
  int channels = 0;
  int samplesPerFrame = 0;
  int frameBytes = 0;  // header included
};

// Parses the 4 header bytes at p; false for a non-sync, a reserved field or a free-format
// (bit rate index 0) or invalid bit rate.
bool ParseMpegFrameHeader(const std::uint8_t* p, MpegFrameHeader* header);

// The most frames that many bytes of MPEG audio can hold; a count beyond it is damage.
std::int64_t MaxMpegFrames(std::int64_t bytes);
constexpr int kMaxSamplesPerFrame = 1152;

// The frame sync of the probes: 0xFF then a byte of at least 0xE0, and with layer3Only the
// layer bits of layer III.
bool IsMpegSync(std::uint8_t b0, std::uint8_t b1, bool layer3Only);

// Searches the next maxBytes bytes of the stream for a frame sync; on success the stream is left
// at its 0xFF byte.
bool FindMpegSync(std::istream& in, int maxBytes, bool layer3Only);

class DecompressMpeg123 : public AbstractDecompressor {
public:
  // The source's stream stands at (or before) the first frame header; the source's PullBytes
  // delivers the bytes from there on. dataStart is the stream position that the source's
  // ByteCountFor offsets count from (a WAVE file's data chunk); MPEG files seek through
  // SeekToSample instead. Throws "MPEG file may be corrupted" when no usable header is found.
  explicit DecompressMpeg123(AudioAbstract& source, std::int64_t dataStart = 0);
  ~DecompressMpeg123() override;

  int PullSamples(float* out, int count) override;
  // Prepares decoding to resume with sample sampleIndex (all channels counted): decoding restarts
  // a few frames earlier to rebuild the layer III bit reservoir. Returns the stream position to
  // read from, relative to dataStart; the source positions its stream there.
  std::int64_t ByteCountFor(std::int64_t sampleIndex) const override;
  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;
  int BitsPerSample() const override { return 16; }

  // Decodes the first frame ahead (it stays pending); "MPEG file may be corrupted" when the
  // library finds none in the whole input.
  void DecodeFirstFrame();
  // Positions the source's stream itself and prepares the decoding as ByteCountFor does.
  void SeekToSample(std::int64_t sampleIndex);

  int Layer() const { return layer_; }
  int BitRate() const { return bitRate_; }  // of the current frame, kbit/s
  int Channels() const { return channels_; }
  int SamplingRate() const { return samplingRate_; }
  std::int64_t TotalSamples() const { return totalSamples_; }  // per channel
  std::int64_t TotalFrames() const { return totalFrames_; }

private:
  void OpenLibrary();
  void CloseLibrary();
  // Decodes the next frame into frame_; false when the input has run out.
  bool DecodeNextFrame();
  void AdoptFormat();
  // The stream position of frame k, walking the frame headers from the last known one; -1 when
  // the stream ends before it.
  std::int64_t FramePosition(std::int64_t k);
  std::int64_t NextFramePosition(std::int64_t position);
  std::int64_t PrepareSeek(std::int64_t sampleIndex);

  std::istream& in_;
  std::int64_t dataStart_;
  mpg123_handle_struct* library_ = nullptr;
  std::vector<std::int16_t> frame_;  // the last decoded frame, interleaved
  std::size_t frameRead_ = 0;        // samples of frame_ already delivered
  std::int64_t discard_ = 0;         // samples to drop after a seek
  bool inputEnded_ = false;
  int channels_ = 0;
  int samplingRate_ = 0;
  int bitRate_ = 0;
  int samplesPerFrame_ = 0;
  int layer_ = 0;
  std::int64_t totalSamples_ = 0;
  std::int64_t totalFrames_ = 0;
  std::int64_t framesDecoded_ = 0;
  std::vector<std::int64_t> framePositions_;  // known stream positions of frames 0, 1, ...
};

class MpegRead : public AudioAbstract {
public:
  // With hasId3v2 the stream starts with an ID3v2 tag: its text frames fill the annotations and
  // the MPEG data starts behind it. Throws SoundError on a malformed tag or stream.
  MpegRead(std::istream& in, std::int64_t fileSize, bool hasId3v2);
  ~MpegRead() override;

  int PullSamples(float* out, int count) override;
  int PushSamples(const float*, int) override { return 0; }
  int PullBytes(std::uint8_t* buffer, int length) override;
  bool SeekToSample(std::int64_t sampleIndex) override;
  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;
  int BitRate() override;
  std::istream* SourceStream() override { return &in_; }
  std::int64_t SourceSize() override { return inputSize_; }

private:
  // Reads the tag into the annotations; returns its size in bytes.
  std::int64_t ParseId3v2();

  std::istream& in_;
  std::int64_t fileSize_;
  std::int64_t inputSize_;  // the file less the ID3v2 tag
  std::unique_ptr<DecompressMpeg123> decompressor_;
};
