#include "formats/Voc.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <limits>
#include <string>

#include "formats/ByteOrder.h"
#include "formats/G711.h"
#include "formats/Limits.h"
#include "formats/PcmCodecs.h"

namespace {

constexpr char kSignature[] = "Creative Voice File\x1A";
constexpr int kSignatureLength = 20;
constexpr int kMinHeaderSize = 26;
constexpr std::uint32_t kVersionCheckSum = 0x1233;  // version + check word, in 16 bits

constexpr int kFormatPcm8Unsigned = 0;
constexpr int kFormatPcm16Signed = 4;
constexpr int kFormatALaw = 6;
constexpr int kFormatMuLaw = 7;
constexpr int kMaxChannels = format_limits::kMaxChannels;
// A repeat count of 0xFFFF means "endlessly"; such a loop body plays once.
constexpr std::uint32_t kEndlessRepeat = 0xFFFF;
// Block reads allowed beyond one per four bytes of the file, so that nested loops around
// nothing cannot spin without end.
constexpr std::int64_t kMaxExtraBlockReads = std::int64_t(1) << 20;
// Marker and text blocks are shown up to this length.
constexpr std::int64_t kMaxShownText = format_limits::kMaxShownText;

[[noreturn]] void Corrupted() { throw SoundError("VOC file corrupted"); }
[[noreturn]] void PrematureEnd() { throw SoundError("Premature end to VOC file"); }

void WarnLength(int type, std::uint32_t length) {
  struct Expected {
    int type;
    std::uint32_t length;
    const char* name;
  };
  static constexpr Expected kExpected[] = {
      {3, 3, "VOC Silence Block"},         {4, 2, "VOC Marker Block"},
      {6, 2, "VOC Repeat Loop Block"},     {7, 0, "VOC `End Repeat' block"},
      {8, 4, "VOC Extension Block 8"},     {9, 12, "VOC Extension Block 9"},
  };
  for (const Expected& e : kExpected)
    // The new-style block carries its samples after the 12 bytes of parameters.
    if (e.type == type && (type == 9 ? length < e.length : length != e.length))
      std::cerr << e.name << " has length " << length << "(should be " << e.length << ")\n";
}

}  // namespace

VocRead::VocRead(std::istream& in, std::int64_t fileSize) : in_(in), fileSize_(fileSize > 0 ? fileSize : 0) {
  fileFormat_ = FileFormatVoc;

  std::uint8_t header[kMinHeaderSize];
  in_.read(reinterpret_cast<char*>(header), kMinHeaderSize);
  const std::streamsize got = in_.gcount();
  if (got < kSignatureLength || std::memcmp(header, kSignature, kSignatureLength) != 0) throw SoundError("Not a VOC file");
  if (got < kMinHeaderSize) Corrupted();
  const std::uint32_t headerSize = LittleEndian16(header + 20);
  const std::uint32_t version = LittleEndian16(header + 22);
  const std::uint32_t check = LittleEndian16(header + 24);
  if (headerSize < std::uint32_t(kMinHeaderSize) || (fileSize_ > 0 && headerSize > fileSize_)) Corrupted();
  if (((version + check) & 0xFFFF) != kVersionCheckSum) std::cerr << "This VOC file may be corrupted.\n";
  SkipBytes(in_, headerSize - kMinHeaderSize);
  if (!in_) Corrupted();
  firstBlock_ = Position();

  // One pass over the chain finds the parameters (wherever the first sound block lies, so that
  // leading silence keeps its place) and counts the samples of one play through. Clients read
  // no further than that count, so with repeat loops the count is left unknown.
  std::int64_t samples = 0;
  bool repeats = false;
  do {
    NextBlock(true);
    if (blockType_ == kRepeat) {
      repeats = true;
    } else if (blockType_ == kSilence) {
      samples += remaining_;
    } else if (remaining_ > 0) {
      if (!decompressor_) throw SoundError("VOC sound data comes before its format");
      samples += remaining_ / (decompressor_->BitsPerSample() / 8);
    }
  } while (blockType_ != kEnd);
  if (rate_ <= 0) throw SoundError("No sound data in VOC file");
  if (vocChannels_ < 0) vocChannels_ = 1;  // silence alone
  floatByteCount_ = repeats ? 0 : samples * 4;

  in_.clear();
  in_.seekg(firstBlock_);
  blockType_ = -1;  // the first pull reads the first block
  remaining_ = 0;
  blocksRead_ = 0;
}

VocRead::~VocRead() = default;

std::int64_t VocRead::Position() {
  const std::streamoff at = in_.tellg();
  if (at < 0) Corrupted();
  return std::int64_t(at);
}

