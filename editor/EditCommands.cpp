// The edit commands: each saves an undo group through the history, changes the tracks and shows
// the result with ShowRange; and the view commands around them.
#include <algorithm>
#include <cmath>

#include "analysis/SampleTrack.h"
#include "editor/AudioFileEditor.h"
#include "editor/CommandCode.h"
#include "editor/EditHistory.h"
#include "editor/EditorWindow.h"
#include "editor/LongWork.h"
#include "editor/SharedClipboard.h"
#include "graphics/MultiTrackDisplay.h"
#include "graphics/TrackWaveform.h"

namespace {
constexpr const char* kNoMemoryToEdit = "Not enough memory for this edit; the audio is unchanged";
constexpr const char* kNoScratchToEdit =
    "Not enough disk space in the scratch folder for this edit; the audio is unchanged";
constexpr float kNormalizeFloor = 0.000001f;
constexpr double kMaxSilenceSeconds = 3600;
constexpr double kMinSilenceSeconds = 0.0001;
constexpr int kMaxPitchSteps = 48;
constexpr int kSilenceBufferLength = 1024;
}  // namespace

bool EP_AudioFileEditor::EditFailed() {
  SetError(history_ && history_->TakeDiskFull() ? kNoScratchToEdit : kNoMemoryToEdit);
  return false;
}

void EP_AudioFileEditor::ShowSelectionAsItWas(int length, int start) { ShowRange(length, start, FollowNone); }

// ---- view commands ----

void EP_AudioFileEditor::ZoomIn() {
  if (!IsCommandEnabled(CommandZoomIn)) return;
  display_->ZoomBy(2);
  UpdateScrollBar();
  UpdateStatus();
}

void EP_AudioFileEditor::ZoomOut() {
  if (!IsCommandEnabled(CommandZoomOut)) return;
  display_->ZoomBy(0.5);
  UpdateScrollBar();
  UpdateStatus();
}

void EP_AudioFileEditor::FitToWindow() {
  if (!waveform_) return;
  waveform_->SetAttached(!waveform_->Attached());
  if (waveform_->Attached() && waveform_->Parent())
    waveform_->SetSize(waveform_->Parent()->Width(), waveform_->Height());
  UpdateScrollBar();
  UpdateStatus();
}

void EP_AudioFileEditor::ToggleColouredWaveform() {
  if (!waveform_) return;
  waveform_->SetColourDisplay(!waveform_->ColourDisplay());
  waveform_->InvalidateAll();
}

void EP_AudioFileEditor::SelectAll() {
  if (!waveform_) return;
  waveform_->SetCursorTime(0, FollowNone);
  waveform_->SetSelection(0, Duration());
  SetPrototypeFromSelection();
  window_->InvalidateAll();
  UpdateScrollBar();
  UpdateStatus();
}

void EP_AudioFileEditor::Select(double from, double to) {
  if (!waveform_) return;
  if (!(from == from)) from = 0;
  if (!(to == to)) to = 0;
  if (to < from) std::swap(from, to);
  from = std::clamp(from, 0.0, Duration());
  to = std::clamp(to, 0.0, Duration());
  waveform_->SetCursorTime(from, FollowMargin);
  waveform_->SetSelection(from, to);
  SelectionFinished();
  window_->InvalidateAll();
  UpdateScrollBar();
}

void EP_AudioFileEditor::SetCursor(double seconds) { Select(seconds, seconds); }

void EP_AudioFileEditor::SelectionFinished() {
  if (!waveform_) return;
  pausedPlay_ = pausedRecording_ = false;
  if (matchMode_ && SelectionLength(false) > 0) {
    SetPrototypeFromSelection();
    waveform_->InvalidateAll();
  }
  UpdateStatus();
}

// ---- edits ----

bool EP_AudioFileEditor::Cut() {
  if (!IsCommandEnabled(CommandCut)) return false;
  errorText_.clear();
  const int length = SelectionLength(false), start = SelectionStart(false);
  if (!RunLong("Cutting", "Cut", [&](LongWork&) { return history_->Cut(length, start, GetViewState()) || EditFailed(); }))
    return false;
  ShowRange(0, start, FollowNone);
  return true;
}

bool EP_AudioFileEditor::Copy() {
  if (!IsCommandEnabled(CommandCopy)) return false;
  errorText_.clear();
  const int length = SelectionLength(false), start = SelectionStart(false);
  return RunLong("Copying", "Copy", [&](LongWork&) { return history_->Copy(length, start) || EditFailed(); });
}

