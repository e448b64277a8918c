#pragma once
// The document as the user knows it, free of any window system: one controller over one audio
// file, the settings it is saved with, the modification count and title, the user's last
// choices in its dialogs, and the flows of New, Open, Save, Save As and closing with changes.
// The Qt document wraps it; the command-line tool drives it directly. Every way a document
// comes to be goes through Open or New here. UI thread only.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/AudioFileEditor.h"
#include "editor/EditJournal.h"
#include "editor/RecordingFile.h"
#include "editor/WebSearch.h"

class EditorFrame;
class GraphicsHost;
class ReplayPrompts;

// The layout of a headerless file, as the raw-file dialog gives it.
struct RawLayout {
  int channels = 1;
  int rate = 22050;
  int bits = 16;
  int compression = 17;
  bool bigEndian = false;
  bool isSigned = true;
};

inline constexpr int kOpenTypeByName = 255;
inline constexpr int kOpenTypeRaw = 9;

// The application's settings that a document reads when it is made.
struct DocumentOptions {
  int newChannels = 1;
  int newRate = 22050;
  double newSeconds = 30.0;
  bool correctDC = false;
  bool matchAnywhere = true;
  bool searchBySound = true;
  int undoLevels = 5;  // undo groups kept; 0: every one
  int openType = kOpenTypeByName;
  RawLayout raw;
  std::string searchUrl = kDefaultSearchUrl;
  WaveDeviceFactory devices;  // null: no sound devices
  BrowserLauncher browser;    // null: LaunchBrowser
  // Where the edit journals of modified documents go; empty: no journal.
  std::string recoveryDir;
  // The bytes free for samples (null: RoomForSamples); a file that needs more is refused.
  std::function<std::int64_t()> roomForSamples;
};

enum class SaveChangesAnswer { Yes, No, Cancel };

// What the Save As dialog is prepared with and gives back.
struct SaveAsRequest {
  std::string path;
  int fileType = 1;  // 1 WAVE, 2 AU, 3 AIFF
  int rate = 22050;
  int channels = 1;
  int compression = 17;
};

// The document's questions to the user. The Qt shell shows its dialogs; tests and scripts answer.
// A false return is Cancel. In: the values the dialog starts with.
class DocumentPrompts {
public:
  virtual ~DocumentPrompts() = default;
  virtual bool AskMixLevels(int* clipboardPercent, int* waveformPercent) = 0;
  virtual bool AskVolume(int* percent) = 0;
  virtual bool AskPitch(int* halftones) = 0;
  // The same told the range the document's rates allow ("-29 to +13 halftones at 44,100 Hz").
  virtual bool AskPitchWithin(int* halftones, int /*lowest*/, int /*highest*/, const std::string& /*rangeText*/) {
    return AskPitch(halftones);
  }
  // Change Pitch (halftones, decimals for cents) and Change Tempo (percent); cancelled unless
  // a shell answers.
  virtual bool AskChangePitch(double* /*halftones*/) { return false; }
  virtual bool AskChangeTempo(double* /*percent*/) { return false; }
  virtual bool AskSilence(double* seconds) = 0;
  // The record dialog: in the channels and rate, in/out the DC choice, out the measured offsets.
  virtual bool AskRecord(int channels, int rate, bool* correctDC, float* dcLeft, float* dcRight) = 0;
  virtual bool AskWebSearch(WebSearchChoices* choices) = 0;
  virtual SaveChangesAnswer AskSaveChanges(const std::string& name) = 0;
  virtual bool AskSaveAs(SaveAsRequest* request) = 0;
};

class EditorDocument {
public:
  // frame and prompts are borrowed and may be null (no panes; every question cancelled).
  EditorDocument(DocumentOptions options, EditorFrame* frame, DocumentPrompts* prompts);
  ~EditorDocument();
  EditorDocument(const EditorDocument&) = delete;
  EditorDocument& operator=(const EditorDocument&) = delete;

