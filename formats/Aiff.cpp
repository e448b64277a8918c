#include "formats/Aiff.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>

#include "formats/Adpcm.h"
#include "formats/Au.h"
#include "formats/ByteOrder.h"
#include "formats/G711.h"
#include "formats/PcmCodecs.h"
#include "formats/Raw.h"

namespace {

constexpr std::uint32_t kForm = FourCC("FORM");
constexpr std::uint32_t kAiff = FourCC("AIFF");
constexpr std::uint32_t kAifc = FourCC("AIFC");
constexpr std::uint32_t kFver = FourCC("FVER");
constexpr std::uint32_t kComm = FourCC("COMM");
constexpr std::uint32_t kSsnd = FourCC("SSND");
constexpr std::uint32_t kAifcVersion1 = 0xA2805140;

constexpr std::uint32_t kNone = FourCC("NONE");
constexpr std::uint32_t kTwos = FourCC("twos");
constexpr std::uint32_t kSowt = FourCC("sowt");
constexpr std::uint32_t kFl32 = FourCC("fl32");
constexpr std::uint32_t kFl32Upper = FourCC("FL32");
constexpr std::uint32_t kFl64 = FourCC("fl64");
constexpr std::uint32_t kFl64Upper = FourCC("FL64");
constexpr std::uint32_t kUlaw = FourCC("ulaw");
constexpr std::uint32_t kUlawUpper = FourCC("ULAW");
constexpr std::uint32_t kAlaw = FourCC("alaw");
constexpr std::uint32_t kAlawUpper = FourCC("ALAW");
constexpr std::uint32_t kIma4 = FourCC("ima4");

constexpr int kPlainCommSize = 18;
constexpr int kAifcCommSize = 22;
constexpr int kMaxChannels = format_limits::kMaxChannels;

constexpr std::int64_t RoundUpToEven(std::int64_t n) { return n + (n & 1); }

struct AnnotationId {
  std::uint32_t id;
  int kind;
};
constexpr AnnotationId kAnnotationIds[] = {
    {FourCC("NAME"), AnnotationName},
    {FourCC("AUTH"), AnnotationArtist},
    {FourCC("(c) "), AnnotationCopyright},
    {FourCC("ANNO"), AnnotationComment},
};

int KindForId(std::uint32_t id) {
  for (const AnnotationId& entry : kAnnotationIds)
    if (entry.id == id) return entry.kind;
  return 0;
}

// The four characters of a code for a message, with anything unprintable shown as '?'.
std::string CodeText(std::uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = char(code >> shift);
    text += c >= 0x20 && c < 0x7F ? c : '?';
  }
  return text;
}

}  // namespace

std::uint32_t AiffIdForKind(int kind) {
  for (const AnnotationId& entry : kAnnotationIds)
    if (entry.kind == kind) return entry.id;
  return 0;
}

int RateFromExtended(const std::uint8_t* bytes) {
  const std::uint32_t signAndExponent = DecodeField(bytes, 2);
  const std::uint32_t mantissa = DecodeField(bytes + 2, 4);  // the integer bit is bit 31
  if (signAndExponent & 0x8000) return 0;
  // The power of two of the mantissa's top bit; NaN and infinity have the top exponent.
  const int power = int(signAndExponent) - 16383;
  if (power < 0 || power > 30) return 0;
  return int(mantissa >> (31 - power));
}

void ExtendedFromRate(double rate, std::uint8_t* bytes) {
  std::fill(bytes, bytes + 10, std::uint8_t(0));
  if (rate == 0 || !std::isfinite(rate)) return;
  int exponent = 0;
  const double fraction = std::frexp(std::fabs(rate), &exponent);  // in [0.5, 1)
  const std::uint32_t field = std::uint32_t(exponent + 16382) | (rate < 0 ? 0x8000u : 0u);
  const double scaled = fraction * 4294967296.0;
  const std::uint32_t high = std::uint32_t(std::floor(scaled));
  const std::uint32_t low = std::uint32_t(std::floor((scaled - high) * 4294967296.0));
  bytes[0] = std::uint8_t(field >> 8);
  bytes[1] = std::uint8_t(field);
  for (int i = 0; i < 4; ++i) {
    bytes[2 + i] = std::uint8_t(high >> (24 - 8 * i));
    bytes[6 + i] = std::uint8_t(low >> (24 - 8 * i));
  }
}

// ---------------------------------------------------------------------------------------------
// Reader