bool EP_AudioFileEditor::Paste() {
  if (!IsCommandEnabled(CommandPaste)) return false;
  errorText_.clear();
  const int length = SelectionLength(false), start = SelectionStart(false);
  const bool convert = SharedClipboard::Instance().Slot(0)->sampleRate != mixer_->sampleRate;
  int pasted = -1;
  if (!RunLong("Pasting", "Paste", [&](LongWork&) {
        pasted = history_->Paste(length, start, PasteReplace, convert, 100, 0, GetViewState());
        return true;
      }))
    return false;
  if (pasted < 0) return EditFailed();
  ShowRange(0, start + pasted, FollowMargin);
  return true;
}

bool EP_AudioFileEditor::Mix(int clipboardPercent, int waveformPercent) {
  if (!IsCommandEnabled(CommandMix)) return false;
  errorText_.clear();
  clipboardPercent = std::clamp(clipboardPercent, 0, 100);
  waveformPercent = std::clamp(waveformPercent, 0, 100);
  const int length = SelectionLength(false), start = SelectionStart(false);
  const CAP_SampleTrack* clip = SharedClipboard::Instance().Slot(0);
  const double ratio = double(mixer_->sampleRate) / clip->sampleRate;
  const std::int64_t converted = RoundSamples(clip->Length() * ratio);
  const std::int64_t wanted = converted + 100;
  const int mixLength = int(std::min<std::int64_t>(length == 0 ? wanted : std::min<std::int64_t>(length, wanted),
                                                   INT32_MAX));
  const bool convert = clip->sampleRate != mixer_->sampleRate;
  int mixed = -1;
  SetWaitCursor(true);
  const bool ran = RunLong("Mixing", "Mix", [&](LongWork&) {
    mixed = history_->Paste(mixLength, start, PasteMixOnce, convert, clipboardPercent, waveformPercent, GetViewState());
    return true;
  });
  SetWaitCursor(false);
  if (!ran) return false;
  if (mixed < 0) return EditFailed();
  ShowRange(0, start + mixed, FollowMargin);
  return true;
}

bool EP_AudioFileEditor::Delete() {
  if (!IsCommandEnabled(CommandDelete)) return false;
  errorText_.clear();
  const int length = SelectionLength(false), start = SelectionStart(false);
  if (!history_->Delete(length, start, GetViewState())) return EditFailed();
  ShowRange(0, start, FollowNone);
  return true;
}

bool EP_AudioFileEditor::Trim() {
  if (!IsCommandEnabled(CommandTrim)) return false;
  errorText_.clear();
  if (!history_->Trim(SelectionLength(false), SelectionStart(false), GetViewState())) return EditFailed();
  ShowRange(RoundSamples(mixer_->sampleRate * Duration()), 0, FollowNone);
  return true;
}

bool EP_AudioFileEditor::FadeIn() { return Fade(0, 1); }

bool EP_AudioFileEditor::FadeOut() { return Fade(1, 0); }

bool EP_AudioFileEditor::Fade(float from, float to) {
  if (!IsCommandEnabled(CommandFade)) return false;
  errorText_.clear();
  const int length = SelectionLength(false), start = SelectionStart(false);
  const bool fadeIn = from < to;
  if (!RunLong(fadeIn ? "Fading in" : "Fading out", fadeIn ? "Fade In" : "Fade Out", [&](LongWork&) {
        return history_->Fade(SelectionLength(true), SelectionStart(true), from, to, GetViewState()) || EditFailed();
      }))
    return false;
  ShowSelectionAsItWas(length, start);
  return true;
}

bool EP_AudioFileEditor::Normalize() {
  if (!IsCommandEnabled(CommandNormalize)) return false;
  errorText_.clear();
  const int length = SelectionLength(false), start = SelectionStart(false);
  const int wholeLength = SelectionLength(true), wholeStart = SelectionStart(true);
  float minimum = 1, maximum = -1;
  history_->FindPeak(wholeLength, wholeStart, &minimum, &maximum);
  const float peak = std::max({std::fabs(minimum), std::fabs(maximum), kNormalizeFloor});
  if (!RunLong("Normalizing", "Normalize",
               [&](LongWork&) { return history_->Scale(wholeLength, wholeStart, 1 / peak, GetViewState()) || EditFailed(); }))
    return false;
  ShowSelectionAsItWas(length, start);
  return true;
}

bool EP_AudioFileEditor::Mute() { return Volume(0); }

bool EP_AudioFileEditor::Volume(int percent) {
  if (!IsCommandEnabled(CommandMuteVolume)) return false;
  errorText_.clear();
  if (percent < 0 || percent > 200) {
    SetError("The volume must be between 0 and 200 %");
    return false;
  }
  const int length = SelectionLength(false), start = SelectionStart(false);
  if (!RunLong(percent == 0 ? "Muting" : "Changing the volume", percent == 0 ? "Mute" : "Volume", [&](LongWork&) {
        return history_->Scale(SelectionLength(true), SelectionStart(true), percent / 100.0f, GetViewState()) ||
               EditFailed();
      }))
    return false;
  ShowSelectionAsItWas(length, start);
  return true;
}

