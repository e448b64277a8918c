#include "graphics/Window.h"

#include <algorithm>
#include <chrono>

#include "graphics/GraphicsHost.h"
#include "graphics/Rounding.h"

std::int32_t SteadyClockMs() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

int ScrollRequestPosition(ScrollRequest request, int pos, int range, int page, int thumb) {
  switch (request) {
    case ScrollRequest::LineLeft: return std::max(0, pos - page / 10);
    case ScrollRequest::LineRight: return std::min(pos + page / 10, range - page);
    case ScrollRequest::PageLeft: return std::max(0, pos - page);
    case ScrollRequest::PageRight: return std::min(pos + page, range - page);
    case ScrollRequest::Thumb: return RoundHalfAway(double(thumb) * range / kScrollBarMaximum);
    case ScrollRequest::LeftEnd: return 0;
    case ScrollRequest::RightEnd: return range - page;
  }
  return pos;
}

int ScrollThumbOf(int p, int range) {
  return range > 0 ? TruncToInt(double(p) * kScrollBarMaximum / range) : 0;
}

CGI_Window::CGI_Window(GraphicsHost* host_, int width_, int height_)
    : CGP_Graphic(nullptr, nullptr, 0, 0, width_, height_), host(host_) {
  if (host) host->SetRoot(this);
}

CGI_Window::~CGI_Window() {
  CaptureMouse(nullptr);
  if (host) host->SetRoot(nullptr);
}

void CGI_Window::InvalidateAll() { Invalidate(0, 0, width, height); }

void CGI_Window::Invalidate(int ix, int iy, int iw, int ih) {
  const int left = std::max(ix, 0), top = std::max(iy, 0);
  const int right = std::min(ix + iw, width), bottom = std::min(iy + ih, height);
  if (host && right >= left && bottom >= top) host->InvalidateRect(left, top, right - left, bottom - top);
}

void CGI_Window::OnContextMenu(int px, int py) {
  menuX = px;
  menuY = py;
  CGP_Graphic::OnContextMenu(px, py);
}

void CGI_Window::OnButtonDown(int px, int py, int button, bool ctrl, bool shift) {
  if (!captured) return CGP_Graphic::OnButtonDown(px, py, button, ctrl, shift);
  captured->WindowToLocal(px, py);
  captured->OnButtonDown(px, py, button, ctrl, shift);
}

void CGI_Window::OnMouseMove(int px, int py, int region) {
  if (!captured) return CGP_Graphic::OnMouseMove(px, py, region);
  if (region == RegionInside && captured->Parent()) {
    int qx = px, qy = py;
    captured->Parent()->WindowToLocal(qx, qy);
    region = captured->Parent()->RegionOf(qx, qy);
  }
  captured->WindowToLocal(px, py);
  captured->OnMouseMove(px, py, region);
}

void CGI_Window::OnButtonUp(int px, int py, int button, bool ctrl, bool shift) {
  if (!captured) return CGP_Graphic::OnButtonUp(px, py, button, ctrl, shift);
  CGP_Graphic* target = captured;
  target->WindowToLocal(px, py);
  target->OnButtonUp(px, py, button, ctrl, shift);
}

void CGI_Window::ScrollTo(int newX, int newY) {
  hPos = newX;
  vPos = newY;
}

void CGI_Window::CaptureMouse(CGP_Graphic* graphic) {
  if (host) {
    if (graphic && !captured) host->CapturePointer();
    else if (!graphic && captured) host->ReleasePointer();
  }
  captured = graphic;
}

void CGI_Window::SetCursorCode(int code) {
  if (code == cursorCode) return;
  cursorCode = code;
  if (host) host->CursorCodeChanged(code);
}

void CGI_Window::SetScrollBar(bool horizontal, int pos, int range, int page) {
  if (!host) return;
  if (range > page)
    host->SetScrollBar(horizontal, kScrollBarMaximum, ScrollThumbOf(page, range), ScrollThumbOf(pos, range));
  else
    host->SetScrollBar(horizontal, 0, 0, 0);
}

void CGI_Window::SetHScroll(int pos, int range, int page, int step) {
  hPos = pos;
  hRange = range;
  hPage = page;
  hStep = step;
  SetScrollBar(true, pos, range, page);
}

void CGI_Window::SetVScroll(int pos, int range, int page, int step) {
  vPos = pos;
  vRange = range;
  vPage = page;
  vStep = step;
  SetScrollBar(false, pos, range, page);
}

void CGI_Window::OnHostScroll(bool horizontal, ScrollRequest request, int thumb) {
  const int pos = horizontal ? hPos : vPos;
  const int range = horizontal ? hRange : vRange;
  const int page = horizontal ? hPage : vPage;
  int p = ScrollRequestPosition(request, pos, range, page, thumb);
  if (!horizontal && request == ScrollRequest::Thumb) p = std::min(p, range - page);
  if (host && range > page) {
    host->SetScrollBar(horizontal, kScrollBarMaximum, ScrollThumbOf(page, range), ScrollThumbOf(p, range));
  }
  if (horizontal) ScrollTo(p, vPos);
  else ScrollTo(hPos, p);
}

void CGI_Window::EnableTimer(bool on) {
  if (on != wantsTimer && host) {
    if (on) host->StartTimer(kTimerPeriodMs);
    else host->StopTimer();
  }
  SetTimerInterest(on);
}

int CGI_Window::PopupMenu(int count, const char* const* texts, const int* flags) {
  if (!host) return -1;
  std::vector<PopupMenuItem> items;
  for (int i = 0; i < count; ++i) {
    PopupMenuItem item;
    item.identifier = kFirstMenuIdentifier + i;
    item.text = texts && texts[i] ? texts[i] : "";
    if (flags) {
      item.separator = (flags[i] & 2) != 0;
      item.greyed = (flags[i] & 1) != 0;
    }
    items.push_back(item);
  }
  const int chosen = host->TrackPopupMenu(menuX, menuY, items);
  if (chosen < kFirstMenuIdentifier || chosen >= kFirstMenuIdentifier + count) return -1;
  return chosen - kFirstMenuIdentifier;
}

std::int32_t CGI_Window::NowMs() const { return host ? host->NowMs() : SteadyClockMs(); }
int CGI_Window::CaretBlinkTimeMs() const { return host ? host->CaretBlinkTimeMs() : 530; }
