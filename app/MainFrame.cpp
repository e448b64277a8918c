#include "app/MainFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "app/Application.h"
#include "app/DocumentView.h"
#include "app/SelectionBar.h"
#include "app/ThresholdBar.h"
#include "editor/AudioFileEditor.h"
#include "graphics/DrawingHelpers.h"

namespace {
// Pane widths in pixels; pane 0 takes the rest.
constexpr int kPaneWidths[CMainFrame::kPanes] = {0, 50, 40, 35, 60, 50, 60, 60, 60, 60, 60};
// What each pane shows, as its tooltip.
const char* const kPaneTips[CMainFrame::kPanes] = {
    "Messages and hints",
    "Zoom: samples per pixel",
    "Channels",
    "Sample format",
    "Sample rate of the file",
    "Pitch shift: \"Normal\" plays at the file's own rate; Shift Pitch plays it faster and higher or "
    "slower and lower",
    "Cursor",
    "Duration",
    "Selection start",
    "Selection end",
    "Selection length",
};
// How often the toolbar follows the active document while nothing is clicked.
constexpr int kRefreshPeriodMs = 50;
// The window layout the user chose last, in the application's settings.
constexpr const char* kMaximizedKey = "Window/DocumentMaximized";
constexpr const char* kTabsKey = "Window/Tabs";

QSettings FrameSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, VIZoravuApp::kOrganisation, VIZoravuApp::kApplication);
}

// Small icons drawn for the commands the style has no picture for.
enum class Glyph { ZoomIn, ZoomOut, Colour, Record, Web };

QIcon DrawnIcon(Glyph glyph, const QPalette& palette) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink = palette.color(QPalette::WindowText);
  switch (glyph) {
    case Glyph::ZoomIn:
    case Glyph::ZoomOut: {
      p.setPen(QPen(ink, 1.5));
      p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
      p.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(9.5, 9.5), QPointF(14.5, 14.5));
      p.setPen(QPen(ink, 1.5));
      p.drawLine(QPointF(3.5, 6), QPointF(8.5, 6));
      if (glyph == Glyph::ZoomIn) p.drawLine(QPointF(6, 3.5), QPointF(6, 8.5));
      break;
    }
    case Glyph::Colour: {
      const QColor colours[] = {QColor(220, 40, 40), QColor(240, 160, 20), QColor(40, 170, 60), QColor(40, 90, 220)};
      const int heights[] = {4, 10, 14, 8, 12, 6, 9, 3};
      for (int i = 0; i < 8; ++i) {
        const int h = heights[i];
        p.fillRect(QRect(i * 2, 8 - h / 2, 2, h), colours[i % 4]);
      }
      break;
    }
    case Glyph::Record:
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(210, 30, 30));
      p.drawEllipse(QRectF(3, 3, 10, 10));
      break;
    case Glyph::Web:
      p.setPen(QPen(QColor(30, 90, 180), 1.2));
      p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      p.drawEllipse(QRectF(5, 1.5, 6, 13));
      p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
      p.drawLine(QPointF(3, 4.5), QPointF(13, 4.5));
      p.drawLine(QPointF(3, 11.5), QPointF(13, 11.5));
      break;
  }
  return QIcon(pixmap);
}

QString StripTab(const QString& text) {
  const int tab = text.indexOf('\t');
  return tab < 0 ? text : text.left(tab);
}
}  // namespace

CMainFrame::CMainFrame(VIZoravuApp* app, QWidget* parent) : QMainWindow(parent), app_(app) {
  setObjectName("128");
  setWindowTitle(tr("Tintwave"));
  setWindowIcon(QIcon::fromTheme("tintwave", DrawnIcon(Glyph::Colour, palette())));
  setAcceptDrops(true);

  mdi_ = new QMdiArea(this);
  mdi_->setViewMode(QMdiArea::SubWindowView);
  mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(mdi_);
  connect(mdi_, &QMdiArea::subWindowActivated, this, &CMainFrame::OnSubWindowActivated);

  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  CreateThresholdBar();
  if (FrameSettings().value(kTabsKey, false).toBool()) SetTabbed(true);
  UseMenus(false);
  RefreshActions();
  PlaceDefaultSize();

  auto* refresh = new QTimer(this);
  connect(refresh, &QTimer::timeout, this, [this] {
    if (active_) RefreshActions();
  });
  refresh->start(kRefreshPeriodMs);
}

