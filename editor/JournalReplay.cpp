// The document's side of the edit journal: what each command notes as it runs, and recovery,
// which replays those notes through the same entry points.
#include <unistd.h>

#include <chrono>

#include "analysis/SampleTrack.h"
#include "devices/AudioPlayer.h"
#include "editor/Document.h"
#include "editor/EditHistory.h"
#include "editor/EditorFrame.h"
#include "editor/AnsweringPrompts.h"
#include "editor/SharedClipboard.h"
#include "graphics/TrackWaveform.h"

namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void RestoreClipboard(const JournalClipboard& clipboard) {
  SharedClipboard& shared = SharedClipboard::Instance();
  shared.Clear();
  for (std::size_t i = 0; i < clipboard.tracks.size(); ++i) {
    const auto& source = clipboard.tracks[i];
    auto track = std::make_unique<CAP_SampleTrack>(source.rate);
    track->InsertSamples(source.samples.data(), int(source.samples.size()), 0);
    shared.SetSlot(int(i), std::move(track));
  }
}

}  // namespace

// The dialogs of a replayed command answer with the values the user gave.
class ReplayPrompts : public AnsweringPrompts {
public:
  void Take(const JournalCommand& c) {
    mixClipboard = volume = pitch = c.values[0];
    mixWaveform = c.values[1];
    silence = changePitch = changeTempo = c.seconds;
  }
};

JournalCommand EditorDocument::NoteCommand(JournalOp op) const {
  JournalCommand note;
  note.op = op;
  if (const CGP_TrackWaveform* wave = editor_ ? editor_->Waveform() : nullptr) {
    note.selStart = wave->SelStart();
    note.selEnd = wave->SelEnd();
    note.cursor = wave->CursorTime();
  }
  return note;
}

bool EditorDocument::Run(JournalOp op, const std::function<bool()>& command, int delta, std::int32_t value0,
                         std::int32_t value1, double seconds) {
  if (!editor_) return false;
  JournalCommand note = NoteCommand(op);
  note.values[0] = value0;
  note.values[1] = value1;
  note.seconds = seconds;
  const bool changed = command();
  if (delta == 0) {
    // Copy changes only the clipboard: noted once there is a journal, so that a later paste
    // needs no copy of the audio.
    if (changed && journal_) AppendToJournal(note);
    return changed;
  }
  if (!Changed(changed, delta)) return false;
  AppendToJournal(note);
  return true;
}

bool EditorDocument::DropFailedJournal(const std::string& text) {
  if (!journal_ || (!journal_->Failed() && text.empty())) return false;
  // The editing goes on without a journal; one warning says so.
  const std::string why = (text.empty() ? journal_->FailureText() : text) + "; edits are not kept for recovery";
  EndJournal();
  journalFailed_ = true;
  if (frame_) frame_->SetPaneText(0, why);
  return true;
}

bool EditorDocument::FlushJournal() {
  bool ok = true;
  if (recording_) ok = recording_->Flush();
  if (journal_) ok = journal_->Flush() && ok;
  return ok && journal_ != nullptr;
}

void EditorDocument::AppendToJournal(const JournalCommand& command, JournalPayload* audio) {
  if (options_.recoveryDir.empty() || journalFailed_) return;
  // A finished recording's file is complete on disk before any later command is: a replay
  // never finds a command after a recording whose end is missing.
  CAI_AudioPlayer* player = editor_ ? editor_->Player() : nullptr;
  if (recording_ && command.op != JournalOp::Record && (!player || player->State() != kDeviceRecording)) {
    if (player) player->SetRecordTap(nullptr);
    const bool kept = recording_->Flush();
    const std::string failure = recording_->FailureText();
    recording_.reset();
    if (!kept && DropFailedJournal(failure)) return;
  }
  if (!journal_) journal_ = std::make_unique<JournalWriter>(options_.recoveryDir, source_);
  const std::uint64_t clipboard = SharedClipboard::Instance().Generation();
  if ((command.op == JournalOp::Paste || command.op == JournalOp::Mix) && clipboard != journaledClipboard_) {
    JournalPayload payload = EncodeClipboard(SharedClipboard::Instance());
    if (payload.Size() > MaxJournalRecord()) {
      DropFailedJournal("The clipboard is too large to keep for recovery");
      return;
    }
    journal_->Append(std::move(payload));
  }
  if (audio) journal_->Append(std::move(*audio));
  JournalCommand stamped = command;
  stamped.timeMs = NowMs();
  journal_->Append(EncodeCommand(stamped));
  // After a cut or a copy the replay makes the clipboard itself; after a paste it has it.
  if (command.op == JournalOp::Cut || command.op == JournalOp::Copy || command.op == JournalOp::Paste ||
      command.op == JournalOp::Mix)
    journaledClipboard_ = clipboard;
  DropFailedJournal("");
}

