#include "formats/Wave.h"

#include <algorithm>
#include <iostream>
#include <limits>

#include "formats/Adpcm.h"
#include "formats/ByteOrder.h"
#include "formats/G711.h"
#include "formats/Mpeg.h"
#include "formats/PcmCodecs.h"

namespace {

constexpr std::uint32_t kRiff = FourCC("RIFF");
// RF64 and BW64 are RIFF with 64-bit sizes: a ds64 chunk holds the sizes that do not fit.
constexpr std::uint32_t kRf64 = FourCC("RF64");
constexpr std::uint32_t kBw64 = FourCC("BW64");
constexpr std::uint32_t kDs64 = FourCC("ds64");
constexpr std::uint32_t kSizeInDs64 = 0xFFFFFFFF;
constexpr int kDs64Size = 28;  // RIFF size, data size, sample count (64-bit each), table length
constexpr std::uint32_t kWave = FourCC("WAVE");
constexpr std::uint32_t kList = FourCC("LIST");
constexpr std::uint32_t kInfo = FourCC("INFO");
constexpr std::uint32_t kFmt = FourCC("fmt ");
constexpr std::uint32_t kFact = FourCC("fact");
constexpr std::uint32_t kData = FourCC("data");
constexpr std::uint32_t kDisp = FourCC("DISP");

void WriteLittleEndian64(std::ostream& out, std::int64_t value) {
  WriteLittleEndian(out, std::uint32_t(std::uint64_t(value) & 0xFFFFFFFFu), 4);
  WriteLittleEndian(out, std::uint32_t(std::uint64_t(value) >> 32), 4);
}

constexpr int kTagPcm = 1;
constexpr int kTagMsAdpcm = 2;
constexpr int kTagFloat = 3;
constexpr int kTagALaw = 6;
constexpr int kTagMuLaw = 7;
constexpr int kTagImaAdpcm = 0x11;
constexpr int kTagMpegLayer3 = 0x55;
constexpr int kTagExtensible = 0xFFFE;

constexpr int kMaxChannels = format_limits::kMaxChannels;

bool IsRiffId(std::uint32_t id) { return id == kRiff || id == kRf64 || id == kBw64; }

std::int64_t LittleEndian64(const std::uint8_t* p) {
  return std::int64_t(std::min<std::uint64_t>(LittleEndian32(p) | (std::uint64_t(LittleEndian32(p + 4)) << 32),
                                              std::numeric_limits<std::int64_t>::max()));
}

constexpr std::int64_t RoundUpToEven(std::int64_t n) { return n + (n & 1); }

struct InfoId {
  std::uint32_t id;
  int kind;
};
constexpr InfoId kInfoIds[] = {
    {FourCC("INAM"), AnnotationName},      {FourCC("IART"), AnnotationArtist},
    {FourCC("ICOP"), AnnotationCopyright}, {FourCC("ICMT"), AnnotationComment},
    {FourCC("IGNR"), AnnotationGenre},     {FourCC("ISRC"), AnnotationSource},
};

}  // namespace

int InfoKindForId(std::uint32_t id) {
  for (const InfoId& entry : kInfoIds)
    if (entry.id == id) return entry.kind;
  return 0;
}

