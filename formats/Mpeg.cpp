#include "formats/Mpeg.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "formats/ByteOrder.h"

namespace {

constexpr const char* kCorrupted = "MPEG file may be corrupted";
constexpr const char* kDecodeError = "Error decoding Mpeg file!";

// Bytes fed to the library per read; a shorter read is the end of the input.
constexpr int kFeedBytes = 1024;
// Frames decoded again before a seek target, so that the layer III bit reservoir and the
// overlap of the filter banks are rebuilt. The library's state still converges only to the
// rounding: a sample after a seek may differ from a decoding from the start by one step of 16 bits.
constexpr std::int64_t kSeekPrerollFrames = 6;
// How far the walk over frame headers looks for the next sync behind damage.
constexpr int kSyncSearchBytes = 2048;
// Calls to the library in a row that neither deliver nor take input before decoding gives up.
constexpr int kMaxStalls = 64;

// kbit/s by [MPEG-1 ? 0 : 1][layer - 1][index].
constexpr int kBitRates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};
// Hz by version bits (0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1) and rate index.
constexpr int kSamplingRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

// The library's global set-up, once per process (a no-op in recent versions, required in old ones).
void InitLibraryOnce() {
  static const int result = mpg123_init();
  if (result != MPG123_OK) throw SoundError(kDecodeError);
}

}  // namespace

std::int64_t MaxMpegFrames(std::int64_t bytes) {
  // The smallest frame there is: MPEG-2 layer II/III at 8 kbit/s and 24 kHz.
  constexpr std::int64_t kSmallestFrameBytes = 24;
  return std::max<std::int64_t>(bytes, 0) / kSmallestFrameBytes + 1;
}

bool IsMpegSync(std::uint8_t b0, std::uint8_t b1, bool layer3Only) {
  return b0 == 0xFF && b1 >= 0xE0 && (!layer3Only || (b1 & 0x06) == 0x02);
}

bool ParseMpegFrameHeader(const std::uint8_t* p, MpegFrameHeader* header) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int versionBits = (p[1] >> 3) & 3;
  const int layerBits = (p[1] >> 1) & 3;
  const int bitRateIndex = p[2] >> 4;
  const int rateIndex = (p[2] >> 2) & 3;
  if (versionBits == 1 || layerBits == 0 || rateIndex == 3) return false;
  const bool mpeg1 = versionBits == 3;
  const int layer = 4 - layerBits;
  const int bitRate = kBitRates[mpeg1 ? 0 : 1][layer - 1][bitRateIndex];
  if (bitRate == 0) return false;  // free format or a forbidden index

  MpegFrameHeader h;
  h.layer = layer;
  h.bitRate = bitRate;
  h.samplingRate = kSamplingRates[versionBits][rateIndex];
  h.channels = (p[3] >> 6) == 3 ? 1 : 2;
  const int padding = (p[2] >> 1) & 1;
  if (layer == 1) {
    h.samplesPerFrame = 384;
    h.frameBytes = (12 * bitRate * 1000 / h.samplingRate + padding) * 4;
  } else {
    h.samplesPerFrame = layer == 3 && !mpeg1 ? 576 : 1152;
    h.frameBytes = h.samplesPerFrame / 8 * bitRate * 1000 / h.samplingRate + padding;
  }
  *header = h;
  return true;
}

bool FindMpegSync(std::istream& in, int maxBytes, bool layer3Only) {
  const std::streamoff start = in.tellg();
  if (start < 0) return false;
  std::vector<std::uint8_t> bytes(std::size_t(maxBytes) + 1);
  in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  const std::size_t got = std::size_t(in.gcount());
  in.clear();
  for (std::size_t i = 0; i + 1 < got; ++i) {
    if (IsMpegSync(bytes[i], bytes[i + 1], layer3Only)) {
      in.seekg(start + std::streamoff(i));
      return true;
    }
  }
  in.seekg(start);
  return false;
}

// ---------------------------------------------------------------------------------------------
// Decompressor

