#include "editor/Document.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "analysis/SampleTrack.h"
#include "editor/CommandCode.h"
#include "editor/EditHistory.h"
#include "editor/EditorFrame.h"
#include "editor/RoomToOpen.h"
#include "formats/FormatCodes.h"
#include "graphics/FormatTime.h"
#include "formats/Wave.h"
#include "pipeline/AudioDecoder.h"

namespace {
constexpr const char* kUntitledName = "Untitled.wav";

const char* ExtensionForType(int fileType) {
  switch (fileType) {
    case FileFormatAu: return ".au";
    case FileFormatAiff: return ".aiff";
    case FileFormatFlac: return ".flac";
    case FileFormatOggVorbis: return ".ogg";
    case FileFormatOpus: return ".opus";
    case FileFormatMpeg: return ".mp3";
    default: return ".wav";
  }
}

// MPEG documents are saved as another type unless the user chooses MP3 again, as before MP3 was
// written; FLAC, Ogg Vorbis and Opus documents save in their own type.
bool SavableType(int fileType) {
  return fileType == FileFormatWave || fileType == FileFormatAu || fileType == FileFormatAiff ||
         (IsCodecType(fileType) && fileType != FileFormatMpeg);
}

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}
}  // namespace

EditorDocument::EditorDocument(DocumentOptions options, EditorFrame* frame, DocumentPrompts* prompts)
    : options_(std::move(options)), frame_(frame), prompts_(prompts) {}

EditorDocument::~EditorDocument() { EndJournal(); }

bool EditorDocument::Fail(const std::string& text) {
  errorText_ = text;
  Warn(text);
  return false;
}

// The text stays the editor's own (the command-line tool adds the path itself); the message
// box names the file, so that with several files opening or saving the user knows which one.
bool EditorDocument::FailAbout(const std::string& path, const std::string& text) {
  errorText_ = text;
  const std::size_t slash = path.rfind('/');
  Warn((slash == std::string::npos ? path : path.substr(slash + 1)) + ": " + text);
  return false;
}

void EditorDocument::WarnIfShort() {
  // A WAVE file cut short opens with what it holds; the header says how much there was to be.
  const auto* wave = dynamic_cast<const WaveRead*>(editor_->Decoder() ? editor_->Decoder()->Reader() : nullptr);
  if (!wave || wave->DataLength() <= 0 || wave->DeclaredDataLength() <= wave->DataLength()) return;
  const double held = editor_->Duration();
  const double declared = held * double(wave->DeclaredDataLength()) / double(wave->DataLength());
  if (FormatTime(held, 3, true, false) == FormatTime(declared, 3, true, false)) return;  // a byte or two
  Warn(FileName() + " ends at " + FormatTime(held, 3, true, false) + " of the " + FormatTime(declared, 3, true, false) +
       " its header gives");
}

void EditorDocument::Warn(const std::string& text) {
  if (frame_) frame_->ShowWarning(text);
}

bool EditorDocument::New(GraphicsHost* host, int width, int height) {
  errorText_.clear();
  auto editor = std::make_unique<AudioEditorApp>(frame_);
  editor->SetDeviceFactory(options_.devices);
  editor->SetBrowserLauncher(options_.browser);
  editor->SetMatchAnywhere(options_.matchAnywhere);
  editor->SetSearchBySound(options_.searchBySound);
  editor->SetUndoLevels(options_.undoLevels);
  if (!editor->CreateEmpty(options_.newChannels, options_.newRate, options_.newSeconds) ||
      !editor->AttachViews(host, width, height, options_.correctDC, 1.0))
    return Fail(editor->ErrorText());
  editor_ = std::move(editor);
  channels_ = options_.newChannels;
  rate_ = options_.newRate;
  fileType_ = FileFormatWave;
  compression_ = CompressionPcm16;
  path_ = kUntitledName;
  hasFile_ = false;
  modifications_ = 0;
  modified_ = false;
  EndJournal();
  source_ = JournalSource();
  source_.newChannels = options_.newChannels;
  source_.newRate = options_.newRate;
  source_.newSeconds = options_.newSeconds;
  source_.correctDC = options_.correctDC;
  return true;
}

