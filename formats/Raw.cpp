#include "formats/Raw.h"

#include <algorithm>
#include <vector>

#include "formats/G711.h"

namespace {

std::unique_ptr<AbstractDecompressor> MakeRawDecompressor(AudioAbstract& stage, int bits, int compression,
                                                          bool bigEndian, bool isSigned) {
  switch (compression) {
    case CompressionPcm8:
      if (bits != 8) break;
      if (isSigned) return std::make_unique<DecompressPcm8Signed>(stage);
      return std::make_unique<DecompressPcm8Unsigned>(stage);
    case CompressionPcm16:
      if (bits != 16) break;
      if (bigEndian) return std::make_unique<DecompressPcm16MsbSigned>(stage);
      return std::make_unique<DecompressPcm16LsbSigned>(stage);
    case CompressionPcm24:
      if (bits != 24) break;
      if (bigEndian) return std::make_unique<DecompressPcm24MsbSigned>(stage);
      return std::make_unique<DecompressPcm24LsbSigned>(stage);
    case CompressionPcm32:
      if (bits != 32) break;
      if (bigEndian) return std::make_unique<DecompressPcm32MsbSigned>(stage);
      return std::make_unique<DecompressPcm32LsbSigned>(stage);
    case CompressionFloat32:
      if (bits != 32) break;
      if (bigEndian) return std::make_unique<DecompressPcm32FloatMsb>(stage);
      return std::make_unique<DecompressPcm32Float>(stage);
    case CompressionMuLaw:
      if (bits == 8) return std::make_unique<DecompressG711MuLaw>(stage);
      break;
    case CompressionALaw:
      if (bits == 8) return std::make_unique<DecompressG711ALaw>(stage);
      break;
    default: break;
  }
  return nullptr;
}

}  // namespace

RawRead::RawRead(std::istream& in, std::int64_t fileSize, int channels, int rate, int bits, int compression,
                 bool bigEndian, bool isSigned)
    : in_(in), fileChannels_(channels), extraChannels_(channels > 2 ? channels - 2 : 0) {
  fileFormat_ = FileFormatRaw;
  if (channels < 1 || channels > kMaxChannels) throw SoundError("Unsupported number of channels: ", channels);
  if (rate <= 0) throw SoundError("Unsupported sampling rate: ", rate);
  decompressor_ = MakeRawDecompressor(*this, bits, compression, bigEndian, isSigned);
  if (!decompressor_) throw SoundError("Unsupported raw sample format: ", bits);
  StoreChannels(std::min(channels, 2));
  StoreSamplingRate(rate);
  resolution_ = bits;
  compression_ = compression;
  const std::int64_t samples = std::max<std::int64_t>(fileSize, 0) / (bits / 8);
  floatByteCount_ = samples / channels * std::min(channels, 2) * 4;  // whole frames, first two channels
  in_.clear();
  in_.seekg(0);
}

RawRead::~RawRead() = default;

int RawRead::PullSamples(float* out, int count) {
  if (extraChannels_ == 0) {
    // A partial last frame is not delivered, so the channels stay in step.
    const int whole = count / fileChannels_ * fileChannels_;
    return decompressor_->PullSamples(out, whole > 0 ? whole : count);
  }
  return PullWideFrames(out, count);
}

int RawRead::PullWideFrames(float* out, int count) {
  constexpr int kFramesPerPiece = 1024;
  std::vector<float> piece(std::size_t(kFramesPerPiece) * fileChannels_);
  const int frames = count / 2;
  int kept = 0;
  while (kept / 2 < frames) {
    const int want = std::min(frames - kept / 2, kFramesPerPiece);
    const int got = decompressor_->PullSamples(piece.data(), want * fileChannels_) / fileChannels_;
    for (int f = 0; f < got; ++f) {
      out[kept++] = piece[std::size_t(f) * fileChannels_];
      out[kept++] = piece[std::size_t(f) * fileChannels_ + 1];
    }
    if (got < want) break;
  }
  return kept;
}

int RawRead::PullBytes(std::uint8_t* buffer, int length) {
  if (length <= 0) return 0;
  in_.read(reinterpret_cast<char*>(buffer), length);
  return static_cast<int>(in_.gcount());
}

bool RawRead::SeekToSample(std::int64_t sampleIndex) {
  if (sampleIndex < 0) return false;
  const std::int64_t delivered = std::min(fileChannels_, 2);
  const std::int64_t frame = sampleIndex / delivered;
  in_.clear();
  in_.seekg(decompressor_->ByteCountFor(frame * fileChannels_ + sampleIndex % delivered));
  return bool(in_);
}