void EditorDocument::JournalRecording(JournalCommand note, const JournalCommand* replayed) {
  CAI_AudioPlayer* player = editor_->Player();
  if (options_.recoveryDir.empty() || journalFailed_ || !player) return;
  if (!journal_) journal_ = std::make_unique<JournalWriter>(options_.recoveryDir, source_);
  if (DropFailedJournal("")) return;
  if (!replayed && player->State() != kDeviceRecording) {
    // The input would not start; the recording's undo group was made all the same.
    note.values[1] = -1;
    AppendToJournal(note);
    return;
  }
  std::string path = journal_->Path();
  path = path.substr(0, path.size() - std::string(".journal").size()) + "-rec" +
         std::to_string(recordingFiles_.size() + 1) + ".wav";
  if (replayed) {
    // The recovered recording's file becomes this journal's; the old journal goes with its own.
    if (::link(replayed->file.c_str(), path.c_str()) != 0) {
      DropFailedJournal("The recording's recovery file could not be kept");
      return;
    }
    note.values[0] = replayed->values[0];
    note.values[1] = replayed->values[1];
    note.seconds = replayed->seconds;
  } else {
    auto file = std::make_unique<RecordingFile>(path, editor_->Mixer()->channels, editor_->Mixer()->sampleRate,
                                                player->RecordFloat());
    if (file->Failed()) {
      DropFailedJournal(file->FailureText());
      return;
    }
    player->SetRecordTap([sink = file.get()](const void* data, int frames) { sink->Append(data, frames); });
    recording_ = std::move(file);
    note.values[0] = player->RecordFloat();
    note.values[1] = player->StartSample();
    note.seconds = player->EndSample();
  }
  recordingFiles_.push_back(path);
  note.file = path;
  AppendToJournal(note);
}

bool EditorDocument::UndoOrRedo(bool undo) {
  const EP_EditHistory* history = editor_ ? editor_->History() : nullptr;
  const bool journaling = !options_.recoveryDir.empty() && !journalFailed_;
  // The journal replays from the last saved file, which knows no edit before the save: an undo
  // or redo reaching before it goes into the journal with the audio it put in place, and so does
  // every later one, because the replay's history no longer mirrors this one.
  if (!journaling || !history || !(restoresByAudio_ || history->NextIsBeforeSave(undo)))
    return undo ? Run(JournalOp::Undo, [this] { return editor_->Undo(); }, -1)
                : Run(JournalOp::Redo, [this] { return editor_->Redo(); });
  const int rate = editor_->Mixer()->sampleRate;
  const int lengthBefore = editor_->Mixer()->Track(0)->Length();
  if (!Changed(undo ? editor_->Undo() : editor_->Redo(), undo ? -1 : 1)) return false;
  const auto [start, length] = editor_->LastUndoSpan();
  const int replaced = length - (editor_->Mixer()->Track(0)->Length() - lengthBefore);
  if (editor_->Mixer()->sampleRate != rate || replaced < 0) {
    // A pitch shift's group makes the whole document again at another rate: no span says it.
    EndJournal();
    journalFailed_ = journalPastSave_ = true;
    if (frame_) frame_->SetPaneText(0, "Changes past the last save are not kept for recovery until the next save");
    return true;
  }
  restoresByAudio_ = true;
  JournalRestore(start, length, replaced, undo ? -1 : 1);
  return true;
}

void EditorDocument::JournalRestore(int start, int length, int replaced, int delta) {
  JournalCommand note = NoteCommand(JournalOp::Restore);  // the view the undo left
  note.values[0] = start;
  note.values[1] = replaced;
  note.seconds = delta;
  JournalPayload audio = EncodeSpan(*editor_->Mixer(), start, length);
  if (audio.Size() > MaxJournalRecord()) {
    DropFailedJournal("The undone audio is too large to keep for recovery");
    return;
  }
  AppendToJournal(note, &audio);
}

bool EditorDocument::ReplayRestore(const JournalCommand& c) {
  if (!replayAudio_ || replayAudio_->tracks.empty()) return false;
  std::vector<std::unique_ptr<CAP_SampleTrack>> made;
  std::vector<CAP_SampleTrack*> sources;
  for (const auto& source : replayAudio_->tracks) {
    if (source.rate != editor_->Mixer()->sampleRate) return false;
    made.push_back(std::make_unique<CAP_SampleTrack>(source.rate));
    made.back()->InsertSamples(source.samples.data(), int(source.samples.size()), 0);
    sources.push_back(made.back().get());
  }
  const int length = made[0]->Length(), delta = c.seconds < 0 ? -1 : 1;
  if (!Changed(editor_->ReplaceSpan(c.values[0], c.values[1], sources), delta)) return false;
  ShowNotedView(c);  // the view the undo left
  restoresByAudio_ = true;
  JournalRestore(c.values[0], length, c.values[1], delta);
  return true;
}

