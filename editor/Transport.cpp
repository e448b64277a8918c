// Playback and recording: play, pause, stop and record with the paused states, and the growth
// of a recording without end.
#include <algorithm>

#include "analysis/SampleTrack.h"
#include "devices/AudioPlayer.h"
#include "editor/AudioFileEditor.h"
#include "editor/EditHistory.h"
#include "editor/EditorWindow.h"
#include "graphics/FormatTime.h"
#include "graphics/MultiTrackDisplay.h"
#include "graphics/TrackWaveform.h"

namespace {
// A cursor this close to the end counts as at the end: Play starts over.
constexpr double kEndMargin = 0.01;
}  // namespace

void EP_AudioFileEditor::Play() {
  if (!player_ || !waveform_) return;
  const int state = player_->State();
  if (state == kDeviceIdle && Loading() && !PlayableWhileLoading()) {
    // The player reads two seconds ahead: it starts once they have arrived (Play again: not).
    playWhenLoaded_ = !playWhenLoaded_;
    return;
  }
  playWhenLoaded_ = false;
  if (state == kDevicePlaying) {
    player_->Stop();
  } else if (state == kDeviceIdle) {
    const double selStart = waveform_->SelStart(), selEnd = waveform_->SelEnd();
    const bool selection = selStart < selEnd;
    const double duration = Duration();
    double cursor = waveform_->CursorTime();
    const bool atEnd = selection ? (selEnd - kEndMargin < cursor || duration - kEndMargin < cursor)
                                 : duration - kEndMargin < cursor;
    if (atEnd) {
      waveform_->SetCursorTime(selection ? selStart : 0.0, FollowEdge);
      SetPrototypeFromSelection();
      window_->InvalidateAll();
      UpdateScrollBar();
      UpdateStatus();
      cursor = waveform_->CursorTime();
    }
    // While the file loads, playback goes on into what arrives meanwhile (and stops at the
    // loaded end if it ever catches up).
    if (!selection) player_->Play(cursor, Loading() ? ExpectedDuration() : DisplayTrack()->duration);
    else if (selStart <= cursor && cursor <= selEnd) player_->Play(cursor, selEnd);
    else player_->Play(selStart, selEnd);
    if (player_->State() == kDeviceIdle) Stop();
  }
  waveform_->SetCaret(player_->State() == kDeviceIdle);
  pausedPlay_ = pausedRecording_ = false;
}

void EP_AudioFileEditor::Pause() {
  if (!player_ || !waveform_) return;
  if (pausedPlay_) return Play();
  if (pausedRecording_) return Record(dcOffset_[0], dcOffset_[1]);
  const int state = player_->State();
  if (state != kDevicePlaying && state != kDeviceRecording) return;
  waveform_->SetCursorTime(player_->GetPositionSeconds(), FollowNone);
  player_->Stop();
  if (state == kDeviceRecording) waveform_->ApplyChanges(0, 0);
  waveform_->SetCaret(true);
  pausedRecording_ = state == kDeviceRecording;
  pausedPlay_ = !pausedRecording_;
}

void EP_AudioFileEditor::RedrawRecorded() {
  // The columns drawn while the recording grew were made from blocks still filling (and at
  // widths the growth kept changing): the finished recording is drawn again as a whole.
  waveform_->MarkAllChanged();
  waveform_->ApplyChanges(0, 0);
}

void EP_AudioFileEditor::Stop() {
  if (!player_ || !waveform_) return;
  const int state = player_->State();
  playWhenLoaded_ = false;
  player_->Stop();
  waveform_->SetCursorTime(waveform_->SelStart(), FollowMargin);
  if (state == kDeviceRecording) RedrawRecorded();
  SetStatusText(6, FormatTime(waveform_->CursorTime(), 3, true, false));
  waveform_->SetCaret(true);
  pausedPlay_ = pausedRecording_ = false;
  recordingWithoutEnd_ = false;
}

void EP_AudioFileEditor::Record(float dcLeft, float dcRight) {
  if (!player_ || !waveform_ || !history_) return;
  errorText_.clear();
  dcOffset_[0] = dcLeft;
  dcOffset_[1] = dcRight;
  if (player_->State() != kDeviceIdle) player_->Stop();
  double from = 0, to = 0;
  if (!BeginRecordingGroup(&from, &to)) return;
  player_->SetDcOffsets(dcLeft, dcRight);
  player_->Record(from, to);
  waveform_->SetCaret(player_->State() == kDeviceIdle);
  pausedPlay_ = pausedRecording_ = false;
}

bool EP_AudioFileEditor::BeginRecordingGroup(double* from, double* to) {
  const double selStart = waveform_->SelStart(), selEnd = waveform_->SelEnd();
  const double cursor = waveform_->CursorTime();
  const bool hasEnd = selStart < selEnd;
  *from = !hasEnd || (selStart <= cursor && cursor <= selEnd) ? cursor : selStart;
  *to = hasEnd ? selEnd : 0.0;
  const double rate = mixer_->sampleRate;
  const int startSample = RoundSamples(rate * *from);
  const int endSample = RoundSamples(rate * (hasEnd ? selEnd : Duration()));
  if (!history_->BeginRecording(std::max(endSample - startSample, 0), startSample)) {
    SetError("Not enough memory to record");
    ShowWarning(errorText_);
    return false;
  }
  recordingWithoutEnd_ = !hasEnd;
  return true;
}

bool EP_AudioFileEditor::ReplayRecording(const void* data, int frames, bool isFloat, int startSample, int endSample) {
  if (!player_ || !waveform_ || !history_) return false;
  errorText_.clear();
  double from = 0, to = 0;
  if (!BeginRecordingGroup(&from, &to)) return false;
  if (startSample < 0) return true;  // the input never started: the undo group is all there was
  // As the recorder writes: from its start sample, no further than its end.
  const int n = int(std::clamp<std::int64_t>(std::int64_t(endSample) - startSample, 0, frames));
  replayingRecording_ = true;
  if (n > 0) {
    if (isFloat) mixer_->WriteFloat(static_cast<const float*>(data), n, startSample);
    else mixer_->WriteInt(data, 16, n, startSample);
  }
  replayingRecording_ = false;
  waveform_->ApplyChanges(0, 0);
  Stop();
  return true;
}

void EP_AudioFileEditor::AudioAboutToGrow(int newLength) {
  // Loading fills the tracks without a history; only a recording grows the document this way.
  if (!history_ || !player_ || !waveform_ || (player_->State() != kDeviceRecording && !replayingRecording_)) return;
  const double ratio = ZoomRatio();
  CAP_SampleTrack* track = DisplayTrack();
  bool grew = false;
  while (track->Length() < newLength) {
    const int before = track->Length();
    if (!history_->ExtendForRecording() || track->Length() == before) break;
    grew = true;
  }
  if (!grew) return;
  ShowRange(0, RoundSamples(mixer_->sampleRate * Duration()), FollowNone);
  KeepZoomRatio(ratio);
  UpdateScrollBar();
  UpdateStatus();
}

double EP_AudioFileEditor::ZoomRatio() const {
  const int window = waveform_->Parent() ? waveform_->Parent()->Width() : waveform_->Width();
  return double(waveform_->Width()) / std::max(window, 1);
}

void EP_AudioFileEditor::KeepZoomRatio(double ratio) {
  const int window = waveform_->Parent() ? waveform_->Parent()->Width() : waveform_->Width();
  const double wanted = ratio * window;
  if (waveform_->Width() > 0 && wanted > 0) display_->ZoomBy(wanted / waveform_->Width());
}
