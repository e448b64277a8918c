#include "app/DocumentView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QMdiArea>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cstdio>
#include <functional>

#include "app/AppUi.h"
#include "app/Application.h"
#include "app/DocumentPrompts.h"
#include "app/HostWindow.h"
#include "app/LoadInWindow.h"
#include "app/MainFrame.h"
#include "app/WorkInWindow.h"
#include "devices/AudioPlayer.h"
#include "editor/AudioFileEditor.h"
#include "editor/CommandCode.h"
#include "editor/Document.h"
#include "graphics/TrackWaveform.h"

namespace {
// Enabling codes beyond the controller's: always enabled, and enabled unless recording.
constexpr int kAlways = -2;
constexpr int kUnlessRecording = -1;

struct DocumentCommand {
  int id;
  int code;
};

// Every command of the document with the code that enables it.
constexpr DocumentCommand kCommands[] = {
    {CommandId::Save, kUnlessRecording},
    {CommandId::SaveAs, kUnlessRecording},
    {CommandId::Undo, CommandUndo},
    {CommandId::Redo, CommandRedo},
    {CommandId::Cut, CommandCut},
    {CommandId::Copy, CommandCopy},
    {CommandId::Paste, CommandPaste},
    {CommandId::Mix, CommandMix},
    {CommandId::Delete, CommandDelete},
    {CommandId::Trim, CommandTrim},
    {CommandId::SelectAll, kAlways},
    {CommandId::FindNext, CommandFindNext},
    {CommandId::FindPrevious, CommandFindPrevious},
    {CommandId::FitToWindow, kAlways},
    {CommandId::ZoomIn, CommandZoomIn},
    {CommandId::ZoomOut, CommandZoomOut},
    {CommandId::ColoredWaveform, CommandColoredWaveform},
    {CommandId::ShowChannels, kAlways},
    {CommandId::FadeIn, CommandFade},
    {CommandId::FadeOut, CommandFade},
    {CommandId::Normalize, CommandNormalize},
    {CommandId::Mute, CommandMuteVolume},
    {CommandId::Reverse, CommandReverse},
    {CommandId::Volume, CommandMuteVolume},
    {CommandId::InsertSilence, CommandInsertSilence},
    {CommandId::ShiftPitch, kAlways},
    {CommandId::ChangePitch, CommandStretch},
    {CommandId::ChangeTempo, CommandStretch},
    {CommandId::Play, CommandPlay},
    {CommandId::Pause, CommandPause},
    {CommandId::Stop, CommandStop},
    {CommandId::Record, CommandRecord},
    {CommandId::WebSearch, CommandWebSearch},
};

const DocumentCommand* FindCommand(int id) {
  for (const DocumentCommand& command : kCommands)
    if (command.id == id) return &command;
  return nullptr;
}

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString FromLocal(const std::string& text) { return QFile::decodeName(QByteArray::fromStdString(text)); }

constexpr const char* kAudioErrorCaption = "Audio Error";
// A command that runs longer shows its progress.
constexpr int kCommandProgressDelayMs = 300;
}  // namespace

// ---- VIZoravuDoc ----

VIZoravuDoc::VIZoravuDoc(VIZoravuApp* app, CMainFrame* frame, VIZoravuView* view)
    : app_(app),
      frame_(frame),
      view_(view),
      prompts_(std::make_unique<QtDocumentPrompts>(frame, app ? app->Devices() : WaveDeviceFactory())),
      work_(std::make_unique<WorkInWindow>(frame, view ? view->HostWindow() : nullptr, kCommandProgressDelayMs)) {}

VIZoravuDoc::~VIZoravuDoc() {
  load_.reset();
  document_.reset();
  while (waitCursors_ > 0) SetWaitCursor(false);
}

AudioEditorApp* VIZoravuDoc::Editor() const { return document_ ? document_->Editor() : nullptr; }

bool VIZoravuDoc::OnNewDocument() {
  return MakeDocument([this](EditorDocument& doc, GraphicsHost* host, QSize size) {
    return doc.New(host, size.width(), size.height());
  });
}

