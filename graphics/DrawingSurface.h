#pragma once
// The drawing target of the display. The graphics draw only through these few operations, so
// the same tree paints into a QImage in the editor and into an in-memory raster in the tests.
#include <cstdint>
#include <string>

// 0x00BBGGRR, red in the lowest byte.
using Colour = std::uint32_t;

inline constexpr Colour kBlack = 0x000000;
inline constexpr Colour kWhite = 0xFFFFFF;
inline constexpr Colour kGrey = 0x808080;
inline constexpr Colour kDarkGrey = 0x404040;
inline constexpr Colour kLightGrey = 0xC0C0C0;
inline constexpr Colour kRed = 0x0000FF;
inline constexpr Colour kAzure = 0xFF8000;

inline constexpr int RedOf(Colour c) { return c & 0xFF; }
inline constexpr int GreenOf(Colour c) { return (c >> 8) & 0xFF; }
inline constexpr int BlueOf(Colour c) { return (c >> 16) & 0xFF; }
inline constexpr Colour MakeColour(int r, int g, int b) {
  return Colour(r & 0xFF) | (Colour(g & 0xFF) << 8) | (Colour(b & 0xFF) << 16);
}

// The two colours the desktop decides: window background and the face of 3-D controls. The
// application sets them from its palette; until then they are white and a light grey.
Colour WindowBackgroundColour();
Colour FaceColour();
void SetSystemColours(Colour windowBackground, Colour face);

// One precomputed pixel column of a waveform: rows top..bottom (either order), both included.
struct ColumnSpan {
  std::uint16_t top = 0;
  std::uint16_t bottom = 0;
  Colour colour = 0;
  bool clipped = false;  // a sample of the column reaches full scale (the waveform marks it red)
};

// A label font. pointSize 0 asks for the surface's default size, an empty face for its default
// face; orientation is in tenths of a degree (only 0 is drawn upright).
struct LabelFont {
  std::string face;
  int pointSize = 0;
  int weight = 400;
  bool italic = false;
  bool underline = false;
  int orientation = 0;
  bool operator==(const LabelFont&) const = default;
};

struct TextExtent {
  int width = 0;
  int height = 0;
};

enum class TextHAlign { Left, Centre, Right };
enum class TextVAlign { Top, Centre, Bottom };

// The pixels of an axis-parallel line from (x1, y1) towards (x2, y2), end excluded, cut to a
// width x height raster: along the line from `first` to `last` inclusive; `start` is the
// line's first coordinate along it, for the phase of dots. False when nothing is visible or
// the line is not axis-parallel.
struct AxisLinePixels {
  bool horizontal;
  int across;  // the row of a horizontal line, the column of a vertical one
  long long first, last, start;
};
bool ClipAxisLine(int x1, int y1, int x2, int y2, int width, int height, AxisLinePixels* out);

class DrawingSurface {
public:
  virtual ~DrawingSurface() = default;

  virtual int Width() const = 0;
  virtual int Height() const = 0;

  virtual void FillRect(int x, int y, int w, int h, Colour colour) = 0;
  // One pixel wide, from (x1, y1) towards (x2, y2); the end point itself is not drawn.
  virtual void Line(int x1, int y1, int x2, int y2, Colour colour, bool dotted) = 0;
  // The pixels (x, y1) .. (x, y2), both ends included, in either order.
  virtual void VerticalRun(int x, int y1, int y2, Colour colour) = 0;
  // Column i at x0 + i from y0 + top_i to y0 + bottom_i. Surfaces may do this faster; the
  // result must equal a VerticalRun per column.
  virtual void ColumnSpans(int x0, int y0, int count, const ColumnSpan* spans);

  // Single-line text placed in the box (left, top, width, height) by the alignment and clipped
  // to it; the background stays as it is.
  virtual void Text(int left, int top, int width, int height, const std::string& text,
                    const LabelFont& font, Colour colour, TextHAlign h, TextVAlign v) = 0;
  virtual TextExtent MeasureText(const std::string& text, const LabelFont& font) = 0;
};
