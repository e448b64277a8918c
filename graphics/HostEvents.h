#pragma once
// The host window's translation of platform events into calls on its root, kept free of the
// platform so that the Qt view only forwards its events here. A null root drops every event.
#include "graphics/Window.h"

class DrawingSurface;

void HostButtonDown(CGI_Window* root, int x, int y, bool ctrl, bool shift);
// The release point is clamped to the client area (a drag may end outside the window).
void HostButtonUp(CGI_Window* root, int x, int y, int clientWidth, int clientHeight, bool ctrl,
                  bool shift);
// The region is taken from the unclamped point, the point passed on is clamped.
void HostMouseMove(CGI_Window* root, int x, int y, int clientWidth, int clientHeight);
void HostWheel(CGI_Window* root, int delta);
void HostTimer(CGI_Window* root);
void HostMouseLeave(CGI_Window* root);
void HostContextMenu(CGI_Window* root, int x, int y);
// Returns false (and does nothing) for an empty size.
bool HostResize(CGI_Window* root, int clientWidth, int clientHeight);
// Paints the update rectangle L..R-1, T..B-1 into buffer: window colour, then the tree; with no
// root, white.
void HostPaint(CGI_Window* root, DrawingSurface& buffer, int left, int top, int right, int bottom);