std::unique_ptr<AudioEditorApp> EditorDocument::OpenHeader(const std::string& path) {
  errorText_.clear();
  auto editor = std::make_unique<AudioEditorApp>(frame_);
  editor->SetDeviceFactory(options_.devices);
  editor->SetBrowserLauncher(options_.browser);
  editor->SetMatchAnywhere(options_.matchAnywhere);
  editor->SetSearchBySound(options_.searchBySound);
  editor->SetUndoLevels(options_.undoLevels);
  const RawLayout& raw = options_.raw;
  const bool opened = options_.openType == kOpenTypeRaw
                          ? editor->OpenRawFile(path, raw.channels, raw.rate, raw.bits, raw.compression,
                                                raw.bigEndian, raw.isSigned)
                          : editor->OpenFile(path);
  if (!opened) return FailAbout(path, editor->ErrorText()), nullptr;
  const CAP_AudioDecoder* decoder = editor->Decoder();
  // The rate message replaces the channel message when both apply.
  std::string refusal;
  if (decoder->channels > 2) refusal = std::to_string(decoder->channels) + " channel audio is not supported";
  if (decoder->sampleRate > CAP_AudioDecoder::kMaxRate)
    refusal = std::to_string(decoder->sampleRate) + " sample rate audio is not supported";
  if (!refusal.empty()) return FailAbout(path, refusal), nullptr;
  // Refused before loading starts when the samples cannot fit (the text names the file).
  if (const std::int64_t frames = decoder->TotalFrames(); frames > 0) {
    const std::int64_t room = options_.roomForSamples ? options_.roomForSamples() : RoomForSamples();
    const std::size_t slash = path.rfind('/');
    refusal = RefusalToOpen(slash == std::string::npos ? path : path.substr(slash + 1),
                            BytesToOpen(frames, decoder->channels), room);
    if (!refusal.empty()) return Fail(refusal), nullptr;
  }
  return editor;
}

bool EditorDocument::FailToLoad(const std::string& path, const AudioEditorApp& editor) {
  // The user knows they stopped it: the status bar says so, no message box.
  if (editor.ErrorText() == AudioEditorApp::kLoadStopped) {
    const std::size_t slash = path.rfind('/');
    errorText_ = (slash == std::string::npos ? path : path.substr(slash + 1)) + ": " + editor.ErrorText();
    if (frame_) frame_->SetPaneText(0, errorText_);
    return false;
  }
  return FailAbout(path, editor.ErrorText());
}

void EditorDocument::TakeOpened(std::unique_ptr<AudioEditorApp> editor, const std::string& path) {
  editor->SetMatchThreshold(70);
  editor_ = std::move(editor);
  TakeSettingsFromDecoder();
  path_ = path;
  hasFile_ = true;
  modifications_ = 0;
  modified_ = false;
  EndJournal();
  const RawLayout& raw = options_.raw;
  source_ = JournalSource();
  source_.isFile = true;
  source_.path = path;
  source_.openType = options_.openType;
  source_.rawChannels = raw.channels;
  source_.rawRate = raw.rate;
  source_.rawBits = raw.bits;
  source_.rawCompression = raw.compression;
  source_.rawBigEndian = raw.bigEndian;
  source_.rawSigned = raw.isSigned;
  source_.correctDC = options_.correctDC;
  if (!options_.recoveryDir.empty()) IdentifySource(path, &source_);
}

void EditorDocument::ReportLoaded() {
  // A file fitted to the tracks (down-mixed, converted) says so in the status bar.
  const CAP_AudioDecoder* decoder = editor_->Decoder();
  if (frame_ && decoder && !decoder->notice.empty()) frame_->SetPaneText(0, decoder->notice);
  WarnIfShort();
}

bool EditorDocument::Open(const std::string& path, GraphicsHost* host, int width, int height,
                          ProgressCallback progress, std::intptr_t user) {
  std::unique_ptr<AudioEditorApp> editor = OpenHeader(path);
  if (!editor) return false;
  if (!editor->AttachViews(host, width, height, options_.correctDC, 1.0, progress, user))
    return FailToLoad(path, *editor);
  TakeOpened(std::move(editor), path);
  ReportLoaded();
  return true;
}

