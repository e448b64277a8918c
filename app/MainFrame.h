#pragma once
// The main window: the menus (one set without a document, one with), the toolbar, the
// threshold bar beside it, the MDI area with one child frame per document and the status bar
// with its eleven panes and the progress display in pane 0. Commands go to the application or
// to the active document; their enabled and checked states follow the active document.
#include <QMainWindow>
#include <QPointer>
#include <map>
#include <vector>

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolBar;
class SelectionBar;
class ThresholdBar;
class VIZoravuApp;
class VIZoravuDoc;
class CChildFrame;

// The command identifiers of the menus, the toolbar and the keys.
namespace CommandId {
enum : int {
  New = 57600,
  Open = 57601,
  Close = 57602,
  Save = 57603,
  SaveAs = 57604,
  RecentFirst = 57616,  // to 57619
  Exit = 57665,
  About = 57664,
  HelpTopics = 57667,
  Help = 57670,
  Preferences = 32801,
  Undo = 57643,
  Redo = 57644,
  Cut = 57635,
  Copy = 57634,
  Paste = 57637,
  Mix = 32828,
  Delete = 57632,
  Trim = 32810,
  SelectAll = 32797,
  FindNext = 32811,
  FindPrevious = 32812,
  FitToWindow = 32782,
  ZoomIn = 32783,
  ZoomOut = 32784,
  ColoredWaveform = 32779,
  FadeIn = 32816,
  FadeOut = 32814,
  Normalize = 32815,
  Mute = 32819,
  Reverse = 32821,
  Volume = 32817,
  InsertSilence = 32818,
  ShiftPitch = 32823,
  ChangePitch = 32840,
  ChangeTempo = 32841,
  Play = 32786,
  Pause = 32791,
  Stop = 32787,
  Record = 32805,
  WebSearch = 32799,
  WindowCascade = 57650,
  WindowTile = 57651,
  WindowArrange = 57649,
  WindowTabs = 57660,
  ShowChannels = 32842,
};
}  // namespace CommandId

class CMainFrame : public QMainWindow {
  Q_OBJECT
public:
  static constexpr int kPanes = 11;
  static constexpr int kRecentFiles = 4;

  explicit CMainFrame(VIZoravuApp* app, QWidget* parent = nullptr);
  ~CMainFrame() override;

  VIZoravuApp* App() const { return app_; }
  QMdiArea* MdiArea() const { return mdi_; }
  ThresholdBar* Threshold() const { return threshold_; }
  QToolBar* ToolBar() const { return toolBar_; }
  QToolBar* ThresholdToolBar() const { return thresholdToolBar_; }
  SelectionBar* Selection() const { return selectionBar_; }

  // The action of a command identifier (null for none).
  QAction* Action(int id) const;
  // Runs a command as its menu item does (disabled commands do nothing); false when disabled.
  bool Trigger(int id);
  // The menu bar's menus now ("&File", "&Edit", ...).
  QStringList MenuTitles() const;
  QMenu* Menu(const QString& title) const;

  // ---- the documents ----
  void AddChild(CChildFrame* child);
  // A child's document is ready: it becomes the active one when its window is current.
  void ActivateChild(CChildFrame* child);
  // The document of the active child frame, or null.
  VIZoravuDoc* ActiveDocument() const { return active_; }
  std::vector<VIZoravuDoc*> Documents() const;
  // Whether a document is open (one being made or closed does not count).
  bool HasDocuments() const;
  // A child frame goes away: its document is no longer active.
  void ChildClosing(CChildFrame* child);
  // Renews the enabled and checked states of every command from the active document.
  void RefreshActions();
  // The window caption: the application's name, with the active document's title.
  void RefreshCaption();
  void SetRecentFiles(const QStringList& paths);

  // ---- status bar ----
  void SetPaneText(int pane, const QString& text);
  QString PaneText(int pane) const;
  QLabel* Pane(int pane) const { return panes_[pane]; }
  void SetThresholdPosition(int position);
  void SetThresholdCount(int count);
  void EnableThresholdBar(bool on);

  // ---- progress display in pane 0 ----
  void BeginProgress(const QString& text);
  void SetProgress(double fraction);
  void EndProgress();
  bool ProgressShown() const;
  int ProgressValue() const;
  int ProgressBegun() const { return progressBegun_; }
  // The Cancel button beside the bar, shown with it; long work listens to it.
  QPushButton* ProgressCancel() const { return progressCancel_; }

  // The document of a sub-window.
  static VIZoravuDoc* DocumentOf(QMdiSubWindow* window);

  // Window > Tabs: the documents as tabs (kept in the settings).
  void SetTabbed(bool on);
  bool Tabbed() const;

protected:
  void closeEvent(QCloseEvent* event) override;
  // Keeps the caption ours: a maximised sub-window would append its own title to it.
  void changeEvent(QEvent* event) override;
  // Clears a hint when the pointer leaves the toolbar button that showed it.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  struct CommandInfo;
  QAction* MakeAction(int id, const QString& text, const QString& prompt,
                      std::initializer_list<QKeySequence> keys = {});
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreateThresholdBar();
  void UseMenus(bool withDocument);
  void OnSubWindowActivated(QMdiSubWindow* window);
  void Activate(VIZoravuDoc* doc);
  // The bars as they are while no document is active.
  void ShowNoDocument();
  void OnCommand(int id);
  void FillWindowMenu();
  void ArrangeIcons();
  void PlaceDefaultSize();

  VIZoravuApp* app_;
  QMdiArea* mdi_ = nullptr;
  ThresholdBar* threshold_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QToolBar* thresholdToolBar_ = nullptr;
  SelectionBar* selectionBar_ = nullptr;
  QString caption_;
  static constexpr int kFirstSelectionPane = 8;
  std::map<int, QAction*> actions_;
  std::vector<QAction*> recent_;
  QAction* recentEmpty_[2] = {nullptr, nullptr};
  std::vector<QMenu*> menusWithout_;
  std::vector<QMenu*> menusWith_;
  QMenu* windowMenu_ = nullptr;
  std::vector<QAction*> windowListActions_;
  bool withDocumentMenus_ = false;
  QLabel* panes_[kPanes] = {};
  QWidget* pane0_ = nullptr;
  QLabel* progressLabel_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* progressCancel_ = nullptr;
  int progressBegun_ = 0;
  VIZoravuDoc* active_ = nullptr;
  bool closingAll_ = false;
};