DecompressMpeg123::DecompressMpeg123(AudioAbstract& source, std::int64_t dataStart)
    : AbstractDecompressor(source), in_(*source.SourceStream()), dataStart_(dataStart) {
  flag_ = 0;
  const std::int64_t p0 = std::max<std::int64_t>(std::int64_t(in_.tellg()), 0);
  const std::int64_t sourceSize = source.SourceSize();

  // An "AiD" preamble (id, version 1, 16-bit length) that some encoders put in front of the frames.
  std::uint8_t lead[4] = {};
  in_.read(reinterpret_cast<char*>(lead), 4);
  if (in_ && std::memcmp(lead, "AiD\x01", 4) == 0) {
    const std::int64_t length = ReadBigEndian(in_, 2);
    SkipBytes(in_, length - 6);
  } else {
    in_.clear();
    in_.seekg(p0);
  }

  // The first frame header: a sync, then a third byte with a valid bit rate and rate.
  MpegFrameHeader header;
  std::int64_t headerAt = -1;
  {
    std::uint8_t window[4] = {};
    int filled = 0;
    std::int64_t at = std::int64_t(in_.tellg());
    for (int ch; (ch = in_.get()) != std::char_traits<char>::eof();) {
      if (filled == 4) {
        std::memmove(window, window + 1, 3);
        filled = 3;
        ++at;
      }
      window[filled++] = std::uint8_t(ch);
      if (filled < 4) continue;
      const bool looseSync = window[0] == 0xFF && (window[1] & 0xE0) == 0xE0 && window[2] < 0xF0 && (window[2] & 0x0C) != 0x0C;
      if (!looseSync) continue;
      if (ParseMpegFrameHeader(window, &header)) {
        headerAt = at;
        break;
      }
      if ((window[2] >> 4) == 0 && ((window[1] >> 1) & 3) != 0 && ((window[1] >> 3) & 3) != 1)
        throw SoundError(kCorrupted);  // free format: the library's frame length is unknown here
    }
  }
  if (headerAt < 0) throw SoundError(kCorrupted);

  channels_ = header.channels;
  samplingRate_ = header.samplingRate;
  bitRate_ = header.bitRate;
  samplesPerFrame_ = header.samplesPerFrame;
  layer_ = header.layer;
  const std::int64_t audioBytes = std::max<std::int64_t>(p0 + sourceSize - headerAt, 0);

  // A Xing (VBR) or Info (CBR, written by LAME) frame carries the frame count and no audio; the
  // library skips it, so the audio frames start behind it.
  std::uint8_t first[48] = {};
  in_.clear();
  in_.seekg(headerAt);
  in_.read(reinterpret_cast<char*>(first), sizeof first);
  in_.clear();
  const bool mpeg1 = ((first[1] >> 3) & 3) == 3;
  const int xingAt = mpeg1 ? (channels_ == 1 ? 21 : 36) : (channels_ == 1 ? 13 : 21);
  const bool hasXing = std::memcmp(first + xingAt, "Xing", 4) == 0 || std::memcmp(first + xingAt, "Info", 4) == 0;
  std::int64_t firstAudio = headerAt;
  if (hasXing) {
    const std::uint32_t flags = DecodeField(first + xingAt + 4, 4);
    if (flags & 1) totalFrames_ = DecodeField(first + xingAt + 8, 4);
    // A count the file cannot hold is damage; the length is estimated instead.
    if (totalFrames_ > MaxMpegFrames(audioBytes)) totalFrames_ = 0;
    firstAudio = NextFramePosition(headerAt);
    if (firstAudio < 0) firstAudio = headerAt + header.frameBytes;
  }
  totalSamples_ = totalFrames_ * samplesPerFrame_;

  // A container's own count (a WAVE fact or data chunk) wins.
  const std::int64_t containerSamples = source.FloatByteCount() / (4 * channels_);
  const bool plausible = containerSamples <= MaxMpegFrames(audioBytes) * kMaxSamplesPerFrame;
  if (containerSamples >= totalSamples_ && containerSamples > 0 && plausible) totalSamples_ = containerSamples;
  if (totalSamples_ == 0) {
    // Estimated from the first frame's bit rate, in whole frames: a constant-bit-rate stream
    // gives its exact length, where cutting at the estimate would lose the last frame.
    const std::int64_t estimate = std::llround(double(audioBytes) * 8 / (double(bitRate_) * 1000) * samplingRate_);
    totalSamples_ = std::max<std::int64_t>((estimate + samplesPerFrame_ - 1) / samplesPerFrame_, 1) * samplesPerFrame_;
  }
  if (totalFrames_ == 0) totalFrames_ = (totalSamples_ - 1) / samplesPerFrame_ + 1;

  framePositions_.push_back(firstAudio);
  in_.clear();
  in_.seekg(firstAudio);
  OpenLibrary();
}

