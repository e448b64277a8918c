#pragma once
// A waveform over a track of known samples inside a clip area under a root with a fake host,
// and the brute-force columns to check it against.
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "analysis/SampleTrack.h"
#include "graphics/RasterSurface.h"
#include "graphics/TrackWaveform.h"
#include "graphics/Window.h"
#include "tests/graphics/FakeHost.h"

// A clip area that records the notifications passing up from the waveform.
struct RecordingClip : CGP_Graphic {
  using CGP_Graphic::CGP_Graphic;
  std::vector<int> notes;
  bool Notify(int code, CGP_Graphic* sender) override {
    notes.push_back(code);
    return CGP_Graphic::Notify(code, sender);
  }
  int Count(int code) const {
    int n = 0;
    for (int c : notes) n += c == code;
    return n;
  }
};

// Deterministic audio: a tone whose loudness and pitch wander, with a silent second.
inline std::vector<float> TestSamples(int rate, double seconds, double silentFrom = -1) {
  std::vector<float> x(std::size_t(std::lround(rate * seconds)));
  unsigned noise = 12345;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = double(i) / rate;
    noise = noise * 1103515245u + 12345u;
    const double n = ((noise >> 9) & 0xFFFF) / 65536.0 - 0.5;
    const double envelope = 0.3 + 0.6 * std::fabs(std::sin(t * 0.7));
    x[i] = float(envelope * std::sin(2 * M_PI * (200 + 150 * t) * t) * 0.9 + 0.1 * n);
    if (silentFrom >= 0 && t >= silentFrom && t < silentFrom + 1) x[i] = 0;
  }
  return x;
}

struct WaveformRig {
  FakeHost host;
  std::vector<float> samples;
  CAP_SampleTrack track;
  CGI_Window root;
  RecordingClip* clip;
  CGP_TrackWaveform* wave;

  WaveformRig(int rate, double seconds, int visible, int width, int height = 100,
              double silentFrom = -1)
      : samples(TestSamples(rate, seconds, silentFrom)), track(rate), root(&host, visible, height + 50) {
    track.InsertSamples(samples.data(), int(samples.size()), 0);
    clip = new RecordingClip(&root, &root, 0, 0, visible, height);
    wave = new CGP_TrackWaveform(clip, &root, 0, 0, visible, height, &track);
    if (width != visible) wave->SetSize(width, height);
  }
  ~WaveformRig() { root.DestroyChildren(); }

  // The column c as the rules define it, straight from the samples.
  ColumnSpan Reference(int c) {
    const int w = wave->Width(), h = wave->Height();
    auto extent = [&](int col, float& lo, float& hi) {
      const double spc = track.duration / w;
      const long long a = std::llround(track.sampleRate * (col * spc));
      const long long b = std::llround(track.sampleRate * ((col + 1) * spc));
      lo = 1.0f;
      hi = -1.0f;
      for (long long i = a; i < b && i < (long long)samples.size(); ++i) {
        lo = std::min(lo, samples[i]);
        hi = std::max(hi, samples[i]);
      }
    };
    float lo, hi, llo, lhi, rlo, rhi;
    extent(c, lo, hi);
    if (c > 0) extent(c - 1, llo, lhi);
    else llo = lo, lhi = hi;
    if (c + 1 < w) extent(c + 1, rlo, rhi);
    else rlo = lo, rhi = hi;
    float smin, smax;
    CGP_TrackWaveform::StretchColumn(llo, lhi, lo, hi, rlo, rhi, smin, smax);
    ColumnSpan span;
    span.top = std::uint16_t(CGP_TrackWaveform::RowOfValue(smax, h));
    span.bottom = std::uint16_t(CGP_TrackWaveform::RowOfValue(smin, h));
    int offset = 0;
    const long long start = std::llround(track.sampleRate * (c * (track.duration / w)));
    SampleBlock* block = track.Locate(int(start), &offset);
    span.colour = wave->ColourDisplay() ? block->color : kColourOffGrey;
    return span;
  }

  // Number of visible columns whose cache differs from the reference.
  int VisibleMismatches() {
    int bad = 0;
    for (int c = -wave->X(); c < -wave->X() + clip->Width() && c < wave->Width(); ++c) {
      const ColumnSpan a = wave->CachedColumn(c), b = Reference(c);
      if (a.top != b.top || a.bottom != b.bottom || a.colour != b.colour) {
        if (bad++ < 3)
          std::fprintf(stderr, "column %d: cache %d..%d %06x, reference %d..%d %06x\n", c, a.top,
                       a.bottom, a.colour, b.top, b.bottom, b.colour);
      }
    }
    return bad;
  }

  SampleBlock* BlockAt(int index) {
    SampleBlock* b = track.Head();
    for (int i = 0; i < index && b; ++i) b = b->next;
    return b;
  }
};
