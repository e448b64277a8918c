#include "formats/AudioAbstract.h"

#include <algorithm>

namespace {

// The shared rules of rate and channel negotiation.
void StoreUnlessFrozen(int& field, bool frozen, int value, const char* message) {
  if (frozen && value != field) throw SoundError(message, value);
  field = value;
}

void PreferWithinRange(int stored, int* min, int* max, int* preferred) {
  if (stored != 0) *preferred = stored;
  if (*preferred < *min) *preferred = *min;
  if (*preferred > *max) *preferred = *max;
}

}  // namespace

AudioAbstract::~AudioAbstract() {
  if (previous_) previous_->next_ = next_;
  if (next_) next_->previous_ = previous_;
  previous_ = next_ = nullptr;
}

void AudioAbstract::SetPrevious(AudioAbstract* previous) {
  if (previous_) previous_->next_ = nullptr;
  previous_ = previous;
  if (previous_) previous_->next_ = this;
}

int AudioAbstract::PullBytes(std::uint8_t* buffer, int length) {
  return previous_ ? previous_->PullBytes(buffer, length) : 0;
}

int AudioAbstract::PushBytes(const std::uint8_t* data, int length) {
  return previous_ ? previous_->PushBytes(data, length) : 0;
}

bool AudioAbstract::SeekToSample(std::int64_t) { return false; }

void AudioAbstract::StoreSamplingRate(int rate) {
  StoreUnlessFrozen(samplingRate_, rateFrozen_, rate, "Could not change sampling rate to ");
}

int AudioAbstract::CurrentSamplingRate() {
  if (!rateFrozen_) SettleSamplingRate();
  return samplingRate_;
}

void AudioAbstract::SettleSamplingRate() {
  // The last stage of a chain settles the rate for all of it.
  if (next_) {
    next_->SettleSamplingRate();
    return;
  }
  int min = 4000, max = 44100, preferred = 44100;
  MinMaxSamplingRate(&min, &max, &preferred);
  if (min > max) throw SoundError("Unexpected sampling rate");
  FreezeSamplingRate(preferred);
}

void AudioAbstract::MinMaxSamplingRate(int* min, int* max, int* preferred) {
  if (previous_) previous_->MinMaxSamplingRate(min, max, preferred);
  PreferWithinRange(samplingRate_, min, max, preferred);
}

void AudioAbstract::FreezeSamplingRate(int rate) {
  if (previous_) previous_->FreezeSamplingRate(rate);
  StoreSamplingRate(rate);
  rateFrozen_ = true;
}

void AudioAbstract::StoreChannels(int n) {
  StoreUnlessFrozen(channels_, channelsFrozen_, n, "Could not change number of channels to ");
}

int AudioAbstract::CurrentChannels() {
  if (!channelsFrozen_) SettleChannels();
  return channels_;
}

void AudioAbstract::SettleChannels() {
  if (next_) {
    next_->SettleChannels();
    return;
  }
  int min = 1, max = 2, preferred = 1;
  MinMaxChannels(&min, &max, &preferred);
  if (min > max) throw SoundError("Unexpected number of channels");
  FreezeChannels(preferred);
}

void AudioAbstract::MinMaxChannels(int* min, int* max, int* preferred) {
  if (previous_) previous_->MinMaxChannels(min, max, preferred);
  PreferWithinRange(channels_, min, max, preferred);
}

void AudioAbstract::FreezeChannels(int n) {
  if (previous_) previous_->FreezeChannels(n);
  StoreChannels(n);
  channelsFrozen_ = true;
}

std::int64_t AudioAbstract::FloatByteCount() {
  if (floatByteCount_ != 0) return floatByteCount_;
  return previous_ ? previous_->FloatByteCount() : 0;
}

int AudioAbstract::SampleResolution() {
  if (resolution_ != 0) return resolution_;
  return previous_ ? previous_->SampleResolution() : 0;
}

int AudioAbstract::FileFormat() {
  if (fileFormat_ != 0) return fileFormat_;
  return previous_ ? previous_->FileFormat() : 0;
}

int AudioAbstract::Compression() {
  if (compression_ != 0) return compression_;
  return previous_ ? previous_->Compression() : 0;
}

int AudioAbstract::BitRate() { return bitRate_; }

AnnotationList& AudioAbstract::Annotations() { return annotations_; }

std::istream* AudioAbstract::SourceStream() { return nullptr; }

std::int64_t AudioAbstract::SourceSize() { return 0; }

void AudioAbstract::ForceRange(int value, int* min, int* max, int* preferred) {
  *min = *max = *preferred = value;
}

int AbstractDecompressor::PullSamples(float* out, int count) {
  const int bytesPerSample = BitsPerSample() / 8;
  if (count <= 0 || bytesPerSample <= 0) return 0;
  std::uint8_t buffer[kBlockBytes];
  int delivered = 0;
  int samples = 1;
  while (delivered < count && samples > 0) {
    const std::int64_t wanted = std::min<std::int64_t>(std::int64_t(bytesPerSample) * (count - delivered), kBlockBytes);
    const int bytes = source_.PullBytes(buffer, static_cast<int>(wanted));
    samples = bytes / bytesPerSample;
    DecodeSamples(buffer, out + delivered, samples);
    delivered += samples;
  }
  return delivered;
}

void AbstractDecompressor::DecodeSamples(const std::uint8_t*, float*, int) {}

void AbstractDecompressor::MinMaxSamplingRate(int*, int*, int*) {
  throw SoundError("MinMaxSamplingRate undefined");
}

void AbstractDecompressor::MinMaxChannels(int*, int*, int*) { throw SoundError("MinMaxChannels undefined"); }

int AbstractCompressor::PushSamples(const float* in, int count) {
  const int bytesPerSample = BitsPerSample() / 8;
  if (count <= 0 || bytesPerSample <= 0) return 0;
  std::uint8_t buffer[kBlockBytes];
  int accepted = 0;
  int written = bytesPerSample;
  while (accepted < count && written > 0) {
    const int n = static_cast<int>(
        std::min<std::int64_t>(std::int64_t(bytesPerSample) * (count - accepted), kBlockBytes));
    EncodeSamples(in + accepted, buffer, n / bytesPerSample);
    written = sink_.PushBytes(buffer, n);
    accepted += written / bytesPerSample;
  }
  return accepted;
}

void AbstractCompressor::EncodeSamples(const float*, std::uint8_t*, int) {}