void VocRead::TakeParameters(int rate, int channels, int bits, int format) {
  if (rate_ < 0) {
    if (rate <= 0) throw SoundError("Unsupported sampling rate: ", rate);
    rate_ = rate;
  }
  if (vocChannels_ < 0) {
    if (channels < 1 || channels > kMaxChannels) throw SoundError("Unsupported number of channels: ", channels);
    vocChannels_ = channels;
  }
  if (bits_ < 0) bits_ = bits;
  if (format_ < 0) format_ = format;
}

void VocRead::CreateDecompressor() {
  if (decompressor_) return;
  switch (format_) {
    case kFormatPcm8Unsigned:
      decompressor_ = std::make_unique<DecompressPcm8Unsigned>(*this);
      compression_ = CompressionPcm8;
      break;
    case kFormatPcm16Signed:
      decompressor_ = std::make_unique<DecompressPcm16LsbSigned>(*this);
      compression_ = CompressionPcm16;
      break;
    case kFormatALaw:
      decompressor_ = std::make_unique<DecompressG711ALaw>(*this);
      compression_ = CompressionALaw;
      break;
    case kFormatMuLaw:
      decompressor_ = std::make_unique<DecompressG711MuLaw>(*this);
      compression_ = CompressionMuLaw;
      break;
    default: throw SoundError("Unsupported VOC compression type: ", format_);
  }
  resolution_ = decompressor_->BitsPerSample();
}

bool VocRead::EndsEightBytesShort(std::int64_t blockEnd) {
  // sox writes the length of its new-style sound block 8 bytes short: the sound then runs on to
  // the terminator, which is the file's last byte, and the 8 bytes between are no block.
  if (fileSize_ == 0 || blockEnd + 9 != fileSize_) return false;
  const std::int64_t at = Position();
  in_.seekg(blockEnd);
  const int type = in_.get();
  const std::uint32_t length = ReadLittleEndian(in_, 3);
  in_.seekg(fileSize_ - 1);
  const bool terminated = in_.get() == kEnd;
  in_.clear();
  in_.seekg(at);
  return terminated && (type == kEnd || length != 4);
}

void VocRead::NextBlock(bool scanning) {
  remaining_ = 0;
  if (++blocksRead_ > fileSize_ / 4 + kMaxExtraBlockReads) throw SoundError("VOC repeat loops do not end");
  const int type = in_.get();
  if (type == std::char_traits<char>::eof() || type == kEnd) {  // the end of the file ends the data too
    in_.clear();
    blockType_ = kEnd;
    return;
  }
  const std::uint32_t length = ReadLittleEndian(in_, 3);
  if (!in_) return EndOfData();
  std::int64_t end = Position() + length;
  if (fileSize_ > 0 && end > fileSize_) PrematureEnd();
  blockType_ = type;
  if (!scanning) WarnLength(type, length);
  // The fixed fields of the block, read at once: a file that ends inside them ends the data
  // (it is never taken for values).
  std::uint8_t field[12] = {};
  const int fieldBytes = FixedFieldBytes(type);
  if (fieldBytes > std::int64_t(length)) Corrupted();
  if (fieldBytes > 0) {
    in_.read(reinterpret_cast<char*>(field), fieldBytes);
    if (in_.gcount() < fieldBytes) return EndOfData();
  }

  switch (type) {
    case kSound: {
      const int timeConstant = field[0];
      const int pack = field[1];
      TakeParameters(1000000 / (256 - timeConstant), 1, 8, pack);
      CreateDecompressor();
      remaining_ = length - 2;
      if (!scanning) return;  // the sound bytes are read by the pulls
      break;
    }
    case kContinuation:
      if (!decompressor_) throw SoundError("VOC sound data comes before its format");
      remaining_ = length;
      if (!scanning) return;
      break;
    case kExtended: {
      const std::uint32_t timeConstant = LittleEndian16(field);
      const int pack = field[2];
      const int channels = field[3] + 1;  // the mode byte
      // Rounded: writers round the time constant, so truncating would make 22050 Hz read as 22049.
      const std::uint32_t divisor = 65536 - timeConstant;
      TakeParameters(int((256000000u / std::uint32_t(channels) + divisor / 2) / divisor), channels, 8, pack);
      CreateDecompressor();
      remaining_ = length - 4;
      if (!scanning) return;
      break;
    }
    case kNewSound: {
      const std::uint32_t rate = LittleEndian32(field);
      const int bits = field[4];
      const int channels = field[5];
      const int format = int(LittleEndian16(field + 6));
      if (rate > std::uint32_t(std::numeric_limits<int>::max())) throw SoundError("Unsupported sampling rate: ", rate);
      TakeParameters(int(rate), channels, bits, format);
      CreateDecompressor();
      remaining_ = length - 12;
      if (EndsEightBytesShort(end)) {
        if (!scanning) std::cerr << "VOC Extension Block 9 is 8 bytes longer than its length says; reading them too.\n";
        remaining_ += 8;
        end += 8;
      }
      if (!scanning) return;
      break;
    }
    case kSilence: {
      const std::uint32_t count = LittleEndian16(field);
      const int timeConstant = field[2];
      if (rate_ < 0) rate_ = 1000000 / (256 - timeConstant);
      remaining_ = std::int64_t(count) + 1;
      break;
    }
    case kMarker:
      if (!scanning) {
        const std::uint32_t marker = ReadLittleEndian(in_, int(std::clamp<std::uint32_t>(length, 1, 4)));
        std::cerr << "VOC Marker: " << marker << "\n";
      }
      break;
    case kText:
      if (!scanning) {
        std::string text(std::size_t(std::min<std::int64_t>(length, kMaxShownText)), '\0');
        in_.read(text.data(), std::streamsize(text.size()));
        text.resize(std::strlen(text.c_str()));  // the text ends at its zero byte
        std::cerr << "Comment: " << text << "\n";
      }
      break;
    case kRepeat:
      if (!scanning) {
        std::cerr << "Start of VOC Repeat Block.\n";
        if (++repeatDepth_ >= kMaxRepeatDepth) throw SoundError("Too many nested repeats");
        std::uint32_t count = LittleEndian16(field);
        if (count == kEndlessRepeat) count = 0;
        repeatCount_[repeatDepth_] = int(count);
        repeatStart_[repeatDepth_] = end;
      }
      break;
    case kEndRepeat:
      if (!scanning) {
        if (repeatDepth_ < 0) {
          std::cerr << "Improper VOC `End Repeat' block.\n";
        } else {
          std::cerr << "End of VOC Repeat Block(" << repeatCount_[repeatDepth_] << ")\n";
          if (repeatCount_[repeatDepth_] > 0) {
            --repeatCount_[repeatDepth_];  // the body plays count + 1 times in all
            in_.clear();
            in_.seekg(repeatStart_[repeatDepth_]);
            return;
          }
          --repeatDepth_;
        }
      }
      break;
    default: break;  // skipped
  }
  // What is left of a block without sound bytes (or, while scanning, any block) is passed over.
  in_.clear();
  in_.seekg(end);
  if (!in_) PrematureEnd();
}