bool EP_AudioFileEditor::Reverse() {
  if (!IsCommandEnabled(CommandReverse)) return false;
  errorText_.clear();
  const int length = SelectionLength(false), start = SelectionStart(false);
  if (!RunLong("Reversing", "Reverse", [&](LongWork&) {
        return history_->Reverse(SelectionLength(true), SelectionStart(true), GetViewState()) || EditFailed();
      }))
    return false;
  ShowSelectionAsItWas(length, start);
  return true;
}

bool EP_AudioFileEditor::InsertSilence(double seconds) {
  if (!IsCommandEnabled(CommandInsertSilence)) return false;
  errorText_.clear();
  if (!(seconds >= kMinSilenceSeconds && seconds <= kMaxSilenceSeconds)) {
    SetError("The silence must last between 0.0001 and 3600 seconds");
    return false;
  }
  const std::int64_t n = std::int64_t(mixer_->sampleRate * seconds);
  const int cursor = CursorSample();
  if (n + DisplayTrack()->Length() >= INT32_MAX) return EditFailed();
  static const float zeros[kSilenceBufferLength] = {};
  if (!RunLong("Inserting silence", "Insert Silence", [&](LongWork&) {
        return history_->InsertRepeated(0, cursor, zeros, 0, int(std::min<std::int64_t>(kSilenceBufferLength, n)),
                                        int(n), GetViewState()) ||
               EditFailed();
      }))
    return false;
  ShowRange(0, cursor + int(n), FollowNone);
  return true;
}

bool EP_AudioFileEditor::ShiftPitch(int halftones) {
  if (!waveform_ || !history_ || working_) return false;
  errorText_.clear();
  int lowest = 0, highest = 0;
  mixer_->PitchRange(&lowest, &highest);
  if (halftones < std::max(lowest, -kMaxPitchSteps) || halftones > std::min(highest, kMaxPitchSteps)) {
    SetError("The pitch shift must be from " + PitchRangeText());
    return false;
  }
  // The same samples stay selected and the view keeps its zoom and scroll as fractions.
  const double duration = std::max(Duration(), 1e-9);
  const double fromFraction = waveform_->SelStart() / duration;
  const double toFraction = waveform_->SelEnd() / duration;
  const double ratio = ZoomRatio();
  const int window = waveform_->Parent() ? waveform_->Parent()->Width() : waveform_->Width();
  const double scrollFraction = -double(waveform_->X()) / std::max(1, waveform_->Width() - window);
  if (!RunLong("Shifting the pitch", "Shift Pitch",
               [&](LongWork&) { return history_->SetPitch(float(halftones), GetViewState()) || EditFailed(); }))
    return false;
  waveform_->MarkAllChanged();
  const double samples = DisplayTrack()->Length();
  const int from = int(fromFraction * samples), to = int(toFraction * samples);
  ShowRange(to - from, from, FollowNone);
  KeepZoomRatio(ratio);
  const int newWindow = waveform_->Parent() ? waveform_->Parent()->Width() : waveform_->Width();
  display_->ScrollAllTo(int(scrollFraction * std::max(0, waveform_->Width() - newWindow)));
  UpdateScrollBar();
  UpdateStatus();
  return true;
}

bool EP_AudioFileEditor::Undo() {
  if (!IsCommandEnabled(CommandUndo)) return false;
  errorText_.clear();
  int length = 0, start = 0;
  ViewState view;
  // Moving blocks back is quick; a rate group makes every block again and reports it.
  if (!RunLong("Undoing", "Undo", [&](LongWork&) { return history_->Undo(&length, &start, &view) || EditFailed(); }))
    return false;
  lastUndoSpan_ = {start, length};
  waveform_->MarkAllChanged();
  ShowRange(view.selectionLength, view.selectionStart, FollowNone);
  // Only what differs is redone: each zoom or scroll recomputes the visible columns.
  if (view.viewWidth != waveform_->Width()) display_->ZoomBy(double(view.viewWidth) / std::max(waveform_->Width(), 1));
  if (view.viewOffset != waveform_->X()) display_->ScrollAllTo(-view.viewOffset);
  UpdateScrollBar();
  UpdateStatus();
  return true;
}

bool EP_AudioFileEditor::Redo() {
  if (!IsCommandEnabled(CommandRedo)) return false;
  errorText_.clear();
  int length = 0, start = 0;
  if (!RunLong("Redoing", "Redo", [&](LongWork&) { return history_->Redo(&length, &start) || EditFailed(); }))
    return false;
  lastUndoSpan_ = {start, length};
  ShowRange(0, start, FollowNone);
  return true;
}