bool VIZoravuDoc::OnOpenDocument(const QString& path, ProgressCallback progress, std::intptr_t user) {
  return MakeDocument([&](EditorDocument& doc, GraphicsHost* host, QSize size) {
    return doc.Open(LocalPath(path), host, size.width(), size.height(), progress, user);
  });
}

bool VIZoravuDoc::OnOpenDocumentWhileLoading(const QString& path, double fromSeconds, int progressDelayMs,
                                             ProgressCallback progress, std::intptr_t user) {
  const bool made = MakeDocument([&](EditorDocument& doc, GraphicsHost* host, QSize size) {
    return doc.OpenWhileLoading(LocalPath(path), host, size.width(), size.height(), fromSeconds, progress, user);
  });
  if (!made || !document_->Loading()) return made;
  load_ = std::make_unique<LoadInWindow>(document_.get(), frame_, view_->HostWindow(), progressDelayMs);
  connect(load_.get(), &LoadInWindow::Ended, this, [this](bool opened) {
    if (opened) {
      HookNotifications();
      RenewTitle();
    }
    emit LoadEnded(opened);
  });
  return true;
}

bool VIZoravuDoc::Loading() const { return document_ && document_->Loading(); }

bool VIZoravuDoc::OnRecoverDocument(const JournalContents& journal, ProgressCallback progress, std::intptr_t user) {
  return MakeDocument([&](EditorDocument& doc, GraphicsHost* host, QSize size) {
    return doc.Recover(journal, host, size.width(), size.height(), progress, user);
  });
}

bool VIZoravuDoc::MakeDocument(const std::function<bool(EditorDocument&, GraphicsHost*, QSize)>& make) {
  document_ = std::make_unique<EditorDocument>(app_->MakeDocumentOptions(), this, prompts_.get());
  if (!make(*document_, view_->HostWindow(), view_->ClientSize())) {
    document_.reset();
    return false;
  }
  document_->SetProgress(&VIZoravuApp::LoadProgress, reinterpret_cast<std::intptr_t>(app_));
  document_->Editor()->SetLongWorkObserver(work_.get());
  HookNotifications();
  RenewTitle();
  return true;
}

void VIZoravuDoc::OnCloseDocument() {
  load_.reset();
  hookedPlayer_ = nullptr;
  document_.reset();
}

bool VIZoravuDoc::CanClose() {
  if (!document_) return true;
  const QString before = Path();
  const bool hadFile = document_->HasFile();
  app_->BeginLongWork();
  const bool may = document_->CanClose();
  app_->EndLongWork();
  // A Yes that saved under a new name puts that name among the recent files.
  if (document_->HasFile() && (!hadFile || Path() != before)) app_->AddRecentFile(Path());
  HookNotifications();
  RenewTitle();
  return may;
}

QString VIZoravuDoc::Title() const { return document_ ? FromLocal(document_->Title()) : QString(); }
QString VIZoravuDoc::Path() const { return document_ ? FromLocal(document_->Path()) : QString(); }
bool VIZoravuDoc::Modified() const { return document_ && document_->Modified(); }

void VIZoravuDoc::RenewTitle() {
  if (document_) emit TitleChanged(Title());
}

bool VIZoravuDoc::Active() const { return frame_ && frame_->ActiveDocument() == this; }

// ---- commands ----

bool VIZoravuDoc::IsDocumentCommand(int id) { return FindCommand(id) != nullptr; }

bool VIZoravuDoc::IsCheckable(int id) {
  return id == CommandId::FitToWindow || id == CommandId::ColoredWaveform || id == CommandId::ShowChannels;
}

bool VIZoravuDoc::IsCommandEnabled(int id) const {
  const DocumentCommand* command = FindCommand(id);
  AudioEditorApp* editor = Editor();
  if (!command || !editor || !editor->Waveform()) return false;
  // While the file loads, saving and shifting the pitch wait with the editing commands.
  if (document_->Loading() && (id == CommandId::Save || id == CommandId::SaveAs || id == CommandId::ShiftPitch))
    return false;
  if (command->code == kAlways) return true;
  return editor->IsCommandEnabled(command->code);
}

