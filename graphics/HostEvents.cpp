#include "graphics/HostEvents.h"

#include <algorithm>

#include "graphics/DrawingSurface.h"

void HostButtonDown(CGI_Window* root, int x, int y, bool ctrl, bool shift) {
  if (root) root->OnButtonDown(x, y, 0, ctrl, shift);
}

void HostButtonUp(CGI_Window* root, int x, int y, int clientWidth, int clientHeight, bool ctrl,
                  bool shift) {
  if (!root) return;
  root->OnButtonUp(std::clamp(x, 0, std::max(clientWidth - 1, 0)),
                   std::clamp(y, 0, std::max(clientHeight - 1, 0)), 0, ctrl, shift);
}

void HostMouseMove(CGI_Window* root, int x, int y, int clientWidth, int clientHeight) {
  if (!root) return;
  const int region = root->RegionOf(x, y);
  root->OnMouseMove(std::clamp(x, 0, std::max(clientWidth - 1, 0)),
                    std::clamp(y, 0, std::max(clientHeight - 1, 0)), region);
}

void HostWheel(CGI_Window* root, int delta) {
  if (!root || delta == 0) return;
  root->OnWheel(delta < 0);
}

void HostTimer(CGI_Window* root) {
  if (root && root->WantsTimer()) root->OnTimerTick();
}

void HostMouseLeave(CGI_Window* root) {
  if (root) root->OnMouseLeave();
}

void HostContextMenu(CGI_Window* root, int x, int y) {
  if (root) root->OnContextMenu(x, y);
}

bool HostResize(CGI_Window* root, int clientWidth, int clientHeight) {
  if (clientWidth <= 0 || clientHeight <= 0) return false;
  if (root) root->SetSize(clientWidth, clientHeight);
  return true;
}

void HostPaint(CGI_Window* root, DrawingSurface& buffer, int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return;
  if (!root) {
    buffer.FillRect(left, top, right - left, bottom - top, kWhite);
    return;
  }
  buffer.FillRect(left, top, right - left, bottom - top, WindowBackgroundColour());
  root->Draw(buffer, left, top, right - left, bottom - top, 0, 0);
}
