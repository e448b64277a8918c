// tintwave-cli convert IN OUT: opens IN as the editor does and saves it with the editor's save,
// through a temporary file that replaces OUT only when it is complete.
#include <cstdio>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/OpenDocument.h"
#include "cli/SaveDocument.h"

namespace {

constexpr const char* kUsage =
    "usage: tintwave-cli convert IN OUT [--type wave|aiff|au] [--rate R] [--channels C]\n"
    "                            [--encoding CODE] [--correct-dc]\n"
    "  CODE: 2 u-law, 3 A-law, 16 8-bit, 17 16-bit, 18 24-bit, 19 32-bit PCM, 20 32-bit float\n";

}  // namespace

int RunConvert(int argc, char** argv) {
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

  const auto document = OpenDocument(input, correctDC);
  if (!document) return 1;
  EditorDocument& doc = document->Document();
  ApplySaveChoices(doc, choices, type);
  if (!doc.SaveUnder(output)) return ReportError(doc.ErrorText());
  return 0;
}
