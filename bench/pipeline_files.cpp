// Opening, loading and saving a document as the editor does: a 10-minute 44,100 Hz stereo 16-bit
// WAVE decoded into the mixer's three tracks (signatures and summaries included), saved back as
// 16-bit WAVE and converted to 48,000 Hz while saving; the heap while the document is loaded.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "formats/Probe.h"
#include "formats/Wave.h"
#include "pipeline/AudioDecoder.h"
#include "pipeline/FileBuffer.h"
#include "pipeline/SafeSave.h"
#include "pipeline/SampleMixer.h"

// Heap accounting: every operator new of this binary counts its block's usable size.
namespace {
std::atomic<std::int64_t> heapNow{0}, heapPeak{0};
void Count(void* p) {
  const std::int64_t now = heapNow += std::int64_t(malloc_usable_size(p));
  for (std::int64_t peak = heapPeak; now > peak && !heapPeak.compare_exchange_weak(peak, now);) {
  }
}
}  // namespace

void* operator new(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  Count(p);
  return p;
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept {
  if (!p) return;
  heapNow -= std::int64_t(malloc_usable_size(p));
  std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr std::int64_t kFrames = std::int64_t(kRate) * 600;

std::string WorkPath(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

// Ten minutes of something like music: two voices gliding over a bass, with a little noise.
const std::string& SourceFile() {
  static const std::string path = [] {
    const std::string p = WorkPath("tintwave-pipeline-bench-10min.wav");
    std::ofstream out(p, std::ios::binary);
    WaveWrite writer(out, kFrames, kChannels, kRate, CompressionPcm16, AnnotationList());
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-0.02f, 0.02f);
    std::vector<float> piece(2048 * kChannels);
    for (std::int64_t at = 0; at < kFrames; at += 2048) {
      const int n = int(std::min<std::int64_t>(2048, kFrames - at));
      for (int i = 0; i < n; ++i) {
        const double t = double(at + i) / kRate;
        const double glide = 440 + 220 * std::sin(0.5 * t);
        piece[2 * i] = float(0.3 * std::sin(2 * M_PI * glide * t) + 0.2 * std::sin(2 * M_PI * 110 * t)) + noise(rng);
        piece[2 * i + 1] = float(0.3 * std::sin(2 * M_PI * 1.5 * glide * t) + 0.2 * std::sin(2 * M_PI * 110 * t)) + noise(rng);
      }
      writer.PushSamples(piece.data(), n * kChannels);
    }
    return p;
  }();
  return path;
}

// The editor's open: file buffer, stream, decoder, then the mixer with its mix track loading.
struct Document {
  explicit Document(const std::string& path) {
    buffer.Open(path, CUP_FileBuffer::kRead | CUP_FileBuffer::kBinary);
    decoder = std::make_unique<CAP_AudioDecoder>(stream, std::int64_t(std::filesystem::file_size(path)),
                                                 ExtensionOf(path), true);
    mixer = std::make_unique<EP_SampleMixer>(decoder->channels, decoder->sampleRate, nullptr, true);
    mixer->LoadFromDecoder(decoder.get(), nullptr, 0);
  }
  double Seconds() const { return mixer->Track(mixer->TrackCount() - 1)->duration; }
  CUP_FileBuffer buffer;
  std::istream stream{&buffer};
  std::unique_ptr<CAP_AudioDecoder> decoder;
  std::unique_ptr<EP_SampleMixer> mixer;
};

void BM_OpenAndLoad(benchmark::State& state) {
  const std::string& path = SourceFile();
  for (auto _ : state) {
    const std::int64_t before = heapNow;
    heapPeak = before;
    Document document(path);
    if (document.mixer->Track(2)->Length() != kFrames) state.SkipWithError("short load");
    // Peak heap from the start of the open, against the floats of three tracks.
    state.counters["peak_heap_ratio"] = double(heapPeak - before) / (3.0 * 4 * kFrames);
    state.counters["loaded_heap_ratio"] = double(heapNow - before) / (3.0 * 4 * kFrames);
  }
}
BENCHMARK(BM_OpenAndLoad)->Unit(benchmark::kMillisecond)->Iterations(3);

// The tracks' share of a load shown while it arrives: the decoded reads appended a batch at a time
// (8: as the window appends them; 0: all in one call, the lanes running through as in the load at
// once). The reads are decoded beforehand, so the figure is the appending alone.
void BM_AppendInBatches(benchmark::State& state) {
  static const std::vector<std::vector<float>> reads = [] {
    Document source(SourceFile());
    const int chunk = CAP_SampleMixer::LoadChunkFrames(kRate);
    std::vector<std::vector<float>> all;
    for (std::int64_t at = 0; at < kFrames; at += chunk) {
      all.emplace_back(std::size_t(std::min<std::int64_t>(chunk, kFrames - at)) * kChannels);
      source.mixer->ReadFloat(all.back().data(), int(all.back().size() / kChannels), int(at));
    }
    return all;
  }();
  const std::size_t batch = state.range(0) > 0 ? std::size_t(state.range(0)) : reads.size();
  for (auto _ : state) {
    EP_SampleMixer mixer(kChannels, kRate, nullptr, true);
    mixer.BeginLoad();
    for (std::size_t from = 0; from < reads.size(); from += batch) {
      std::size_t i = from;
      const std::size_t to = std::min(from + batch, reads.size());
      mixer.AppendLoadedAsRead([&](const float** frames, int* count) {
        if (i >= to) return false;
        *frames = reads[i].data();
        *count = int(reads[i].size() / kChannels);
        ++i;
        return true;
      });
    }
    mixer.EndLoad(true);
    if (mixer.Track(2)->Length() != kFrames) state.SkipWithError("short load");
  }
}
BENCHMARK(BM_AppendInBatches)->Arg(8)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(5);

// The decoder alone, in the loader's 0.1 s reads: the pipeline's share of the open.
void BM_DecodeOnly(benchmark::State& state) {
  const std::string& path = SourceFile();
  std::vector<float> chunk(4410 * kChannels);
  for (auto _ : state) {
    CUP_FileBuffer buffer;
    buffer.Open(path, CUP_FileBuffer::kRead | CUP_FileBuffer::kBinary);
    std::istream stream(&buffer);
    CAP_AudioDecoder decoder(stream, std::int64_t(std::filesystem::file_size(path)), ".wav", true);
    std::int64_t frames = 0;
    while (int n = decoder.ReadFloatAtCursor(chunk.data(), 4410)) frames += n;
    if (frames != kFrames) state.SkipWithError("short decode");
  }
}
BENCHMARK(BM_DecodeOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SoxDecodeReference(benchmark::State& state) {
  const std::string command = "sox " + SourceFile() + " -t f32 /dev/null";
  for (auto _ : state) benchmark::DoNotOptimize(std::system(command.c_str()));
}
BENCHMARK(BM_SoxDecodeReference)->Unit(benchmark::kMillisecond)->Iterations(3);

Document& Loaded() {
  static Document document(SourceFile());
  return document;
}

void Save(benchmark::State& state, int rate) {
  Document& document = Loaded();
  const SaveTarget target{WorkPath("tintwave-pipeline-bench-out.wav"), FileFormatWave, kChannels, rate, CompressionPcm16};
  for (auto _ : state) {
    const std::string error = SaveAudioSafely(*document.mixer, document.Seconds(), target, nullptr);
    if (!error.empty()) state.SkipWithError(error.c_str());
  }
  std::filesystem::remove(target.path);
}

// Written through a temporary file, flushed to the disk and renamed over the target.
void BM_SaveWave16(benchmark::State& state) { Save(state, kRate); }
BENCHMARK(BM_SaveWave16)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SaveConvertedTo48000(benchmark::State& state) { Save(state, 48000); }
BENCHMARK(BM_SaveConvertedTo48000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
