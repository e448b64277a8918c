// The application window end to end: start-up and settings, the command line, the menus, the
// toolbar and the status panes over documents opened from files that sox makes, the rule table
// through play, pause, stop and record on ALSA's file plugin, the keys, the threshold bar,
// closing with changes, drag and drop, help and progress. Every modal question goes to a fake
// AppUi that answers at once; the settings live in a temporary folder.
#include <QtTest>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QToolBar>
#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <memory>

#include "analysis/SampleTrack.h"
#include "app/AppUi.h"
#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/DocumentView.h"
#include "app/HostWindow.h"
#include "app/LoadInWindow.h"
#include "app/MainFrame.h"
#include "app/RecoveryDlg.h"
#include "app/ThresholdBar.h"
#include "app/WorkInWindow.h"
#include "devices/AudioPlayer.h"
#include "editor/AudioFileEditor.h"
#include "editor/Document.h"
#include "editor/EditJournal.h"
#include "editor/EditorWindow.h"
#include "editor/SharedClipboard.h"
#include "graphics/TrackWaveform.h"

namespace {

// Answers every question and dialog at once and remembers what was asked.
struct FakeUi : AppUi {
  QStringList warnings, captions, questions, dialogs;
  QMessageBox::StandardButton answer = QMessageBox::Cancel;
  bool dialogAnswer = true;
  std::function<void(QDialog&)> fill;
  QString openPath;
  int openFilter = 1;
  QString filters;

