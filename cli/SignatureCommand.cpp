// tintwave-cli signature FILE [--start S] [--count N]: the region signature of the display track,
// as the web search sends it.
#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/OpenDocument.h"

namespace {
constexpr const char* kUsage = "usage: tintwave-cli signature FILE [--start SAMPLE] [--count SAMPLES]\n";
}  // namespace

int RunSignature(int argc, char** argv) {
  if (argc < 2) return ReportMisuse("signature takes a file", kUsage);
  int start = 0, count = -1;
  for (int i = 2; i < argc; ++i) {
    std::string error;
    if (!TakeRegionOption(argc, argv, &i, &start, &count, &error))
      return ReportMisuse(std::string("unknown or incomplete option '") + argv[i] + "'", kUsage);
    if (!error.empty()) return ReportMisuse(error, kUsage);
  }
  const auto document = OpenDocument(argv[1]);
  if (!document) return 1;
  CAP_SampleTrack& track = document->DisplayTrack();
  if (start > track.Length() || (start == track.Length() && track.Length() > 0))
    return ReportError(StartBeyondEnd(start, track.Length()));
  // A region that runs past the end is cut there, as every region of the store.
  if (count < 0 || count > track.Length() - start) count = track.Length() - start;
  SoundSignature signature;
  track.ComputeRegionSignature(count, start, &signature);
  std::printf("%s\n", HexDigits(signature.bytes, 16).c_str());
  return 0;
}