AiffRead::AiffRead(std::istream& in, std::int64_t fileSize)
    : SampleDataReader(in),
      fileSize_(fileSize > 0 ? fileSize : 0),
      walker_(in, fileSize_, ChunkWalker::Order::BigEndian, "AIFF", true) {
  fileFormat_ = FileFormatAiff;

  NextChunk();
  if (walker_.Depth() != 1 || walker_.Outermost().id != kForm ||
      (walker_.Outermost().formType != kAiff && walker_.Outermost().formType != kAifc))
    throw SoundError("Unexpected chunk in AIFF file");
  formType_ = walker_.Outermost().formType;

  while (!walker_.Over() && !ssndSeen_) NextChunk();
  if (!ssndSeen_) {
    if (comm_.empty()) throw SoundError("COMM chunk not found");
    throw SoundError("No audio data in AIFF file");
  }

  // COMM and the annotations may follow the audio. The audio is found, so a malformed chunk
  // behind it only ends the walk.
  try {
    while (!walker_.Over()) NextChunk();
  } catch (const SoundError& error) {
    std::cerr << "aiff: " << error.what() << " (behind the audio; ignored)\n";
  }
  if (comm_.empty()) throw SoundError("COMM chunk not found");
  ParseComm();
  ChooseDecompressor();
  in_.clear();
  in_.seekg(dataStart_);
}

AiffRead::~AiffRead() = default;

void AiffRead::NextChunk() {
  if (ChunkWalker::Chunk* chunk = walker_.Next()) TreatChunk(*chunk);
}

void AiffRead::TreatChunk(ChunkWalker::Chunk& chunk) {
  if (chunk.id == kForm) {
    walker_.OpenContainer();
    if (walker_.Depth() > 1) std::cerr << "FORM chunk seen at inner level?!?!\n";
    return;
  }
  if (walker_.Outermost().id != kForm) {
    std::cerr << "Outermost chunk is not FORM ?!?!\n";
    walker_.End();
    return;
  }
  if (chunk.id == kSsnd) {
    if (ssndSeen_) return;  // only the first SSND chunk is the audio
    if (chunk.size < 8) throw SoundError("Corrupted SSND chunk in AIFF file");
    const std::int64_t offset = walker_.ReadNumber(4);
    walker_.ReadNumber(4);  // block size, of no use here
    if (!in_) throw SoundError("Corrupted SSND chunk in AIFF file");
    // The first sample frame lies offset bytes into the sound data; a truncated file (or one
    // written to a pipe) opens with the audio it holds.
    std::int64_t soundBytes = chunk.size - 8;
    if (fileSize_ > 0) soundBytes = std::clamp<std::int64_t>(fileSize_ - chunk.start - 8, 0, soundBytes);
    const std::int64_t skip = std::clamp<std::int64_t>(offset, 0, soundBytes);
    ssndSeen_ = true;
    dataStart_ = chunk.start + 8 + skip;
    dataLength_ = soundBytes - skip;
    return;
  }
  if (chunk.beyondFile) throw SoundError("Corrupted chunk size in AIFF file");
  if (chunk.id == kFver) {
    if (chunk.size < 4 || walker_.ReadNumber(4) != kAifcVersion1) throw SoundError("Unrecognized AIFC file format");
  } else if (chunk.id == kComm) {
    if (walker_.Depth() != 2) std::cerr << "COMM chunk seen at wrong level?!?!\n";
    // A short COMM chunk is never kept: behind the audio its error is ignored, and the chunk
    // must not be parsed then.
    std::vector<std::uint8_t> comm = walker_.Read(format_limits::kMaxFormatChunk);
    if (comm.size() < std::size_t(kPlainCommSize)) throw SoundError("COMM chunk is too short");
    comm_ = std::move(comm);
  } else if (const int kind = KindForId(chunk.id)) {
    if (chunk.size > format_limits::kMaxAnnotationLength) {
      std::cerr << "aiff: skipping an annotation chunk of " << chunk.size << " bytes\n";
      return;
    }
    std::vector<std::uint8_t> text = walker_.Read(chunk.size);
    text.push_back(0);
    annotations_.SetByKind(kind, text.data(), std::int32_t(text.size()));
  }
  // Anything else is skipped when the next step closes it.
}

