// tintwave-cli signature FILE [--start T] [--count T]: the region signature of the display track,
// as the web search sends it.
#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/OpenDocument.h"

namespace {
const std::string kUsage = std::string("usage: tintwave-cli signature FILE [--start TIME] [--count TIME]\n") + kTimeSyntax;
}  // namespace

int RunSignature(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage.c_str());
  if (argc < 2) return ReportMisuse("signature takes a file", kUsage.c_str());
  TimeValue start, count;
  bool haveStart = false, haveCount = false;
  for (int i = 2; i < argc; ++i) {
    std::string error;
    if (!TakeRegionOption(argc, argv, &i, &start, &count, &haveStart, &haveCount, &error))
      return ReportMisuse(std::string("unknown or incomplete option '") + argv[i] + "'", kUsage.c_str());
    if (!error.empty()) return ReportMisuse(error, kUsage.c_str());
  }
  const auto document = OpenDocument(argv[1]);
  if (!document) return 1;
  CAP_SampleTrack& track = document->DisplayTrack();
  int first = 0, length = 0;
  std::string error;
  if (!ResolveRegion(start, haveCount ? &count : nullptr, track.Length(), track.sampleRate, &first, &length, &error))
    return ReportError(AboutFile(argv[1], error));
  SoundSignature signature;
  track.ComputeRegionSignature(length, first, &signature);
  std::printf("%s\n", HexDigits(signature.bytes, 16).c_str());
  return 0;
}
