#pragma once
// The application object: start-up, the settings that outlive documents (preferences, the
// values for new and headerless files, the last path, the open type, the recent files), the
// commands New, Open, Preferences, About and Help, the introduction window and the command
// line. It owns the main frame and makes the documents. UI thread only.
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>
#include <functional>
#include <optional>
#include <string>

#include "editor/Document.h"

class CIntroDlg;
class CMainFrame;
class QApplication;
class QSettings;
class QTextStream;
class VIZoravuDoc;
class WorkInWindow;

// Progress display and messages for the rest of the program; this base shows nothing.
class CUI_Application {
public:
  virtual ~CUI_Application() = default;
  virtual void EndProgress() {}
  virtual void SetProgress(double /*fraction*/) {}
  virtual void BeginProgress(const QString& /*text*/) {}
  virtual void ShowMessage(const QString& /*text*/) {}
};

class VIZoravuApp : public QObject, public CUI_Application {
  Q_OBJECT
public:
  // The settings' organisation and application.
  static constexpr const char* kOrganisation = "Tintwave";
  static constexpr const char* kApplication = "Audio Player";
  static constexpr int kRecentFiles = 4;
  static constexpr const char* kHelpPage = "VIZoravu.htm";

  // What the command line asks for.
  struct CommandLine {
    QStringList files;
    bool play = false;
    bool help = false;
    bool version = false;
    QString error;  // an unknown option
  };
  // arguments without the program name.
  static CommandLine ParseCommandLine(const QStringList& arguments);
  // --help and --version (and a refused option): the text written and the exit code; nothing
  // for a command line that starts the program.
  static std::optional<int> HandleInformationalOptions(const QStringList& arguments, QTextStream& out,
                                                       QTextStream& err);
  static QString UsageText();
  static QString VersionText();
  // The help page's URL for a page beside the program in dir: "file:///dir/html/page".
  static QString HelpUrlFor(const QString& programDir);

  explicit VIZoravuApp(QApplication& application, QObject* parent = nullptr);
  ~VIZoravuApp() override;

  // Start-up with the arguments without the program name: the settings, the main frame, the
  // files of the command line (played with the "play" switch), the introduction window.
  // Returns an exit code when the program should end at once, else nothing.
  std::optional<int> Start(const QStringList& arguments);

  // ---- commands ----
  void OnFileNew();
  void OnFileOpen();
  void OnPreferences();
  void OnAbout();
  void OnHelp();
  // Opens a file with the current open type; an already open file is activated instead.
  VIZoravuDoc* OpenDocumentFile(const QString& path);
  VIZoravuDoc* NewDocument();
  void OpenRecentFile(int index);
  // The documents a crash left unsaved: listed in the recovery dialog, the chosen ones replayed
  // from their journals. Runs at start-up; the number of documents recovered.
  int RecoverDocuments();
  // Where the documents' edit journals go ($XDG_STATE_HOME/tintwave/recovery).
  const std::string& RecoveryDir() const { return recoveryDir_; }

  // ---- settings ----
  CMainFrame* MainFrame() const { return frame_.get(); }
  QSettings& Settings() const { return *settings_; }
  bool ShowIntroduction() const { return showIntro_; }
  bool CorrectDC() const { return correctDC_; }
  bool MatchAnywhere() const { return matchAnywhere_; }
  bool SearchBySound() const { return searchBySound_; }
  QString SearchUrl() const { return searchUrl_; }
  int OpenType() const { return openType_; }
  void SetOpenType(int type) { openType_ = type; }
  const RawLayout& Raw() const { return raw_; }
  int Channels() const { return channels_; }
  int Rate() const { return rate_; }
  double NewDuration() const { return newDuration_; }
  QString LastPath() const { return lastPath_; }
  QStringList RecentFiles() const { return recent_; }
  void AddRecentFile(const QString& path);
  void RemoveRecentFile(const QString& path);
  // Reads "ShowIntro", "CorrectDC", "MatchAnywhere", "SearchBySound", "UndoLevels" and "SearchURL"; a missing or unreadable value keeps the
  // current one.
  void ReadPreferences();
  void WritePreferences();
  // What a new document is made with.
  DocumentOptions MakeDocumentOptions() const;
  WaveDeviceFactory Devices() const { return devices_; }

  // ---- services (tests put in their own) ----
  void SetDeviceFactory(WaveDeviceFactory devices) { devices_ = std::move(devices); }
  void SetBrowserLauncher(BrowserLauncher browser) { browser_ = std::move(browser); }
  bool Launch(const QString& url) const;
  QString HelpUrl() const;
  CIntroDlg* Introduction() const;
  // How long a load runs before its progress bar appears.
  void SetProgressDelay(int ms) { progressDelayMs_ = ms; }
  // Whether a file is loading (at once, or while its document is shown).
  bool Loading() const;
  // Files that announce at least this many seconds are shown while they load (0: every file).
  void SetLoadWhileShownFrom(double seconds) { loadWhileShownFrom_ = seconds; }
  // A load or a save begins or ends: its progress bar shows once it has run half a second;
  // Escape or the Cancel button stops it.
  void BeginLongWork();
  void EndLongWork();
  // The progress callback of loads and saves; user is the application.
  static bool LoadProgress(std::intptr_t user, const char* text, int percent);

  // ---- CUI_Application ----
  void EndProgress() override;
  void SetProgress(double fraction) override;
  void BeginProgress(const QString& text) override;
  void ShowMessage(const QString& text) override;

private:
  bool OnLoadProgress(const char* text, int percent);
  VIZoravuDoc* CreateDocument(const QString* path);
  // Plays the document (the command line's "play") once its first audio is there.
  void PlayWhenItCan(VIZoravuDoc* doc);
  VIZoravuDoc* CreateDocument(const std::function<bool(VIZoravuDoc*)>& make);
  void LoadRecentFiles();
  void SaveRecentFiles();
  void OnAboutToQuit();

  QApplication& application_;
  std::unique_ptr<QSettings> settings_;
  std::unique_ptr<CMainFrame> frame_;
  QPointer<CIntroDlg> intro_;
  // Settings, with their values at start.
  QString lastPath_;
  bool showIntro_ = true;
  bool correctDC_ = false;
  bool matchAnywhere_ = true;
  bool searchBySound_ = true;
  int undoLevels_ = 5;  // 0: unlimited
  QString searchUrl_;
  int channels_ = 1;
  int rate_ = 22050;
  double newDuration_ = 30.0;
  int openType_ = kOpenTypeByName;
  RawLayout raw_;
  QStringList recent_;
  WaveDeviceFactory devices_;
  BrowserLauncher browser_;
  // The load in progress.
  int loading_ = 0;
  int progressDelayMs_ = 500;
  double loadWhileShownFrom_ = 60;
  std::unique_ptr<WorkInWindow> loadWork_;  // the progress and stop of loads and saves
  CMainFrame* loadWorkFrame_ = nullptr;
  std::string recoveryDir_;
};
