#include "formats/sndfile/SndfileWrite.h"

#include <sndfile.h>

#include <algorithm>
#include <string>

#include "formats/FormatCodes.h"
#include "formats/Limits.h"
#include "formats/PcmCodecs.h"

struct SndfileWrite::Library {
  std::ostream* out = nullptr;
  std::int64_t length = 0;  // the highest position written
  SNDFILE* file = nullptr;
  SF_INFO info{};
};

namespace {

using Library = SndfileWrite::Library;

sf_count_t Tell(void* user) { return std::max<sf_count_t>(static_cast<Library*>(user)->out->tellp(), 0); }
sf_count_t Length(void* user) { return static_cast<Library*>(user)->length; }

sf_count_t Seek(sf_count_t offset, int whence, void* user) {
  auto* library = static_cast<Library*>(user);
  const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_END ? library->length : Tell(user);
  library->out->seekp(std::max<sf_count_t>(base + offset, 0));
  return Tell(user);
}

sf_count_t Read(void*, sf_count_t, void*) { return 0; }

sf_count_t Write(const void* data, sf_count_t count, void* user) {
  auto* library = static_cast<Library*>(user);
  library->out->write(static_cast<const char*>(data), count);
  if (!*library->out) return 0;
  library->length = std::max(library->length, Tell(user));
  return count;
}

int SndfileFormat(int fileFormat, int encoding) {
  switch (fileFormat) {
    case FileFormatFlac:
      return SF_FORMAT_FLAC | (BaseCompression(encoding) == CompressionPcm24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
    case FileFormatOggVorbis: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case FileFormatOpus: return SF_FORMAT_OGG | SF_FORMAT_OPUS;
    case FileFormatMpeg: return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    default: return 0;
  }
}

// libsndfile's compression level (0 best quality .. 1 smallest) for the user's setting.
double CompressionLevel(int fileFormat, int encoding, int channels, int rate) {
  const double setting = SettingOf(encoding);
  switch (fileFormat) {
    case FileFormatFlac: return std::clamp(setting, 0.0, 8.0) / 8.0;
    case FileFormatOggVorbis: return 1.0 - std::clamp(setting, 0.0, 100.0) / 100.0;
    case FileFormatOpus:
      // libsndfile spans 6 to 256 kbit/s per channel.
      return std::clamp(1.0 - (setting * 1000 / channels - 6000.0) / 250000.0, 0.0, 1.0);
    case FileFormatMpeg: {
      if (IsVbr(encoding)) return std::clamp(setting, 0.0, 9.0) / 10.0;  // LAME's -V 0..9
      // Constant bit rates span 32..320 kbit/s (MPEG-1), 8..160 (MPEG-2), 8..64 (MPEG-2.5); the
      // half keeps the truncation from landing one below the rate asked for.
      const double top = rate >= 32000 ? 320 : rate >= 16000 ? 160 : 64, bottom = rate >= 32000 ? 32 : 8;
      return std::clamp((top - setting - 0.5) / (top - bottom), 0.0, 1.0);
    }
    default: return 0;
  }
}

constexpr struct {
  int kind;
  int id;
} kTags[] = {
    {AnnotationName, SF_STR_TITLE},     {AnnotationArtist, SF_STR_ARTIST}, {AnnotationAlbum, SF_STR_ALBUM},
    {AnnotationComment, SF_STR_COMMENT}, {AnnotationDate, SF_STR_DATE},     {AnnotationTrack, SF_STR_TRACKNUMBER},
    {AnnotationCopyright, SF_STR_COPYRIGHT}, {AnnotationGenre, SF_STR_GENRE},
};

}  // namespace

bool SndfileWrite::CanWrite(int fileFormat, int channels, int rate, int encoding) {
  SF_INFO info{};
  info.channels = channels;
  info.samplerate = rate;
  info.format = SndfileFormat(fileFormat, encoding);
  return info.format != 0 && sf_format_check(&info);
}

SndfileWrite::SndfileWrite(std::ostream& out, std::int64_t frames, int channels, int rate, int fileFormat,
                           int encoding, const AnnotationList& annotations)
    : out_(out), library_(std::make_unique<Library>()), frames_(std::max<std::int64_t>(frames, 0)) {
  encoding = CodecEncoding(fileFormat, encoding);
  const std::string name = FileFormatName(fileFormat);
  if (channels < 1 || channels > 2) throw SoundError(name + " files are written with one or two channels");
  fileFormat_ = fileFormat;
  channels_ = channels;
  samplingRate_ = rate;
  compression_ = BaseCompression(encoding);
  integer_ = fileFormat == FileFormatFlac;
  library_->out = &out_;
  library_->length = std::max<sf_count_t>(out_.tellp(), 0);
  library_->info.channels = channels;
  library_->info.samplerate = rate;
  library_->info.format = SndfileFormat(fileFormat, encoding);
  if (!CanWrite(fileFormat, channels, rate, encoding))
    throw SoundError(name + " cannot be written at " + std::to_string(rate) + " Hz with " + std::to_string(channels) +
                     " channels");
  SF_VIRTUAL_IO io{Length, Seek, Read, Write, Tell};
  library_->file = sf_open_virtual(&io, SFM_WRITE, &library_->info, library_.get());
  if (!library_->file) throw SoundError(name + " file could not be written: ", sf_strerror(nullptr));
  if (fileFormat == FileFormatMpeg) {
    int mode = IsVbr(encoding) ? SF_BITRATE_MODE_VARIABLE : SF_BITRATE_MODE_CONSTANT;
    sf_command(library_->file, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
  }
  double level = CompressionLevel(fileFormat, encoding, channels, rate);
  sf_command(library_->file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
  for (const auto& tag : kTags) {
    const Annotation* item = annotations.FindKind(tag.kind);
    if (!item || item->data.empty()) continue;
    const std::string text(item->data.begin(), std::find(item->data.begin(), item->data.end(), std::uint8_t(0)));
    if (!text.empty()) sf_set_string(library_->file, tag.id, text.c_str());
  }
}

SndfileWrite::~SndfileWrite() {
  if (!library_->file) return;
  // The declared length is always written, as the other writers pad theirs.
  std::vector<float> silence(std::size_t(4096) * std::size_t(channels_), 0.0f);
  try {
    while (written_ < frames_ && out_)
      if (PushSamples(silence.data(), int(std::min<std::int64_t>(4096, frames_ - written_)) * channels_) == 0) break;
  } catch (const SoundError&) {
    out_.setstate(std::ios::badbit);
  }
  if (sf_close(library_->file) != 0) out_.setstate(std::ios::badbit);
}

int SndfileWrite::PushSamples(const float* in, int count) {
  const std::int64_t frames = std::min<std::int64_t>(count / channels_, frames_ - written_);
  if (frames <= 0 || !out_) return 0;
  sf_count_t done = 0;
  if (integer_) {
    // Rounded and clipped as the PCM writers do, and handed over left-aligned in 32 bits:
    // libsndfile's own float scaling (x 32767) would not give back the samples that were read.
    scratch_.resize(std::size_t(frames) * std::size_t(channels_));
    const bool wide = compression_ == CompressionPcm24;
    for (std::size_t i = 0; i < scratch_.size(); ++i)
      scratch_[i] = wide ? int(std::uint32_t(FloatToPcm24(in[i])) << 8) : int(std::uint32_t(FloatToPcm16(in[i])) << 16);
    done = sf_writef_int(library_->file, scratch_.data(), frames);
  } else {
    done = sf_writef_float(library_->file, in, frames);
  }
  if (done != frames) throw SoundError("Error occured while writing audio data");
  written_ += done;
  return int(done) * channels_;
}
