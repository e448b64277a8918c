// The desktop application as the user waits for it, headless: start-up with the demo document
// until its view has painted (in this process, and as a fresh process), File > Open of a
// 10-minute stereo 16-bit WAVE until painted, and the 20 ms playback tick of a one-hour stereo
// document with its repaint, the cursor following playback on a fake output device.
//
// The offscreen platform is chosen here, before the QApplication is made, with a 1920 x 1080
// screen (the main frame takes three quarters of it, as on a desktop of that size). The settings
// live in a temporary folder, so a run leaves the user's own alone.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSettings>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/AppUi.h"
#include "app/Application.h"
#include "app/DocumentView.h"
#include "app/HostWindow.h"
#include "app/MainFrame.h"
#include "bench/BenchSounds.h"
#include "devices/AudioPlayer.h"
#include "devices/FakeWaveDevice.h"
#include "editor/AudioFileEditor.h"
#include "editor/EditorWindow.h"
#include "formats/FormatCodes.h"
#include "formats/Wave.h"
#include "graphics/TrackWaveform.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }
std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

constexpr int kRate = 44100;

// ---- paints ----

// Counts the finished paints of every host window that has a root (a document's view), so that
// "painted" means the paint event has been handled, not only sent.
class BenchApplication : public QApplication {
public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    const bool paint = event->type() == QEvent::Paint;
    const bool handled = QApplication::notify(receiver, event);
    if (paint)
      if (auto* wnd = qobject_cast<CGN_Wnd*>(receiver->parent()))
        if (wnd->Root() && receiver == wnd->viewport()) ++paints_[wnd];
    return handled;
  }

  int Paints(CGN_Wnd* wnd) const {
    const auto it = paints_.find(wnd);
    return it == paints_.end() ? 0 : it->second;
  }
  void ForgetPaints() { paints_.clear(); }

private:
  std::unordered_map<CGN_Wnd*, int> paints_;
};

BenchApplication* TheApp() { return static_cast<BenchApplication*>(qApp); }

// Runs the event loop until the window has finished a paint beyond `before`; false after 20 s.
bool WaitForPaint(CGN_Wnd* wnd, int before = 0) {
  const auto start = Clock::now();
  while (TheApp()->Paints(wnd) <= before) {
    if (Since(start) > 20) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  return true;
}

// Until the active document's file has loaded (a long file is shown while it loads).
bool WaitForLoad(VIZoravuApp& app) {
  const auto start = Clock::now();
  VIZoravuDoc* doc = app.MainFrame() ? app.MainFrame()->ActiveDocument() : nullptr;
  while (doc && doc->Loading()) {
    if (Since(start) > 120) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  return doc != nullptr;
}

CGN_Wnd* ActiveHost(VIZoravuApp& app) {
  VIZoravuDoc* doc = app.MainFrame() ? app.MainFrame()->ActiveDocument() : nullptr;
  return doc && doc->View() ? doc->View()->HostWindow() : nullptr;
}

// Deletes the closed windows (they go with deleteLater).
void FlushDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

// ---- the process's surroundings ----

// The offscreen screen and the settings folder, set before the QApplication (in this process and
// in the child started for a cold start).
void PrepareEnvironment(const std::string& dir) {
  const std::string screen = dir + "/screen.json";
  if (!std::filesystem::exists(screen)) {
    std::ofstream out(screen);
    out << R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920, "height": 1080,)"
           R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
  }
  const std::string platform = "offscreen:configfile=" + screen;
  setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
  setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);  // the edit journals
}

void UseSettingsIn(const std::string& dir) {
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir + "/settings"));
}

// Answers File > Open with the path it is given; every other question is declined.
struct BenchUi : AppUi {
  QString openPath;
  QStringList warnings;
  void ShowWarning(QWidget*, const QString& text, const QString&) override { warnings << text; }
  QMessageBox::StandardButton AskYesNoCancel(QWidget*, const QString&) override { return QMessageBox::No; }
  bool RunDialog(QDialog&) override { return false; }
  QString ChooseOpenFile(QWidget*, const QString&, const QString&, int* filterIndex) override {
    *filterIndex = 1;
    return openPath;
  }
};

struct Session {
  std::string dir;           // temporary: settings, screen, the files made here
  BenchUi* ui = nullptr;
  double qapplicationSeconds = 0;  // making the QApplication (platform plugin, fonts, style)
};
Session g_session;

