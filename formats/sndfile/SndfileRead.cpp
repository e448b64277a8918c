#include "formats/sndfile/SndfileRead.h"

#include <sndfile.h>

#include <algorithm>
#include <string>

#include "formats/DamageText.h"
#include "formats/FormatCodes.h"
#include "formats/Limits.h"

struct SndfileRead::Library {
  std::istream* in = nullptr;
  std::int64_t size = 0;
  SNDFILE* file = nullptr;
  SF_INFO info{};

  ~Library() {
    if (file) sf_close(file);
  }
};

namespace {

using Library = SndfileRead::Library;

// The virtual I/O: the stream, bounded by the file's size as every reader is.
sf_count_t Length(void* user) { return static_cast<Library*>(user)->size; }

sf_count_t Tell(void* user) {
  std::istream& in = *static_cast<Library*>(user)->in;
  in.clear();
  return std::max<sf_count_t>(in.tellg(), 0);
}

sf_count_t Seek(sf_count_t offset, int whence, void* user) {
  auto* library = static_cast<Library*>(user);
  const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_END ? library->size : Tell(user);
  const sf_count_t target = std::clamp<sf_count_t>(base + offset, 0, library->size);
  library->in->clear();
  library->in->seekg(target);
  return Tell(user);
}

sf_count_t Read(void* buffer, sf_count_t count, void* user) {
  auto* library = static_cast<Library*>(user);
  const sf_count_t wanted = std::min<sf_count_t>(count, library->size - Tell(user));
  if (wanted <= 0) return 0;
  library->in->read(static_cast<char*>(buffer), wanted);
  const sf_count_t got = library->in->gcount();
  library->in->clear();
  return got;
}

sf_count_t Write(const void*, sf_count_t, void*) { return 0; }

struct Encoding {
  int subformat;
  int compression;
  int bits;
};
constexpr Encoding kEncodings[] = {
    {SF_FORMAT_PCM_S8, CompressionPcm8, 8},      {SF_FORMAT_PCM_U8, CompressionPcm8, 8},
    {SF_FORMAT_PCM_16, CompressionPcm16, 16},    {SF_FORMAT_PCM_24, CompressionPcm24, 24},
    {SF_FORMAT_PCM_32, CompressionPcm32, 32},    {SF_FORMAT_FLOAT, CompressionFloat32, 32},
    {SF_FORMAT_DOUBLE, CompressionFloat32, 64},  {SF_FORMAT_ULAW, CompressionMuLaw, 8},
    {SF_FORMAT_ALAW, CompressionALaw, 8},        {SF_FORMAT_IMA_ADPCM, CompressionImaAdpcm, 4},
    {SF_FORMAT_MS_ADPCM, CompressionMsAdpcm, 4}, {SF_FORMAT_ALAC_16, CompressionPcm16, 16},
    {SF_FORMAT_ALAC_20, CompressionPcm24, 20},   {SF_FORMAT_ALAC_24, CompressionPcm24, 24},
    {SF_FORMAT_ALAC_32, CompressionPcm32, 32},   {SF_FORMAT_VORBIS, CompressionVorbis, 16},
    {SF_FORMAT_OPUS, CompressionOpus, 16},       {SF_FORMAT_MPEG_LAYER_I, CompressionMpegLayer1, 16},
    {SF_FORMAT_MPEG_LAYER_II, CompressionMpegLayer2, 16}, {SF_FORMAT_MPEG_LAYER_III, CompressionMpegLayer3, 16},
};

int FileFormatOf(const SF_INFO& info, int probed) {
  switch (info.format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC: return FileFormatFlac;
    case SF_FORMAT_OGG: return (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS ? FileFormatOpus : FileFormatOggVorbis;
    case SF_FORMAT_CAF: return FileFormatCaf;
    case SF_FORMAT_W64: return FileFormatWave64;
    default: return probed;
  }
}

constexpr struct {
  int id;
  int kind;
} kTags[] = {
    {SF_STR_TITLE, AnnotationName},     {SF_STR_ARTIST, AnnotationArtist}, {SF_STR_ALBUM, AnnotationAlbum},
    {SF_STR_COMMENT, AnnotationComment}, {SF_STR_DATE, AnnotationDate},     {SF_STR_TRACKNUMBER, AnnotationTrack},
    {SF_STR_COPYRIGHT, AnnotationCopyright}, {SF_STR_GENRE, AnnotationGenre},
};

// Ogg Vorbis and Opus store 5.1 and 7.1 as L C R (side) (back) LFE; WAVE, FLAC and the down-mix
// take L R C LFE (back) (side). kFromVorbis[n == 8][wave channel] is the Vorbis channel.
constexpr int kFromVorbis[2][8] = {{0, 2, 1, 5, 3, 4, 0, 0}, {0, 2, 1, 7, 5, 6, 3, 4}};

void ToWaveOrder(float* samples, std::int64_t frames, int channels) {
  const int* from = kFromVorbis[channels == 8];
  float frame[8];
  for (std::int64_t i = 0; i < frames; ++i, samples += channels) {
    std::copy(samples, samples + channels, frame);
    for (int c = 0; c < channels; ++c) samples[c] = frame[from[c]];
  }
}

// Whether an Ogg stream ends with its end-of-stream page: a file cut short has none, and
// libsndfile then takes the last whole page for the end.
bool OggEndsProperly(std::istream& in, std::int64_t size) {
  constexpr std::int64_t kTail = 65536;  // more than the largest Ogg page
  in.clear();
  const std::streamoff resume = in.tellg();  // where libsndfile left the stream
  const std::int64_t from = std::max<std::int64_t>(size - kTail, 0);
  std::string tail(std::size_t(size - from), '\0');
  in.clear();
  in.seekg(from);
  in.read(tail.data(), std::streamsize(tail.size()));
  tail.resize(std::size_t(std::max<std::streamsize>(in.gcount(), 0)));
  in.clear();
  in.seekg(resume);
  const std::size_t page = tail.rfind("OggS");
  return page != std::string::npos && page + 5 < tail.size() && (tail[page + 5] & 0x04) != 0;
}

}  // namespace

SndfileRead::SndfileRead(std::istream& in, std::int64_t fileSize, int fileFormat)
    : in_(in), fileSize_(std::max<std::int64_t>(fileSize, 0)), library_(std::make_unique<Library>()) {
  library_->in = &in_;
  library_->size = fileSize_;
  SF_VIRTUAL_IO io{Length, Seek, Read, Write, Tell};
  in_.clear();
  in_.seekg(0);
  library_->file = sf_open_virtual(&io, SFM_READ, &library_->info, library_.get());
  // Ogg holds Vorbis or Opus: which one is known only once the library has read it.
  const char* name = fileFormat == FileFormatOggVorbis ? "Ogg" : FileFormatName(fileFormat);
  if (!library_->file) {
    std::string reason = sf_strerror(nullptr);
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n')) reason.pop_back();
    throw SoundError(std::string(name) + " file could not be read: " + reason);
  }
  const SF_INFO& info = library_->info;
  if (info.channels < 1 || info.channels > format_limits::kMaxChannels || info.samplerate < 1)
    throw SoundError(std::string(name) + " file declares an impossible layout");
  fileFormat_ = FileFormatOf(info, fileFormat);
  if (fileFormat_ == FileFormatOggVorbis || fileFormat_ == FileFormatOpus) cutShort_ = !OggEndsProperly(in_, fileSize_);
  samplingRate_ = info.samplerate;
  channels_ = info.channels;
  // A stream that does not say its length (libsndfile's SF_COUNT_MAX) is read to its end.
  lengthKnown_ = info.frames >= 0 && info.frames < INT64_MAX / 4 / channels_;
  frames_ = lengthKnown_ ? info.frames : INT64_MAX / 4 / channels_;
  floatByteCount_ = lengthKnown_ ? frames_ * channels_ * 4 : 0;
  compression_ = CompressionOtherLossy;
  resolution_ = 16;
  for (const Encoding& e : kEncodings) {
    if ((info.format & SF_FORMAT_SUBMASK) != e.subformat) continue;
    compression_ = e.compression;
    resolution_ = e.bits;
  }
  // Bit rates of the lossy codecs: the file's bytes over its length.
  if (IsDecodedLossy(compression_) && lengthKnown_ && frames_ > 0)
    bitRate_ = int(double(fileSize_) * 8 / (double(frames_) / samplingRate_) / 1000 + 0.5);
  ReadTags();
}

SndfileRead::~SndfileRead() = default;

void SndfileRead::ReadTags() {
  for (const auto& tag : kTags) {
    const char* text = sf_get_string(library_->file, tag.id);
    if (!text || !*text) continue;
    const std::string value(text);
    // Stored with its terminating zero, as every reader stores text.
    annotations_.SetByKind(tag.kind, reinterpret_cast<const std::uint8_t*>(value.c_str()),
                           std::int32_t(std::min<std::size_t>(value.size() + 1, format_limits::kMaxShownText)));
  }
}

int SndfileRead::PullSamples(float* out, int count) {
  const sf_count_t wanted = std::min<sf_count_t>(count / channels_, frames_ - position_);
  const sf_count_t got = wanted > 0 ? sf_readf_float(library_->file, out, wanted) : 0;
  // A short read before the announced end is damage (or a file cut short), not the end.
  const bool ended = got < wanted || position_ + got >= frames_;
  if ((got < wanted && lengthKnown_) || (ended && cutShort_) || sf_error(library_->file) != SF_ERR_NO_ERROR)
    throw SoundError(DamagedAt(FileFormatName(fileFormat_), position_ + std::max<sf_count_t>(got, 0), samplingRate_));
  const bool ogg = fileFormat_ == FileFormatOggVorbis || fileFormat_ == FileFormatOpus;
  if (ogg && (channels_ == 6 || channels_ == 8)) ToWaveOrder(out, got, channels_);
  position_ += got;
  return int(got) * channels_;
}

bool SndfileRead::SeekToSample(std::int64_t sampleIndex) {
  const std::int64_t frame = std::clamp<std::int64_t>(sampleIndex / channels_, 0, frames_);
  if (sf_seek(library_->file, frame, SEEK_SET) < 0) return false;
  position_ = frame;
  return true;
}

void SndfileRead::MinMaxSamplingRate(int* min, int* max, int* preferred) {
  ForceRange(samplingRate_, min, max, preferred);
}

void SndfileRead::MinMaxChannels(int* min, int* max, int* preferred) { ForceRange(channels_, min, max, preferred); }