void AiffRead::ParseComm() {
  if (comm_.size() < std::size_t(kPlainCommSize)) throw SoundError("COMM chunk is too short");
  commChannels_ = int(DecodeField(&comm_[0], 2));
  commFrames_ = DecodeField(&comm_[2], 4);
  commBits_ = int(DecodeField(&comm_[6], 2));
  commRate_ = RateFromExtended(&comm_[8]);
  compressionType_ = formType_ == kAifc && comm_.size() >= std::size_t(kAifcCommSize) ? DecodeField(&comm_[18], 4) : kNone;
  if (commChannels_ <= 0 || commChannels_ > kMaxChannels)
    throw SoundError("Unsupported number of channels: ", commChannels_);
  if (commRate_ <= 0) throw SoundError("Unsupported sampling rate in AIFF file");
}

void AiffRead::ChooseDecompressor() {
  const std::uint32_t type = compressionType_;
  const bool bigEndianPcm = type == kNone || type == kTwos;
  if (bigEndianPcm || type == kSowt) {
    if (commBits_ <= 0 || commBits_ > 32) {
      if (type == kNone) throw SoundError("Unsupported AIFF-C compression type NONE");
      throw SoundError("Unsupported resolution: ", commBits_);
    }
    if (commBits_ <= 8) {
      decompressor_ = std::make_unique<DecompressPcm8Signed>(*this);
      compression_ = CompressionPcm8;
    } else if (commBits_ <= 16) {
      if (bigEndianPcm)
        decompressor_ = std::make_unique<DecompressPcm16MsbSigned>(*this);
      else
        decompressor_ = std::make_unique<DecompressPcm16LsbSigned>(*this);
      compression_ = CompressionPcm16;
    } else if (commBits_ <= 24) {
      if (bigEndianPcm)
        decompressor_ = std::make_unique<DecompressPcm24MsbSigned>(*this);
      else
        decompressor_ = std::make_unique<DecompressPcm24LsbSigned>(*this);
      compression_ = CompressionPcm24;
    } else {
      if (bigEndianPcm)
        decompressor_ = std::make_unique<DecompressPcm32MsbSigned>(*this);
      else
        decompressor_ = std::make_unique<DecompressPcm32LsbSigned>(*this);
      compression_ = CompressionPcm32;
    }
  } else if (type == kFl32 || type == kFl32Upper) {
    decompressor_ = std::make_unique<DecompressPcm32FloatMsb>(*this);
    compression_ = CompressionFloat32;
  } else if (type == kFl64 || type == kFl64Upper) {
    // The document holds 32-bit floats: a float file of 64-bit resolution.
    decompressor_ = std::make_unique<DecompressPcm64FloatMsb>(*this);
    compression_ = CompressionFloat32;
  } else if (type == kUlaw || type == kUlawUpper) {
    decompressor_ = std::make_unique<DecompressG711MuLaw>(*this);
    compression_ = CompressionMuLaw;
  } else if (type == kAlaw || type == kAlawUpper) {
    decompressor_ = std::make_unique<DecompressG711ALaw>(*this);
    compression_ = CompressionALaw;
  } else if (type == kIma4) {
    // The COMM chunk counts packets of 64 frames; the audio is as many whole packets as the
    // SSND chunk holds.
    auto adpcm = std::make_unique<DecompressImaAdpcmApple>(*this, commChannels_);
    dataLength_ = adpcm->FitToData(std::min(dataLength_, std::int64_t(commFrames_) * adpcm->BlockBytes()), 0);
    dataRemaining_ = dataLength_;
    floatByteCount_ = adpcm->Frames() * commChannels_ * 4;
    resolution_ = adpcm->BitsPerSample();
    compression_ = CompressionAppleAdpcm;
    decompressor_ = std::move(adpcm);
    return;
  } else {
    throw SoundError("Unsupported AIFF-C compression type ", CodeText(type));
  }
  resolution_ = decompressor_->BitsPerSample();

  // The audio is the COMM's frames, as far as the SSND chunk holds them.
  KeepWholeFrames(commChannels_, commFrames_);
}

void AiffRead::MinMaxSamplingRate(int* min, int* max, int* preferred) { ForceRange(commRate_, min, max, preferred); }

void AiffRead::MinMaxChannels(int* min, int* max, int* preferred) { ForceRange(commChannels_, min, max, preferred); }

// ---------------------------------------------------------------------------------------------
// Writer

