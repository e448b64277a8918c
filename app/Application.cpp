#include "app/Application.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

#include "app/AppUi.h"
#include "app/Dialogs.h"
#include "app/RecoveryDlg.h"
#include "app/WorkInWindow.h"
#include "app/DocumentView.h"
#include "app/MainFrame.h"
#include "devices/alsa/DefaultDevices.h"
#include "editor/SharedClipboard.h"

#ifndef TINTWAVE_VERSION
#define TINTWAVE_VERSION "0.1"
#endif

namespace {
constexpr const char* kShowIntroKey = "ShowIntro";
constexpr const char* kCorrectDCKey = "CorrectDC";
constexpr const char* kMatchAnywhereKey = "MatchAnywhere";
constexpr const char* kSearchBySoundKey = "SearchBySound";
constexpr const char* kUndoLevelsKey = "UndoLevels";
constexpr const char* kSearchUrlKey = "SearchURL";
constexpr const char* kRecentGroup = "Recent File List";

// The Open dialog's filters, "name|patterns|" each, in the order the open types follow.
constexpr const char* kOpenFilters =
    "Supported audio files|*.aif;*.aiff;*.aifc;*.au;*.iff;*.mod;*.mpeg;*.mp2;*.mp3;*.mpg;*.snd;*.voc;*.wav;*.mid;*.midi;"
    "*.flac;*.ogg;*.oga;*.opus;*.caf;*.w64;*.m4a;*.mp4;*.m4b;*.mov;*.aac;*.alac;*.wma;*.asf;*.wv;*.ape;*.mka;*.mkv;"
    "*.webm;*.avi;*.flv;*.rf64|"
    "Apple AIFF (*.aif,*.aifc)|*.aif;*.aiff;*.aifc|"
    "Sun / NeXT file (*.au,*.snd)|*.au;*.snd|"
    "MPEG MP2, MP3 (*.mpeg,*.mp2,*.mp3,*.mpg)|*.mpeg;*.mp2;*.mp3;*.mpg|"
    "Raw files (*.raw,*.*)|*.raw;*.*|"
    "Creative Labs VOC (*.voc)|*.voc|"
    "Microsoft WAVE (*.wav)|*.wav|"
    "FLAC, Ogg, Opus, M4A, WMA, WavPack, Monkey's Audio, Matroska, video|*.flac;*.ogg;*.oga;*.opus;*.caf;*.w64;"
    "*.m4a;*.mp4;*.m4b;*.mov;*.wma;*.asf;*.wv;*.ape;*.mka;*.mkv;*.webm;*.avi;*.flv|"
    "All Files (*.*)|*.*||";

// The open type of a 1-based filter index.
int OpenTypeOfFilter(int index) {
  switch (index) {
    case 2: return 3;  // AIFF
    case 3: return 2;  // AU
    case 4: return 4;  // MPEG
    case 5: return kOpenTypeRaw;
    case 6: return 8;  // VOC
    case 7: return 1;  // WAVE
    default: return kOpenTypeByName;
  }
}

// A decimal integer at the start of a text, as "%d" reads it; false when there is none.
bool ReadDecimal(const QString& text, int* value) {
  const QString t = text.trimmed();
  int end = 0;
  if (end < t.size() && (t[end] == '-' || t[end] == '+')) ++end;
  const int digits = end;
  while (end < t.size() && t[end].isDigit()) ++end;
  if (end == digits) return false;
  bool ok = false;
  const qlonglong v = t.left(end).toLongLong(&ok);
  if (!ok || v < INT_MIN || v > INT_MAX) return false;
  *value = int(v);
  return true;
}
}  // namespace

// ---- command line ----