CMainFrame::~CMainFrame() {
  // The documents go before the frame's bars they write to.
  closingAll_ = true;
  // Closed ones waiting for their deletion too.
  for (CChildFrame* child : findChildren<CChildFrame*>()) delete child;
  ClearDefaultLabelFont();
}

void CMainFrame::PlaceDefaultSize() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  const int width = std::max(640, area.width() * 3 / 4);
  const int height = std::max(452, area.height() * 3 / 4);
  resize(width, height);
  move(area.left() + (area.width() - width) / 2, area.top() + (area.height() - height) / 2);
}

// ---- actions ----

QAction* CMainFrame::MakeAction(int id, const QString& text, const QString& prompt,
                                std::initializer_list<QKeySequence> keys) {
  auto* action = new QAction(text, this);
  action->setData(id);
  action->setObjectName(QString::number(id));
  // A prompt is "status text\ntool tip"; without a tool tip the menu text serves.
  const int split = prompt.indexOf(QRegularExpression("[\\n\\t]"));
  const QString status = split < 0 ? prompt : prompt.left(split);
  const QString tip = split < 0 ? QString(StripTab(text)).remove('&') : prompt.mid(split + 1);
  action->setStatusTip(status);
  action->setToolTip(tip);
  if (keys.size() > 0) action->setShortcuts(QList<QKeySequence>(keys));
  if (VIZoravuDoc::IsCheckable(id)) action->setCheckable(true);
  connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
  addAction(action);  // the keys work wherever the focus is in the window
  actions_[id] = action;
  return action;
}

