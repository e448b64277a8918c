#include "graphics/qt/QtSurface.h"

#include <QFontMetrics>
#include <QImage>
#include <QPaintDevice>
#include <algorithm>

namespace {
QString gDefaultFace = QStringLiteral("DejaVu Sans");
int gDefaultPointSize = 8;

QRgb ToQRgb(Colour c) { return qRgb(RedOf(c), GreenOf(c), BlueOf(c)); }
}  // namespace

void QtSurface::SetDefaultFace(const QString& face, int pointSize) {
  gDefaultFace = face;
  gDefaultPointSize = pointSize > 0 ? pointSize : 8;
}

QtSurface::QtSurface(QPainter& painter, QImage* image) : painter_(painter), image_(image) {
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setRenderHint(QPainter::TextAntialiasing, true);
  painter_.setBackgroundMode(Qt::TransparentMode);
}

int QtSurface::Width() const { return painter_.device() ? painter_.device()->width() : 0; }
int QtSurface::Height() const { return painter_.device() ? painter_.device()->height() : 0; }

bool QtSurface::DirectPixels() const {
  if (!image_ || painter_.device() != image_ || painter_.hasClipping()) return false;
  if (!painter_.transform().isIdentity()) return false;
  const QImage::Format f = image_->format();
  return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 ||
         f == QImage::Format_ARGB32_Premultiplied;
}

void QtSurface::FillRect(int x, int y, int w, int h, Colour colour) {
  if (w <= 0 || h <= 0) return;
  painter_.fillRect(QRect(x, y, w, h), ToQColor(colour));
}

void QtSurface::Line(int x1, int y1, int x2, int y2, Colour colour, bool dotted) {
  if (x1 == x2 && y1 == y2) return;
  AxisLinePixels line;
  if (ClipAxisLine(x1, y1, x2, y2, Width(), Height(), &line)) {
    const QColor c = ToQColor(colour);
    auto run = [&](long long from, long long count) {
      if (line.horizontal) painter_.fillRect(QRect(int(from), line.across, int(count), 1), c);
      else painter_.fillRect(QRect(line.across, int(from), 1, int(count)), c);
    };
    if (!dotted) return run(line.first, line.last - line.first + 1);
    for (long long v = line.first; v <= line.last; ++v)
      if ((v - line.start) % 2 == 0) run(v, 1);
    return;
  }
  if (y1 == y2 || x1 == x2) return;  // axis-parallel but not visible
  QPen pen(ToQColor(colour));
  pen.setWidth(0);
  pen.setCosmetic(true);
  if (dotted) pen.setStyle(Qt::DotLine);
  painter_.setPen(pen);
  painter_.drawLine(x1, y1, x2, y2);
}

void QtSurface::VerticalRun(int x, int y1, int y2, Colour colour) {
  const int a = std::min(y1, y2), b = std::max(y1, y2);
  painter_.fillRect(QRect(x, a, 1, b - a + 1), ToQColor(colour));
}

void QtSurface::ColumnSpans(int x0, int y0, int count, const ColumnSpan* spans) {
  if (!DirectPixels()) return DrawingSurface::ColumnSpans(x0, y0, count, spans);
  // Straight into the raster: one store per pixel instead of a painter call per column.
  const int W = image_->width(), H = image_->height();
  uchar* bits = image_->bits();
  const qsizetype stride = image_->bytesPerLine();
  Colour lastColour = ~spans[0].colour;
  QRgb rgb = 0;
  for (int i = 0; i < count; ++i) {
    const int x = x0 + i;
    if (x < 0 || x >= W) continue;
    const ColumnSpan& s = spans[i];
    if (s.colour != lastColour) {
      lastColour = s.colour;
      rgb = ToQRgb(s.colour);
    }
    const int a = std::max(y0 + std::min<int>(s.top, s.bottom), 0);
    const int b = std::min(y0 + std::max<int>(s.top, s.bottom), H - 1);
    uchar* p = bits + qsizetype(a) * stride + qsizetype(x) * 4;
    for (int y = a; y <= b; ++y, p += stride) *reinterpret_cast<QRgb*>(p) = rgb;
  }
}

QFont QtSurface::FontFor(const LabelFont& font) {
  if (haveFont_ && font == lastFont_) return lastQFont_;
  QFont f(font.face.empty() ? gDefaultFace : QString::fromStdString(font.face));
  f.setPointSize(font.pointSize > 0 ? font.pointSize : gDefaultPointSize);
  f.setWeight(font.weight >= 600 ? QFont::Bold : QFont::Normal);
  f.setItalic(font.italic);
  f.setUnderline(font.underline);
  lastFont_ = font;
  lastQFont_ = f;
  haveFont_ = true;
  return f;
}

void QtSurface::Text(int left, int top, int width, int height, const std::string& text,
                     const LabelFont& font, Colour colour, TextHAlign h, TextVAlign v) {
  if (text.empty() || width <= 0 || height <= 0) return;
  int flags = Qt::TextSingleLine;
  flags |= h == TextHAlign::Centre ? Qt::AlignHCenter : h == TextHAlign::Right ? Qt::AlignRight : Qt::AlignLeft;
  flags |= v == TextVAlign::Centre ? Qt::AlignVCenter : v == TextVAlign::Bottom ? Qt::AlignBottom : Qt::AlignTop;
  painter_.setFont(FontFor(font));
  painter_.setPen(ToQColor(colour));
  // Clipped to its box, like the platform's boxed text.
  painter_.save();
  painter_.setClipRect(QRect(left, top, width, height), Qt::IntersectClip);
  painter_.drawText(QRect(left, top, width, height), flags, QString::fromStdString(text));
  painter_.restore();
}

TextExtent QtSurface::MeasureText(const std::string& text, const LabelFont& font) {
  const QFontMetrics metrics(FontFor(font), painter_.device());
  return {metrics.horizontalAdvance(QString::fromStdString(text)), metrics.height()};
}