bool EditorDocument::OpenWhileLoading(const std::string& path, GraphicsHost* host, int width, int height,
                                      double fromSeconds, ProgressCallback progress, std::intptr_t user) {
  std::unique_ptr<AudioEditorApp> editor = OpenHeader(path);
  if (!editor) return false;
  // A file that says it is short loads at once (a file of unknown length loads while shown).
  const CAP_AudioDecoder* decoder = editor->Decoder();
  const std::int64_t frames = decoder->TotalFrames();
  const bool atOnce = frames > 0 && double(frames) < fromSeconds * decoder->sampleRate;
  const bool attached = atOnce ? editor->AttachViews(host, width, height, options_.correctDC, 1.0, progress, user)
                               : editor->AttachViewsWhileLoading(host, width, height, options_.correctDC, 1.0);
  if (!attached) return FailToLoad(path, *editor);
  TakeOpened(std::move(editor), path);
  if (!editor_->Loading()) ReportLoaded();
  return true;
}

EditorDocument::LoadState EditorDocument::ContinueLoading(std::chrono::microseconds budget) {
  if (!editor_ || !editor_->Loading()) return LoadState::Done;
  const LoadState state = editor_->ContinueLoading(budget);
  if (state == LoadState::Done) ReportLoaded();
  if (state == LoadState::Failed) FailToLoad(path_, *editor_);
  return state;
}

void EditorDocument::StopLoading() {
  if (!editor_ || !editor_->Loading()) return;
  editor_->StopLoading();
  FailToLoad(path_, *editor_);
}

void EditorDocument::TakeSettingsFromDecoder() {
  const CAP_AudioDecoder* decoder = editor_->Decoder();
  if (!decoder) return;
  channels_ = decoder->channels;
  rate_ = decoder->sampleRate;
  fileType_ = decoder->fileFormat;
  compression_ = decoder->compression;
}

void EditorDocument::SetSaveSettings(int fileType, int rate, int channels, int compression) {
  fileType_ = fileType;
  rate_ = rate;
  channels_ = channels;
  compression_ = compression;
}

// ---- saving ----

bool EditorDocument::Save() {
  // A document is saved in place only when it has a file of its own in a type we write.
  if (SavableType(fileType_) && hasFile_) return SaveUnder(path_);
  return SaveAs();
}

SaveAsRequest EditorDocument::SaveAsProposal() const {
  SaveAsRequest request;
  request.fileType = SavableType(fileType_) ? fileType_ : FileFormatWave;
  request.rate = rate_;
  request.channels = channels_;
  request.compression = IsCodecType(request.fileType) ? CodecEncoding(request.fileType, compression_)
                        : IsWritableEncoding(compression_) ? compression_
                                                           : CompressionPcm16;
  const std::string extension = ExtensionForType(request.fileType);
  if (path_.empty()) {
    request.path = std::string("Untitled") + extension;
  } else {
    const std::size_t slash = path_.rfind('/');
    const std::size_t dot = path_.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = hasExtension ? path_.substr(0, dot) : path_;
    const std::string current = hasExtension ? path_.substr(dot) : "";
    request.path = Lower(current) == extension ? path_ : stem + extension;
  }
  return request;
}

bool EditorDocument::SaveAs() {
  if (!editor_) return false;
  SaveAsRequest request = SaveAsProposal();
  if (!prompts_ || !prompts_->AskSaveAs(&request)) return false;
  if (request.rate < CAP_AudioDecoder::kMinRate || request.rate > CAP_AudioDecoder::kMaxRate)
    return Fail("Sample rate must be between 8000 and 96000");
  SetSaveSettings(request.fileType, request.rate, request.channels, request.compression);
  std::string path = request.path;
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.find('.') == std::string::npos) path += ExtensionForType(request.fileType);
  return SaveUnder(path);
}