void CMainFrame::CreateActions() {
  using namespace CommandId;
  QStyle* s = style();
  MakeAction(New, tr("&New"), tr("Create a new audio file\nNew"), {QKeySequence(Qt::CTRL | Qt::Key_N)})
      ->setIcon(s->standardIcon(QStyle::SP_FileIcon));
  MakeAction(Open, tr("&Open..."), tr("Open an existing audio file\nOpen"), {QKeySequence(Qt::CTRL | Qt::Key_O)})
      ->setIcon(s->standardIcon(QStyle::SP_DialogOpenButton));
  MakeAction(Close, tr("&Close"), tr("Close the active audio file\nClose"));
  MakeAction(Save, tr("&Save"), tr("Save the active audio file\nSave"), {QKeySequence(Qt::CTRL | Qt::Key_S)})
      ->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  MakeAction(SaveAs, tr("Save &As..."), tr("Save the active audio file with a new name, type or encoding\nSave As"));
  MakeAction(Exit, tr("E&xit"), tr("Quit the application; asks to save changed files\nExit"));
  MakeAction(Preferences, tr("P&references..."), tr("Change the program's preferences\nPreferences"));
  MakeAction(HelpTopics, tr("&Help Topics"), tr("Show the help page\nHelp Topics"), {QKeySequence(Qt::Key_F1)});
  MakeAction(About, tr("&About..."), tr("Show the program's version and copyright\nAbout"));

  MakeAction(Undo, tr("Undo"), tr("Undo the last edit\nUndo"),
             {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)});
  MakeAction(Redo, tr("Redo"), tr("Redo the edit that was undone\nRedo"), {QKeySequence(Qt::CTRL | Qt::Key_Y)});
  MakeAction(Cut, tr("Cut"), tr("Cut the selection and put it on the clipboard\nCut"),
             {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)});
  MakeAction(Copy, tr("Copy"), tr("Copy the selection to the clipboard\nCopy"),
             {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
  MakeAction(Paste, tr("Paste"), tr("Insert the clipboard at the cursor\nPaste"),
             {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
  MakeAction(Mix, tr("Mix..."), tr("Mix the clipboard into the waveform at the cursor\nMix"));
  MakeAction(Delete, tr("Delete"), tr("Delete the selection\nDelete"), {QKeySequence(Qt::Key_Delete)});
  MakeAction(Trim, tr("Trim"), tr("Keep only the selection\nTrim"), {QKeySequence(Qt::CTRL | Qt::Key_T)});
  MakeAction(SelectAll, tr("Select &All"), tr("Select the whole file\nSelect All"),
             {QKeySequence(Qt::CTRL | Qt::Key_A)});
  MakeAction(FindNext, tr("Find Next"), tr("Select the next matching audio\tNext Match"), {QKeySequence(Qt::Key_F3)})
      ->setIcon(s->standardIcon(QStyle::SP_MediaSeekForward));
  MakeAction(FindPrevious, tr("Find Previous"), tr("Select the previous matching audio\tPrevious Match"),
             {QKeySequence(Qt::SHIFT | Qt::Key_F3)})
      ->setIcon(s->standardIcon(QStyle::SP_MediaSeekBackward));

  MakeAction(FitToWindow, tr("&Fit To Window"), tr("Keep the whole file in the window's width\nFit To Window"));
  MakeAction(ZoomIn, tr("Zoom &In"), tr("Show the waveform in more detail\nZoom In"), {QKeySequence(Qt::Key_Up)})
      ->setIcon(DrawnIcon(Glyph::ZoomIn, palette()));
  MakeAction(ZoomOut, tr("Zoom &Out"), tr("Show more of the waveform\nZoom Out"), {QKeySequence(Qt::Key_Down)})
      ->setIcon(DrawnIcon(Glyph::ZoomOut, palette()));
  MakeAction(ColoredWaveform, tr("&Colored Waveform"),
             tr("Colour the waveform by its frequency content\nColored Waveform"), {QKeySequence(Qt::Key_C)})
      ->setIcon(DrawnIcon(Glyph::Colour, palette()));
  MakeAction(ShowChannels, tr("Show C&hannels"),
             tr("Show a stereo file's left and right channels under the mix\nShow Channels"));

  MakeAction(FadeIn, tr("Fade In"), tr("Fade the selection in from silence\nFade In"));
  MakeAction(FadeOut, tr("Fade Out"), tr("Fade the selection out to silence\nFade Out"));
  MakeAction(Normalize, tr("Normalize"), tr("Amplify the selection to full scale\nNormalize"));
  MakeAction(Mute, tr("Mute"), tr("Silence the selection\nMute"));
  MakeAction(Reverse, tr("Reverse"), tr("Reverse the selection in time\nReverse"));
  MakeAction(Volume, tr("Volume..."), tr("Change the volume of the selection\nVolume"));
  MakeAction(InsertSilence, tr("Insert Silence..."), tr("Insert silence at the cursor\nInsert Silence"));
  MakeAction(ShiftPitch, tr("Shift Pitch..."),
             tr("Play the whole file faster and higher or slower and lower by halftones\nShift Pitch"));
  MakeAction(ChangePitch, tr("Change Pitch..."), tr("Raise or lower the pitch of the selection, keeping its length\nChange Pitch"));
  MakeAction(ChangeTempo, tr("Change Tempo..."), tr("Speed up or slow down the selection, keeping its pitch\nChange Tempo"));

  // Space plays or pauses through the view, which takes the key before anything else.
  MakeAction(Play, tr("&Play\tSpace"), tr("Play from the cursor\nPlay"))
      ->setIcon(s->standardIcon(QStyle::SP_MediaPlay));
  MakeAction(Pause, tr("Pause\tSpace"), tr("Pause playback or recording; again to resume\nPause"),
             {QKeySequence(Qt::Key_Pause)})
      ->setIcon(s->standardIcon(QStyle::SP_MediaPause));
  MakeAction(Stop, tr("&Stop"), tr("Stop playback or recording\nStop"), {QKeySequence(Qt::Key_Backspace)})
      ->setIcon(s->standardIcon(QStyle::SP_MediaStop));
  MakeAction(Record, tr("&Record"), tr("Record from the sound input at the cursor\nRecord"),
             {QKeySequence(Qt::SHIFT | Qt::Key_Space)})
      ->setIcon(DrawnIcon(Glyph::Record, palette()));
  MakeAction(WebSearch, tr("Sonquest on &Web..."), tr("Search the Web for sounds similar to the selected region\nSonquest on Web"),
             {QKeySequence(Qt::CTRL | Qt::Key_F)})
      ->setIcon(DrawnIcon(Glyph::Web, palette()));

  MakeAction(WindowCascade, tr("&Cascade"), tr("Arrange the windows so that they overlap\nCascade Windows"));
  MakeAction(WindowTile, tr("&Tile"), tr("Arrange the windows side by side\nTile Windows"));
  MakeAction(WindowArrange, tr("&Arrange Icons"), tr("Arrange the minimised windows along the bottom\nArrange Icons"));
  MakeAction(WindowTabs, tr("Ta&bs"), tr("Show the documents as tabs\nTabs"))->setCheckable(true);

  for (int i = 0; i < kRecentFiles; ++i) {
    auto* action = new QAction(this);
    action->setVisible(false);
    action->setData(RecentFirst + i);
    action->setObjectName(QString::number(RecentFirst + i));
    action->setStatusTip(tr("Open this file"));
    connect(action, &QAction::triggered, this, [this, i] { app_->OpenRecentFile(i); });
    recent_.push_back(action);
  }
  for (QAction*& empty : recentEmpty_) {
    empty = new QAction(tr("Recent File"), this);
    empty->setEnabled(false);
  }
}

void CMainFrame::CreateMenus() {
  using namespace CommandId;
  auto menu = [this](const QString& title, std::initializer_list<int> ids) {
    auto* m = new QMenu(title, this);
    for (int id : ids) {
      if (id == 0) m->addSeparator();
      else m->addAction(actions_.at(id));
    }
    // The states are renewed just before a menu opens.
    connect(m, &QMenu::aboutToShow, this, &CMainFrame::RefreshActions);
    return m;
  };
  auto addRecent = [this](QMenu* file, int set) {
    file->addSeparator();
    file->addAction(recentEmpty_[set]);
    for (QAction* action : recent_) file->addAction(action);
    file->addSeparator();
    file->addAction(actions_.at(Exit));
  };

  QMenu* file0 = menu(tr("&File"), {New, Open});
  addRecent(file0, 0);
  menusWithout_ = {file0, menu(tr("&Tools"), {Preferences}), menu(tr("&Help"), {HelpTopics, About})};

  QMenu* file1 = menu(tr("&File"), {New, Open, Close, Save, SaveAs});
  addRecent(file1, 1);
  windowMenu_ = menu(tr("&Window"), {WindowCascade, WindowTile, WindowArrange, 0, WindowTabs});
  connect(windowMenu_, &QMenu::aboutToShow, this, &CMainFrame::FillWindowMenu);
  menusWith_ = {file1,
                menu(tr("&Edit"), {Undo, Redo, 0, Cut, Copy, Paste, Mix, Delete, Trim, 0, SelectAll, 0, FindNext,
                                   FindPrevious}),
                menu(tr("&View"), {FitToWindow, ZoomIn, ZoomOut, 0, ColoredWaveform, ShowChannels}),
                menu(tr("&Operations"), {FadeIn, FadeOut, Normalize, Mute, Reverse, Volume, 0, InsertSilence,
                                         ShiftPitch, ChangePitch, ChangeTempo}),
                menu(tr("&Tools"), {Play, Pause, Stop, Record, WebSearch, Preferences}),
                windowMenu_,
                menu(tr("&Help"), {HelpTopics, About})};
}

void CMainFrame::UseMenus(bool withDocument) {
  if (withDocument == withDocumentMenus_ && !menuBar()->actions().isEmpty()) return;
  withDocumentMenus_ = withDocument;
  menuBar()->clear();
  for (QMenu* m : withDocument ? menusWith_ : menusWithout_) menuBar()->addMenu(m);
}

QStringList CMainFrame::MenuTitles() const {
  QStringList titles;
  for (QAction* action : menuBar()->actions())
    if (action->menu()) titles << action->menu()->title();
  return titles;
}

QMenu* CMainFrame::Menu(const QString& title) const {
  for (QAction* action : menuBar()->actions())
    if (action->menu() && action->menu()->title() == title) return action->menu();
  return nullptr;
}

void CMainFrame::CreateToolBar() {
  using namespace CommandId;
  toolBar_ = addToolBar(tr("Toolbar"));
  toolBar_->setObjectName("toolbar");
  toolBar_->setIconSize(QSize(16, 16));
  toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
  for (int id : std::initializer_list<int>{New, Open, Save, 0, ZoomIn, ZoomOut, 0, ColoredWaveform, 0, Play, Pause, Stop, FindPrevious,
                 FindNext, Record, 0, WebSearch}) {
    if (id == 0) toolBar_->addSeparator();
    else toolBar_->addAction(actions_.at(id));
  }
}

void CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName("statusbar");
  pane0_ = new QWidget(bar);
  auto* layout = new QHBoxLayout(pane0_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  for (int i = 0; i < kPanes; ++i) {
    auto* label = new QLabel(i == 0 ? pane0_ : bar);
    label->setObjectName(QString("pane%1").arg(i));
    label->setToolTip(tr(kPaneTips[i]));
    if (i > 0) {
      label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      label->setMinimumWidth(kPaneWidths[i]);
      label->setAlignment(Qt::AlignCenter);
    }
    panes_[i] = label;
  }
  progressLabel_ = new QLabel(pane0_);
  progressLabel_->setObjectName("progressLabel");
  progressBar_ = new QProgressBar(pane0_);
  progressBar_->setObjectName("progressBar");
  progressBar_->setRange(0, 100);
  progressBar_->setFixedWidth(150);
  progressBar_->setMaximumHeight(bar->fontMetrics().height() + 4);
  progressCancel_ = new QPushButton(tr("Cancel"), pane0_);
  progressCancel_->setObjectName("progressCancel");
  progressCancel_->setToolTip(tr("Stops the work (Esc); the document stays as it was"));
  progressCancel_->setFocusPolicy(Qt::NoFocus);
  progressCancel_->setMaximumHeight(bar->fontMetrics().height() + 6);
  progressLabel_->hide();
  progressBar_->hide();
  progressCancel_->hide();
  layout->addWidget(progressLabel_);
  layout->addWidget(progressBar_);
  layout->addWidget(progressCancel_);
  layout->addWidget(panes_[0], 1);
  bar->addWidget(pane0_, 1);
  for (int i = 1; i < kPanes; ++i) bar->addPermanentWidget(panes_[i]);
  panes_[0]->setText(tr("Ready"));
  // A toolbar button's hint goes when the pointer leaves the button.
  for (QToolBar* bar : {toolBar_, thresholdToolBar_})
    if (bar)
      for (QWidget* button : bar->findChildren<QWidget*>()) button->installEventFilter(this);

  // The graphics draw their labels in the status bar's font.
  LabelFont font;
  font.face = bar->font().family().toStdString();
  font.pointSize = std::max(bar->font().pointSize(), 0);
  SetDefaultLabelFont(font);
}

void CMainFrame::CreateThresholdBar() {
  thresholdToolBar_ = new QToolBar(tr("Matches"), this);
  thresholdToolBar_->setObjectName("thresholdbar");
  threshold_ = new ThresholdBar(thresholdToolBar_);
  thresholdToolBar_->addWidget(threshold_);
  // Beside the toolbar, in the same row.
  addToolBar(Qt::TopToolBarArea, thresholdToolBar_);
  connect(threshold_, &ThresholdBar::ThresholdChosen, this, [this](int value) {
    AudioEditorApp* editor = active_ ? active_->Editor() : nullptr;
    if (!editor) return;
    editor->SetMatchThreshold(value);
    SetThresholdCount(editor->MatchCount());
  });
  EnableThresholdBar(false);
  // The selection's times in a row of their own under the toolbar.
  addToolBarBreak(Qt::TopToolBarArea);
  selectionBar_ = new SelectionBar(this);
  addToolBar(Qt::TopToolBarArea, selectionBar_);
}

QAction* CMainFrame::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

bool CMainFrame::Trigger(int id) {
  RefreshActions();
  QAction* action = Action(id);
  if (!action || !action->isEnabled()) return false;
  action->trigger();
  return true;
}

// ---- commands ----

void CMainFrame::OnCommand(int id) {
  using namespace CommandId;
  switch (id) {
    case New: app_->OnFileNew(); break;
    case Open: app_->OnFileOpen(); break;
    case Preferences: app_->OnPreferences(); break;
    case About: app_->OnAbout(); break;
    case HelpTopics:
    case Help: app_->OnHelp(); break;
    case Exit: close(); break;
    case Close:
      if (QMdiSubWindow* window = mdi_->currentSubWindow()) window->close();
      break;
    case WindowCascade: mdi_->cascadeSubWindows(); break;
    case WindowTile: mdi_->tileSubWindows(); break;
    case WindowArrange: ArrangeIcons(); break;
    case WindowTabs: SetTabbed(!Tabbed()); break;
    default:
      if (active_) active_->OnCommand(id);
      break;
  }
  RefreshActions();
}

void CMainFrame::ArrangeIcons() {
  // The minimised windows in a row along the bottom of the area, left to right.
  int x = 0;
  for (QMdiSubWindow* window : mdi_->subWindowList()) {
    if (!window->isMinimized()) continue;
    const QSize size = window->size();
    if (x > 0 && x + size.width() > mdi_->viewport()->width()) x = 0;
    window->move(x, mdi_->viewport()->height() - size.height());
    x += size.width();
  }
}

void CMainFrame::FillWindowMenu() {
  for (QAction* action : windowListActions_) {
    windowMenu_->removeAction(action);
    action->deleteLater();
  }
  windowListActions_.clear();
  const QList<QMdiSubWindow*> windows = mdi_->subWindowList();
  if (windows.isEmpty()) return;
  windowListActions_.push_back(windowMenu_->addSeparator());
  int number = 1;
  for (QMdiSubWindow* window : windows) {
    const QString text = number <= 9 ? QString("&%1 %2").arg(number).arg(window->windowTitle())
                                     : QString("%1 %2").arg(number).arg(window->windowTitle());
    QAction* action = windowMenu_->addAction(text);
    action->setCheckable(true);
    action->setChecked(window == mdi_->currentSubWindow());
    QPointer<QMdiSubWindow> target(window);
    connect(action, &QAction::triggered, this, [this, target] {
      if (target) mdi_->setActiveSubWindow(target);
    });
    windowListActions_.push_back(action);
    ++number;
  }
}

void CMainFrame::RefreshActions() {
  AudioEditorApp* editor = active_ ? active_->Editor() : nullptr;
  if (selectionBar_) selectionBar_->SetEditor(editor);
  for (auto& [id, action] : actions_) {
    if (!VIZoravuDoc::IsDocumentCommand(id)) {
      if (id == CommandId::Close) action->setEnabled(mdi_->currentSubWindow() != nullptr);
      else if (id == CommandId::WindowCascade || id == CommandId::WindowTile || id == CommandId::WindowArrange)
        action->setEnabled(!mdi_->subWindowList().isEmpty() && !Tabbed());
      else if (id == CommandId::WindowTabs)
        action->setChecked(Tabbed());
      continue;
    }
    const bool enabled = editor && active_->IsCommandEnabled(id);
    if (action->isEnabled() != enabled) action->setEnabled(enabled);
    if (action->isCheckable()) {
      const bool checked = editor && active_->IsCommandChecked(id);
      if (action->isChecked() != checked) action->setChecked(checked);
    }
  }
}

void CMainFrame::RefreshCaption() {
  const QString name = tr("Tintwave");
  caption_ = active_ ? QString("%1 - %2").arg(name, active_->Title()) : name;
  setWindowTitle(caption_);
}

void CMainFrame::SetRecentFiles(const QStringList& paths) {
  for (int i = 0; i < kRecentFiles; ++i) {
    QAction* action = recent_[i];
    if (i < paths.size()) {
      // "&1 name", the full path in the status bar.
      action->setText(QString("&%1 %2").arg(i + 1).arg(QFileInfo(paths[i]).fileName()));
      action->setStatusTip(paths[i]);
      action->setVisible(true);
    } else {
      action->setVisible(false);
    }
  }
  for (QAction* empty : recentEmpty_) empty->setVisible(paths.isEmpty());
}

// ---- documents ----

VIZoravuDoc* CMainFrame::DocumentOf(QMdiSubWindow* window) {
  auto* child = qobject_cast<CChildFrame*>(window);
  return child ? child->Document() : nullptr;
}

std::vector<VIZoravuDoc*> CMainFrame::Documents() const {
  std::vector<VIZoravuDoc*> docs;
  for (QMdiSubWindow* window : mdi_->subWindowList())
    if (VIZoravuDoc* doc = DocumentOf(window); doc && doc->Editor()) docs.push_back(doc);
  return docs;
}

bool CMainFrame::HasDocuments() const {
  for (QMdiSubWindow* window : mdi_->subWindowList()) {
    VIZoravuDoc* doc = DocumentOf(window);
    if (doc && doc->Editor()) return true;
  }
  return false;
}

void CMainFrame::AddChild(CChildFrame* child) {
  child->setWindowIcon(windowIcon());
  mdi_->addSubWindow(child);
  UseMenus(true);
  // A document fills the area unless the user last chose a window of its own.
  if (FrameSettings().value(kMaximizedKey, true).toBool()) child->showMaximized();
  else child->show();
  connect(child, &QMdiSubWindow::windowStateChanged, this, [this](Qt::WindowStates before, Qt::WindowStates now) {
    // Only the user's own choice between maximised and not counts (tabs maximise every window).
    if (Tabbed() || closingAll_ || (now & Qt::WindowMinimized) || (before & Qt::WindowMinimized)) return;
    if (bool(before & Qt::WindowMaximized) == bool(now & Qt::WindowMaximized)) return;
    FrameSettings().setValue(kMaximizedKey, bool(now & Qt::WindowMaximized));
  });
}

void CMainFrame::SetTabbed(bool on) {
  mdi_->setViewMode(on ? QMdiArea::TabbedView : QMdiArea::SubWindowView);
  if (on) {
    mdi_->setTabsClosable(true);
    mdi_->setTabsMovable(true);
    mdi_->setDocumentMode(true);
  }
  FrameSettings().setValue(kTabsKey, on);
  RefreshActions();
}

bool CMainFrame::Tabbed() const { return mdi_->viewMode() == QMdiArea::TabbedView; }

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Leave) statusBar()->clearMessage();
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowTitleChange && !caption_.isEmpty() && windowTitle() != caption_)
    setWindowTitle(caption_);
}

