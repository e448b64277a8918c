#include "graphics/DrawingHelpers.h"

#include <optional>

namespace {
std::optional<LabelFont> gDefaultFont;
}  // namespace

void FillSolid(DrawingSurface& s, int x, int y, int w, int h, Colour colour) {
  if (w > 0 && h > 0) s.FillRect(x, y, w, h, colour);
}

void DrawLine(DrawingSurface& s, int x1, int y1, int x2, int y2, Colour colour, bool dotted) {
  s.Line(x1, y1, x2, y2, colour, dotted);
}

void DrawColumnSpans(DrawingSurface& s, int x0, int y0, int count, const ColumnSpan* spans) {
  if (count > 0) s.ColumnSpans(x0, y0, count, spans);
}

void DrawLabel(DrawingSurface& s, int x, int y, int size, Colour colour, const std::string& text,
               int hAlign, int vAlign, const std::string& face, bool bold, bool italic,
               bool underline, int orientation) {
  const LabelFont font = CreateLabelFont(face, size, bold, italic, underline, orientation);
  const int boxWidth = int(text.size()) * kLabelCharWidth;
  int left = x;
  TextHAlign h = TextHAlign::Left;
  if (hAlign == LabelCentre) {
    left = x - boxWidth / 2;
    h = TextHAlign::Centre;
  } else if (hAlign == LabelRight) {
    left = x - boxWidth;
    h = TextHAlign::Right;
  }
  int top = y - kLabelBoxHeight;
  TextVAlign v = TextVAlign::Top;
  if (vAlign == LabelBottom) {
    v = TextVAlign::Bottom;
  } else if (vAlign == LabelMiddle) {
    top = y - kLabelBoxHeight / 2;
    v = TextVAlign::Centre;
  } else if (vAlign == LabelTop) {
    top = y;
  }
  s.Text(left, top, boxWidth, kLabelBoxHeight, text, font, colour, h, v);
}

TextExtent MeasureLabel(DrawingSurface& s, int size, const std::string& text,
                        const std::string& face, bool bold, bool italic, bool underline,
                        int orientation) {
  return s.MeasureText(text, CreateLabelFont(face, size, bold, italic, underline, orientation));
}

void DrawSunkenFrame(DrawingSurface& s, int x, int y, int w, int h) {
  DrawLine(s, x, y, x, y + h - 1, kGrey);
  DrawLine(s, x + 1, y + 1, x + 1, y + h - 2, kDarkGrey);
  DrawLine(s, x, y, x + w - 1, y, kGrey);
  DrawLine(s, x + 1, y + 1, x + w - 2, y + 1, kDarkGrey);
  DrawLine(s, x + w - 1, y, x + w - 1, y + h - 1, kWhite);
  DrawLine(s, x + w - 2, y + 1, x + w - 2, y + h - 2, kLightGrey);
  DrawLine(s, x, y + h - 1, x + w - 1, y + h - 1, kWhite);
  DrawLine(s, x + 1, y + h - 2, x + w - 2, y + h - 2, kLightGrey);
}

LabelFont CreateLabelFont(const std::string& face, int size, bool bold, bool italic,
                          bool underline, int orientation) {
  LabelFont font;
  if (!gDefaultFont || (!face.empty() && size != 0)) {
    font.face = face;
    font.pointSize = size;
    font.weight = bold ? 700 : 400;
    font.italic = italic;
    font.underline = underline;
    font.orientation = orientation;
    return font;
  }
  font = *gDefaultFont;
  font.orientation = orientation;
  if (underline) font.underline = true;
  if (italic) font.italic = true;
  if (bold) font.weight = 700;
  if (size != 0) font.pointSize = size;
  if (!face.empty()) font.face = face;
  return font;
}

void SetDefaultLabelFont(const LabelFont& description) { gDefaultFont = description; }
void ClearDefaultLabelFont() { gDefaultFont.reset(); }
