#pragma once
// The level meter of the Record dialog: a bar on a decibel scale from 0 dB (top) to -90 dB,
// lit in the sound's colour, with a peak-hold line and a scale every 6 dB.
#include "graphics/DrawingSurface.h"
#include "graphics/Graphic.h"

class CGP_VUMeter : public CGP_Graphic {
public:
  using CGP_Graphic::CGP_Graphic;

  // Stores the latest values and raises maximum to level; the caller repaints.
  void UpdateLevels(float newLevel, float newHold, Colour newColour);
  // The whole meter is drawn whatever part is asked for.
  void Draw(DrawingSurface& surface, int x, int y, int w, int h, int originX, int originY) override;

  float Level() const { return level; }
  float Hold() const { return hold; }
  float Maximum() const { return maximum; }
  void SetMaximum(float value) { maximum = value; }
  Colour SoundColour() const { return colour; }

  // Row of a linear value on a meter of h0 bar rows (0 = 0 dB), and the unlit colour of a row.
  static int RowOfLevel(float value, int h0);
  static Colour ZoneColour(int row, int h0);

private:
  float level = 0;
  float hold = 0;
  float maximum = 0;
  Colour colour = 0;
};