void CMainFrame::ActivateChild(CChildFrame* child) {
  if (mdi_->currentSubWindow() == child) OnSubWindowActivated(child);
  else OnSubWindowActivated(mdi_->currentSubWindow());
}

void CMainFrame::OnSubWindowActivated(QMdiSubWindow* window) {
  if (closingAll_) return;
  // Another top-level window (a dialog) being active leaves the current sub-window current:
  // the document stays active, so that a dialog does not stop its playback.
  if (!window) window = mdi_->currentSubWindow();
  VIZoravuDoc* doc = DocumentOf(window);
  // A document is active once its controller exists.
  if (doc && !doc->Editor()) doc = nullptr;
  Activate(doc);
}

void CMainFrame::Activate(VIZoravuDoc* doc) {
  if (doc != active_) {
    VIZoravuDoc* left = active_;
    active_ = doc;
    if (left) left->OnActivate(false);
    if (doc) {
      doc->OnActivate(true);
      EnableThresholdBar(true);
      SetThresholdPosition(doc->Editor()->MatchThreshold());
      SetThresholdCount(doc->Editor()->MatchCount());
    }
  }
  if (!active_) ShowNoDocument();
  UseMenus(HasDocuments());
  RefreshCaption();
  RefreshActions();
}

void CMainFrame::ShowNoDocument() {
  EnableThresholdBar(false);
  SetThresholdPosition(ThresholdBar::kDefaultPosition);
  SetThresholdCount(-1);
  // Without a document the panes have nothing to describe.
  for (int pane = 1; pane < kPanes; ++pane) panes_[pane]->clear();
}

