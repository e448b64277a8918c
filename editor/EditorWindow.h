#pragma once
// The root graphic of a document's view: it runs the document's 20 ms tick (the caret, the end
// of playback, the growth of a recording, the moving playback cursor), turns the waveform's and
// the time axis's notices into calls on the editor, ignores the pointer while recording and
// wraps a click during playback in a pause and a restart. The editor owns it.
#include "graphics/Window.h"

class EP_AudioFileEditor;

class EP_Window : public CGI_Window {
public:
  EP_Window(GraphicsHost* host, int width, int height, EP_AudioFileEditor* editor);

  void OnTimerTick() override;
  bool Notify(int code, CGP_Graphic* sender) override;
  void OnButtonDown(int px, int py, int button, bool ctrl, bool shift) override;
  void OnMouseMove(int px, int py, int region) override;
  void OnButtonUp(int px, int py, int button, bool ctrl, bool shift) override;
  void SetSize(int newWidth, int newHeight) override;
  void ScrollTo(int newX, int newY) override;

  EP_AudioFileEditor* Editor() const { return editor_; }

private:
  bool Recording() const;
  EP_AudioFileEditor* editor_;
};