VIZoravuApp::CommandLine VIZoravuApp::ParseCommandLine(const QStringList& arguments) {
  CommandLine line;
  bool options = true;
  for (const QString& argument : arguments) {
    if (options && argument == "--") {
      options = false;
      continue;
    }
    if (!options) {
      line.files << argument;
      continue;
    }
    const QString lower = argument.toLower();
    if (lower == "play" || lower == "/play" || lower == "-play" || lower == "--play") line.play = true;
    else if (argument == "--help" || argument == "-h") line.help = true;
    else if (argument == "--version") line.version = true;
    else if (argument.size() > 1 && argument.startsWith('-')) {
      if (line.error.isEmpty()) line.error = argument;
    } else if (!argument.isEmpty()) {
      line.files << argument;
    }
  }
  return line;
}

QString VIZoravuApp::UsageText() {
  return QStringLiteral(
      "Usage: tintwave [OPTION]... [FILE]... [play]\n"
      "Opens each FILE in the Tintwave audio editor.\n"
      "\n"
      "  play, -play, /play  start playing the opened file at once\n"
      "  --help              show this help and exit\n"
      "  --version           show the version and exit\n"
      "  --                  every later argument is a file name\n"
      "\n"
      "Qt's own options (-platform, -style, ...) are understood as well.\n");
}

QString VIZoravuApp::VersionText() { return QStringLiteral("Tintwave Audio Player " TINTWAVE_VERSION "\n"); }

std::optional<int> VIZoravuApp::HandleInformationalOptions(const QStringList& arguments, QTextStream& out,
                                                           QTextStream& /*err*/) {
  const CommandLine line = ParseCommandLine(arguments);
  if (line.help) {
    out << UsageText();
    out.flush();
    return 0;
  }
  if (line.version) {
    out << VersionText();
    out.flush();
    return 0;
  }
  return std::nullopt;
}

QString VIZoravuApp::HelpUrlFor(const QString& programDir) {
  QString dir = programDir;
  while (dir.endsWith('/') && dir.size() > 1) dir.chop(1);
  if (dir.startsWith('/')) dir.remove(0, 1);
  return QString("file:///%1/html/%2").arg(dir, QString::fromLatin1(kHelpPage));
}

// ---- life ----

VIZoravuApp::VIZoravuApp(QApplication& application, QObject* parent)
    : QObject(parent),
      application_(application),
      settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, kOrganisation, kApplication)),
      searchUrl_(QString::fromLatin1(kDefaultSearchUrl)),
      devices_([](WaveDirection direction) { return MakeDefaultWaveDevice(direction); }),
      recoveryDir_(DefaultRecoveryDir()) {
  connect(&application_, &QCoreApplication::aboutToQuit, this, &VIZoravuApp::OnAboutToQuit);
}

CIntroDlg* VIZoravuApp::Introduction() const { return intro_.data(); }

VIZoravuApp::~VIZoravuApp() {
  delete intro_.data();
  frame_.reset();
  OnAboutToQuit();
}

void VIZoravuApp::OnAboutToQuit() {
  // The documents are closed by now; the clipboard's tracks go last.
  SharedClipboard::Instance().Clear();
}

std::optional<int> VIZoravuApp::Start(const QStringList& arguments) {
  const CommandLine line = ParseCommandLine(arguments);
  QTextStream out(stdout);
  QTextStream err(stderr);
  if (line.help || line.version) return HandleInformationalOptions(arguments, out, err);
  if (!line.error.isEmpty()) {
    err << QString("tintwave: unknown option '%1'\nTry 'tintwave --help' for more information.\n").arg(line.error);
    err.flush();
    return 2;
  }

  LoadRecentFiles();
  frame_ = std::make_unique<CMainFrame>(this);
  frame_->SetRecentFiles(recent_);
  frame_->show();

  // The stored preferences are read before any file opens, so that a file named on the
  // command line is loaded with the user's DC correction choice too.
  ReadPreferences();
  RecoverDocuments();
  VIZoravuDoc* opened = nullptr;
  for (const QString& file : line.files)
    if (VIZoravuDoc* doc = OpenDocumentFile(file)) opened = doc;
  if (line.play && opened) PlayWhenItCan(opened);

  if (showIntro_ && line.files.isEmpty()) {
    intro_ = new CIntroDlg(frame_.get());
    intro_->show();
  }
  return std::nullopt;
}

// ---- settings ----

