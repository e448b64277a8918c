// The edit journal's cost and recovery's speed: the UI thread's share of journaling one command
// (noting it, encoding it and queueing it for the writer thread), that of a paste that brings
// 1 s of stereo audio in from outside, and recovering a 1-hour stereo 16-bit WAVE after 100 edits
// on it against opening it.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "bench/BenchSounds.h"
#include "devices/AudioPlayer.h"
#include "devices/FakeWaveDevice.h"
#include "editor/AnsweringPrompts.h"
#include "editor/Document.h"
#include "editor/EditorWindow.h"
#include "editor/EditJournal.h"
#include "editor/SharedClipboard.h"
#include "pipeline/SampleMixer.h"
#include "analysis/SampleTrack.h"
#include "formats/Wave.h"

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }
// Processor seconds of every thread of the process: on a shared machine the wall times swing
// with the other work, these much less.
double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}
namespace fs = std::filesystem;

const std::string& Folder() {
  static const std::string dir = [] {
    const fs::path p = fs::temp_directory_path() / "tintwave-recovery-bench";
    fs::create_directories(p);
    return p.string();
  }();
  return dir;
}

// What the UI thread does per command once a document has a journal.
void BM_JournalOneCommand(benchmark::State& state) {
  JournalSource source;
  JournalWriter writer(Folder(), source);
  JournalCommand command;
  command.op = JournalOp::FadeIn;
  command.selStart = 1800;
  command.selEnd = 1801;
  for (auto _ : state) {
    command.timeMs += 1;
    writer.Append(EncodeCommand(command));
  }
  writer.Flush();
  writer.Discard();
}
BENCHMARK(BM_JournalOneCommand)->Unit(benchmark::kMicrosecond);

// A paste of a clipboard from another document: its three tracks (left, right, mix) of the
// argument's seconds. The UI thread only lists the clipboard's blocks; the writer reads them.
void BM_JournalClipboardStereo(benchmark::State& state) {
  JournalSource source;
  JournalWriter writer(Folder(), source);
  SharedClipboard& clipboard = SharedClipboard::Instance();
  const std::vector<float> samples(std::size_t(44100 * state.range(0)), 0.25f);
  for (int i = 0; i < 3; ++i) {
    auto track = std::make_unique<CAP_SampleTrack>(44100);
    track->InsertSamples(samples.data(), int(samples.size()), 0);
    clipboard.SetSlot(i, std::move(track));
  }
  for (auto _ : state) writer.Append(EncodeClipboard(clipboard));
  writer.Flush();
  writer.Discard();
  clipboard.Clear();
}
BENCHMARK(BM_JournalClipboardStereo)->Arg(1)->Arg(60)->Iterations(30)->Unit(benchmark::kMicrosecond);

// An undo past a save that kept the history: the audio of the span it put back, copied on the
// UI thread (the document's blocks may change in place afterwards), seconds of stereo.
void BM_JournalRestoreSpanStereo(benchmark::State& state) {
  CAP_SampleMixer mixer(2, 44100, true);
  const std::vector<float> samples(std::size_t(44100 * state.range(0)), 0.25f);
  for (int i = 0; i < 2; ++i) mixer.Track(i)->InsertSamples(samples.data(), int(samples.size()), 0);
  mixer.Track(2)->InsertSamples(samples.data(), int(samples.size()), 0);
  for (auto _ : state) benchmark::DoNotOptimize(EncodeSpan(mixer, 0, int(samples.size())));
}
BENCHMARK(BM_JournalRestoreSpanStereo)->Arg(1)->Arg(10)->Unit(benchmark::kMicrosecond);

constexpr int kRate = 44100;

const std::string& HourWave() {
  static const std::string path = [] {
    const std::string p = Folder() + "/hour.wav";
    const std::int64_t frames = std::int64_t(kRate) * 3600;
    std::ofstream out(p, std::ios::binary);
    WaveWrite writer(out, frames, 2, kRate, CompressionPcm16, AnnotationList());
    std::mt19937 rng(5);
    std::vector<float> second(std::size_t(kRate) * 2);
    for (std::int64_t at = 0; at < frames; at += kRate) {
      FillSecond(int(rng() % 8), rng, second);
      writer.PushSamples(second.data(), kRate * 2);
    }
    return p;
  }();
  return path;
}

struct Answers : AnsweringPrompts {
  Answers() {
    volume = 70;
    silence = 0.5;
    saveChanges = SaveChangesAnswer::No;
  }
};

