#pragma once
// The drawing helpers every graphic uses, over a DrawingSurface. Text and patterns are drawn on
// a transparent background.
#include <string>

#include "graphics/DrawingSurface.h"

// Label alignment codes as the graphics pass them: hAlign 1 left, 2 centre, 3 right; vAlign 1
// bottom, 2 centre, 3 top (any other vAlign: top of a box ending at y).
enum LabelHAlign { LabelLeft = 1, LabelCentre = 2, LabelRight = 3 };
enum LabelVAlign { LabelBottom = 1, LabelMiddle = 2, LabelTop = 3 };

// The estimated box of a label: 20 pixels high, 10 pixels per character.
inline constexpr int kLabelBoxHeight = 20;
inline constexpr int kLabelCharWidth = 10;

void FillSolid(DrawingSurface& s, int x, int y, int w, int h, Colour colour);
void DrawLine(DrawingSurface& s, int x1, int y1, int x2, int y2, Colour colour, bool dotted = false);
void DrawColumnSpans(DrawingSurface& s, int x0, int y0, int count, const ColumnSpan* spans);
void DrawLabel(DrawingSurface& s, int x, int y, int size, Colour colour, const std::string& text,
               int hAlign, int vAlign, const std::string& face = "", bool bold = false,
               bool italic = false, bool underline = false, int orientation = 0);
TextExtent MeasureLabel(DrawingSurface& s, int size, const std::string& text,
                        const std::string& face = "", bool bold = false, bool italic = false,
                        bool underline = false, int orientation = 0);
void DrawSunkenFrame(DrawingSurface& s, int x, int y, int w, int h);

// The font of the text helpers: built from scratch, or derived from the registered default.
LabelFont CreateLabelFont(const std::string& face, int size, bool bold, bool italic,
                          bool underline, int orientation);
// Registers the default label font (the main frame passes its status-bar font).
void SetDefaultLabelFont(const LabelFont& description);
void ClearDefaultLabelFont();