std::uint32_t InfoIdForKind(int kind) {
  for (const InfoId& entry : kInfoIds)
    if (entry.kind == kind) return entry.id;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Reader

WaveRead::WaveRead(std::istream& in, std::int64_t fileSize, bool readTrailingChunks)
    : SampleDataReader(in),
      fileSize_(fileSize > 0 ? fileSize : 0),
      readTrailingChunks_(readTrailingChunks),
      walker_(in, fileSize_, ChunkWalker::Order::LittleEndian, "WAVE", readTrailingChunks) {
  fileFormat_ = FileFormatWave;

  NextChunk();
  if (walker_.Depth() != 1 || !IsRiffId(walker_.Outermost().id) || walker_.Outermost().formType != kWave)
    throw SoundError("Unexpected chunk in WAVE file");

  while (!dataSeen_) {
    if (walker_.Over()) throw SoundError("Sound data not found");
    NextChunk();
  }

  if (readTrailingChunks_) {
    // Collect the chunks behind the audio (LIST, DISP), then return to the data. The audio is
    // already found, so a malformed chunk behind it only ends the walk.
    try {
      while (!walker_.Over()) NextChunk();
    } catch (const SoundError& error) {
      std::cerr << "wave: " << error.what() << " (behind the audio; ignored)\n";
    }
    in_.clear();
    in_.seekg(dataStart_);
  }
  ChooseDecompressor();
  dataRemaining_ = dataLength_;
  if (lengthUnknown_ && compression_ != CompressionMpegLayer3) floatByteCount_ = 0;
}

WaveRead::~WaveRead() = default;

void WaveRead::NextChunk() {
  ChunkWalker::Chunk* chunk = walker_.Next();
  if (!chunk) return;
  if (walker_.Depth() == 1 && !IsRiffId(chunk->id)) throw SoundError("RIFF chunk not found");
  TreatChunk(*chunk);
}

void WaveRead::TreatChunk(ChunkWalker::Chunk& chunk) {
  const ChunkWalker::Chunk* parent = walker_.Parent();
  const bool insideList = parent && parent->id == kList;
  // Files written to a pipe declare RIFF and data lengths they cannot know (0xFFFFFFFF, or
  // sox's guess): those run to the end of the file. Any other chunk beyond the end is damage,
  // fatal before the audio and the end of the walk behind it.
  if (chunk.beyondFile && !IsRiffId(chunk.id) && chunk.id != kData) {
    if (!dataSeen_) throw SoundError("Corrupted chunk size in wav file");
    walker_.End();
    return;
  }
  if (IsRiffId(chunk.id) || chunk.id == kList) {
    if (IsRiffId(chunk.id) && walker_.Depth() != 1) throw SoundError("RIFF chunk found at wrong level");
    walker_.OpenContainer();
  } else if (chunk.id == kDs64 && walker_.Depth() == 2 && walker_.Outermost().id != kRiff) {
    const std::vector<std::uint8_t> ds64 = walker_.Read(24);
    if (ds64.size() < 24) throw SoundError("Corrupted ds64 chunk in RF64 file");
    ds64DataSize_ = LittleEndian64(&ds64[8]);
    if (ds64DataSize_ < 0 || ds64DataSize_ > format_limits::kMaxDataBytes)
      throw SoundError("Corrupted ds64 chunk in RF64 file");
    // The RF64 chunk's own size: what follows the data chunk (tags) is inside it.
    const std::int64_t riffSize = LittleEndian64(&ds64[0]);
    if (walker_.Outermost().size == kSizeInDs64 && riffSize > kSizeInDs64 && riffSize <= format_limits::kMaxDataBytes)
      walker_.SetOutermostSize(riffSize);
  } else if (chunk.id == kFmt) {
    if (walker_.Depth() != 2) throw SoundError("FMT chunk found at wrong level");
    if (chunk.size > format_limits::kMaxFormatChunk) throw SoundError("Corrupted WAVE file\n");
    fmt_ = walker_.Read(chunk.size);
    fmtSeen_ = true;
    if (std::int64_t(fmt_.size()) < chunk.size) throw SoundError("Corrupted WAVE file: fmt chunk truncated");
  } else if (chunk.id == kFact) {
    if (chunk.size >= 4) factSampleCount_ = walker_.ReadNumber(4);
  } else if (chunk.id == kData) {
    if (dataSeen_) return;  // only the first data chunk is the audio
    dataSeen_ = true;
    dataStart_ = chunk.start;
    if (chunk.size == kSizeInDs64 && ds64DataSize_ >= 0) {
      chunk.size = chunk.remaining = ds64DataSize_;
      chunk.beyondFile = fileSize_ > 0 && chunk.size > fileSize_ - chunk.start;
    }
    dataLength_ = chunk.size;
    // "Unknown" (all ones, a stream's header) announces nothing.
    if (chunk.size != 0xFFFFFFFF) declaredDataLength_ = chunk.size;
    // A truncated file, or one written to a pipe, opens with the audio it holds.
    if (fileSize_ > 0) dataLength_ = std::clamp<std::int64_t>(fileSize_ - dataStart_, 0, dataLength_);
    // Without a file size, a length that says "unknown" leaves the count of samples unknown.
    lengthUnknown_ = fileSize_ == 0 && (chunk.size == 0xFFFFFFFF ||
                                        (walker_.Outermost().id == kRiff && walker_.Outermost().size == 0xFFFFFFFF));
  } else if (chunk.id == kDisp || insideList) {
    if (chunk.size > format_limits::kMaxAnnotationLength) {
      std::cerr << "wave: skipping a metadata chunk of " << chunk.size << " bytes\n";
      return;
    }
    const std::vector<std::uint8_t> data = walker_.Read(chunk.size);
    const int n = static_cast<int>(data.size());
    if (chunk.id == kDisp)
      annotations_.SetById(FileFormatWave, kDisp, data.data(), n);
    else if (int kind = InfoKindForId(chunk.id))
      annotations_.SetByKind(kind, data.data(), n);
    else
      annotations_.SetById(FileFormatWave, chunk.id, data.data(), n);
  }
  // Anything else ("PAD ", "JUNK", ...) is skipped when the next step closes it.
}

void WaveRead::ChooseDecompressor() {
  if (!fmtSeen_) throw SoundError("fmt chunk not found");
  if (fmt_.size() < 14) throw SoundError("Corrupted WAVE file: fmt chunk too short");
  const std::int64_t fmtLength = std::int64_t(fmt_.size());
  auto field16 = [&](std::int64_t at) { return at + 2 <= fmtLength ? int(LittleEndian16(&fmt_[at])) : 0; };
  auto field32 = [&](std::int64_t at) { return at + 4 <= fmtLength ? LittleEndian32(&fmt_[at]) : 0u; };

  formatTag_ = field16(0);
  fmtChannels_ = field16(2);
  fmtRate_ = int(std::min<std::uint32_t>(field32(4), std::numeric_limits<std::int32_t>::max()));
  const int blockAlign = field16(12);
  // The oldest fmt chunks (14 bytes) have no bits field: the block holds one sample per channel.
  fmtBits_ = fmtLength >= 16 ? field16(14) : (fmtChannels_ > 0 ? blockAlign * 8 / fmtChannels_ : 0);

  if (fmtChannels_ <= 0 || fmtChannels_ > kMaxChannels) throw SoundError("Unsupported number of channels: ", fmtChannels_);
  if (fmtRate_ <= 0) throw SoundError("Unsupported sampling rate: ", fmtRate_);

  int tag = formatTag_;
  if (tag == kTagExtensible) {
    // The sub-format identifier's first 4 bytes hold the actual format code.
    const std::uint32_t code = fmtLength >= 28 ? field32(24) : 0;
    tag = code == kTagPcm ? kTagPcm : code == kTagFloat ? kTagFloat : -1;
  }
  const bool doubles = tag == kTagFloat && fmtBits_ == 64;
  if (fmtBits_ > 32 && !doubles) throw SoundError("Unsupported resolution: ", fmtBits_);

  switch (tag) {
    case kTagPcm:
      if (fmtBits_ <= 0) throw SoundError("Unsupported resolution: ", fmtBits_);
      if (fmtBits_ <= 8) {
        decompressor_ = std::make_unique<DecompressPcm8Unsigned>(*this);
        compression_ = CompressionPcm8;
      } else if (fmtBits_ <= 16) {
        decompressor_ = std::make_unique<DecompressPcm16LsbSigned>(*this);
        compression_ = CompressionPcm16;
      } else if (fmtBits_ <= 24) {
        decompressor_ = std::make_unique<DecompressPcm24LsbSigned>(*this);
        compression_ = CompressionPcm24;
      } else {
        decompressor_ = std::make_unique<DecompressPcm32LsbSigned>(*this);
        compression_ = CompressionPcm32;
      }
      break;
    case kTagFloat:
      // The document holds 32-bit floats: 64-bit files count as float files of 64-bit resolution.
      if (doubles)
        decompressor_ = std::make_unique<DecompressPcm64Float>(*this);
      else
        decompressor_ = std::make_unique<DecompressPcm32Float>(*this);
      compression_ = CompressionFloat32;
      break;
    case kTagALaw:
      decompressor_ = std::make_unique<DecompressG711ALaw>(*this);
      compression_ = CompressionALaw;
      break;
    case kTagMuLaw:
      decompressor_ = std::make_unique<DecompressG711MuLaw>(*this);
      compression_ = CompressionMuLaw;
      break;
    case kTagMsAdpcm:
      if (fmtBits_ != 4) throw SoundError("MSADPCM requires 4 bits per sample, not ", fmtBits_);
      if (fmtLength < 20) throw SoundError("MSADPCM requires additional decompression data");
      {
        const int pairs = fmtLength >= 22 ? field16(20) : 0;
        if (pairs > DecompressMsAdpcm::kMaxCoefficientPairs)
          throw SoundError("Unsupported number of MSADPCM coefficient pairs: ", pairs);
        if (22 + 4 * std::int64_t(pairs) > fmtLength) throw SoundError("MSADPCM coefficient table is truncated");
        std::vector<std::int16_t> first(static_cast<std::size_t>(pairs)), second(static_cast<std::size_t>(pairs));
        for (int i = 0; i < pairs; ++i) {
          first[std::size_t(i)] = std::int16_t(field16(22 + 4 * i));
          second[std::size_t(i)] = std::int16_t(field16(24 + 4 * i));
        }
        auto adpcm = std::make_unique<DecompressMsAdpcm>(*this, field16(18), fmtChannels_, blockAlign, first, second);
        compression_ = CompressionMsAdpcm;
        // The audio is the whole blocks of the data chunk, as many frames as the fact chunk says.
        dataLength_ = adpcm->FitToData(dataLength_, factSampleCount_);
        floatByteCount_ = adpcm->Frames() * fmtChannels_ * 4;
        resolution_ = adpcm->BitsPerSample();
        decompressor_ = std::move(adpcm);
      }
      return;
    case kTagImaAdpcm:
      if (fmtBits_ != 4) throw SoundError("IMA ADPCM requires 4 bits per sample, not ", fmtBits_);
      if (fmtLength < 20) throw SoundError("IMA ADPCM requires additional decompression data.");
      {
        auto adpcm = std::make_unique<DecompressImaAdpcmMs>(*this, field16(18), fmtChannels_, blockAlign);
        compression_ = CompressionImaAdpcm;
        // The audio is the whole blocks of the data chunk, as many frames as the fact chunk says.
        dataLength_ = adpcm->FitToData(dataLength_, factSampleCount_);
        floatByteCount_ = adpcm->Frames() * fmtChannels_ * 4;
        resolution_ = adpcm->BitsPerSample();
        decompressor_ = std::move(adpcm);
      }
      return;
    case kTagMpegLayer3: {
      // The frames start within the first 2048 bytes of the data.
      in_.clear();
      in_.seekg(dataStart_);
      if (!FindMpegSync(in_, 2048, true)) throw SoundError("MP3 Frame header not found");
      // A fact count beyond what the data can hold is damage; the decoder estimates instead.
      if (factSampleCount_ <= MaxMpegFrames(dataLength_) * kMaxSamplesPerFrame)
        floatByteCount_ = std::int64_t(fmtChannels_) * factSampleCount_ * 4;
      auto mpeg = std::make_unique<DecompressMpeg123>(*this, dataStart_);
      // The decoder delivers the stream's own rate and channels; the fmt chunk must agree.
      if (mpeg->Channels() != fmtChannels_ || mpeg->SamplingRate() != fmtRate_)
        throw SoundError("MP3 stream does not match the WAVE format");
      if (floatByteCount_ == 0 && mpeg->BitRate() > 0) floatByteCount_ = 4 * std::int64_t(fmtChannels_) * mpeg->TotalSamples();
      if (floatByteCount_ == 0) throw SoundError("Cant get size of Mp3/WAV content");
      compression_ = CompressionMpegLayer3;
      bitRate_ = mpeg->BitRate();
      resolution_ = mpeg->BitsPerSample();
      decompressor_ = std::move(mpeg);
      return;
    }
    default:
      throw SoundError("Unsupported WAVE compression type: ", formatTag_);
  }
  resolution_ = decompressor_->BitsPerSample();

  // Every codec here has fixed-width samples: the audio is the whole frames of the data chunk
  // (a trailing partial frame is dropped), whatever the fact chunk or the bits field claim.
  const std::int64_t frameBytes = std::int64_t(fmtChannels_) * (resolution_ / 8);
  dataLength_ = dataLength_ / frameBytes * frameBytes;
  floatByteCount_ = dataLength_ / (resolution_ / 8) * 4;
}

void WaveRead::MinMaxSamplingRate(int* min, int* max, int* preferred) { ForceRange(fmtRate_, min, max, preferred); }

void WaveRead::MinMaxChannels(int* min, int* max, int* preferred) { ForceRange(fmtChannels_, min, max, preferred); }

// ---------------------------------------------------------------------------------------------
// Writer

namespace {

bool IsG711(int compression) { return compression == CompressionMuLaw || compression == CompressionALaw; }

int FormatTagForCompression(int compression) {
  switch (compression) {
    case CompressionMuLaw: return kTagMuLaw;
    case CompressionALaw: return kTagALaw;
    case CompressionFloat32: return kTagFloat;
    default: return kTagPcm;
  }
}

// Which trailing chunk an annotation goes to: the LIST/INFO chunk, a DISP chunk, or none (kinds
// that WAVE has no id for).
enum class Placement { Info, Disp, None };

Placement PlacementOf(const Annotation& item) {
  if (item.kind == AnnotationById) {
    if (item.chunkId == kDisp) return Placement::Disp;
    return item.origin == FileFormatWave ? Placement::Info : Placement::None;
  }
  return InfoIdForKind(item.kind) ? Placement::Info : Placement::None;
}

}  // namespace

WaveWrite::WaveWrite(std::ostream& out, std::int64_t frameCount, int channels, int rate, int compression,
                     const AnnotationList& annotations)
    : FixedSizeWriter(out, frameCount, BitsForCompression(compression)) {
  if (!IsG711(compression) && (compression < CompressionPcm8 || compression > CompressionFloat32))
    throw SoundError("Compression type not supported for output");
  if (channels < 1 || channels > kMaxChannels) throw SoundError("Unsupported number of channels: ", channels);
  const std::int64_t byteRate = std::int64_t(channels) * bits_ * rate / 8;
  if (rate <= 0 || byteRate > 0xFFFFFFFFll) throw SoundError("Unsupported sampling rate: ", rate);

  fileFormat_ = FileFormatWave;
  compression_ = compression;
  resolution_ = bits_;
  FreezeChannels(channels);
  FreezeSamplingRate(rate);
  annotations_.CopyFrom(annotations);

  dataSize_ = bits_ * frameCount_ / 8 * channels;
  for (const Annotation& item : annotations_) {
    const std::int64_t size = 8 + RoundUpToEven(item.Length());
    switch (PlacementOf(item)) {
      case Placement::Info: infoTotal_ += size; break;
      case Placement::Disp: dispTotal_ += size; break;
      case Placement::None: break;
    }
  }
  // Every encoding but integer PCM gets the 18-byte fmt chunk (with its extra size, 0) and a
  // fact chunk: readers such as sox expect both for float data.
  const bool extended = IsG711(compression) || compression == CompressionFloat32;
  std::int64_t headerRiff = extended ? 50 : 36;
  const std::int64_t rest = RoundUpToEven(dataSize_) + (infoTotal_ > 0 ? infoTotal_ + 12 : 0) + dispTotal_;
  // Beyond what 32-bit sizes hold (about 6.7 hours of 16-bit stereo at 44.1 kHz) the file is
  // RF64, as sox, ffmpeg and libsndfile write and read it: the sizes go into a ds64 chunk.
  const bool rf64 = headerRiff + rest > 0xFFFFFFFFll;
  if (rf64) headerRiff += 8 + kDs64Size;
  const std::int64_t riffLength = headerRiff + rest;

  const std::streamoff at = out_.tellp();
  headerStart_ = at < 0 ? 0 : std::int64_t(at);
  WriteBigEndian(out_, rf64 ? kRf64 : kRiff, 4);
  WriteLittleEndian(out_, rf64 ? kSizeInDs64 : std::uint32_t(riffLength), 4);
  WriteBigEndian(out_, kWave, 4);
  if (rf64) {
    WriteBigEndian(out_, kDs64, 4);
    WriteLittleEndian(out_, kDs64Size, 4);
    WriteLittleEndian64(out_, riffLength);
    WriteLittleEndian64(out_, dataSize_);
    WriteLittleEndian64(out_, frameCount_);
    WriteLittleEndian(out_, 0, 4);  // no table of other chunks' sizes
  }
  WriteBigEndian(out_, kFmt, 4);
  WriteLittleEndian(out_, extended ? 18 : 16, 4);
  WriteLittleEndian(out_, FormatTagForCompression(compression), 2);
  WriteLittleEndian(out_, channels, 2);
  WriteLittleEndian(out_, rate, 4);
  WriteLittleEndian(out_, std::uint32_t(byteRate), 4);
  WriteLittleEndian(out_, channels * bits_ / 8, 2);
  WriteLittleEndian(out_, bits_, 2);
  if (extended) {
    WriteLittleEndian(out_, 0, 2);
    WriteBigEndian(out_, kFact, 4);
    WriteLittleEndian(out_, 4, 4);
    WriteLittleEndian(out_, rf64 ? kSizeInDs64 : std::uint32_t(frameCount_), 4);
  }
  WriteBigEndian(out_, kData, 4);
  WriteLittleEndian(out_, rf64 ? kSizeInDs64 : std::uint32_t(dataSize_), 4);
  dataStart_ = headerStart_ + headerRiff + 8;
  CreateCompressor();
}

WaveWrite::~WaveWrite() {
  try {
    CompleteWave();
  } catch (...) {
    // A destructor reports nothing; a failed write shows in the stream's state.
    out_.setstate(std::ios::badbit);
  }
}

void WaveWrite::CreateCompressor() {
  switch (compression_) {
    case CompressionMuLaw: compressor_ = std::make_unique<CompressG711MuLaw>(*this); break;
    case CompressionALaw: compressor_ = std::make_unique<CompressG711ALaw>(*this); break;
    case CompressionPcm8: compressor_ = std::make_unique<CompressPcm8Unsigned>(*this); break;
    case CompressionPcm16: compressor_ = std::make_unique<CompressPcm16LsbSigned>(*this); break;
    case CompressionPcm24: compressor_ = std::make_unique<CompressPcm24LsbSigned>(*this); break;
    case CompressionPcm32: compressor_ = std::make_unique<CompressPcm32LsbSigned>(*this); break;
    default: compressor_ = std::make_unique<CompressPcm32Float>(*this); break;
  }
}

void WaveWrite::CompleteWave() {
  // The data region always gets its declared size, even when nothing was pushed, so that the
  // trailing chunks land where the RIFF length says.
  if (!compressor_) return;
  if (nextSample_ != highWater_) out_.seekp(dataStart_ + compressor_->ByteCountFor(highWater_));
  std::int64_t position = dataStart_ + compressor_->ByteCountFor(highWater_);
  const std::int64_t end = dataStart_ + RoundUpToEven(dataSize_);
  const std::int64_t padSamples = (end - position) * 8 / bits_;
  static const float kSilence[1024] = {};
  for (std::int64_t done = 0; done < padSamples && out_;) {
    const int n = static_cast<int>(std::min<std::int64_t>(padSamples - done, 1024));
    compressor_->PushSamples(kSilence, n);
    done += n;
  }
  position += compressor_->ByteCountFor(padSamples);
  for (; position < end; ++position) out_.put(0);  // 24-bit data of odd size

  if (infoTotal_ > 0) {
    WriteBigEndian(out_, kList, 4);
    WriteLittleEndian(out_, std::uint32_t(infoTotal_ + 4), 4);
    WriteBigEndian(out_, kInfo, 4);
    for (const Annotation& item : annotations_)
      if (PlacementOf(item) == Placement::Info)
        WriteChunk(item.kind == AnnotationById ? item.chunkId : InfoIdForKind(item.kind), item);
  }
  for (const Annotation& item : annotations_)
    if (PlacementOf(item) == Placement::Disp) WriteChunk(kDisp, item);
  out_.flush();
  compressor_.reset();
}

void WaveWrite::WriteChunk(std::uint32_t id, const Annotation& item) {
  WriteBigEndian(out_, id, 4);
  WriteLittleEndian(out_, std::uint32_t(item.Length()), 4);
  out_.write(reinterpret_cast<const char*>(item.data.data()), item.Length());
  if (item.Length() & 1) out_.put(0);
}
