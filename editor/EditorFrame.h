#pragma once
// What the editor needs of the main frame around it: the status bar panes, the threshold bar's
// count, a warning message box and the wait cursor. The Qt frame implements it; tests and the
// command-line tool record what they are told. UI thread only.
#include <string>

inline constexpr int kStatusPanes = 11;

class EditorFrame {
public:
  virtual ~EditorFrame() = default;
  virtual void SetPaneText(int pane, const std::string& text) = 0;
  // The threshold bar shows "(%d)", or nothing for a negative count.
  virtual void SetThresholdCount(int count) = 0;
  // A message box with the warning icon.
  virtual void ShowWarning(const std::string& text) = 0;
  virtual void SetWaitCursor(bool /*on*/) {}
};