void VIZoravuApp::ReadPreferences() {
  QSettings& s = *settings_;
  int value = 0;
  if (s.contains(kShowIntroKey) && ReadDecimal(s.value(kShowIntroKey).toString(), &value)) showIntro_ = value != 0;
  if (s.contains(kCorrectDCKey) && ReadDecimal(s.value(kCorrectDCKey).toString(), &value)) correctDC_ = value != 0;
  if (s.contains(kMatchAnywhereKey) && ReadDecimal(s.value(kMatchAnywhereKey).toString(), &value))
    matchAnywhere_ = value != 0;
  if (s.contains(kSearchBySoundKey) && ReadDecimal(s.value(kSearchBySoundKey).toString(), &value))
    searchBySound_ = value != 0;
  if (s.contains(kUndoLevelsKey) && ReadDecimal(s.value(kUndoLevelsKey).toString(), &value) && value >= 0)
    undoLevels_ = value;
  if (s.contains(kSearchUrlKey)) {
    const QString url = s.value(kSearchUrlKey).toString().trimmed();
    if (!url.isEmpty()) searchUrl_ = url;
  }
}

void VIZoravuApp::WritePreferences() {
  QSettings& s = *settings_;
  s.setValue(kShowIntroKey, QString::number(showIntro_ ? 1 : 0));
  s.setValue(kCorrectDCKey, QString::number(correctDC_ ? 1 : 0));
  s.setValue(kMatchAnywhereKey, QString::number(matchAnywhere_ ? 1 : 0));
  s.setValue(kSearchBySoundKey, QString::number(searchBySound_ ? 1 : 0));
  s.setValue(kUndoLevelsKey, QString::number(undoLevels_));
  s.setValue(kSearchUrlKey, searchUrl_);
  s.sync();
}

void VIZoravuApp::LoadRecentFiles() {
  recent_.clear();
  QSettings& s = *settings_;
  s.beginGroup(kRecentGroup);
  for (int i = 1; i <= kRecentFiles; ++i) {
    const QString path = s.value(QString("File%1").arg(i)).toString();
    if (!path.isEmpty() && !recent_.contains(path)) recent_ << path;
  }
  s.endGroup();
}

void VIZoravuApp::SaveRecentFiles() {
  QSettings& s = *settings_;
  s.beginGroup(kRecentGroup);
  s.remove("");
  for (int i = 0; i < recent_.size(); ++i) s.setValue(QString("File%1").arg(i + 1), recent_[i]);
  s.endGroup();
  s.sync();
  if (frame_) frame_->SetRecentFiles(recent_);
}

void VIZoravuApp::AddRecentFile(const QString& path) {
  if (path.isEmpty()) return;
  const QString full = QFileInfo(path).absoluteFilePath();
  recent_.removeAll(full);
  recent_.prepend(full);
  while (recent_.size() > kRecentFiles) recent_.removeLast();
  SaveRecentFiles();
}

void VIZoravuApp::RemoveRecentFile(const QString& path) {
  if (recent_.removeAll(path) > 0) SaveRecentFiles();
}

DocumentOptions VIZoravuApp::MakeDocumentOptions() const {
  DocumentOptions options;
  options.newChannels = channels_;
  options.newRate = rate_;
  options.newSeconds = newDuration_;
  options.correctDC = correctDC_;
  options.matchAnywhere = matchAnywhere_;
  options.searchBySound = searchBySound_;
  options.undoLevels = undoLevels_;
  options.openType = openType_;
  options.raw = raw_;
  // The raw-file dialog and the New dialog share the channels and the rate.
  options.raw.channels = channels_;
  options.raw.rate = rate_;
  options.searchUrl = searchUrl_.toStdString();
  options.devices = devices_;
  options.browser = browser_;
  options.recoveryDir = recoveryDir_;
  return options;
}

// ---- commands ----

