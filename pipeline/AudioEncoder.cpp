#include "pipeline/AudioEncoder.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

#include "formats/Aiff.h"
#include "formats/Au.h"
#include "formats/SoundError.h"
#include "formats/Wave.h"
#include "formats/sndfile/SndfileWrite.h"

namespace {

bool IsWritableCompression(int c) {
  return c == CompressionMuLaw || c == CompressionALaw || (c >= CompressionPcm8 && c <= CompressionFloat32);
}

// The rate a codec file gets: Opus is always 48,000 Hz, MP3 at most 48,000 Hz; the product's rate
// converter makes it.
int CodecRate(int fileFormat, int rate) {
  if (fileFormat == FileFormatOpus) return 48000;
  if (fileFormat == FileFormatMpeg) return std::min(rate, 48000);
  return rate;
}

}  // namespace

CAP_AudioEncoder::CAP_AudioEncoder(std::ostream& out, int channelCount, int rate, int compressionCode,
                                   int fileFormat, double seconds, int fromChannels, int fromRate,
                                   const AnnotationList* annotations)
    : out_(out) {
  // The codec types carry their encoder's setting in the encoding; the others' is a plain code.
  const bool codec = IsCodecType(fileFormat);
  if (!codec && !IsWritableCompression(compressionCode)) compressionCode = CompressionPcm16;
  if (codec) rate = CodecRate(fileFormat, rate);
  channels = channelCount;
  sampleRate = rate;
  duration = seconds;
  compression = compressionCode;
  resolution = BitsForCompression(BaseCompression(compressionCode));
  sourceChannels = fromChannels;
  sourceRate = fromRate;
  // The tiny margin keeps a length that is a whole number of frames from losing its last frame to
  // the rounding of rate x (frames / rate).
  const double frames = std::isfinite(seconds) && seconds > 0 ? std::floor(double(rate) * seconds + 1e-6) : 0.0;
  frameCount_ = std::int64_t(std::min(frames, 2147483647.0));

  // Documents hold one or two channels; the channel conversion knows no other counts.
  if (channelCount < 1 || channelCount > 2) {
    errorText = "Could not change number of channels to " + std::to_string(channelCount);
    return;
  }
  if (fromChannels < 1 || fromChannels > 2) {
    errorText = "Could not change number of channels to " + std::to_string(fromChannels);
    return;
  }
  static const AnnotationList kNoAnnotations;
  try {
    switch (fileFormat) {
      case FileFormatWave:
        writer_ = std::make_unique<WaveWrite>(out_, frameCount_, channelCount, rate, compressionCode,
                                              annotations ? *annotations : kNoAnnotations);
        break;
      case FileFormatAu: writer_ = std::make_unique<AuWrite>(out_, frameCount_, channelCount, rate, compressionCode); break;
      case FileFormatAiff:
        writer_ = std::make_unique<AiffWrite>(out_, frameCount_, channelCount, rate, compressionCode,
                                              annotations ? *annotations : kNoAnnotations);
        break;
      case FileFormatFlac:
      case FileFormatOggVorbis:
      case FileFormatOpus:
      case FileFormatMpeg:
        writer_ = std::make_unique<SndfileWrite>(out_, frameCount_, channelCount, rate, fileFormat, compressionCode,
                                                 annotations ? *annotations : kNoAnnotations);
        break;
      default: errorText = "Unknown file type " + std::to_string(fileFormat); return;
    }
    converter_ = std::make_unique<RateConverter>(channelCount, fromRate, rate);
  } catch (const SoundError& error) {
    errorText = error.Message();
    writer_.reset();
    return;
  } catch (const std::bad_alloc&) {
    errorText = "Not enough memory to save the audio";
    writer_.reset();
    return;
  }
  if (!converter_->Usable()) {
    errorText = "Could not change sampling rate to " + std::to_string(rate);
    return;
  }
  if (!out_) errorText = "Error occured while writing audio data";
  channelBuffer_.resize(std::size_t(kChunkFrames) * channelCount);
  converted_.resize(std::size_t(std::max(converter_->MaxOutputFrames(kChunkFrames), converter_->MaxFlushFrames())) *
                    channelCount);
}

CAP_AudioEncoder::~CAP_AudioEncoder() { Finish(); }

int CAP_AudioEncoder::PushFrames(const float* frames, int count) {
  const std::int64_t room = std::max<std::int64_t>(frameCount_ - writePosition, 0);
  const int n = int(std::min<std::int64_t>(room, count));
  if (n <= 0) return 0;
  const int pushed = writer_->PushSamples(frames, n * channels) / channels;
  writePosition += pushed;
  highWater = std::max(highWater, writePosition);
  return pushed;
}

int CAP_AudioEncoder::WriteFloat(const float* source, int frames, int position) {
  if (!errorText.empty() || !writer_ || finished_ || frames <= 0) return 0;
  try {
    if (position != writePosition && sourceRate == sampleRate && position >= 0 &&
        writer_->SeekToSample(std::int64_t(position) * channels))
      writePosition = position;
    if (sourceChannels == channels && sourceRate == sampleRate) return PushFrames(source, frames);

    int consumed = 0;
    while (consumed < frames) {
      const int n = std::min(frames - consumed, kChunkFrames);
      const float* in = source + std::size_t(consumed) * sourceChannels;
      float* mixed = channelBuffer_.data();
      if (sourceChannels == 2 && channels == 1) {
        for (int i = 0; i < n; ++i) mixed[i] = (in[2 * i] + in[2 * i + 1]) * 0.5f;
      } else if (sourceChannels == 1 && channels == 2) {
        for (int i = 0; i < n; ++i) mixed[2 * i] = mixed[2 * i + 1] = in[i];
      } else {
        std::copy(in, in + std::size_t(n) * channels, mixed);
      }
      const int out = converter_->Process(mixed, n, converted_.data());
      consumed += n;
      // The writer refuses once the declared length is reached or the stream failed.
      if (out > 0 && PushFrames(converted_.data(), out) == 0) break;
    }
    return consumed;
  } catch (const SoundError& error) {
    errorText = error.Message();
  }
  return 0;
}

bool CAP_AudioEncoder::Finish() {
  if (finished_) return errorText.empty() && !out_.fail();
  finished_ = true;
  try {
    // The converter holds back the filter's look-ahead; without the flush the end is lost.
    if (writer_ && errorText.empty() && converter_ && (sourceRate != sampleRate)) {
      const int out = converter_->Flush(converted_.data());
      if (out > 0) PushFrames(converted_.data(), out);
    }
    writer_.reset();  // completes the file: padding to the declared size, trailing chunks
  } catch (const SoundError& error) {
    if (errorText.empty()) errorText = error.Message();
  }
  return errorText.empty() && !out_.fail();
}
