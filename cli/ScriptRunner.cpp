#include "cli/ScriptRunner.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/Progress.h"
#include "editor/CommandCode.h"
#include "editor/EditorFrame.h"

namespace {

// How a command's arguments are read; the text says what it takes.
enum class Args { None, Time, TwoTimes, MixLevels, Volume, Seconds, Halftones, Threshold, Path, Index, PitchChange,
                  TempoChange };

struct Verb {
  const char* name;
  ScriptOp op;
  Args args;
  int code;  // the CommandCode that must be enabled; -1 for none
};

constexpr int kAlways = -1;

const Verb kVerbs[] = {
    {"select", ScriptOp::Select, Args::TwoTimes, kAlways},
    {"cursor", ScriptOp::Cursor, Args::Time, kAlways},
    {"select-all", ScriptOp::SelectAll, Args::None, kAlways},
    {"cut", ScriptOp::Cut, Args::None, CommandCut},
    {"copy", ScriptOp::Copy, Args::None, CommandCopy},
    {"paste", ScriptOp::Paste, Args::None, CommandPaste},
    {"mix", ScriptOp::Mix, Args::MixLevels, CommandMix},
    {"delete", ScriptOp::Delete, Args::None, CommandDelete},
    {"trim", ScriptOp::Trim, Args::None, CommandTrim},
    {"fade-in", ScriptOp::FadeIn, Args::None, CommandFade},
    {"fade-out", ScriptOp::FadeOut, Args::None, CommandFade},
    {"normalize", ScriptOp::Normalize, Args::None, CommandNormalize},
    {"mute", ScriptOp::Mute, Args::None, CommandMuteVolume},
    {"reverse", ScriptOp::Reverse, Args::None, CommandReverse},
    {"volume", ScriptOp::Volume, Args::Volume, CommandMuteVolume},
    {"insert-silence", ScriptOp::InsertSilence, Args::Seconds, CommandInsertSilence},
    {"pitch", ScriptOp::Pitch, Args::Halftones, kAlways},
    {"change-pitch", ScriptOp::ChangePitch, Args::PitchChange, CommandStretch},
    {"change-tempo", ScriptOp::ChangeTempo, Args::TempoChange, CommandStretch},
    {"undo", ScriptOp::Undo, Args::None, CommandUndo},
    {"redo", ScriptOp::Redo, Args::None, CommandRedo},
    {"threshold", ScriptOp::Threshold, Args::Threshold, kAlways},
    {"find-next", ScriptOp::FindNext, Args::None, CommandFindNext},
    {"find-previous", ScriptOp::FindPrevious, Args::None, CommandFindPrevious},
    {"web-url", ScriptOp::WebUrl, Args::None, CommandWebSearch},
    {"status", ScriptOp::Status, Args::None, kAlways},
    {"open", ScriptOp::Open, Args::Path, kAlways},
    {"switch", ScriptOp::Switch, Args::Index, kAlways},
};

const char* Expects(Args args) {
  switch (args) {
    case Args::None: return "no arguments";
    case Args::Time: return "a time (1.5, 0:01.500 or 66150s)";
    case Args::TwoTimes: return "two times (1.5, 0:01.500 or 66150s)";
    case Args::MixLevels: return "two levels from 0 to 100 (clipboard %, waveform %)";
    case Args::Volume: return "a percentage from 0 to 200";
    case Args::Seconds: return "a length from 0.0001 to 3600 seconds (1.5, 0:01.500 or 66150s)";
    case Args::Halftones: return "whole halftones from -48 to 48";
    case Args::Threshold: return "a threshold from 0 to 100";
    case Args::Path: return "a file";
    case Args::Index: return "a document number from 1";
    case Args::PitchChange: return "halftones from -36 to 36 (decimals are cents)";
    case Args::TempoChange: return "a tempo change from -90 to 900 percent (+100: twice as fast)";
  }
  return "";
}

// The values of a command's words; false when they are not what it takes.
bool ReadArguments(Args args, const std::vector<std::string>& words, ScriptCommand* command) {
  double* v = command->values;
  auto integer = [](const std::string& w, int low, int high, double* out) {
    int value = 0;
    if (!ParseInteger(w.c_str(), low, high, &value)) return false;
    *out = value;
    return true;
  };
  auto time = [&](const std::string& w, int i) {
    std::string ignored;
    return ParseTime(w.c_str(), &command->times[i], &ignored);
  };
  auto number = [](const std::string& w, double low, double high, double* out) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(w.c_str(), &end);
    if (w.empty() || *end != '\0' || errno != 0 || !(value >= low && value <= high)) return false;
    *out = value;
    return true;
  };
  const std::size_t n = words.size();
  switch (args) {
    case Args::None: return n == 0;
    case Args::Time: return n == 1 && time(words[0], 0);
    case Args::TwoTimes: return n == 2 && time(words[0], 0) && time(words[1], 1);
    case Args::MixLevels: return n == 2 && integer(words[0], 0, 100, &v[0]) && integer(words[1], 0, 100, &v[1]);
    case Args::Volume: return n == 1 && integer(words[0], 0, 200, &v[0]);
    case Args::Seconds:
      // A count of samples is checked against the document's rate when the command runs.
      return n == 1 && time(words[0], 0) &&
             (command->times[0].isSamples ? command->times[0].samples > 0
                                          : command->times[0].seconds >= 0.0001 && command->times[0].seconds <= 3600);
    case Args::Halftones: return n == 1 && integer(words[0], -48, 48, &v[0]);
    case Args::Threshold: return n == 1 && integer(words[0], 0, 100, &v[0]);
    case Args::Index: return n == 1 && integer(words[0], 1, INT32_MAX, &v[0]);
    case Args::PitchChange:
      return n == 1 && number(words[0], -EP_AudioFileEditor::kMaxPitchChange, EP_AudioFileEditor::kMaxPitchChange, &v[0]);
    case Args::TempoChange:
      return n == 1 &&
             number(words[0], EP_AudioFileEditor::kMinTempoChange, EP_AudioFileEditor::kMaxTempoChange, &v[0]);
    case Args::Path: return false;  // read from the rest of the line
  }
  return false;
}