namespace {

// The AIFC compression type of an encoding, 0 for the plain AIFF ones.
std::uint32_t AifcTypeFor(int compression) {
  switch (compression) {
    case CompressionMuLaw: return kUlaw;
    case CompressionALaw: return kAlaw;
    case CompressionFloat32: return kFl32;
    default: return 0;
  }
}

// The chunk an annotation is written under: its kind's id, or its own id; 0 = not written.
// Ids that would change the file's structure are never written.
std::uint32_t ChunkIdFor(const Annotation& item) {
  if (item.kind != AnnotationById) return AiffIdForKind(item.kind);
  for (std::uint32_t reserved : {kForm, kComm, kSsnd, kFver, std::uint32_t(0)})
    if (item.chunkId == reserved) return 0;
  return item.chunkId;
}

std::int64_t WrittenLength(const Annotation& item) { return RoundUpToEven(item.Length()); }

}  // namespace

AiffWrite::AiffWrite(std::ostream& out, std::int64_t frameCount, int channels, int rate, int compression,
                     const AnnotationList& annotations)
    : FixedSizeWriter(out, frameCount, BitsForCompression(compression)) {
  const bool pcm = compression >= CompressionPcm8 && compression <= CompressionPcm32;
  const std::uint32_t aifcType = AifcTypeFor(compression);
  if (!pcm && aifcType == 0) throw SoundError("Compression type not supported for output");
  if (channels < 1 || channels > kMaxChannels) throw SoundError("Unsupported number of channels: ", channels);
  if (rate <= 0) throw SoundError("Unsupported sampling rate: ", rate);

  fileFormat_ = FileFormatAiff;
  compression_ = compression;
  resolution_ = bits_;
  padsToEven_ = true;
  FreezeChannels(channels);
  FreezeSamplingRate(rate);
  // Text items lose their terminating zeros; the written chunk pads an odd length with a space.
  for (const Annotation& item : annotations) {
    if (item.kind == AnnotationById) {
      annotations_.SetById(item.origin, item.chunkId, item.data.data(), item.Length());
      continue;
    }
    std::int32_t n = item.Length();
    while (n > 0 && item.data[std::size_t(n) - 1] == 0) --n;
    annotations_.SetByKind(item.kind, item.data.data(), n);
  }

  const bool aifc = aifcType != 0;
  const std::int64_t commSize = aifc ? kAifcCommSize : kPlainCommSize;
  std::int64_t annotationTotal = 0;
  for (const Annotation& item : annotations_)
    if (ChunkIdFor(item)) annotationTotal += 8 + WrittenLength(item);
  dataSize_ = std::int64_t(channels) * (bits_ / 8) * frameCount_;
  const std::int64_t formLength = 4 + (aifc ? 12 : 0) + 8 + commSize + annotationTotal + 16 + RoundUpToEven(dataSize_);
  if (frameCount_ > 0xFFFFFFFFll || formLength > 0xFFFFFFFFll) throw SoundError("Audio too long for an AIFF file");

  CreateBigEndianCompressor(compression);

  const std::streamoff at = out_.tellp();
  WriteBigEndian(out_, kForm, 4);
  WriteBigEndian(out_, std::uint32_t(formLength), 4);
  WriteBigEndian(out_, aifc ? kAifc : kAiff, 4);
  if (aifc) {
    WriteBigEndian(out_, kFver, 4);
    WriteBigEndian(out_, 4, 4);
    WriteBigEndian(out_, kAifcVersion1, 4);
  }
  WriteBigEndian(out_, kComm, 4);
  WriteBigEndian(out_, std::uint32_t(commSize), 4);
  WriteBigEndian(out_, std::uint32_t(channels), 2);
  WriteBigEndian(out_, std::uint32_t(frameCount_), 4);
  WriteBigEndian(out_, std::uint32_t(bits_), 2);
  std::uint8_t extended[10];
  ExtendedFromRate(rate, extended);
  out_.write(reinterpret_cast<const char*>(extended), 10);
  if (aifc) WriteBigEndian(out_, aifcType, 4);
  for (const Annotation& item : annotations_) {
    const std::uint32_t id = ChunkIdFor(item);
    if (!id) continue;
    WriteBigEndian(out_, id, 4);
    WriteBigEndian(out_, std::uint32_t(WrittenLength(item)), 4);
    out_.write(reinterpret_cast<const char*>(item.data.data()), item.Length());
    if (item.Length() & 1) out_.put(' ');
  }
  WriteBigEndian(out_, kSsnd, 4);
  WriteBigEndian(out_, std::uint32_t(dataSize_ + 8), 4);
  WriteBigEndian(out_, 0, 4);  // offset
  WriteBigEndian(out_, 0, 4);  // block size
  dataStart_ = (at < 0 ? 0 : std::int64_t(at)) + 8 + formLength - RoundUpToEven(dataSize_);
}

AiffWrite::~AiffWrite() { Complete(); }