  // ---- coming to be: false with ErrorText (also shown as a warning) ----
  bool New(GraphicsHost* host, int width, int height);
  bool Open(const std::string& path, GraphicsHost* host, int width, int height,
            ProgressCallback progress = nullptr, std::intptr_t user = 0);
  // The same with the document shown at once while its audio loads, unless the file announces
  // less than fromSeconds (then it loads at once, as Open). ContinueLoading appends what has
  // been read, for about budget; a load that fails or that StopLoading ends reports as Open
  // would (ErrorText, a warning or pane 0) and the document is then to be closed. Until it is
  // Done, only viewing and playback are enabled.
  bool OpenWhileLoading(const std::string& path, GraphicsHost* host, int width, int height, double fromSeconds = 0,
                        ProgressCallback progress = nullptr, std::intptr_t user = 0);
  using LoadState = EP_AudioFileEditor::LoadState;
  LoadState ContinueLoading(std::chrono::microseconds budget);
  void StopLoading();
  bool Loading() const { return editor_ && editor_->Loading(); }

  // ---- saving ----
  bool Save();
  bool SaveAs();
  // With the document's settings; on success the document shows the saved file.
  bool SaveUnder(const std::string& path);
  // The Save As dialog's start values: encoding and the name with the type's extension.
  SaveAsRequest SaveAsProposal() const;
  // Asks about unsaved changes; true when the document may close.
  bool CanClose();

  // ---- the commands (true when the document changed) ----
  bool Cut();
  bool Copy();
  bool Paste();
  bool Mix();
  bool Delete();
  bool Trim();
  bool FadeIn();
  bool FadeOut();
  bool Normalize();
  bool Mute();
  bool Volume();
  bool Reverse();
  bool InsertSilence();
  bool ShiftPitch();
  bool ChangePitch();
  bool ChangeTempo();
  bool Undo();
  bool Redo();
  bool Record();

  // ---- recovery ----
  // Opens the journal's source (or makes its new document) and replays its commands through
  // the entry points above; the document comes back modified. False with ErrorText when the
  // source changed or a command did not replay (the document then holds what did).
  bool Recover(const JournalContents& journal, GraphicsHost* host, int width, int height,
               ProgressCallback progress = nullptr, std::intptr_t user = 0);
  // The journal of this document's unsaved changes; null while there is none.
  JournalWriter* Journal() const { return journal_.get(); }
  // Waits until the journal and the recording's file are on disk; false without a journal.
  bool FlushJournal();
  // The find message goes to status pane 0 and is returned.
  std::string FindNext();
  std::string FindPrevious();
  // Checks the region, asks for the choices, stores them and starts the browser.
  bool WebSearch();
  std::string SearchUrl() const;

