// The display's speed on a one-hour document: a full repaint from the warm column cache, a
// 10-pixel scroll with its repaint, and one zoom step, all through QPainter on a QImage.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "analysis/SampleTrack.h"
#include "graphics/HostEvents.h"
#include "graphics/MultiTrackDisplay.h"
#include "graphics/TrackWaveform.h"
#include "graphics/qt/QtSurface.h"
#include "graphics/qt/ViewRenderer.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 3600;
constexpr int kWidth = 1920, kHeight = 400;

// One hour of a tone gliding through the spectrum with noise and pauses, built once.
CAP_SampleTrack& HourTrack() {
  static std::unique_ptr<CAP_SampleTrack> track = [] {
    auto t = std::make_unique<CAP_SampleTrack>(kRate);
    std::vector<float> chunk(kRate * 10);
    unsigned noise = 1;
    const auto begin = std::chrono::steady_clock::now();
    for (int piece = 0; piece < kSeconds / 10; ++piece) {
      for (std::size_t i = 0; i < chunk.size(); ++i) {
        const double s = double(i) / kRate;
        noise = noise * 1664525u + 1013904223u;
        const double f = 100.0 + 40.0 * ((piece * 7) % 90);
        const double gate = std::fmod(s, 2.5) < 2.0 ? 1.0 : 0.05;
        chunk[i] = float(gate * (0.6 * std::sin(2 * M_PI * f * s) + 0.2 * ((noise >> 8) / 16777216.0 - 0.5)));
      }
      t->InsertSamples(chunk.data(), int(chunk.size()), t->Length());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::fprintf(stderr, "built a %d s track of %d blocks in %.1f s\n", kSeconds, t->BlockCount(), seconds);
    return t;
  }();
  return *track;
}

struct View {
  CGI_Window root{nullptr, kWidth, kHeight};
  CGP_MultiTrackDisplay* display;
  QImage image{kWidth, kHeight, QImage::Format_RGB32};
  View() {
    static std::unique_ptr<QGuiApplication> app = GuiApplicationIfNeeded();
    CAP_SampleTrack& track = HourTrack();
    display = new CGP_MultiTrackDisplay(&root, &root, 0, 0, kWidth, kHeight,
                                        DisplayTracks{{&track}, kRate, track.duration}, false);
    display->ShowTrackRow(0, true);
    display->SetRowHeight(kHeight, true);
    Paint();  // tick layout, fonts
  }
  ~View() { root.DestroyChildren(); }
  void Paint() {
    QPainter painter(&image);
    QtSurface surface(painter, &image);
    HostPaint(&root, surface, 0, 0, kWidth, kHeight);
  }
  CGP_TrackWaveform* Wave() const { return display->LastWaveform(); }
};

void BM_FullRepaintWarmCache(benchmark::State& state) {
  View view;
  view.display->ZoomBy(state.range(0));
  view.Wave()->SetSelection(600, 900);
  view.Wave()->SetSegmentThreshold(50);
  for (auto _ : state) {
    view.Paint();
    benchmark::DoNotOptimize(view.image.constBits());
  }
}
BENCHMARK(BM_FullRepaintWarmCache)->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_Scroll10PixelsAndRepaint(benchmark::State& state) {
  View view;
  view.display->ZoomBy(state.range(0));
  const int last = view.Wave()->Width() - kWidth;
  int offset = last / 3, step = 10;
  view.display->ScrollAllTo(offset);
  long long columns = view.Wave()->ComputedColumns();
  for (auto _ : state) {
    if (offset + step > last || offset + step < 0) step = -step;
    offset += step;
    view.display->ScrollAllTo(offset);
    view.Paint();
  }
  state.counters["columns/scroll"] =
      double(view.Wave()->ComputedColumns() - columns) / double(state.iterations());
}
BENCHMARK(BM_Scroll10PixelsAndRepaint)->Arg(16)->Arg(1024)->Unit(benchmark::kMillisecond);

// One zoom-in step from a width of range(0) views: every visible column is computed.
void BM_ZoomInOneStep(benchmark::State& state) {
  View view;
  if (state.range(0) > 1) view.display->ZoomBy(state.range(0));
  view.display->ScrollAllTo(view.Wave()->Width() / 2);
  for (auto _ : state) {
    view.display->ZoomBy(2);
    state.PauseTiming();
    view.display->ZoomBy(0.5);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ZoomInOneStep)->Arg(1)->Arg(16)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_ZoomInOneStepAndRepaint(benchmark::State& state) {
  View view;
  for (auto _ : state) {
    view.display->ZoomBy(2);
    view.Paint();
    state.PauseTiming();
    view.display->ZoomBy(0.5);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ZoomInOneStepAndRepaint)->Unit(benchmark::kMillisecond);

}  // namespace
