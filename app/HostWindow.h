#pragma once
// The Qt window a root graphic draws into: an offscreen image the tree paints into, the
// scroll bars, the 20 ms timer, the pointer shape and popup menus. Platform events go to the
// root through HostEvents. UI thread only; the root belongs to whoever made it (the editor for
// a document view), the window only forwards to it.
#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QImage>

#include "graphics/GraphicsHost.h"

class CGN_Wnd : public QAbstractScrollArea, public GraphicsHost {
  Q_OBJECT
public:
  explicit CGN_Wnd(QWidget* parent = nullptr);
  ~CGN_Wnd() override;

  CGI_Window* Root() const { return root_; }
  // The client size the root sees: the viewport without the scroll bars.
  QSize ClientSize() const;

  // ---- GraphicsHost ----
  void SetRoot(CGI_Window* root) override;
  void InvalidateRect(int x, int y, int w, int h) override;
  void CapturePointer() override;
  void ReleasePointer() override;
  void CursorCodeChanged(int code) override;
  void SetScrollBar(bool horizontal, int maximum, int page, int position) override;
  void StartTimer(int periodMs) override;
  void StopTimer() override;
  int TrackPopupMenu(int x, int y, const std::vector<PopupMenuItem>& items) override;
  int CaretBlinkTimeMs() const override;
  std::int32_t NowMs() const override;

  // Drawing straight onto the widget while suspended; the buffer is rebuilt on resume.
  void SuspendBuffer();
  void ResumeBuffer();
  bool Suspended() const { return suspended_; }
  // While frozen the window shows what it last painted and its timer does not reach the root:
  // long work is reading the document on another thread. Thawing paints everything again.
  void SetFrozen(bool frozen);
  bool Frozen() const { return frozen_; }
  // Paints the whole client area now through the same path as a paint request.
  void RepaintNow();
  bool TimerRunning() const { return timer_.isActive(); }
  const QImage& Buffer() const { return buffer_; }

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void scrollContentsBy(int, int) override {}

private:
  void BuildBuffer();
  void OnScrollAction(bool horizontal, int action);
  void ApplyCursor();

  CGI_Window* root_ = nullptr;
  QImage buffer_;
  bool suspended_ = false;
  bool frozen_ = false;
  bool resizeWaiting_ = false;
  QBasicTimer timer_;
  QElapsedTimer clock_;
  int shownCursor_ = -1;
  bool adjustingBars_ = false;
};