// ---- the files ----

std::vector<float> SynthesiseSecond(int kind, std::mt19937& rng) {
  std::vector<float> frames(std::size_t(2 * kRate));
  FillSecond(kind, rng, frames, kRate);
  return frames;
}

// A 44,100 Hz stereo 16-bit WAVE of `seconds`, each second one of the eight sounds at random.
std::string WriteStereoWave(const std::string& name, int seconds) {
  const std::string path = g_session.dir + "/" + name;
  if (std::filesystem::exists(path)) return path;
  std::mt19937 rng(5);
  std::vector<std::vector<float>> kinds;
  for (int k = 0; k < 8; ++k) kinds.push_back(SynthesiseSecond(k, rng));
  std::ofstream out(path, std::ios::binary);
  {
    WaveWrite writer(out, std::int64_t(seconds) * kRate, 2, kRate, CompressionPcm16, AnnotationList());
    for (int s = 0; s < seconds; ++s) writer.PushSamples(kinds[rng() % 8].data(), 2 * kRate);
  }
  return out ? path : std::string();
}

// The demo sound the build made; else an equivalent one: 12 s of 44,100 Hz mono 16-bit, a faint
// room tone with noise bursts, a sustained tone and three chirps.
std::string DemoFile(bool* made) {
  *made = false;
  for (const char* candidate : {TINTWAVE_BENCH_DEMO, TINTWAVE_BENCH_DEMO_MAIN})
    if (std::filesystem::exists(candidate)) return candidate;
  *made = true;
  const std::string path = g_session.dir + "/demo.wav";
  if (std::filesystem::exists(path)) return path;
  const int n = 12 * kRate;
  std::vector<float> s(std::size_t(n), 0.0f);
  std::mt19937 rng(2026);
  std::normal_distribution<float> hiss(0.0f, 0.01f);
  for (float& x : s) x = hiss(rng);
  std::uniform_real_distribution<float> burst(-0.5f, 0.5f);
  for (double b : {3.0, 3.8})
    for (int i = int(b * kRate); i < int((b + 0.5) * kRate); ++i) s[std::size_t(i)] += burst(rng);
  for (int i = 8 * kRate; i < int(10.5 * kRate); ++i) s[std::size_t(i)] += 0.4f * float(std::sin(2 * M_PI * 220.0 * i / kRate));
  for (double m : {1.0, 6.3, 11.05}) {
    const int len = int(0.4 * kRate), first = int(m * kRate);
    double phase = 0;
    for (int i = 0; i < len && first + i < n; ++i) {
      const double t = double(i) / len;
      phase += 2 * M_PI * (600 + 2400 * t) / kRate;
      s[std::size_t(first + i)] += float(0.7 * std::sin(M_PI * t) * std::sin(phase));
    }
  }
  std::ofstream out(path, std::ios::binary);
  {
    WaveWrite writer(out, n, 1, kRate, CompressionPcm16, AnnotationList());
    writer.PushSamples(s.data(), n);
  }
  return path;
}

// ---- start-up ----

// What main.cpp does with "tintwave FILE", up to the first paint of the document's view.
std::unique_ptr<VIZoravuApp> StartWith(const QString& file, bool* ok) {
  auto app = std::make_unique<VIZoravuApp>(*qApp);
  *ok = !app->Start({file}).has_value();
  CGN_Wnd* wnd = *ok ? ActiveHost(*app) : nullptr;
  *ok = wnd && WaitForPaint(wnd);
  return app;
}

// In this process: the application object, its main frame and the demo document until painted;
// the QApplication exists already (its making is the qapplication_ms counter, once). The first
// iteration also pays for what Qt loads at first use (fonts, the style's pixmaps, the menus):
// first_ms.
void BM_StartUpInProcess(benchmark::State& state) {
  bool made = false;
  const QString demo = QString::fromStdString(DemoFile(&made));
  static bool firstDone = false;
  double first = -1;
  for (auto _ : state) {
    TheApp()->ForgetPaints();
    const auto t = Clock::now();
    bool ok = false;
    auto app = StartWith(demo, &ok);
    const double seconds = Since(t);
    if (!ok) {
      state.SkipWithError("the demo document did not paint");
      return;
    }
    state.SetIterationTime(seconds);
    if (!firstDone) {
      firstDone = true;
      first = seconds;
    }
    if (CGN_Wnd* wnd = ActiveHost(*app)) {
      // The paint drew the document: the view holds more than its background.
      const QImage& image = wnd->Buffer();
      int differing = 0;
      for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) differing += image.pixel(x, y) != image.pixel(0, 0);
      if (differing < 100) state.SkipWithError("the view painted nothing");
      state.counters["view_w"] = wnd->ClientSize().width();
      state.counters["view_h"] = wnd->ClientSize().height();
    }
    app.reset();
    FlushDeletes();
  }
  if (first >= 0) state.counters["first_ms"] = 1000 * first;
  state.counters["qapplication_ms"] = 1000 * g_session.qapplicationSeconds;
  state.SetLabel(made ? "demo made by the benchmark" : "demo.wav of the build");
}
BENCHMARK(BM_StartUpInProcess)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

