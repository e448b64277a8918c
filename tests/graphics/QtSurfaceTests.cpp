// The QPainter surface draws what the in-memory raster draws.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "graphics/DrawingHelpers.h"
#include "graphics/RasterSurface.h"
#include "graphics/qt/QtSurface.h"

namespace {

Colour PixelOf(const QImage& image, int x, int y) {
  const QRgb p = image.pixel(x, y);
  return MakeColour(qRed(p), qGreen(p), qBlue(p));
}

// The same strokes on both surfaces.
void DrawSample(DrawingSurface& s) {
  FillSolid(s, 0, 0, 64, 48, kWhite);
  FillSolid(s, 4, 4, 10, 6, 0x336699);
  DrawLine(s, 2, 20, 40, 20, kRed);
  DrawLine(s, 50, 40, 50, 12, kAzure);
  DrawLine(s, 0, 30, 30, 30, kBlack, true);
  DrawSunkenFrame(s, 30, 2, 30, 16);
  ColumnSpan spans[20];
  for (int i = 0; i < 20; ++i)
    spans[i] = {std::uint16_t(22 + i % 7), std::uint16_t(44 - i % 5), Colour(0x10203 * (i + 1))};
  DrawColumnSpans(s, -5, 0, 20, spans);
  DrawColumnSpans(s, 55, 0, 20, spans);  // runs past the right edge
}

TEST(QtSurface, MatchesTheRasterPixelForPixel) {
  int argc = 0;
  QGuiApplication app(argc, nullptr);
  for (bool direct : {true, false}) {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
      QPainter painter(&image);
      QtSurface surface(painter, direct ? &image : nullptr);
      EXPECT_EQ(surface.Width(), 64);
      DrawSample(surface);
    }
    RasterSurface raster(64, 48, kBlack);
    DrawSample(raster);
    int differences = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x)
        if (PixelOf(image, x, y) != raster.Pixel(x, y)) ++differences;
    EXPECT_EQ(differences, 0) << (direct ? "direct pixels" : "painter");
  }
}

TEST(QtSurface, TextIsMeasuredAndDrawnInItsBox) {
  int argc = 0;
  QGuiApplication app(argc, nullptr);
  QImage image(200, 40, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  QtSurface surface(painter, &image);
  const TextExtent one = MeasureLabel(surface, 0, "0");
  const TextExtent ten = MeasureLabel(surface, 0, "0123456789");
  EXPECT_GT(one.width, 2);
  EXPECT_GT(ten.width, 5 * one.width);
  EXPECT_GT(ten.height, 6);
  DrawLabel(surface, 10, 10, 0, kBlack, "1:23", LabelLeft, LabelTop);
  painter.end();
  int dark = 0, outside = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x) {
      const bool isDark = qGray(image.pixel(x, y)) < 128;
      if (!isDark) continue;
      if (x >= 10 && x < 50 && y >= 10 && y < 30) ++dark;
      else ++outside;
    }
  EXPECT_GT(dark, 10);
  EXPECT_EQ(outside, 0);
}

}  // namespace
