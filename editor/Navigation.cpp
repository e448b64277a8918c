// The keys and the wheel as the editors people know use them: Home, End and the arrows move the
// cursor (Shift: the selection's free end), the wheel scrolls in time, Ctrl+wheel zooms about
// the pointer; and the selection bar's typed times.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "devices/AudioPlayer.h"
#include "editor/AudioFileEditor.h"
#include "editor/CommandCode.h"
#include "editor/EditorWindow.h"
#include "graphics/FormatTime.h"
#include "graphics/MultiTrackDisplay.h"
#include "graphics/TrackWaveform.h"

namespace {
constexpr double kWheelScrollShare = 0.1;  // of the visible width per notch
}

double EP_AudioFileEditor::SelectionAnchor() const {
  const double s = waveform_->SelStart(), e = waveform_->SelEnd();
  if (!(s < e)) return waveform_->CursorTime();
  if (keyAnchor_ == s || keyAnchor_ == e) return keyAnchor_;
  // A mouse selection keeps the end where the button went down; any other, its start.
  return waveform_->AnchorTime() == e ? e : s;
}

void EP_AudioFileEditor::ScrollViewTo(int offset) {
  const CAI_AudioPlayer* player = player_.get();
  if (player && (player->State() == kDevicePlaying || player->State() == kDeviceRecording)) return;
  const int room = std::max(0, waveform_->Width() - waveform_->VisibleWidth());
  const int target = std::clamp(offset, 0, room);
  if (target == -waveform_->X()) return;
  display_->ScrollAllTo(target);
  window_->InvalidateAll();
  UpdateScrollBar();
}

void EP_AudioFileEditor::ScrollToShow(double t) {
  const int column = waveform_->ColumnOfTime(t), visible = std::max(waveform_->VisibleWidth(), 1);
  const int offset = -waveform_->X();
  if (column < offset) ScrollViewTo(column);
  else if (column >= offset + visible) ScrollViewTo(column - visible + 1);
}

void EP_AudioFileEditor::Navigate(NavigationKey key, bool bySecond, bool extend) {
  if (!waveform_ || !mixer_ || !IsCommandEnabled(-1)) return;  // not while recording
  const double s = waveform_->SelStart(), e = waveform_->SelEnd();
  const bool selection = s < e;
  const double anchor = SelectionAnchor();
  double from = waveform_->CursorTime();
  if (selection) from = extend ? (anchor == s ? e : s) : (key == NavigationKey::Left ? s : e);
  double target = from;
  switch (key) {
    case NavigationKey::Home: target = 0; break;
    case NavigationKey::End: target = Duration(); break;
    case NavigationKey::Left:
    case NavigationKey::Right: {
      const int step = key == NavigationKey::Right ? 1 : -1;
      target = bySecond ? from + step : waveform_->TimeOfColumn(waveform_->ColumnOfTime(from) + step);
      break;
    }
  }
  target = std::clamp(target, 0.0, Duration());
  if (extend) {
    keyAnchor_ = anchor;
    waveform_->SetCursorTime(std::min(anchor, target), FollowNone);
    waveform_->SetSelection(std::min(anchor, target), std::max(anchor, target));
  } else {
    keyAnchor_ = -1;
    waveform_->SetCursorTime(target, FollowNone);
    waveform_->SetSelection(target, target);
  }
  ScrollToShow(target);
  SelectionFinished();
  window_->InvalidateAll();
}

void EP_AudioFileEditor::ScrollByWheel(double notches) {
  if (!waveform_ || !(std::fabs(notches) > 0)) return;
  const double step = std::max(1.0, waveform_->VisibleWidth() * kWheelScrollShare);
  ScrollViewTo(-waveform_->X() + int(std::lround(notches * step)));
  UpdateStatus();
}

void EP_AudioFileEditor::ZoomByWheel(double notches, int viewX) {
  if (!waveform_ || !(std::fabs(notches) > 0)) return;
  if (!IsCommandEnabled(notches > 0 ? CommandZoomIn : CommandZoomOut)) return;
  const double t = waveform_->TimeOfColumn(viewX - waveform_->X());
  display_->ZoomBy(std::pow(2.0, notches));
  // The time under the pointer stays under it.
  const int room = std::max(0, waveform_->Width() - waveform_->VisibleWidth());
  display_->ScrollAllTo(std::clamp(waveform_->ColumnOfTime(t) - viewX, 0, room));
  window_->InvalidateAll();
  UpdateScrollBar();
  UpdateStatus();
}

bool EP_AudioFileEditor::SetSelectionTimes(double from, double to) {
  if (!waveform_) return false;
  errorText_.clear();
  if (to < from) std::swap(from, to);
  const double duration = Duration();
  // Half a sample of slack: a typed end that rounds to the last sample is the end.
  const double slack = mixer_->sampleRate > 0 ? 0.5 / mixer_->sampleRate : 0;
  if (!(from >= 0) || !(to <= duration + slack)) {
    SetError(FormatTime(std::isnan(to) || to > duration ? to : from, 3, true, false) +
             " lies outside the document (0:00.000 to " + FormatTime(duration, 3, true, false) + ")");
    return false;
  }
  keyAnchor_ = -1;
  Select(from, std::min(to, duration));
  ScrollToShow(from);
  return true;
}