// A fresh process (this program again, in its child mode, which does what main.cpp does), from
// before posix_spawn until the child reports the first paint of the demo document's view; the
// child's own clock marks main() and the QApplication's end (the same monotonic clock).
void BM_ColdProcessStart(benchmark::State& state) {
  bool made = false;
  const std::string demo = DemoFile(&made);
  char self[4096] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
    state.SkipWithError("no /proc/self/exe");
    return;
  }
  double toMain = 0, toQApplication = 0;
  for (auto _ : state) {
    int fds[2];
    if (pipe(fds) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    // The platform's notices at start ("XDG_RUNTIME_DIR not set", ...) are not ours to show.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string childDir = g_session.dir + "/child";
    std::filesystem::create_directories(childDir);
    char* argv[] = {self, const_cast<char*>("--startup-child"), const_cast<char*>(demo.c_str()),
                    childDir.data(), nullptr};
    const std::int64_t start = NowNs();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
      close(fds[0]);
      state.SkipWithError("posix_spawn failed");
      return;
    }
    char line[256] = {};
    std::size_t got = 0;
    for (ssize_t r; got < sizeof line - 1 && (r = read(fds[0], line + got, sizeof line - 1 - got)) > 0;)
      got += std::size_t(r);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long long atMain = 0, atQApplication = 0, atPaint = 0;
    if (std::sscanf(line, "%lld %lld %lld", &atMain, &atQApplication, &atPaint) != 3 || atPaint == 0) {
      state.SkipWithError("the child did not report a paint");
      return;
    }
    state.SetIterationTime(double(atPaint - start) / 1e9);
    toMain += double(atMain - start) / 1e9;
    toQApplication += double(atQApplication - start) / 1e9;
  }
  state.counters["to_main_ms"] = benchmark::Counter(1000 * toMain, benchmark::Counter::kAvgIterations);
  state.counters["to_qapplication_ms"] =
      benchmark::Counter(1000 * toQApplication, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ColdProcessStart)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

// ---- File > Open ----

// The application started empty (the introduction switched off, as after its first start).
// It goes before the QApplication does (main resets it).
std::unique_ptr<VIZoravuApp> g_shared;

VIZoravuApp& SharedApp() {
  if (!g_shared) {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, VIZoravuApp::kOrganisation,
                       VIZoravuApp::kApplication);
    settings.setValue("ShowIntro", "0");
    settings.sync();
    g_shared = std::make_unique<VIZoravuApp>(*qApp);
    g_shared->Start({});
    FlushDeletes();
  }
  return *g_shared;
}

void CloseActive(VIZoravuApp& app) {
  if (auto* child = qobject_cast<CChildFrame*>(app.MainFrame()->MdiArea()->activeSubWindow()))
    child->CloseWithoutAsking();
  FlushDeletes();
}