  // ---- state ----
  AudioEditorApp* Editor() const { return editor_.get(); }
  const std::string& ErrorText() const { return errorText_; }
  std::string Title() const;
  // The file name the title starts with (after the last '/').
  std::string FileName() const;
  bool Modified() const { return modified_; }
  int ModificationCount() const { return modifications_; }
  // A recording whose input never started: the count and the flag go back.
  void TakeBackRecording(bool wasModified) {
    --modifications_;
    modified_ = wasModified;
  }
  const std::string& Path() const { return path_; }
  // Whether the document has a file of its own (false for a new document never saved).
  bool HasFile() const { return hasFile_; }
  int Channels() const { return channels_; }
  int Rate() const { return rate_; }
  int FileType() const { return fileType_; }
  int Compression() const { return compression_; }
  void SetSaveSettings(int fileType, int rate, int channels, int compression);
  const DocumentOptions& Options() const { return options_; }
  // Where saving (and the reopening after it) reports its progress; null for none.
  void SetProgress(ProgressCallback progress, std::intptr_t user) {
    progress_ = progress;
    progressUser_ = user;
  }
  // A new search service takes effect for the next search.
  void SetSearchUrl(const std::string& url) { options_.searchUrl = url; }
  void SetMatchAnywhere(bool on);
  void SetSearchBySound(bool on);
  void SetUndoLevels(int levels);
  WebSearchChoices& SearchChoices() { return search_; }
  int MixClipboardLevel() const { return mixClipboard_; }
  int MixWaveformLevel() const { return mixWaveform_; }
  bool RecordCorrectDC() const { return recordCorrectDC_; }

private:
  bool Fail(const std::string& text);
  bool FailAbout(const std::string& path, const std::string& text);
  void WarnIfShort();
  // Undo and Redo; one that reaches past a save that kept the history ends the journal.
  bool UndoOrRedo(bool undo);
  // Ends every edit command: the count moves by delta, the modified flag and the title follow.
  bool Changed(bool changed, int delta = 1);
  // Open's parts: the editor with the file's header read and its size accepted (null after
  // reporting why not); the report of a load that failed or was stopped; the document taking
  // the opened editor; what a complete load tells the user.
  std::unique_ptr<AudioEditorApp> OpenHeader(const std::string& path);
  bool FailToLoad(const std::string& path, const AudioEditorApp& editor);
  void TakeOpened(std::unique_ptr<AudioEditorApp> editor, const std::string& path);
  void ReportLoaded();
  void TakeSettingsFromDecoder();
  void Warn(const std::string& text);
  // Every journaled command goes through here: the selection it runs on is noted, the command
  // runs, and what changed the document (or, once journaling, the clipboard) is journaled.
  bool Run(JournalOp op, const std::function<bool()>& command, int delta = 1, std::int32_t value0 = 0,
           std::int32_t value1 = 0, double seconds = 0);
  JournalCommand NoteCommand(JournalOp op) const;
  // audio: the Audio record a Restore needs, written before it.
  void AppendToJournal(const JournalCommand& command, JournalPayload* audio = nullptr);
  // Journals an undo or redo as the audio of [start, start + length) that replaced `replaced`
  // samples; delta is the change to the modification count.
  void JournalRestore(int start, int length, int replaced, int delta);
  bool ReplayRestore(const JournalCommand& command);
  // Starts the journal if need be and the recovery file of the recording that just began, or,
  // with replayed, takes that file over for this document's journal.
  void JournalRecording(JournalCommand note, const JournalCommand* replayed);
  // Warns once and goes on without a journal when it failed; true when it did.
  bool DropFailedJournal(const std::string& text);
  void EndJournal();
  // Replays one journaled command with answers giving its dialog values.
  bool Replay(const JournalCommand& command, ReplayPrompts* answers);
  // The selection and cursor a command noted.
  void ShowNotedView(const JournalCommand& command);

  DocumentOptions options_;
  EditorFrame* frame_;
  DocumentPrompts* prompts_;
  std::unique_ptr<AudioEditorApp> editor_;
  std::string errorText_;
  std::string path_;
  bool hasFile_ = false;
  bool modified_ = false;
  int modifications_ = 0;
  int channels_ = 1;
  int rate_ = 22050;
  int fileType_ = 1;
  int compression_ = 17;
  WebSearchChoices search_;
  int mixClipboard_ = 50;
  int mixWaveform_ = 50;
  bool recordCorrectDC_ = false;
  double pitchChange_ = 0;  // the last values of Change Pitch and Change Tempo
  double tempoChange_ = 0;
  ProgressCallback progress_ = nullptr;
  std::intptr_t progressUser_ = 0;
  JournalSource source_;  // what the document was opened from, as the journal names it
  std::unique_ptr<JournalWriter> journal_;
  std::unique_ptr<RecordingFile> recording_;  // of the latest recording
  std::vector<std::string> recordingFiles_;    // of every recording the journal names
  std::uint64_t journaledClipboard_ = 0;  // the clipboard generation the journal can rebuild
  bool journalFailed_ = false;            // warned once; no journal for this document
  bool journalPastSave_ = false;          // no journal since an undo or redo went past the save
  bool restoresByAudio_ = false;          // undo and redo go into the journal as Restores
  const JournalClipboard* replayAudio_ = nullptr;  // a replay's last Audio record
};
