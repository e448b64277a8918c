#pragma once
// A document's file loading while the window shows it: steps of the load run between the
// window's events (a zero-time timer), so the waveform paints as the audio arrives and the user
// can select, zoom, scroll and play. After a short delay the status bar's pane 0 shows the
// progress with a Cancel button; Escape or the button stops the load. UI thread only.
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>

class CMainFrame;
class EditorDocument;

class LoadInWindow : public QObject {
  Q_OBJECT
public:
  // The document is borrowed and outlives this object; its load has begun (OpenWhileLoading).
  // view: the widget the waveform paints in. With TINTWAVE_TIME_LOAD set in the environment,
  // the wall-clock times of the first paint that shows audio and of the load's end go to
  // standard error (the launch-to-waveform benchmark reads them).
  LoadInWindow(EditorDocument* document, CMainFrame* frame, QWidget* view, int progressDelayMs);
  ~LoadInWindow() override;

  // How long each step appends audio before the window gets its turn again.
  void SetStepBudget(std::chrono::microseconds budget) { budget_ = budget; }
  // The pause between steps (none by default; a test slows the load down with it).
  void SetStepInterval(int ms) { timer_.setInterval(ms); }
  void Stop();

signals:
  // The load is over: opened false when it failed or was stopped (the document is then to go).
  void Ended(bool opened);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void Step();
  void End(bool opened);
  // Whether the window's input is for this document: it is the active one, or none is.
  bool ForThisDocument() const;

  EditorDocument* document_;
  QPointer<CMainFrame> frame_;
  int delayMs_;
  std::chrono::microseconds budget_{25000};
  QTimer timer_;
  QElapsedTimer clock_;
  QMetaObject::Connection cancel_;
  bool shown_ = false;
  bool ended_ = false;
  QPointer<QWidget> view_;
  bool timed_ = false;  // the first columns' paint is still to be reported
};
