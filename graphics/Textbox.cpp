#include "graphics/Textbox.h"

#include <algorithm>

#include "graphics/DrawingHelpers.h"
#include "graphics/Window.h"

CGP_Textbox::CGP_Textbox(CGP_Graphic* parent_, CGI_Window* window_, int x_, int y_, int width_,
                         int height_)
    : CGP_Graphic(parent_, window_, x_, y_, width_, height_), lineHeight(height_),
      lineEnds{text.size()} {}

void CGP_Textbox::SetText(const std::string& newText) {
  text = newText;
  lineEnds = {text.size()};
  InvalidateAll();
}

void CGP_Textbox::SetTextFont(const std::string& face_, int size_, bool bold_, bool italic_,
                              bool underline_) {
  face = face_;
  size = size_;
  bold = bold_;
  italic = italic_;
  underline = underline_;
  InvalidateAll();
}

void CGP_Textbox::SetColours(Colour text_, Colour background, Colour hover) {
  textColour = text_;
  backColour = background;
  hoverColour = hover;
  InvalidateAll();
}

void CGP_Textbox::SetTextAlignment(int h, int v) {
  hAlign = h;
  vAlign = v;
  InvalidateAll();
}

void CGP_Textbox::Draw(DrawingSurface& s, int, int, int, int, int ox, int oy) {
  FillSolid(s, ox, oy, width, height, backColour);
  std::vector<std::string> lines;
  std::size_t begin = 0;
  for (std::size_t end : lineEnds) {
    end = std::min(end, text.size());
    lines.push_back(text.substr(begin, end - std::min(begin, end)));
    begin = end;
  }
  textWidth = 0;
  int lastHeight = 0;
  for (const std::string& line : lines) {
    const TextExtent e = MeasureLabel(s, size, line, face, bold, italic, underline);
    textWidth = std::max(textWidth, e.width);
    lastHeight = e.height;
  }
  textHeight = int(lines.size() - 1) * lineHeight + lastHeight;
  textX = hAlign == 2 ? (width - textWidth) / 2 : hAlign == 3 ? width - textWidth : 0;
  textY = vAlign == 1 ? height - textHeight : vAlign == 2 ? (height - textHeight) / 2 : 0;
  const Colour colour = onText ? hoverColour : textColour;
  for (std::size_t i = 0; i < lines.size(); ++i)
    DrawLabel(s, ox + textX, oy + textY + int(i) * lineHeight, size, colour, lines[i], LabelLeft,
              LabelTop, face, bold, italic, underline);
}

bool CGP_Textbox::PointOnText(int px, int py) const {
  return hovered && px >= textX && py >= textY && px < textX + textWidth && py < textY + textHeight;
}

void CGP_Textbox::OnMouseMove(int px, int py, int) {
  if (!Clickable()) return;
  const bool now = PointOnText(px, py);
  if (now == onText) return;
  onText = now;
  if (Root()) Root()->SetCursorCode(now ? CursorHand : CursorArrow);
  InvalidateAll();
}

void CGP_Textbox::OnMouseLeave() {
  CGP_Graphic::OnMouseLeave();
  onText = false;
  if (Root()) Root()->SetCursorCode(CursorArrow);
  InvalidateAll();
}

void CGP_Textbox::OnButtonDown(int px, int py, int, bool, bool) {
  pressedOnText = Clickable() && PointOnText(px, py);
}

void CGP_Textbox::OnButtonUp(int px, int py, int, bool, bool) {
  const bool click = pressedOnText && Clickable() && PointOnText(px, py);
  pressedOnText = false;
  if (click) Notify(NotifyTextClicked, this);
}
