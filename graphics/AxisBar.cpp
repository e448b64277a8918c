#include "graphics/AxisBar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "graphics/DrawingHelpers.h"
#include "graphics/FormatTime.h"
#include "graphics/Rounding.h"
#include "graphics/Window.h"

namespace {
// A tick row with more ticks than this per pixel of the area would be a solid block; such
// a range (a damaged value, a step far too small) draws no ticks rather than loop for ages.
constexpr double kMaxTicksPerPixel = 4.0;

bool TooManyTicks(double k0, double k1, int pixels) {
  return !(k1 - k0 <= kMaxTicksPerPixel * (pixels + 2));
}
}  // namespace

CGP_AxisBar::CGP_AxisBar(CGP_Graphic* parent_, CGI_Window* window_, int x_, int y_, int width_,
                         int height_, bool horizontal_)
    : CGP_Graphic(parent_, window_, x_, y_, width_, height_), horizontal(horizontal_) {}

void CGP_AxisBar::SetRange(double minValue_, double maxValue_, double origin_) {
  minValue = minValue_;
  maxValue = maxValue_;
  origin = origin_;
  needsLayout = true;
  InvalidateAll();
}

void CGP_AxisBar::SetTicks(double major, double minor, bool automatic) {
  majorStep = defaultMajor = major;
  minorStep = defaultMinor = minor;
  autoTicks = automatic;
  needsLayout = true;
  InvalidateAll();
}

void CGP_AxisBar::SetLabelMode(int mode, int decimals_) {
  labelMode = mode;
  decimals = decimals_;
  needsLayout = true;
  InvalidateAll();
}

void CGP_AxisBar::SetColours(Colour text, Colour background) {
  textColour = text;
  backColour = background;
  InvalidateAll();
}

void CGP_AxisBar::SetSize(int newWidth, int newHeight) {
  CGP_Graphic::SetSize(newWidth, newHeight);
  needsLayout = true;
}

std::string CGP_AxisBar::FormatLabel(double v) const {
  if (labelMode == AxisTimeLabels) return FormatTime(v, decimals, true, v >= 3600);
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", std::clamp(decimals, 0, 20), double(float(v)));
  return text;
}

double CGP_AxisBar::ValueAtPixel(double p) const {
  return minValue + (maxValue - minValue) * p / width;
}
int CGP_AxisBar::PixelOfValue(double v) const {
  return RoundHalfAway(width * (v - minValue) / (maxValue - minValue));
}
double CGP_AxisBar::ValueAtRow(double r) const {
  return maxValue - (maxValue - minValue) * r / height;
}
int CGP_AxisBar::RowOfValue(double v) const {
  return RoundHalfAway(height * (maxValue - v) / (maxValue - minValue));
}

void CGP_AxisBar::LayoutTicks(DrawingSurface& s) {
  const TextExtent digits = MeasureLabel(s, 0, "0123456789");
  textHeight = digits.height;
  digitWidth = digits.width / 10 + 1;
  if (autoTicks) {
    decimals = 0;
    int old;
    do {
      old = decimals;
      const std::size_t chars = std::max(FormatLabel(minValue).size(), FormatLabel(maxValue).size());
      const double span = horizontal ? (maxValue - minValue) * double(chars) * digitWidth / width
                                     : (maxValue - minValue) * textHeight / height;
      const double target = 1.25 * span;
      double step = 500000;
      int decade = 5, multiplier = 5;
      bool found = false;
      for (int k = -6; k <= 5 && !found; ++k) {
        for (int m : {1, 2, 5}) {
          const double candidate = m * std::pow(10.0, k);
          if (candidate > target) {
            step = candidate;
            decade = k;
            multiplier = m;
            found = true;
            break;
          }
        }
      }
      decimals = std::max(0, -decade);
      majorStep = step;
      minorStep = multiplier == 5 ? step / 5 : step / 2;
    } while (decimals > old);
  }
  needsLayout = false;
}

void CGP_AxisBar::Draw(DrawingSurface& s, int x0, int y0, int wd, int ht, int ox, int oy) {
  if (needsLayout) LayoutTicks(s);
  FillSolid(s, ox + x0, oy + y0, wd, ht, backColour);
  if (horizontal) DrawHorizontal(s, x0, wd, ox, oy);
  else DrawVertical(s, y0, ht, ox, oy);
}

