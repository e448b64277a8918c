// The controller and the document: status panes and title, the command rules in every transport
// state, the transport and the root's tick on fake devices, find, web search, saving and the
// document flows.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

#include "analysis/ScratchFile.h"
#include "editor/CommandCode.h"
#include "editor/EditHistory.h"
#include "editor/SharedClipboard.h"
#include "formats/FormatCodes.h"
#include "graphics/AxisBar.h"
#include "graphics/FormatTime.h"
#include "graphics/MultiTrackDisplay.h"
#include "tests/editor/EditorTestSupport.h"

namespace {
using namespace editor_test;
namespace fs = std::filesystem;

// One directory for the process's files, removed when the process ends (a run of the tests
// left one in /tmp each time).
fs::path TempDir() {
  static const struct Dir {
    fs::path path = fs::temp_directory_path() / ("tintwave-editor-" + std::to_string(::getpid()));
    Dir() { fs::create_directories(path); }
    ~Dir() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } dir;
  return dir.path;
}

bool HaveSox() { return std::system("sox --version >/dev/null 2>&1") == 0; }

TEST(Controller, StatusPanesSelectionAndTitleOfANewDocument) {
  Rig rig;
  rig.New(2, 22050, 661500, [](int, int) { return 0.0f; }, 1000);
  EditorDocument& doc = *rig.document;
  ASSERT_EQ(rig.Mixer()->TrackCount(), 3);
  for (int t = 0; t < 3; ++t) EXPECT_EQ(rig.Mixer()->Track(t)->Length(), 661500);
  EXPECT_EQ(rig.Editor()->DisplayTrackIndex(), 2);
  const std::map<int, std::string> want = {{1, "1:662"}, {2, "stereo"}, {3, "16-bit"}, {4, "22050 Hz"},
                                           {5, "Normal"}, {6, "0:00.000"}, {7, "0:30.000"}, {8, ""}};
  for (const auto& [pane, text] : want) EXPECT_EQ(rig.frame.panes[pane], text) << pane;
  EXPECT_EQ(doc.Title(), "Untitled.wav (0:30.000)");

  rig.Editor()->SetCursor(1.5);
  EXPECT_EQ(rig.Editor()->SelectionStart(false), 33075);
  EXPECT_EQ(rig.Editor()->SelectionStart(true), 0);
  EXPECT_EQ(rig.Editor()->SelectionLength(false), 0);
  EXPECT_EQ(rig.Editor()->SelectionLength(true), 661500);

  rig.Editor()->Select(1, 2.5);
  EXPECT_EQ(rig.frame.panes[8], "0:01.000");
  EXPECT_EQ(rig.frame.panes[9], "0:02.500");
  EXPECT_EQ(rig.frame.panes[10], "0:01.500");
  // Three edits and three undos: the mark comes and goes, closing asks nothing.
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(doc.Reverse());
  EXPECT_EQ(doc.Title(), "Untitled.wav* (0:30.000)");
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(doc.Undo());
  EXPECT_FALSE(doc.Modified());
  EXPECT_EQ(doc.Title(), "Untitled.wav (0:30.000)");
  EXPECT_TRUE(doc.CanClose());
  EXPECT_EQ(rig.prompts.saveChangesAsked, 0);
}

TEST(Controller, SamplesPerPixelPane) {
  struct Row {
    int rate, frames;
    const char* text;
  } rows[] = {{8000, 2500, "1:2.50"}, {44100, 441200, "1:441"}, {8000, 1000, "1:1"}};
  for (const Row& r : rows) {
    Rig rig;
    rig.New(1, r.rate, r.frames, [](int, int) { return 0.0f; }, 1000);
    EXPECT_EQ(rig.Editor()->PaneText(1), r.text) << r.frames;
    EXPECT_EQ(rig.Editor()->PaneText(2), "mono");
  }
}

// The rule table in each transport state. Columns: codes 0..25 that the table names.
TEST(Controller, CommandRulesFollowTheTransportState) {
  Rig rig;
  rig.New(1, 8000, 8000 * 4, Tone, 200);
  EP_AudioFileEditor& ed = *rig.Editor();
  auto enabled = [&](const std::vector<int>& codes) {
    std::string s;
    for (int c : codes) s += ed.IsCommandEnabled(c) ? '1' : '0';
    return s;
  };
  const std::vector<int> codes = {CommandUndo, CommandRedo, CommandCut, CommandCopy, CommandPaste, CommandDelete,
                      CommandTrim, CommandWebSearch, CommandFindNext, CommandZoomIn, CommandZoomOut,
                      CommandInsertSilence, CommandFade, CommandPlay, CommandPause, CommandStop, CommandRecord};
  SharedClipboard::Instance().Clear();
  //                                 U R C C P D T W F Z Z I F P P S R
  EXPECT_EQ(enabled(codes), "00000001110111001") << "idle, no selection";
  ed.Select(1, 2);
  EXPECT_EQ(enabled(codes), "00110111110111001") << "idle, selection, cursor at its start";
  ASSERT_TRUE(rig.document->Copy());
  rig.Wave()->SetCursorTime(1.5, FollowNone);
  EXPECT_EQ(enabled(codes), "00111111110111011") << "clipboard, cursor inside the selection";
  ed.ZoomIn();
  EXPECT_EQ(enabled(codes), "00111111111111011") << "zoomed in";
  ed.Play();
  ASSERT_EQ(rig.Player()->State(), kDevicePlaying);
  EXPECT_EQ(enabled(codes), "00000001111000110") << "playing";
  ed.Pause();
  EXPECT_TRUE(ed.PausedPlay());
  EXPECT_EQ(enabled(codes), "00111111111111110") << "paused play: no recording";
  ed.Stop();
  ed.SelectAll();
  ed.Record(0, 0);
  ASSERT_EQ(rig.Player()->State(), kDeviceRecording);
  EXPECT_EQ(enabled(codes), "00000000011000110") << "recording";
  EXPECT_TRUE(ed.IsCommandEnabled(CommandColoredWaveform));
  ed.Pause();
  EXPECT_TRUE(ed.PausedRecording());
  EXPECT_FALSE(ed.IsCommandEnabled(CommandPlay)) << "paused recording blocks Play";
  ed.Stop();
  EXPECT_TRUE(rig.document->Undo());
  EXPECT_TRUE(ed.IsCommandEnabled(CommandRedo));
}

TEST(Controller, ReadOnlyEncodingsRefuseEditsAndRecording) {
  if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  const fs::path path = TempDir() / "adpcm.wav";
  ASSERT_EQ(std::system(("sox -V1 -n -e ima-adpcm " + path.string() + " synth 1 sine 440").c_str()), 0);
  Rig rig;
  ASSERT_TRUE(rig.Open(path)) << rig.document->ErrorText();
  EP_AudioFileEditor& ed = *rig.Editor();
  ed.Select(0.1, 0.5);
  for (int code : {CommandCut, CommandPaste, CommandDelete, CommandTrim, CommandInsertSilence, CommandNormalize,
                   CommandMuteVolume, CommandFade, CommandReverse, CommandRecord})
    EXPECT_FALSE(ed.IsCommandEnabled(code)) << code;
  for (int code : {CommandCopy, CommandPlay, CommandFindNext, CommandWebSearch})
    EXPECT_TRUE(ed.IsCommandEnabled(code)) << code;
  EXPECT_FALSE(rig.document->Reverse());
  EXPECT_FALSE(rig.document->Modified());
}

TEST(Controller, PlayRangesFollowCursorAndSelection) {
  struct Row {
    double selA, selB, cursor;
    int start, end;
  } rows[] = {
      {0, 0, 9.995, 0, 80000},         // 5 ms before the end: from the start
      {0, 0, 3, 24000, 80000},         // from the cursor
      {2, 4, 3, 24000, 32000},         // inside the selection: to its end
      {2, 4, 5, 16000, 32000},         // outside: the selection
      {2, 4, 3.995, 16000, 32000},     // at the selection's end: the selection again
  };
  for (const Row& r : rows) {
    Rig rig;
    rig.New(1, 8000, 80000, Tone);
    EP_AudioFileEditor& ed = *rig.Editor();
    ed.Select(r.selA, r.selB);
    rig.Wave()->SetCursorTime(r.cursor, FollowNone);
    ed.Play();
    ASSERT_EQ(rig.Player()->State(), kDevicePlaying);
    EXPECT_EQ(rig.Player()->StartSample(), r.start) << r.cursor;
    EXPECT_EQ(rig.Player()->EndSample(), r.end) << r.cursor;
    EXPECT_FALSE(rig.Wave()->CaretEnabled());
  }
}

TEST(Controller, TickEndsPlaybackFollowsTheCursorAndWrapsClicks) {
  Rig rig;
  rig.New(1, 8000, 8000 * 3, Tone, 400);
  EP_AudioFileEditor& ed = *rig.Editor();
  ed.Select(1, 2);
  ed.Play();
  rig.Run(4000);
  EXPECT_NEAR(rig.Wave()->CursorTime(), 1.5, 0.01) << "the cursor follows the playback";
  EXPECT_EQ(rig.frame.panes[6], ed.PaneText(6));
  // A click during playback: pause, the click places the cursor, playback restarts from it.
  const int x = rig.Wave()->ColumnOfTime(0.5) + rig.Wave()->X();
  ed.Window()->OnButtonDown(x, 50, 0, false, false);
  ed.Window()->OnButtonUp(x, 50, 0, false, false);
  ASSERT_EQ(rig.Player()->State(), kDevicePlaying);
  EXPECT_NEAR(rig.Player()->StartSample(), 4000, 30);
  // The end: the next tick stops and the cursor returns to where the selection begins.
  for (int i = 0; i < 10 && rig.Player()->State() != kDeviceIdle; ++i) rig.Run(8000);
  EXPECT_EQ(rig.Player()->State(), kDeviceIdle);
  EXPECT_DOUBLE_EQ(rig.Wave()->CursorTime(), rig.Wave()->SelStart());
  EXPECT_TRUE(rig.Wave()->CaretEnabled());
  // Stop is enabled once the cursor left the selection's start.
  ed.Select(1, 2);
  EXPECT_FALSE(ed.IsCommandEnabled(CommandStop));
  rig.Wave()->SetCursorTime(1.4, FollowNone);
  EXPECT_TRUE(ed.IsCommandEnabled(CommandStop));
  ed.Stop();
  EXPECT_DOUBLE_EQ(rig.Wave()->CursorTime(), 1.0);
}

TEST(Controller, RecordingWithoutEndGrowsTheDocumentAndUndoes) {
  Rig rig;
  rig.New(1, 8000, 8000, Tone, 400);
  const std::vector<float> before = rig.TrackSamples(0);
  EP_AudioFileEditor& ed = *rig.Editor();
  rig.Wave()->SetCursorTime(0.5, FollowNone);
  ed.Record(0, 0);
  ASSERT_EQ(rig.Player()->State(), kDeviceRecording);
  // The pointer is ignored while recording.
  ed.Window()->OnButtonDown(10, 50, 0, false, false);
  ed.Window()->OnButtonUp(30, 50, 0, false, false);
  EXPECT_EQ(rig.Wave()->SelStart(), rig.Wave()->SelEnd());
  std::vector<double> lengths;
  for (int i = 0; i < 8; ++i) {
    rig.Run(8000);
    lengths.push_back(ed.Duration());
  }
  // One second for the first five extensions, then five seconds each.
  EXPECT_NEAR(lengths[0], 2, 1e-9);
  EXPECT_NEAR(lengths[3], 5, 1e-9);
  EXPECT_NEAR(lengths[5], 11, 1e-9);
  EXPECT_DOUBLE_EQ(ed.Display()->TimeAxis()->MaxValue(), ed.Duration());
  EXPECT_EQ(rig.frame.panes[7], FormatTime(ed.Duration(), 3, true, false));
  ed.Stop();
  EXPECT_EQ(rig.Player()->State(), kDeviceIdle);
  ASSERT_TRUE(rig.document->Undo());
  EXPECT_EQ(rig.TrackSamples(0), before);
  EXPECT_EQ(rig.Wave()->Width(), rig.Wave()->VisibleWidth()) << "fitted to the window";
}

TEST(Controller, FindWalksFromMatchToMatch) {
  Rig rig;
  // A 0.2 s chirp at 1, 3 and 5 s in noise-free silence.
  const int rate = 8000;
  auto sample = [](int i, int) {
    const double t = i / 8000.0;
    for (double at : {1.0, 3.0, 5.0})
      if (t >= at && t < at + 0.2) return float(0.6 * std::sin(2 * M_PI * (300 + 3000 * (t - at)) * (t - at)));
    return 0.0f;
  };
  rig.New(1, rate, rate * 7, sample);
  EP_AudioFileEditor& ed = *rig.Editor();
  EXPECT_EQ(ed.FindNext(), "Match not found") << "no prototype yet";
  ed.Select(1.0, 1.2);
  EXPECT_EQ(ed.MatchCount(), 2) << "the prototype is not counted";
  EXPECT_EQ(rig.frame.count, 2);
  const std::string first = ed.FindNext();
  EXPECT_EQ(first.rfind("Found match (", 0), 0u) << first;
  EXPECT_NEAR(ed.CursorSample(), 3 * rate, 0.11 * rate);
  EXPECT_EQ(rig.frame.panes[0], first);
  ed.FindNext();
  EXPECT_NEAR(ed.CursorSample(), 5 * rate, 0.11 * rate);
  // Past the last match the search wraps over the prototype's own run to the first other one.
  ed.FindNext();
  EXPECT_NEAR(ed.CursorSample(), 3 * rate, 0.11 * rate) << "wraps around";
  ed.FindPrevious();
  EXPECT_NEAR(ed.CursorSample(), 5 * rate, 0.11 * rate) << "wraps backwards";
  ed.SetMatchThreshold(100);
  EXPECT_LE(ed.MatchCount(), 2);
  EXPECT_EQ(rig.Wave()->SegmentThreshold(), 100);
}

// Chirps off the 0.05 s grid: with "Match anywhere" Find Next leaves the cursor where each one
// starts; with the setting off it lands on block starts, as the grid search always did.
TEST(Controller, FindNextLandsWhereTheSoundStarts) {
  Rig rig;
  const int rate = 8000;
  const double starts[] = {1.0, 3.0125, 5.0337};
  auto sample = [&](int i, int) {
    const double t = i / 8000.0;
    for (double at : starts)
      if (t >= at && t < at + 0.3) return float(0.6 * std::sin(2 * M_PI * (300 + 3000 * (t - at)) * (t - at)));
    return 0.0f;
  };
  rig.New(1, rate, rate * 7, sample);
  EP_AudioFileEditor& ed = *rig.Editor();
  ASSERT_TRUE(ed.MatchAnywhere());
  ASSERT_TRUE(ed.SearchBySound());
  for (bool bySound : {true, false}) {
    ed.SetSearchBySound(bySound);
    ed.Select(1.0, 1.3);
    for (double at : {starts[1], starts[2], starts[1]}) {  // around past the prototype
      const std::string said = ed.FindNext();
      EXPECT_NEAR(ed.CursorSample(), at * rate, 400 / 16) << at << (bySound ? " by sound: " : " ") << said;
    }
  }
  ed.Select(1.0, 1.3);
  ed.SetMatchAnywhere(false);
  for (int k = 0; k < 3; ++k) {
    ed.FindNext();
    int offset = -1;
    ed.DisplayTrack()->Locate(ed.CursorSample(), &offset);
    EXPECT_EQ(offset, 0) << ed.CursorSample();
  }
}

TEST(Controller, WebSearchChecksTheRegionAndSignsIt) {
  Rig rig;
  rig.New(1, 8000, 8000 * 12, Tone);
  EP_AudioFileEditor& ed = *rig.Editor();
  ed.Select(1, 11.001);
  EXPECT_FALSE(rig.document->WebSearch());
  ASSERT_EQ(rig.frame.warnings.size(), 1u);
  EXPECT_EQ(rig.frame.warnings[0],
            "Please select a region that is 10 seconds\nin duration or less by dragging the mouse\nover the "
            "waveform display.");
  ed.Select(1, 11);
  EXPECT_TRUE(rig.document->WebSearch());
  SoundSignature expected{};
  ed.DisplayTrack()->ComputeRegionSignature(80000, 8000, &expected);
  ASSERT_EQ(rig.launched.size(), 1u);
  EXPECT_EQ(rig.launched[0], BuildSearchUrl(WebSearchChoices{}, kDefaultSearchUrl, expected));
  // Nothing selected: the whole file.
  ed.SetCursor(2);
  ed.DisplayTrack()->ComputeRegionSignature(8000 * 12, 0, &expected);
  EXPECT_EQ(rig.document->SearchUrl(), BuildSearchUrl(WebSearchChoices{}, kDefaultSearchUrl, expected));
  rig.document->Editor()->SetBrowserLauncher([](const std::string&) { return false; });
  EXPECT_FALSE(rig.document->WebSearch());
  EXPECT_EQ(rig.frame.warnings.back(), "Could not launch web browser");
}

TEST(Controller, SavingReopensTheWrittenFileAndFailuresKeepTheDocument) {
  const fs::path dir = TempDir();
  Rig rig;
  rig.New(2, 8000, 8000 * 2, Tone);
  EditorDocument& doc = *rig.document;
  ASSERT_TRUE(doc.Reverse());
  // Save on a new document asks for a name; the type's extension is added to a bare name.
  rig.prompts.saveAsAnswer = true;
  rig.prompts.saveAs = {(dir / "saved").string(), 3, 8000, 2, 17};
  ASSERT_TRUE(doc.Save()) << doc.ErrorText();
  EXPECT_EQ(rig.prompts.offered.path, "Untitled.wav");
  EXPECT_EQ(doc.Path(), (dir / "saved.aiff").string());
  EXPECT_FALSE(doc.Modified());
  EXPECT_EQ(doc.Title(), "saved.aiff (0:02.000)");
  EXPECT_FALSE(rig.Editor()->History()->CanUndo()) << "a fresh history";
  EXPECT_EQ(doc.FileType(), 3);
  // The document shows what was written: 16-bit steps.
  for (float v : rig.TrackSamples(0)) ASSERT_EQ(v * 32768, std::round(v * 32768));

  // A save that cannot write leaves the document as it was.
  ASSERT_TRUE(doc.Reverse());
  const std::vector<float> edited = rig.TrackSamples(0);
  EXPECT_FALSE(doc.SaveUnder((dir / "missing" / "x.wav").string()));
  EXPECT_EQ(doc.ErrorText(), "Couldn't write to file '" + (dir / "missing" / "x.wav").string() + "'");
  EXPECT_TRUE(doc.Modified());
  EXPECT_EQ(rig.TrackSamples(0), edited);

  // A saved file that cannot be read back: the document keeps its parts and says so.
  const fs::path junk = dir / "junk.wav";
  std::ofstream(junk) << "not audio at all";
  EXPECT_FALSE(rig.Editor()->ReopenAfterSave(junk));
  EXPECT_EQ(rig.Editor()->ErrorText(), "Could not reopen target file");
  EXPECT_EQ(rig.TrackSamples(0), edited);
  EXPECT_TRUE(doc.Undo());

  // A pitch shift is saved at the document's rate: the saved file is shorter, "Normal" again.
  rig.prompts.pitch = 12;
  ASSERT_TRUE(doc.ShiftPitch());
  EXPECT_EQ(rig.Editor()->PaneText(5), "+12 halftones");
  doc.SetSaveSettings(1, 8000, 2, 17);
  ASSERT_TRUE(doc.SaveUnder((dir / "shifted.wav").string()));
  EXPECT_EQ(rig.frame.warnings.size(), 1u) << rig.frame.warnings.back();
  EXPECT_EQ(rig.Editor()->PaneText(5), "Normal");
  EXPECT_NEAR(rig.Editor()->Duration(), 1.0, 0.01);
}

TEST(Controller, ClosingWithChangesAsksAndHonoursTheAnswer) {
  const fs::path dir = TempDir();
  struct Row {
    SaveChangesAnswer answer;
    bool saveAs, closes, written;
  } rows[] = {{SaveChangesAnswer::Cancel, false, false, false},
              {SaveChangesAnswer::No, false, true, false},
              {SaveChangesAnswer::Yes, false, false, false},  // the Save As dialog is cancelled
              {SaveChangesAnswer::Yes, true, true, true}};
  int n = 0;
  for (const Row& r : rows) {
    Rig rig;
    rig.New(1, 8000, 800, Tone);
    ASSERT_TRUE(rig.document->Mute());
    rig.prompts.saveChanges = r.answer;
    rig.prompts.saveAsAnswer = r.saveAs;
    const fs::path target = dir / ("closed" + std::to_string(n++) + ".wav");
    rig.prompts.saveAs = {target.string(), 1, 8000, 1, 17};
    EXPECT_EQ(rig.document->CanClose(), r.closes) << n;
    EXPECT_EQ(rig.prompts.saveChangesAsked, 1);
    EXPECT_EQ(fs::exists(target), r.written) << n;
  }
}

TEST(Controller, SaveAsProposesTheTypesExtension) {
  struct Row {
    const char* path;
    int type, encoding;
    const char* proposed;
    int proposedEncoding;
  } rows[] = {{"/a/b.WAV", 1, 17, "/a/b.WAV", 17},
              {"/a/b.wav", 3, 18, "/a/b.aiff", 18},
              {"/a.x/b", 2, 7, "/a.x/b.au", 17},
              {"", 1, 20, "Untitled.wav", 20}};
  for (const Row& r : rows) {
    Rig rig;
    rig.New(1, 8000, 800, Tone);
    EditorDocument& doc = *rig.document;
    doc.SetSaveSettings(r.type, 8000, 1, r.encoding);
    // The path only matters through the proposal.
    const_cast<std::string&>(doc.Path()) = r.path;
    const SaveAsRequest proposal = doc.SaveAsProposal();
    EXPECT_EQ(proposal.path, r.proposed) << r.path;
    EXPECT_EQ(proposal.compression, r.proposedEncoding) << r.path;
  }
}

TEST(Controller, OpenRefusesWhatTheEditorCannotHold) {
  if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  const fs::path dir = TempDir();
  const fs::path four = dir / "four.wav";
  ASSERT_EQ(std::system(("sox -V1 -n -c 4 -r 8000 -b 16 " + four.string() + " synth 0.1 sine 440").c_str()), 0);
  Rig rig;
  // More than two channels open as channels 1 and 2, and the status bar says so.
  EXPECT_TRUE(rig.Open(four));
  EXPECT_EQ(rig.document->Channels(), 2);
  EXPECT_EQ(rig.frame.panes[0], "4 channels: channels 1 and 2 shown");
  EXPECT_FALSE(rig.Open(dir / "none.wav"));
  EXPECT_EQ(rig.document->ErrorText(), "Could not open file");
  EXPECT_FALSE(rig.Open(dir));
  EXPECT_EQ(rig.document->ErrorText(), "Could not open file");
}

// A file sox made, opened with its samples in the scratch file: the same document as in memory,
// normalized, undone and saved alike; with too little scratch disk, the open fails with the reason
// and leaves no document.
TEST(Controller, DocumentsInTheScratchFile) {
  if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  const fs::path dir = TempDir();
  const fs::path wave = dir / "long.wav";
  ASSERT_EQ(std::system(("sox -V1 -n -c 2 -r 44100 -b 16 " + wave.string() + " synth 200 pinknoise vol 0.5").c_str()), 0);
  Rig memory;
  ASSERT_TRUE(memory.Open(wave));
  ASSERT_TRUE(scratch::UseDirectory((dir / "scratch").string(), nullptr));
  scratch::SetMemoryShare(0);
  struct Off {
    ~Off() {
      scratch::SetMemoryShare(scratch::kAutomaticShare);
      scratch::UseDirectory("", nullptr);
    }
  } off;
  {
    Rig onDisk;
    ASSERT_TRUE(onDisk.Open(wave));
    EXPECT_GT(scratch::DiskBytes(), std::size_t(60) << 20);
    for (Rig* rig : {&memory, &onDisk}) {
      rig->Editor()->SelectAll();
      ASSERT_TRUE(rig->document->Normalize());
      ASSERT_TRUE(rig->document->Undo());
      ASSERT_TRUE(rig->document->Redo());
    }
    for (int t = 0; t < 3; ++t) ASSERT_EQ(onDisk.TrackSamples(t), memory.TrackSamples(t)) << t;
    const fs::path saved = dir / "saved.wav";
    ASSERT_TRUE(onDisk.Editor()->SaveToFile(saved.string(), 2, 44100, FileFormatWave, CompressionFloat32, nullptr, 0));
    Rig reopened;
    ASSERT_TRUE(reopened.Open(saved));
    EXPECT_EQ(reopened.TrackSamples(0), memory.TrackSamples(0));
  }
  // A file-size limit on a new scratch file stands in for a full disk.
  ASSERT_TRUE(scratch::UseDirectory((dir / "full").string(), nullptr));
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = rlim_t(48) << 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Rig full;
  const bool opened = full.Open(wave);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldSignal);
  EXPECT_FALSE(opened);
  EXPECT_NE(full.document->ErrorText().find("disk space"), std::string::npos) << full.document->ErrorText();
  EXPECT_EQ(full.document->Editor(), nullptr);
}

TEST(Controller, AnEditWithoutMemoryLeavesTheDocumentAsItWas) {
  Rig rig;
  rig.New(2, 8000, 8000, Tone);
  EditorDocument& doc = *rig.document;
  rig.Editor()->Select(0.2, 0.6);
  ASSERT_TRUE(doc.Cut());
  const std::vector<float> before = rig.TrackSamples(2);
  rig.Editor()->History()->FailAllocationAfter(2);
  EXPECT_FALSE(doc.Paste());
  EXPECT_EQ(rig.frame.warnings.back(), rig.Editor()->ErrorText());
  EXPECT_FALSE(rig.Editor()->ErrorText().empty());
  EXPECT_EQ(rig.TrackSamples(2), before);
  EXPECT_EQ(doc.ModificationCount(), 1);
  rig.Editor()->History()->FailAllocationAfter(0);
  EXPECT_TRUE(doc.Undo());
  EXPECT_EQ(doc.ModificationCount(), 0);
}

}  // namespace
