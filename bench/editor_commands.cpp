// The editor's commands as the user runs them: every edit command and its undo on a one-hour
// 44,100 Hz stereo document (three tracks of 158,760,000 samples: left, right and the mix),
// Find Next over the hour's matches, and opening a 10-minute stereo 16-bit WAVE as a document
// against the bare load (decoder and mixer only).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/mman.h>

#include "analysis/SampleTrack.h"
#include "analysis/SoundMatch.h"
#include "bench/BenchSounds.h"
#include "editor/AnsweringPrompts.h"
#include "editor/Document.h"
#include "editor/EditHistory.h"
#include "editor/LongWork.h"
#include "formats/Probe.h"
#include "formats/Wave.h"
#include "graphics/TrackWaveform.h"
#include "pipeline/AudioDecoder.h"
#include "pipeline/FileBuffer.h"
#include "pipeline/SampleMixer.h"

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kHourSeconds = 3600;
constexpr int kHourFrames = kRate * kHourSeconds;
constexpr double kMiddle = kHourSeconds / 2.0;
constexpr int kMiddleFrame = kRate * kHourSeconds / 2;

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The dialogs' answers: half volume, one second of silence, an even mix, one halftone up.
struct Answers : AnsweringPrompts {
  Answers() {
    volume = 50;
    pitch = 1;
    saveChanges = SaveChangesAnswer::No;
  }
};

std::unique_ptr<EditorDocument> MakeHourDocument(Answers* answers) {
  DocumentOptions options;
  options.newChannels = kChannels;
  options.newRate = kRate;
  options.newSeconds = kHourSeconds;
  // TINTWAVE_BENCH_STORED_MIX=1: the mix track stored as a track of its own, as it was before it
  // was computed from the channels (for comparing the two on the same machine and load).
  const char* stored = std::getenv("TINTWAVE_BENCH_STORED_MIX");
  CAP_SampleMixer::SetMixComputed(!(stored && *stored == '1'));
  auto document = std::make_unique<EditorDocument>(options, nullptr, answers);
  const bool made = document->New(nullptr, 1600, 400);
  CAP_SampleMixer::SetMixComputed(true);
  if (!made) return nullptr;
  std::mt19937 rng(11);
  std::vector<float> second(std::size_t(kRate) * kChannels);
  EP_SampleMixer* mixer = document->Editor()->Mixer();
  for (int s = 0; s < kHourSeconds; ++s) {
    FillSecond(int(rng() % 8), rng, second);
    mixer->WriteFloat(second.data(), kRate, s * kRate);
  }
  document->Editor()->Waveform()->ApplyChanges(0, 0);
  return document;
}

struct Hour {
  Answers answers;
  std::unique_ptr<EditorDocument> document;
  double buildSeconds = 0;
};

Hour& TheHour() {
  static Hour hour = [] {
    Hour h;
    const auto t = Clock::now();
    h.document = MakeHourDocument(&h.answers);
    h.buildSeconds = Since(t);
    return h;
  }();
  return hour;
}

// ---- the 1-hour document ----

void BM_BuildHourDocument(benchmark::State& state) {
  for (auto _ : state) {
    Hour& hour = TheHour();
    if (!hour.document) {
      state.SkipWithError("New failed");
      return;
    }
    state.SetIterationTime(hour.buildSeconds);
    state.counters["blocks_per_track"] = hour.document->Editor()->DisplayTrack()->BlockCount();
  }
}
BENCHMARK(BM_BuildHourDocument)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// The search a kept one-second selection starts (match mode): the prototype is the second in
// the middle of the hour, compared against the mix track's blocks. Arg: phases (1: the grid, as
// with "Match anywhere" off).
void BM_ComputeMatches1s(benchmark::State& state) {
  CAP_SampleTrack* track = TheHour().document->Editor()->DisplayTrack();
  for (auto _ : state) track->ComputeMatches(kRate, kMiddleFrame, int(state.range(0)));
  state.counters["matches"] = track->CountMatches(70);
}
BENCHMARK(BM_ComputeMatches1s)->Arg(kGridPhases)->Arg(kMatchAnywherePhases)->Unit(benchmark::kMillisecond);

