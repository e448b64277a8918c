// A file shown while it loads: playback started on the first audio goes on into what arrives
// later, and each way a load can end leaves the document as Open would (complete, stopped with
// the reason in pane 0, a full scratch disk with its message and no document to show).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "analysis/ScratchFile.h"
#include "editor/CommandCode.h"
#include "tests/editor/EditorTestSupport.h"

namespace {
using namespace editor_test;
namespace fs = std::filesystem;
using LoadState = EditorDocument::LoadState;

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

TEST(LoadWhileShown, PlaysAsItArrivesAndEndsAsOpenWould) {
  if (!Shell("sox --version")) GTEST_SKIP() << "sox is not installed";
  const fs::path dir = fs::temp_directory_path() / ("tintwave-loadshown-" + std::to_string(::getpid()));
  fs::create_directories(dir / "scratch");
  // 150 s of stereo: 53 MB of float channels, more than the "full disk" below lets the scratch file hold.
  const std::string file = (dir / "long.wav").string();
  ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + file + " synth 150 sine 200-2000 sine 300 vol 0.5"));
  constexpr int kFrames = 150 * 44100;

  enum class End { Whole, Stopped, DiskFull };
  for (End end : {End::Whole, End::Stopped, End::DiskFull}) {
    SCOPED_TRACE(int(end));
    Rig rig;
    rig.document = std::make_unique<EditorDocument>(rig.Options(1, 22050, 30), &rig.frame, &rig.prompts);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    std::string error;
    if (end == End::DiskFull) {
      // A file-size limit stands in for a full disk under the scratch file.
      ASSERT_TRUE(scratch::UseDirectory((dir / "scratch").string(), &error)) << error;
      scratch::SetMemoryShare(0);
      rlimit small = old;
      small.rlim_cur = rlim_t(24) << 20;
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    ASSERT_TRUE(rig.document->OpenWhileLoading(file, nullptr, 400, 100));
    ASSERT_TRUE(rig.document->Loading());
    AudioEditorApp& editor = *rig.Editor();
    EXPECT_FALSE(editor.IsCommandEnabled(CommandNormalize));
    EXPECT_FALSE(editor.IsCommandEnabled(CommandUndo));
    LoadState state = LoadState::Loading;
    while (state == LoadState::Loading && editor.Duration() < 1.0)
      state = rig.document->ContinueLoading(std::chrono::microseconds(0));
    ASSERT_EQ(state, LoadState::Loading);
    // A time the selection bar refuses while it loads leaves its error text, not a failed load.
    EXPECT_FALSE(editor.SetSelectionTimes(0, 1e6));
    // Played from the start, on past what had arrived when Play was pressed.
    const double arrived = editor.Duration();
    ASSERT_TRUE(editor.IsCommandEnabled(CommandPlay));
    editor.Play();  // starts once three seconds past the cursor are there
    EXPECT_EQ(rig.Player()->State(), kDeviceIdle);
    while (state == LoadState::Loading && editor.Duration() < arrived + 4)
      state = rig.document->ContinueLoading(std::chrono::microseconds(0));
    ASSERT_EQ(rig.Player()->State(), kDevicePlaying);
    rig.Run(std::int64_t((arrived + 1) * 44100));
    EXPECT_EQ(rig.Player()->State(), kDevicePlaying);
    EXPECT_GT(rig.Player()->GetPositionSeconds(), arrived);
    if (end == End::Stopped) {
      rig.document->StopLoading();
      state = rig.document->Loading() ? LoadState::Loading : LoadState::Failed;
    }
    while (state == LoadState::Loading) state = rig.document->ContinueLoading(std::chrono::milliseconds(20));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    if (end == End::DiskFull) {
      scratch::SetMemoryShare(scratch::kAutomaticShare);
      scratch::UseDirectory("", nullptr);
    }

    switch (end) {
      case End::Whole:
        EXPECT_EQ(state, LoadState::Done);
        EXPECT_EQ(rig.Mixer()->Track(2)->Length(), kFrames);
        EXPECT_EQ(rig.Player()->State(), kDevicePlaying);  // on into what arrived meanwhile
        editor.Stop();
        EXPECT_TRUE(editor.IsCommandEnabled(CommandNormalize));
        EXPECT_TRUE(rig.frame.warnings.empty());
        break;
      case End::Stopped:
        EXPECT_EQ(rig.document->ErrorText(), "long.wav: " + std::string(AudioEditorApp::kLoadStopped));
        EXPECT_EQ(rig.frame.panes[0], rig.document->ErrorText());
        EXPECT_TRUE(rig.frame.warnings.empty());
        break;
      case End::DiskFull:
        EXPECT_EQ(state, LoadState::Failed);
      {
        // The message names the scratch folder that is full, not the default one.
        const std::string full = "Not enough disk space for the file's audio in the scratch folder (" +
                                 (dir / "scratch").string() + "); free some space and open it again";
        EXPECT_EQ(rig.document->ErrorText(), full);
        ASSERT_EQ(rig.frame.warnings.size(), 1u);
        EXPECT_EQ(rig.frame.warnings[0], "long.wav: " + full);
      }
        break;
    }
    EXPECT_FALSE(rig.document->Loading());
    if (end != End::Whole) EXPECT_NE(rig.Player()->State(), kDevicePlaying);
  }
  fs::remove_all(dir);
}

// Raw AAC announces no length: playback started while it loads goes on past what had arrived
// when Play was pressed, as it does for a file whose length is known.
TEST(LoadWhileShown, AFileOfUnknownLengthPlaysOnIntoWhatArrives) {
  if (!Shell("ffmpeg -version")) GTEST_SKIP() << "ffmpeg is not installed";
  const fs::path dir = fs::temp_directory_path() / ("tintwave-unknownlength-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string file = (dir / "radio.aac").string();
  ASSERT_TRUE(Shell("ffmpeg -v error -f lavfi -i sine=f=440:d=40:r=44100 -c:a aac -f adts " + file));
  Rig rig;
  rig.document = std::make_unique<EditorDocument>(rig.Options(1, 44100, 30), &rig.frame, &rig.prompts);
  ASSERT_TRUE(rig.document->OpenWhileLoading(file, nullptr, 400, 100));
  AudioEditorApp& editor = *rig.Editor();
  LoadState state = LoadState::Loading;
  while (state == LoadState::Loading && editor.Duration() < 1.0)
    state = rig.document->ContinueLoading(std::chrono::microseconds(0));
  editor.Play();
  while (state == LoadState::Loading && editor.Duration() < 5.0)
    state = rig.document->ContinueLoading(std::chrono::microseconds(0));
  ASSERT_EQ(rig.Player()->State(), kDevicePlaying);
  const double pressedAt = editor.Duration();  // what playback would have ended at
  while (state == LoadState::Loading && editor.Duration() < pressedAt + 8)
    state = rig.document->ContinueLoading(std::chrono::microseconds(0));
  rig.Run(std::int64_t((pressedAt + 2) * 44100));
  EXPECT_EQ(rig.Player()->State(), kDevicePlaying);
  EXPECT_GT(rig.Player()->GetPositionSeconds(), pressedAt + 1);
  editor.Stop();
  while (state == LoadState::Loading) state = rig.document->ContinueLoading(std::chrono::milliseconds(20));
  EXPECT_EQ(state, LoadState::Done);
  EXPECT_NEAR(editor.Duration(), 40.0, 0.1);
  fs::remove_all(dir);
}

}  // namespace
