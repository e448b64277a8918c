// tintwave-cli levels: the input level monitor of the Record dialog on the command line. Records
// from the default input into a monitor and prints, for every second of audio, each channel's
// peak and hold in dB and its DC offset.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "devices/AudioMonitor.h"
#include "devices/alsa/DefaultDevices.h"

namespace {

const std::string kUsage =
    std::string("usage: tintwave-cli levels [--seconds TIME] [--rate R] [--channels C]\n") + kTimeSyntax;

double Decibels(double v) { return std::clamp(20.0 * std::log10(std::max(v, 1e-9)), -90.0, 0.0); }

// Keeps the largest level and the latest hold since the last line.
struct LineMeter : CAI_LevelMeter {
  void UpdateLevels(float level, float hold_, BlockColor) override {
    peak = std::max(peak, level);
    hold = hold_;
  }
  void InvalidateAll() override {}
  float peak = 0, hold = 0;
};

// Behind the monitor: each buffer reaches it right after the meters saw it, so the lines follow
// audio time, not wall time.
struct SecondPrinter : CAP_AudioContainer {
  int WriteFloat(const float*, int frames, int) override {
    total += frames;
    while (total >= (printed + 1) * sampleRate) PrintLine();
    return frames;
  }
  void PrintLine() {
    ++printed;
    std::printf("%lld:%02lld", printed / 60, printed % 60);
    for (int c = 0; c < channels; ++c) {
      std::printf("  %s peak %6.1f dB hold %6.1f dB dc %+.5f", channels == 1 ? "mono" : c ? "R" : "L",
                  Decibels(meters[c].peak), Decibels(meters[c].hold), double(monitor->DcOffset(c)));
      meters[c].peak = 0;
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  LineMeter* meters = nullptr;
  const CAP_AudioMonitor* monitor = nullptr;
  long long total = 0;
  long long printed = 0;
};

}  // namespace

int RunLevels(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage.c_str());
  double seconds = 0, rate = 44100, channels = 2;
  TimeValue length;
  bool haveLength = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      std::string error;
      if (!ParseTime(argv[++i], &length, &error)) return ReportMisuse("--seconds: " + error, kUsage.c_str());
      haveLength = true;
      continue;
    }
    double* target = arg == "--rate" ? &rate : arg == "--channels" ? &channels : nullptr;
    const double low = arg == "--rate" ? 8000 : arg == "--channels" ? 1 : 0.001;
    const double high = arg == "--rate" ? 96000 : arg == "--channels" ? 2 : 86400;
    if (!target || i + 1 >= argc || !ParseNumberArgument(argv[++i], low, high, target)) {
      return ReportMisuse("bad argument '" + std::string(argv[i]) + "'", kUsage.c_str());
    }
  }
  const int rateHz = int(rate), channelCount = int(channels);
  if (rateHz != rate || channelCount != channels) {
    return ReportMisuse("the rate and the channel count are whole numbers", kUsage.c_str());
  }
  if (haveLength) {
    seconds = length.Seconds(rateHz);
    if (!(seconds >= 0.001 && seconds <= 86400)) return ReportMisuse("--seconds: from 0.001 to 86400 seconds", kUsage.c_str());
  }

  LineMeter meters[2];
  CAP_AudioMonitor monitor(channelCount, rateHz, &meters[0], channelCount > 1 ? &meters[1] : nullptr);
  SecondPrinter printer;
  printer.channels = channelCount;
  printer.sampleRate = rateHz;
  printer.meters = meters;
  printer.monitor = &monitor;
  monitor.SetSink(&printer);
  auto player = MakeDefaultPlayer(nullptr, &monitor);
  const auto* interrupt = InterruptOnCtrlC();
  player->Record(0, seconds);  // 0: until Ctrl+C
  if (player->State() != kDeviceRecording) {
    return ReportError(player->ErrorText());
  }
  RunUntilIdle(*player, interrupt);
  if (player->ErrorText()[0]) {
    return ReportError(player->ErrorText());
  }
  return 0;
}