DecompressMpeg123::~DecompressMpeg123() { CloseLibrary(); }

void DecompressMpeg123::OpenLibrary() {
  InitLibraryOnce();
  int error = MPG123_OK;
  library_ = mpg123_new(nullptr, &error);
  if (!library_) throw SoundError(kDecodeError);
  // Every frame is delivered (no gapless trimming), in the stream's own rate and channels.
  const bool ok = mpg123_param(library_, MPG123_ADD_FLAGS, MPG123_QUIET, 0) == MPG123_OK &&
                  mpg123_param(library_, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0) == MPG123_OK &&
                  mpg123_format_none(library_) == MPG123_OK &&
                  mpg123_format(library_, samplingRate_, channels_ == 1 ? MPG123_MONO : MPG123_STEREO,
                                MPG123_ENC_SIGNED_16) == MPG123_OK &&
                  mpg123_open_feed(library_) == MPG123_OK;
  if (!ok) {
    CloseLibrary();
    throw SoundError(kDecodeError);
  }
}

void DecompressMpeg123::CloseLibrary() {
  if (!library_) return;
  mpg123_delete(library_);  // also discards the input it holds
  library_ = nullptr;
}

void DecompressMpeg123::AdoptFormat() {
  long rate = 0;
  int channels = 0, encoding = 0;
  if (mpg123_getformat(library_, &rate, &channels, &encoding) != MPG123_OK || channels != channels_ ||
      encoding != MPG123_ENC_SIGNED_16)
    throw SoundError(kDecodeError);
}

bool DecompressMpeg123::DecodeNextFrame() {
  bool errorSinceFeed = false;
  for (int stalls = 0; stalls < kMaxStalls;) {
    off_t frameNumber = 0;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    const int result = mpg123_decode_frame(library_, &frameNumber, &audio, &bytes);
    if (result == MPG123_NEW_FORMAT) {
      AdoptFormat();
      ++stalls;
    } else if (result == MPG123_OK) {
      if (bytes == 0 || !audio) {
        ++stalls;
        continue;
      }
      frame_.resize(bytes / 2);
      std::memcpy(frame_.data(), audio, frame_.size() * 2);
      mpg123_frameinfo info;
      if (mpg123_info(library_, &info) == MPG123_OK && info.bitrate > 0) bitRate_ = info.bitrate;
      return true;
    } else if (result == MPG123_NEED_MORE) {
      if (inputEnded_) return false;
      std::uint8_t input[kFeedBytes];
      const int got = source_.PullBytes(input, kFeedBytes);
      if (got < kFeedBytes) {
        inputEnded_ = true;
        in_.clear();
      }
      if (got <= 0) return false;
      if (mpg123_feed(library_, input, size_t(got)) != MPG123_OK) throw SoundError(kDecodeError);
      errorSinceFeed = false;
    } else if (result == MPG123_DONE) {
      return false;
    } else {
      // A damaged frame becomes one frame of silence, so that the timing holds; errors that
      // repeat without new input end the decoding.
      if (errorSinceFeed) return false;
      errorSinceFeed = true;
      frame_.assign(std::size_t(samplesPerFrame_) * channels_, 0);
      return true;
    }
  }
  return false;
}

void DecompressMpeg123::DecodeFirstFrame() {
  if (framesDecoded_ > 0 || framesDecoded_ >= totalFrames_) return;
  if (!DecodeNextFrame()) throw SoundError(kCorrupted);
  ++framesDecoded_;
  frameRead_ = 0;
}

int DecompressMpeg123::PullSamples(float* out, int count) {
  int delivered = 0;
  while (delivered < count) {
    if (frameRead_ < frame_.size()) {
      const std::size_t available = frame_.size() - frameRead_;
      if (discard_ > 0) {
        const std::size_t n = std::size_t(std::min<std::int64_t>(discard_, std::int64_t(available)));
        frameRead_ += n;
        discard_ -= std::int64_t(n);
        continue;
      }
      const std::size_t n = std::min<std::size_t>(available, std::size_t(count - delivered));
      for (std::size_t i = 0; i < n; ++i) out[delivered + int(i)] = float(frame_[frameRead_ + i]) / 32768.0f;
      frameRead_ += n;
      delivered += int(n);
      continue;
    }
    if (flag_ || framesDecoded_ >= totalFrames_ || !DecodeNextFrame()) {
      flag_ = 1;  // finished
      break;
    }
    ++framesDecoded_;
    frameRead_ = 0;
  }
  return delivered;
}

