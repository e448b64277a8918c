#pragma once
// A document's drawing area: one row per shown track of the mixer, stacked, a time axis under
// them that is as wide as the waveforms and scrolls with them, and a text box in the corner.
// Zoom and scroll resize and move the waveforms and the axis together.
#include <vector>

#include "graphics/Graphic.h"

class CAP_SampleTrack;
class CGP_MultiTrackDisplayAxis;
class CGP_Textbox;
class CGP_TrackDisplay;
class CGP_TrackWaveform;

// What the display needs of the document's mixer: its tracks (index = mixer track index),
// rate and duration.
struct DisplayTracks {
  std::vector<CAP_SampleTrack*> tracks;
  int rate = 0;
  double duration = 0;
};

inline constexpr int kTimeAxisHeight = 22;
inline constexpr int kValueAxisMargin = 40;
inline constexpr int kMaxDisplayRows = 32;

class CGP_MultiTrackDisplay : public CGP_Graphic {
public:
  CGP_MultiTrackDisplay(CGP_Graphic* parent, CGI_Window* window, int x, int y, int width,
                        int height, const DisplayTracks& mixer, bool withAxes);

  void ShowTrackRow(int index, bool show);
  // The row stacked on top (the editor's mix row, with the channels under it); -1: index order.
  void SetFirstRow(int index);
  void SetRowHeight(int rowHeight, bool fit);
  // factor 2 zooms in, 0.5 out; the waveforms keep the cursor or selection in view.
  void ZoomBy(double factor);
  // offset: the first visible column.
  void ScrollAllTo(int offset);

  void OnTimerTick() override;
  void SetSize(int newWidth, int newHeight) override;

  CGP_TrackDisplay* Row(int index) const;
  CGP_TrackWaveform* Waveform(int index) const;
  // The waveform of the last shown row (the display track's in the editor).
  CGP_TrackWaveform* LastWaveform() const;
  CGP_MultiTrackDisplayAxis* TimeAxis() const { return timeAxis; }
  CGP_Textbox* CornerBox() const { return cornerBox; }
  CGP_Graphic* RowsArea() const { return rowsArea; }
  CGP_Graphic* RowsStack() const { return rowsStack; }
  CGP_Graphic* AxisArea() const { return axisArea; }
  int RowHeight() const { return rowHeight; }
  bool FitRows() const { return fitRows; }
  int Margin() const { return margin; }

private:
  void LayoutRows();
  // The time axis follows the widest waveform and the waveforms' x.
  void AlignTimeAxis();

  DisplayTracks mixer;
  CGP_TrackDisplay* rows[kMaxDisplayRows] = {};
  CGP_Graphic* rowsArea;
  CGP_Graphic* rowsStack;
  CGP_Textbox* cornerBox;
  CGP_Graphic* axisArea;
  CGP_MultiTrackDisplayAxis* timeAxis;
  std::int32_t rowHeight;
  bool fitRows = false;
  int firstRow = -1;
  std::int32_t margin;
};
