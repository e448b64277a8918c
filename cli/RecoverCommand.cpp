// tintwave-cli recover --list | recover JOURNAL OUT: the edit journals that crashed sessions left,
// and one of them replayed onto its source and saved.
#include <cstdio>
#include <ctime>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OpenDocument.h"
#include "cli/SaveDocument.h"
#include "editor/EditJournal.h"
#include "formats/FormatCodes.h"

namespace {

const char* const kUsage =
    "usage: tintwave-cli recover --list [--dir DIR]\n"
    "       tintwave-cli recover JOURNAL OUT [--type wave|aiff|au] [--rate R] [--channels C] [--encoding CODE]\n"
    "  --list: the journals of documents whose program ended without saving them: the journal, the\n"
    "  document, the number of edits, the time of the last, and whether the source has changed.\n"
    "  JOURNAL OUT: the document as it was, its source opened and its edits replayed, saved as OUT;\n"
    "  the journal is then removed. DIR: the journals' folder ($XDG_STATE_HOME/tintwave/recovery).\n";

std::string LocalTime(std::int64_t ms) {
  const std::time_t seconds = std::time_t(ms / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string DocumentName(const JournalSource& source) {
  return source.isFile ? source.path : "(a new document)";
}

int List(const std::string& dir) {
  for (const OrphanJournal& orphan : FindOrphanJournals(dir)) {
    const JournalContents& j = orphan.summary;
    std::printf("%s\t%s\t%d edit%s\t%s%s\n", orphan.path.c_str(), DocumentName(j.source).c_str(), j.commandCount,
                j.commandCount == 1 ? "" : "s", LocalTime(j.lastCommandMs).c_str(),
                orphan.sourceChanged ? ("\tchanged: " + orphan.sourceWhy).c_str() : "");
  }
  return 0;
}

}  // namespace

int RunRecover(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage);
  if (argc >= 2 && std::string(argv[1]) == "--list") {
    std::string dir = DefaultRecoveryDir();
    if (argc == 4 && std::string(argv[2]) == "--dir") dir = argv[3];
    else if (argc != 2) return ReportMisuse("recover --list takes only --dir DIR", kUsage);
    return List(dir);
  }
  if (argc < 3) return ReportMisuse("recover takes a journal and an output file, or --list", kUsage);
  const std::string journalPath = argv[1], output = argv[2];
  SaveChoices choices;
  for (int i = 3; i < argc; ++i) {
    int exitCode = 0;
    if (!TakeSaveOption(argc, argv, &i, &choices, kUsage, &exitCode))
      return ReportMisuse(std::string("unknown or incomplete option '") + argv[i] + "'", kUsage);
    if (exitCode) return exitCode;
  }
  OrphanJournal orphan;
  std::string error;
  if (!TakeOrphanJournal(journalPath, &orphan, &error)) return ReportError(journalPath + ": " + error);
  JournalContents journal;
  if (!ReadJournal(orphan.fd, &journal, &error)) return ReportError(journalPath + ": " + error);
  if (journal.source.isFile) {
    if (const std::string same = SameFileError(journal.source.path, output); !same.empty()) return ReportError(same);
  }
  EditorDocument document(CliDocumentOptions(false), nullptr, nullptr);
  if (!document.Recover(journal, nullptr, kCliViewWidth, kCliViewHeight))
    return ReportError(journalPath + ": " + document.ErrorText());
  int type = choices.type ? choices.type : SaveTypeFromExtension(output);
  if (!type) type = document.FileType();
  if (type != FileFormatWave && type != FileFormatAiff && type != FileFormatAu) type = FileFormatWave;
  ApplySaveChoices(document, choices, type);
  bool interrupted = false;
  const std::string failure = SaveDocumentUnder(document, output, InterruptOnCtrlC(), &interrupted);
  if (!failure.empty()) return interrupted ? (ReportError(failure), 130) : ReportError(failure);
  std::printf("%d edit%s recovered into %s\n", journal.commandCount, journal.commandCount == 1 ? "" : "s",
              output.c_str());
  orphan.Remove();
  return 0;
}