std::int64_t DecompressMpeg123::NextFramePosition(std::int64_t position) {
  std::uint8_t bytes[4] = {};
  MpegFrameHeader here;
  in_.clear();
  in_.seekg(position);
  in_.read(reinterpret_cast<char*>(bytes), 4);
  const bool valid = in_ && ParseMpegFrameHeader(bytes, &here);
  // The next header: where this frame ends, else the next sync of the same layer and rate.
  std::vector<std::uint8_t> window(kSyncSearchBytes + 3);
  const std::int64_t from = position + (valid ? here.frameBytes : 1);
  in_.clear();
  in_.seekg(from);
  in_.read(reinterpret_cast<char*>(window.data()), std::streamsize(window.size()));
  const std::size_t got = std::size_t(in_.gcount());
  in_.clear();
  for (std::size_t i = 0; i + 4 <= got; ++i) {
    MpegFrameHeader next;
    if (ParseMpegFrameHeader(&window[i], &next) && next.layer == layer_ && next.samplingRate == samplingRate_)
      return from + std::int64_t(i);
  }
  return -1;
}

std::int64_t DecompressMpeg123::FramePosition(std::int64_t k) {
  while (std::int64_t(framePositions_.size()) <= k) {
    const std::int64_t next = NextFramePosition(framePositions_.back());
    if (next < 0) return -1;
    framePositions_.push_back(next);
  }
  return framePositions_[std::size_t(k)];
}

std::int64_t DecompressMpeg123::PrepareSeek(std::int64_t sampleIndex) {
  const std::int64_t target = std::max<std::int64_t>(sampleIndex, 0) / channels_;
  const std::int64_t k = std::max<std::int64_t>(target / samplesPerFrame_ - kSeekPrerollFrames, 0);
  CloseLibrary();
  frame_.clear();
  frameRead_ = 0;
  inputEnded_ = false;
  flag_ = 0;
  const std::int64_t position = k < totalFrames_ ? FramePosition(k) : -1;
  OpenLibrary();
  if (position < 0) {
    flag_ = 1;  // beyond the end: nothing more to deliver
    discard_ = 0;
    return -1;
  }
  framesDecoded_ = k;
  discard_ = (target - k * samplesPerFrame_) * channels_;
  return position;
}

std::int64_t DecompressMpeg123::ByteCountFor(std::int64_t sampleIndex) const {
  // A WAVE reader seeks by asking where the bytes of a sample start; for MPEG that also has to
  // restart the decoding there, which changes this decompressor's state.
  const std::int64_t position = const_cast<DecompressMpeg123*>(this)->PrepareSeek(sampleIndex);
  return position < 0 ? std::numeric_limits<std::int32_t>::max() : position - dataStart_;
}

void DecompressMpeg123::SeekToSample(std::int64_t sampleIndex) {
  const std::int64_t position = PrepareSeek(sampleIndex);
  in_.clear();
  if (position >= 0) in_.seekg(position);
}

void DecompressMpeg123::MinMaxSamplingRate(int* min, int* max, int* preferred) {
  *min = *max = *preferred = samplingRate_;
}

void DecompressMpeg123::MinMaxChannels(int* min, int* max, int* preferred) { *min = *max = *preferred = channels_; }

// ---------------------------------------------------------------------------------------------
// ID3v2 tag

namespace {

constexpr const char* kGenres[148] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal", "New Age",
    "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial", "Alternative", "Ska",
    "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion",
    "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "Alt. Rock",
    "Bass", "Soul", "Punk", "Space", "Meditative", "Instrum. Pop", "Instrum. Rock", "Ethnic", "Gothic", "Darkwave",
    "Techno-Indust.", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta",
    "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll",
    "Hard Rock", "Folk", "Folk/Rock", "National Folk", "Swing", "Fusion", "Bebob", "Latin", "Revival", "Celtic",
    "Bluegrass", "Avantgarde", "Gothic Rock", "Progress. Rock", "Psychadel. Rock", "Symphonic Rock", "Slow Rock",
    "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber Music",
    "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba",
    "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A Capella",
    "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie", "BritPop",
    "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal", "Crossover",
    "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "Jpop", "Synthpop",
};