std::string LinePrefix(int line) { return "line " + std::to_string(line) + ": "; }

std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

const char* const kScriptHelp =
    "script, one command a line ('#' begins a comment; times and lengths as TIME below):\n"
    "  select A B | cursor T | select-all | cut | copy | paste | mix CLIP% WAVE% | delete | trim\n"
    "  fade-in | fade-out | normalize | mute | reverse | volume P | insert-silence S | pitch H\n"
    "  change-pitch H (halftones, the length kept) | change-tempo P (percent, the pitch kept)\n"
    "  undo | redo | threshold T | find-next | find-previous | web-url | status\n"
    "  open PATH (a second document, made active) | switch N (document N active, IN is 1)\n";

bool ParseScript(std::istream& in, std::vector<ScriptCommand>* commands, std::string* error) {
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    // A '#' at the start of a word begins a comment.
    for (std::size_t at = 0; (at = text.find('#', at)) != std::string::npos; ++at)
      if (at == 0 || std::isspace(static_cast<unsigned char>(text[at - 1]))) {
        text.erase(at);
        break;
      }
    std::istringstream words(text);
    std::string name;
    if (!(words >> name)) continue;
    const Verb* verb = nullptr;
    for (const Verb& v : kVerbs)
      if (name == v.name) verb = &v;
    if (!verb) {
      *error = LinePrefix(line) + "unknown command '" + name + "'";
      return false;
    }
    ScriptCommand command;
    command.line = line;
    command.name = name;
    command.op = verb->op;
    bool ok;
    if (verb->args == Args::Path) {
      std::string rest;
      std::getline(words >> std::ws, rest);
      while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) rest.pop_back();
      command.path = rest;
      ok = !rest.empty();
    } else {
      std::vector<std::string> arguments;
      for (std::string w; words >> w;) arguments.push_back(w);
      ok = ReadArguments(verb->args, arguments, &command);
    }
    if (!ok) {
      *error = LinePrefix(line) + name + " takes " + Expects(verb->args);
      return false;
    }
    commands->push_back(std::move(command));
  }
  if (in.bad()) {
    *error = "the script could not be read";
    return false;
  }
  return true;
}

// ---- the documents' surroundings ----

// The status bar and message boxes of one document.
class ScriptRunner::Frame : public EditorFrame {
public:
  explicit Frame(const bool* quiet) : quiet_(quiet) {}
  void SetPaneText(int pane, const std::string& text) override {
    if (pane >= 0 && pane < kStatusPanes) panes[pane] = text;
  }
  void SetThresholdCount(int) override {}
  void ShowWarning(const std::string& text) override {
    if (!*quiet_) std::fprintf(stderr, "warning: %s\n", OneLine(text).c_str());
  }
  std::string panes[kStatusPanes];

private:
  const bool* quiet_;
};

