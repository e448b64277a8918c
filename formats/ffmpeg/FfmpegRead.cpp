#include "formats/ffmpeg/FfmpegRead.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "formats/DamageText.h"
#include "formats/FormatCodes.h"
#include "formats/Limits.h"
#include "formats/ffmpeg/FfmpegLibrary.h"

struct FfmpegRead::Library {
  std::istream* in = nullptr;
  std::int64_t size = 0;
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;

  ~Library() {
    if (!io && !format && !codec && !packet && !frame) return;  // FFmpeg may not be loaded at all
    const FfmpegFunctions& av = Ffmpeg();
    av.av_frame_free(&frame);
    av.av_packet_free(&packet);
    av.avcodec_free_context(&codec);
    av.avformat_close_input(&format);  // leaves the custom I/O context to its owner
    if (io) av.av_freep(&io->buffer);
    av.avio_context_free(&io);
  }
};

namespace {

using Library = FfmpegRead::Library;
constexpr int kIoBufferBytes = 1 << 16;

// The demuxers a file may be read by: containers of audio and video, never playlists, concat
// lists or anything else that opens other addresses.
constexpr const char* kDemuxers = "mov,asf,matroska,ape,wv,avi,flv,ogg,flac,wav,w64,caf,aac,mp3,mpegts,mpeg";

std::int64_t Position(Library* library) {
  library->in->clear();
  return std::max<std::int64_t>(library->in->tellg(), 0);
}

int ReadPacket(void* user, std::uint8_t* buffer, int size) {
  auto* library = static_cast<Library*>(user);
  const std::int64_t wanted = std::min<std::int64_t>(size, library->size - Position(library));
  if (wanted <= 0) return AVERROR_EOF;
  library->in->read(reinterpret_cast<char*>(buffer), wanted);
  const int got = int(library->in->gcount());
  library->in->clear();
  return got > 0 ? got : AVERROR_EOF;
}

std::int64_t SeekStream(void* user, std::int64_t offset, int whence) {
  auto* library = static_cast<Library*>(user);
  if (whence & AVSEEK_SIZE) return library->size;
  whence &= ~AVSEEK_FORCE;
  const std::int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_END ? library->size : Position(library);
  const std::int64_t target = base + offset;
  if (target < 0 || target > library->size) return AVERROR(EINVAL);
  library->in->clear();
  library->in->seekg(target);
  return Position(library);
}

// Every address a container names (a reference to another file, a playlist entry) is refused.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

std::uint32_t LittleEndianAt(const std::uint8_t* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// FFmpeg's Monkey's Audio demuxer allocates the seek table and a record per frame as the header
// announces them, before it reads any: a header of a hundred bytes could ask for gigabytes. A
// real file holds a 4-byte seek table entry for every frame, so neither may exceed the file. Nor
// may the last frame be longer than the others, which the encoder makes at most 73,728 x 16
// blocks: else a few bytes decode into minutes of noise.
constexpr std::uint32_t kMaxBlocksPerFrame = 73728 * 16;

void CheckMonkeysAudioHeader(std::istream& in, std::int64_t size) {
  std::uint8_t h[80] = {};
  in.clear();
  in.seekg(0);
  in.read(reinterpret_cast<char*>(h), sizeof h);
  const std::int64_t got = in.gcount();
  in.clear();
  in.seekg(0);
  const std::uint32_t version = LittleEndianAt(h + 4, 2);
  std::int64_t frames = 0, seekTableBytes = 0;
  bool impossible = false;
  if (version >= 3980) {
    // The header follows the descriptor (52 bytes, or as long as it says); its frame count is
    // 12 bytes in. A descriptor too long to read here leaves the count to FFmpeg's own checks.
    const std::int64_t header = std::max<std::int64_t>(LittleEndianAt(h + 8, 4), 52);
    seekTableBytes = LittleEndianAt(h + 16, 4);
    if (header + 16 <= got) {
      const std::uint32_t blocksPerFrame = LittleEndianAt(h + header + 4, 4);
      const std::uint32_t finalFrameBlocks = LittleEndianAt(h + header + 8, 4);
      frames = LittleEndianAt(h + header + 12, 4);
      impossible = blocksPerFrame > kMaxBlocksPerFrame || finalFrameBlocks > blocksPerFrame;
    }
  } else {
    const std::uint32_t flags = LittleEndianAt(h + 8, 2);
    frames = LittleEndianAt(h + 24, 4);
    impossible = LittleEndianAt(h + 28, 4) > kMaxBlocksPerFrame;  // the last frame's blocks
    const int seekElementsAt = (flags & 4) ? 36 : 32;  // after the peak level when it is there
    seekTableBytes = (flags & 16) ? std::int64_t(LittleEndianAt(h + seekElementsAt, 4)) * 4 : frames * 4;
  }
  if (size > 0 && (seekTableBytes > size || frames * 4 > size))
    throw SoundError("Monkey's Audio file announces more frames than it holds");
  if (impossible) throw SoundError("Monkey's Audio file declares impossible frames");
}

void QuietOnce() {
  static const bool quiet = (Ffmpeg().av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
}

int FileFormatOf(const char* demuxer, int probed) {
  const std::string name(demuxer ? demuxer : "");
  if (name.find("mov") != std::string::npos) return FileFormatMp4;
  if (name == "asf") return FileFormatAsf;
  if (name.find("matroska") != std::string::npos) return FileFormatMatroska;
  if (name == "ape") return FileFormatMonkeysAudio;
  if (name == "wv") return FileFormatWavPack;
  return probed;
}

int LosslessCompression(int bits, AVSampleFormat format) {
  if (format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP || format == AV_SAMPLE_FMT_DBL ||
      format == AV_SAMPLE_FMT_DBLP)
    return CompressionFloat32;
  if (bits <= 8) return CompressionPcm8;
  if (bits <= 16) return CompressionPcm16;
  if (bits <= 24) return CompressionPcm24;
  return CompressionPcm32;
}

int CompressionOf(AVCodecID id, int bits, AVSampleFormat format) {
  switch (id) {
    case AV_CODEC_ID_AAC: return CompressionAac;
    case AV_CODEC_ID_VORBIS: return CompressionVorbis;
    case AV_CODEC_ID_OPUS: return CompressionOpus;
    case AV_CODEC_ID_MP3: return CompressionMpegLayer3;
    case AV_CODEC_ID_MP2: return CompressionMpegLayer2;
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2:
    case AV_CODEC_ID_WMAPRO:
    case AV_CODEC_ID_WMAVOICE: return CompressionWma;
    case AV_CODEC_ID_ALAC:
    case AV_CODEC_ID_FLAC:
    case AV_CODEC_ID_WAVPACK:
    case AV_CODEC_ID_APE:
    case AV_CODEC_ID_WMALOSSLESS:
    case AV_CODEC_ID_TTA: return LosslessCompression(bits, format);
    default:
      if (id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT) return LosslessCompression(bits, format);
      return CompressionOtherLossy;
  }
}

// One stored value of each of FFmpeg's sample formats as a float of nominal range -1..+1.
float ToFloat(std::uint8_t v) { return (float(v) - 128.0f) / 128.0f; }
float ToFloat(std::int16_t v) { return float(v) / 32768.0f; }
float ToFloat(std::int32_t v) { return float(double(v) / 2147483648.0); }
float ToFloat(std::int64_t v) { return float(double(v) / 9223372036854775808.0); }
float ToFloat(float v) { return v; }
float ToFloat(double v) { return float(v); }

// A frame's samples, planar or interleaved, as interleaved floats: one loop per format, since a
// choice of format per sample cost a tenth of an AAC file's whole decoding.
template <typename T>
void Interleave(const AVFrame& frame, bool planar, std::size_t channels, float* out) {
  const std::size_t n = std::size_t(frame.nb_samples);
  if (!planar) {
    const T* in = reinterpret_cast<const T*>(frame.extended_data[0]);
    for (std::size_t i = 0; i < n * channels; ++i) out[i] = ToFloat(in[i]);
    return;
  }
  for (std::size_t c = 0; c < channels; ++c) {
    const T* in = reinterpret_cast<const T*>(frame.extended_data[c]);
    for (std::size_t i = 0; i < n; ++i) out[i * channels + c] = ToFloat(in[i]);
  }
}

constexpr struct {
  const char* key;
  int kind;
} kTags[] = {
    {"title", AnnotationName}, {"artist", AnnotationArtist}, {"album", AnnotationAlbum},
    {"comment", AnnotationComment}, {"date", AnnotationDate}, {"track", AnnotationTrack},
    {"copyright", AnnotationCopyright}, {"genre", AnnotationGenre},
};

}  // namespace

FfmpegRead::FfmpegRead(std::istream& in, std::int64_t fileSize, int fileFormat)
    : in_(in), fileSize_(std::max<std::int64_t>(fileSize, 0)), library_(std::make_unique<Library>()) {
  QuietOnce();
  fileFormat_ = fileFormat;
  Library& lib = *library_;
  lib.in = &in_;
  lib.size = fileSize_;
  if (fileFormat == FileFormatMonkeysAudio) CheckMonkeysAudioHeader(in_, fileSize_);
  in_.clear();
  in_.seekg(0);
  auto* buffer = static_cast<std::uint8_t*>(Ffmpeg().av_malloc(kIoBufferBytes));
  if (!buffer) throw SoundError("Not enough memory to read the file");
  lib.io = Ffmpeg().avio_alloc_context(buffer, kIoBufferBytes, 0, &lib, ReadPacket, nullptr, SeekStream);
  lib.format = lib.io ? Ffmpeg().avformat_alloc_context() : nullptr;
  if (!lib.io || !lib.format) {
    if (!lib.io) Ffmpeg().av_free(buffer);
    throw SoundError("Not enough memory to read the file");
  }
  lib.format->pb = lib.io;
  lib.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  lib.format->io_open = RefuseOpen;
  AVDictionary* options = nullptr;
  Ffmpeg().av_dict_set(&options, "format_whitelist", kDemuxers, 0);
  Ffmpeg().av_dict_set(&options, "protocol_whitelist", "none", 0);
  const int opened = Ffmpeg().avformat_open_input(&lib.format, "", nullptr, &options);
  Ffmpeg().av_dict_free(&options);
  const std::string name = FileFormatName(fileFormat);
  if (opened < 0) throw SoundError(name + " file could not be read");  // the context is freed
  if (Ffmpeg().avformat_find_stream_info(lib.format, nullptr) < 0) throw SoundError(name + " file could not be read");
  fileFormat_ = FileFormatOf(lib.format->iformat ? lib.format->iformat->name : nullptr, fileFormat);
  ChooseStream();
  ReadTags();
}

FfmpegRead::~FfmpegRead() = default;

void FfmpegRead::ChooseStream() {
  Library& lib = *library_;
  const std::string name = FileFormatName(fileFormat_);
  std::string others;
  for (unsigned i = 0; i < lib.format->nb_streams; ++i) {
    const AVCodecParameters* p = lib.format->streams[i]->codecpar;
    if (p->codec_type == AVMEDIA_TYPE_AUDIO && lib.stream < 0) {
      lib.stream = int(i);
      continue;
    }
    const char* type = Ffmpeg().av_get_media_type_string(p->codec_type);
    others += (others.empty() ? "" : "; ") + std::string("stream ") + std::to_string(i) + ": " + (type ? type : "data") +
              " " + Ffmpeg().avcodec_get_name(p->codec_id);
  }
  if (lib.stream < 0) throw SoundError(name + " file holds no audio");
  if (!others.empty())
    annotations_.SetById(fileFormat_, 0x7374726D /* strm */, reinterpret_cast<const std::uint8_t*>(others.c_str()),
                         std::int32_t(std::min<std::size_t>(others.size() + 1, format_limits::kMaxShownText)));

  AVStream* stream = lib.format->streams[lib.stream];
  const AVCodecParameters* p = stream->codecpar;
  const AVCodec* decoder = Ffmpeg().avcodec_find_decoder(p->codec_id);
  if (!decoder) throw SoundError(name + " audio in " + Ffmpeg().avcodec_get_name(p->codec_id) + " cannot be decoded");
  lib.codec = Ffmpeg().avcodec_alloc_context3(decoder);
  lib.packet = Ffmpeg().av_packet_alloc();
  lib.frame = Ffmpeg().av_frame_alloc();
  if (!lib.codec || !lib.packet || !lib.frame) throw SoundError("Not enough memory to read the file");
  if (Ffmpeg().avcodec_parameters_to_context(lib.codec, p) < 0 || Ffmpeg().avcodec_open2(lib.codec, decoder, nullptr) < 0)
    throw SoundError(name + " audio in " + Ffmpeg().avcodec_get_name(p->codec_id) + " cannot be decoded");
  channels_ = lib.codec->ch_layout.nb_channels;
  samplingRate_ = lib.codec->sample_rate;
  if (channels_ < 1 || channels_ > format_limits::kMaxChannels || samplingRate_ < 1)
    throw SoundError(name + " file declares an impossible layout");
  const int bits = p->bits_per_raw_sample > 0 ? p->bits_per_raw_sample
                                              : Ffmpeg().av_get_bytes_per_sample(lib.codec->sample_fmt) * 8;
  compression_ = CompressionOf(p->codec_id, bits, lib.codec->sample_fmt);
  resolution_ = IsDecodedLossy(compression_) ? 16 : bits;
  bitRate_ = int(std::max<std::int64_t>(p->bit_rate, 0) / 1000);
  // The length the container announces for the stream (the file's duration may be a longer
  // video's); the decoding delivers what is there.
  std::int64_t frames = 0;
  if (stream->duration > 0)
    frames = Ffmpeg().av_rescale_q(stream->duration, stream->time_base, AVRational{1, samplingRate_});
  announced_ = std::max<std::int64_t>(frames, 0);
  // MP4, WavPack and Monkey's Audio count their samples (an MP4 edit list also cuts the encoder's
  // padding off); other containers' durations are estimates, so those are read to their end.
  const bool exact = fileFormat_ == FileFormatMp4 || fileFormat_ == FileFormatWavPack ||
                     fileFormat_ == FileFormatMonkeysAudio;
  floatByteCount_ = exact ? announced_ * channels_ * 4 : 0;
}

void FfmpegRead::ReadTags() {
  const Library& lib = *library_;
  for (const auto& tag : kTags) {
    const AVDictionaryEntry* entry = Ffmpeg().av_dict_get(lib.format->metadata, tag.key, nullptr, 0);
    if (!entry) entry = Ffmpeg().av_dict_get(lib.format->streams[lib.stream]->metadata, tag.key, nullptr, 0);
    if (!entry || !entry->value || !*entry->value) continue;
    annotations_.SetByKind(tag.kind, reinterpret_cast<const std::uint8_t*>(entry->value),
                           std::int32_t(std::min<std::size_t>(std::strlen(entry->value) + 1, format_limits::kMaxShownText)));
  }
}

void FfmpegRead::Damaged() const {
  throw SoundError(DamagedAt(FileFormatName(fileFormat_), decoded_, samplingRate_));
}

void FfmpegRead::Append() {
  const AVFrame* frame = library_->frame;
  if (frame->ch_layout.nb_channels != channels_ || frame->sample_rate != samplingRate_) Damaged();
  const auto format = AVSampleFormat(frame->format);
  const AVSampleFormat packed = Ffmpeg().av_get_packed_sample_fmt(format);
  const bool planar = Ffmpeg().av_sample_fmt_is_planar(format);
  const std::size_t n = std::size_t(frame->nb_samples);
  // The delivered part is dropped before the buffer grows.
  pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(pendingRead_));
  pendingRead_ = 0;
  const std::size_t at = pending_.size();
  pending_.resize(at + n * std::size_t(channels_));
  float* out = pending_.data() + at;
  const std::size_t channels = std::size_t(channels_);
  switch (packed) {
    case AV_SAMPLE_FMT_U8: Interleave<std::uint8_t>(*frame, planar, channels, out); break;
    case AV_SAMPLE_FMT_S16: Interleave<std::int16_t>(*frame, planar, channels, out); break;
    case AV_SAMPLE_FMT_S32: Interleave<std::int32_t>(*frame, planar, channels, out); break;
    case AV_SAMPLE_FMT_S64: Interleave<std::int64_t>(*frame, planar, channels, out); break;
    case AV_SAMPLE_FMT_FLT: Interleave<float>(*frame, planar, channels, out); break;
    case AV_SAMPLE_FMT_DBL: Interleave<double>(*frame, planar, channels, out); break;
    default: std::fill_n(out, n * channels, 0.0f); break;
  }
  decoded_ += std::int64_t(n);
}

bool FfmpegRead::DecodeMore() {
  Library& lib = *library_;
  for (;;) {
    const int received = Ffmpeg().avcodec_receive_frame(lib.codec, lib.frame);
    if (received == 0) {
      Append();
      Ffmpeg().av_frame_unref(lib.frame);
      return true;
    }
    // A drained decoder that still asks for input has nothing more to give.
    if (received == AVERROR_EOF || (received == AVERROR(EAGAIN) && draining_)) break;
    if (received != AVERROR(EAGAIN)) Damaged();
    const int read = Ffmpeg().av_read_frame(lib.format, lib.packet);
    if (read == AVERROR_EOF) {
      Ffmpeg().avcodec_send_packet(lib.codec, nullptr);  // drains the decoder's delay
      draining_ = true;
      continue;
    }
    if (read < 0) Damaged();
    if (lib.packet->stream_index == lib.stream) {
      const int sent = Ffmpeg().avcodec_send_packet(lib.codec, lib.packet);
      if (sent < 0 && sent != AVERROR(EAGAIN)) {
        Ffmpeg().av_packet_unref(lib.packet);
        Damaged();
      }
    }
    Ffmpeg().av_packet_unref(lib.packet);
  }
  // A stream that stops well before the length its container announces was cut short.
  if (announced_ > 0 && decoded_ < announced_ - announced_ / 100 - 8192) Damaged();
  return false;
}

int FfmpegRead::PullSamples(float* out, int count) {
  const std::size_t wanted = std::size_t(std::max(count, 0) / channels_) * std::size_t(channels_);
  std::size_t delivered = 0;
  while (delivered < wanted) {
    if (pendingRead_ == pending_.size()) {
      if (ended_ || !DecodeMore()) {
        ended_ = true;
        break;
      }
      continue;
    }
    const std::size_t n = std::min(wanted - delivered, pending_.size() - pendingRead_);
    std::copy_n(pending_.data() + pendingRead_, n, out + delivered);
    pendingRead_ += n;
    delivered += n;
  }
  position_ += std::int64_t(delivered) / channels_;
  return int(delivered);
}

bool FfmpegRead::SeekToSample(std::int64_t sampleIndex) {
  Library& lib = *library_;
  const std::int64_t target = std::max<std::int64_t>(sampleIndex, 0) / channels_;
  if (target < position_) {
    if (Ffmpeg().avformat_seek_file(lib.format, -1, INT64_MIN, 0, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
        Ffmpeg().av_seek_frame(lib.format, -1, 0, AVSEEK_FLAG_BYTE) < 0)
      return false;
    Ffmpeg().avcodec_flush_buffers(lib.codec);
    pending_.clear();
    pendingRead_ = 0;
    position_ = decoded_ = 0;
    draining_ = ended_ = false;
  }
  std::vector<float> skipped(std::size_t(4096) * std::size_t(channels_));
  while (position_ < target) {
    const int n = int(std::min<std::int64_t>(4096, target - position_)) * channels_;
    if (PullSamples(skipped.data(), n) < n) return false;
  }
  return true;
}

void FfmpegRead::MinMaxSamplingRate(int* min, int* max, int* preferred) {
  ForceRange(samplingRate_, min, max, preferred);
}

void FfmpegRead::MinMaxChannels(int* min, int* max, int* preferred) { ForceRange(channels_, min, max, preferred); }