// Frames longer than this carry no text the annotations keep.
constexpr std::int64_t kMaxTextFrame = 1023;

// ID3v2.3 and ID3v2.2 frame ids of the kinds kept.
struct Id3Frame {
  const char* v3;
  const char* v2;
  int kind;
};
constexpr Id3Frame kId3Frames[] = {
    {"TIT2", "TT2", AnnotationName},  {"TPE1", "TP1", AnnotationArtist}, {"TCOP", "TCR", AnnotationCopyright},
    {"COMM", "COM", AnnotationComment}, {"TCON", "TCO", AnnotationGenre}, {"WXXX", "WXX", AnnotationUrl},
    {"TBPM", "TBP", AnnotationTempo}, {"TKEY", "TKE", AnnotationKey},
};

// The text up to its first zero byte (or the end).
std::string TextUpToZero(const std::uint8_t* p, std::size_t n) {
  const std::uint8_t* end = std::find(p, p + n, std::uint8_t(0));
  return std::string(p, end);
}

std::string GenreText(const std::string& text) {
  // "(n)" names genre n of the ID3v1 list.
  if (text.size() >= 3 && text.front() == '(') {
    const std::size_t close = text.find(')');
    const std::string digits = close == std::string::npos ? "" : text.substr(1, close - 1);
    if (!digits.empty() && digits.size() <= 3 && std::all_of(digits.begin(), digits.end(), ::isdigit)) {
      const int n = std::stoi(digits);
      if (n < 148) return kGenres[n];
    }
  }
  return text;
}

std::string KeyNumber(const std::string& text) {
  if (text.size() >= 2) {
    const std::string two = text.substr(0, 2);
    if (two == "A#" || two == "Bb") return "2";
    if (two == "C#" || two == "Db") return "5";
    if (two == "D#" || two == "Eb") return "7";
    if (two == "F#" || two == "Gb") return "10";
    if (two == "G#" || two == "Ab") return "12";
  }
  if (text.empty()) return "";
  switch (text[0]) {
    case 'A': return "1";
    case 'B': return "3";
    case 'C': return "4";
    case 'D': return "6";
    case 'E': return "8";
    case 'F': return "9";
    case 'G': return "11";
    default: return "";
  }
}

// The annotation text of one frame (without its terminating zero); empty when it keeps nothing.
std::string FrameText(int kind, const std::vector<std::uint8_t>& frame) {
  const std::uint8_t* body = frame.data() + 1;  // behind the text encoding byte
  const std::size_t n = frame.size() - 1;
  if (kind == AnnotationComment || kind == AnnotationUrl) {
    // COMM: language (3 bytes), description, zero, text. WXXX: description, zero, URL.
    const std::size_t skip = kind == AnnotationComment ? std::min<std::size_t>(3, n) : 0;
    const std::uint8_t* description = body + skip;
    const std::size_t rest = n - skip;
    const std::uint8_t* zero = std::find(description, description + rest, std::uint8_t(0));
    if (zero == description + rest) throw SoundError("Malformed ID3 Tag");
    const std::string head(description, zero);
    const std::string tail = TextUpToZero(zero + 1, std::size_t(description + rest - zero - 1));
    if (kind == AnnotationUrl) return tail;
    std::string text = head.empty() ? tail : head + " " + tail;
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
  }
  const std::string text = TextUpToZero(body, n);
  if (kind == AnnotationGenre) return GenreText(text);
  if (kind == AnnotationKey) return KeyNumber(text);
  return text;
}

}  // namespace

MpegRead::MpegRead(std::istream& in, std::int64_t fileSize, bool hasId3v2)
    : in_(in), fileSize_(std::max<std::int64_t>(fileSize, 0)), inputSize_(fileSize_) {
  fileFormat_ = FileFormatMpeg;
  std::int64_t tagSize = 0;
  if (hasId3v2) {
    tagSize = ParseId3v2();
    inputSize_ -= tagSize;
  }
  in_.clear();
  in_.seekg(tagSize);
  decompressor_ = std::make_unique<DecompressMpeg123>(*this);
  // Bytes that merely begin like a frame header hold no frame the library can decode.
  decompressor_->DecodeFirstFrame();
  resolution_ = 16;
  compression_ = CompressionMpegLayer1 + decompressor_->Layer() - 1;
  floatByteCount_ = decompressor_->TotalSamples() * decompressor_->Channels() * 4;
}