// The search a whole-file selection starts (Select All, and the undo of a whole-file command):
// the prototype is every block, which can only meet itself.
void BM_ComputeMatchesWholeTrack(benchmark::State& state) {
  CAP_SampleTrack* track = TheHour().document->Editor()->DisplayTrack();
  for (auto _ : state) track->ComputeMatches(track->Length(), 0, int(state.range(0)));
  state.counters["matches"] = track->CountMatches(70);
}
BENCHMARK(BM_ComputeMatchesWholeTrack)->Arg(kGridPhases)->Arg(kMatchAnywherePhases)->Unit(benchmark::kMillisecond);

// The same with the sound search, the editor's default. Arg 2: nothing remembered for the
// prototype, what is known of the other blocks kept (as after an edit of the selection itself);
// 1: nothing remembered at all; 0: the same prototype searched again with nothing changed (as
// after an undo or redo, or an edit elsewhere, less what it touched).
void BM_SoundMatches1s(benchmark::State& state) {
  CAP_SampleTrack* track = TheHour().document->Editor()->DisplayTrack();
  ComputeSoundMatches(*track, kRate, kMiddleFrame);
  for (auto _ : state) {
    if (state.range(0) == 1) ForgetRememberedSearches();
    if (state.range(0) == 2) ForgetRememberedPrototypes();
    ComputeSoundMatches(*track, kRate, kMiddleFrame);
  }
  state.counters["matches"] = track->CountMatches(70);
}
BENCHMARK(BM_SoundMatches1s)->Arg(2)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The display's share of an undo: every column of the fitted view (1,600 over the hour) computed
// again, as after MarkAllChanged; an undo does this twice (its range, then its zoom).
void BM_RecomputeAllColumns(benchmark::State& state) {
  CGP_TrackWaveform* waveform = TheHour().document->Editor()->Waveform();
  for (auto _ : state) {
    waveform->MarkAllChanged();
    waveform->ApplyChanges(0, 0);
  }
  state.counters["columns"] = waveform->Width();
}
BENCHMARK(BM_RecomputeAllColumns)->Unit(benchmark::kMillisecond);

// Find Next through the matches of the middle second, from one to the next (wrapping).
void BM_FindNext(benchmark::State& state) {
  EditorDocument& doc = *TheHour().document;
  AudioEditorApp* editor = doc.Editor();
  editor->Select(kMiddle, kMiddle + 1);
  int found = 0;
  for (auto _ : state) found += doc.FindNext() != "Match not found";
  if (found != int(state.iterations())) state.SkipWithError("a Find Next found nothing");
  state.counters["matches"] = editor->MatchCount();
}
BENCHMARK(BM_FindNext)->Unit(benchmark::kMicrosecond);

// The longest Find Next: at a threshold that no other block reaches (no match but the
// prototype), the whole list is walked (from the cursor to the end, then from the start back to
// it) and the search lands on the prototype itself.
void BM_FindNextNoOtherMatch(benchmark::State& state) {
  EditorDocument& doc = *TheHour().document;
  AudioEditorApp* editor = doc.Editor();
  editor->Select(kMiddle, kMiddle + 1);
  CAP_SampleTrack* track = editor->DisplayTrack();
  int threshold = 70;
  while (threshold < 100 && track->CountMatches(threshold) > 0) ++threshold;
  if (track->CountMatches(threshold) != 0) {
    state.SkipWithError("every threshold finds another match");
    return;
  }
  const int kept = editor->MatchThreshold();
  editor->SetMatchThreshold(threshold);
  for (auto _ : state) {
    doc.FindNext();
    if (std::abs(editor->CursorSample() - kMiddleFrame) > kRate / 10) state.SkipWithError("left the prototype");
  }
  editor->SetMatchThreshold(kept);
  state.counters["threshold"] = threshold;
  state.counters["blocks"] = track->BlockCount();
}
BENCHMARK(BM_FindNextNoOtherMatch)->Unit(benchmark::kMicrosecond);