// Opening the hour, then recovering it after 100 edits of 1 s selections across it (fades,
// volume, reverse, normalize, cut and paste, insert silence, undo); the time is recovery's,
// open_ms the open's; ratio compares their wall times, cpu_ratio the processor time of all threads.
void BM_RecoverHourAfter100Edits(benchmark::State& state) {
  const std::string& path = HourWave();
  DocumentOptions options;
  options.correctDC = false;
  options.recoveryDir = Folder() + "/journals";
  JournalContents journal;
  {
    Answers answers;
    EditorDocument doc(options, nullptr, &answers);
    if (!doc.Open(path, nullptr, 1600, 400)) return state.SkipWithError("open failed");
    std::mt19937 rng(3);
    for (int i = 0; i < 100; ++i) {
      const double at = double(rng() % 3500);
      doc.Editor()->Select(at, at + 1);
      switch (i % 10) {
        case 0: doc.FadeIn(); break;
        case 1: doc.Volume(); break;
        case 2: doc.Reverse(); break;
        case 3: doc.Normalize(); break;
        case 4: doc.Cut(); break;
        case 5: doc.Paste(); break;
        case 6: doc.FadeOut(); break;
        case 7: doc.InsertSilence(); break;
        case 8: doc.Mute(); break;
        case 9: doc.Undo(); break;
      }
    }
    doc.Journal()->Flush();
    std::string error;
    if (!ReadJournalFile(doc.Journal()->Path(), &journal, &error)) return state.SkipWithError(error.c_str());
  }
  options.recoveryDir.clear();
  double openSeconds = 0, recoverSeconds = 0, openCpu = 0, recoverCpu = 0;
  for (auto _ : state) {
    {
      EditorDocument doc(options, nullptr, nullptr);
      const auto t = Clock::now();
      const double cpu = ProcessCpuSeconds();
      if (!doc.Open(path, nullptr, 1600, 400)) return state.SkipWithError("open failed");
      openSeconds += Since(t);
      openCpu += ProcessCpuSeconds() - cpu;
    }
    EditorDocument doc(options, nullptr, nullptr);
    const auto t = Clock::now();
    const double cpu = ProcessCpuSeconds();
    if (!doc.Recover(journal, nullptr, 1600, 400)) return state.SkipWithError(doc.ErrorText().c_str());
    const double took = Since(t);
    recoverCpu += ProcessCpuSeconds() - cpu;
    recoverSeconds += took;
    state.SetIterationTime(took);
  }
  state.counters["edits"] = journal.commandCount;
  state.counters["open_ms"] = benchmark::Counter(1000 * openSeconds, benchmark::Counter::kAvgIterations);
  state.counters["ratio"] = recoverSeconds / openSeconds;
  state.counters["cpu_ratio"] = recoverCpu / openCpu;
  state.counters["open_cpu_ms"] = benchmark::Counter(1000 * openCpu, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RecoverHourAfter100Edits)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

// A recording at 96,000 Hz stereo with its recovery file, on the fake input at the pace of a
// real one: every 20 ms the input takes 20 ms of frames and the editor's tick runs. A frame the
// input took with no buffer waiting is lost (an overrun); lost_frames must stay 0. The time is
// the UI thread's per tick.
struct Recorder : Answers {
  bool AskRecord(int, int, bool* correct, float* l, float* r) override {
    *correct = false;
    *l = *r = 0;
    return true;
  }
};

void BM_Record96kStereoWithFile(benchmark::State& state) {
  constexpr int kHighRate = 96000;
  Recorder answers;
  FakeWaveDevice* input = nullptr;
  DocumentOptions options;
  options.correctDC = false;
  options.newChannels = 2;
  options.newRate = kHighRate;
  options.newSeconds = 1;
  options.recoveryDir = Folder() + "/journals";
  options.devices = [&](WaveDirection direction) -> std::unique_ptr<CAI_WaveDevice> {
    auto device = std::make_unique<FakeWaveDevice>(direction);
    if (direction == WaveDirection::Input) input = device.get();
    return device;
  };
  EditorDocument doc(options, nullptr, &answers);
  if (!doc.New(nullptr, 1600, 400)) return state.SkipWithError("new failed");
  std::vector<float> tone(9600 * 2);
  for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = float(0.3 * std::sin(0.01 * double(i)));
  input->captureData.assign(reinterpret_cast<const std::uint8_t*>(tone.data()),
                            reinterpret_cast<const std::uint8_t*>(tone.data() + tone.size()));
  if (!doc.Record()) return state.SkipWithError("record failed");
  std::int64_t taken = 0;
  auto next = Clock::now();
  for (auto _ : state) {
    next += std::chrono::milliseconds(20);
    state.PauseTiming();
    std::this_thread::sleep_until(next);
    state.ResumeTiming();
    input->Advance(kHighRate / 50);
    taken += kHighRate / 50;
    doc.Editor()->Window()->OnTimerTick();
  }
  const std::int64_t recorded = doc.Editor()->Player()->RecordPosition() - doc.Editor()->Player()->StartSample();
  doc.Editor()->Stop();
  // What the input took and the last buffers still queued at the stop are not counted as lost.
  const std::int64_t queued = std::int64_t(CAI_AudioPlayer::kRecordBuffers) * doc.Editor()->Player()->RecordBufferLength() / 8;
  state.counters["seconds"] = double(taken) / kHighRate;
  state.counters["lost_frames"] = double(std::max<std::int64_t>(0, taken - recorded - queued));
  doc.FlushJournal();
}
BENCHMARK(BM_Record96kStereoWithFile)->Unit(benchmark::kMicrosecond)->Iterations(500);

}  // namespace
