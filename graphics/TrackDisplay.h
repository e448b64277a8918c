#pragma once
// One track row: an optional value axis on the left and a clip area holding the track's
// waveform, which keeps its zoom relative to the window when the row is resized.
#include "graphics/Graphic.h"

class CAP_SampleTrack;
class CGP_TrackDisplayAxis;
class CGP_TrackWaveform;

class CGP_TrackDisplay : public CGP_Graphic {
public:
  // margin: width of the value axis (none when 0).
  CGP_TrackDisplay(CGP_Graphic* parent, CGI_Window* window, int x, int y, int width, int height,
                   int margin, CAP_SampleTrack* track);

  void SetSize(int newWidth, int newHeight) override;

  CGP_TrackDisplayAxis* ValueAxis() const { return valueAxis; }
  CGP_Graphic* ClipArea() const { return clipArea; }
  CGP_TrackWaveform* Waveform() const { return waveform; }

private:
  CGP_TrackDisplayAxis* valueAxis = nullptr;
  CGP_Graphic* clipArea;
  CGP_TrackWaveform* waveform;
};
