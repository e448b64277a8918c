#pragma once
// The display's drawing target over QPainter, used by the editor window and by
// `tintwave-cli render`. Drawing into a QImage of 32-bit RGB, the waveform's column strokes
// are written straight into the pixels.
#include <QFont>
#include <QPainter>

#include "graphics/DrawingSurface.h"

class QImage;

class QtSurface : public DrawingSurface {
public:
  // The painter must stay active while the surface is used. image, when given, is the
  // painter's device; it enables the fast column path.
  explicit QtSurface(QPainter& painter, QImage* image = nullptr);

  int Width() const override;
  int Height() const override;
  void FillRect(int x, int y, int w, int h, Colour colour) override;
  void Line(int x1, int y1, int x2, int y2, Colour colour, bool dotted) override;
  void VerticalRun(int x, int y1, int y2, Colour colour) override;
  void ColumnSpans(int x0, int y0, int count, const ColumnSpan* spans) override;
  void Text(int left, int top, int width, int height, const std::string& text,
            const LabelFont& font, Colour colour, TextHAlign h, TextVAlign v) override;
  TextExtent MeasureText(const std::string& text, const LabelFont& font) override;

  // The face and point size used for an empty face and for size 0.
  static void SetDefaultFace(const QString& face, int pointSize);
  static QColor ToQColor(Colour c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

private:
  QFont FontFor(const LabelFont& font);
  bool DirectPixels() const;

  QPainter& painter_;
  QImage* image_;
  LabelFont lastFont_;
  QFont lastQFont_;
  bool haveFont_ = false;
};
