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
#include "devices/alsa/DefaultDevices.h"

namespace {

const char kUsage[] = "usage: tintwave-cli play FILE [--from S] [--to E]\n";

}  // namespace

int RunPlay(int argc, char** argv) {
  if (argc < 2) {
    return ReportMisuse("missing arguments", kUsage);
  }
  double from = 0, to = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    double* target = a == "--from" ? &from : a == "--to" ? &to : nullptr;
    if (!target || i + 1 >= argc || !ParseNumberArgument(argv[++i], 0, 1e7, target)) {
      return ReportMisuse("bad argument '" + a + "'", kUsage);
    }
  }
  // The document's own player, on the default sound devices.
  DocumentOptions options = CliDocumentOptions(false);
  options.devices = MakeDefaultWaveDevice;
  OpenFailure failure;
  const std::unique_ptr<OpenedDocument> opened = TryOpenDocument(argv[1], std::move(options), &failure);
  if (!opened) {
    return ReportError(failure.message + (failure.openErrno ? std::string(": ") + std::strerror(failure.openErrno) : ""));
  }
  const EP_SampleMixer& document = opened->Mixer();
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