// Times an edit and then its undo, each with its own clock; the benchmark's time is the edit's,
// undo_ms the undo's. After the undo the document must be as it was (length, rate, selection).
template <class Edit, class Undo>
void EditThenUndo(benchmark::State& state, Edit&& edit, Undo&& undo) {
  EditorDocument& doc = *TheHour().document;
  AudioEditorApp* editor = doc.Editor();
  const int length = editor->DisplayTrack()->Length();
  const int selStart = editor->SelectionStart(false), selLength = editor->SelectionLength(false);
  double undoSeconds = 0;
  for (auto _ : state) {
    auto t = Clock::now();
    if (!edit()) {
      state.SkipWithError("the edit did nothing");
      return;
    }
    state.SetIterationTime(Since(t));
    t = Clock::now();
    if (!undo()) {
      state.SkipWithError("the undo did nothing");
      return;
    }
    undoSeconds += Since(t);
    if (editor->DisplayTrack()->Length() != length || editor->Mixer()->sampleRate != kRate ||
        editor->SelectionStart(false) != selStart || editor->SelectionLength(false) != selLength) {
      state.SkipWithError("the undo did not restore the document");
      return;
    }
  }
  state.counters["undo_ms"] = benchmark::Counter(1000 * undoSeconds, benchmark::Counter::kAvgIterations);
}

// A command on the second in the middle of the hour (selected, its matches computed, the
// clipboard holding a copy of it), then Undo.
void BM_Command(benchmark::State& state, bool (EditorDocument::*command)()) {
  EditorDocument& doc = *TheHour().document;
  doc.Editor()->Select(kMiddle, kMiddle + 1);
  if (!doc.Copy()) {
    state.SkipWithError("Copy failed");
    return;
  }
  EditThenUndo(state, [&] { return (doc.*command)(); }, [&] { return doc.Undo(); });
}
BENCHMARK_CAPTURE(BM_Command, cut, &EditorDocument::Cut)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_Command, paste, &EditorDocument::Paste)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_Command, delete, &EditorDocument::Delete)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_Command, fade_in, &EditorDocument::FadeIn)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_Command, fade_out, &EditorDocument::FadeOut)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_Command, normalize, &EditorDocument::Normalize)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_Command, mute, &EditorDocument::Mute)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_Command, volume_50, &EditorDocument::Volume)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_Command, reverse, &EditorDocument::Reverse)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_Command, insert_silence_1s, &EditorDocument::InsertSilence)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Command, mix_50_50, &EditorDocument::Mix)->Unit(benchmark::kMillisecond)->UseManualTime();
// Keeping the second removes the other 59:59, which the undo group must hold.
BENCHMARK_CAPTURE(BM_Command, trim, &EditorDocument::Trim)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
// A halftone up: the whole document's rate changes, whatever is selected.
BENCHMARK_CAPTURE(BM_Command, pitch_up_1, &EditorDocument::ShiftPitch)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

// The same fade in through the history alone (the sample work and the undo copy, without the
// display update and the match search that follow in the controller).
void BM_HistoryFadeIn1s(benchmark::State& state) {
  EditorDocument& doc = *TheHour().document;
  doc.Editor()->Select(kMiddle, kMiddle + 1);
  EP_EditHistory* history = doc.Editor()->History();
  const ViewState view = doc.Editor()->GetViewState();
  EditThenUndo(
      state, [&] { return history->Fade(kRate, kMiddleFrame, 0, 1, view); },
      [&] {
        int length = 0, start = 0;
        ViewState restored;
        return history->Undo(&length, &start, &restored);
      });
}
BENCHMARK(BM_HistoryFadeIn1s)->Unit(benchmark::kMillisecond)->UseManualTime();

// Fade in with nothing selected: the whole hour, and an undo copy of all three tracks.
void BM_WholeFileFadeIn(benchmark::State& state) {
  EditorDocument& doc = *TheHour().document;
  doc.Editor()->SetCursor(kMiddle);
  EditThenUndo(state, [&] { return doc.FadeIn(); }, [&] { return doc.Undo(); });
}
BENCHMARK(BM_WholeFileFadeIn)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// Select All, Normalize, then its undo and its redo, each on its own clock (the user's first
// whole-file command on a long recording); the time is the normalize's, undo_ms and redo_ms the
// others'. The redo is undone again so that every iteration starts from the same document.
// This thread's processor time in seconds: on a shared machine the wall clock of a short undo
// is mostly waiting for a core.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