bool VIZoravuDoc::IsCommandChecked(int id) const {
  AudioEditorApp* editor = Editor();
  if (!editor || !editor->Waveform()) return false;
  if (id == CommandId::FitToWindow) return editor->Waveform()->Attached();
  if (id == CommandId::ColoredWaveform) return editor->Waveform()->ColourDisplay();
  if (id == CommandId::ShowChannels) return editor->ChannelsShown();
  return false;
}

int VIZoravuDoc::TransportState() const {
  AudioEditorApp* editor = Editor();
  if (!editor || !editor->Player()) return -1;
  return editor->Player()->State() * 4 + (editor->PausedPlay() ? 1 : 0) + (editor->PausedRecording() ? 2 : 0);
}

void VIZoravuDoc::ReportDeviceFailure(bool attempted) {
  AudioEditorApp* editor = Editor();
  CAI_AudioPlayer* player = editor ? editor->Player() : nullptr;
  if (!attempted || !player || player->State() != kDeviceIdle) return;
  if (editor->PausedPlay() || editor->PausedRecording()) return;
  const char* text = player->ErrorText();
  if (text && *text)
    AppUi::Current().ShowWarning(frame_, QString::fromLocal8Bit(text), QString::fromLatin1(kAudioErrorCaption));
}

namespace {
// With TINTWAVE_TIME_COMMANDS set in the environment, each command's time goes to standard error:
// until its handler returns, and until the window's events after it (its paint) are done.
class CommandTimer {
public:
  explicit CommandTimer(int id) : id_(id), on_(qEnvironmentVariableIsSet("TINTWAVE_TIME_COMMANDS")) {
    if (on_) clock_.start();
  }
  ~CommandTimer() {
    if (!on_) return;
    const double done = clock_.nsecsElapsed() / 1e6;
    QTimer::singleShot(0, [id = id_, done, clock = clock_] {
      std::fprintf(stderr, "tintwave: command %d done in %.1f ms, painted after %.1f ms\n", id, done,
                   clock.nsecsElapsed() / 1e6);
    });
  }

private:
  int id_;
  bool on_;
  QElapsedTimer clock_;
};
}  // namespace

bool VIZoravuDoc::OnCommand(int id) {
  AudioEditorApp* editor = Editor();
  if (!editor || !IsCommandEnabled(id)) return false;
  const CommandTimer timed(id);
  EditorDocument& doc = *document_;
  switch (id) {
    case CommandId::Save:
    case CommandId::SaveAs: {
      app_->BeginLongWork();
      const bool saved = id == CommandId::Save ? doc.Save() : doc.SaveAs();
      app_->EndLongWork();
      if (saved) app_->AddRecentFile(Path());
      break;
    }
    case CommandId::Undo: doc.Undo(); break;
    case CommandId::Redo: doc.Redo(); break;
    case CommandId::Cut: doc.Cut(); break;
    case CommandId::Copy: doc.Copy(); break;
    case CommandId::Paste: doc.Paste(); break;
    case CommandId::Mix: doc.Mix(); break;
    case CommandId::Delete: doc.Delete(); break;
    case CommandId::Trim: doc.Trim(); break;
    case CommandId::SelectAll: editor->SelectAll(); break;
    case CommandId::FindNext: doc.FindNext(); break;
    case CommandId::FindPrevious: doc.FindPrevious(); break;
    case CommandId::FitToWindow: editor->FitToWindow(); break;
    case CommandId::ZoomIn: editor->ZoomIn(); break;
    case CommandId::ZoomOut: editor->ZoomOut(); break;
    case CommandId::ColoredWaveform: editor->ToggleColouredWaveform(); break;
    case CommandId::ShowChannels: editor->ShowChannels(!editor->ChannelsShown()); break;
    case CommandId::FadeIn: doc.FadeIn(); break;
    case CommandId::FadeOut: doc.FadeOut(); break;
    case CommandId::Normalize: doc.Normalize(); break;
    case CommandId::Mute: doc.Mute(); break;
    case CommandId::Reverse: doc.Reverse(); break;
    case CommandId::Volume: doc.Volume(); break;
    case CommandId::InsertSilence: doc.InsertSilence(); break;
    case CommandId::ShiftPitch: doc.ShiftPitch(); break;
    case CommandId::ChangePitch: doc.ChangePitch(); break;
    case CommandId::ChangeTempo: doc.ChangeTempo(); break;
    case CommandId::Play: {
      const bool idle = editor->Player()->State() == kDeviceIdle;
      editor->Play();
      ReportDeviceFailure(idle);
      break;
    }
    case CommandId::Pause: {
      // Pause resumes a paused transport, which starts a device again.
      const bool resumes = editor->PausedPlay() || editor->PausedRecording();
      editor->Pause();
      ReportDeviceFailure(resumes);
      break;
    }
    case CommandId::Stop: editor->Stop(); break;
    case CommandId::Record: {
      const bool wasModified = doc.Modified();
      if (doc.Record()) {
        CAI_AudioPlayer* player = editor->Player();
        // Nothing was recorded when the input did not start.
        if (player->State() == kDeviceIdle && !editor->PausedRecording() && *player->ErrorText()) {
          doc.TakeBackRecording(wasModified);
          ReportDeviceFailure(true);
        }
      }
      break;
    }
    case CommandId::WebSearch: doc.WebSearch(); break;
    default: return false;
  }
  // A save may have made fresh parts: the new player needs the hook too.
  HookNotifications();
  RenewTitle();
  return true;
}