int VocRead::FixedFieldBytes(int type) {
  switch (type) {
    case kSound: return 2;
    case kExtended: return 4;
    case kNewSound: return 12;
    case kSilence: return 3;
    case kRepeat: return 2;
    default: return 0;  // markers, text and unknown blocks are read (or skipped) as they come
  }
}

void VocRead::EndOfData() {
  in_.clear();
  blockType_ = kEnd;
  remaining_ = 0;
}

int VocRead::PullBytes(std::uint8_t* buffer, int length) {
  const std::int64_t wanted = std::min<std::int64_t>(length, remaining_);
  if (wanted <= 0) return 0;
  in_.read(reinterpret_cast<char*>(buffer), wanted);
  if (in_.gcount() < wanted) PrematureEnd();
  remaining_ -= wanted;
  return int(wanted);
}

void VocRead::CountSamples(std::int64_t n) {
  samplesDelivered_ += n;
  if (samplesDelivered_ > fileSize_ + kMaxExpansion)
    throw SoundError("VOC file expands to more samples than ", fileSize_ + kMaxExpansion);
}

int VocRead::PullSamples(float* out, int count) {
  int delivered = 0;
  while (delivered < count) {
    switch (blockType_) {
      case kEnd: return delivered;
      case kSound:
      case kContinuation:
      case kExtended:
      case kNewSound:
        if (remaining_ > 0) {
          const int n = decompressor_->PullSamples(out + delivered, count - delivered);
          delivered += n;
          CountSamples(n);
        }
        if (remaining_ == 0) NextBlock(false);
        break;
      case kSilence: {
        const int n = int(std::min<std::int64_t>(remaining_, count - delivered));
        std::fill(out + delivered, out + delivered + n, 0.0f);
        delivered += n;
        remaining_ -= n;
        CountSamples(n);
        if (remaining_ == 0) NextBlock(false);
        break;
      }
      default: NextBlock(false); break;
    }
  }
  return delivered;
}

void VocRead::MinMaxSamplingRate(int* min, int* max, int* preferred) { ForceRange(rate_, min, max, preferred); }

void VocRead::MinMaxChannels(int* min, int* max, int* preferred) { ForceRange(vocChannels_, min, max, preferred); }