void BM_SelectAllNormalize(benchmark::State& state) {
  EditorDocument& doc = *TheHour().document;
  double undoSeconds = 0, redoSeconds = 0, undoCpu = 0, redoCpu = 0;
  for (auto _ : state) {
    doc.Editor()->SelectAll();
    auto t = Clock::now();
    if (!doc.Normalize()) {
      state.SkipWithError("Normalize did nothing");
      return;
    }
    state.SetIterationTime(Since(t));
    t = Clock::now();
    double cpu = ThreadSeconds();
    const bool undone = doc.Undo();
    undoSeconds += Since(t);
    undoCpu += ThreadSeconds() - cpu;
    t = Clock::now();
    cpu = ThreadSeconds();
    const bool redone = doc.Redo();
    redoSeconds += Since(t);
    redoCpu += ThreadSeconds() - cpu;
    if (!undone || !redone || !doc.Undo()) {
      state.SkipWithError("undo or redo did nothing");
      return;
    }
  }
  state.counters["undo_ms"] = benchmark::Counter(1000 * undoSeconds, benchmark::Counter::kAvgIterations);
  state.counters["redo_ms"] = benchmark::Counter(1000 * redoSeconds, benchmark::Counter::kAvgIterations);
  state.counters["undo_cpu_ms"] = benchmark::Counter(1000 * undoCpu, benchmark::Counter::kAvgIterations);
  state.counters["redo_cpu_ms"] = benchmark::Counter(1000 * redoCpu, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SelectAllNormalize)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

// Undo and redo of one whole-file normalize, many times: the figures to profile, free of the edit.
void BM_UndoRedoWholeFileNormalize(benchmark::State& state) {
  EditorDocument& doc = *TheHour().document;
  doc.Editor()->SelectAll();
  if (!doc.Normalize()) {
    state.SkipWithError("Normalize did nothing");
    return;
  }
  double undoCpu = 0, redoCpu = 0;
  for (auto _ : state) {
    const auto t = Clock::now();
    double cpu = ThreadSeconds();
    const bool undone = doc.Undo();
    undoCpu += ThreadSeconds() - cpu;
    cpu = ThreadSeconds();
    const bool redone = doc.Redo();
    redoCpu += ThreadSeconds() - cpu;
    state.SetIterationTime(Since(t));
    if (!undone || !redone) {
      state.SkipWithError("undo or redo did nothing");
      return;
    }
  }
  doc.Undo();
  state.counters["undo_cpu_ms"] = benchmark::Counter(1000 * undoCpu, benchmark::Counter::kAvgIterations);
  state.counters["redo_cpu_ms"] = benchmark::Counter(1000 * redoCpu, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_UndoRedoWholeFileNormalize)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(200);

// A whole-file command on the calling thread (arg 0) and as long work on a worker that the UI
// thread watches every 30 ms (arg 1), then its undo: the worker should cost nothing beside it.
struct GoOn : LongWorkObserver {
  void BeginWork(const std::string&) override {}
  bool WorkProgress(int) override { return true; }
  void EndWork() override {}
};
void BM_WholeFileAsLongWork(benchmark::State& state, bool (EditorDocument::*command)()) {
  EditorDocument& doc = *TheHour().document;
  GoOn observer;
  doc.Editor()->SetLongWorkObserver(state.range(0) ? &observer : nullptr);
  doc.Editor()->SelectAll();
  EditThenUndo(state, [&] { return (doc.*command)(); }, [&] { return doc.Undo(); });
  doc.Editor()->SetLongWorkObserver(nullptr);
}
BENCHMARK_CAPTURE(BM_WholeFileAsLongWork, normalize, &EditorDocument::Normalize)
    ->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK_CAPTURE(BM_WholeFileAsLongWork, reverse, &EditorDocument::Reverse)
    ->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

// Every whole-file command of the hour as the user runs it (Select All, the command, then Undo):
// the time is the command's wall time, cpu_s the whole process's processor time over it (the
// command's threads and the kernel's page faults), undo_ms the undo's wall time. Paste and mix
// take an hour from the clipboard (paste replaces the selection with it). Fresh memory costs
// what the machine makes it cost: BM_FreshMemory gives that figure for the same run.
double ProcessSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}
void BM_WholeFileCommand(benchmark::State& state, bool (EditorDocument::*command)()) {
  EditorDocument& doc = *TheHour().document;
  doc.Editor()->SelectAll();
  if ((command == &EditorDocument::Paste || command == &EditorDocument::Mix) && !doc.Copy()) {
    state.SkipWithError("Copy failed");
    return;
  }
  double cpu = 0;
  EditThenUndo(
      state,
      [&] {
        doc.Editor()->SelectAll();
        const double before = ProcessSeconds();
        const bool done = (doc.*command)();
        cpu += ProcessSeconds() - before;
        return done;
      },
      [&] { return doc.Undo(); });
  state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}
#define WHOLE_FILE(name, command)                                         \
  BENCHMARK_CAPTURE(BM_WholeFileCommand, name, &EditorDocument::command) \
      ->Unit(benchmark::kMillisecond)                                     \
      ->UseManualTime()                                                   \
      ->Iterations(2)
WHOLE_FILE(normalize, Normalize);
WHOLE_FILE(volume_50, Volume);
WHOLE_FILE(fade_in, FadeIn);
WHOLE_FILE(fade_out, FadeOut);
WHOLE_FILE(mute, Mute);
WHOLE_FILE(reverse, Reverse);
WHOLE_FILE(delete, Delete);
WHOLE_FILE(paste, Paste);
WHOLE_FILE(mix_50_50, Mix);
#undef WHOLE_FILE

// Select All + Copy: the clipboard's three tracks (the mix's samples made from the channels).
void BM_WholeFileCopy(benchmark::State& state) {
  EditorDocument& doc = *TheHour().document;
  for (auto _ : state) {
    doc.Editor()->SelectAll();
    const double before = ProcessSeconds();
    const auto t = Clock::now();
    if (!doc.Copy()) {
      state.SkipWithError("Copy failed");
      return;
    }
    state.SetIterationTime(Since(t));
    state.counters["cpu_s"] = ProcessSeconds() - before;
  }
}
BENCHMARK(BM_WholeFileCopy)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

// What this machine charges for fresh memory: the samples of the hour's two channels (1.27 GB)
// in new huge pages, first written by two threads as a whole-file command writes them, after a
// pause long enough for a virtual machine's host to have taken back memory the process gave up.
void BM_FreshMemory(benchmark::State& state) {
  constexpr std::size_t kBytes = std::size_t(kHourFrames) * kChannels * sizeof(float);
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::seconds(state.range(0)));
    char* memory = static_cast<char*>(mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (memory == MAP_FAILED) {
      state.SkipWithError("no memory");
      return;
    }
    madvise(memory, kBytes, MADV_HUGEPAGE);
    const auto t = Clock::now();
    auto touch = [memory](std::size_t from, std::size_t to) {
      for (std::size_t at = from; at < to; at += 4096) memory[at] = 1;
    };
    std::thread other(touch, kBytes / 2, kBytes);
    touch(0, kBytes / 2);
    other.join();
    state.SetIterationTime(Since(t));
    munmap(memory, kBytes);
  }
}
BENCHMARK(BM_FreshMemory)->ArgName("pause_s")->Arg(0)->Arg(5)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// Ten minutes of one track reversed by the track itself (arg 0: it splits and mirrors blocks in
// place) and by the history (arg 1: new blocks prepared beside the list, then swapped in, as a
// stoppable command does); both then undone by reversing again / by the history's undo.
void BM_ReverseTenMinutes(benchmark::State& state) {
  constexpr int kFrames = kRate * 600;
  EP_SampleMixer mixer(1, kRate, nullptr, false);
  std::mt19937 rng(5);
  std::vector<float> second(static_cast<std::size_t>(kRate) * 2), left(static_cast<std::size_t>(kRate));
  for (int s = 0; s < 600; ++s) {
    FillSecond(int(rng() % 8), rng, second);
    for (int i = 0; i < kRate; ++i) left[std::size_t(i)] = second[std::size_t(2 * i)];
    mixer.WriteFloat(left.data(), kRate, s * kRate);
  }
  EP_EditHistory history(&mixer, nullptr);
  const ViewState view;
  for (auto _ : state) {
    const auto t = Clock::now();
    if (state.range(0) == 0) {
      BlockChain old = mixer.Track(0)->ReverseRange(kFrames, 0);
      state.SetIterationTime(Since(t));
      mixer.Track(0)->ReverseRange(kFrames, 0);
    } else {
      history.Reverse(kFrames, 0, view);
      state.SetIterationTime(Since(t));
      int length = 0, start = 0;
      ViewState restored;
      history.Undo(&length, &start, &restored);
    }
  }
}
BENCHMARK(BM_ReverseTenMinutes)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// The undo copy of a whole-file edit alone: what the history saves for each track (whole blocks
// with their signatures and summaries copied into a fresh track). Freeing it is not timed.
void BM_UndoCopyWholeFile(benchmark::State& state) {
  EP_SampleMixer* mixer = TheHour().document->Editor()->Mixer();
  for (auto _ : state) {
    std::vector<std::unique_ptr<CAP_SampleTrack>> saved;
    for (int i = 0; i < mixer->TrackCount(); ++i) {
      CAP_SampleTrack* track = mixer->Track(i);
      saved.push_back(std::make_unique<CAP_SampleTrack>(track->sampleRate));
      saved.back()->CopySamples(*track, track->Length(), 0, 0);
    }
    state.PauseTiming();
    if (saved.back()->Length() != kHourFrames) state.SkipWithError("short copy");
    saved.clear();
    state.ResumeTiming();
  }
  state.counters["tracks"] = mixer->TrackCount();
}
BENCHMARK(BM_UndoCopyWholeFile)->Unit(benchmark::kMillisecond)->Iterations(3);

