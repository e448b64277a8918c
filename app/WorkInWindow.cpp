#include "app/WorkInWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>

#include "app/HostWindow.h"
#include "app/MainFrame.h"

WorkInWindow::WorkInWindow(CMainFrame* frame, CGN_Wnd* view, int delayMs)
    : frame_(frame), view_(view), delayMs_(delayMs) {
  if (frame_ && frame_->ProgressCancel())
    connect(frame_->ProgressCancel(), &QPushButton::clicked, this, [this] { stop_ = depth_ > 0; });
}

WorkInWindow::~WorkInWindow() {
  if (engaged_) qApp->removeEventFilter(this);
}

void WorkInWindow::BeginWork(const std::string& text) {
  if (depth_++ > 0) return;
  text_ = QString::fromStdString(text);
  stop_ = shown_ = engaged_ = false;
  paneBefore_ = frame_ ? frame_->PaneText(0) : QString();
  clock_.start();
}

bool WorkInWindow::WorkProgress(int percent) {
  if (depth_ == 0) return true;
  // Work shorter than the delay (most match searches) leaves the window and its input alone; an
  // Escape typed meanwhile waits in the queue for the first look.
  if (!engaged_ && clock_.elapsed() < delayMs_) return !stop_;
  if (!engaged_) {
    // Work that never asks (an undo that moves blocks) leaves the window alone.
    engaged_ = true;
    if (view_) view_->SetFrozen(true);
    qApp->installEventFilter(this);
  }
  if (!shown_ && clock_.elapsed() >= delayMs_ && frame_ && !text_.isEmpty()) {
    frame_->BeginProgress(text_);
    shown_ = true;
  }
  if (shown_ && frame_) frame_->SetProgress(percent / 100.0);
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return !stop_;
}

void WorkInWindow::EndWork() {
  if (depth_ == 0 || --depth_ > 0) return;
  if (!engaged_) return;
  engaged_ = false;
  qApp->removeEventFilter(this);
  if (shown_ && frame_) {
    // What the work said last (its stop, say) stays after the bar goes.
    const QString said = frame_->PaneText(0);
    frame_->EndProgress();
    if (said != paneBefore_) frame_->SetPaneText(0, said);
  }
  shown_ = false;
  if (view_) view_->SetFrozen(false);
}

bool WorkInWindow::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
      if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) stop_ = true;
      return true;
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
      return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::Drop: {
      // Only widgets are filtered: the window system's events reach the Cancel button through
      // its window.
      auto* widget = qobject_cast<QWidget*>(watched);
      return widget && !(frame_ && widget == frame_->ProgressCancel());
    }
    case QEvent::Close:
      // The window manager's close waits; the program's own (a failed document's) goes on.
      if (!event->spontaneous()) return false;
      event->ignore();
      return true;
    default: return false;
  }
}
