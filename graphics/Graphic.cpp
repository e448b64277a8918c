#include "graphics/Graphic.h"

#include <algorithm>

#include "graphics/Window.h"

int PointerRegionOf(int px, int py, int w, int h) {
  const bool left = px < 0, right = px >= w, above = py < 0, below = py >= h;
  if (left) return above ? RegionAboveLeft : below ? RegionBelowLeft : RegionLeft;
  if (right) return above ? RegionAboveRight : below ? RegionBelowRight : RegionRight;
  if (above) return RegionAbove;
  if (below) return RegionBelow;
  return RegionInside;
}

CGP_Graphic::CGP_Graphic(CGP_Graphic* parent_, CGI_Window* window_, int x_, int y_, int width_,
                         int height_)
    : parent(parent_), window(window_), x(x_), y(y_), width(width_), height(height_) {
  if (parent) parent->children.push_back(this);
}

CGP_Graphic::~CGP_Graphic() {
  CGI_Window* root = Root();
  if (root && root->captured == this) root->CaptureMouse(nullptr);
  if (parent) {
    auto& siblings = parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  for (CGP_Graphic* child : children) {
    child->parent = nullptr;
    child->window = nullptr;
  }
}

CGI_Window* CGP_Graphic::Root() const {
  if (window) return window;
  return dynamic_cast<CGI_Window*>(const_cast<CGP_Graphic*>(this));
}

void CGP_Graphic::DestroyChildren() {
  std::vector<CGP_Graphic*> list;
  list.swap(children);
  for (CGP_Graphic* child : list) {
    child->parent = nullptr;
    DestroyGraphicTree(child);
  }
}

void DestroyGraphicTree(CGP_Graphic* graphic) {
  if (!graphic) return;
  graphic->DestroyChildren();
  delete graphic;
}

void CGP_Graphic::OnTimerTick() {
  // A child may leave the tree during its tick; walk a copy.
  const std::vector<CGP_Graphic*> list = children;
  for (CGP_Graphic* child : list)
    if (child->wantsTimer) child->OnTimerTick();
}

bool CGP_Graphic::Notify(int code, CGP_Graphic* sender) {
  return parent ? parent->Notify(code, sender) : false;
}

void CGP_Graphic::LocalToWindow(int& px, int& py) const {
  for (const CGP_Graphic* g = this; g; g = g->parent) {
    px += g->x;
    py += g->y;
  }
}

void CGP_Graphic::WindowToLocal(int& px, int& py) const {
  for (const CGP_Graphic* g = this; g; g = g->parent) {
    px -= g->x;
    py -= g->y;
  }
}

void CGP_Graphic::GetVisibleRect(int& vx, int& vy, int& vw, int& vh) const {
  if (!parent) {
    vx = 0;
    vy = 0;
    vw = width;
    vh = height;
    return;
  }
  int px, py, pw, ph;
  parent->GetVisibleRect(px, py, pw, ph);
  const int left = std::max(0, px - x);
  const int top = std::max(0, py - y);
  const int right = std::min(width - 1, px - x + pw - 1);
  const int bottom = std::min(height - 1, py - y + ph - 1);
  vx = left;
  vy = top;
  vw = std::max(0, right - left + 1);
  vh = std::max(0, bottom - top + 1);
}

void CGP_Graphic::InvalidateAll() { Invalidate(0, 0, width, height); }

void CGP_Graphic::Invalidate(int, int, int, int) {
  CGI_Window* root = Root();
  if (!root) return;
  int vx, vy, vw, vh;
  GetVisibleRect(vx, vy, vw, vh);
  if (vw <= 0 || vh <= 0) return;
  LocalToWindow(vx, vy);
  root->Invalidate(vx, vy, vw, vh);
}

void CGP_Graphic::OnContextMenu(int px, int py) {
  const std::vector<CGP_Graphic*> list = children;
  for (CGP_Graphic* child : list)
    if (child->Contains(px - child->x, py - child->y)) child->OnContextMenu(px - child->x, py - child->y);
}

void CGP_Graphic::OnButtonDown(int px, int py, int button, bool ctrl, bool shift) {
  const std::vector<CGP_Graphic*> list = children;
  for (CGP_Graphic* child : list)
    if (child->Contains(px - child->x, py - child->y))
      child->OnButtonDown(px - child->x, py - child->y, button, ctrl, shift);
}

void CGP_Graphic::OnMouseEnter() { hovered = true; }

void CGP_Graphic::OnMouseLeave() {
  hovered = false;
  const std::vector<CGP_Graphic*> list = children;
  for (CGP_Graphic* child : list)
    if (child->hovered) child->OnMouseLeave();
}

void CGP_Graphic::OnMouseMove(int px, int py, int region) {
  const std::vector<CGP_Graphic*> list = children;
  for (CGP_Graphic* child : list)
    if (child->hovered && !child->Contains(px - child->x, py - child->y)) child->OnMouseLeave();
  for (CGP_Graphic* child : list) {
    const int cx = px - child->x, cy = py - child->y;
    if (!child->Contains(cx, cy)) continue;
    if (!child->hovered) child->OnMouseEnter();
    child->OnMouseMove(cx, cy, region);
  }
}

void CGP_Graphic::OnButtonUp(int px, int py, int button, bool ctrl, bool shift) {
  const std::vector<CGP_Graphic*> list = children;
  for (CGP_Graphic* child : list)
    if (child->Contains(px - child->x, py - child->y))
      child->OnButtonUp(px - child->x, py - child->y, button, ctrl, shift);
}

void CGP_Graphic::OnWheel(bool) {}

void CGP_Graphic::Draw(DrawingSurface& surface, int rx, int ry, int rw, int rh, int originX,
                       int originY) {
  for (CGP_Graphic* child : children) {
    const int cx = rx - child->x, cy = ry - child->y;
    const int left = std::max(cx, 0), right = std::min(cx + rw - 1, child->width - 1);
    const int top = std::max(cy, 0), bottom = std::min(cy + rh - 1, child->height - 1);
    if (right >= left && bottom >= top)
      child->Draw(surface, left, top, right - left + 1, bottom - top + 1, originX + child->x,
                  originY + child->y);
  }
}

void CGP_Graphic::SetPosition(int newX, int newY) {
  x = newX;
  y = newY;
  InvalidateAll();
}

void CGP_Graphic::SetSize(int newWidth, int newHeight) {
  const int dw = newWidth - width, dh = newHeight - height;
  width = newWidth;
  height = newHeight;
  LayoutChildren(dw, dh);
}

void CGP_Graphic::LayoutChildren(int dw, int dh) {
  const std::vector<CGP_Graphic*> list = children;
  for (CGP_Graphic* child : list) {
    int nx = child->x, ny = child->y, nw = child->width, nh = child->height;
    if (child->anchorRight && !child->anchorLeft) nx += dw;
    if (child->anchorLeft && child->anchorRight) nw += dw;
    if (child->anchorBottom && !child->anchorTop) ny += dh;
    if (child->anchorTop && child->anchorBottom) nh += dh;
    if (nx != child->x || ny != child->y) child->SetPosition(nx, ny);
    if (nw != child->width || nh != child->height) child->SetSize(nw, nh);
  }
}

void CGP_Graphic::SetAnchors(bool left, bool top, bool right, bool bottom) {
  anchorLeft = left;
  anchorTop = top;
  anchorRight = right;
  anchorBottom = bottom;
}

void CGP_Graphic::SetTimerInterest(bool on) {
  if (!on) {
    wantsTimer = false;
    return;
  }
  for (CGP_Graphic* g = this; g && !g->wantsTimer; g = g->parent) g->wantsTimer = true;
}
