// tintwave-cli blocks FILE: the blocks of the display track with their signatures and colours.
#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/OpenDocument.h"

namespace {
constexpr const char* kUsage = "usage: tintwave-cli blocks FILE\n";
}  // namespace

int RunBlocks(int argc, char** argv) {
  if (argc != 2) return ReportMisuse("blocks takes one file", kUsage);
  const auto document = OpenDocument(argv[1]);
  if (!document) return 1;
  int start = 0;
  for (const SampleBlock* b = document->DisplayTrack().Head(); b; b = b->next) {
    std::printf("%d %d %s %06x\n", start, int(b->count), HexDigits(b->signature.bytes, 16).c_str(),
                unsigned(b->color & 0xFFFFFF));
    start += b->count;
  }
  return 0;
}
