#include "formats/Iff.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>

#include "formats/ByteOrder.h"
#include "formats/PcmCodecs.h"

namespace {

constexpr std::uint32_t kForm = FourCC("FORM");
constexpr std::uint32_t k8svx = FourCC("8SVX");
constexpr std::uint32_t kVhdr = FourCC("VHDR");
constexpr std::uint32_t kBody = FourCC("BODY");
constexpr std::uint32_t kChan = FourCC("CHAN");
constexpr std::uint32_t kChanStereo = 6;  // left (2) and right (4)

constexpr int kVhdrRateOffset = 12;
constexpr int kVhdrCompressionOffset = 15;
constexpr std::int64_t kMinVhdrSize = 16;
// What is read of a BODY whose header says it holds nothing and whose VHDR says nothing either.
constexpr std::int64_t kGuessedBodyLength = 1000000;

constexpr int kCompressionNone = 0;
constexpr int kCompressionFibonacci = 1;
constexpr int kCompressionExponential = 2;

constexpr std::int8_t kFibonacciSteps[16] = {-34, -21, -13, -8, -5, -3, -2, -1, 0, 1, 2, 3, 5, 8, 13, 21};
constexpr std::int8_t kExponentialSteps[16] = {-128, -64, -32, -16, -8, -4, -2, -1, 0, 1, 2, 4, 8, 16, 32, 64};

struct TextChunk {
  std::uint32_t id;
  const char* label;
};
constexpr TextChunk kTextChunks[] = {
    {FourCC("(c) "), "Copyright:"},
    {FourCC("ANNO"), "Annotation:"},
    {FourCC("AUTH"), "Author:"},
    {FourCC("NAME"), "Name:"},
};

[[noreturn]] void PrematureEnd() { throw SoundError("Premature end to IFF/8SVX file"); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Delta decoders

DecompressDpcmFibonacci::DecompressDpcmFibonacci(AudioAbstract& source) : DecompressDpcm(source, kFibonacciSteps) {}

DecompressDpcmExponential::DecompressDpcmExponential(AudioAbstract& source) : DecompressDpcm(source, kExponentialSteps) {}

float DecompressDpcm::Step(int nibble) {
  value_ = std::int16_t(std::uint16_t(value_ + steps_[(nibble + 8) % 16] * 256));  // wraps at 16 bits
  return value_ / 32768.0f;
}

int DecompressDpcm::PullSamples(float* out, int count) {
  int delivered = 0;
  if (count > 0 && hasPending_) {
    out[delivered++] = pending_;
    hasPending_ = false;
  }
  std::uint8_t buffer[kBlockBytes];
  while (delivered < count) {
    const int wanted = std::min((count - delivered + 1) / 2, kBlockBytes);
    const int got = source_.PullBytes(buffer, wanted);
    if (got <= 0) break;
    for (int i = 0; i < got; ++i) {
      out[delivered++] = Step(buffer[i] >> 4);
      const float low = Step(buffer[i] & 15);
      if (delivered < count) {
        out[delivered++] = low;
      } else {
        pending_ = low;
        hasPending_ = true;
      }
    }
  }
  return delivered;
}

// ---------------------------------------------------------------------------------------------
// Reader

IffRead::IffRead(std::istream& in, std::int64_t fileSize)
    : in_(in), fileSize_(fileSize > 0 ? fileSize : 0), walker_(in, fileSize_, ChunkWalker::Order::BigEndian, "IFF", true) {
  fileFormat_ = FileFormatIff8svx;

  NextChunk();
  if (walker_.Depth() != 1 || walker_.Outermost().id != kForm || !walker_.Outermost().isContainer)
    throw SoundError("Unexpected chunk in IFF file");
  ChooseDecompressor();
}

IffRead::~IffRead() = default;

std::int64_t IffRead::Position() {
  const std::int64_t at = walker_.Position();
  if (at < 0) PrematureEnd();
  return at;
}

void IffRead::NextChunk() {
  if (ChunkWalker::Chunk* chunk = walker_.Next()) TreatChunk(*chunk);
}

void IffRead::TreatChunk(ChunkWalker::Chunk& chunk) {
  if (walker_.Depth() == 1 && chunk.id != kForm) {
    std::cerr << "Outermost chunk is not FORM ?!?!\n";
    walker_.End();
    return;
  }
  if (chunk.id == kForm) {
    walker_.OpenContainer();
    if (walker_.Depth() > 1) std::cerr << "FORM chunk seen at inner level?!?!\n";
    if (walker_.Depth() == 1 && chunk.formType != k8svx) throw SoundError("Unexpected chunk in IFF file");
    return;
  }
  if (chunk.id == kBody) {
    TreatBody(chunk);
    return;
  }
  if (chunk.beyondFile) PrematureEnd();
  if (chunk.id == kVhdr) {
    if (walker_.Depth() != 2) std::cerr << "VHDR chunk seen at wrong level?!?!\n";
    const std::int64_t wanted = std::min(chunk.size, format_limits::kMaxFormatChunk);
    vhdr_ = walker_.Read(wanted);
    if (std::int64_t(vhdr_.size()) < wanted) PrematureEnd();
    if (chunk.size < kMinVhdrSize) throw SoundError("VHDR chunk is too short");
    return;
  }
  if (chunk.id == kChan && chunk.size >= 4) {
    chanValue_ = walker_.ReadNumber(4);
    return;
  }
  for (const TextChunk& text : kTextChunks) {
    if (text.id != chunk.id) continue;
    const std::vector<std::uint8_t> bytes = walker_.Read(format_limits::kMaxShownText);
    std::string shown(bytes.begin(), bytes.end());
    shown.resize(std::strlen(shown.c_str()));
    std::cerr << text.label << " " << shown << "\n";
    return;
  }
  // Anything else is skipped when the next step closes it.
}

void IffRead::TreatBody(ChunkWalker::Chunk& chunk) {
  // Only the BODY of the outermost FORM holds the sound; a VHDR must come before it.
  if (vhdr_.empty()) throw SoundError("VHDR chunk not found before the BODY");
  std::int64_t oneShot = DecodeField(vhdr_.data(), 4);
  if (chunk.size == 0) {
    if (oneShot != 0) {
      std::cerr << "IFF/8SVX file has samples, but the body has no data!?\n"
                << "Maybe the body is damaged, I'll try anyway...\n";
    } else {
      std::cerr << "IFF/8SVX file says it has no data!?\n"
                << "I'll try to play something anyway, here goes...\n";
      oneShot = kGuessedBodyLength;
    }
    // Up to that many bytes from where the body starts, as far as the file goes.
    const std::int64_t inFile = fileSize_ > 0 ? std::max<std::int64_t>(fileSize_ - Position(), 0) : oneShot;
    chunk.size = chunk.remaining = std::min(oneShot, inFile);
  } else if (oneShot == 0) {
    std::cerr << "IFF/8SVX file has data in the body, but no samples?!\n"
              << "Maybe the header is damaged, I'll try anyway...\n";
  }
  if (fileSize_ > 0 && Position() + chunk.size > fileSize_) PrematureEnd();
  bodyRemaining_ = chunk.remaining;
  bodySeen_ = true;
}

void IffRead::ChooseDecompressor() {
  while (!walker_.Over() && !bodySeen_) NextChunk();
  if (!bodySeen_) throw SoundError("BODY chunk not found");

  rate_ = int(DecodeField(&vhdr_[kVhdrRateOffset], 2));
  if (rate_ == 0) throw SoundError("Unsupported sampling rate: ", 0);
  const int compression = vhdr_[kVhdrCompressionOffset];
  switch (compression) {
    case kCompressionNone:
      decompressor_ = std::make_unique<DecompressPcm8Signed>(*this);
      compression_ = CompressionPcm8;
      floatByteCount_ = bodyRemaining_ * 4;
      break;
    case kCompressionFibonacci:
      decompressor_ = std::make_unique<DecompressDpcmFibonacci>(*this);
      compression_ = CompressionFibonacci;
      floatByteCount_ = bodyRemaining_ * 8;
      break;
    case kCompressionExponential:
      decompressor_ = std::make_unique<DecompressDpcmExponential>(*this);
      compression_ = CompressionExponential;
      floatByteCount_ = bodyRemaining_ * 8;
      break;
    default: throw SoundError("Unsupported IFF/8SVX compression type: ", compression);
  }
  resolution_ = 8;

  if (chanValue_ == kChanStereo) {
    if (compression != kCompressionNone) throw SoundError("Stereo IFF/8SVX files with delta compression are not supported");
    stereo_ = true;
    leftStart_ = Position();
    frames_ = bodyRemaining_ / 2;
    floatByteCount_ = frames_ * 2 * 4;
  }
}

int IffRead::PullBytes(std::uint8_t* buffer, int length) {
  if (stereo_) {
    const int frames = int(std::min<std::int64_t>(length / 2, frames_ - framesRead_));
    constexpr int kPiece = 4096;
    std::uint8_t left[kPiece], right[kPiece];
    int done = 0;
    while (done < frames) {
      const int n = std::min(frames - done, kPiece);
      in_.seekg(leftStart_ + framesRead_);
      in_.read(reinterpret_cast<char*>(left), n);
      in_.seekg(leftStart_ + frames_ + framesRead_);
      in_.read(reinterpret_cast<char*>(right), n);
      if (!in_) PrematureEnd();
      for (int i = 0; i < n; ++i) {
        buffer[2 * (done + i)] = left[i];
        buffer[2 * (done + i) + 1] = right[i];
      }
      done += n;
      framesRead_ += n;
    }
    return 2 * done;
  }
  const std::int64_t wanted = std::min<std::int64_t>(length, bodyRemaining_);
  if (wanted <= 0) return 0;
  in_.read(reinterpret_cast<char*>(buffer), wanted);
  const std::int64_t got = in_.gcount();
  bodyRemaining_ = got < wanted ? 0 : bodyRemaining_ - got;  // a short read is the end of the file
  return int(got);
}

int IffRead::PullSamples(float* out, int count) { return decompressor_->PullSamples(out, count); }

void IffRead::MinMaxSamplingRate(int* min, int* max, int* preferred) { ForceRange(rate_, min, max, preferred); }

void IffRead::MinMaxChannels(int* min, int* max, int* preferred) { ForceRange(stereo_ ? 2 : 1, min, max, preferred); }
