#include "graphics/RasterSurface.h"

#include <algorithm>
#include <cstdlib>

RasterSurface::RasterSurface(int width, int height, Colour background)
    : width_(std::max(width, 0)), height_(std::max(height, 0)),
      pixels_(std::size_t(width_) * std::size_t(height_), background) {}

void RasterSurface::SetFontMetrics(int charWidth, int lineHeight) {
  charWidth_ = std::max(charWidth, 1);
  lineHeight_ = std::max(lineHeight, 1);
}

TextExtent RasterSurface::CellOf(const LabelFont& font) const {
  if (font.pointSize <= 0) return {charWidth_, lineHeight_};
  return {std::max(1, (charWidth_ * font.pointSize + 4) / 8),
          std::max(1, (lineHeight_ * font.pointSize + 4) / 8)};
}

Colour RasterSurface::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0xFFFFFFFFu;
  return pixels_[std::size_t(y) * width_ + x];
}

void RasterSurface::SetPixel(int x, int y, Colour colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[std::size_t(y) * width_ + x] = colour;
}

void RasterSurface::Clear(Colour colour) { std::fill(pixels_.begin(), pixels_.end(), colour); }

void RasterSurface::FillRect(int x, int y, int w, int h, Colour colour) {
  ++fillCalls;
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = std::min<long long>((long long)x + w, width_), y1 = std::min<long long>((long long)y + h, height_);
  for (int yy = y0; yy < y1; ++yy)
    std::fill(pixels_.begin() + std::size_t(yy) * width_ + x0, pixels_.begin() + std::size_t(yy) * width_ + x1,
              colour);
}

void RasterSurface::Line(int x1, int y1, int x2, int y2, Colour colour, bool dotted) {
  ++lineCalls;
  // Axis-parallel lines (all the display draws) are cut to the raster first, so a line whose
  // ends lie far outside costs only its visible part. Dots keep their phase from the start.
  AxisLinePixels line;
  if (ClipAxisLine(x1, y1, x2, y2, width_, height_, &line)) {
    for (long long v = line.first; v <= line.last; ++v) {
      if (dotted && std::llabs(v - line.start) % 2 != 0) continue;
      const long long px = line.horizontal ? v : line.across, py = line.horizontal ? line.across : v;
      pixels_[std::size_t(py) * width_ + std::size_t(px)] = colour;
    }
    return;
  }
  if (y1 == y2 || x1 == x2) return;  // axis-parallel but not visible
  // Other lines: Bresenham from the start point, stopping before the end point.
  const long long dx = std::llabs((long long)x2 - x1), dy = -std::llabs((long long)y2 - y1);
  const int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
  long long err = dx + dy, x = x1, y = y1;
  for (long long i = 0; !(x == x2 && y == y2); ++i) {
    if ((!dotted || i % 2 == 0) && x >= 0 && y >= 0 && x < width_ && y < height_)
      pixels_[std::size_t(y) * width_ + std::size_t(x)] = colour;
    const long long e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

void RasterSurface::VerticalRun(int x, int y1, int y2, Colour colour) {
  ++runCalls;
  if (x < 0 || x >= width_) return;
  const int a = std::max(std::min(y1, y2), 0), b = std::min(std::max(y1, y2), height_ - 1);
  for (int y = a; y <= b; ++y) pixels_[std::size_t(y) * width_ + x] = colour;
}

TextExtent RasterSurface::MeasureText(const std::string& text, const LabelFont& font) {
  const TextExtent cell = CellOf(font);
  return {cell.width * int(text.size()), cell.height};
}

void RasterSurface::Text(int left, int top, int width, int height, const std::string& text,
                         const LabelFont& font, Colour colour, TextHAlign h, TextVAlign v) {
  const TextExtent cell = CellOf(font);
  const TextExtent extent = MeasureText(text, font);
  int tx = left, ty = top;
  if (h == TextHAlign::Centre) tx = left + (width - extent.width) / 2;
  if (h == TextHAlign::Right) tx = left + width - extent.width;
  if (v == TextVAlign::Centre) ty = top + (height - extent.height) / 2;
  if (v == TextVAlign::Bottom) ty = top + height - extent.height;
  texts.push_back({left, top, width, height, text, font, colour, h, v, tx, ty});

  // Each visible character is a solid cell one pixel narrower and two lower than its advance,
  // clipped to the box like the platform's text.
  const int clipX0 = std::max(left, 0), clipX1 = std::min(left + width, width_);
  const int clipY0 = std::max(top, 0), clipY1 = std::min(top + height, height_);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ') continue;
    const int cx = tx + int(i) * cell.width;
    for (int yy = std::max(ty + 1, clipY0); yy < std::min(ty + cell.height - 1, clipY1); ++yy)
      for (int xx = std::max(cx, clipX0); xx < std::min(cx + cell.width - 1, clipX1); ++xx)
        pixels_[std::size_t(yy) * width_ + xx] = colour;
  }
}
