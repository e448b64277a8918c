// tintwave-cli info FILE [--json]: what the file's header says, read without loading the audio:
// format, encoding, rate, channels, duration and the tags with their text.
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OpenDocument.h"
#include "formats/FormatCodes.h"

namespace {

constexpr const char* kUsage =
    "usage: tintwave-cli info FILE [--json]\n"
    "  The header of FILE (the audio is not loaded): format, encoding, rate, channels, duration\n"
    "  and tags. --json prints one JSON object for scripts.\n";

const char* FormatName(int code) { return FileFormatName(code); }

const char* KindName(int kind) {
  static const char* const kNames[] = {"", "name", "artist", "copyright", "comment", "genre",
                                       "source", "url", "tempo", "key", "album", "date", "track"};
  return kind > 0 && kind < int(std::size(kNames)) ? kNames[kind] : "";
}

// The chunk id as its four characters (unprintable bytes as '.').
std::string ChunkIdText(std::uint32_t id) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned char c = (id >> shift) & 0xFF;
    text += std::isprint(c) ? char(c) : '.';
  }
  return text;
}

bool IsUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = s[i];
    const int more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (more < 0 || i + std::size_t(more) >= s.size()) return false;
    for (int k = 1; k <= more; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += std::size_t(more) + 1;
  }
  return true;
}

// A tag's text: the bytes up to the first zero, as UTF-8 (older files write Latin-1, which is
// converted); false when it holds control characters, i.e. is no text.
bool TagText(const Annotation& item, std::string* text) {
  std::string raw(item.data.begin(), item.data.end());
  raw = raw.substr(0, raw.find('\0'));
  for (unsigned char c : raw)
    if (c < 0x20 && c != '\t') return false;
  if (IsUtf8(raw)) {
    *text = raw;
    return true;
  }
  text->clear();
  for (unsigned char c : raw) {
    if (c < 0x80) {
      *text += char(c);
    } else {
      *text += char(0xC0 | (c >> 6));
      *text += char(0x80 | (c & 0x3F));
    }
  }
  return true;
}

std::string Json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

}  // namespace

int RunInfo(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage);
  const char* path = nullptr;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--json")) json = true;
    else if (argv[i][0] == '-' && argv[i][1]) return ReportMisuse(std::string("unknown option '") + argv[i] + "'", kUsage);
    else if (path) return ReportMisuse("info takes one file", kUsage);
    else path = argv[i];
  }
  if (!path) return ReportMisuse("info takes one file", kUsage);
  OpenedHeader header;
  OpenFailure failure;
  if (!OpenHeader(path, &header, &failure)) return ReportError(failure.Text(path));
  const CAP_AudioDecoder& d = header.Decoder();
  AnnotationList tags;
  d.CopyAnnotations(tags);
  // The file's own layout, also where the editor converts or down-mixes it.
  const bool fitted = !d.notice.empty();
  const int rate = fitted ? int(d.fileRate) : int(d.sampleRate);
  const int channels = fitted ? int(d.fileChannels) : int(d.channels);
  std::int64_t frames = fitted ? d.fileFrames : d.TotalFrames();
  if (frames == 0 && d.duration > 0) frames = std::int64_t(d.duration * rate + 0.5);
  const double seconds = rate > 0 ? double(frames) / rate : 0.0;

  if (json) {
    std::printf("{\"file\":%s,\"format\":%s,\"formatCode\":%d,\"encoding\":%s,\"compression\":%d,"
                "\"rate\":%d,\"channels\":%d,\"frames\":%" PRId64 ",\"seconds\":%.6f,\"bits\":%d,\"bitrate\":%d,"
                "\"tags\":[",
                Json(path).c_str(), Json(FormatName(d.fileFormat)).c_str(), int(d.fileFormat),
                Json(CompressionName(d.compression)).c_str(), int(d.compression), rate, channels, frames, seconds, int(d.resolution), int(d.bitRate));
    bool first = true;
    for (const Annotation& item : tags) {
      std::string text;
      const bool isText = TagText(item, &text);
      std::printf("%s{", first ? "" : ",");
      first = false;
      if (item.kind != AnnotationById) std::printf("\"kind\":%s", Json(KindName(item.kind)).c_str());
      else std::printf("\"chunk\":%s,\"origin\":%d", Json(ChunkIdText(item.chunkId)).c_str(), int(item.origin));
      if (isText) std::printf(",\"text\":%s", Json(text).c_str());
      std::printf(",\"bytes\":%d}", int(item.Length()));
    }
    std::printf("]}\n");
    return 0;
  }
  std::printf("format: %s\n", FormatName(d.fileFormat));
  std::printf("encoding: %s (%d)\n", CompressionName(d.compression), int(d.compression));
  std::printf("rate: %d Hz\n", rate);
  std::printf("channels: %d\n", channels);
  std::printf("duration: %s (%" PRId64 " frames)\n", ConsoleTimeText(seconds).c_str(), frames);
  if (d.resolution) std::printf("bits: %d\n", int(d.resolution));
  if (d.bitRate) std::printf("bitrate: %d kbit/s\n", int(d.bitRate));
  for (const Annotation& item : tags) {
    std::string text;
    const bool isText = TagText(item, &text);
    const std::string label = item.kind != AnnotationById ? KindName(item.kind)
                                                          : "chunk '" + ChunkIdText(item.chunkId) + "'";
    if (isText && !text.empty()) std::printf("%s: %s\n", label.c_str(), text.c_str());
    else std::printf("%s: %d bytes\n", label.c_str(), int(item.Length()));
  }
  return 0;
}
