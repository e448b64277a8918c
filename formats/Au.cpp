#include "formats/Au.h"

#include <algorithm>
#include <limits>

#include "formats/ByteOrder.h"
#include "formats/G711.h"
#include "formats/Limits.h"
#include "formats/PcmCodecs.h"
#include "formats/Raw.h"

namespace {

constexpr std::uint32_t kMagic = FourCC(".snd");
constexpr int kFixedHeader = 24;
// A data size this large means "unknown" (streams write 0xFFFFFFFF).
constexpr std::uint32_t kUnknownSizeAbove = 0x0FFFFFFF;
constexpr int kMaxChannels = format_limits::kMaxChannels;

constexpr int kEncodingMuLaw = 1;
constexpr int kEncodingPcm8 = 2;
constexpr int kEncodingPcm16 = 3;
constexpr int kEncodingPcm24 = 4;
constexpr int kEncodingPcm32 = 5;
constexpr int kEncodingFloat = 6;
constexpr int kEncodingDouble = 7;
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
    case kEncodingDouble:
      // The document holds 32-bit floats, so the file counts as a float file; its resolution
      // says 64.
      decompressor_ = std::make_unique<DecompressPcm64FloatMsb>(*this);
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

