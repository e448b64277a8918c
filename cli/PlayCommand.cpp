// tintwave-cli play FILE [--from S] [--to E]: plays a file through the default sound output and
// shows the moving position on one line until the end or Ctrl+C.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OpenDocument.h"
#include "cli/Progress.h"
#include "devices/alsa/DefaultDevices.h"

namespace {

const std::string kUsage = std::string("usage: tintwave-cli play FILE [--from TIME] [--to TIME]\n") + kTimeSyntax;

}  // namespace

int RunPlay(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage.c_str());
  if (argc < 2) {
    return ReportMisuse("missing arguments", kUsage.c_str());
  }
  TimeValue fromTime, toTime;
  bool haveTo = false;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    TimeValue* target = a == "--from" ? &fromTime : a == "--to" ? &toTime : nullptr;
    if (!target || i + 1 >= argc) return ReportMisuse("bad argument '" + a + "'", kUsage.c_str());
    std::string error;
    if (!ParseTime(argv[++i], target, &error)) return ReportMisuse(a + ": " + error, kUsage.c_str());
    if (target == &toTime) haveTo = true;
  }
  // The document's own player, on the default sound devices.
  DocumentOptions options = CliDocumentOptions(false);
  options.devices = MakeDefaultWaveDevice;
  OpenFailure failure;
  ConsoleProgress loading;
  const std::unique_ptr<OpenedDocument> opened =
      TryOpenDocument(argv[1], std::move(options), &failure, nullptr, nullptr, &loading);
  if (!opened) {
    return ReportError(failure.Text(argv[1]));
  }
  const EP_SampleMixer& document = opened->Mixer();
  const double from = fromTime.Seconds(document.sampleRate), to = haveTo ? toTime.Seconds(document.sampleRate) : 0;
  const double end = to > 0 ? std::min(to, document.duration) : document.duration;
  if (from >= end) {
    return ReportError("nothing to play between " + ConsoleTimeText(from) + " and " + ConsoleTimeText(end));
  }

  CAI_AudioPlayer* player = opened->Editor().Player();
  const auto* interrupt = InterruptOnCtrlC();
  player->Play(from, end);
  if (player->State() != kDevicePlaying) {
    return ReportError(player->ErrorText());
  }
  const std::string total = ConsoleTimeText(end);
  std::string shown;
  RunUntilIdle(*player, interrupt, [&] {
    const std::string line = ConsoleTimeText(player->GetPositionSeconds()) + " / " + total;
    if (line != shown) std::printf("\r%s", line.c_str());
    std::fflush(stdout);
    shown = line;
  });
  if (!*interrupt && !player->ErrorText()[0] && shown != total + " / " + total)
    std::printf("\r%s / %s", total.c_str(), total.c_str());  // the last sample's position reads a hair short
  std::printf("\n");
  if (player->ErrorText()[0]) {
    return ReportError(player->ErrorText());
  }
  return 0;
}