// The dialogs: the values of the command being run, or Cancel when none is waiting.
class ScriptRunner::Prompts : public DocumentPrompts {
public:
  std::optional<int> clipboard, waveform, volume, halftones;
  std::optional<double> seconds, pitchChange, tempoChange;

  bool AskMixLevels(int* clipboardPercent, int* waveformPercent) override {
    return Take(clipboard, clipboardPercent) && Take(waveform, waveformPercent);
  }
  bool AskVolume(int* percent) override { return Take(volume, percent); }
  bool AskPitch(int* value) override { return Take(halftones, value); }
  bool AskSilence(double* value) override { return Take(seconds, value); }
  bool AskChangePitch(double* value) override { return Take(pitchChange, value); }
  bool AskChangeTempo(double* value) override { return Take(tempoChange, value); }
  bool AskRecord(int, int, bool*, float*, float*) override { return false; }
  // The default choices of the search dialog.
  bool AskWebSearch(WebSearchChoices*) override { return true; }
  SaveChangesAnswer AskSaveChanges(const std::string&) override { return SaveChangesAnswer::No; }
  bool AskSaveAs(SaveAsRequest*) override { return false; }

  void Clear() {
    clipboard.reset();
    waveform.reset();
    volume.reset();
    halftones.reset();
    seconds.reset();
    pitchChange.reset();
    tempoChange.reset();
  }

private:
  template <typename T>
  static bool Take(std::optional<T>& pending, T* answer) {
    if (!pending) return false;
    *answer = *pending;
    pending.reset();
    return true;
  }
};

struct ScriptRunner::Entry {
  std::unique_ptr<Frame> frame;  // outlives the document that points to it
  std::unique_ptr<OpenedDocument> document;
};

ScriptRunner::ScriptRunner() : prompts_(std::make_unique<Prompts>()) {}
ScriptRunner::~ScriptRunner() = default;

EditorDocument& ScriptRunner::Document(int index) const { return documents_[std::size_t(index)]->document->Document(); }

void ScriptRunner::SetQuiet(bool quiet) { quiet_ = quiet; }

bool ScriptRunner::Open(const std::string& path, std::string* error) {
  auto entry = std::make_unique<Entry>();
  entry->frame = std::make_unique<Frame>(&quiet_);
  OpenFailure failure;
  // A failure is reported once, as the error, not also as the document's warning.
  const bool quiet = quiet_;
  quiet_ = true;
  ConsoleProgress loading;
  entry->document =
      TryOpenDocument(path, CliDocumentOptions(false), &failure, entry->frame.get(), prompts_.get(), &loading);
  quiet_ = quiet;
  if (!entry->document) {
    *error = OneLine(failure.Text(path));
    return false;
  }
  if (!quiet_) PrintFitNotice(path, entry->document->Editor().Decoder());
  if (active_ >= 0) documents_[std::size_t(active_)]->document->Editor().OnActivate(false);
  documents_.push_back(std::move(entry));
  active_ = int(documents_.size()) - 1;
  documents_.back()->document->Editor().OnActivate(true);
  return true;
}

bool ScriptRunner::Run(const std::vector<ScriptCommand>& commands, std::string* error) {
  for (const ScriptCommand& command : commands) {
    if (!Step(command, error)) {
      *error = LinePrefix(command.line) + *error;
      return false;
    }
    std::fflush(stdout);
  }
  return true;
}

