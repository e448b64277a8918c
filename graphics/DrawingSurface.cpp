#include "graphics/DrawingSurface.h"

#include <algorithm>

namespace {
Colour gWindowBackground = kWhite;
Colour gFace = 0xF0F0F0;
}  // namespace

Colour WindowBackgroundColour() { return gWindowBackground; }
Colour FaceColour() { return gFace; }
void SetSystemColours(Colour windowBackground, Colour face) {
  gWindowBackground = windowBackground;
  gFace = face;
}

void DrawingSurface::ColumnSpans(int x0, int y0, int count, const ColumnSpan* spans) {
  for (int i = 0; i < count; ++i)
    VerticalRun(x0 + i, y0 + spans[i].top, y0 + spans[i].bottom, spans[i].colour);
}

bool ClipAxisLine(int x1, int y1, int x2, int y2, int width, int height, AxisLinePixels* out) {
  if (y1 != y2 && x1 != x2) return false;
  const bool horizontal = y1 == y2;
  const int across = horizontal ? y1 : x1;
  if (across < 0 || across >= (horizontal ? height : width)) return false;
  const long long a = horizontal ? x1 : y1, b = horizontal ? x2 : y2;  // b is not drawn
  const long long limit = horizontal ? width : height;
  const long long lo = a <= b ? std::max(a, 0LL) : std::max(b + 1, 0LL);
  const long long hi = a <= b ? std::min(b - 1, limit - 1) : std::min(a, limit - 1);
  if (hi < lo) return false;
  *out = {horizontal, across, lo, hi, a};
  return true;
}