bool VIZoravuDoc::OnSpaceKey() {
  AudioEditorApp* editor = Editor();
  if (!editor) return false;
  bool handled = false;
  if (editor->IsCommandEnabled(CommandPlay)) handled = OnCommand(CommandId::Play);
  else if (editor->IsCommandEnabled(CommandPause)) handled = OnCommand(CommandId::Pause);
  if (handled && frame_) frame_->RefreshActions();
  return handled;
}

void VIZoravuDoc::OnActivate(bool active) {
  if (AudioEditorApp* editor = Editor()) editor->OnActivate(active);
}

void VIZoravuDoc::HookNotifications() {
  AudioEditorApp* editor = Editor();
  CAI_AudioPlayer* player = editor ? editor->Player() : nullptr;
  if (player == hookedPlayer_) return;
  hookedPlayer_ = player;
  if (!player) return;
  // Runs on the device's thread: it only asks the UI thread to drain the notices. The player
  // goes (and takes the hook with it) before the view does.
  QPointer<VIZoravuView> view(view_);
  player->SetNotificationHook([view] {
    if (VIZoravuView* target = view.data()) target->PostNotifications();
  });
}

void VIZoravuDoc::DrainNotifications() {
  AudioEditorApp* editor = Editor();
  if (CAI_AudioPlayer* player = editor ? editor->Player() : nullptr) player->ProcessNotifications();
}

// ---- EditorFrame ----

void VIZoravuDoc::SetPaneText(int pane, const std::string& text) {
  // A document in the background leaves the active one's panes alone.
  if (!frame_ || (!Active() && frame_->ActiveDocument())) return;
  frame_->SetPaneText(pane, QString::fromStdString(text));
}

void VIZoravuDoc::SetThresholdCount(int count) {
  if (frame_ && Active()) frame_->SetThresholdCount(count);
}

void VIZoravuDoc::ShowWarning(const std::string& text) {
  AppUi::Current().ShowWarning(frame_, QString::fromStdString(text));
}

void VIZoravuDoc::SetWaitCursor(bool on) {
  if (on) {
    ++waitCursors_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (waitCursors_ > 0) {
    --waitCursors_;
    QApplication::restoreOverrideCursor();
  }
}

// ---- VIZoravuView ----

VIZoravuView::VIZoravuView(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  wnd_ = new CGN_Wnd(this);
  layout->addWidget(wnd_);
  setFocusProxy(wnd_);
  wnd_->installEventFilter(this);
  wnd_->viewport()->installEventFilter(this);  // the wheel arrives at the viewport
}

VIZoravuView::~VIZoravuView() = default;

QSize VIZoravuView::ClientSize() const {
  const QSize size = wnd_->ClientSize();
  // Hidden windows have no size yet; the root follows the real one when it is shown.
  if (size.width() <= 0 || size.height() <= 0) return QSize(480, 240);
  return size;
}

void VIZoravuView::PostNotifications() {
  if (notificationsPending_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        notificationsPending_ = false;
        if (doc_) doc_->DrainNotifications();
      },
      Qt::QueuedConnection);
}

