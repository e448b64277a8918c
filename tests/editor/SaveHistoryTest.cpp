// Saving keeps the undo history when the saved file gives back exactly the document's samples
// and clears it otherwise, saying which in the status bar; an undo past such a save goes into the
// edit journal (which replays from the saved file) as the audio it put back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "analysis/SampleTrack.h"
#include "editor/EditHistory.h"
#include "editor/EditJournal.h"
#include "tests/editor/EditorTestSupport.h"

namespace {
using namespace editor_test;
namespace fs = std::filesystem;

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::vector<std::vector<float>> Tracks(Rig& rig) {
  std::vector<std::vector<float>> tracks;
  for (int t = 0; t < rig.Mixer()->TrackCount(); ++t) tracks.push_back(rig.TrackSamples(t));
  return tracks;
}

TEST(SaveHistory, KeptForExactSamplesClearedOtherwise) {
  if (!Shell("sox --version")) GTEST_SKIP() << "sox is not installed";
  const fs::path dir = fs::temp_directory_path() / ("tintwave-savehistory-" + std::to_string(::getpid()));
  fs::create_directories(dir / "recovery");
  const std::string s16 = (dir / "s16.wav").string(), f32 = (dir / "f32.wav").string();
  ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + s16 + " synth 2 sine 300 sine 500 vol 0.5"));
  ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -e floating-point -b 32 " + f32 + " synth 2 sine 300 sine 500 vol 0.5"));
  struct Case {
    const char* name;
    const std::string& source;
    bool gain;                   // a volume change: samples off the 16-bit grid
    int type, rate, compression;  // what the save writes
    bool kept;
  } cases[] = {
      {"16-bit, cut and reverse, saved as 16-bit WAVE", s16, false, 1, 44100, 17, true},
      {"16-bit, cut and reverse, saved as 16-bit AIFF", s16, false, 3, 44100, 17, true},
      {"float, volume, saved as float", f32, true, 1, 44100, 20, true},
      {"16-bit, volume, saved as 16-bit", s16, true, 1, 44100, 17, false},
      {"16-bit, cut and reverse, saved as u-law", s16, false, 1, 44100, 2, false},
      {"16-bit, cut and reverse, saved at another rate", s16, false, 1, 22050, 17, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    DocumentOptions options = rig.Options(1, 22050, 1);
    options.recoveryDir = (dir / "recovery").string();
    rig.document = std::make_unique<EditorDocument>(options, &rig.frame, &rig.prompts);
    EditorDocument& doc = *rig.document;
    ASSERT_TRUE(doc.Open(c.source, nullptr, 400, 100)) << doc.ErrorText();
    const auto original = Tracks(rig);
    rig.Editor()->Select(0.25, 0.5);
    ASSERT_TRUE(doc.Cut());
    rig.Editor()->Select(0.1, 1.2);
    rig.prompts.volume = 70;
    ASSERT_TRUE(c.gain ? doc.Volume() : doc.Reverse());
    const auto edited = Tracks(rig);
    const std::string saved = (dir / (std::string("saved-") + std::to_string(&c - cases) + (c.type == 3 ? ".aiff" : ".wav"))).string();
    doc.SetSaveSettings(c.type, c.rate, 2, c.compression);
    ASSERT_TRUE(doc.SaveUnder(saved)) << doc.ErrorText();
    EXPECT_FALSE(doc.Modified());
    EXPECT_EQ(rig.Editor()->HistoryKeptBySave(), c.kept);
    EXPECT_EQ(rig.Editor()->History()->CanUndo(), c.kept);
    EXPECT_EQ(rig.frame.panes[0], c.kept ? "Saved; the undo history is kept"
                                         : "Saved; the undo history was cleared: the file does not hold exactly "
                                           "the document's samples");
    if (!c.kept) continue;
    EXPECT_EQ(Tracks(rig), edited);
    // The saved file's past: the undo brings back the opened file bit for bit and the title its
    // "*", and a recovery from the saved file brings back what the undos and the redo left.
    ASSERT_TRUE(doc.Undo());
    ASSERT_TRUE(doc.Undo());
    EXPECT_EQ(Tracks(rig), original);
    EXPECT_TRUE(doc.Modified());
    ASSERT_TRUE(doc.Redo());
    ASSERT_TRUE(doc.FlushJournal());
    JournalContents journal;
    std::string error;
    ASSERT_TRUE(ReadJournalFile(doc.Journal()->Path(), &journal, &error)) << error;
    EXPECT_EQ(journal.commandCount, 3);
    EditorDocument recovered(options, nullptr, nullptr);
    ASSERT_TRUE(recovered.Recover(journal, nullptr, 400, 100)) << recovered.ErrorText();
    for (int t = 0; t < rig.Mixer()->TrackCount(); ++t) {
      CAP_SampleTrack* track = recovered.Editor()->Mixer()->Track(t);
      std::vector<float> samples(std::size_t(track->Length()));
      track->ReadSamples(samples.data(), track->Length(), 0);
      EXPECT_EQ(samples, rig.TrackSamples(t)) << "track " << t;
    }
    EXPECT_EQ(recovered.ModificationCount(), doc.ModificationCount());
  }
  fs::remove_all(dir);
}

}  // namespace