void CMainFrame::ChildClosing(CChildFrame* child) {
  if (active_ && active_ == child->Document()) {
    VIZoravuDoc* left = active_;
    active_ = nullptr;
    left->OnActivate(false);
    if (selectionBar_) selectionBar_->SetEditor(nullptr);
    ShowNoDocument();
  }
  if (closingAll_) return;
  // Once the window is gone the area activates the next one, or none.
  QTimer::singleShot(0, this, [this] { OnSubWindowActivated(mdi_->currentSubWindow()); });
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (app_->Loading()) {
    event->ignore();
    return;
  }
  // Every changed document is asked about first; one Cancel keeps everything open.
  const QList<QMdiSubWindow*> windows = mdi_->subWindowList();
  for (QMdiSubWindow* window : windows) {
    VIZoravuDoc* doc = DocumentOf(window);
    if (!doc) continue;
    mdi_->setActiveSubWindow(window);
    if (!doc->CanClose()) {
      event->ignore();
      return;
    }
  }
  for (QMdiSubWindow* window : windows)
    if (auto* child = qobject_cast<CChildFrame*>(window)) child->CloseWithoutAsking();
  event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) {
      event->acceptProposedAction();
      return;
    }
  }
}

void CMainFrame::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  // Opened after the drop has ended, so that the program the files came from does not wait.
  QTimer::singleShot(0, this, [this, paths] {
    activateWindow();
    for (const QString& path : paths) app_->OpenDocumentFile(path);
  });
}

