#pragma once
// What a root graphic needs from the window it lives in. The Qt view implements it; tests use a
// recording fake. All calls arrive on the user-interface thread.
#include <cstdint>
#include <string>
#include <vector>

class CGI_Window;

struct PopupMenuItem {
  int identifier = 0;
  std::string text;
  bool separator = false;
  bool greyed = false;
};

class GraphicsHost {
public:
  virtual ~GraphicsHost() = default;

  // The root that receives this host's events; null when the root goes away.
  virtual void SetRoot(CGI_Window* root) = 0;
  // Marks a client rectangle for the next paint; nothing is drawn now.
  virtual void InvalidateRect(int x, int y, int w, int h) = 0;
  // Takes the keyboard focus and routes all pointer input here until ReleasePointer.
  virtual void CapturePointer() = 0;
  virtual void ReleasePointer() = 0;
  // The root's cursor code changed; the host shows it at its next pointer-shape request.
  virtual void CursorCodeChanged(int /*code*/) {}
  // A scroll bar of range 0..maximum with the given page and position; maximum 0 hides it.
  virtual void SetScrollBar(bool horizontal, int maximum, int page, int position) = 0;
  // A periodic tick on the user-interface thread.
  virtual void StartTimer(int periodMs) = 0;
  virtual void StopTimer() = 0;
  // A modal popup menu at a client point; returns the chosen item's identifier, or 0.
  virtual int TrackPopupMenu(int x, int y, const std::vector<PopupMenuItem>& items) = 0;
  // The desktop's caret blink period and a millisecond clock.
  virtual int CaretBlinkTimeMs() const { return 530; }
  virtual std::int32_t NowMs() const = 0;
};

// A millisecond clock for graphics without a host (monotonic, wraps like a 32-bit tick count).
std::int32_t SteadyClockMs();