MpegRead::~MpegRead() = default;

std::int64_t MpegRead::ParseId3v2() {
  in_.clear();
  in_.seekg(3);
  const int version = int(ReadBigEndian(in_, 1));
  ReadBigEndian(in_, 1);  // revision
  const std::uint32_t flags = ReadBigEndian(in_, 1);
  std::uint8_t sizeBytes[4] = {};
  in_.read(reinterpret_cast<char*>(sizeBytes), 4);
  if (!in_) throw SoundError("Error reading in ID3 tag");
  const std::int64_t size = (std::int64_t(sizeBytes[0] & 0x7F) << 21) | ((sizeBytes[1] & 0x7F) << 14) |
                            ((sizeBytes[2] & 0x7F) << 7) | (sizeBytes[3] & 0x7F);
  const std::int64_t tagSize = size + 10;
  if (inputSize_ < tagSize) throw SoundError("Error, ID3 tag size too big");
  if (version > 3) return tagSize;  // ID3v2.4: skipped whole

  std::int64_t area = size;
  if (flags & 0x40) {
    const std::int64_t extended = ReadBigEndian(in_, 4);
    SkipBytes(in_, extended);
    area -= 4 + extended;
  }
  const bool v3 = version == 3;
  const int headerBytes = v3 ? 10 : 6;
  // A frame needs its header and at least one byte.
  while (area > headerBytes && in_) {
    char id[5] = {};
    in_.read(id, v3 ? 4 : 3);
    const std::int64_t frameSize = ReadBigEndian(in_, v3 ? 4 : 3);
    if (v3) ReadBigEndian(in_, 2);  // flags
    if (!in_) throw SoundError("Error reading in ID3 tag");
    if (id[0] == 0) break;  // padding
    if (frameSize > inputSize_) throw SoundError("Error, ID3 frame size too big");
    area -= headerBytes;
    if (frameSize > area) break;  // a frame beyond the tag: the rest is damage
    area -= frameSize;

    int kind = 0;
    for (const Id3Frame& known : kId3Frames)
      if (std::strcmp(id, v3 ? known.v3 : known.v2) == 0) kind = known.kind;
    if (kind == 0 || frameSize < 2 || frameSize > kMaxTextFrame) {
      SkipBytes(in_, frameSize);
      continue;
    }
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(frameSize));
    in_.read(reinterpret_cast<char*>(frame.data()), frameSize);
    if (!in_) throw SoundError("Error reading in ID3 tag");
    if (frame[0] != 0) continue;  // only ISO-8859-1 text is kept
    const std::string text = FrameText(kind, frame);
    if (text.empty()) continue;
    // Stored with its terminating zero.
    annotations_.SetByKind(kind, reinterpret_cast<const std::uint8_t*>(text.c_str()), std::int32_t(text.size() + 1));
  }
  return tagSize;
}

int MpegRead::PullSamples(float* out, int count) { return decompressor_->PullSamples(out, count); }

int MpegRead::PullBytes(std::uint8_t* buffer, int length) {
  const std::streamoff at = in_.tellg();
  if (at < 0) return 0;
  const std::int64_t wanted = std::min<std::int64_t>(length, fileSize_ - std::int64_t(at));
  if (wanted <= 0) return 0;
  in_.read(reinterpret_cast<char*>(buffer), wanted);
  const int got = int(in_.gcount());
  if (got < wanted) in_.clear();
  return got;
}

bool MpegRead::SeekToSample(std::int64_t sampleIndex) {
  decompressor_->SeekToSample(sampleIndex);
  return true;
}

void MpegRead::MinMaxSamplingRate(int* min, int* max, int* preferred) {
  decompressor_->MinMaxSamplingRate(min, max, preferred);
}

void MpegRead::MinMaxChannels(int* min, int* max, int* preferred) { decompressor_->MinMaxChannels(min, max, preferred); }

int MpegRead::BitRate() { return decompressor_->BitRate(); }
