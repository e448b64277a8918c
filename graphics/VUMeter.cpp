#include "graphics/VUMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "graphics/DrawingHelpers.h"
#include "graphics/Rounding.h"

namespace {
constexpr Colour kHoldGreen = 0x00FF00;
constexpr Colour kEdgeWhite = 0xF8F8F8;

double Decibels(float v) {
  const double floor = std::pow(10.0, -4.5);
  double db = 20.0 * std::log10(std::max(double(v), floor));  // NaN compares false: floor
  if (!(db >= -90.0)) db = -90.0;
  return std::min(db, 0.0);
}
}  // namespace

void CGP_VUMeter::UpdateLevels(float newLevel, float newHold, Colour newColour) {
  level = newLevel;
  hold = newHold;
  colour = newColour;
  if (level > maximum) maximum = level;
}

int CGP_VUMeter::RowOfLevel(float value, int h0) {
  return std::min(RoundHalfAway(h0 * Decibels(value) / -90.0), h0 - 1);
}

Colour CGP_VUMeter::ZoneColour(int r, int h0) {
  const int rowA = TruncToInt(h0 - 0.7 * h0);
  const int rowB = TruncToInt(h0 - 0.85 * h0);
  int red, green;
  if (r <= rowB) {
    red = 128;
    green = rowB > 0 ? r * 128 / rowB : 0;  // a meter under 11 pixels has no olive zone
  } else if (r <= rowA) {
    green = 128;
    red = (rowA - r) * 128 / (rowA - rowB);
  } else {
    red = 0;
    green = (h0 - r) * 128 / (h0 - rowA);
  }
  return MakeColour(red, green, 0);
}

void CGP_VUMeter::Draw(DrawingSurface& s, int, int, int, int, int ox, int oy) {
  const int W = width, H = height, h0 = H - 4;
  const int levelRow = RowOfLevel(level, h0);
  const int holdRow = RowOfLevel(hold, h0);

  DrawSunkenFrame(s, ox + 20, oy, W - 20, H);
  const int L = ox + 22;
  for (int r = h0 - 1; r >= 0; --r) {
    const int Y = oy + r + 2;
    const Colour zone = ZoneColour(r, h0);
    if (r == holdRow) {
      DrawLine(s, L, Y, L + W - 25, Y, kHoldGreen);
    } else if (r <= levelRow) {
      DrawLine(s, L, Y, L + W - 25, Y, zone);
    } else {
      DrawLine(s, L, Y, L + 6, Y, zone);
      if (r == levelRow + 1) {
        DrawLine(s, L + 6, Y, L + W - 31, Y, kEdgeWhite);
      } else {
        DrawLine(s, L + 6, Y, L + 7, Y, kEdgeWhite);
        DrawLine(s, L + 7, Y, L + W - 32, Y, colour);
        DrawLine(s, L + W - 32, Y, L + W - 31, Y, kEdgeWhite);
      }
      DrawLine(s, L + W - 31, Y, L + W - 25, Y, zone);
    }
  }

  for (int d = 6; d <= 84; d += 6) {
    const int row = TruncToInt(double(h0) * d / 90.0);
    DrawLine(s, ox + 17, oy + row + 2, ox + 20, oy + row + 2, kBlack);
    if (d % 12 == 6) {
      char text[16];
      std::snprintf(text, sizeof text, "%d", -d);
      DrawLabel(s, ox + 17, oy + row + 2, 7, kBlack, text, LabelRight, LabelMiddle, "Arial");
    }
  }
}
