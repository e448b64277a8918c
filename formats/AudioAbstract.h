#pragma once
// The stage framework of the format library. Every reader and writer is an AudioAbstract stage;
// a reader owns one AbstractDecompressor that turns encoded bytes into floats, a writer one
// AbstractCompressor that turns floats into encoded bytes.
//
// Samples are 32-bit floats, nominal range -1..+1, interleaved by channel. Every count that
// crosses the stage interface (PullSamples, PushSamples, SeekToSample) counts individual samples
// over all channels, not frames. Byte and sample totals that derive from a file size are 64-bit.
//
// Streams: readers read from a std::istream and writers write to a std::ostream, each over any
// std::streambuf (a file buffer, a std::filebuf, a std::stringbuf). The stream must be seekable
// where a format seeks; a write failure shows in the ostream's state, which the saving code checks.
// Every failure inside the library is thrown as a SoundError.
#include <cstdint>
#include <istream>

#include "formats/Annotations.h"
#include "formats/FormatCodes.h"
#include "formats/SoundError.h"

class AudioAbstract {
public:
  AudioAbstract() = default;
  AudioAbstract(const AudioAbstract&) = delete;
  AudioAbstract& operator=(const AudioAbstract&) = delete;
  // Unlinks the stage from its neighbours. No stage owns another.
  virtual ~AudioAbstract();

  // Readers deliver up to count samples and return how many; writers return 0.
  virtual int PullSamples(float* out, int count) = 0;
  // Writers accept up to count samples and return how many; readers return 0.
  virtual int PushSamples(const float* in, int count) = 0;
  // Raw audio bytes; the defaults forward to the previous stage (0 when there is none).
  virtual int PullBytes(std::uint8_t* buffer, int length);
  virtual int PushBytes(const std::uint8_t* data, int length);
  // Positions the stage before sample sampleIndex (all channels counted); false when it cannot.
  virtual bool SeekToSample(std::int64_t sampleIndex);

  // Rate negotiation: a frozen value may only be stored again unchanged.
  virtual void StoreSamplingRate(int rate);
  virtual int CurrentSamplingRate();
  virtual void SettleSamplingRate();
  virtual void MinMaxSamplingRate(int* min, int* max, int* preferred);
  virtual void FreezeSamplingRate(int rate);
  // Channel negotiation, the same rules.
  virtual void StoreChannels(int n);
  virtual int CurrentChannels();
  virtual void SettleChannels();
  virtual void MinMaxChannels(int* min, int* max, int* preferred);
  virtual void FreezeChannels(int n);

  // 4 x the samples (all channels) the reader will deliver; 0 = unknown.
  virtual std::int64_t FloatByteCount();
  virtual int SampleResolution();  // bits per encoded sample
  virtual int FileFormat();        // FileFormatCode
  virtual int Compression();       // CompressionCode
  virtual int BitRate();           // kbit/s; 0 where it has no meaning
  virtual AnnotationList& Annotations();
  virtual std::istream* SourceStream();
  virtual std::int64_t SourceSize();

  // Makes previous the stage this one takes its input from (null unlinks).
  void SetPrevious(AudioAbstract* previous);
  AudioAbstract* Previous() const { return previous_; }
  AudioAbstract* Next() const { return next_; }

protected:
  // Narrows a negotiation range to the one value a file header fixes.
  static void ForceRange(int value, int* min, int* max, int* preferred);

  AudioAbstract* previous_ = nullptr;
  AudioAbstract* next_ = nullptr;
  int samplingRate_ = 0;
  bool rateFrozen_ = false;
  AnnotationList annotations_;
  int channels_ = 0;
  bool channelsFrozen_ = false;
  std::int64_t floatByteCount_ = 0;
  int resolution_ = 0;
  int fileFormat_ = 0;
  int compression_ = 0;
  int bitRate_ = 0;
};

// Turns encoded bytes pulled from its source stage into floats.
class AbstractDecompressor {
public:
  explicit AbstractDecompressor(AudioAbstract& source) : source_(source) {}
  AbstractDecompressor(const AbstractDecompressor&) = delete;
  AbstractDecompressor& operator=(const AbstractDecompressor&) = delete;
  virtual ~AbstractDecompressor() = default;

  // The block loop: pulls bytes in pieces of at most kBlockBytes and decodes whole samples; a
  // trailing partial sample is dropped. Returns less than count only at the end of the data.
  virtual int PullSamples(float* out, int count);
  virtual void DecodeSamples(const std::uint8_t* in, float* out, int count);
  // Bytes that this many samples occupy (used by seeking).
  virtual std::int64_t ByteCountFor(std::int64_t samples) const = 0;
  virtual void MinMaxSamplingRate(int* min, int* max, int* preferred);
  virtual void MinMaxChannels(int* min, int* max, int* preferred);
  virtual int BitsPerSample() const = 0;

  static constexpr int kBlockBytes = 24000;

protected:
  AudioAbstract& source_;
  std::uint8_t flag_ = 1;
};

// Turns floats into encoded bytes pushed into its sink stage.
class AbstractCompressor {
public:
  explicit AbstractCompressor(AudioAbstract& sink) : sink_(sink) {}
  AbstractCompressor(const AbstractCompressor&) = delete;
  AbstractCompressor& operator=(const AbstractCompressor&) = delete;
  virtual ~AbstractCompressor() = default;

  // The block loop: encodes pieces of at most kBlockBytes and pushes them; returns the samples
  // the sink accepted.
  virtual int PushSamples(const float* in, int count);
  virtual std::int64_t ByteCountFor(std::int64_t samples) const = 0;
  virtual void EncodeSamples(const float* in, std::uint8_t* out, int count);
  virtual int BitsPerSample() const { return 0; }

  static constexpr int kBlockBytes = 24000;

protected:
  std::uint8_t flag_ = 1;
  AudioAbstract& sink_;
};
