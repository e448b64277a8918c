#include "graphics/qt/ViewRenderer.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "analysis/SampleTrack.h"
#include "graphics/HostEvents.h"
#include "graphics/MultiTrackDisplay.h"
#include "graphics/TrackWaveform.h"
#include "graphics/qt/QtSurface.h"

std::unique_ptr<QGuiApplication> GuiApplicationIfNeeded() {
  if (QGuiApplication::instance()) return nullptr;
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "tintwave";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QGuiApplication>(argc, argv);
}

QImage RenderTrackView(CAP_SampleTrack& track, const ViewOptions& o, QString* error) {
  auto fail = [&](const QString& text) {
    if (error) *error = text;
    return QImage();
  };
  if (o.width < kMinViewWidth || o.width > kMaxViewWidth || o.height < kMinViewHeight ||
      o.height > kMaxViewHeight)
    return fail(QStringLiteral("the picture must be %1 to %2 pixels wide and %3 to %4 high")
                    .arg(kMinViewWidth).arg(kMaxViewWidth).arg(kMinViewHeight).arg(kMaxViewHeight));
  if (track.Length() <= 0 || !(track.duration > 0)) return fail(QStringLiteral("the file holds no audio"));
  const std::unique_ptr<QGuiApplication> app = GuiApplicationIfNeeded();

  CGI_Window root(nullptr, o.width, o.height);
  DisplayTracks tracks{{&track}, track.sampleRate, track.duration};
  auto* display = new CGP_MultiTrackDisplay(&root, &root, 0, 0, o.width, o.height, tracks, false);
  display->SetAnchors(true, true, true, true);
  display->ShowTrackRow(0, true);
  display->SetRowHeight(o.height, true);
  CGP_TrackWaveform* wave = display->LastWaveform();

  const double dur = track.duration;
  const double start = std::clamp(o.start == o.start ? o.start : 0.0, 0.0, dur);
  const double span = o.seconds > 0 ? std::min(o.seconds, dur - start) : dur - start;
  if (span > 0 && span < dur) {
    display->ZoomBy(dur / span);
    display->ScrollAllTo(wave->ColumnOfTime(start));
  }
  wave->SetColourDisplay(!o.grey);
  if (o.hasSelection) {
    const double a = std::min(o.selectionStart, o.selectionEnd), b = std::max(o.selectionStart, o.selectionEnd);
    wave->SetSelection(a, b);
    wave->SetCursorTime(a, FollowNone);
  } else {
    wave->SetCursorTime(start, FollowNone);
  }
  wave->SetCaret(true);

  QImage image(o.width, o.height, QImage::Format_RGB32);
  {
    QPainter painter(&image);
    QtSurface surface(painter, &image);
    HostPaint(&root, surface, 0, 0, o.width, o.height);
  }
  root.DestroyChildren();
  return image;
}
