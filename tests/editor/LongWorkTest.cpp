// Long commands on a worker: the same samples as on the calling thread, and a stop at any point
// leaves the document, its history and its journal exactly as they were.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "editor/EditHistory.h"
#include "editor/LongWork.h"
#include "editor/SharedClipboard.h"
#include "tests/editor/EditorTestSupport.h"

namespace {
using namespace editor_test;
namespace fs = std::filesystem;

// Answers "go on" until its stopAt-th question (0: never stops).
struct ScriptedObserver : LongWorkObserver {
  int stopAt = 0, asked = 0, begun = 0, ended = 0;
  std::string text;
  void BeginWork(const std::string& t) override {
    ++begun;
    text = t;
  }
  bool WorkProgress(int percent) override {
    EXPECT_GE(percent, 0);
    EXPECT_LE(percent, 100);
    return !(stopAt > 0 && ++asked >= stopAt);
  }
  void EndWork() override { ++ended; }
};

struct Command {
  const char* name;
  std::function<bool(EditorDocument&)> run;
  const char* text;  // what the progress pane says
  int stopAt;        // the question a stop answers: 1 before the work starts, 2 part way
  bool copies = false;  // it fills the clipboard from a selection
};

std::vector<std::vector<float>> Tracks(Rig& rig) {
  std::vector<std::vector<float>> tracks;
  for (int t = 0; t < rig.Mixer()->TrackCount(); ++t) tracks.push_back(rig.TrackSamples(t));
  return tracks;
}

// What the process's clipboard holds, track by track.
std::vector<std::vector<float>> Clipboard() {
  std::vector<std::vector<float>> tracks;
  for (const auto& t : SharedClipboard::Instance().Share()) {
    std::vector<float> v(std::size_t(t->Length()));
    const_cast<CAP_SampleTrack&>(*t).ReadSamples(v.data(), t->Length(), 0);
    tracks.push_back(std::move(v));
  }
  return tracks;
}

// The clipboard holds 300,000 frames of another stereo document.
bool CopyLong() {
  Rig other;
  other.New(2, 44100, 300000, Tone);
  other.Editor()->SelectAll();
  return other.document->Copy();
}

TEST(LongWork, WorkerGivesTheSameSamplesAndAStopChangesNothing) {
  const fs::path dir = fs::temp_directory_path() / ("tintwave-longwork-" + std::to_string(::getpid()));
  const Command commands[] = {
      {"normalize", [](EditorDocument& d) { return d.Normalize(); }, "Normalizing", 1},
      {"volume", [](EditorDocument& d) { return d.Volume(); }, "Changing the volume", 1},
      {"mute", [](EditorDocument& d) { return d.Mute(); }, "Muting", 1},
      {"fade in", [](EditorDocument& d) { return d.FadeIn(); }, "Fading in", 1},
      {"fade out", [](EditorDocument& d) { return d.FadeOut(); }, "Fading out", 1},
      {"reverse", [](EditorDocument& d) { return d.Reverse(); }, "Reversing", 1},
      {"shift pitch, stopped before", [](EditorDocument& d) { return d.ShiftPitch(); }, "Shifting the pitch", 1},
      {"shift pitch, stopped after a track", [](EditorDocument& d) { return d.ShiftPitch(); }, "Shifting the pitch", 2},
      {"change pitch", [](EditorDocument& d) { return d.ChangePitch(); }, "Changing the pitch", 1},
      {"change tempo", [](EditorDocument& d) { return d.ChangeTempo(); }, "Changing the tempo", 1},
      // The copies on the worker, the mix on the UI thread: a stop is seen during the copies.
      {"paste", [](EditorDocument& d) { return d.Paste(); }, "Pasting", 1},
      {"paste at another rate",
       [](EditorDocument& d) {
         Rig other;
         other.New(1, 22050, 9000, Tone);
         other.Editor()->SelectAll();
         return other.document->Copy() && d.Paste();
       },
       "Pasting", 1},
      // Long enough for the new blocks to be made on threads.
      {"paste a long clipboard", [](EditorDocument& d) { return CopyLong() && d.Paste(); }, "Pasting", 1},
      // Mixed from the cursor to the end, the rest of the clipboard appended.
      {"mix a long clipboard", [](EditorDocument& d) { return CopyLong() && d.Mix(); }, "Mixing", 1},
      {"mix", [](EditorDocument& d) { return d.Mix(); }, "Mixing", 1},
      {"insert silence", [](EditorDocument& d) { return d.InsertSilence(); }, "Inserting silence", 1},
      // Copies on the worker: a stop leaves the clipboard too as it was.
      {"copy", [](EditorDocument& d) { return d.Copy(); }, "Copying", 1, true},
      {"cut", [](EditorDocument& d) { return d.Cut(); }, "Cutting", 1, true},
  };
  for (const Command& command : commands) {
    SCOPED_TRACE(command.name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    // A stereo document (three tracks with the mix), journaled when a folder is given.
    auto make = [&](Rig& rig, ScriptedObserver* observer, const std::string& recoveryDir = "") {
      const int frames = 30000;
      DocumentOptions options = rig.Options(2, 44100, double(frames) / 44100);
      options.recoveryDir = recoveryDir;
      rig.document = std::make_unique<EditorDocument>(options, &rig.frame, &rig.prompts);
      ASSERT_TRUE(rig.document->New(nullptr, 400, 100));
      std::vector<float> interleaved(std::size_t(frames) * 2);
      for (std::size_t i = 0; i < interleaved.size(); ++i) interleaved[i] = 0.4f * Tone(int(i / 2), int(i % 2));
      rig.Mixer()->WriteFloat(interleaved.data(), frames, 0);
      rig.Wave()->ApplyChanges(0, 0);
      // The clipboard holds a part of it; paste and mix go to the cursor.
      rig.Editor()->Select(0.1, 0.4);
      ASSERT_TRUE(rig.document->Copy());
      rig.Editor()->Select(0.2, command.copies ? 0.5 : 0.2);
      rig.prompts.volume = 60;
      rig.prompts.pitch = 4;
      rig.prompts.changePitch = 2.5;
      rig.prompts.changeTempo = 50;
      rig.Editor()->SetLongWorkObserver(observer);
    };
    // On the calling thread, and on a worker with progress: the same samples.
    Rig plain, worked;
    ScriptedObserver goOn;
    make(plain, nullptr);
    make(worked, &goOn);
    ASSERT_TRUE(command.run(*plain.document));
    const auto plainClipboard = Clipboard();
    ASSERT_TRUE(command.run(*worked.document)) << worked.Editor()->ErrorText();
    EXPECT_EQ(Tracks(worked), Tracks(plain));
    if (command.copies) EXPECT_EQ(Clipboard(), plainClipboard);
    EXPECT_EQ(goOn.text, command.text);
    EXPECT_EQ(goOn.begun, 1);
    EXPECT_EQ(goOn.ended, 1);

    // Stopped, after an edit and its undo: the samples, rate, history (the redo too) and the
    // modification count are as before, and nothing reaches the journal.
    Rig stopped;
    ScriptedObserver stop;
    make(stopped, &stop, dir.string());
    ASSERT_TRUE(stopped.document->Reverse());
    ASSERT_TRUE(stopped.document->Undo());
    stop.stopAt = command.stopAt;
    const auto before = Tracks(stopped);
    const auto clipboardBefore = Clipboard();
    const int rate = stopped.Mixer()->sampleRate;
    ASSERT_TRUE(stopped.document->FlushJournal());
    const std::uintmax_t journaled = fs::file_size(stopped.document->Journal()->Path());
    EXPECT_FALSE(command.run(*stopped.document));
    EXPECT_EQ(Tracks(stopped), before);
    if (command.copies) EXPECT_EQ(Clipboard(), clipboardBefore);
    EXPECT_EQ(stopped.Mixer()->sampleRate, rate);
    EXPECT_EQ(stopped.Editor()->History()->UndoCount(), 0);
    EXPECT_EQ(stopped.Editor()->History()->RedoCount(), 1);
    EXPECT_EQ(stopped.document->ModificationCount(), 0);
    EXPECT_TRUE(stopped.Editor()->ErrorText().empty());
    EXPECT_TRUE(stopped.frame.warnings.empty());
    EXPECT_NE(stopped.frame.panes[0].find("stopped; the audio is unchanged"), std::string::npos);
    EXPECT_EQ(stop.ended, stop.begun);
    EXPECT_FALSE(stopped.Editor()->Working());
    ASSERT_TRUE(stopped.document->FlushJournal());
    EXPECT_EQ(fs::file_size(stopped.document->Journal()->Path()), journaled);
    // And the document goes on: the redo and the same command work.
    stop.stopAt = 0;
    ASSERT_TRUE(stopped.document->Redo());
    ASSERT_TRUE(stopped.document->Undo());
    EXPECT_TRUE(command.run(*stopped.document));
  }

  // The undo of a shift makes every block again too: stopped after one track, it changes nothing.
  Rig rig;
  ScriptedObserver stop;
  rig.New(2, 44100, 30000, Tone);
  rig.prompts.pitch = -3;
  rig.Editor()->SetLongWorkObserver(&stop);
  ASSERT_TRUE(rig.document->ShiftPitch());
  const auto shifted = Tracks(rig);
  const int rate = rig.Mixer()->sampleRate;
  stop.stopAt = 2;
  EXPECT_FALSE(rig.document->Undo());
  EXPECT_EQ(Tracks(rig), shifted);
  EXPECT_EQ(rig.Mixer()->sampleRate, rate);
  EXPECT_EQ(rig.Editor()->History()->UndoCount(), 1);
  EXPECT_EQ(rig.Editor()->History()->RedoCount(), 0);
  EXPECT_NE(rig.frame.panes[0].find("Undo stopped"), std::string::npos);
  stop.stopAt = 0;
  EXPECT_TRUE(rig.document->Undo());
  EXPECT_EQ(rig.Mixer()->sampleRate, 44100);

  // The match search after an edit asks too: stopped, the edit stays, no block is marked and
  // pane 0 says so; the next search marks again.
  {
    struct StopTheSearch : LongWorkObserver {
      bool stop = true;
      std::string text;
      void BeginWork(const std::string& t) override { text = t; }
      bool WorkProgress(int) override { return !(stop && text == "Finding similar sounds"); }
      void EndWork() override {}
    } observer;
    Rig searched;
    searched.New(2, 44100, 30000, Tone);
    searched.Editor()->SetSearchBySound(false);  // the signature search, which asks as it goes
    searched.Editor()->SetLongWorkObserver(&observer);
    searched.Editor()->Select(0.1, 0.3);
    searched.prompts.volume = 60;
    const auto loud = Tracks(searched);
    auto marked = [&] {
      int n = 0;
      for (const SampleBlock* b = searched.Editor()->DisplayTrack()->Head(); b; b = b->next)
        n += b->inPrototype || b->runHead;
      return n;
    };
    ASSERT_TRUE(searched.document->Volume());
    EXPECT_NE(Tracks(searched), loud);
    EXPECT_EQ(searched.Editor()->History()->UndoCount(), 1);
    EXPECT_EQ(marked(), 0);
    EXPECT_NE(searched.frame.panes[0].find("Search stopped"), std::string::npos) << searched.frame.panes[0];
    EXPECT_FALSE(searched.Editor()->Working());
    observer.stop = false;
    ASSERT_TRUE(searched.document->Volume());
    EXPECT_GT(marked(), 0);
  }

  // A load stopped at its first report opens nothing and says so without a message box; a
  // stopped reading back after a save leaves the document as it was.
  fs::create_directories(dir);
  const std::string saved = (dir / "saved.wav").string();
  rig.document->SetSaveSettings(1, 44100, 2, 20);
  ASSERT_TRUE(rig.document->SaveUnder(saved));
  const ProgressCallback stopAtOnce = [](std::intptr_t, const char*, int) { return false; };
  Rig opened;
  opened.document = std::make_unique<EditorDocument>(opened.Options(1, 22050, 1), &opened.frame, &opened.prompts);
  EXPECT_FALSE(opened.document->Open(saved, nullptr, 400, 100, stopAtOnce));
  EXPECT_EQ(opened.document->ErrorText(), "saved.wav: Loading stopped; the file was not opened");
  EXPECT_TRUE(opened.frame.warnings.empty());
  EXPECT_EQ(opened.document->Editor(), nullptr);
  rig.prompts.volume = 50;
  ASSERT_TRUE(rig.document->Volume());
  const auto halved = Tracks(rig);
  rig.document->SetProgress(
      [](std::intptr_t, const char* text, int) { return std::string(text).rfind("Loading", 0) != 0; }, 0);
  ASSERT_TRUE(rig.document->SaveUnder(saved));
  EXPECT_NE(rig.frame.warnings.back().find("reading it back was stopped"), std::string::npos);
  EXPECT_EQ(Tracks(rig), halved);
  EXPECT_TRUE(rig.Editor()->History()->CanUndo());
  fs::remove_all(dir);
  fs::remove_all(dir);
}

}  // namespace
