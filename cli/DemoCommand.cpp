// tintwave-cli demo: about 20 s of synthesised sound in which a chirp recurs four times among
// noise bursts and a sustained tone; the first chirp is the prototype of a sound search.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/SampleTrack.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "pipeline/SafeSave.h"

namespace {
constexpr int kRate = 44100;
constexpr double kSeconds = 20.0;
constexpr double kMotifSeconds = 0.4;
const double kMotifStarts[] = {1.0, 6.3, 11.05, 16.4};
// The editor's demo sound: the first three chirps.
constexpr double kSavedSeconds = 12.0;

void AddChirp(std::vector<float>& s, double start) {
  const int n = int(kMotifSeconds * kRate), first = int(start * kRate);
  double phase = 0;
  for (int i = 0; i < n && first + i < int(s.size()); ++i) {
    const double t = double(i) / n;
    phase += 2 * M_PI * (600 + 2400 * t) / kRate;
    const double envelope = std::sin(M_PI * t);
    s[first + i] += float(0.7 * envelope * std::sin(phase));
  }
}

std::vector<float> Synthesise() {
  std::vector<float> s(std::size_t(kSeconds * kRate));
  std::mt19937 rng(2026);
  std::normal_distribution<float> hiss(0.0f, 0.01f);
  for (float& x : s) x = hiss(rng);  // a faint room tone under everything
  std::uniform_real_distribution<float> burst(-0.5f, 0.5f);
  for (double b : {3.0, 3.8, 13.2, 18.6})  // noise bursts
    for (int i = int(b * kRate); i < int((b + 0.5) * kRate); ++i) s[i] += burst(rng);
  for (int i = int(8.0 * kRate); i < int(10.5 * kRate); ++i)  // a sustained tone
    s[i] += 0.4f * float(std::sin(2 * M_PI * 220.0 * i / kRate));
  for (double m : kMotifStarts) AddChirp(s, m);
  return s;
}

// The colour of a second: the blocks' colours averaged, each weighted by its samples.
void PrintSecondColours(const CAP_SampleTrack& track) {
  const SampleBlock* b = track.Head();
  int blockStart = 0;
  for (int second = 0; second * kRate < track.Length(); ++second) {
    double sum[3] = {0, 0, 0}, weight = 0;
    for (; b && blockStart < (second + 1) * kRate; blockStart += b->count, b = b->next) {
      for (int k = 0; k < 3; ++k) sum[k] += double((b->color >> (8 * k)) & 0xFF) * b->count;
      weight += b->count;
    }
    int rgb[3];
    for (int k = 0; k < 3; ++k) rgb[k] = weight > 0 ? int(sum[k] / weight + 0.5) : 0;
    std::printf("second %2d  #%02X%02X%02X\n", second, rgb[0], rgb[1], rgb[2]);
  }
}
}  // namespace

int RunDemo(int argc, char** argv) {
  static const char kUsage[] =
      "usage: tintwave-cli demo [--save FILE]\n"
      "  Synthesises 20 s in which a chirp recurs, searches for the first chirp and prints the\n"
      "  matches and the colour of every second; --save writes the editor's demo sound instead.\n";
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage);
  const std::vector<float> sound = Synthesise();
  if (argc == 3 && !std::strcmp(argv[1], "--save")) {
    CAP_SampleTrack saved(kRate);
    saved.InsertSamples(sound.data(), int(kSavedSeconds * kRate), 0);
    const std::string failure = SaveAudioSafely(saved, kSavedSeconds, SaveTarget{argv[2], 1, 1, kRate, 17}, nullptr);
    return failure.empty() ? 0 : ReportError(AboutFile(argv[2], failure));
  }
  if (argc != 1) return ReportMisuse("demo takes no arguments but --save FILE", kUsage);
  CAP_SampleTrack track(kRate);
  track.InsertSamples(sound.data(), int(sound.size()), 0);
  const int protoStart = int(kMotifStarts[0] * kRate), protoCount = int(kMotifSeconds * kRate);
  track.ComputeMatches(protoCount, protoStart, kMatchAnywherePhases);

  const int threshold = 70;
  std::printf("%.0f s at %d Hz, %d blocks; chirps at", kSeconds, kRate, track.BlockCount());
  for (double m : kMotifStarts) std::printf(" %.2f", m);
  std::printf(" s; the first is the prototype.\n\nmatch runs at threshold %d:\n", threshold);
  int start = 0;
  for (const SampleBlock* b = track.Head(); b; start += b->count, b = b->next)
    if (b->runHead == b && b->score >= threshold)
      std::printf("  %7.3f s  score %6.2f%s\n", double(start + b->matchOffset) / kRate, b->score,
                  b->inPrototype ? "  (the prototype)" : "");
  std::printf("CountMatches(%d) = %d\n\naverage colour of each second:\n", threshold,
              track.CountMatches(threshold));
  PrintSecondColours(track);
  return 0;
}
