#pragma once
// The node of the display's retained graphic tree: a rectangle in its parent, anchors that say
// how it follows a parent resize, and children drawn in creation order over one another.
#include <cstdint>
#include <vector>

class CGI_Window;
class DrawingSurface;

// Where a point lies relative to a graphic of size (w, h).
enum PointerRegion : std::int32_t {
  RegionInside = 0,
  RegionLeft = 1,
  RegionAbove = 2,
  RegionRight = 3,
  RegionBelow = 4,
  RegionAboveLeft = 5,
  RegionBelowLeft = 6,
  RegionAboveRight = 7,
  RegionBelowRight = 8,
};

enum NotifyCode : std::int32_t {
  NotifyTextClicked = 1,
  NotifySelectionChanging = 2,
  NotifySelectionDone = 3,
  NotifyScrolled = 4,
  NotifyAxisDragged = 5,
};

int PointerRegionOf(int px, int py, int w, int h);

class CGP_Graphic {
public:
  // Appends itself to parent's children when parent is not null.
  CGP_Graphic(CGP_Graphic* parent, CGI_Window* window, int x, int y, int width, int height);
  // Releases a capture it holds, leaves its parent, detaches (does not delete) its children.
  virtual ~CGP_Graphic();
  CGP_Graphic(const CGP_Graphic&) = delete;
  CGP_Graphic& operator=(const CGP_Graphic&) = delete;

  virtual void OnTimerTick();
  virtual bool Notify(int code, CGP_Graphic* sender);
  virtual void LocalToWindow(int& px, int& py) const;
  virtual void WindowToLocal(int& px, int& py) const;
  virtual void GetVisibleRect(int& vx, int& vy, int& vw, int& vh) const;
  virtual void InvalidateAll();
  // Repaints the whole visible rectangle; the arguments are not used.
  virtual void Invalidate(int x, int y, int w, int h);
  virtual void OnContextMenu(int px, int py);
  virtual void OnButtonDown(int px, int py, int button, bool ctrl, bool shift);
  virtual void OnMouseEnter();
  virtual void OnMouseLeave();
  virtual void OnMouseMove(int px, int py, int region);
  virtual void OnButtonUp(int px, int py, int button, bool ctrl, bool shift);
  virtual void OnWheel(bool down);
  // Paints the part (x, y, w, h) of this graphic, in local coordinates, onto a surface where
  // the local origin lies at (originX, originY).
  virtual void Draw(DrawingSurface& surface, int x, int y, int w, int h, int originX, int originY);
  virtual void SetPosition(int newX, int newY);
  virtual void SetSize(int newWidth, int newHeight);

  void SetAnchors(bool left, bool top, bool right, bool bottom);
  void SetTimerInterest(bool on);
  int RegionOf(int px, int py) const { return PointerRegionOf(px, py, width, height); }
  bool Contains(int px, int py) const { return px >= 0 && py >= 0 && px < width && py < height; }

  // Deletes every child with its whole subtree and empties the list (the owner of a tree calls
  // this on its root before deleting the root).
  void DestroyChildren();

  CGP_Graphic* Parent() const { return parent; }
  CGI_Window* Window() const { return window; }
  const std::vector<CGP_Graphic*>& Children() const { return children; }
  int X() const { return x; }
  int Y() const { return y; }
  int Width() const { return width; }
  int Height() const { return height; }
  bool Hovered() const { return hovered; }
  bool WantsTimer() const { return wantsTimer; }
  bool AnchorLeft() const { return anchorLeft; }
  bool AnchorTop() const { return anchorTop; }
  bool AnchorRight() const { return anchorRight; }
  bool AnchorBottom() const { return anchorBottom; }

protected:
  CGP_Graphic* parent;
  CGI_Window* window;
  bool anchorLeft = true;
  bool anchorTop = true;
  bool anchorRight = false;
  bool anchorBottom = false;
  std::int32_t x, y;
  std::int32_t width, height;
  bool hovered = false;
  bool wantsTimer = false;
  std::vector<CGP_Graphic*> children;

  // The root of this graphic's tree: the window, or this graphic when it is a root.
  CGI_Window* Root() const;
  void LayoutChildren(int dw, int dh);
};

// Deletes a graphic together with everything under it.
void DestroyGraphicTree(CGP_Graphic* graphic);
