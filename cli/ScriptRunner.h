#pragma once
// Edit scripts: one editor command a line, run through the documents exactly as the application
// runs its menu commands. The commands that ask a dialog get the script's values as the answers
// to the document's questions; a command the editor has disabled is reported and skipped.
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/OpenDocument.h"

enum class ScriptOp {
  Select, Cursor, SelectAll, Cut, Copy, Paste, Mix, Delete, Trim, FadeIn, FadeOut, Normalize, Mute, Reverse,
  Volume, InsertSilence, Pitch, ChangePitch, ChangeTempo, Undo, Redo, Threshold, FindNext, FindPrevious, WebUrl, Status, Open, Switch,
};

struct ScriptCommand {
  int line = 0;
  std::string name;
  ScriptOp op = ScriptOp::Status;
  double values[2] = {0, 0};  // the times in seconds once the command runs
  TimeValue times[2];         // select, cursor, insert-silence: as written
  std::string path;  // open
};

// The script's lines, for the usage text.
extern const char* const kScriptHelp;

// Reads the whole script. '#' starting a word begins a comment; blank lines are skipped. False
// with *error ("line N: ...") at the first unknown command or bad argument.
bool ParseScript(std::istream& in, std::vector<ScriptCommand>* commands, std::string* error);

class ScriptRunner {
public:
  ScriptRunner();
  ~ScriptRunner();
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  // Opens a document and makes it the active one. False with *error.
  bool Open(const std::string& path, std::string* error);
  // Runs the commands in order, printing what they show on standard output. False with *error
  // ("line N: ...") at the first that cannot run.
  bool Run(const std::vector<ScriptCommand>& commands, std::string* error);

  int DocumentCount() const { return int(documents_.size()); }
  EditorDocument& Document(int index) const;
  // The documents' warnings go to standard error unless quiet.
  void SetQuiet(bool quiet);

private:
  struct Entry;
  class Frame;
  class Prompts;
  bool Step(const ScriptCommand& command, std::string* error);

  bool quiet_ = false;
  std::unique_ptr<Prompts> prompts_;  // outlives the documents that ask it
  std::vector<std::unique_ptr<Entry>> documents_;  // the first is the one saved
  int active_ = -1;
};