bool ScriptRunner::Step(const ScriptCommand& written, std::string* error) {
  // The times as seconds at the active document's rate.
  ScriptCommand c = written;
  {
    const int rate = documents_[std::size_t(active_)]->document->Editor().Mixer()->sampleRate;
    if (c.op == ScriptOp::Select || c.op == ScriptOp::Cursor || c.op == ScriptOp::InsertSilence)
      for (int i = 0; i < 2; ++i) c.values[i] = c.times[i].Seconds(rate);
    if (c.op == ScriptOp::InsertSilence && !(c.values[0] >= 0.0001 && c.values[0] <= 3600)) {
      *error = c.name + " takes " + Expects(Args::Seconds);
      return false;
    }
  }
  Entry& entry = *documents_[std::size_t(active_)];
  EditorDocument& doc = entry.document->Document();
  AudioEditorApp& editor = entry.document->Editor();
  int code = kAlways;
  for (const Verb& v : kVerbs)
    if (v.op == c.op) code = v.code;
  if (code != kAlways && !editor.IsCommandEnabled(code)) {
    std::printf("disabled: %s\n", c.name.c_str());
    return true;
  }
  // Times must lie within the document, as a mouse selection does.
  const double duration = editor.Duration();
  for (int i = 0; i < (c.op == ScriptOp::Select ? 2 : c.op == ScriptOp::Cursor ? 1 : 0); ++i)
    if (c.values[i] > duration + 1e-9) {
      char text[160];
      std::snprintf(text, sizeof text, "%g s lies beyond the end of the document (%s)", c.values[i],
                    ConsoleTimeText(duration).c_str());
      *error = text;
      return false;
    }

  const std::string docError = doc.ErrorText(), editorError = editor.ErrorText();
  prompts_->Clear();
  bool changed = true;  // false: the command may have failed
  switch (c.op) {
    case ScriptOp::Select: editor.Select(c.values[0], c.values[1]); break;
    case ScriptOp::Cursor: editor.SetCursor(c.values[0]); break;
    case ScriptOp::SelectAll: editor.SelectAll(); break;
    case ScriptOp::Cut: changed = doc.Cut(); break;
    case ScriptOp::Copy: doc.Copy(); break;
    case ScriptOp::Paste: changed = doc.Paste(); break;
    case ScriptOp::Mix:
      prompts_->clipboard = int(c.values[0]);
      prompts_->waveform = int(c.values[1]);
      changed = doc.Mix();
      break;
    case ScriptOp::Delete: changed = doc.Delete(); break;
    case ScriptOp::Trim: changed = doc.Trim(); break;
    case ScriptOp::FadeIn: changed = doc.FadeIn(); break;
    case ScriptOp::FadeOut: changed = doc.FadeOut(); break;
    case ScriptOp::Normalize: changed = doc.Normalize(); break;
    case ScriptOp::Mute: changed = doc.Mute(); break;
    case ScriptOp::Reverse: changed = doc.Reverse(); break;
    case ScriptOp::Volume:
      prompts_->volume = int(c.values[0]);
      changed = doc.Volume();
      break;
    case ScriptOp::InsertSilence: {
      // No document grows beyond what a frame position can address.
      const double added = std::floor(editor.Mixer()->sampleRate * c.values[0]);
      if (double(editor.DisplayTrack()->Length()) + added > double(INT32_MAX)) {
        *error = "the silence would make the document too long";
        return false;
      }
      prompts_->seconds = c.values[0];
      changed = doc.InsertSilence();
      break;
    }
    case ScriptOp::Pitch:
      prompts_->halftones = int(c.values[0]);
      changed = doc.ShiftPitch();
      break;
    case ScriptOp::ChangePitch:
      prompts_->pitchChange = c.values[0];
      changed = doc.ChangePitch();
      break;
    case ScriptOp::ChangeTempo:
      prompts_->tempoChange = c.values[0];
      changed = doc.ChangeTempo();
      break;
    case ScriptOp::Undo: changed = doc.Undo(); break;
    case ScriptOp::Redo: changed = doc.Redo(); break;
    case ScriptOp::Threshold: editor.SetMatchThreshold(int(c.values[0])); break;
    case ScriptOp::FindNext: std::printf("%s\n", doc.FindNext().c_str()); break;
    case ScriptOp::FindPrevious: std::printf("%s\n", doc.FindPrevious().c_str()); break;
    case ScriptOp::WebUrl:
      // As the web search: a region longer than the service takes is refused with a warning.
      if (editor.CheckWebRegion()) std::printf("%s\n", doc.SearchUrl().c_str());
      break;
    case ScriptOp::Status:
      for (int pane = 0; pane < kStatusPanes; ++pane)
        std::printf("pane %d: %s\n", pane, (pane == 0 ? entry.frame->panes[0] : editor.PaneText(pane)).c_str());
      break;
    case ScriptOp::Open: return Open(c.path, error);
    case ScriptOp::Switch: {
      const int index = int(c.values[0]);
      if (index > DocumentCount()) {
        *error = "there is no document " + std::to_string(index) + " (" + std::to_string(DocumentCount()) + " open)";
        return false;
      }
      editor.OnActivate(false);
      active_ = index - 1;
      documents_[std::size_t(active_)]->document->Editor().OnActivate(true);
      break;
    }
  }
  // An edit that could not be made (memory ran out) leaves its text; the document is as it was.
  if (!changed) {
    const std::string& now = !doc.ErrorText().empty() ? doc.ErrorText() : editor.ErrorText();
    if (!now.empty() && (doc.ErrorText() != docError || editor.ErrorText() != editorError)) {
      *error = c.name + ": " + OneLine(now);
      return false;
    }
  }
  return true;
}
