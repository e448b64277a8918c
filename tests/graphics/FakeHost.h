#pragma once
// A host that records what the graphics ask of their window, with a clock the test sets.
#include <string>
#include <vector>

#include "graphics/GraphicsHost.h"

struct FakeHost : GraphicsHost {
  struct Rect {
    int x, y, w, h;
    bool operator==(const Rect&) const = default;
  };
  struct Bar {
    bool horizontal;
    int maximum, page, position;
  };

  CGI_Window* root = nullptr;
  std::vector<Rect> invalidations;
  int captures = 0, releases = 0;
  bool capturing = false;
  std::vector<int> cursorCodes;
  std::vector<Bar> bars;
  int timerStarts = 0, timerStops = 0, timerPeriod = 0;
  bool timerRunning = false;
  std::vector<std::vector<PopupMenuItem>> menus;
  std::vector<std::pair<int, int>> menuPoints;
  int menuAnswer = 0;  // identifier the next menu returns (0 = dismissed)
  int blinkMs = 500;
  std::int32_t now = 1000;

  void SetRoot(CGI_Window* r) override { root = r; }
  void InvalidateRect(int x, int y, int w, int h) override { invalidations.push_back({x, y, w, h}); }
  void CapturePointer() override {
    ++captures;
    capturing = true;
  }
  void ReleasePointer() override {
    ++releases;
    capturing = false;
  }
  void CursorCodeChanged(int code) override { cursorCodes.push_back(code); }
  void SetScrollBar(bool horizontal, int maximum, int page, int position) override {
    bars.push_back({horizontal, maximum, page, position});
  }
  void StartTimer(int periodMs) override {
    ++timerStarts;
    timerPeriod = periodMs;
    timerRunning = true;
  }
  void StopTimer() override {
    ++timerStops;
    timerRunning = false;
  }
  int TrackPopupMenu(int x, int y, const std::vector<PopupMenuItem>& items) override {
    menus.push_back(items);
    menuPoints.push_back({x, y});
    return menuAnswer;
  }
  int CaretBlinkTimeMs() const override { return blinkMs; }
  std::int32_t NowMs() const override { return now; }
};
