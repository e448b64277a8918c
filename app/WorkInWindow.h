#pragma once
// Long work (a command's, a load's, a save's) as the main window shows it: after a short delay
// a label, a bar and a Cancel button in the status bar's pane 0. Meanwhile the window keeps
// painting; Escape or the button asks the work to stop; every other key, click and close is
// dropped, so that no command starts and nothing reads the document the work is using (the
// document's view, when given, shows what it showed until the work ends). UI thread only.
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include "editor/LongWork.h"

class CGN_Wnd;
class CMainFrame;

class WorkInWindow : public QObject, public LongWorkObserver {
  Q_OBJECT
public:
  // view may be null (a load: the document has no view yet).
  WorkInWindow(CMainFrame* frame, CGN_Wnd* view, int delayMs);
  ~WorkInWindow() override;

  // How long work runs before its progress shows.
  void SetDelay(int ms) { delayMs_ = ms; }
  // The label of the work under way (a load names its stage as it goes).
  void SetText(const QString& text) { text_ = text; }
  bool Running() const { return depth_ > 0; }

  // LongWorkObserver; Begin and End may nest, the outermost pair counts.
  void BeginWork(const std::string& text) override;
  bool WorkProgress(int percent) override;
  void EndWork() override;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QPointer<CMainFrame> frame_;
  QPointer<CGN_Wnd> view_;
  int delayMs_;
  int depth_ = 0;
  bool stop_ = false;
  bool shown_ = false;
  bool engaged_ = false;  // the work asked: input filtered, the view frozen
  QString text_;
  QString paneBefore_;
  QElapsedTimer clock_;
};
