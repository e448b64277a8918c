#include "formats/Au.h"

#include <algorithm>
#include <limits>

#include "formats/ByteOrder.h"
#include "formats/G711.h"
#include "formats/PcmCodecs.h"
#include "formats/Raw.h"

namespace {

constexpr std::uint32_t kMagic = FourCC(".snd");
constexpr int kFixedHeader = 24;
// A data size this large means "unknown" (streams write 0xFFFFFFFF).
constexpr std::uint32_t kUnknownSizeAbove = 0x0FFFFFFF;
constexpr int kMaxChannels = 64;

constexpr int kEncodingMuLaw = 1;
constexpr int kEncodingPcm8 = 2;
constexpr int kEncodingPcm16 = 3;
constexpr int kEncodingPcm24 = 4;
constexpr int kEncodingPcm32 = 5;
constexpr int kEncodingFloat = 6;
constexpr int kEncodingALaw = 27;

int EncodingForCompression(int compression) {
  switch (compression) {
    case CompressionMuLaw: return kEncodingMuLaw;
    case CompressionALaw: return kEncodingALaw;
    case CompressionPcm8: return kEncodingPcm8;
    case CompressionPcm16: return kEncodingPcm16;
    case CompressionPcm24: return kEncodingPcm24;
    default: return 0;
  }
}

}  // namespace

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
// AU reader

AuRead::AuRead(std::istream& in, std::int64_t fileSize) : SampleDataReader(in), fileSize_(fileSize > 0 ? fileSize : 0) {
  fileFormat_ = FileFormatAu;
}

AuRead::~AuRead() = default;

void AuRead::ParseHeader() {
  if (parsed_) return;
  parsed_ = true;  // a failed header throws once and leaves a reader that delivers nothing

  std::uint8_t header[kFixedHeader];
  in_.read(reinterpret_cast<char*>(header), kFixedHeader);
  if (in_.gcount() < 4 || DecodeField(header, 4) != kMagic) throw SoundError("Input file is not a AU format");
  if (in_.gcount() < kFixedHeader) throw SoundError("AU header is truncated");
  const std::uint32_t headerSize = DecodeField(header + 4, 4);
  const std::uint32_t dataSize = DecodeField(header + 8, 4);
  encoding_ = int(std::min<std::uint32_t>(DecodeField(header + 12, 4), std::numeric_limits<std::int32_t>::max()));
  const std::uint32_t rate = DecodeField(header + 16, 4);
  const std::uint32_t channels = DecodeField(header + 20, 4);

  if (headerSize < kFixedHeader || (fileSize_ > 0 && headerSize > fileSize_))
    throw SoundError("Corrupted AU header size: ", std::int64_t(headerSize));
  if (channels == 0 || channels > kMaxChannels) throw SoundError("Unsupported number of channels: ", channels);
  if (rate == 0 || rate > std::uint32_t(std::numeric_limits<std::int32_t>::max()))
    throw SoundError("Unsupported sampling rate: ", std::int64_t(rate));
  headerRate_ = int(rate);
  headerChannels_ = int(channels);

  SkipBytes(in_, headerSize - kFixedHeader);  // annotation text, not kept
  if (!in_.good()) throw SoundError("AU header is truncated");
  const std::streamoff at = in_.tellg();
  dataStart_ = at < 0 ? headerSize : std::int64_t(at);

  // The file size is the better guide (headers of streamed files carry no size), but a size the
  // header states never lets trailing bytes count as audio.
  if (fileSize_ > 0) {
    const std::int64_t inFile = std::max<std::int64_t>(fileSize_ - dataStart_, 0);
    dataLength_ = dataSize > kUnknownSizeAbove ? inFile : std::min<std::int64_t>(inFile, dataSize);
  } else {
    dataLength_ = dataSize > kUnknownSizeAbove ? std::numeric_limits<std::int64_t>::max() / 8 : dataSize;
  }

  switch (encoding_) {
    case kEncodingMuLaw:
      decompressor_ = std::make_unique<DecompressG711MuLaw>(*this);
      compression_ = CompressionMuLaw;
      break;
    case kEncodingPcm8:
      decompressor_ = std::make_unique<DecompressPcm8Signed>(*this);
      compression_ = CompressionPcm8;
      break;
    case kEncodingPcm16:
      decompressor_ = std::make_unique<DecompressPcm16MsbSigned>(*this);
      compression_ = CompressionPcm16;
      break;
    case kEncodingPcm24:
      decompressor_ = std::make_unique<DecompressPcm24MsbSigned>(*this);
      compression_ = CompressionPcm24;
      break;
    case kEncodingPcm32:
      decompressor_ = std::make_unique<DecompressPcm32MsbSigned>(*this);
      compression_ = CompressionPcm32;
      break;
    case kEncodingFloat:
      decompressor_ = std::make_unique<DecompressPcm32FloatMsb>(*this);
      compression_ = CompressionFloat32;
      break;
    case kEncodingALaw:
      decompressor_ = std::make_unique<DecompressG711ALaw>(*this);
      compression_ = CompressionALaw;
      break;
    default: throw SoundError("Unsupported AU format: ", encoding_);
  }
  resolution_ = decompressor_->BitsPerSample();

  KeepWholeFrames(headerChannels_, std::numeric_limits<std::int64_t>::max());
  if (fileSize_ == 0 && dataSize > kUnknownSizeAbove) floatByteCount_ = 0;  // until the end of the stream
}

