#pragma once
// A document's view drawn offscreen exactly as the editor draws it: the display track's row,
// the time axis under it, the selection and the cursor.
#include <QGuiApplication>
#include <QImage>
#include <QString>
#include <memory>

class CAP_SampleTrack;

struct ViewOptions {
  int width = 1200;
  int height = 300;
  double start = 0;    // first visible second
  double seconds = 0;  // visible span; 0 = the whole track
  bool grey = false;   // colouring off
  bool hasSelection = false;
  double selectionStart = 0, selectionEnd = 0;
};

inline constexpr int kMinViewWidth = 16, kMaxViewWidth = 20000;
inline constexpr int kMinViewHeight = 40, kMaxViewHeight = 10000;

// Null image with the reason in error for an empty track or a size out of bounds.
QImage RenderTrackView(CAP_SampleTrack& track, const ViewOptions& options, QString* error);

// The QGuiApplication that fonts need, when none exists yet (offscreen without a display);
// null when one exists. The caller keeps it for as long as it draws.
std::unique_ptr<QGuiApplication> GuiApplicationIfNeeded();
