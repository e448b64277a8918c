#include "editor/EditorWindow.h"

#include "analysis/SampleTrack.h"
#include "devices/AudioPlayer.h"
#include "editor/AudioFileEditor.h"
#include "graphics/AxisBar.h"
#include "graphics/FormatTime.h"
#include "graphics/MultiTrackDisplay.h"
#include "graphics/TrackWaveform.h"

EP_Window::EP_Window(GraphicsHost* host, int width, int height, EP_AudioFileEditor* editor)
    : CGI_Window(host, width, height), editor_(editor) {}

bool EP_Window::Recording() const {
  return editor_->Player() && editor_->Player()->State() == kDeviceRecording;
}

void EP_Window::OnTimerTick() {
  CGI_Window::OnTimerTick();
  CAI_AudioPlayer* player = editor_->Player();
  CGP_TrackWaveform* waveform = editor_->Waveform();
  if (!player || !waveform || !editor_->History()) return;
  editor_->RunPendingSearch();
  const int before = player->State();
  player->Poll();
  if (before != kDeviceIdle && player->State() == kDeviceIdle) {
    editor_->Stop();
    if (before == kDeviceRecording) editor_->RedrawRecorded();
    editor_->OnNotification();
  }
  const int state = player->State();
  if (state == kDeviceRecording) {
    const double t = editor_->Duration();
    CGP_AxisBar* axis = editor_->Display()->TimeAxis();
    if (t > axis->MaxValue()) {
      axis->SetRange(0, t, 0);
      axis->InvalidateAll();
      editor_->SetStatusText(7, FormatTime(t, 3, true, false));
    }
    waveform->ApplyChanges(0, 0);
  }
  if (state == kDevicePlaying || state == kDeviceRecording) {
    waveform->SetCursorTime(player->GetPositionSeconds(), FollowPlayback);
    editor_->SetStatusText(6, FormatTime(waveform->CursorTime(), 3, true, false));
    if (cursorCode != CursorArrow) SetCursorCode(CursorArrow);
    editor_->SyncChannelRows();
  }
}

bool EP_Window::Notify(int code, CGP_Graphic* sender) {
  CGP_TrackWaveform* waveform = editor_->Waveform();
  CGP_MultiTrackDisplay* display = editor_->Display();
  if (!waveform || !display) return false;
  // A selection made on a channel row is the document's selection.
  if (sender != waveform && (code == NotifySelectionChanging || code == NotifySelectionDone))
    editor_->SyncChannelRows(dynamic_cast<CGP_TrackWaveform*>(sender));
  switch (code) {
    case NotifySelectionChanging:
      editor_->UpdateStatus();
      return true;
    case NotifySelectionDone:
      editor_->SelectionFinished();
      return true;
    case NotifyScrolled: {
      CGP_AxisBar* axis = display->TimeAxis();
      axis->SetPosition(waveform->X(), axis->Y());
      editor_->UpdateScrollBar();
      return true;
    }
    case NotifyAxisDragged:
      display->ScrollAllTo(-display->TimeAxis()->X());
      editor_->UpdateScrollBar();
      return true;
    default:
      return false;
  }
}

void EP_Window::OnButtonDown(int px, int py, int button, bool ctrl, bool shift) {
  if (!Recording()) CGI_Window::OnButtonDown(px, py, button, ctrl, shift);
}

void EP_Window::OnMouseMove(int px, int py, int region) {
  if (!Recording()) CGI_Window::OnMouseMove(px, py, region);
}

void EP_Window::OnButtonUp(int px, int py, int button, bool ctrl, bool shift) {
  if (Recording()) return;
  const bool wasPlaying = editor_->Player() && editor_->Player()->State() == kDevicePlaying;
  if (wasPlaying) editor_->Pause();
  CGI_Window::OnButtonUp(px, py, button, ctrl, shift);
  if (wasPlaying) editor_->Play();
  editor_->OnNotification();
}

void EP_Window::SetSize(int newWidth, int newHeight) {
  CGI_Window::SetSize(newWidth, newHeight);
  editor_->UpdateScrollBar();
  editor_->UpdateStatus();
}

void EP_Window::ScrollTo(int newX, int) {
  hPos = newX;
  CAI_AudioPlayer* player = editor_->Player();
  if (player && (player->State() == kDevicePlaying || player->State() == kDeviceRecording)) return;
  if (editor_->Display()) editor_->Display()->ScrollAllTo(newX);
  editor_->UpdateStatus();
}
