// tintwave-cli edit IN OUT SCRIPT: opens IN as a document, runs the script's editor commands on
// it (and on any further documents the script opens) and saves the first document, IN as edited,
// as OUT with the editor's save: OUT is replaced only by a complete file, and only when the whole
// script ran.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/SaveDocument.h"
#include "cli/ScriptRunner.h"
#include "formats/FormatCodes.h"

namespace {

const std::string kUsage = std::string(
    "usage: tintwave-cli edit IN OUT SCRIPT [--type wave|aiff|au|flac|ogg|opus|mp3] [--rate R] [--channels C]\n"
    "                                [--encoding CODE] [--level L] [--quality Q] [--bitrate K] [--vbr V]\n"
    "  Saves the first document (IN as edited) as OUT, another file than IN. The type is --type, else\n"
    "  OUT's extension (.wav, .aiff, .au, .flac, .ogg, .opus, .mp3), else IN's; rate, channels and encoding are IN's\n"
    "  unless given (an encoding that cannot be written becomes 16-bit PCM).\n"
    "  CODE: 2 u-law, 3 A-law, 16 8-bit, 17 16-bit, 18 24-bit, 19 32-bit PCM, 20 32-bit float\n"
    "  FLAC: --encoding 17 or 18 (16 or 24-bit), --level 0..8 (5). Ogg Vorbis: --quality 0..10 (5).\n"
    "  Opus (always 48,000 Hz): --bitrate KBPS (96). MP3: --bitrate KBPS (192) or --vbr 0..9.\n") + kScriptHelp +
    kTimeSyntax;

}  // namespace

int RunEdit(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage.c_str());
  if (argc < 4) return ReportMisuse("edit takes an input file, an output file and a script", kUsage.c_str());
  const std::string input = argv[1], output = argv[2], scriptPath = argv[3];
  SaveChoices choices;
  for (int i = 4; i < argc; ++i) {
    int exitCode = 0;
    if (TakeSaveOption(argc, argv, &i, &choices, kUsage.c_str(), &exitCode)) {
      if (exitCode) return exitCode;
    } else {
      return ReportMisuse(std::string("unknown or incomplete option '") + argv[i] + "'", kUsage.c_str());
    }
  }

  if (const std::string same = SameFileError(input, output); !same.empty()) return ReportError(same);

  // The whole script is read first: a mistake in it costs no work and changes nothing.
  std::error_code directory;
  if (std::filesystem::is_directory(scriptPath, directory))
    return ReportError(scriptPath + ": Could not open script (" + std::strerror(EISDIR) + ")");
  std::ifstream script(scriptPath);
  if (!script) return ReportError(scriptPath + ": Could not open script (" + std::strerror(errno) + ")");
  std::vector<ScriptCommand> commands;
  std::string error;
  if (!ParseScript(script, &commands, &error)) return ReportError(scriptPath + ": " + error);

  ScriptRunner runner;
  if (!runner.Open(input, &error)) return ReportError(error);
  if (!runner.Run(commands, &error)) return ReportError(scriptPath + ": " + error);

  EditorDocument& document = runner.Document(0);
  int type = choices.type ? choices.type : SaveTypeFromExtension(output);
  if (!type) {
    // IN's own type, where it is written (MPEG only when asked for, as before MP3 was written).
    type = document.FileType();
    const bool own = type == FileFormatWave || type == FileFormatAiff || type == FileFormatAu ||
                     (IsCodecType(type) && type != FileFormatMpeg);
    if (!own) type = FileFormatWave;
  }
  ApplySaveChoices(document, choices, type);
  // The save's failure is reported here once, not also as the document's warning.
  runner.SetQuiet(true);
  bool interrupted = false;
  const std::string failure = SaveDocumentUnder(document, output, InterruptOnCtrlC(), &interrupted);
  if (!failure.empty()) return interrupted ? (ReportError(failure), 130) : ReportError(failure);
  return 0;
}