void VIZoravuApp::OnFileNew() {
  NewFileDlg dialog(frame_.get());
  dialog.rateText = QString::number(rate_);
  dialog.duration = newDuration_;
  dialog.channels = channels_;
  if (!AppUi::Current().RunDialog(dialog)) return;
  int rate = rate_;
  if (ReadDecimal(dialog.rateText, &rate)) rate_ = rate;
  newDuration_ = dialog.duration;
  channels_ = dialog.channels;
  NewDocument();
}

void VIZoravuApp::OnFileOpen() {
  int filter = 1;
  const QString path =
      AppUi::Current().ChooseOpenFile(frame_.get(), lastPath_, QString::fromLatin1(kOpenFilters), &filter);
  if (path.isEmpty()) return;
  openType_ = OpenTypeOfFilter(filter);
  lastPath_ = path;
  if (openType_ == kOpenTypeRaw) {
    RawFileDlg dialog(frame_.get());
    dialog.rateText = QString::number(rate_);
    dialog.channels = channels_;
    dialog.bits = raw_.bits;
    dialog.compression = raw_.compression;
    dialog.bigEndian = raw_.bigEndian;
    dialog.isSigned = raw_.isSigned;
    if (!AppUi::Current().RunDialog(dialog)) return;
    int rate = rate_;
    if (ReadDecimal(dialog.rateText, &rate)) rate_ = rate;
    channels_ = dialog.channels;
    raw_.bits = dialog.bits;
    raw_.compression = dialog.compression;
    raw_.bigEndian = dialog.bigEndian;
    raw_.isSigned = dialog.isSigned;
  }
  OpenDocumentFile(path);
}

void VIZoravuApp::OnPreferences() {
  PreferencesDlg dialog(frame_.get());
  dialog.showIntroduction = showIntro_;
  dialog.correctDC = correctDC_;
  dialog.matchAnywhere = matchAnywhere_;
  dialog.searchBySound = searchBySound_;
  dialog.undoLevels = undoLevels_;
  dialog.searchUrl = searchUrl_;
  if (!AppUi::Current().RunDialog(dialog)) return;
  showIntro_ = dialog.showIntroduction;
  correctDC_ = dialog.correctDC;
  matchAnywhere_ = dialog.matchAnywhere;
  searchBySound_ = dialog.searchBySound;
  undoLevels_ = dialog.undoLevels;
  const QString url = dialog.searchUrl.trimmed();
  searchUrl_ = url.isEmpty() ? QString::fromLatin1(kDefaultSearchUrl) : url;
  WritePreferences();
  // Open documents search the new service, and match as now chosen, from now on too.
  for (VIZoravuDoc* doc : frame_->Documents())
    if (doc->Document()) {
      doc->Document()->SetSearchUrl(searchUrl_.toStdString());
      doc->Document()->SetMatchAnywhere(matchAnywhere_);
      doc->Document()->SetSearchBySound(searchBySound_);
      doc->Document()->SetUndoLevels(undoLevels_);
    }
}

void VIZoravuApp::OnAbout() {
  CAboutDlg dialog(frame_.get());
  AppUi::Current().RunDialog(dialog);
}

bool VIZoravuApp::Launch(const QString& url) const {
  const std::string text = url.toStdString();
  return browser_ ? browser_(text) : LaunchBrowser(text);
}

QString VIZoravuApp::HelpUrl() const {
  const QString programDir = QCoreApplication::applicationDirPath();
  const QString page = QString("/html/") + kHelpPage;
  // Beside the program, else where an installation keeps it.
  QStringList candidates{programDir, QDir::cleanPath(programDir + "/../share/tintwave")};
  const QString shared = QStandardPaths::locate(QStandardPaths::GenericDataLocation, QString("tintwave") + page);
  if (!shared.isEmpty()) candidates << QFileInfo(shared).absolutePath().chopped(QString("/html").size());
  for (const QString& dir : candidates)
    if (QFileInfo::exists(dir + page)) return HelpUrlFor(dir);
  return HelpUrlFor(programDir);
}

void VIZoravuApp::OnHelp() {
  if (!Launch(HelpUrl())) AppUi::Current().ShowWarning(frame_.get(), QString::fromLatin1(kBrowserFailureText));
}

