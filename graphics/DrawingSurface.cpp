#include "graphics/DrawingSurface.h"

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