// ---- opening a 10-minute file ----

constexpr std::int64_t kFileFrames = std::int64_t(kRate) * 600;

const std::string& TenMinuteWave() {
  static const std::string path = [] {
    const std::string p = (std::filesystem::temp_directory_path() / "tintwave-editor-bench-10min.wav").string();
    std::ofstream out(p, std::ios::binary);
    WaveWrite writer(out, kFileFrames, kChannels, kRate, CompressionPcm16, AnnotationList());
    std::mt19937 rng(5);
    std::vector<float> second(std::size_t(kRate) * kChannels);
    for (std::int64_t at = 0; at < kFileFrames; at += kRate) {
      FillSecond(int(rng() % 8), rng, second);
      writer.PushSamples(second.data(), kRate * kChannels);
    }
    return p;
  }();
  return path;
}

// The bare load: file buffer, stream, decoder, then the mixer with its mix track loading.
struct BareLoad {
  explicit BareLoad(const std::string& path) {
    buffer.Open(path, CUP_FileBuffer::kRead | CUP_FileBuffer::kBinary);
    decoder = std::make_unique<CAP_AudioDecoder>(stream, std::int64_t(std::filesystem::file_size(path)),
                                                 ExtensionOf(path), true);
    mixer = std::make_unique<EP_SampleMixer>(decoder->channels, decoder->sampleRate, nullptr, true);
    mixer->LoadFromDecoder(decoder.get(), nullptr, 0);
  }
  CUP_FileBuffer buffer;
  std::istream stream{&buffer};
  std::unique_ptr<CAP_AudioDecoder> decoder;
  std::unique_ptr<EP_SampleMixer> mixer;
};