VIZoravuDoc* VIZoravuApp::NewDocument() { return CreateDocument(nullptr); }

VIZoravuDoc* VIZoravuApp::OpenDocumentFile(const QString& path) {
  if (!frame_ || path.isEmpty()) return nullptr;
  if (Loading()) {
    // A file that arrives while another loads (a drop handled between its chunks, or while a
    // long file is shown loading) waits for it.
    QTimer::singleShot(100, this, [this, path] { OpenDocumentFile(path); });
    return nullptr;
  }
  const QFileInfo info(path);
  const QString full = info.absoluteFilePath();
  // A file that is open already is brought to the front.
  const QString canonical = info.canonicalFilePath();
  if (!canonical.isEmpty()) {
    for (QMdiSubWindow* window : frame_->MdiArea()->subWindowList()) {
      VIZoravuDoc* doc = CMainFrame::DocumentOf(window);
      if (doc && doc->Editor() && QFileInfo(doc->Path()).canonicalFilePath() == canonical) {
        frame_->MdiArea()->setActiveSubWindow(window);
        return doc;
      }
    }
  }
  VIZoravuDoc* doc = CreateDocument(&full);
  if (doc) AddRecentFile(full);
  return doc;
}

void VIZoravuApp::OpenRecentFile(int index) {
  if (index < 0 || index >= recent_.size()) return;
  const QString path = recent_[index];
  // A file that waits for another's load (opened later) stays in the list.
  if (!OpenDocumentFile(path) && !Loading()) RemoveRecentFile(path);
}

VIZoravuDoc* VIZoravuApp::CreateDocument(const QString* path) {
  if (!path) return CreateDocument([](VIZoravuDoc* doc) { return doc->OnNewDocument(); });
  ++loading_;
  BeginLongWork();
  // A long file is shown at once and loads while the user looks at it and plays it.
  VIZoravuDoc* doc = CreateDocument([&](VIZoravuDoc* made) {
    return made->OnOpenDocumentWhileLoading(*path, loadWhileShownFrom_, progressDelayMs_, &VIZoravuApp::LoadProgress,
                                            reinterpret_cast<std::intptr_t>(this));
  });
  --loading_;
  EndLongWork();
  if (doc && doc->Loading()) {
    const QString full = *path;
    QPointer<CChildFrame> child;
    for (QMdiSubWindow* window : frame_->MdiArea()->subWindowList())
      if (CMainFrame::DocumentOf(window) == doc) child = qobject_cast<CChildFrame*>(window);
    // Queued: the document goes after the load's own step has returned.
    connect(doc, &VIZoravuDoc::LoadEnded, this, [this, child, full](bool opened) {
      if (opened) return;
      RemoveRecentFile(full);
      if (child) child->CloseWithoutAsking();
    }, Qt::QueuedConnection);
  }
  return doc;
}

void VIZoravuApp::PlayWhenItCan(VIZoravuDoc* doc) {
  if (!doc->Loading()) {
    frame_->Trigger(CommandId::Play);
    return;
  }
  // A file shown while it loads plays as soon as its first audio has arrived.
  QPointer<VIZoravuDoc> target(doc);
  auto* poll = new QTimer(this);
  connect(poll, &QTimer::timeout, this, [this, poll, target] {
    if (target && target->Loading() && !target->IsCommandEnabled(CommandId::Play)) return;
    poll->deleteLater();
    if (target && frame_ && frame_->ActiveDocument() == target) frame_->Trigger(CommandId::Play);
  });
  poll->start(0);
}

bool VIZoravuApp::Loading() const {
  if (loading_ > 0) return true;
  if (frame_)
    for (QMdiSubWindow* window : frame_->MdiArea()->subWindowList())
      if (VIZoravuDoc* doc = CMainFrame::DocumentOf(window); doc && doc->Loading()) return true;
  return false;
}

