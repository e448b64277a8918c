// tintwave-cli find FILE --start T --count T [--threshold T] [--mode M] [--grid]: the sound search
// of the editor with the region as prototype; the runs that reach the threshold, in track order, each as
// the start of its sound in samples, the same in seconds, and its score.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/OpenDocument.h"
#include "analysis/SoundMatch.h"

namespace {
const std::string kUsage = std::string(
    "usage: tintwave-cli find FILE --start TIME --count TIME [--threshold 0..100] [--mode MODE] [--grid]\n"
    "  Prints 'matches: N', then a line 'START SECONDS SCORE' for every run that sounds like the\n"
    "  region (START in samples, where the sound starts); the threshold may have decimals (99.4).\n"
    "  --mode sound: what a listener hears as the same sound, whatever its level, speed, voice,\n"
    "    background or room (the default); anywhere: the signature search at any start, as with\n"
    "    the search mode \"Signatures\" and \"Match anywhere\" on; grid: the signature search on\n"
    "    the 0.05 s block grid only.\n"
    "  --grid: the same as --mode grid.\n") +
    kTimeSyntax;
constexpr double kDefaultThreshold = 70;

bool ParseThreshold(const char* text, double* out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (!*text || *end || !(v >= 0 && v <= 100)) return false;
  *out = v;
  return true;
}
}  // namespace

int RunFind(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage.c_str());
  if (argc < 2) return ReportMisuse("find takes a file", kUsage.c_str());
  TimeValue start, count;
  bool haveStart = false, haveCount = false;
  double threshold = kDefaultThreshold;
  SearchMode mode = SearchMode::Sound;
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    std::string error;
    if (TakeRegionOption(argc, argv, &i, &start, &count, &haveStart, &haveCount, &error)) {
      if (!error.empty()) return ReportMisuse(error, kUsage.c_str());
    } else if (option == "--grid") {
      mode = SearchMode::Grid;
    } else if (option == "--mode" && i + 1 < argc) {
      if (!ParseSearchMode(argv[++i], &mode))
        return ReportMisuse(std::string("bad mode '") + argv[i] + "': sound, anywhere or grid", kUsage.c_str());
    } else if (option == "--threshold" && i + 1 < argc) {
      if (!ParseThreshold(argv[++i], &threshold))
        return ReportMisuse(std::string("bad threshold '") + argv[i] + "': a score from 0 to 100", kUsage.c_str());
    } else {
      return ReportMisuse("unknown or incomplete option '" + option + "'", kUsage.c_str());
    }
  }
  if (!haveStart || !haveCount) return ReportMisuse("find needs --start and --count", kUsage.c_str());
  const auto document = OpenDocument(argv[1]);
  if (!document) return 1;
  CAP_SampleTrack& track = document->DisplayTrack();
  const int rate = track.sampleRate;
  int first = 0, length = 0;
  std::string error;
  if (!ResolveRegion(start, &count, track.Length(), rate, &first, &length, &error))
    return ReportError(AboutFile(argv[1], error));
  FindSoundsLike(track, length, first, mode);
  // The walk that counts (CountMatches, with a threshold that may have decimals): a run is listed
  // once, at its head, unless it is the prototype's own.
  const float t = float(threshold);
  std::string lines;
  int matches = 0, blockStart = 0;
  for (const SampleBlock* b = track.Head(); b;) {
    if (b->runHead && t <= b->score) {
      const SampleBlock* met = b;
      const int metStart = blockStart + met->matchOffset;  // 0 but on a run's head
      for (const SampleBlock* run = b->runHead; b && b->runHead == run; b = b->next) blockStart += b->count;
      if (!met->inPrototype) {
        char line[80];
        std::snprintf(line, sizeof line, "%d %.3f %.2f\n", metStart, double(metStart) / rate, double(met->score));
        lines += line;
        ++matches;
      }
    } else {
      blockStart += b->count;
      b = b->next;
    }
  }
  std::printf("matches: %d\n%s", matches, lines.c_str());
  return 0;
}
