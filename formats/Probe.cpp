// The probe table: which reader opens a file. The first bytes decide wherever they say what the
// file is, whatever its name; the extension decides only where they cannot (MPEG audio without
// an ID3 tag, whose frame sync is two bytes that any file may begin with).
#include "formats/Probe.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <string>

#include "formats/Aiff.h"
#include "formats/Au.h"
#include "formats/Iff.h"
#include "formats/Midi.h"
#include "formats/Module.h"
#include "formats/Mpeg.h"
#include "formats/Voc.h"
#include "formats/Wave.h"
#include "formats/ffmpeg/FfmpegRead.h"
#include "formats/sndfile/SndfileRead.h"

namespace {

// The bytes the probes look at, read once: the first 40 and the 4 at offset 1080.
struct ProbeBytes {
  std::array<std::uint8_t, 40> head{};
  std::size_t headLength = 0;
  std::array<std::uint8_t, 4> moduleTag{};
  bool hasModuleTag = false;

  bool At(std::size_t offset, const char* text) const { return At(offset, text, std::strlen(text)); }
  bool At(std::size_t offset, const char* bytes, std::size_t n) const {
    return offset + n <= headLength && std::memcmp(head.data() + offset, bytes, n) == 0;
  }
};

struct ProbeContext {
  std::istream& in;
  std::int64_t fileSize;
  std::string extension;  // lower case
  bool readTrailingChunks;
  ProbeBytes bytes;
};

using Factory = std::unique_ptr<AudioAbstract> (*)(ProbeContext&);

struct Probe {
  const char* formatName;                         // for "... files are not supported"
  std::initializer_list<const char*> extensions;  // empty: the content alone decides
  bool (*matches)(const ProbeContext&);
  Factory construct;                              // null: recognised, but not read
};

bool IsVoc(const ProbeContext& c) { return c.bytes.At(0, "Creative Voice File\x1A"); }
bool IsAu(const ProbeContext& c) { return c.bytes.At(0, ".snd"); }
bool IsWave(const ProbeContext& c) {
  return (c.bytes.At(0, "RIFF") || c.bytes.At(0, "RF64") || c.bytes.At(0, "BW64")) && c.bytes.At(8, "WAVE");
}
bool IsAiff(const ProbeContext& c) { return c.bytes.At(0, "FORM") && (c.bytes.At(8, "AIFF") || c.bytes.At(8, "AIFC")); }
bool Is8svx(const ProbeContext& c) { return c.bytes.At(0, "FORM") && c.bytes.At(8, "8SVX"); }
bool IsMidi(const ProbeContext& c) { return c.bytes.At(0, "MThd"); }

bool IsModule(const ProbeContext& c) {
  if (!c.bytes.hasModuleTag) return false;
  for (const char* tag : {"M.K.", "M!K!", "FLT4", "FLT8", "6CHN", "8CHN"})
    if (std::memcmp(c.bytes.moduleTag.data(), tag, 4) == 0) return true;
  return false;
}

bool HasId3v2(const ProbeContext& c) { return c.bytes.At(0, "ID3"); }

// Formats read through libsndfile and FFmpeg.
bool IsFlac(const ProbeContext& c) { return c.bytes.At(0, "fLaC"); }
bool IsOgg(const ProbeContext& c) { return c.bytes.At(0, "OggS"); }
bool IsCaf(const ProbeContext& c) { return c.bytes.At(0, "caff"); }
bool IsWave64(const ProbeContext& c) {
  return c.bytes.At(0, "riff\x2E\x91\xCF\x11", 8) && c.bytes.At(24, "wave\xF3\xAC\xD3\x11", 8);
}
bool IsMp4(const ProbeContext& c) {
  // QuickTime files older than the ftyp box begin with another top-level box.
  return c.bytes.At(4, "ftyp") || c.bytes.At(4, "moov") || c.bytes.At(4, "mdat") || c.bytes.At(4, "wide");
}
bool IsAsf(const ProbeContext& c) { return c.bytes.At(0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8); }
bool IsMatroska(const ProbeContext& c) { return c.bytes.At(0, "\x1A\x45\xDF\xA3", 4); }
bool IsMonkeysAudio(const ProbeContext& c) { return c.bytes.At(0, "MAC "); }
bool IsWavPack(const ProbeContext& c) { return c.bytes.At(0, "wvpk"); }
bool IsAvi(const ProbeContext& c) { return c.bytes.At(0, "RIFF") && c.bytes.At(8, "AVI "); }
bool IsFlv(const ProbeContext& c) { return c.bytes.At(0, "FLV\x01", 4); }

// A frame sync in the first two bytes: as weak a sign as a file can give, so only names that
// say MPEG (or no name at all) take it.
bool IsMpegSync(const ProbeContext& c) {
  if (c.bytes.headLength < 2) return false;
  const std::uint8_t b0 = c.bytes.head[0], b1 = c.bytes.head[1];
  const bool sync = b0 == 0xFF && b1 >= 0xE0;
  const bool layer3 = (b1 & 0x06) == 0x02;
  return sync && (c.extension != ".mp3" || layer3);
}

// An ADTS frame header: the frame sync with layer 0 (which MPEG audio never uses), a sampling
// frequency from the table and a frame at least as long as its header. Like MPEG's sync, a weak
// sign: only the names raw AAC goes by (or none) take it.
bool IsAdts(const ProbeContext& c) {
  if (c.bytes.headLength < 7) return false;
  const std::uint8_t* h = c.bytes.head.data();
  const int frequencyIndex = (h[2] >> 2) & 0x0F;
  const int frameLength = ((h[3] & 0x03) << 11) | (h[4] << 3) | (h[5] >> 5);
  return h[0] == 0xFF && (h[1] & 0xF6) == 0xF0 && frequencyIndex < 13 && frameLength >= 7;
}

std::unique_ptr<AudioAbstract> MakeVoc(ProbeContext& c) { return std::make_unique<VocRead>(c.in, c.fileSize); }

std::unique_ptr<AudioAbstract> MakeAu(ProbeContext& c) { return std::make_unique<AuRead>(c.in, c.fileSize); }

std::unique_ptr<AudioAbstract> MakeIff(ProbeContext& c) { return std::make_unique<IffRead>(c.in, c.fileSize); }

std::unique_ptr<AudioAbstract> MakeAiff(ProbeContext& c) { return std::make_unique<AiffRead>(c.in, c.fileSize); }

std::unique_ptr<AudioAbstract> MakeMidi(ProbeContext& c) { return std::make_unique<MidiRead>(c.in, c.fileSize); }

std::unique_ptr<AudioAbstract> MakeModule(ProbeContext& c) { return std::make_unique<ModRead>(c.in, c.fileSize); }

std::unique_ptr<AudioAbstract> MakeMpeg(ProbeContext& c) {
  return std::make_unique<MpegRead>(c.in, c.fileSize, HasId3v2(c));
}

std::unique_ptr<AudioAbstract> MakeWave(ProbeContext& c) {
  return std::make_unique<WaveRead>(c.in, c.fileSize, c.readTrailingChunks);
}

template <int kFormat>
std::unique_ptr<AudioAbstract> MakeSndfile(ProbeContext& c) {
  return std::make_unique<SndfileRead>(c.in, c.fileSize, kFormat);
}

template <int kFormat>
std::unique_ptr<AudioAbstract> MakeFfmpeg(ProbeContext& c) {
  return std::make_unique<FfmpegRead>(c.in, c.fileSize, kFormat);
}

// Ogg holds Vorbis, Opus or FLAC for libsndfile; FFmpeg reads what else it may hold (Speex, the
// audio of Theora video).
std::unique_ptr<AudioAbstract> MakeOgg(ProbeContext& c) {
  try {
    return std::make_unique<SndfileRead>(c.in, c.fileSize, FileFormatOggVorbis);
  } catch (const SoundError& refused) {
    try {
      c.in.clear();
      c.in.seekg(0);
      return std::make_unique<FfmpegRead>(c.in, c.fileSize, FileFormatOggVorbis);
    } catch (const SoundError&) {
      throw refused;
    }
  }
}

// In probing order; the first match constructs its reader. Every row whose content alone
// decides comes before the one row that needs the extension.
const Probe kProbes[] = {
    {"Creative VOC", {}, IsVoc, MakeVoc},
    {"AU", {}, IsAu, MakeAu},
    {"WAVE", {}, IsWave, MakeWave},
    {"AIFF", {}, IsAiff, MakeAiff},
    {"IFF 8SVX", {}, Is8svx, MakeIff},
    {"MIDI", {}, IsMidi, MakeMidi},
    {"Tracker module", {}, IsModule, MakeModule},
    {"FLAC", {}, IsFlac, MakeSndfile<FileFormatFlac>},
    {"Ogg", {}, IsOgg, MakeOgg},
    {"CAF", {}, IsCaf, MakeSndfile<FileFormatCaf>},
    {"Wave64", {}, IsWave64, MakeFfmpeg<FileFormatWave64>},  // libsndfile reads extensible floats as integers
    {"MP4/M4A", {}, IsMp4, MakeFfmpeg<FileFormatMp4>},
    {"WMA", {}, IsAsf, MakeFfmpeg<FileFormatAsf>},
    {"Matroska/WebM", {}, IsMatroska, MakeFfmpeg<FileFormatMatroska>},
    {"Monkey's Audio", {}, IsMonkeysAudio, MakeFfmpeg<FileFormatMonkeysAudio>},
    {"WavPack", {}, IsWavPack, MakeFfmpeg<FileFormatWavPack>},
    {"AVI", {}, IsAvi, MakeFfmpeg<FileFormatOtherMedia>},
    {"FLV", {}, IsFlv, MakeFfmpeg<FileFormatOtherMedia>},
    {"AAC", {"", ".aac", ".adts"}, IsAdts, MakeFfmpeg<FileFormatAac>},
    {"MPEG audio", {}, HasId3v2, MakeMpeg},
    {"MPEG audio", {"", ".mp3", ".mp2", ".mpg"}, IsMpegSync, MakeMpeg},
};

bool ExtensionAllowed(const Probe& probe, const std::string& extension) {
  if (probe.extensions.size() == 0) return true;
  return std::any_of(probe.extensions.begin(), probe.extensions.end(),
                     [&](const char* allowed) { return extension == allowed; });
}

ProbeBytes ReadProbeBytes(std::istream& in) {
  ProbeBytes bytes;
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.head.data()), bytes.head.size());
  bytes.headLength = static_cast<std::size_t>(in.gcount());
  in.clear();
  in.seekg(1080);
  in.read(reinterpret_cast<char*>(bytes.moduleTag.data()), 4);
  bytes.hasModuleTag = in.gcount() == 4;
  in.clear();  // a short file only makes the probes answer no
  return bytes;
}

}  // namespace

std::string ExtensionOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

std::unique_ptr<AudioAbstract> CreateReaderForFile(std::istream& in, std::int64_t fileSize,
                                                   std::string_view extension, bool readTrailingChunks) {
  if (!in) return nullptr;
  std::string lower(extension);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
  ProbeContext context{in, fileSize, lower, readTrailingChunks, ReadProbeBytes(in)};

  for (const Probe& probe : kProbes) {
    if (!ExtensionAllowed(probe, context.extension) || !probe.matches(context)) continue;
    if (!probe.construct) throw SoundError(std::string(probe.formatName) + " files are not supported");
    in.clear();
    in.seekg(0);
    return probe.construct(context);
  }
  in.clear();
  in.seekg(0);
  return nullptr;
}