void CGP_AxisBar::DrawHorizontal(DrawingSurface& s, int x0, int wd, int ox, int oy) {
  // The baseline covers every asked column (a line's end point is not drawn).
  DrawLine(s, ox + x0, oy, ox + x0 + wd, oy, kLightGrey);
  DrawLine(s, ox + x0, oy + 1, ox + x0 + wd, oy + 1, kWhite);

  if (minorStep > 0) {
    const double k0 = std::round((ValueAtPixel(x0) - origin) / minorStep);
    const double k1 = std::round((ValueAtPixel(x0 + wd) - origin) / minorStep);
    if (!TooManyTicks(k0, k1, wd)) {
      for (double k = k0; k <= k1; ++k) {
        const int p = PixelOfValue(origin + k * minorStep);
        if (p < x0 || p >= x0 + wd) continue;
        DrawLine(s, ox + p, oy, ox + p, oy + 5, kGrey);
        DrawLine(s, ox + p + 1, oy + 1, ox + p + 1, oy + 5, kWhite);
      }
    }
  }
  if (majorStep > 0) {
    // From one step before the area, so a label that starts left of it still shows.
    const double k0 = std::round((std::max(minValue, ValueAtPixel(x0) - majorStep) - origin) / majorStep);
    const double k1 = std::round((ValueAtPixel(x0 + wd) - origin) / majorStep);
    if (!TooManyTicks(k0, k1, wd)) {
      for (double k = k0; k <= k1; ++k) {
        const double v = origin + k * majorStep;
        const int p = PixelOfValue(v);
        if (p >= x0 + wd) continue;
        DrawLine(s, ox + p, oy, ox + p, oy + 10, kGrey);
        DrawLine(s, ox + p + 1, oy + 1, ox + p + 1, oy + 10, kWhite);
        const std::string label = FormatLabel(v);
        const long long labelEnd = (long long)p + (long long)label.size() * digitWidth;
        if (labelEnd >= 0 && labelEnd <= width - 1)
          DrawLabel(s, ox + p + 3, oy + 3, 0, textColour, label, LabelLeft, LabelTop);
      }
    }
  }
}

void CGP_AxisBar::DrawVertical(DrawingSurface& s, int y0, int ht, int ox, int oy) {
  const int R = ox + width;
  DrawLine(s, R - 1, oy, R - 1, oy + y0 + ht - 1, kBlack);
  DrawLine(s, R - 2, oy, R - 2, oy + y0 + ht - 1, kGrey);

  if (minorStep > 0) {
    const double k0 = std::round((ValueAtRow(y0 + ht) - origin) / minorStep);
    const double k1 = std::round((ValueAtRow(y0) - origin) / minorStep);
    if (!TooManyTicks(k0, k1, ht)) {
      for (double k = k0; k <= k1; ++k) {
        const int r = RowOfValue(origin + k * minorStep);
        if (r < y0 || r >= y0 + ht) continue;
        DrawLine(s, R - 6, oy + r, R - 1, oy + r, kGrey);
        DrawLine(s, R - 6, oy + r + 1, R - 1, oy + r + 1, kWhite);
      }
    }
  }
  if (majorStep > 0) {
    const double k0 = std::round((ValueAtRow(y0 + ht) - origin) / majorStep);
    const double k1 = std::round((ValueAtRow(y0) - origin) / majorStep);
    if (!TooManyTicks(k0, k1, ht)) {
      const int half = textHeight / 2;
      for (double k = k0; k <= k1; ++k) {
        const double v = origin + k * majorStep;
        const int r = RowOfValue(v);
        if (r <= half || r >= height - half || r < y0 || r >= y0 + ht) continue;
        DrawLabel(s, R - 6, oy + r, 0, textColour, FormatLabel(v), LabelRight, LabelMiddle);
      }
    }
  }
}

void CGP_AxisBar::OnMouseEnter() {
  CGP_Graphic::OnMouseEnter();
  if (draggable && Root()) Root()->SetCursorCode(CursorHand);
}

void CGP_AxisBar::OnMouseLeave() {
  CGP_Graphic::OnMouseLeave();
  if (draggable && Root()) Root()->SetCursorCode(CursorArrow);
}

void CGP_AxisBar::OnButtonDown(int px, int py, int, bool, bool) {
  if (!draggable) return;
  if (Root()) Root()->CaptureMouse(this);
  dragStart = horizontal ? px : py;
  dragging = true;
}

void CGP_AxisBar::OnMouseMove(int px, int py, int) {
  if (!dragging) return;
  if (horizontal) {
    const int limit = parent ? parent->Width() - width : 0;
    SetPosition(std::min(0, std::max(x + px - dragStart, limit)), y);
  } else {
    const int limit = parent ? parent->Height() - height : 0;
    SetPosition(x, std::min(0, std::max(y + py - dragStart, limit)));
  }
  Notify(NotifyAxisDragged, this);
}

void CGP_AxisBar::OnButtonUp(int, int, int, bool, bool) {
  if (dragging && Root()) Root()->CaptureMouse(nullptr);
  dragging = false;
}

void CGP_MultiTrackDisplayAxis::OnContextMenu(int, int) {
  static const char* const kItems[] = {"Time", "Seconds"};
  if (!Root()) return;
  const int choice = Root()->PopupMenu(2, kItems, nullptr);
  if (choice == 0) SetLabelMode(AxisTimeLabels, 0);
  else if (choice == 1) SetLabelMode(AxisNumberLabels, 0);
}

void CGP_TrackDisplayAxis::OnContextMenu(int, int) {
  static const char* const kItems[] = {"Sample values", "Percentage"};
  if (!Root()) return;
  const int choice = Root()->PopupMenu(2, kItems, nullptr);
  if (choice == 0) {
    SetRange(-32767, 32767, 0);
    SetTicks(10000, 5000, false);
  } else if (choice == 1) {
    SetRange(-100, 100, 0);
    SetTicks(25, 10, false);
  }
}