// EditorDocument::Open (controller, history, player, window, display) against the bare load,
// alternating which goes first; the time is the document's, bare_ms the bare load's. Arg: the
// document's DC correction (off by default; the bare load has none).
void BM_OpenDocument(benchmark::State& state) {
  const std::string& path = TenMinuteWave();
  DocumentOptions options;
  options.correctDC = state.range(0) != 0;
  double bare = 0, opened = 0;
  bool bareFirst = true;
  for (auto _ : state) {
    double bareTime = 0, docTime = 0;
    for (int pass = 0; pass < 2; ++pass) {
      if ((pass == 0) == bareFirst) {
        const auto t = Clock::now();
        auto load = std::make_unique<BareLoad>(path);
        bareTime = Since(t);
        if (load->mixer->Track(2)->Length() != kFileFrames) state.SkipWithError("short bare load");
      } else {
        auto doc = std::make_unique<EditorDocument>(options, nullptr, nullptr);
        const auto t = Clock::now();
        const bool ok = doc->Open(path, nullptr, 1600, 400);
        docTime = Since(t);
        if (!ok || doc->Editor()->DisplayTrack()->Length() != kFileFrames) state.SkipWithError("open failed");
      }
    }
    bareFirst = !bareFirst;
    state.SetIterationTime(docTime);
    bare += bareTime;
    opened += docTime;
  }
  state.counters["bare_ms"] = benchmark::Counter(1000 * bare, benchmark::Counter::kAvgIterations);
  state.counters["ratio"] = bare > 0 ? opened / bare : 0;
}
BENCHMARK(BM_OpenDocument)
    ->ArgName("correct_dc")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(6);

}  // namespace
