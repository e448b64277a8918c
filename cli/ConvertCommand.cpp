// tintwave-cli convert IN OUT: opens IN as the editor does and saves it with the editor's save,
// through a temporary file that replaces OUT only when it is complete. Ctrl+C leaves OUT as it
// was.
#include <cstdio>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OpenDocument.h"
#include "cli/Progress.h"
#include "cli/SaveDocument.h"

namespace {

constexpr const char* kUsage =
    "usage: tintwave-cli convert IN OUT [--type wave|aiff|au|flac|ogg|opus|mp3] [--rate R] [--channels C]\n"
    "                            [--encoding CODE] [--level L] [--quality Q] [--bitrate K] [--vbr V]\n"
    "                            [--correct-dc]\n"
    "  OUT must be another file than IN.\n"
    "  CODE: 2 u-law, 3 A-law, 16 8-bit, 17 16-bit, 18 24-bit, 19 32-bit PCM, 20 32-bit float\n"
    "  FLAC: --encoding 17 or 18 (16 or 24-bit), --level 0..8 (5). Ogg Vorbis: --quality 0..10 (5).\n"
    "  Opus (always 48,000 Hz): --bitrate KBPS (96). MP3: --bitrate KBPS (192) or --vbr 0..9.\n";

}  // namespace

int RunConvert(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage);
  if (argc < 3) return ReportMisuse("convert takes an input and an output file", kUsage);
  const std::string input = argv[1], output = argv[2];
  SaveChoices choices;
  bool correctDC = false;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    int exitCode = 0;
    if (option == "--correct-dc") {
      correctDC = true;
    } else if (TakeSaveOption(argc, argv, &i, &choices, kUsage, &exitCode)) {
      if (exitCode) return exitCode;
    } else {
      return ReportMisuse("unknown or incomplete option '" + option + "'", kUsage);
    }
  }
  const int type = choices.type ? choices.type : SaveTypeFromExtension(output);
  if (!type) return ReportMisuse("cannot tell the file type from '" + output + "'; give --type", kUsage);
  if (const std::string same = SameFileError(input, output); !same.empty()) return ReportError(same);

  const auto* interrupt = InterruptOnCtrlC();
  ConsoleProgress loading(interrupt);
  OpenFailure failure;
  const auto document = TryOpenDocument(input, CliDocumentOptions(correctDC), &failure, nullptr, nullptr, &loading);
  if (!document) return failure.cancelled ? (ReportError(input + ": interrupted"), 130) : ReportError(failure.Text(input));
  EditorDocument& doc = document->Document();
  ApplySaveChoices(doc, choices, type);
  bool interrupted = false;
  const std::string error = SaveDocumentUnder(doc, output, interrupt, &interrupted);
  if (!error.empty()) return interrupted ? (ReportError(error), 130) : ReportError(error);
  return 0;
}
