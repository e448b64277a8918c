// tintwave-cli blocks FILE: the blocks of the display track with their signatures and colours;
// each line is the start in samples, the same in seconds, the length in samples, the signature
// and the colour.
#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/OpenDocument.h"

namespace {
constexpr const char* kUsage =
    "usage: tintwave-cli blocks FILE\n"
    "  One line a block: START SECONDS LENGTH SIGNATURE COLOUR (START and LENGTH in samples).\n";
}  // namespace

int RunBlocks(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage);
  if (argc != 2) return ReportMisuse("blocks takes one file", kUsage);
  const auto document = OpenDocument(argv[1]);
  if (!document) return 1;
  const CAP_SampleTrack& track = document->DisplayTrack();
  int start = 0;
  for (const SampleBlock* b = track.Head(); b; b = b->next) {
    std::printf("%d %.3f %d %s %06x\n", start, double(start) / track.sampleRate, int(b->count),
                HexDigits(b->signature.bytes, 16).c_str(), unsigned(b->color & 0xFFFFFF));
    start += b->count;
  }
  return 0;
}
