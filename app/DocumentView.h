#pragma once
// The document, its view and its child frame. The document wraps the editor's document model
// (one controller over one audio file), answers for every command whether it is enabled and
// runs it, and writes the controller's status texts to the main frame. The view holds the
// window the controller draws into and takes the Space key; the child frame is the MDI
// sub-window that asks about unsaved changes before it closes.
#include <QMdiSubWindow>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "analysis/SoundSignature.h"
#include "editor/EditorFrame.h"

struct JournalContents;

class GraphicsHost;

class AudioEditorApp;
class CAI_AudioPlayer;
class CGN_Wnd;
class CMainFrame;
class EditorDocument;
class QtDocumentPrompts;
class VIZoravuApp;
class VIZoravuView;
class LoadInWindow;
class WorkInWindow;

class VIZoravuDoc : public QObject, public EditorFrame {
  Q_OBJECT
public:
  VIZoravuDoc(VIZoravuApp* app, CMainFrame* frame, VIZoravuView* view);
  ~VIZoravuDoc() override;

  // New and Open: false (the warning shown) when the document could not be made.
  bool OnNewDocument();
  bool OnOpenDocument(const QString& path, ProgressCallback progress = nullptr, std::intptr_t user = 0);
  // Open with the document shown at once while its audio loads between the window's events
  // (LoadInWindow; its progress shows after progressDelayMs); LoadEnded says how it ended. A
  // file shorter than fromSeconds loads at once as OnOpenDocument loads it, and a file that
  // loads at once (or fails at once) ends here, with no signal.
  bool OnOpenDocumentWhileLoading(const QString& path, double fromSeconds, int progressDelayMs,
                                  ProgressCallback progress = nullptr, std::intptr_t user = 0);
  bool Loading() const;
  LoadInWindow* Load() const { return load_.get(); }
  // The document a crash left unsaved: its source opened and its journal replayed.
  bool OnRecoverDocument(const JournalContents& journal, ProgressCallback progress = nullptr, std::intptr_t user = 0);
  // Makes the editor's document through make and hooks it up; false (nothing kept) on failure.
  bool MakeDocument(const std::function<bool(EditorDocument&, GraphicsHost*, QSize)>& make);
  // Releases the controller; the document is empty afterwards.
  void OnCloseDocument();
  // Asks about unsaved changes (Yes saves); true when the document may close.
  bool CanClose();

  EditorDocument* Document() const { return document_.get(); }
  AudioEditorApp* Editor() const;
  VIZoravuView* View() const { return view_; }
  // Where the document's long commands show their progress and hear Escape and Cancel.
  WorkInWindow* Work() const { return work_.get(); }
  QString Title() const;
  QString Path() const;
  bool Modified() const;

  // ---- commands ----
  // Whether the command is one of the document's.
  static bool IsDocumentCommand(int id);
  bool IsCommandEnabled(int id) const;
  // Whether the command shows a check mark, and whether it is checked now.
  static bool IsCheckable(int id);
  bool IsCommandChecked(int id) const;
  // Runs the command when it is enabled; false when it was not run.
  bool OnCommand(int id);
  // The Space key: Play when it can play, else Pause when it can pause; false when neither.
  bool OnSpaceKey();

  // The view became active (true) or was left (false).
  void OnActivate(bool active);
  // Handles the sound devices' notices on the UI thread.
  void DrainNotifications();
  // A value that changes whenever the transport changes (device state and the paused flags).
  int TransportState() const;

  // ---- EditorFrame ----
  void SetPaneText(int pane, const std::string& text) override;
  void SetThresholdCount(int count) override;
  void ShowWarning(const std::string& text) override;
  void SetWaitCursor(bool on) override;

signals:
  void TitleChanged(const QString& title);
  // The load of OnOpenDocumentWhileLoading is over; opened false: the document is to close.
  void LoadEnded(bool opened);

private:
  void RenewTitle();
  void HookNotifications();
  // After Play, Pause or Record: a device that did not start says why.
  void ReportDeviceFailure(bool wasIdle);
  bool Active() const;

  VIZoravuApp* app_;
  QPointer<CMainFrame> frame_;
  VIZoravuView* view_;
  std::unique_ptr<QtDocumentPrompts> prompts_;
  std::unique_ptr<WorkInWindow> work_;  // the long commands' progress and stop
  std::unique_ptr<EditorDocument> document_;
  std::unique_ptr<LoadInWindow> load_;  // while the file loads
  CAI_AudioPlayer* hookedPlayer_ = nullptr;
  int waitCursors_ = 0;
};

class VIZoravuView : public QWidget {
  Q_OBJECT
public:
  explicit VIZoravuView(QWidget* parent = nullptr);
  ~VIZoravuView() override;

  void SetDocument(VIZoravuDoc* doc) { doc_ = doc; }
  VIZoravuDoc* Document() const { return doc_; }
  CGN_Wnd* HostWindow() const { return wnd_; }
  // The size the controller is made for: the host window's client area (a default while hidden).
  QSize ClientSize() const;

  // Called on a device's thread: asks the UI thread to drain the player's notices once.
  void PostNotifications();

protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  bool TakeSpace(QEvent* event);
  // Home, End and the arrows (Shift extends, Ctrl by a second); the wheel (Ctrl zooms).
  bool TakeNavigation(QEvent* event);
  bool TakeWheel(QEvent* event);

  CGN_Wnd* wnd_;
  VIZoravuDoc* doc_ = nullptr;
  std::atomic<bool> notificationsPending_{false};
};

class CChildFrame : public QMdiSubWindow {
  Q_OBJECT
public:
  CChildFrame(VIZoravuApp* app, CMainFrame* frame);
  ~CChildFrame() override;

  VIZoravuDoc* Document() const { return doc_.get(); }
  VIZoravuView* View() const { return view_; }
  // Closes without asking (the question was answered already, or the document failed).
  void CloseWithoutAsking();

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  QPointer<CMainFrame> frame_;
  VIZoravuView* view_;
  std::unique_ptr<VIZoravuDoc> doc_;
  bool approved_ = false;
};