VIZoravuDoc* VIZoravuApp::CreateDocument(const std::function<bool(VIZoravuDoc*)>& make) {
  auto* child = new CChildFrame(this, frame_.get());
  frame_->AddChild(child);
  VIZoravuDoc* doc = child->Document();
  if (!make(doc)) {
    child->CloseWithoutAsking();
    return nullptr;
  }
  frame_->MdiArea()->setActiveSubWindow(child);
  frame_->ActivateChild(child);
  return doc;
}

int VIZoravuApp::RecoverDocuments() {
  std::vector<OrphanJournal> orphans = FindOrphanJournals(recoveryDir_);
  if (orphans.empty()) return 0;
  RecoveryDlg dialog(frame_.get());
  for (const OrphanJournal& orphan : orphans) {
    const JournalContents& j = orphan.summary;
    const QString name = j.source.isFile ? QFileInfo(QString::fromStdString(j.source.path)).fileName()
                                         : QStringLiteral("Untitled.wav (new)");
    const QString last = QDateTime::fromMSecsSinceEpoch(j.lastCommandMs).toString("yyyy-MM-dd HH:mm:ss");
    QString text = QString("%1 — %2 edit%3, the last at %4").arg(name).arg(j.commandCount)
                       .arg(j.commandCount == 1 ? "" : "s", last);
    if (orphan.sourceChanged) text += QString(" (%1)").arg(QString::fromStdString(orphan.sourceWhy));
    dialog.offers.push_back({text, !orphan.sourceChanged});
  }
  if (!AppUi::Current().RunDialog(dialog)) return 0;  // Later: the journals wait for the next start
  int recovered = 0;
  for (std::size_t i = 0; i < orphans.size(); ++i) {
    OrphanJournal& orphan = orphans[i];
    if (!dialog.offers[i].chosen) {
      orphan.Remove();
      continue;
    }
    JournalContents journal;
    std::string error;
    if (!ReadJournal(orphan.fd, &journal, &error)) {
      AppUi::Current().ShowWarning(frame_.get(), QString::fromStdString(orphan.path + ": " + error));
      continue;
    }
    ++loading_;
    BeginLongWork();
    // The recovered document journals its replay afresh; the old journal then goes.
    const bool ok = CreateDocument([&](VIZoravuDoc* doc) {
      return doc->OnRecoverDocument(journal, &VIZoravuApp::LoadProgress, reinterpret_cast<std::intptr_t>(this));
    }) != nullptr;
    --loading_;
    EndLongWork();
    // A journal that could not be replayed (its file changed) stays, with its recordings.
    if (ok) {
      orphan.Remove();
      ++recovered;
    }
  }
  return recovered;
}

// ---- progress ----

void VIZoravuApp::BeginLongWork() {
  if (!loadWork_ || loadWorkFrame_ != frame_.get()) {
    loadWork_ = std::make_unique<WorkInWindow>(frame_.get(), nullptr, progressDelayMs_);
    loadWorkFrame_ = frame_.get();
  }
  loadWork_->SetDelay(progressDelayMs_);
  loadWork_->BeginWork("");
}

void VIZoravuApp::EndLongWork() {
  if (loadWork_) loadWork_->EndWork();
}

bool VIZoravuApp::LoadProgress(std::intptr_t user, const char* text, int percent) {
  return reinterpret_cast<VIZoravuApp*>(user)->OnLoadProgress(text, percent);
}

bool VIZoravuApp::OnLoadProgress(const char* text, int percent) {
  // Short loads show nothing; longer ones a bar in pane 0, and Escape or Cancel stops them.
  if (!loadWork_ || !loadWork_->Running()) return true;
  if (text && *text) loadWork_->SetText(QString::fromUtf8(text));
  return loadWork_->WorkProgress(percent);
}

void VIZoravuApp::EndProgress() {
  if (frame_) frame_->EndProgress();
}

void VIZoravuApp::SetProgress(double fraction) {
  if (frame_) frame_->SetProgress(fraction);
}

void VIZoravuApp::BeginProgress(const QString& text) {
  if (frame_) frame_->BeginProgress(text);
}

void VIZoravuApp::ShowMessage(const QString& text) { AppUi::Current().ShowWarning(frame_.get(), text); }