bool EditorDocument::SaveUnder(const std::string& path) {
  if (!editor_) return false;
  errorText_.clear();
  if (!editor_->SaveToFile(path, channels_, rate_, fileType_, compression_, progress_, progressUser_))
    return FailAbout(path, editor_->ErrorText());
  path_ = path;
  hasFile_ = true;
  const bool hadHistory = editor_->History() && (editor_->History()->CanUndo() || editor_->History()->CanRedo());
  // The file is written whatever happens next; a failed reopen keeps the document as it was,
  // and saying so is all that is left to do.
  if (!editor_->ReopenAfterSave(path, progress_, progressUser_)) {
    Warn(editor_->ErrorText());
  } else {
    editor_->SetMatchThreshold(editor_->MatchThreshold());
    TakeSettingsFromDecoder();
    if (frame_ && hadHistory)
      frame_->SetPaneText(0, editor_->HistoryKeptBySave()
                                 ? "Saved; the undo history is kept"
                                 : "Saved; the undo history was cleared: the file does not hold exactly the "
                                   "document's samples");
  }
  // A new journal starts from the saved file, so a journal stopped by an undo past the last
  // save may start again.
  if (journalPastSave_) journalFailed_ = journalPastSave_ = false;
  modifications_ = 0;
  modified_ = false;
  // The saved file is the document's source from now on; its journal has done its work.
  EndJournal();
  source_.isFile = true;
  source_.path = path;
  source_.openType = kOpenTypeByName;
  if (!options_.recoveryDir.empty()) IdentifySource(path, &source_);
  editor_->UpdateScrollBar();
  editor_->UpdateStatus();
  return true;
}

bool EditorDocument::CanClose() {
  if (!modified_) return true;
  const SaveChangesAnswer answer =
      prompts_ ? prompts_->AskSaveChanges(FileName()) : SaveChangesAnswer::Cancel;
  if (answer == SaveChangesAnswer::Cancel) return false;
  if (answer == SaveChangesAnswer::No) return true;
  const bool writable = hasFile_ && ::access(path_.c_str(), W_OK) == 0;
  return writable ? Save() : SaveAs();
}

// ---- title ----

