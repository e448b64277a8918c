#include "graphics/TrackDisplay.h"

#include <algorithm>

#include "analysis/SampleTrack.h"
#include "graphics/AxisBar.h"
#include "graphics/Rounding.h"
#include "graphics/TrackWaveform.h"
#include "graphics/Window.h"

CGP_TrackDisplay::CGP_TrackDisplay(CGP_Graphic* parent_, CGI_Window* window_, int x_, int y_,
                                   int width_, int height_, int margin, CAP_SampleTrack* track)
    : CGP_Graphic(parent_, window_, x_, y_, width_, height_) {
  if (margin >= 1) {
    valueAxis = new CGP_TrackDisplayAxis(this, window, 0, 0, margin, height, false);
    valueAxis->SetAnchors(true, true, false, true);
    valueAxis->SetRange(-32767, 32767, 0);
    valueAxis->SetTicks(10000, 5000, false);
    valueAxis->SetLabelMode(AxisNumberLabels, 0);
    valueAxis->SetColours(kBlack, FaceColour());
  }
  const int clipWidth = std::max(width - margin, 0);
  clipArea = new CGP_Graphic(this, window, margin, 0, clipWidth, height);
  clipArea->SetAnchors(true, true, true, true);
  // The waveform registers itself with the track and fills its cache.
  waveform = new CGP_TrackWaveform(clipArea, window, 0, 0, clipWidth, height, track);
  waveform->SetAnchors(true, true, false, true);
  waveform->SetTimerInterest(true);
}

void CGP_TrackDisplay::SetSize(int newWidth, int newHeight) {
  const int oldWaveWidth = waveform->Width();
  const double visibleFraction =
      oldWaveWidth > 0 ? std::min(1.0, double(clipArea->Width()) / oldWaveWidth) : 1.0;
  const double scrollFraction = oldWaveWidth > 0 ? double(waveform->X()) / oldWaveWidth : 0.0;
  CGP_Graphic::SetSize(newWidth, newHeight);
  const long long zoomed = RoundHalfAway(clipArea->Width() / visibleFraction);
  waveform->SetSize(int(std::min<long long>(zoomed, waveform->Track()->Length())), clipArea->Height());
  waveform->SetPosition(RoundHalfAway(waveform->Width() * scrollFraction), waveform->Y());
}
