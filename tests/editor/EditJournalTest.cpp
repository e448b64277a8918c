// The edit journal: documents replayed from it come back as they were, a torn or damaged tail
// is ignored, a changed source is named, a failing disk costs only the journal, a journal a
// running process holds is never taken, and a process killed at any moment loses nothing that
// was acknowledged a second before.
#include <algorithm>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "editor/EditHistory.h"
#include "editor/EditJournal.h"
#include "editor/RecordingFile.h"
#include "editor/SharedClipboard.h"
#include "tests/editor/EditorTestSupport.h"

namespace {
using namespace editor_test;
namespace fs = std::filesystem;

struct TempFolder {
  fs::path path;
  TempFolder() {
    char pattern[] = "/tmp/tintwave-journal-XXXXXX";
    path = ::mkdtemp(pattern);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

// A float WAVE file of a tone, written by the editor's save.
void WriteSource(const fs::path& path, int channels, int rate, int frames) {
  Rig rig;
  rig.New(channels, rate, frames, [](int i, int c) { return float(0.4 * std::sin(0.031 * i * (c + 1)) + 0.1 * std::sin(0.0007 * i)); });
  rig.document->SetSaveSettings(1, rate, channels, 20);
  ASSERT_TRUE(rig.document->SaveUnder(path.string()));
}

// What recovery must bring back of a document.
struct State {
  std::vector<std::vector<float>> tracks;
  double selStart = 0, selEnd = 0, cursor = 0;
  int modifications = 0;
  bool canUndo = false, canRedo = false;
  bool operator==(const State&) const = default;
};

// The first difference, for the failure message.
std::ostream& operator<<(std::ostream& out, const State& s) {
  out << "sel " << s.selStart << ".." << s.selEnd << " cursor " << s.cursor << " mods " << s.modifications
      << " undo " << s.canUndo << " redo " << s.canRedo << " tracks";
  for (const auto& t : s.tracks) out << " " << t.size();
  return out;
}

std::string Difference(const State& a, const State& b) {
  std::ostringstream out;
  out << "recovered: " << a << "\nexpected:  " << b;
  for (std::size_t t = 0; t < std::min(a.tracks.size(), b.tracks.size()); ++t)
    for (std::size_t i = 0; i < std::min(a.tracks[t].size(), b.tracks[t].size()); ++i)
      if (a.tracks[t][i] != b.tracks[t][i]) {
        out << "\ntrack " << t << " sample " << i << ": " << a.tracks[t][i] << " vs " << b.tracks[t][i];
        break;
      }
  return out.str();
}

State StateOf(const EditorDocument& doc) {
  State s;
  const EP_SampleMixer* mixer = doc.Editor()->Mixer();
  for (int t = 0; t < mixer->TrackCount(); ++t) {
    CAP_SampleTrack* track = mixer->Track(t);
    std::vector<float> v(std::size_t(track->Length()));
    track->ReadSamples(v.data(), track->Length(), 0);
    s.tracks.push_back(std::move(v));
  }
  s.selStart = doc.Editor()->Waveform()->SelStart();
  s.selEnd = doc.Editor()->Waveform()->SelEnd();
  s.cursor = doc.Editor()->Waveform()->CursorTime();
  s.modifications = doc.ModificationCount();
  s.canUndo = doc.Editor()->History()->CanUndo();
  s.canRedo = doc.Editor()->History()->CanRedo();
  return s;
}

// What the waveform shows: zoom, scroll and every visible column (top, bottom, colour, clip).
std::vector<std::int64_t> PictureOf(const EditorDocument& doc) {
  const CGP_TrackWaveform* wave = doc.Editor()->Waveform();
  std::vector<std::int64_t> picture{wave->Width(), wave->X()};
  for (int c = -wave->X(); c < std::min(wave->Width(), wave->VisibleWidth() - wave->X()); ++c) {
    const ColumnSpan& span = wave->CachedColumn(c);
    picture.push_back(std::int64_t(span.top) << 48 | std::int64_t(span.bottom) << 32 |
                      std::int64_t(span.colour) << 4 | span.clipped);
  }
  return picture;
}

// Documents edited by a seeded random script: every command kind, two documents, pastes between
// them, undo and redo. The same seed gives the same commands and the same results.
class RandomEditor {
public:
  // saves: now and then a save that keeps the history, into a folder of this process's own.
  RandomEditor(const std::vector<std::string>& paths, const std::string& recoveryDir, unsigned seed, bool saves = false)
      : random_(seed), saves_(saves) {
    for (const std::string& path : paths) {
      devices_.push_back(std::make_unique<FakeDevices>());
      DocumentOptions options = Options(recoveryDir);
      options.devices = devices_.back()->Factory();
      auto doc = std::make_unique<EditorDocument>(options, &frame_, &prompts_);
      EXPECT_TRUE(doc->Open(path, nullptr, 400, 100)) << doc->ErrorText();
      devices_.back()->input->captureData = CaptureBytes();
      documents_.push_back(std::move(doc));
      counts_.push_back(0);
    }
  }
  // What the fake inputs hear: a float tone of 4,000 frames, repeated.
  static std::vector<std::uint8_t> CaptureBytes() {
    std::vector<float> tone(4000);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = float(0.3 * std::sin(0.021 * double(i)));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(tone.data());
    return std::vector<std::uint8_t>(bytes, bytes + tone.size() * sizeof(float));
  }
  static DocumentOptions Options(const std::string& recoveryDir) {
    DocumentOptions options;
    options.correctDC = false;
    options.devices = nullptr;
    options.browser = [](const std::string&) { return false; };
    options.recoveryDir = recoveryDir;
    return options;
  }
  // One step; the index of the document it journaled a command in, or -1.
  int Step() {
    auto pick = [&](int n) { return int(random_() % unsigned(n)); };
    if (pick(6) == 0) active_ = pick(int(documents_.size()));
    EditorDocument& doc = *documents_[std::size_t(active_)];
    AudioEditorApp& ed = *doc.Editor();
    const double duration = ed.Duration();
    const double a = duration * pick(1000) / 1000.0, b = duration * pick(1000) / 1000.0;
    if (pick(3) != 0) ed.Select(a, pick(4) == 0 ? a : b);
    bool journaled = false;
    const bool hadJournal = counts_[std::size_t(active_)] > 0;
    prompts_.volume = 20 + pick(180);
    prompts_.mixClipboard = pick(101);
    prompts_.mixWaveform = pick(101);
    prompts_.silence = 0.01 + pick(100) / 1000.0;
    prompts_.pitch = pick(9) - 4;
    prompts_.changePitch = (pick(13) - 6) * 0.5;
    prompts_.changeTempo = pick(61) - 30;
    const bool small = duration < 3.0;
    lastKind = pick(21);
    switch (lastKind) {
      case 0: journaled = doc.Copy() && hadJournal; break;
      case 1: journaled = doc.Cut(); break;
      case 2: journaled = small && doc.Paste(); break;
      case 3: journaled = small && doc.Mix(); break;
      case 4: journaled = doc.Delete(); break;
      case 5: journaled = pick(4) == 0 && doc.Trim(); break;
      case 6: journaled = doc.FadeIn(); break;
      case 7: journaled = doc.FadeOut(); break;
      case 8: journaled = doc.Normalize(); break;
      case 9: journaled = doc.Mute(); break;
      case 10: journaled = doc.Volume(); break;
      case 11: journaled = doc.Reverse(); break;
      case 12: journaled = small && doc.InsertSilence(); break;
      case 13: journaled = pick(3) == 0 && doc.ShiftPitch(); break;
      case 14:
      case 15: journaled = doc.Undo(); break;
      case 16: journaled = doc.Redo(); break;
      case kRecord:
        // A short recording on the fake input, to its end or the selection's.
        if (small && doc.Record()) {
          journaled = true;
          FakeWaveDevice* input = devices_[std::size_t(active_)]->input;
          for (int i = 0; i < 4 && doc.Editor()->Player()->State() == kDeviceRecording; ++i) {
            input->Advance(400 + pick(400));
            doc.Editor()->Window()->OnTimerTick();
          }
          doc.Editor()->Stop();
        }
        break;
      case 18: journaled = small && doc.ChangePitch(); break;
      case 19: journaled = small && doc.ChangeTempo(); break;
      case kSave:
        // A float save keeps the undo history, and the journal starts again from the saved file:
        // undo and redo may now reach back before it.
        if (pick(3) == 0 && saves_) {
          doc.SetSaveSettings(1, ed.Mixer()->sampleRate, ed.Mixer()->channels, 20);
          EXPECT_TRUE(doc.SaveUnder(folder_.path.string() + "/saved" + std::to_string(active_) + ".wav"));
          counts_[std::size_t(active_)] = 0;
          journaled = pick(2) == 0 && doc.Undo();
        }
        break;
    }
    if (!journaled) return -1;
    ++counts_[std::size_t(active_)];
    return active_;
  }
  EditorDocument& Document(int i) { return *documents_[std::size_t(i)]; }
  int Count(int i) const { return counts_[std::size_t(i)]; }
  static constexpr int kRecord = 17, kSave = 20;
  int lastKind = -1;  // the kind of command the last step picked
  int Active() const { return active_; }

private:
  std::mt19937 random_;
  bool saves_;
  TempFolder folder_;  // saved documents
  RecordingFrame frame_;
  ScriptedPrompts prompts_;
  std::vector<std::unique_ptr<FakeDevices>> devices_;
  std::vector<std::unique_ptr<EditorDocument>> documents_;
  std::vector<int> counts_;
  int active_ = 0;
};

std::unique_ptr<EditorDocument> Recovered(const JournalContents& journal, std::string* error) {
  auto doc = std::make_unique<EditorDocument>(RandomEditor::Options(""), nullptr, nullptr);
  if (!doc->Recover(journal, nullptr, 400, 100)) *error = doc->ErrorText();
  return doc;
}

struct Sources {
  TempFolder folder;
  std::vector<std::string> paths;
  Sources() {
    paths = {(folder.path / "mono.wav").string(), (folder.path / "stereo.wav").string()};
    WriteSource(paths[0], 1, 8000, 8000);
    WriteSource(paths[1], 2, 11025, 11025);
  }
};

TEST(EditJournal, RecoveryBringsBackEveryDocumentOfARandomSessionExactly) {
  Sources sources;
  TempFolder journals;
  int restores = 0;
  for (unsigned seed = 1; seed <= 6; ++seed) {
    RandomEditor session(sources.paths, journals.path.string(), seed, true);
    // The state after each document's last journaled command: what recovery brings back.
    std::vector<State> expected(2);
    for (int i = 0; i < 60; ++i)
      if (const int d = session.Step(); d >= 0) expected[std::size_t(d)] = StateOf(session.Document(d));
    for (int d = 0; d < 2; ++d)
      if (session.Document(d).Journal()) {
        ASSERT_TRUE(session.Document(d).FlushJournal());
      }
    // While the session lives its journals are its own.
    EXPECT_TRUE(FindOrphanJournals(journals.path.string()).empty());
    for (int d = 0; d < 2; ++d) {
      JournalWriter* writer = session.Document(d).Journal();
      if (!writer) continue;
      JournalContents journal;
      std::string error;
      ASSERT_TRUE(ReadJournalFile(writer->Path(), &journal, &error)) << error;
      EXPECT_EQ(journal.commandCount, session.Count(d));
      EXPECT_FALSE(journal.torn);
      auto doc = Recovered(journal, &error);
      ASSERT_TRUE(error.empty()) << "seed " << seed << ": " << error;
      // The replay computes no columns until its end: the recovered window shows its audio.
      const std::vector<std::int64_t> shown = PictureOf(*doc);
      doc->Editor()->Waveform()->MarkAllChanged();
      doc->Editor()->Waveform()->ApplyChanges(0, 0);
      EXPECT_EQ(shown, PictureOf(*doc)) << "seed " << seed << " document " << d;
      // An undo past a kept-history save replays as the audio it put back, in a group of its
      // own: the history is the same as far as it replays, not its ends.
      const bool restored = std::any_of(journal.entries.begin(), journal.entries.end(), [](const JournalEntry& e) {
        return e.kind == JournalEntry::Command && e.command.op == JournalOp::Restore;
      });
      State want = expected[std::size_t(d)], got = StateOf(*doc);
      if (restored) {
        ++restores;
        want.canUndo = got.canUndo;
        want.canRedo = got.canRedo;
      }
      EXPECT_TRUE(got == want) << "seed " << seed << " document " << d << "\n" << Difference(got, want);
      EXPECT_TRUE(doc->Modified());
      // The selection's matches are searched once the recovered window ticks: the marks are
      // those of the same selection searched afresh.
      doc->Editor()->Window()->OnTimerTick();
      const int marked = doc->Editor()->DisplayTrack()->CountMatches(70);
      const CGP_TrackWaveform* wave = doc->Editor()->Waveform();
      doc->Editor()->Select(wave->SelStart(), wave->SelEnd());
      EXPECT_EQ(marked, doc->Editor()->DisplayTrack()->CountMatches(70)) << "seed " << seed << " document " << d;
      // The history replays too: an undo after recovery is the undo the user would have had.
      if (!restored && session.Document(d).Undo()) {
        ASSERT_TRUE(doc->Undo());
        EXPECT_EQ(StateOf(*doc).tracks, StateOf(session.Document(d)).tracks);
      }
    }
  }
  EXPECT_GT(restores, 0);  // the seeds reach undos past a save
  // Documents closed without saving take their journals with them.
  EXPECT_TRUE(fs::is_empty(journals.path));
}

TEST(EditJournal, ATornOrDamagedTailIsIgnoredAndAChangedSourceIsNamed) {
  Sources sources;
  TempFolder journals;
  RandomEditor session({sources.paths[0]}, journals.path.string(), 7);
  while (session.Count(0) < 12) session.Step();
  ASSERT_TRUE(session.Document(0).FlushJournal());
  std::ifstream in(session.Document(0).Journal()->Path(), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const fs::path cut = journals.path / "cut.bin";
  int last = -1;
  // Every length near the start and the end, a sample of those between.
  const std::size_t stride = std::max<std::size_t>(1, bytes.size() / 300);
  for (std::size_t size = 0; size <= bytes.size(); size += size < 1024 || size + 64 > bytes.size() ? 1 : stride) {
    std::ofstream(cut, std::ios::binary).write(bytes.data(), std::streamsize(size));
    JournalContents journal;
    std::string error;
    const bool read = ReadJournalFile(cut.string(), &journal, &error);
    if (!read) {
      ASSERT_EQ(last, -1) << "a journal stays readable once its source record is whole";
      continue;
    }
    ASSERT_GE(journal.commandCount, std::max(last, 0));
    last = journal.commandCount;
  }
  JournalContents whole;
  std::string error;
  ASSERT_TRUE(ReadJournalFile(session.Document(0).Journal()->Path(), &whole, &error));
  EXPECT_EQ(whole.commandCount, 12);
  EXPECT_FALSE(whole.torn);
  // A flipped byte in the sixth record ends the journal there.
  std::string damaged = bytes;
  std::size_t at = 12;
  for (int record = 0; record < 5; ++record) {
    std::uint32_t length;
    std::memcpy(&length, damaged.data() + at, 4);
    at += 8 + length;
  }
  damaged[at + 12] ^= 0x10;
  std::ofstream(cut, std::ios::binary).write(damaged.data(), std::streamsize(damaged.size()));
  JournalContents journal;
  ASSERT_TRUE(ReadJournalFile(cut.string(), &journal, &error));
  EXPECT_LT(journal.entries.size(), whole.entries.size());
  EXPECT_TRUE(journal.torn);

  // A source that changed since is named, and nothing is replayed onto it.
  { std::ofstream(sources.paths[0], std::ios::binary | std::ios::app) << "x"; }
  auto doc = Recovered(whole, &error);
  const std::string named = sources.paths[0] + " has changed since it was edited; its edits cannot be recovered";
  EXPECT_EQ(error.substr(0, named.size()), named);
  // Its recordings do not depend on it: they are named, and there.
  for (const JournalEntry& entry : whole.entries)
    if (entry.kind == JournalEntry::Command && entry.command.op == JournalOp::Record &&
        entry.command.values[1] >= 0) {
      EXPECT_NE(error.find(entry.command.file), std::string::npos) << error;
      EXPECT_TRUE(fs::exists(entry.command.file));
    }
}

TEST(EditJournal, ANewDocumentNeedsNoSourceAndAFailingDiskCostsOnlyTheJournal) {
  TempFolder journals;
  // A new document: its journal names its channels, rate and length.
  {
    RecordingFrame frame;
    ScriptedPrompts prompts;
    DocumentOptions options = RandomEditor::Options(journals.path.string());
    options.newChannels = 2;
    options.newRate = 16000;
    options.newSeconds = 1.5;
    EditorDocument doc(options, &frame, &prompts);
    ASSERT_TRUE(doc.New(nullptr, 400, 100));
    doc.Editor()->Select(0.2, 0.9);
    ASSERT_TRUE(doc.InsertSilence());
    ASSERT_TRUE(doc.Reverse());
    ASSERT_TRUE(doc.Journal()->Flush());
    JournalContents journal;
    std::string error;
    ASSERT_TRUE(ReadJournalFile(doc.Journal()->Path(), &journal, &error));
    EXPECT_FALSE(journal.source.isFile);
    auto recovered = Recovered(journal, &error);
    EXPECT_TRUE(StateOf(*recovered) == StateOf(doc));
  }
  // An unwritable folder: one warning in the status bar, and the editing goes on.
  {
    RecordingFrame frame;
    ScriptedPrompts prompts;
    EditorDocument doc(RandomEditor::Options("/proc/version/recovery"), &frame, &prompts);
    ASSERT_TRUE(doc.New(nullptr, 400, 100));
    ASSERT_TRUE(doc.Reverse());
    ASSERT_TRUE(doc.FadeIn());
    EXPECT_EQ(doc.Journal(), nullptr);
    EXPECT_NE(frame.panes[0].find("could not be created"), std::string::npos) << frame.panes[0];
    EXPECT_TRUE(frame.warnings.empty());
  }
  // A full disk: a file size limit stops the journal's writes in a child process.
  Sources sources;
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{20000, 20000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    RecordingFrame frame;
    ScriptedPrompts prompts;
    EditorDocument other(RandomEditor::Options(""), &frame, &prompts);
    EditorDocument doc(RandomEditor::Options(journals.path.string()), &frame, &prompts);
    if (!other.Open(sources.paths[0], nullptr, 400, 100) || !doc.Open(sources.paths[0], nullptr, 400, 100)) _exit(2);
    other.Editor()->Select(0, 0.9);
    other.Copy();
    bool edited = doc.Reverse() && doc.Journal()->Flush();
    edited = edited && doc.Paste();  // the clipboard's 28 kB do not fit
    if (doc.Journal()) doc.Journal()->Flush();
    edited = edited && doc.Reverse() && doc.Normalize();
    const bool warnedOnce = doc.Journal() == nullptr && frame.panes[0].find("could not be written") != std::string::npos;
    _exit(edited && warnedOnce && frame.warnings.empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(EditJournal, ARunningInstancesJournalsAreNeverTaken) {
  Sources sources;
  TempFolder journals;
  // An instance in a child process edits and stays alive; this one must not list its journal.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    RandomEditor session({sources.paths[0]}, journals.path.string(), 3);
    while (session.Count(0) < 5) session.Step();
    session.Document(0).FlushJournal();
    if (::write(ready[1], "r", 1) != 1) _exit(1);
    ::pause();
    _exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_TRUE(FindOrphanJournals(journals.path.string()).empty());
  OrphanJournal orphan;
  std::string error;
  fs::path held;
  for (const auto& item : fs::directory_iterator(journals.path))
    if (item.path().extension() == ".journal") held = item.path();
  EXPECT_FALSE(TakeOrphanJournal(held.string(), &orphan, &error));
  EXPECT_EQ(error, "the journal belongs to a Tintwave that is running");
  // Once it is gone the journal is an orphan, listed once: the lister holds it.
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  std::vector<OrphanJournal> found = FindOrphanJournals(journals.path.string());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].summary.commandCount, 5);
  EXPECT_EQ(found[0].summary.source.path, sources.paths[0]);
  EXPECT_TRUE(FindOrphanJournals(journals.path.string()).empty());
  found[0].Remove();
  EXPECT_TRUE(fs::is_empty(journals.path));
  ::close(ready[0]);
  ::close(ready[1]);
}

// The kill test: a child edits at random and acknowledges each command with its time; it is
// killed at a random moment (often in the middle of the journal's writes), and what recovery
// brings back must be the state after some number of its commands: at least all those
// acknowledged a second before the kill. TINTWAVE_KILL_TRIALS sets the number of trials.
TEST(EditJournal, AKilledSessionIsRecoveredUpToItsLastSecond) {
  const char* knob = std::getenv("TINTWAVE_KILL_TRIALS");
  const int trials = knob ? std::atoi(knob) : 40;
  Sources sources;
  std::mt19937 random(2026);
  using Clock = std::chrono::steady_clock;
  struct Ack {
    std::int32_t document, count;
    std::int64_t ns;
  };
  int recoveredTotal = 0;
  for (int trial = 0; trial < trials; ++trial) {
    TempFolder journals;
    const unsigned seed = random();
    int acks[2];
    ASSERT_EQ(::pipe(acks), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(acks[0]);
      RandomEditor session(sources.paths, journals.path.string(), seed);
      for (;;) {
        const int d = session.Step();
        if (d < 0) continue;
        const Ack ack{d, session.Count(d), Clock::now().time_since_epoch().count()};
        if (::write(acks[1], &ack, sizeof ack) != sizeof ack) _exit(1);
      }
    }
    ::close(acks[1]);
    // Now and then a session long enough for the one-second promise to bite.
    const bool longer = trial % 20 == 19;
    std::this_thread::sleep_for(std::chrono::microseconds((longer ? 1200000 : 5000) + random() % 150000));
    ::kill(child, SIGKILL);
    const std::int64_t killedAt = Clock::now().time_since_epoch().count();
    ::waitpid(child, nullptr, 0);
    int sure[2] = {0, 0};  // commands acknowledged more than a second before the kill
    Ack ack;
    while (::read(acks[0], &ack, sizeof ack) == sizeof ack)
      if (killedAt - ack.ns > 1000000000) sure[ack.document] = ack.count;
    ::close(acks[0]);

    // Which document each journal belongs to, by its source.
    int recoveredCounts[2] = {0, 0};
    std::vector<JournalContents> journals_(2);
    for (OrphanJournal& orphan : FindOrphanJournals(journals.path.string())) {
      const int d = orphan.summary.source.path == sources.paths[0] ? 0 : 1;
      std::string error;
      JournalContents& journal = journals_[std::size_t(d)];
      ASSERT_TRUE(ReadJournal(orphan.fd, &journal, &error)) << error;
      // A recording the kill cut short holds less than the model's whole one: it is left out
      // here (the recording test checks what such a file keeps).
      if (!journal.entries.empty() && journal.entries.back().command.op == JournalOp::Record) {
        journal.entries.pop_back();
        --journal.commandCount;
        sure[d] = std::min(sure[d], journal.commandCount);
      }
      recoveredCounts[d] = journal.commandCount;
    }
    // The model: the same session in this process, without a journal, up to each count.
    RandomEditor model(sources.paths, "", seed);
    std::vector<State> expected(2);
    for (int d = 0; d < 2; ++d)
      if (recoveredCounts[d] == 0) expected[std::size_t(d)] = StateOf(model.Document(d));
    while (model.Count(0) < recoveredCounts[0] || model.Count(1) < recoveredCounts[1]) {
      const int d = model.Step();
      if (d >= 0 && model.Count(d) == recoveredCounts[d]) expected[std::size_t(d)] = StateOf(model.Document(d));
    }
    for (int d = 0; d < 2; ++d) {
      EXPECT_GE(recoveredCounts[d], sure[d]) << "trial " << trial << ": acknowledged commands are missing";
      if (recoveredCounts[d] == 0) continue;
      std::string error;
      auto doc = Recovered(journals_[std::size_t(d)], &error);
      ASSERT_TRUE(error.empty()) << "trial " << trial << ": " << error;
      ASSERT_TRUE(StateOf(*doc) == expected[std::size_t(d)])
          << "trial " << trial << " document " << d << "\n" << Difference(StateOf(*doc), expected[std::size_t(d)]);
      recoveredTotal += recoveredCounts[d];
    }
  }
  std::printf("%d trials, %d commands recovered\n", trials, recoveredTotal);
}

// A recording of ten minutes (TINTWAVE_RECORD_MINUTES) on the fake input, killed: its recovery
// file keeps the input exactly, all of it but what came in the last second before the kill.
TEST(EditJournal, ARecordingKilledAfterTenMinutesKeepsAllButItsLastSecond) {
  const char* knob = std::getenv("TINTWAVE_RECORD_MINUTES");
  const double minutes = knob ? std::atof(knob) : 10;
  constexpr int kRate = 11025;
  TempFolder journals;
  using Clock = std::chrono::steady_clock;
  struct Ack {
    std::int64_t frames, ns;
  };
  int acks[2];
  ASSERT_EQ(::pipe(acks), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(acks[0]);
    RecordingFrame frame;
    ScriptedPrompts prompts;
    FakeDevices devices;
    DocumentOptions options = RandomEditor::Options(journals.path.string());
    options.devices = devices.Factory();
    options.newRate = kRate;
    options.newSeconds = 1;
    EditorDocument doc(options, &frame, &prompts);
    if (!doc.New(nullptr, 400, 100)) _exit(2);
    devices.input->captureData = RandomEditor::CaptureBytes();
    if (!doc.Record()) _exit(3);
    // As fast as it goes, but for the last two seconds, which come at the pace of a real input.
    const std::int64_t total = std::int64_t(minutes * 60 * kRate), paced = total - 2 * kRate;
    Clock::time_point pacing{};
    for (std::int64_t done = 0; done < total; done += 2000) {
      if (done <= paced) pacing = Clock::now();
      else std::this_thread::sleep_until(pacing + std::chrono::microseconds((done - paced) * 1000000 / kRate));
      devices.input->Advance(2000);
      doc.Editor()->Window()->OnTimerTick();
      const Ack ack{doc.Editor()->Player()->RecordPosition(), Clock::now().time_since_epoch().count()};
      if (::write(acks[1], &ack, sizeof ack) != sizeof ack) _exit(4);
    }
    ::raise(SIGKILL);
  }
  ::close(acks[1]);
  std::vector<Ack> received;
  for (Ack ack; ::read(acks[0], &ack, sizeof ack) == sizeof ack;) received.push_back(ack);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  ASSERT_FALSE(received.empty());
  const std::int64_t killedAt = received.back().ns;
  std::int64_t sure = 0;
  for (const Ack& ack : received)
    if (killedAt - ack.ns > 1000000000) sure = ack.frames;

  std::vector<OrphanJournal> found = FindOrphanJournals(journals.path.string());
  ASSERT_EQ(found.size(), 1u);
  JournalContents journal;
  std::string error;
  ASSERT_TRUE(ReadJournal(found[0].fd, &journal, &error)) << error;
  ASSERT_EQ(journal.commandCount, 1);
  RecordedAudio audio;
  ASSERT_TRUE(ReadRecordingFile(journal.entries.back().command.file, &audio, &error)) << error;
  EXPECT_GE(audio.Frames(), sure);
  EXPECT_GE(audio.Frames(), received.back().frames - kRate) << "more than the last second is lost";
  EXPECT_LE(audio.Frames(), received.back().frames);
  auto doc = Recovered(journal, &error);
  ASSERT_TRUE(error.empty()) << error;
  std::vector<float> recorded(std::size_t(audio.Frames()));
  doc->Editor()->Mixer()->Track(0)->ReadSamples(recorded.data(), audio.Frames(), 0);
  const std::vector<std::uint8_t> tone = RandomEditor::CaptureBytes();
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < recorded.size(); ++i) {
    float expected;
    std::memcpy(&expected, tone.data() + (i * 4) % tone.size(), 4);
    wrong += recorded[i] != expected;
  }
  EXPECT_EQ(wrong, 0u);
  std::printf("recorded %.1f min, recovered %lld of %lld frames (sure: %lld)\n", minutes,
              static_cast<long long>(audio.Frames()), static_cast<long long>(received.back().frames),
              static_cast<long long>(sure));
  found[0].Remove();
  EXPECT_TRUE(fs::is_empty(journals.path));
}

}  // namespace

// The columns drawn while a recording grows are made from blocks still filling; once it ends the
// window shows the recorded blocks as they are (a recomputation changes no column).
TEST(EditJournal, AFinishedRecordingIsDrawnFromItsBlocks) {
  Sources sources;
  TempFolder journals;
  int recordings = 0;
  for (unsigned seed = 1; seed <= 6; ++seed) {
    RandomEditor session(sources.paths, journals.path.string(), seed);
    for (int i = 0; i < 60; ++i) {
      if (session.Step() < 0 || session.lastKind != RandomEditor::kRecord) continue;
      ++recordings;
      EditorDocument& doc = session.Document(session.Active());
      const std::vector<std::int64_t> shown = PictureOf(doc);
      doc.Editor()->Waveform()->MarkAllChanged();
      doc.Editor()->Waveform()->ApplyChanges(0, 0);
      EXPECT_EQ(shown, PictureOf(doc)) << "seed " << seed << " step " << i;
    }
  }
  EXPECT_GT(recordings, 5);
}