void EditorDocument::EndJournal() {
  if (editor_ && editor_->Player()) editor_->Player()->SetRecordTap(nullptr);
  recording_.reset();
  for (const std::string& file : recordingFiles_) ::unlink(file.c_str());
  recordingFiles_.clear();
  restoresByAudio_ = false;
  if (journal_) journal_->Discard();
  journal_.reset();
  journaledClipboard_ = 0;
}

void EditorDocument::ShowNotedView(const JournalCommand& c) {
  if (CGP_TrackWaveform* wave = editor_->Waveform()) {
    wave->SetCursorTime(c.cursor, FollowNone);
    wave->SetSelection(c.selStart, c.selEnd);
  }
}

bool EditorDocument::Replay(const ::JournalCommand& c, ReplayPrompts* answers) {
  ShowNotedView(c);
  answers->Take(c);
  switch (c.op) {
    case JournalOp::Cut: return Cut();
    case JournalOp::Copy: return Copy();
    case JournalOp::Paste: return Paste();
    case JournalOp::Mix: return Mix();
    case JournalOp::Delete: return Delete();
    case JournalOp::Trim: return Trim();
    case JournalOp::FadeIn: return FadeIn();
    case JournalOp::FadeOut: return FadeOut();
    case JournalOp::Normalize: return Normalize();
    case JournalOp::Mute: return Mute();
    case JournalOp::Volume: return Volume();
    case JournalOp::Reverse: return Reverse();
    case JournalOp::InsertSilence: return InsertSilence();
    case JournalOp::ShiftPitch: return ShiftPitch();
    case JournalOp::ChangePitch: return ChangePitch();
    case JournalOp::ChangeTempo: return ChangeTempo();
    case JournalOp::Undo: return Undo();
    case JournalOp::Redo: return Redo();
    case JournalOp::Restore: return ReplayRestore(c);
    case JournalOp::Record: {
      RecordedAudio audio;
      std::string error;
      if (c.values[1] < 0) {
        if (!editor_->ReplayRecording(nullptr, 0, false, -1, -1)) return false;
        modified_ = true;
        AppendToJournal(c);
        return true;
      }
      if (!ReadRecordingFile(c.file, &audio, &error) ||
          !editor_->ReplayRecording(audio.data.data(), audio.Frames(), audio.isFloat, c.values[1], int(c.seconds)))
        return false;
      JournalRecording(c, &c);
      return Changed(true);
    }
  }
  return false;
}

bool EditorDocument::Recover(const JournalContents& journal, GraphicsHost* host, int width, int height,
                             ProgressCallback progress, std::intptr_t user) {
  const JournalSource& source = journal.source;
  options_.correctDC = source.correctDC;
  if (source.isFile) {
    std::string why;
    if (!SameSource(source, &why)) {
      // The recordings do not depend on the file: they stay, as WAVE files, for the user to open.
      std::string kept;
      for (const JournalEntry& entry : journal.entries)
        if (entry.kind == JournalEntry::Command && entry.command.op == JournalOp::Record && !entry.command.file.empty())
          kept += (kept.empty() ? "" : ", ") + entry.command.file;
      return Fail(why + "; its edits cannot be recovered" +
                  (kept.empty() ? std::string() : "; its recordings are kept in " + kept));
    }
    options_.openType = source.openType;
    options_.raw = RawLayout{source.rawChannels, source.rawRate,         source.rawBits,
                             source.rawCompression, source.rawBigEndian, source.rawSigned};
    if (!Open(source.path, host, width, height, progress, user)) return false;
  } else {
    options_.newChannels = source.newChannels;
    options_.newRate = source.newRate;
    options_.newSeconds = source.newSeconds;
    if (!New(host, width, height)) return false;
  }
  ReplayPrompts answers;
  DocumentPrompts* own = prompts_;
  prompts_ = &answers;
  editor_->SuspendForReplay(true);
  int replayed = 0;
  bool ok = true;
  for (const JournalEntry& entry : journal.entries) {
    if (entry.kind == JournalEntry::Clipboard) {
      RestoreClipboard(entry.clipboard);
      continue;
    }
    if (entry.kind == JournalEntry::Audio) {
      replayAudio_ = &entry.clipboard;  // for the Restore after it
      continue;
    }
    if (!Replay(entry.command, &answers)) {
      ok = false;
      break;
    }
    ++replayed;
  }
  prompts_ = own;
  replayAudio_ = nullptr;
  modified_ = true;
  editor_->SuspendForReplay(false);
  if (editor_) {
    editor_->UpdateScrollBar();
    editor_->UpdateStatus();
  }
  if (!ok)
    return Fail("Only " + std::to_string(replayed) + " of the " + std::to_string(journal.commandCount) +
                " edits could be recovered");
  return true;
}