  void ShowWarning(QWidget*, const QString& text, const QString& caption) override {
    warnings << text;
    captions << caption;
  }
  QMessageBox::StandardButton AskYesNoCancel(QWidget*, const QString& text) override {
    questions << text;
    return answer;
  }
  bool RunDialog(QDialog& dialog) override {
    dialogs << dialog.metaObject()->className();
    if (fill) fill(dialog);
    if (!dialogAnswer) return false;
    // The fields go into the controls and are read back, as a shown dialog does on OK.
    if (auto* field = qobject_cast<FieldDialog*>(&dialog)) {
      field->LoadFields();
      return field->SaveFields();
    }
    if (auto* saveAs = qobject_cast<SaveAsDlg*>(&dialog)) {
      saveAs->LoadFields();
      return saveAs->SaveFields();
    }
    return true;
  }
  QString ChooseOpenFile(QWidget*, const QString&, const QString& filterList, int* filterIndex) override {
    filters = filterList;
    *filterIndex = openFilter;
    return openPath;
  }
};

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class AppTest : public QObject {
  Q_OBJECT

private:
  QTemporaryDir dir_;
  FakeUi* ui_ = nullptr;
  AppUi* previousUi_ = nullptr;
  bool haveSox_ = false;
  QStringList launched_;
  bool browserWorks_ = true;

  QString Path(const QString& name) const { return dir_.filePath(name); }
  QString SettingsFile() const { return dir_.filePath("settings/Tintwave/Audio Player.ini"); }

  // A file made by sox in the temporary folder: "sox -n <format...> path synth <synth...>".
  QString Sox(const QString& name, const QStringList& format, const QStringList& synth) {
    const QString path = Path(name);
    if (!QFile::exists(path)) {
      QStringList args{"-n"};
      args << format << path << "synth" << synth;
      if (QProcess::execute("sox", args) != 0) return QString();
    }
    return path;
  }
  QString Tone() { return Sox("tone.wav", {"-r", "22050", "-c", "1", "-b", "16"}, {"2", "sine", "440"}); }

  std::unique_ptr<VIZoravuApp> StartApp(const QStringList& args = {}) {
    auto app = std::make_unique<VIZoravuApp>(*qApp);
    app->SetBrowserLauncher([this](const std::string& url) {
      launched_ << QString::fromStdString(url);
      return browserWorks_;
    });
    if (app->Start(args)) return nullptr;
    return app;
  }

  static QMdiSubWindow* ChildOf(VIZoravuApp& app, VIZoravuDoc* doc) {
    for (QMdiSubWindow* window : app.MainFrame()->MdiArea()->subWindowList())
      if (CMainFrame::DocumentOf(window) == doc) return window;
    return nullptr;
  }

  static bool Enabled(VIZoravuApp& app, int id) { return app.MainFrame()->Action(id)->isEnabled(); }

  void ClearSettings() {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, VIZoravuApp::kOrganisation,
                       VIZoravuApp::kApplication);
    settings.clear();
    settings.sync();
  }

private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.filePath("settings"));
    qputenv("XDG_CONFIG_HOME", dir_.filePath("config").toLocal8Bit());
    // The edit journals of the documents, and of the session the recovery test kills.
    qputenv("XDG_STATE_HOME", dir_.filePath("state").toLocal8Bit());
    // The default sound devices are ALSA's file plugin over a null device.
    QFile capture(Path("to-capture.raw"));
    QVERIFY(capture.open(QIODevice::WriteOnly));
    // A square wave of +-0.125 read as float, of 0 and +-15872 read as 16-bit samples.
    QByteArray square;
    for (int i = 0; i < (1 << 20); ++i) square.append(i % 2 ? "\x00\x00\x00\xbe" : "\x00\x00\x00\x3e", 4);
    capture.write(square);
    capture.close();
    QFile conf(Path("alsa.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QString("pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"%1\"\n"
                       "  infile \"%2\"\n  format \"raw\"\n  perm 0644\n}\n")
                   .arg(Path("played.raw"), Path("to-capture.raw"))
                   .toUtf8());
    conf.close();
    qputenv("ALSA_CONFIG_PATH", Path("alsa.conf").toLocal8Bit());
    haveSox_ = !QStandardPaths::findExecutable("sox").isEmpty();
    qApp->setQuitOnLastWindowClosed(false);
    ui_ = new FakeUi;
    previousUi_ = AppUi::Replace(ui_);
  }

  void cleanupTestCase() { delete AppUi::Replace(previousUi_); }

  void init() {
    ClearSettings();
    *ui_ = FakeUi();
    launched_.clear();
    browserWorks_ = true;
    SharedClipboard::Instance().Clear();
  }

  // ---- start-up, settings, command line ----

  void preferencesAreStoredAsDecimalText() {
    {
      auto app = StartApp();
      QVERIFY(app);
      // First start: no stored values, the introduction shows, files open unchanged.
      QVERIFY(app->Introduction());
      QVERIFY(!app->CorrectDC());
      QVERIFY(app->MatchAnywhere() && app->SearchBySound());
      QCOMPARE(app->SearchUrl(), QString(kDefaultSearchUrl));
      ui_->fill = [](QDialog& dialog) {
        auto& prefs = dynamic_cast<PreferencesDlg&>(dialog);
        QVERIFY(prefs.showIntroduction && !prefs.correctDC && prefs.matchAnywhere && prefs.searchBySound);
        prefs.showIntroduction = false;
        prefs.correctDC = false;
        prefs.matchAnywhere = false;
        prefs.searchBySound = false;
        QCOMPARE(prefs.undoLevels, 5);
        prefs.undoLevels = 40;
        prefs.searchUrl = "http://search.example/find";
      };
      app->OnPreferences();
      QCOMPARE(ui_->dialogs, QStringList{"PreferencesDlg"});
    }
    const QString ini = QString::fromUtf8(ReadAll(SettingsFile()));
    QVERIFY2(ini.contains("ShowIntro=0") && ini.contains("CorrectDC=0") && ini.contains("MatchAnywhere=0") &&
                 ini.contains("UndoLevels=40") && ini.contains("SearchBySound=0"),
             qPrintable(ini));
    {
      auto app = StartApp();
      QVERIFY(!app->Introduction());
      QVERIFY(!app->CorrectDC());
      QVERIFY(!app->MatchAnywhere() && !app->SearchBySound());
      QCOMPARE(app->MakeDocumentOptions().undoLevels, 40);
      QCOMPARE(app->SearchUrl(), QString("http://search.example/find"));
    }
    // Values written by hand: decimal text, anything unreadable keeps the default.
    {
      QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Tintwave", "Audio Player");
      settings.setValue("ShowIntro", "1");
      settings.setValue("CorrectDC", "1");
      settings.setValue("MatchAnywhere", "none");
    }
    auto app = StartApp();
    QVERIFY(app->Introduction());
    QVERIFY(app->CorrectDC());  // a stored value still counts
    QVERIFY(app->MatchAnywhere());
  }

  void commandLineIsParsed_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("play");
    QTest::addColumn<QString>("error");
    QTest::newRow("bare word") << QStringList{"a.wav", "play"} << QStringList{"a.wav"} << true << "";
    QTest::newRow("slash, any case") << QStringList{"/PLAY", "a.wav"} << QStringList{"a.wav"} << true << "";
    QTest::newRow("dash") << QStringList{"-Play", "a.wav"} << QStringList{"a.wav"} << true << "";
    QTest::newRow("absolute path") << QStringList{"/tmp/a.wav"} << QStringList{"/tmp/a.wav"} << false << "";
    QTest::newRow("after --") << QStringList{"--", "-play", "--help"} << QStringList{"-play", "--help"} << false
                              << "";
    QTest::newRow("unknown option") << QStringList{"--loud", "a.wav"} << QStringList{"a.wav"} << false << "--loud";
  }
  void commandLineIsParsed() {
    QFETCH(QStringList, args);
    const VIZoravuApp::CommandLine line = VIZoravuApp::ParseCommandLine(args);
    QTEST(line.files, "files");
    QTEST(line.play, "play");
    QTEST(line.error, "error");
  }

  void informationalOptions() {
    QString out, err;
    QTextStream o(&out), e(&err);
    QCOMPARE(VIZoravuApp::HandleInformationalOptions({"--version"}, o, e).value_or(-1), 0);
    QVERIFY(out.startsWith("Tintwave Audio Player "));
    out.clear();
    QCOMPARE(VIZoravuApp::HandleInformationalOptions({"x.wav", "--help"}, o, e).value_or(-1), 0);
    QVERIFY(out.contains("Usage: tintwave") && out.contains("--version"));
    QVERIFY(!VIZoravuApp::HandleInformationalOptions({"x.wav", "play"}, o, e).has_value());
    // An unknown option ends the start with exit code 2 and no window.
    VIZoravuApp app(*qApp);
    QCOMPARE(app.Start({"--loud"}).value_or(-1), 2);
    QVERIFY(!app.MainFrame());

    // The program itself answers without any display.
    const QString program = QCoreApplication::applicationDirPath() + "/../../app/tintwave";
    if (!QFileInfo::exists(program)) QSKIP("the tintwave program is not built");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    process.setProcessEnvironment(env);
    process.start(program, {"--version"});
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), VIZoravuApp::VersionText());
  }

  void fileAndPlaySwitchOnCommandLine_data() {
    QTest::addColumn<QString>("switchText");
    QTest::newRow("no switch") << "";
    QTest::newRow("play") << "play";
    QTest::newRow("/Play") << "/Play";
  }
  void fileAndPlaySwitchOnCommandLine() {
    if (!haveSox_) QSKIP("sox is not installed");
    QFETCH(QString, switchText);
    QStringList args{Tone()};
    if (!switchText.isEmpty()) args << switchText;
    auto app = StartApp(args);
    QVERIFY(app);
    QCOMPARE(app->MainFrame()->Documents().size(), std::size_t(1));
    QVERIFY(!app->Introduction());
    VIZoravuDoc* doc = app->MainFrame()->ActiveDocument();
    QVERIFY(doc);
    QCOMPARE(doc->Title(), QString("tone.wav (0:02.000)"));
    QCOMPARE(doc->Editor()->Player()->State() == kDevicePlaying, !switchText.isEmpty());
    QCOMPARE(app->RecentFiles(), QStringList{Tone()});
  }

  void commandLineFileHonoursStoredCorrectDC_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("corrected");
    QTest::newRow("on") << "1" << true;
    QTest::newRow("off") << "0" << false;
  }
  void commandLineFileHonoursStoredCorrectDC() {
    if (!haveSox_) QSKIP("sox is not installed");
    QFETCH(QString, stored);
    QFETCH(bool, corrected);
    const QString path = Sox("dc.wav", {"-r", "8000", "-c", "1", "-b", "16"}, {"1", "sine", "300", "vol", "0.3", "dcshift", "0.4"});
    {
      QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Tintwave", "Audio Player");
      settings.setValue("CorrectDC", stored);
    }
    auto app = StartApp({path});
    CAP_SampleTrack* track = app->MainFrame()->ActiveDocument()->Editor()->DisplayTrack();
    std::vector<float> samples(track->Length());
    track->ReadSamples(samples.data(), int(samples.size()), 0);
    double mean = 0;
    for (float s : samples) mean += s;
    mean /= double(samples.size());
    QVERIFY2(corrected ? std::fabs(mean) < 0.05 : std::fabs(mean - 0.4) < 0.05, qPrintable(QString::number(mean)));
  }

  // ---- documents, panes, menus ----

  void openingShowsPanesAndTitle_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("format");
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<QStringList>("panes");  // panes 2 to 7
    QTest::addColumn<QString>("title");
    QTest::newRow("WAVE mono 16-bit") << "tone.wav" << QStringList{"-r", "22050", "-c", "1", "-b", "16"} << "2"
                                      << QStringList{"mono", "16-bit", "22050 Hz", "Normal", "0:00.000", "0:02.000"}
                                      << "tone.wav (0:02.000)";
    QTest::newRow("AIFF stereo 24-bit") << "wide.aiff" << QStringList{"-r", "44100", "-c", "2", "-b", "24"} << "1.5"
                                        << QStringList{"stereo", "24-bit", "44100 Hz", "Normal", "0:00.000", "0:01.500"}
                                        << "wide.aiff (0:01.500)";
    QTest::newRow("AU 8 kHz") << "low.au" << QStringList{"-r", "8000", "-c", "1", "-b", "16"} << "3.25"
                              << QStringList{"mono", "16-bit", "8000 Hz", "Normal", "0:00.000", "0:03.250"}
                              << "low.au (0:03.250)";
    QTest::newRow("VOC 8-bit") << "old.voc" << QStringList{"-r", "8000", "-c", "1", "-b", "8", "-e", "unsigned"}
                               << "1" << QStringList{"mono", "8-bit", "8000 Hz", "Normal", "0:00.000", "0:01.000"}
                               << "old.voc (0:01.000)";
  }
  void openingShowsPanesAndTitle() {
    if (!haveSox_) QSKIP("sox is not installed");
    QFETCH(QString, name);
    QFETCH(QStringList, format);
    QFETCH(QString, seconds);
    QFETCH(QStringList, panes);
    const QString path = Sox(name, format, {seconds, "sine", "440"});
    QVERIFY(!path.isEmpty());
    auto app = StartApp();
    CMainFrame* frame = app->MainFrame();
    app->SetProgressDelay(0);
    VIZoravuDoc* doc = app->OpenDocumentFile(path);
    QVERIFY(doc);
    QCOMPARE(frame->ActiveDocument(), doc);
    for (int pane = 2; pane <= 7; ++pane) QCOMPARE(frame->PaneText(pane), panes[pane - 2]);
    QVERIFY(frame->PaneText(1).startsWith("1:"));
    for (int pane = 8; pane <= 10; ++pane) QCOMPARE(frame->PaneText(pane), QString());
    QTEST(doc->Title(), "title");
    QTEST(ChildOf(*app, doc)->windowTitle(), "title");
    QVERIFY(frame->windowTitle().contains(doc->Title()));
    // The controller was made for the view's real client area.
    CGN_Wnd* wnd = doc->View()->HostWindow();
    QVERIFY(wnd->ClientSize().width() > 0);
    QCOMPARE(doc->Editor()->Window()->Width(), wnd->ClientSize().width());
    // The load reported progress in pane 0 and took it away afterwards.
    QVERIFY(frame->ProgressBegun() > 0);
    QVERIFY(!frame->ProgressShown());
    QCOMPARE(frame->PaneText(0), QString(33, ' '));
    // Opening the same file again brings up the open document.
    QCOMPARE(app->OpenDocumentFile(path), doc);
    QCOMPARE(frame->Documents().size(), std::size_t(1));
  }

  void statusBarAndToolbarLayout() {
    auto app = StartApp();
    CMainFrame* frame = app->MainFrame();
    const int widths[] = {0, 50, 40, 35, 60, 50, 60, 60, 60, 60, 60};
    for (int pane = 1; pane < CMainFrame::kPanes; ++pane) QCOMPARE(frame->Pane(pane)->minimumWidth(), widths[pane]);
    QVERIFY(frame->width() >= 640 && frame->height() >= 452);
    using namespace CommandId;
    const std::vector<int> order{New, Open, Save, 0, ZoomIn, ZoomOut, 0, ColoredWaveform, 0, Play, Pause, Stop,
                                 FindPrevious, FindNext, Record, 0, WebSearch};
    std::vector<int> shown;
    for (QAction* action : frame->ToolBar()->actions()) shown.push_back(action->isSeparator() ? 0 : action->data().toInt());
    QCOMPARE(shown, order);
    for (QAction* action : frame->ToolBar()->actions())
      if (!action->isSeparator()) QVERIFY2(!action->icon().isNull() && !action->toolTip().isEmpty(), qPrintable(action->text()));
    QCOMPARE(frame->Action(FindNext)->statusTip(), QString("Select the next matching audio"));
    QCOMPARE(frame->Action(FindNext)->toolTip(), QString("Next Match"));
    // The threshold bar sits beside the toolbar, disabled, at 70 with its first count.
    QCOMPARE(frame->toolBarArea(frame->ThresholdToolBar()), Qt::TopToolBarArea);
    QVERIFY(!frame->toolBarBreak(frame->ThresholdToolBar()));
    QVERIFY(!frame->Threshold()->isEnabled());
    QCOMPARE(frame->Threshold()->Position(), 70);
    QCOMPARE(frame->Threshold()->ValueText(), QString("70"));
    QCOMPARE(frame->Threshold()->CountText(), QString("(1000)"));
  }

  void menusWithAndWithoutDocument() {
    auto app = StartApp();
    CMainFrame* frame = app->MainFrame();
    const QStringList without{"&File", "&Tools", "&Help"};
    QCOMPARE(frame->MenuTitles(), without);
    auto texts = [frame](const QString& title) {
      QStringList items;
      for (QAction* action : frame->Menu(title)->actions())
        if (action->isVisible()) items << (action->isSeparator() ? "-" : action->text());
      return items;
    };
    QCOMPARE(texts("&File"), (QStringList{"&New", "&Open...", "-", "Recent File", "-", "E&xit"}));
    app->NewDocument();
    QCOMPARE(frame->MenuTitles(),
             (QStringList{"&File", "&Edit", "&View", "&Operations", "&Tools", "&Window", "&Help"}));
    QCOMPARE(texts("&Edit"), (QStringList{"Undo", "Redo", "-", "Cut", "Copy", "Paste", "Mix...", "Delete", "Trim", "-",
                                          "Select &All", "-", "Find Next", "Find Previous"}));
    QCOMPARE(texts("&View"), (QStringList{"&Fit To Window", "Zoom &In", "Zoom &Out", "-", "&Colored Waveform",
                                          "Show C&hannels"}));
    QCOMPARE(texts("&Operations"), (QStringList{"Fade In", "Fade Out", "Normalize", "Mute", "Reverse", "Volume...",
                                                "-", "Insert Silence...", "Shift Pitch...", "Change Pitch...",
                                                "Change Tempo..."}));
    QCOMPARE(texts("&Tools"), (QStringList{"&Play\tSpace", "Pause\tSpace", "&Stop", "&Record", "Sonquest on &Web...",
                                           "P&references..."}));
    QCOMPARE(texts("&File").mid(0, 5), (QStringList{"&New", "&Open...", "&Close", "&Save", "Save &As..."}));
    // The keys of every command.
    using namespace CommandId;
    const std::vector<std::pair<int, QString>> keys{
        {New, "Ctrl+N"},         {Open, "Ctrl+O"},
        {Save, "Ctrl+S"},        {Undo, "Ctrl+Z, Alt+Backspace"},
        {Redo, "Ctrl+Y"},        {Cut, "Ctrl+X, Shift+Del"},
        {Copy, "Ctrl+C, Ctrl+Ins"}, {Paste, "Ctrl+V, Shift+Ins"},
        {Delete, "Del"},         {Trim, "Ctrl+T"},
        {SelectAll, "Ctrl+A"},   {FindNext, "F3"},
        {FindPrevious, "Shift+F3"}, {ZoomIn, "Up"},
        {ZoomOut, "Down"},       {ColoredWaveform, "C"},
        {Pause, "Pause"},        {Stop, "Backspace"},
        {Record, "Shift+Space"}, {WebSearch, "Ctrl+F"},
        {HelpTopics, "F1"},      {Play, ""}};
    for (const auto& [id, expected] : keys) {
      QStringList shortcuts;
      for (const QKeySequence& key : frame->Action(id)->shortcuts()) shortcuts << key.toString();
      QCOMPARE(shortcuts.join(", "), expected);
    }
    // The window menu lists the open documents.
    emit frame->Menu("&Window")->aboutToShow();
    QVERIFY(texts("&Window").contains("&1 Untitled.wav (0:30.000)"));
    ChildOf(*app, frame->ActiveDocument())->close();
    QTRY_COMPARE(frame->MenuTitles(), without);
    QVERIFY(!frame->Action(Save)->isEnabled());
  }

  void newAndOpenCommands() {
    if (!haveSox_) QSKIP("sox is not installed");
    auto app = StartApp();
    CMainFrame* frame = app->MainFrame();
    ui_->fill = [](QDialog& dialog) {
      auto& d = dynamic_cast<NewFileDlg&>(dialog);
      QCOMPARE(d.rateText, QString("22050"));
      d.rateText = "8000";
      d.duration = 2.5;
      d.channels = 2;
    };
    app->OnFileNew();
    VIZoravuDoc* doc = frame->ActiveDocument();
    QVERIFY(doc);
    QCOMPARE(doc->Title(), QString("Untitled.wav (0:02.500)"));
    QCOMPARE(frame->PaneText(2), QString("stereo"));
    QCOMPARE(frame->PaneText(4), QString("8000 Hz"));

    // A raw file through the raw filter; the open type then stays raw for later opens.
    const QString raw = Path("data.raw");
    QFile file(raw);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(11025 * 2, '\x10'));
    file.close();
    ui_->openPath = raw;
    ui_->openFilter = 5;
    ui_->fill = [](QDialog& dialog) {
      auto& d = dynamic_cast<RawFileDlg&>(dialog);
      QCOMPARE(d.rateText, QString("8000"));
      d.rateText = "11025";
      d.channels = 1;
      d.bits = 16;
      d.compression = 17;
    };
    app->OnFileOpen();
    QVERIFY(ui_->filters.startsWith("Supported audio files|"));
    QVERIFY(ui_->filters.contains("MPEG MP2, MP3 (*.mpeg,*.mp2,*.mp3,*.mpg)|*.mpeg;*.mp2;*.mp3;*.mpg|"));
    QCOMPARE(app->OpenType(), kOpenTypeRaw);
    QCOMPARE(frame->ActiveDocument()->Title(), QString("data.raw (0:01.000)"));
    QCOMPARE(frame->PaneText(4), QString("11025 Hz"));
    // A WAVE file from the recent list is read as raw data with the stored layout.
    app->AddRecentFile(Tone());
    QCOMPARE(app->RecentFiles().first(), Tone());
    app->OpenRecentFile(0);
    QCOMPARE(frame->ActiveDocument()->Path(), Tone());
    QCOMPARE(frame->PaneText(4), QString("11025 Hz"));
    // The recent files outlive the program.
    auto again = StartApp();
    QCOMPARE(again->RecentFiles(), (QStringList{Tone(), raw}));
  }

  void failedOpenLeavesNoWindow() {
    auto app = StartApp();
    QFile file(Path("junk.wav"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("RIFF\x10\0\0\0WAVEjunk", 16);
    file.close();
    QVERIFY(!app->OpenDocumentFile(Path("junk.wav")));
    QCOMPARE(ui_->warnings.size(), 1);
    QTRY_COMPARE(app->MainFrame()->MdiArea()->subWindowList().size(), 0);
    QVERIFY(!app->MainFrame()->Threshold()->isEnabled());
    QVERIFY(!app->OpenDocumentFile(Path("missing.wav")));
    QCOMPARE(ui_->warnings.last(), QString("missing.wav: Could not open file"));
  }

  // ---- the rule table through the transport ----

  void rulesFollowTransport() {
    if (!haveSox_) QSKIP("sox is not installed");
    auto app = StartApp({Tone()});
    CMainFrame* frame = app->MainFrame();
    VIZoravuDoc* doc = frame->ActiveDocument();
    AudioEditorApp* editor = doc->Editor();
    using namespace CommandId;
    // Per state: Play, Pause, Stop, Record, Undo, Normalize, FindNext, WebSearch, Save, ShiftPitch, SelectAll.
    const std::vector<int> ids{Play, Pause, Stop, Record, Undo, Normalize, FindNext, WebSearch, Save, ShiftPitch, SelectAll};
    auto states = [&] {
      QString bits;
      for (int id : ids) bits += Enabled(*app, id) ? '1' : '0';
      return bits;
    };
    struct Step {
      int command;
      QString expected;
    };
    ui_->fill = [](QDialog& dialog) { dynamic_cast<RecordDlg&>(dialog).correctDC = false; };
    const std::vector<Step> steps{
        {0, "10010111111"},       // idle, nothing to undo
        {Play, "01100011111"},    // playing: only the transport, find, search, save and pitch
        {Pause, "11100111111"},   // paused play: Record waits for Stop
        {Play, "01100011111"},    // playing again
        {Stop, "10010111111"},    // idle
        {Record, "01100000011"},  // recording: no find, search or save
        {Pause, "01111111111"},   // paused recording: Play blocked, Record resumes
        {Stop, "10011111111"},    // idle, the recording can be undone
    };
    for (const Step& step : steps) {
      if (step.command) QVERIFY(frame->Trigger(step.command));
      QVERIFY2(states() == step.expected, qPrintable(QString("after %1: %2").arg(step.command).arg(states())));
    }
    QVERIFY(doc->Modified());  // the recording
    QVERIFY(ui_->dialogs.contains("RecordDlg"));
    QVERIFY(ui_->warnings.isEmpty());
    // Playback reaches ALSA, and its end arrives through the devices' notices: Play comes back.
    QFile::remove(Path("played.raw"));
    QVERIFY(frame->Trigger(Play));
    QCOMPARE(editor->Player()->State(), kDevicePlaying);
    QTRY_VERIFY_WITH_TIMEOUT(editor->Player()->State() == kDeviceIdle, 10000);
    QTRY_VERIFY(Enabled(*app, Play) && !Enabled(*app, Pause));
    QTRY_VERIFY(QFileInfo(Path("played.raw")).size() > 0);

    // Check marks follow the waveform.
    QAction* fit = frame->Action(FitToWindow);
    QAction* colour = frame->Action(ColoredWaveform);
    const bool fitted = fit->isChecked(), coloured = colour->isChecked();
    QVERIFY(frame->Trigger(FitToWindow));
    QVERIFY(frame->Trigger(ColoredWaveform));
    QCOMPARE(fit->isChecked(), !fitted);
    QCOMPARE(colour->isChecked(), !coloured);
    // A change made behind the actions' back shows when a menu opens.
    editor->Select(0.5, 1.0);
    QVERIFY(!frame->Action(Cut)->isEnabled());
    emit frame->Menu("&Edit")->aboutToShow();
    QVERIFY(frame->Action(Cut)->isEnabled());
    QVERIFY(frame->Trigger(Cut));
    QCOMPARE(doc->Title(), QString("tone.wav* (0:01.500)"));
    QVERIFY(frame->Action(Paste)->isEnabled() && frame->Action(Undo)->isEnabled());
  }

  void deviceFailureIsReported() {
    if (!haveSox_) QSKIP("sox is not installed");
    auto app = StartApp();
    app->SetDeviceFactory([](WaveDirection) { return std::unique_ptr<CAI_WaveDevice>(); });
    VIZoravuDoc* doc = app->OpenDocumentFile(Tone());
    QVERIFY(app->MainFrame()->Trigger(CommandId::Play));
    QCOMPARE(ui_->warnings, QStringList{"There is no sound output device."});
    QCOMPARE(ui_->captions, QStringList{"Audio Error"});
    QVERIFY(app->MainFrame()->Trigger(CommandId::Record));
    QCOMPARE(ui_->captions.size(), 2);
    QCOMPARE(ui_->captions.last(), QString("Audio Error"));
    QVERIFY(!doc->Modified());  // nothing was recorded
    QVERIFY(app->MainFrame()->Action(CommandId::Play)->isEnabled());
  }

  void keys() {
    if (!haveSox_) QSKIP("sox is not installed");
    auto app = StartApp({Tone()});
    CMainFrame* frame = app->MainFrame();
    frame->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(frame));
    VIZoravuDoc* doc = frame->ActiveDocument();
    AudioEditorApp* editor = doc->Editor();
    VIZoravuView* view = doc->View();
    // Space plays, pauses and resumes; it is taken before the window's own keys.
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(editor->Player()->State(), kDevicePlaying);
    QTest::keyClick(view->HostWindow(), Qt::Key_Space);
    QVERIFY(editor->PausedPlay());
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(editor->Player()->State(), kDevicePlaying);
    QTest::keyClick(view, Qt::Key_Backspace);
    QCOMPARE(editor->Player()->State(), kDeviceIdle);
    QVERIFY(!editor->PausedPlay());
    // F3 and Shift+F3 find; without a prototype nothing is found.
    frame->SetPaneText(0, "");
    QTest::keyClick(view, Qt::Key_F3);
    QCOMPARE(frame->PaneText(0), QString("Match not found"));
    editor->Select(0.5, 0.7);
    editor->SelectionFinished();
    QTest::keyClick(view, Qt::Key_F3);
    QVERIFY2(frame->PaneText(0).startsWith("Found match ("), qPrintable(frame->PaneText(0)));
    frame->SetPaneText(0, "");
    QTest::keyClick(view, Qt::Key_F3, Qt::ShiftModifier);
    QVERIFY2(frame->PaneText(0).startsWith("Found match ("), qPrintable(frame->PaneText(0)));
    // Ctrl+F: the search dialog, then the browser on the query URL.
    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(ui_->dialogs.last(), QString("SonquestDlg"));
    QCOMPARE(launched_.size(), 1);
    QVERIFY2(launched_[0].startsWith(QString(kDefaultSearchUrl) + "?sig="), qPrintable(launched_[0]));
    // Up zooms in, Down back out, c switches the colours.
    const int width = editor->Waveform()->Width();
    QTest::keyClick(view, Qt::Key_Up);
    const int zoomed = editor->Waveform()->Width();
    QVERIFY(zoomed > width);
    QTest::keyClick(view, Qt::Key_Down);
    QVERIFY(editor->Waveform()->Width() < zoomed);
    const bool colour = editor->Waveform()->ColourDisplay();
    QTest::keyClick(view, Qt::Key_C);
    QCOMPARE(editor->Waveform()->ColourDisplay(), !colour);
    // Shift+Space records after the record dialog.
    QTest::keyClick(view, Qt::Key_Space, Qt::ShiftModifier);
    QCOMPARE(ui_->dialogs.last(), QString("RecordDlg"));
    QCOMPARE(editor->Player()->State(), kDeviceRecording);
    QTest::keyClick(view, Qt::Key_Backspace);
    QCOMPARE(editor->Player()->State(), kDeviceIdle);
  }

  void thresholdBarFollowsActiveDocument() {
    if (!haveSox_) QSKIP("sox is not installed");
    auto app = StartApp();
    CMainFrame* frame = app->MainFrame();
    ThresholdBar* bar = frame->Threshold();
    VIZoravuDoc* first = app->OpenDocumentFile(Tone());
    QVERIFY(bar->isEnabled());
    QCOMPARE(bar->Position(), 70);
    first->Editor()->Select(0.2, 0.4);
    first->Editor()->SelectionFinished();
    bar->Slider()->setValue(85);  // as the user drags it
    QCOMPARE(first->Editor()->MatchThreshold(), 85);
    QCOMPARE(bar->ValueText(), QString("85"));
    QCOMPARE(bar->CountText(), QString("(%1)").arg(first->Editor()->MatchCount()));
    bar->Slider()->setValue(0);
    const int many = first->Editor()->MatchCount();
    bar->Slider()->setValue(100);
    QVERIFY(first->Editor()->MatchCount() <= many);
    bar->Slider()->setValue(85);

    VIZoravuDoc* second = app->OpenDocumentFile(Sox("other.wav", {"-r", "8000", "-c", "1", "-b", "16"}, {"1", "square", "200"}));
    QCOMPARE(frame->ActiveDocument(), second);
    QCOMPARE(bar->Position(), 70);
    QCOMPARE(first->Editor()->MatchThreshold(), 85);
    // Activating the first document again shows its threshold and stops the second's playback.
    QVERIFY(frame->Trigger(CommandId::Play));
    frame->MdiArea()->setActiveSubWindow(ChildOf(*app, first));
    QCOMPARE(frame->ActiveDocument(), first);
    QCOMPARE(bar->Position(), 85);
    QCOMPARE(second->Editor()->Player()->State(), kDeviceIdle);
    for (QMdiSubWindow* window : frame->MdiArea()->subWindowList()) window->close();
    QTRY_COMPARE(frame->MdiArea()->subWindowList().size(), 0);
    QVERIFY(!bar->isEnabled());
    QCOMPARE(bar->Position(), 70);
    QCOMPARE(bar->CountText(), QString());
    QVERIFY(!frame->ActiveDocument());
    for (int pane = 1; pane < CMainFrame::kPanes; ++pane) QCOMPARE(frame->PaneText(pane), QString());
  }

  void closingWithChanges_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("undoAll");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<bool>("saved");
    QTest::newRow("cancel") << int(QMessageBox::Cancel) << false << true << false << false;
    QTest::newRow("no") << int(QMessageBox::No) << false << true << true << false;
    QTest::newRow("yes") << int(QMessageBox::Yes) << false << true << true << true;
    QTest::newRow("three edits undone") << int(QMessageBox::Cancel) << true << false << true << false;
  }
  void closingWithChanges() {
    if (!haveSox_) QSKIP("sox is not installed");
    QFETCH(int, answer);
    QFETCH(bool, undoAll);
    const QString path = Path("edited.wav");
    QFile::remove(path);
    QVERIFY(QFile::copy(Tone(), path));
    const QByteArray before = ReadAll(path);
    auto app = StartApp({path});
    CMainFrame* frame = app->MainFrame();
    VIZoravuDoc* doc = frame->ActiveDocument();
    for (int i = 0; i < 3; ++i) {
      doc->Editor()->Select(0.1 * i, 0.1 * i + 0.05);
      QVERIFY(frame->Trigger(CommandId::Mute));
    }
    QCOMPARE(doc->Title(), QString("edited.wav* (0:02.000)"));
    if (undoAll) {
      for (int i = 0; i < 3; ++i) QVERIFY(frame->Trigger(CommandId::Undo));
      QCOMPARE(doc->Title(), QString("edited.wav (0:02.000)"));
    }
    ui_->answer = QMessageBox::StandardButton(answer);
    QPointer<QMdiSubWindow> child = ChildOf(*app, doc);
    child->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QFETCH(bool, asked);
    QCOMPARE(ui_->questions, asked ? QStringList{"Save changes to edited.wav"} : QStringList{});
    QFETCH(bool, closed);
    QCOMPARE(child.isNull(), closed);
    QFETCH(bool, saved);
    QCOMPARE(ReadAll(path) != before, saved);
    if (!closed) QCOMPARE(frame->ActiveDocument(), doc);
  }

  void exitAsksEveryChangedDocument() {
    auto app = StartApp();
    CMainFrame* frame = app->MainFrame();
    app->NewDocument();
    VIZoravuDoc* doc = frame->ActiveDocument();
    doc->Editor()->Select(1, 2);
    QVERIFY(frame->Trigger(CommandId::Mute));
    ui_->answer = QMessageBox::Cancel;
    QVERIFY(!frame->close());
    QCOMPARE(ui_->questions, QStringList{"Save changes to Untitled.wav"});
    QCOMPARE(frame->Documents().size(), std::size_t(1));
    ui_->answer = QMessageBox::No;
    QVERIFY(frame->close());
    QTRY_COMPARE(frame->MdiArea()->subWindowList().size(), 0);
  }

  void filesDroppedOnTheWindowOpen() {
    if (!haveSox_) QSKIP("sox is not installed");
    auto app = StartApp();
    CMainFrame* frame = app->MainFrame();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Tone())});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame, &drop);
    QTRY_COMPARE(frame->Documents().size(), std::size_t(1));
    QCOMPARE(frame->ActiveDocument()->Path(), Tone());
  }

  void helpOpensThePageBesideTheProgram() {
    QCOMPARE(VIZoravuApp::HelpUrlFor("/opt/my tools/bin"), QString("file:///opt/my tools/bin/html/VIZoravu.htm"));
    auto app = StartApp();
    QVERIFY(app->MainFrame()->Trigger(CommandId::HelpTopics));
    QCOMPARE(launched_, QStringList{app->HelpUrl()});
    QVERIFY(launched_[0].startsWith("file:///") && launched_[0].endsWith("/html/VIZoravu.htm"));
    browserWorks_ = false;
    app->OnHelp();
    QCOMPARE(ui_->warnings, QStringList{"Could not launch web browser"});
    app->OnAbout();
    QCOMPARE(ui_->dialogs, QStringList{"CAboutDlg"});
  }

  // ---- recovery ----

  void aKilledSessionIsOfferedAtStartAndRecovered() {
    if (!haveSox_) QSKIP("sox is not installed");
    const QString tone = Tone();
    const QString dump = Path("edited.f32");
    QProcess session;
    session.start(CRASH_HELPER, {tone, dump});
    QVERIFY(session.waitForReadyRead(60000));
    QCOMPARE(session.readLine().trimmed(), QByteArray("ready"));
    session.kill();  // SIGKILL: nothing of the session's own ends
    QVERIFY(session.waitForFinished(10000));
    const QByteArray edited = ReadAll(dump);
    QVERIFY(!edited.isEmpty());

    QStringList offered;
    ui_->fill = [&](QDialog& dialog) {
      if (auto* recovery = qobject_cast<RecoveryDlg*>(&dialog))
        for (const RecoveryDlg::Offer& offer : recovery->offers) offered << offer.text;
    };
    auto app = StartApp();
    QVERIFY(app);
    QCOMPARE(ui_->dialogs, QStringList{"RecoveryDlg"});
    QCOMPARE(offered.size(), 1);
    QVERIFY2(offered[0].startsWith(QString::fromUtf8("tone.wav — 4 edits, the last at ")), qPrintable(offered[0]));
    VIZoravuDoc* doc = app->MainFrame()->ActiveDocument();
    QVERIFY(doc && doc->Modified());
    QCOMPARE(QFileInfo(doc->Path()).fileName(), QString("tone.wav"));
    CAP_SampleTrack* track = doc->Editor()->Mixer()->Track(0);
    QByteArray samples(track->Length() * int(sizeof(float)), '\0');
    track->ReadSamples(reinterpret_cast<float*>(samples.data()), track->Length(), 0);
    QVERIFY(samples == edited);
    QCOMPARE(doc->Editor()->SelectionStart(false), 2205);
    QCOMPARE(doc->Editor()->SelectionLength(false), 2205);
    // The journal was taken over by the recovered document: a second start offers nothing.
    QVERIFY(FindOrphanJournals(app->RecoveryDir()).empty());
    ui_->dialogs.clear();
    app.reset();
    auto again = StartApp();
    QVERIFY(ui_->dialogs.isEmpty());
  }

  // ---- a long file shown while it loads ----

  void aFileIsShownAndPlayedWhileItLoads() {
    if (!haveSox_) QSKIP("sox is not installed");
    const QString path = Sox("loading.wav", {"-r", "44100", "-c", "2", "-b", "16"},
                             {"6", "sine", "200-3000", "whitenoise", "vol", "0.4"});
    const QString other = Tone();
    QVERIFY(!path.isEmpty() && !other.isEmpty());
    auto app = StartApp();
    CMainFrame* frame = app->MainFrame();
    app->SetLoadWhileShownFrom(0);
    app->SetProgressDelay(0);
    VIZoravuDoc* doc = app->OpenDocumentFile(path);
    QVERIFY(doc && doc->Loading());
    doc->Load()->SetStepBudget(std::chrono::microseconds(0));  // a tenth of a second a step
    doc->Load()->SetStepInterval(10);
    // Viewing and playback work while it loads; edits, saving and finding wait, and so does
    // another file.
    const int waiting[] = {CommandId::Save, CommandId::SaveAs, CommandId::Undo, CommandId::Cut, CommandId::Copy,
                           CommandId::Paste, CommandId::Delete, CommandId::Normalize, CommandId::FadeIn,
                           CommandId::Reverse, CommandId::InsertSilence, CommandId::ShiftPitch,
                           CommandId::ChangeTempo, CommandId::FindNext, CommandId::WebSearch, CommandId::Record};
    QTRY_VERIFY(doc->Editor()->Duration() > 0.5);
    QVERIFY(doc->Loading());
    for (int id : waiting) QVERIFY2(!doc->IsCommandEnabled(id), qPrintable(QString::number(id)));
    for (int id : {CommandId::Play, CommandId::SelectAll, CommandId::FitToWindow, CommandId::ZoomIn})
      QVERIFY2(doc->IsCommandEnabled(id), qPrintable(QString::number(id)));
    QVERIFY(!app->OpenDocumentFile(other));
    QVERIFY(frame->Trigger(CommandId::Play));
    QVERIFY(frame->Trigger(CommandId::Stop));
    QVERIFY(frame->Trigger(CommandId::SelectAll));
    QTRY_VERIFY_WITH_TIMEOUT(!doc->Loading(), 20000);
    QVERIFY(ui_->warnings.isEmpty());
    QVERIFY(doc->IsCommandEnabled(CommandId::Normalize) && doc->IsCommandEnabled(CommandId::Save));
    QTRY_COMPARE(frame->MdiArea()->subWindowList().size(), 2);  // the other file, once it could
    QTRY_VERIFY(!app->Loading());

    // The tracks and the columns on screen are those of the load at once.
    AudioEditorApp& shown = *doc->Editor();
    shown.SelectAll();
    shown.Select(0, 0);
    EditorDocument plain(app->MakeDocumentOptions(), nullptr, nullptr);
    QVERIFY(plain.Open(path.toStdString(), nullptr, shown.Window()->Width(), shown.Window()->Height()));
    AudioEditorApp& loaded = *plain.Editor();
    QCOMPARE(shown.Mixer()->TrackCount(), loaded.Mixer()->TrackCount());
    for (int t = 0; t < loaded.Mixer()->TrackCount(); ++t) {
      const CAP_SampleTrack& a = *shown.Mixer()->Track(t);
      const CAP_SampleTrack& b = *loaded.Mixer()->Track(t);
      QCOMPARE(a.Length(), b.Length());
      QCOMPARE(a.BlockCount(), b.BlockCount());
      for (const SampleBlock *p = a.Head(), *q = b.Head(); p && q; p = p->next, q = q->next) {
        QCOMPARE(p->count, q->count);
        QVERIFY(p->signature == q->signature && p->color == q->color && p->allocated == q->allocated);
        QVERIFY(std::memcmp(p->data.get(), q->data.get(), sizeof(float) * std::size_t(p->allocated)) == 0);
      }
    }
    QCOMPARE(shown.Waveform()->Width(), loaded.Waveform()->Width());
    for (int c = 0; c < shown.Waveform()->VisibleWidth(); ++c) {
      const ColumnSpan& x = shown.Waveform()->CachedColumn(c);
      const ColumnSpan& y = loaded.Waveform()->CachedColumn(c);
      QVERIFY2(x.top == y.top && x.bottom == y.bottom && x.colour == y.colour && x.clipped == y.clipped,
               qPrintable(QString("column %1").arg(c)));
    }

    // Escape stops a load: no document, no message box, the reason in the status bar.
    const int windows = frame->MdiArea()->subWindowList().size();
    VIZoravuDoc* stopped = app->OpenDocumentFile(Sox("again.wav", {"-r", "44100", "-c", "2", "-b", "16"}, {"6", "sine", "300"}));
    QVERIFY(stopped && stopped->Loading());
    stopped->Load()->SetStepBudget(std::chrono::microseconds(0));
    stopped->Load()->SetStepInterval(20);
    // Only from its own window: in another document's, Escape is that document's.
    QMdiSubWindow* loadingWindow = frame->MdiArea()->activeSubWindow();
    QMdiSubWindow* otherWindow = frame->MdiArea()->subWindowList().front();
    QVERIFY(loadingWindow && otherWindow != loadingWindow);
    frame->MdiArea()->setActiveSubWindow(otherWindow);
    QTRY_VERIFY(frame->ActiveDocument() && frame->ActiveDocument() != stopped);
    QCoreApplication::postEvent(frame, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    QTest::qWait(100);
    QVERIFY(stopped->Loading());
    frame->MdiArea()->setActiveSubWindow(loadingWindow);
    QTRY_COMPARE(frame->ActiveDocument(), stopped);
    QCoreApplication::postEvent(frame, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    QTRY_COMPARE(frame->MdiArea()->subWindowList().size(), windows);
    QVERIFY(ui_->warnings.isEmpty());
    QVERIFY2(frame->PaneText(0).contains("Loading stopped"), qPrintable(frame->PaneText(0)));
    QVERIFY(!frame->ProgressShown());
    QVERIFY(!app->Loading());
  }

  // ---- long work ----

  void longWorkStopsOnEscapeAndCancel() {
    const QString path = Sox("long.wav", {"-r", "44100", "-c", "2", "-b", "16"}, {"20", "sine", "440", "sine", "660"});
    QVERIFY(!path.isEmpty());
    auto app = StartApp();
    CMainFrame* frame = app->MainFrame();
    app->SetProgressDelay(0);
    auto escape = [frame] {
      QCoreApplication::postEvent(frame, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    };
    // A load stopped by Escape opens nothing and says so without a message box.
    escape();
    QVERIFY(!app->OpenDocumentFile(path));
    QCOMPARE(frame->MdiArea()->subWindowList().size(), 0);
    QVERIFY(ui_->warnings.isEmpty());
    QVERIFY2(frame->PaneText(0).contains("Loading stopped"), qPrintable(frame->PaneText(0)));

    VIZoravuDoc* doc = app->OpenDocumentFile(path);
    QVERIFY(doc);
    doc->Work()->SetDelay(0);
    auto samples = [doc] {
      QList<QByteArray> tracks;
      EP_SampleMixer* mixer = doc->Editor()->Mixer();
      for (int t = 0; t < mixer->TrackCount(); ++t) {
        QByteArray bytes(mixer->Track(t)->Length() * int(sizeof(float)), '\0');
        mixer->Track(t)->ReadSamples(reinterpret_cast<float*>(bytes.data()), mixer->Track(t)->Length(), 0);
        tracks << bytes;
      }
      return tracks;
    };
    const auto before = samples();
    QVERIFY(frame->Trigger(CommandId::SelectAll));
    // Escape during Normalize, the Cancel button during Fade In: the audio, the title and the
    // undo list as they were, and the view painting again.
    escape();
    QVERIFY(frame->Trigger(CommandId::Normalize));
    QVERIFY(samples() == before);
    QVERIFY(!doc->Modified() && !Enabled(*app, CommandId::Undo));
    QVERIFY2(frame->PaneText(0).contains("Normalize stopped"), qPrintable(frame->PaneText(0)));
    QVERIFY(!frame->ProgressShown());
    QVERIFY(!doc->View()->HostWindow()->Frozen());
    QTimer::singleShot(0, frame, [frame] {
      QVERIFY(frame->ProgressCancel()->isVisible());
      QTest::mouseClick(frame->ProgressCancel(), Qt::LeftButton);
    });
    QVERIFY(frame->Trigger(CommandId::FadeIn));
    QVERIFY(samples() == before);
    QVERIFY(!doc->Modified());
    QVERIFY2(frame->PaneText(0).contains("Fade In stopped"), qPrintable(frame->PaneText(0)));
    // Unstopped, the command completes and can be undone.
    QVERIFY(frame->Trigger(CommandId::Normalize));
    QVERIFY(samples() != before);
    QVERIFY(doc->Modified() && Enabled(*app, CommandId::Undo));
    QVERIFY(ui_->warnings.isEmpty());
  }
};

QTEST_MAIN(AppTest)
#include "AppTest.moc"
