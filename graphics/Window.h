#pragma once
// The root of a graphic tree and the window-level services its graphics share: pointer capture,
// the pointer shape, the host's scroll bars, the 20 ms timer and popup menus.
#include <string>
#include <vector>

#include "graphics/Graphic.h"

class GraphicsHost;

enum CursorCode : std::int32_t {
  CursorArrow = 0,
  CursorWait = 1,
  CursorHand = 2,
  CursorResizeHorizontal = 3,
  CursorResizeVertical = 4,
};

inline constexpr int kTimerPeriodMs = 20;
// Scroll bars always run 0..kScrollBarMaximum when shown.
inline constexpr int kScrollBarMaximum = 32767;
inline constexpr int kFirstMenuIdentifier = 1024;

enum class ScrollRequest {
  LineLeft,
  LineRight,
  PageLeft,
  PageRight,
  Thumb,  // thumb track or thumb position, with the thumb value 0..kScrollBarMaximum
  LeftEnd,
  RightEnd,
};

// The new first visible unit for a request on a bar showing page of range units from pos.
int ScrollRequestPosition(ScrollRequest request, int pos, int range, int page, int thumb);
// The thumb value that shows position p of range units.
int ScrollThumbOf(int p, int range);

class CGI_Window : public CGP_Graphic {
public:
  CGI_Window(GraphicsHost* host, int width, int height);
  ~CGI_Window() override;

  void InvalidateAll() override;
  void Invalidate(int x, int y, int w, int h) override;
  void OnContextMenu(int px, int py) override;
  void OnButtonDown(int px, int py, int button, bool ctrl, bool shift) override;
  void OnMouseMove(int px, int py, int region) override;
  void OnButtonUp(int px, int py, int button, bool ctrl, bool shift) override;
  virtual void ScrollTo(int newX, int newY);

  void CaptureMouse(CGP_Graphic* graphic);
  void SetCursorCode(int code);
  void SetHScroll(int pos, int range, int page, int step);
  void SetVScroll(int pos, int range, int page, int step);
  void EnableTimer(bool on);
  // Shows count items at the last context point: flags bit 1 makes a separator, bit 0 greys an
  // item. Returns the chosen index, or -1 when dismissed or without a host.
  int PopupMenu(int count, const char* const* texts, const int* flags);
  // The host operates its horizontal or vertical bar: computes the new position, moves the
  // thumb and calls ScrollTo.
  void OnHostScroll(bool horizontal, ScrollRequest request, int thumb = 0);

  GraphicsHost* Host() const { return host; }
  // Called by a host that goes away before its root.
  void DetachHost() { host = nullptr; }
  int CursorCodeValue() const { return cursorCode; }
  CGP_Graphic* Captured() const { return captured; }
  int HPos() const { return hPos; }
  int HRange() const { return hRange; }
  int HPage() const { return hPage; }
  int HStep() const { return hStep; }
  int VPos() const { return vPos; }
  int VRange() const { return vRange; }
  int VPage() const { return vPage; }
  int VStep() const { return vStep; }
  int MenuX() const { return menuX; }
  int MenuY() const { return menuY; }
  // The clock and the caret period of the host (a steady clock and 530 ms without one).
  std::int32_t NowMs() const;
  int CaretBlinkTimeMs() const;

protected:
  GraphicsHost* host;
  std::int32_t cursorCode = CursorArrow;
  CGP_Graphic* captured = nullptr;
  std::int32_t hPos = 0, hRange = 0, hPage = 0, hStep = 0;
  std::int32_t vPos = 0, vRange = 0, vPage = 0, vStep = 0;
  std::int32_t menuX = 0, menuY = 0;

  friend class CGP_Graphic;
  void SetScrollBar(bool horizontal, int pos, int range, int page);
};
