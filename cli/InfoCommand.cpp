// tintwave-cli info FILE: what the editor learns when it opens the file.
#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/OpenDocument.h"
#include "formats/FormatCodes.h"

namespace {

constexpr const char* kUsage = "usage: tintwave-cli info FILE\n";

// The chunk id as its four characters (unprintable bytes as '.'); "----" for an item of a kind.
std::string ChunkIdText(std::uint32_t id) {
  if (id == 0) return "----";
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned char c = (id >> shift) & 0xFF;
    text += std::isprint(c) ? char(c) : '.';
  }
  return text;
}

}  // namespace

int RunInfo(int argc, char** argv) {
  if (argc != 2) return ReportMisuse("info takes one file", kUsage);
  const auto document = OpenDocument(argv[1]);
  if (!document) return 1;
  const CAP_AudioDecoder& d = document->Decoder();
  std::printf("format: %d\n", int(d.fileFormat));
  std::printf("compression: %d %s\n", int(d.compression), CompressionName(d.compression));
  std::printf("rate: %d\n", int(d.sampleRate));
  std::printf("channels: %d\n", int(d.channels));
  std::printf("frames: %d\n", document->DisplayTrack().Length());
  std::printf("bits: %d\n", int(d.resolution));
  std::printf("bitrate: %d\n", int(d.bitRate));
  for (const Annotation& item : document->Annotations())
    std::printf("annotation: kind=%d id=%s origin=%d length=%d\n", int(item.kind), ChunkIdText(item.chunkId).c_str(),
                int(item.origin), int(item.Length()));
  return 0;
}
