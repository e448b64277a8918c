#pragma once
// An in-memory raster that draws exactly as the display's operations are defined, for tests
// and for checking pictures without a window system. Text is drawn as one solid cell per
// character of a fixed-pitch font, and every text call is also logged.
#include <string>
#include <vector>

#include "graphics/DrawingSurface.h"

class RasterSurface : public DrawingSurface {
public:
  struct TextCall {
    int left, top, width, height;
    std::string text;
    LabelFont font;
    Colour colour;
    TextHAlign h;
    TextVAlign v;
    int textX, textY;  // where the first character cell landed
  };

  RasterSurface(int width, int height, Colour background = kWhite);

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void FillRect(int x, int y, int w, int h, Colour colour) override;
  void Line(int x1, int y1, int x2, int y2, Colour colour, bool dotted) override;
  void VerticalRun(int x, int y1, int y2, Colour colour) override;
  void Text(int left, int top, int width, int height, const std::string& text,
            const LabelFont& font, Colour colour, TextHAlign h, TextVAlign v) override;
  TextExtent MeasureText(const std::string& text, const LabelFont& font) override;

  // The default-size font's cell; other point sizes scale it (the default size is 8 points).
  void SetFontMetrics(int charWidth, int lineHeight);
  TextExtent CellOf(const LabelFont& font) const;

  Colour Pixel(int x, int y) const;
  void SetPixel(int x, int y, Colour colour);
  void Clear(Colour colour);
  const std::vector<Colour>& Pixels() const { return pixels_; }
  std::vector<TextCall> texts;
  // Operation counts, for tests that check how much a paint drew.
  int lineCalls = 0, runCalls = 0, fillCalls = 0;

private:
  int width_, height_;
  std::vector<Colour> pixels_;
  int charWidth_ = 7;
  int lineHeight_ = 13;
};