bool VIZoravuView::TakeSpace(QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() != Qt::Key_Space || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
  if (!doc_) return false;
  // Holding the key down does not toggle between playing and pausing.
  if (key->isAutoRepeat()) return true;
  return doc_->OnSpaceKey();
}

bool VIZoravuView::TakeNavigation(QEvent* event) {
  AudioEditorApp* editor = doc_ ? doc_->Editor() : nullptr;
  if (!editor || event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
  if (modifiers & ~(Qt::ShiftModifier | Qt::ControlModifier)) return false;
  using Key = EP_AudioFileEditor::NavigationKey;
  Key which;
  switch (key->key()) {
    case Qt::Key_Home: which = Key::Home; break;
    case Qt::Key_End: which = Key::End; break;
    case Qt::Key_Left: which = Key::Left; break;
    case Qt::Key_Right: which = Key::Right; break;
    default: return false;
  }
  editor->Navigate(which, modifiers & Qt::ControlModifier, modifiers & Qt::ShiftModifier);
  return true;
}

bool VIZoravuView::TakeWheel(QEvent* event) {
  AudioEditorApp* editor = doc_ ? doc_->Editor() : nullptr;
  if (!editor || event->type() != QEvent::Wheel) return false;
  auto* wheel = static_cast<QWheelEvent*>(event);
  // 120 is one notch; a horizontal wheel or tilt scrolls too. Up and left go back in time.
  const QPoint delta = wheel->angleDelta();
  const double notches = -(delta.y() != 0 ? delta.y() : delta.x()) / 120.0;
  if (wheel->modifiers() & Qt::ControlModifier) editor->ZoomByWheel(-notches, int(wheel->position().x()));
  else editor->ScrollByWheel(notches);
  return true;
}

bool VIZoravuView::event(QEvent* event) {
  if (TakeSpace(event) || TakeNavigation(event)) return true;
  return QWidget::event(event);
}

bool VIZoravuView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == wnd_ && (TakeSpace(event) || TakeNavigation(event))) return true;
  if (watched == wnd_->viewport() && TakeWheel(event)) return true;
  return QWidget::eventFilter(watched, event);
}

// ---- CChildFrame ----

CChildFrame::CChildFrame(VIZoravuApp* app, CMainFrame* frame) : frame_(frame) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName("childframe");
  view_ = new VIZoravuView(this);
  setWidget(view_);
  doc_ = std::make_unique<VIZoravuDoc>(app, frame, view_);
  view_->SetDocument(doc_.get());
  connect(doc_.get(), &VIZoravuDoc::TitleChanged, this, [this](const QString& title) {
    setWindowTitle(title);
    if (frame_) frame_->RefreshCaption();
  });
  if (frame && frame->MdiArea()) {
    const QSize area = frame->MdiArea()->viewport()->size();
    resize(std::max(320, area.width() * 3 / 4), std::max(200, area.height() * 3 / 4));
  }
}

CChildFrame::~CChildFrame() {
  // A child that was closed has told the frame already (and the frame may be going away now).
  if (doc_ && doc_->Editor() && frame_) frame_->ChildClosing(this);
  view_->SetDocument(nullptr);
  doc_.reset();
}

void CChildFrame::CloseWithoutAsking() {
  approved_ = true;
  close();
}

void CChildFrame::closeEvent(QCloseEvent* event) {
  if (!approved_ && doc_ && !doc_->CanClose()) {
    event->ignore();
    return;
  }
  approved_ = true;
  if (frame_) frame_->ChildClosing(this);
  // The controller goes before the window it draws into.
  if (doc_) doc_->OnCloseDocument();
  QMdiSubWindow::closeEvent(event);
}
