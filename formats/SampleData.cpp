#include "formats/SampleData.h"

#include <algorithm>

#include "formats/G711.h"
#include "formats/PcmCodecs.h"
#include "formats/Raw.h"
#include "formats/SoundError.h"

// ---------------------------------------------------------------------------------------------
// Sample data run

int SampleDataReader::PullSamples(float* out, int count) {
  return decompressor_ ? decompressor_->PullSamples(out, count) : 0;
}

int SampleDataReader::PullBytes(std::uint8_t* buffer, int length) {
  const std::int64_t wanted = std::min<std::int64_t>(length, dataRemaining_);
  if (wanted <= 0) return 0;
  in_.read(reinterpret_cast<char*>(buffer), wanted);
  const std::int64_t got = in_.gcount();
  dataRemaining_ = got < wanted ? 0 : dataRemaining_ - got;  // a short read is the end of the file
  return static_cast<int>(got);
}

bool SampleDataReader::SeekToSample(std::int64_t sampleIndex) {
  if (!decompressor_ || sampleIndex < 0) return false;
  const std::int64_t offset = std::min(decompressor_->ByteCountFor(sampleIndex), dataLength_);
  in_.clear();
  in_.seekg(dataStart_ + offset);
  if (!in_) return false;
  dataRemaining_ = dataLength_ - offset;
  return true;
}

void SampleDataReader::KeepWholeFrames(int channels, std::int64_t maxFrames) {
  const std::int64_t sampleBytes = decompressor_->BitsPerSample() / 8;
  const std::int64_t frameBytes = channels * sampleBytes;
  dataLength_ = std::min(dataLength_ / frameBytes, maxFrames) * frameBytes;
  dataRemaining_ = dataLength_;
  floatByteCount_ = dataLength_ / sampleBytes * 4;
}

// ---------------------------------------------------------------------------------------------
// Fixed-size writer

FixedSizeWriter::FixedSizeWriter(std::ostream& out, std::int64_t frameCount, int bits)
    : out_(out), frameCount_(std::max<std::int64_t>(frameCount, 0)), bits_(bits) {}

int FixedSizeWriter::PushSamples(const float* in, int count) {
  const std::int64_t declared = frameCount_ * channels_;
  const int n = static_cast<int>(std::clamp<std::int64_t>(declared - nextSample_, 0, std::max(count, 0)));
  if (n == 0) return 0;
  const int accepted = compressor_->PushSamples(in, n);
  nextSample_ += accepted;
  highWater_ = std::max(highWater_, nextSample_);
  return accepted;
}

int FixedSizeWriter::PushBytes(const std::uint8_t* data, int length) {
  out_.write(reinterpret_cast<const char*>(data), length);
  return out_ ? length : 0;
}

bool FixedSizeWriter::SeekToSample(std::int64_t sampleIndex) {
  if (sampleIndex < 0 || sampleIndex > frameCount_ * channels_) return false;
  if (sampleIndex == nextSample_) return true;
  out_.seekp(dataStart_ + compressor_->ByteCountFor(sampleIndex));
  if (!out_) return false;
  nextSample_ = sampleIndex;
  return true;
}

void FixedSizeWriter::CreateBigEndianCompressor(int compression) {
  switch (compression) {
    case CompressionMuLaw: compressor_ = std::make_unique<CompressG711MuLaw>(*this); break;
    case CompressionALaw: compressor_ = std::make_unique<CompressG711ALaw>(*this); break;
    case CompressionPcm8: compressor_ = std::make_unique<CompressPcm8Signed>(*this); break;
    case CompressionPcm16: compressor_ = std::make_unique<CompressPcm16MsbSigned>(*this); break;
    case CompressionPcm24: compressor_ = std::make_unique<CompressPcm24MsbSigned>(*this); break;
    case CompressionPcm32: compressor_ = std::make_unique<CompressPcm32MsbSigned>(*this); break;
    case CompressionFloat32: compressor_ = std::make_unique<CompressPcm32FloatMsb>(*this); break;
    default: throw SoundError("Compression type not supported for output");
  }
}

void FixedSizeWriter::Complete() noexcept {
  if (!compressor_) return;
  try {
    if (nextSample_ != highWater_) out_.seekp(dataStart_ + compressor_->ByteCountFor(highWater_));
    const std::int64_t padSamples = frameCount_ * channels_ - highWater_;
    static const float kSilence[1024] = {};
    for (std::int64_t done = 0; done < padSamples && out_;) {
      const int n = static_cast<int>(std::min<std::int64_t>(padSamples - done, 1024));
      compressor_->PushSamples(kSilence, n);
      done += n;
    }
    if (padsToEven_ && (dataSize_ & 1)) out_.put(0);
    out_.flush();
  } catch (...) {
    out_.setstate(std::ios::badbit);
  }
  compressor_.reset();
}