std::string EditorDocument::FileName() const {
  const std::size_t slash = path_.rfind('/');
  return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

std::string EditorDocument::Title() const {
  const double seconds = editor_ && editor_->Mixer() ? editor_->Duration() : options_.newSeconds;
  return FileName() + (modifications_ != 0 ? "*" : "") + " (" + FormatTime(seconds, 3, true, false) + ")";
}

// ---- commands ----

bool EditorDocument::Changed(bool changed, int delta) {
  if (!changed) {
    if (editor_ && !editor_->ErrorText().empty()) Warn(editor_->ErrorText());
    return false;
  }
  modifications_ += delta;
  modified_ = modifications_ != 0;
  return true;
}

bool EditorDocument::Cut() { return Run(JournalOp::Cut, [this] { return editor_->Cut(); }); }
bool EditorDocument::Copy() { return Run(JournalOp::Copy, [this] { return editor_->Copy(); }, 0); }
bool EditorDocument::Paste() { return Run(JournalOp::Paste, [this] { return editor_->Paste(); }); }
bool EditorDocument::Delete() { return Run(JournalOp::Delete, [this] { return editor_->Delete(); }); }
bool EditorDocument::Trim() { return Run(JournalOp::Trim, [this] { return editor_->Trim(); }); }
bool EditorDocument::FadeIn() { return Run(JournalOp::FadeIn, [this] { return editor_->FadeIn(); }); }
bool EditorDocument::FadeOut() { return Run(JournalOp::FadeOut, [this] { return editor_->FadeOut(); }); }
bool EditorDocument::Normalize() { return Run(JournalOp::Normalize, [this] { return editor_->Normalize(); }); }
bool EditorDocument::Mute() { return Run(JournalOp::Mute, [this] { return editor_->Mute(); }); }
bool EditorDocument::Reverse() { return Run(JournalOp::Reverse, [this] { return editor_->Reverse(); }); }
bool EditorDocument::Undo() { return UndoOrRedo(true); }
bool EditorDocument::Redo() { return UndoOrRedo(false); }

bool EditorDocument::Mix() {
  if (!editor_ || !editor_->IsCommandEnabled(CommandMix)) return false;
  int clipboard = mixClipboard_, waveform = mixWaveform_;
  if (!prompts_ || !prompts_->AskMixLevels(&clipboard, &waveform)) return false;
  mixClipboard_ = std::clamp(clipboard, 0, 100);
  mixWaveform_ = std::clamp(waveform, 0, 100);
  return Run(JournalOp::Mix, [this] { return editor_->Mix(mixClipboard_, mixWaveform_); }, 1, mixClipboard_,
             mixWaveform_);
}

bool EditorDocument::Volume() {
  if (!editor_ || !editor_->IsCommandEnabled(CommandMuteVolume)) return false;
  int percent = 100;
  if (!prompts_ || !prompts_->AskVolume(&percent)) return false;
  return Run(JournalOp::Volume, [&] { return editor_->Volume(percent); }, 1, percent);
}

bool EditorDocument::InsertSilence() {
  if (!editor_ || !editor_->IsCommandEnabled(CommandInsertSilence)) return false;
  double seconds = 1.0;
  if (!prompts_ || !prompts_->AskSilence(&seconds)) return false;
  return Run(JournalOp::InsertSilence, [&] { return editor_->InsertSilence(seconds); }, 1, 0, 0, seconds);
}

bool EditorDocument::ShiftPitch() {
  if (!editor_ || !editor_->Mixer()) return false;
  int halftones = int(editor_->Mixer()->PitchShift());
  int lowest = 0, highest = 0;
  editor_->Mixer()->PitchRange(&lowest, &highest);
  if (!prompts_ || !prompts_->AskPitchWithin(&halftones, lowest, highest, editor_->PitchRangeText())) return false;
  return Run(JournalOp::ShiftPitch, [&] { return editor_->ShiftPitch(halftones); }, 1, halftones);
}

bool EditorDocument::ChangePitch() {
  if (!editor_ || !editor_->IsCommandEnabled(CommandStretch)) return false;
  double halftones = pitchChange_;
  if (!prompts_ || !prompts_->AskChangePitch(&halftones)) return false;
  pitchChange_ = halftones;
  return Run(JournalOp::ChangePitch, [&] { return editor_->ChangePitch(halftones); }, 1, 0, 0, halftones);
}

bool EditorDocument::ChangeTempo() {
  if (!editor_ || !editor_->IsCommandEnabled(CommandStretch)) return false;
  double percent = tempoChange_;
  if (!prompts_ || !prompts_->AskChangeTempo(&percent)) return false;
  tempoChange_ = percent;
  return Run(JournalOp::ChangeTempo, [&] { return editor_->ChangeTempo(percent); }, 1, 0, 0, percent);
}

bool EditorDocument::Record() {
  if (!editor_ || !editor_->IsCommandEnabled(CommandRecord)) return false;
  bool correct = recordCorrectDC_;
  float left = 0, right = 0;
  if (!prompts_ || !prompts_->AskRecord(channels_, rate_, &correct, &left, &right)) return false;
  recordCorrectDC_ = correct;
  const JournalCommand note = NoteCommand(JournalOp::Record);
  editor_->Record(correct ? left : 0.0f, correct ? right : 0.0f);
  if (!editor_->ErrorText().empty()) return false;
  // A recording is an edit like any other: counted, so that the title shows its "*" and an
  // undo of it takes the mark away.
  JournalRecording(note, nullptr);
  return Changed(true);
}

std::string EditorDocument::FindNext() { return editor_ ? editor_->FindNext() : std::string(); }
std::string EditorDocument::FindPrevious() { return editor_ ? editor_->FindPrevious() : std::string(); }

void EditorDocument::SetUndoLevels(int levels) {
  options_.undoLevels = levels;
  if (editor_) editor_->SetUndoLevels(levels);
}

void EditorDocument::SetMatchAnywhere(bool on) {
  options_.matchAnywhere = on;
  if (editor_) editor_->SetMatchAnywhere(on);
}

void EditorDocument::SetSearchBySound(bool on) {
  options_.searchBySound = on;
  if (editor_) editor_->SetSearchBySound(on);
}

std::string EditorDocument::SearchUrl() const {
  return editor_ ? editor_->SearchUrl(search_, options_.searchUrl) : std::string();
}

bool EditorDocument::WebSearch() {
  if (!editor_ || !editor_->IsCommandEnabled(CommandWebSearch) || !editor_->CheckWebRegion()) return false;
  WebSearchChoices choices = search_;
  if (!prompts_ || !prompts_->AskWebSearch(&choices)) return false;
  search_ = choices;
  return editor_->WebSearch(search_, options_.searchUrl);
}
