// tintwave-cli find FILE --start S --count N [--threshold T]: the sound search of the editor with
// the region as prototype; the runs that reach the threshold, in track order.
#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/OpenDocument.h"

namespace {
constexpr const char* kUsage =
    "usage: tintwave-cli find FILE --start SAMPLE --count SAMPLES [--threshold 0..100]\n";
constexpr int kDefaultThreshold = 70;
}  // namespace

int RunFind(int argc, char** argv) {
  if (argc < 2) return ReportMisuse("find takes a file", kUsage);
  int start = -1, count = -1, threshold = kDefaultThreshold;
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    std::string error;
    if (TakeRegionOption(argc, argv, &i, &start, &count, &error)) {
      if (!error.empty()) return ReportMisuse(error, kUsage);
    } else if (option == "--threshold" && i + 1 < argc) {
      if (!ParseInteger(argv[++i], 0, 100, &threshold)) return ReportMisuse("the threshold is 0 to 100", kUsage);
    } else {
      return ReportMisuse("unknown or incomplete option '" + option + "'", kUsage);
    }
  }
  if (start < 0 || count < 0) return ReportMisuse("find needs --start and --count", kUsage);
  const auto document = OpenDocument(argv[1]);
  if (!document) return 1;
  CAP_SampleTrack& track = document->DisplayTrack();
  if (start >= track.Length()) return ReportError(StartBeyondEnd(start, track.Length()));
  track.ComputeMatches(count, start);
  std::printf("matches: %d\n", track.CountMatches(threshold));
  // The walk that counts: a run is listed once, at its head, unless it is the prototype's own.
  const float t = float(threshold);
  int blockStart = 0;
  for (const SampleBlock* b = track.Head(); b;) {
    if (b->runHead && t <= b->score) {
      const SampleBlock* met = b;
      const int metStart = blockStart;
      for (const SampleBlock* run = b->runHead; b && b->runHead == run; b = b->next) blockStart += b->count;
      if (!met->inPrototype) std::printf("%d %.2f\n", metStart, double(met->score));
    } else {
      blockStart += b->count;
      b = b->next;
    }
  }
  return 0;
}
