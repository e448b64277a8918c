// The probe table: which reader opens a file, decided from its first bytes and its extension.
// Formats whose reader has not landed yet are recognised and reported as not supported.
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
#include "formats/Mpeg.h"
#include "formats/Voc.h"
#include "formats/Wave.h"

namespace {

// The bytes the probes look at, read once: the first 20 and the 4 at offset 1080.
struct ProbeBytes {
  std::array<std::uint8_t, 20> head{};
  std::size_t headLength = 0;
  std::array<std::uint8_t, 4> moduleTag{};
  bool hasModuleTag = false;

  bool At(std::size_t offset, const char* text) const {
    const std::size_t n = std::strlen(text);
    return offset + n <= headLength && std::memcmp(head.data() + offset, text, n) == 0;
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
  const char* formatName;                     // for "... files are not supported yet"
  std::initializer_list<const char*> extensions;  // empty = any extension
  bool (*matches)(const ProbeContext&);
  Factory construct;                          // null while the format has no reader
};

bool IsVoc(const ProbeContext& c) { return c.bytes.At(0, "Creative Voice File\x1A"); }
bool IsAu(const ProbeContext& c) { return c.bytes.At(0, ".snd"); }
bool IsWave(const ProbeContext& c) { return c.bytes.At(0, "RIFF") && c.bytes.At(8, "WAVE"); }
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

bool IsMpeg(const ProbeContext& c) {
  if (HasId3v2(c)) return true;
  if (c.bytes.headLength < 2) return false;
  const std::uint8_t b0 = c.bytes.head[0], b1 = c.bytes.head[1];
  const bool sync = b0 == 0xFF && b1 >= 0xE0;
  const bool layer3 = (b1 & 0x06) == 0x02;
  return sync && (c.extension != ".mp3" || layer3);
}

std::unique_ptr<AudioAbstract> MakeVoc(ProbeContext& c) { return std::make_unique<VocRead>(c.in, c.fileSize); }

std::unique_ptr<AudioAbstract> MakeAu(ProbeContext& c) { return std::make_unique<AuRead>(c.in, c.fileSize); }

std::unique_ptr<AudioAbstract> MakeIff(ProbeContext& c) { return std::make_unique<IffRead>(c.in, c.fileSize); }

std::unique_ptr<AudioAbstract> MakeAiff(ProbeContext& c) { return std::make_unique<AiffRead>(c.in, c.fileSize); }

std::unique_ptr<AudioAbstract> MakeMpeg(ProbeContext& c) {
  return std::make_unique<MpegRead>(c.in, c.fileSize, HasId3v2(c));
}

std::unique_ptr<AudioAbstract> MakeWave(ProbeContext& c) {
  return std::make_unique<WaveRead>(c.in, c.fileSize, c.readTrailingChunks);
}

// In probing order; the first match constructs its reader.
const Probe kProbes[] = {
    {"Creative VOC", {}, IsVoc, MakeVoc},
    {"AU", {".au", ".snd"}, IsAu, MakeAu},
    {"WAVE", {".wav"}, IsWave, MakeWave},
    {"AIFF", {".aiff", ".aif"}, IsAiff, MakeAiff},
    {"IFF 8SVX", {}, Is8svx, MakeIff},
    {"MIDI", {}, IsMidi, nullptr},
    {"Tracker module", {}, IsModule, nullptr},
    {"MPEG audio", {"", ".mp3", ".mp2", ".mpg"}, IsMpeg, MakeMpeg},
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
    if (!probe.construct) throw SoundError(std::string(probe.formatName) + " files are not supported yet");
    in.clear();
    in.seekg(0);
    return probe.construct(context);
  }
  in.clear();
  in.seekg(0);
  return nullptr;
}
