#include "app/LoadInWindow.h"

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QPushButton>
#include <cstdio>

#include "app/DocumentView.h"
#include "app/MainFrame.h"
#include "editor/AudioFileEditor.h"
#include "editor/Document.h"

namespace {
const char* const kLoadingText = "Loading audio data:";

void ReportTime(const char* what) {
  std::fprintf(stderr, "tintwave: %s at %.3f\n", what, QDateTime::currentMSecsSinceEpoch() / 1000.0);
}
}  // namespace

LoadInWindow::LoadInWindow(EditorDocument* document, CMainFrame* frame, QWidget* view, int progressDelayMs)
    : document_(document), frame_(frame), delayMs_(progressDelayMs), view_(view) {
  timed_ = view_ && qEnvironmentVariableIsSet("TINTWAVE_TIME_LOAD");
  clock_.start();
  timer_.setInterval(0);
  connect(&timer_, &QTimer::timeout, this, &LoadInWindow::Step);
  timer_.start();
  if (frame_ && frame_->ProgressCancel())
    cancel_ = connect(frame_->ProgressCancel(), &QPushButton::clicked, this, &LoadInWindow::Stop);
  qApp->installEventFilter(this);
}

LoadInWindow::~LoadInWindow() {
  qApp->removeEventFilter(this);
  if (shown_ && frame_) frame_->EndProgress();
}

void LoadInWindow::Step() {
  if (ended_) return;
  // Not again until this step is done (a failure's message box runs its own event loop).
  timer_.stop();
  const EditorDocument::LoadState state = document_->ContinueLoading(budget_);
  if (state == EditorDocument::LoadState::Loading) {
    timer_.start();
    if (!shown_ && clock_.elapsed() >= delayMs_ && frame_) {
      frame_->BeginProgress(QString::fromLatin1(kLoadingText));
      shown_ = true;
    }
    if (shown_ && frame_) frame_->SetProgress(document_->Editor()->LoadPercent() / 100.0);
    return;
  }
  End(state == EditorDocument::LoadState::Done);
}

bool LoadInWindow::ForThisDocument() const {
  const VIZoravuDoc* active = frame_ ? frame_->ActiveDocument() : nullptr;
  return !active || active->Document() == document_;
}

void LoadInWindow::Stop() {
  if (ended_) return;
  document_->StopLoading();
  End(false);
}

void LoadInWindow::End(bool opened) {
  ended_ = true;
  timer_.stop();
  disconnect(cancel_);
  if (!timed_) qApp->removeEventFilter(this);
  if (shown_ && frame_) {
    // What the load said last (its stop, its notice) stays after the bar goes.
    const QString said = frame_->PaneText(0);
    frame_->EndProgress();
    frame_->SetPaneText(0, said);
  }
  shown_ = false;
  if (qEnvironmentVariableIsSet("TINTWAVE_TIME_LOAD")) ReportTime(opened ? "loaded" : "load ended unopened");
  emit Ended(opened);
}

bool LoadInWindow::eventFilter(QObject* watched, QEvent* event) {
  if (timed_ && event->type() == QEvent::Paint && view_ && (watched == view_ || watched->parent() == view_) &&
      document_->Editor()->Duration() > 0) {
    // Reported once the paint under way is done.
    timed_ = false;
    QTimer::singleShot(0, [] { ReportTime("first columns"); });
  }
  // Escape stops the load (unless a dialog is open: it closes the dialog, or another document is
  // the active one: it is that one's); every other key and click goes where it would.
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !ended_ &&
      !QApplication::activeModalWidget() && ForThisDocument()) {
    Stop();
    return true;
  }
  return false;
}