// OnFileOpen (the chooser answers at once) through OpenDocumentFile and the activation of the
// child until the file has loaded (it is shown while it loads); the document is closed after each
// (not timed). load_ms: until OnFileOpen returns (the header and the views); first_paint_ms:
// until the view has first painted.
void BM_FileOpenTenMinutes(benchmark::State& state) {
  const std::string path = WriteStereoWave("tintwave-app-bench-10min.wav", 600);
  VIZoravuApp& app = SharedApp();
  if (path.empty()) {
    state.SkipWithError("could not write the file");
    return;
  }
  g_session.ui->openPath = QString::fromStdString(path);
  double load = 0, firstPaint = 0;
  for (auto _ : state) {
    TheApp()->ForgetPaints();
    const auto t = Clock::now();
    app.OnFileOpen();
    const double loaded = Since(t);
    CGN_Wnd* wnd = ActiveHost(app);
    if (!wnd || !WaitForPaint(wnd)) {
      state.SkipWithError("the document did not open and paint");
      return;
    }
    firstPaint += Since(t);
    if (!WaitForLoad(app)) {
      state.SkipWithError("the document did not load");
      return;
    }
    state.SetIterationTime(Since(t));
    load += loaded;
    AudioEditorApp* editor = app.MainFrame()->ActiveDocument()->Editor();
    if (editor->DisplayTrack()->Length() != 600 * kRate) state.SkipWithError("short document");
    state.counters["view_w"] = wnd->ClientSize().width();
    CloseActive(app);
  }
  state.counters["load_ms"] = benchmark::Counter(1000 * load, benchmark::Counter::kAvgIterations);
  state.counters["first_paint_ms"] = benchmark::Counter(1000 * firstPaint, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FileOpenTenMinutes)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// ---- the playback tick ----

FakeWaveDevice* g_output = nullptr;

struct HourDocument {
  VIZoravuDoc* doc = nullptr;
  double writeSeconds = 0, openSeconds = 0, firstPaintSeconds = 0;
  std::string path;
};

// The one-hour stereo document, opened once through File > Open with fake sound devices, in the
// main frame maximised on the screen and its child maximised in it.
HourDocument& TheHour() {
  static HourDocument hour = [] {
    HourDocument h;
    VIZoravuApp& app = SharedApp();
    auto t = Clock::now();
    h.path = WriteStereoWave("tintwave-app-bench-1h.wav", 3600);
    h.writeSeconds = Since(t);
    if (h.path.empty()) return h;
    app.SetDeviceFactory([](WaveDirection direction) -> std::unique_ptr<CAI_WaveDevice> {
      auto device = std::make_unique<FakeWaveDevice>(direction);
      if (direction == WaveDirection::Output) g_output = device.get();
      return device;
    });
    app.MainFrame()->showMaximized();
    g_session.ui->openPath = QString::fromStdString(h.path);
    TheApp()->ForgetPaints();
    t = Clock::now();
    app.OnFileOpen();
    CGN_Wnd* wnd = ActiveHost(app);
    if (!wnd || !WaitForPaint(wnd)) return h;
    h.firstPaintSeconds = Since(t);
    if (!WaitForLoad(app)) return h;
    h.openSeconds = Since(t);
    h.doc = app.MainFrame()->ActiveDocument();
    app.MainFrame()->MdiArea()->activeSubWindow()->showMaximized();
    WaitForPaint(wnd, TheApp()->Paints(wnd));
    // The file is in the document now.
    std::filesystem::remove(h.path);
    return h;
  }();
  return hour;
}

// One tick as the window's timer runs it (EP_Window::OnTimerTick: the device polled, a finished
// buffer refilled, the cursor moved and the view scrolled after it), then the whole view painted
// through the window's paint path (CGN_Wnd::RepaintNow). Between ticks the fake device plays
// 20 ms (882 frames; not timed). Playback starts at 30:00 and runs untimed until the view has
// scrolled once, so the timed ticks are those of a cursor at the right margin. Arg: zoom-in
// steps (x2 each) from the fitted hour.
void BM_PlaybackTick(benchmark::State& state) {
  HourDocument& hour = TheHour();
  if (!hour.doc || !g_output) {
    state.SkipWithError("the hour did not open");
    return;
  }
  VIZoravuDoc& doc = *hour.doc;
  AudioEditorApp* editor = doc.Editor();
  CGN_Wnd* wnd = doc.View()->HostWindow();
  CGP_TrackWaveform* waveform = editor->Waveform();
  EP_Window* window = editor->Window();
  doc.OnCommand(CommandId::Stop);
  while (doc.OnCommand(CommandId::ZoomOut)) {}
  for (int i = 0; i < state.range(0); ++i) doc.OnCommand(CommandId::ZoomIn);
  editor->SetCursor(1800.0);
  if (!doc.OnCommand(CommandId::Play) || editor->Player()->State() != kDevicePlaying) {
    state.SkipWithError("playback did not start");
    return;
  }
  const int tickFrames = kRate / 50;
  // The fitted hour never scrolls: its cursor moves a column every 2 s or so.
  const int startX = waveform->X();
  const bool scrolls = waveform->Width() > waveform->VisibleWidth();
  for (int i = 0; scrolls && i < 20000 && waveform->X() == startX; ++i) {
    g_output->Advance(tickFrames);
    window->OnTimerTick();
  }
  wnd->RepaintNow();
  int scrolled = 0, lastX = waveform->X();
  double tickSeconds = 0, paintSeconds = 0;
  for (auto _ : state) {
    g_output->Advance(tickFrames);
    if (g_output->played.size() > (1u << 24)) g_output->played.clear();
    const auto t = Clock::now();
    window->OnTimerTick();
    const auto ticked = Clock::now();
    wnd->RepaintNow();
    state.SetIterationTime(Since(t));
    tickSeconds += std::chrono::duration<double>(ticked - t).count();
    paintSeconds += Since(ticked);
    if (waveform->X() != lastX) ++scrolled;
    lastX = waveform->X();
  }
  state.counters["tick_ms"] = benchmark::Counter(1000 * tickSeconds, benchmark::Counter::kAvgIterations);
  state.counters["paint_ms"] = benchmark::Counter(1000 * paintSeconds, benchmark::Counter::kAvgIterations);
  if (editor->Player()->State() != kDevicePlaying) state.SkipWithError("playback stopped");
  doc.OnCommand(CommandId::Stop);
  state.counters["scrolled_ticks_pct"] = 100.0 * scrolled / double(std::max<std::int64_t>(state.iterations(), 1));
  state.counters["cols_per_s"] = waveform->Width() / editor->Duration();
  state.counters["view_w"] = wnd->ClientSize().width();
  state.counters["view_h"] = wnd->ClientSize().height();
  state.counters["hour_open_s"] = hour.openSeconds;
  state.counters["hour_first_paint_s"] = hour.firstPaintSeconds;
  state.counters["hour_write_s"] = hour.writeSeconds;
}
BENCHMARK(BM_PlaybackTick)
    ->ArgName("zoom_in_steps")
    ->Arg(0)
    ->Arg(7)
    ->Arg(11)
    ->Arg(14)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(500);

// ---- the child of the cold start ----

int StartupChild(int argc, char** argv) {
  const std::int64_t atMain = NowNs();
  if (argc < 4) return 2;
  PrepareEnvironment(argv[3]);
  UseSettingsIn(argv[3]);
  BenchApplication application(argc, argv);
  QApplication::setOrganizationName(VIZoravuApp::kOrganisation);
  QApplication::setApplicationName("Tintwave");
  QApplication::setDesktopFileName("tintwave");
  const std::int64_t atQApplication = NowNs();
  bool ok = false;
  auto app = StartWith(QString::fromLocal8Bit(argv[2]), &ok);
  const std::int64_t atPaint = ok ? NowNs() : 0;
  char line[128];
  const int n = std::snprintf(line, sizeof line, "%lld %lld %lld\n", (long long)atMain, (long long)atQApplication,
                              (long long)atPaint);
  if (write(3, line, std::size_t(n)) != n) return 1;
  close(3);
  // The rest of the life is not timed; leave at once.
  std::fflush(nullptr);
  _exit(ok ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--startup-child") == 0) return StartupChild(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  QTemporaryDir dir(QDir::tempPath() + "/tintwave-app-bench-XXXXXX");
  if (!dir.isValid()) return 1;
  g_session.dir = dir.path().toStdString();
  PrepareEnvironment(g_session.dir);
  UseSettingsIn(g_session.dir);

  static int qtArgc = 1;
  static char* qtArgv[] = {argv[0], nullptr};
  const auto t = Clock::now();
  BenchApplication application(qtArgc, qtArgv);
  QApplication::setOrganizationName(VIZoravuApp::kOrganisation);
  QApplication::setApplicationName("Tintwave");
  QApplication::setDesktopFileName("tintwave");
  g_session.qapplicationSeconds = Since(t);
  application.setQuitOnLastWindowClosed(false);
  g_session.ui = new BenchUi;
  AppUi* previous = AppUi::Replace(g_session.ui);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_shared.reset();
  FlushDeletes();
  if (!g_session.ui->warnings.isEmpty())
    std::fprintf(stderr, "warnings shown: %s\n", qPrintable(g_session.ui->warnings.join(" | ")));
  delete AppUi::Replace(previous);
  return 0;
}
