#pragma once
// A ruler of labelled ticks along one edge: the time axis under the waveforms and the value
// axis beside a track row. It can lay its ticks out for the space it has and be dragged.
#include <string>

#include "graphics/DrawingSurface.h"
#include "graphics/Graphic.h"

enum AxisLabelMode { AxisNumberLabels = 0, AxisTimeLabels = 1 };

class CGP_AxisBar : public CGP_Graphic {
public:
  CGP_AxisBar(CGP_Graphic* parent, CGI_Window* window, int x, int y, int width, int height,
              bool horizontal);

  void SetRange(double minValue, double maxValue, double origin);
  void SetTicks(double major, double minor, bool automatic);
  void SetLabelMode(int mode, int decimals);
  void SetColours(Colour text, Colour background);
  void SetDraggable(bool on) { draggable = on; }

  void OnButtonDown(int px, int py, int button, bool ctrl, bool shift) override;
  void OnMouseEnter() override;
  void OnMouseLeave() override;
  void OnMouseMove(int px, int py, int region) override;
  void OnButtonUp(int px, int py, int button, bool ctrl, bool shift) override;
  void Draw(DrawingSurface& surface, int x, int y, int w, int h, int originX, int originY) override;
  void SetSize(int newWidth, int newHeight) override;

  // Measures the label font and, with automatic ticks, picks steps and decimals that keep the
  // labels apart. Draw runs it when a range, tick, label-mode or size change asked for it.
  void LayoutTicks(DrawingSurface& surface);
  std::string FormatLabel(double v) const;
  double ValueAtPixel(double p) const;
  int PixelOfValue(double v) const;
  double ValueAtRow(double r) const;
  int RowOfValue(double v) const;

  int LabelMode() const { return labelMode; }
  double MinorStep() const { return minorStep; }
  double MajorStep() const { return majorStep; }
  double Origin() const { return origin; }
  double MinValue() const { return minValue; }
  double MaxValue() const { return maxValue; }
  int Decimals() const { return decimals; }
  bool AutoTicks() const { return autoTicks; }
  bool Draggable() const { return draggable; }
  bool Horizontal() const { return horizontal; }
  bool NeedsLayout() const { return needsLayout; }
  bool Dragging() const { return dragging; }
  int TextHeight() const { return textHeight; }
  int DigitWidth() const { return digitWidth; }
  Colour TextColour() const { return textColour; }
  Colour BackColour() const { return backColour; }

protected:
  std::int32_t labelMode = AxisNumberLabels;
  double minorStep = 1;
  double majorStep = 1;
  double origin = 0;
  double minValue = 0;
  double maxValue = 10;
  Colour textColour = kBlack;
  Colour backColour = kWhite;
  std::int32_t decimals = 0;
  bool autoTicks = false;
  bool draggable = false;
  bool horizontal;
  bool needsLayout = true;
  double defaultMajor = 1, defaultMinor = 1;
  std::int32_t textHeight = 0, digitWidth = 0;
  std::int32_t dragStart = 0;
  bool dragging = false;

private:
  void DrawHorizontal(DrawingSurface& s, int x0, int wd, int ox, int oy);
  void DrawVertical(DrawingSurface& s, int y0, int ht, int ox, int oy);
};

// The time axis under the waveforms: its menu switches between time and seconds labels.
class CGP_MultiTrackDisplayAxis : public CGP_AxisBar {
public:
  using CGP_AxisBar::CGP_AxisBar;
  void OnContextMenu(int px, int py) override;
};

// The value axis of a track row: sample values or percentages.
class CGP_TrackDisplayAxis : public CGP_AxisBar {
public:
  using CGP_AxisBar::CGP_AxisBar;
  void OnContextMenu(int px, int py) override;
};