// ---- status bar ----

void CMainFrame::SetPaneText(int pane, const QString& text) {
  if (pane < 0 || pane >= kPanes) return;
  panes_[pane]->setText(text);
  if (pane >= kFirstSelectionPane && selectionBar_) selectionBar_->Refresh();
}

QString CMainFrame::PaneText(int pane) const {
  return pane >= 0 && pane < kPanes ? panes_[pane]->text() : QString();
}

void CMainFrame::SetThresholdPosition(int position) {
  threshold_->SetPosition(active_ ? position : ThresholdBar::kDefaultPosition);
}

void CMainFrame::SetThresholdCount(int count) {
  if (!active_) threshold_->ClearCount();
  else threshold_->SetCount(count);
}

void CMainFrame::EnableThresholdBar(bool on) { threshold_->setEnabled(on); }

void CMainFrame::BeginProgress(const QString& text) {
  ++progressBegun_;
  progressLabel_->setText(text);
  progressBar_->setValue(0);
  panes_[0]->hide();
  progressLabel_->show();
  progressBar_->show();
  progressCancel_->show();
}

void CMainFrame::SetProgress(double fraction) {
  progressBar_->setValue(int(std::lround(std::clamp(fraction, 0.0, 1.0) * 100)));
}

void CMainFrame::EndProgress() {
  progressLabel_->hide();
  progressBar_->hide();
  progressCancel_->hide();
  panes_[0]->setText(QString(33, ' '));
  panes_[0]->show();
}

bool CMainFrame::ProgressShown() const { return !progressBar_->isHidden(); }

int CMainFrame::ProgressValue() const { return progressBar_->value(); }
