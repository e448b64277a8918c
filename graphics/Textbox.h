#pragma once
// A box of one or more lines of text on a solid background. When its hover colour differs from
// its text colour it is clickable: the text lights up under the pointer and a click on it
// notifies the parent.
#include <string>
#include <vector>

#include "graphics/DrawingSurface.h"
#include "graphics/Graphic.h"

class CGP_Textbox : public CGP_Graphic {
public:
  CGP_Textbox(CGP_Graphic* parent, CGI_Window* window, int x, int y, int width, int height);

  // The whole text is one line.
  void SetText(const std::string& text);
  void SetTextFont(const std::string& face, int size, bool bold, bool italic, bool underline);
  void SetColours(Colour text, Colour background, Colour hover);
  void SetTextAlignment(int hAlign, int vAlign);

  void OnButtonDown(int px, int py, int button, bool ctrl, bool shift) override;
  void OnMouseLeave() override;
  void OnMouseMove(int px, int py, int region) override;
  void OnButtonUp(int px, int py, int button, bool ctrl, bool shift) override;
  void Draw(DrawingSurface& surface, int x, int y, int w, int h, int originX, int originY) override;

  const std::string& Text() const { return text; }
  bool OnText() const { return onText; }
  bool Clickable() const { return hoverColour != textColour; }

private:
  bool PointOnText(int px, int py) const;

  std::string text = "Default Text";
  std::string face;
  std::int32_t size = 0;
  bool bold = false, italic = false, underline = false;
  std::int32_t hAlign = 1, vAlign = 2;
  Colour textColour = kBlack, backColour = kWhite, hoverColour = kRed;
  std::int32_t lineHeight;
  std::vector<std::size_t> lineEnds;
  bool onText = false;
  std::int32_t textWidth = 0, textHeight = 0;
  std::int32_t textX = 0, textY = 0;  // text origin of the last draw
  bool pressedOnText = false;
};