int AuRead::PullSamples(float* out, int count) {
  ParseHeader();
  return SampleDataReader::PullSamples(out, count);
}

bool AuRead::SeekToSample(std::int64_t sampleIndex) {
  ParseHeader();
  return SampleDataReader::SeekToSample(sampleIndex);
}

void AuRead::MinMaxSamplingRate(int* min, int* max, int* preferred) {
  ParseHeader();
  ForceRange(headerRate_, min, max, preferred);
}

void AuRead::MinMaxChannels(int* min, int* max, int* preferred) {
  ParseHeader();
  ForceRange(headerChannels_, min, max, preferred);
}

std::int64_t AuRead::FloatByteCount() {
  ParseHeader();
  return AudioAbstract::FloatByteCount();
}

int AuRead::SampleResolution() {
  ParseHeader();
  return AudioAbstract::SampleResolution();
}

int AuRead::Compression() {
  ParseHeader();
  return AudioAbstract::Compression();
}

std::int64_t AuRead::DataStart() {
  ParseHeader();
  return dataStart_;
}

int AuRead::Encoding() {
  ParseHeader();
  return encoding_;
}

// ---------------------------------------------------------------------------------------------
// AU writer

AuWrite::AuWrite(std::ostream& out, std::int64_t frameCount, int channels, int rate, int compression)
    : FixedSizeWriter(out, frameCount, BitsForCompression(compression)) {
  // Checked before the header is written, so a refused file gets no stray header.
  const int encoding = EncodingForCompression(compression);
  if (encoding == 0) throw SoundError("Compression type not supported for output");
  if (channels < 1 || channels > kMaxChannels) throw SoundError("Unsupported number of channels: ", channels);
  if (rate <= 0) throw SoundError("Unsupported sampling rate: ", rate);

  fileFormat_ = FileFormatAu;
  compression_ = compression;
  resolution_ = bits_;
  FreezeChannels(channels);
  FreezeSamplingRate(rate);
  dataSize_ = bits_ * frameCount_ / 8 * CurrentChannels();
  // 0xFFFFFFFF would read as "size unknown".
  if (dataSize_ >= 0xFFFFFFFFll) throw SoundError("Audio too long for an AU file");

  CreateBigEndianCompressor(compression);

  const std::streamoff at = out_.tellp();
  WriteBigEndian(out_, kMagic, 4);
  WriteBigEndian(out_, kHeaderSize, 4);
  WriteBigEndian(out_, std::uint32_t(dataSize_), 4);
  WriteBigEndian(out_, std::uint32_t(encoding), 4);
  WriteBigEndian(out_, std::uint32_t(rate), 4);
  WriteBigEndian(out_, std::uint32_t(channels), 4);
  WriteBigEndian(out_, 0, 4);
  dataStart_ = (at < 0 ? 0 : std::int64_t(at)) + kHeaderSize;
}

AuWrite::~AuWrite() { Complete(); }

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
