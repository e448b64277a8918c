#include "search/WindowSignatures.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "analysis/SampleTrack.h"

namespace {

// Running sums at one analysed position: the twelve lag sums, the magnitudes and the squares.
struct RunningSums {
  std::int64_t lag[kSignatureLags] = {};
  std::int64_t abs = 0;
  std::int64_t sq = 0;
};

struct WindowJob {
  std::size_t series;
  std::size_t index;
  std::int64_t first;  // first analysed position in the phase's sequence
  std::int32_t count;  // analysed samples of the window
};

struct AnalyzerDeleter {
  void operator()(SignatureAnalyzer* a) const { DestroySignatureAnalyzer(a); }
};

// The analysed samples of one decimation phase: samples phase, phase + factor, ... of the track.
std::vector<std::int16_t> DecimatedPhase(CAP_SampleTrack& track, int factor, int phase) {
  const int n = track.Length();
  std::vector<std::int16_t> out;
  if (phase >= n) return out;
  out.reserve(std::size_t((n - phase) / factor + 1));
  std::vector<float> chunk(std::size_t(65536) * factor);
  for (int from = phase; from < n; from += int(chunk.size())) {
    const int got = track.ReadSamples(chunk.data(), int(std::min<std::int64_t>(chunk.size(), n - from)), from);
    for (int t = 0; t < got; t += factor) out.push_back(FloatToInt16(chunk[std::size_t(t)]));
    if (got <= 0) break;
  }
  return out;
}

// Fills the windows of one phase. The analyzer adds, for analysed sample j of a window with
// j >= lag, the smaller magnitude of samples j and j - lag when their signs agree; both lie in the
// window, so that term depends on the position alone and the window's sum is a difference of
// running sums taken at first + lag and first + count.
void FillPhase(const std::vector<std::int16_t>& samples, const SignatureAnalyzer& shape,
               const std::vector<WindowJob>& jobs, std::vector<WindowSeries>& series, int rate) {
  std::vector<std::int64_t> points;
  points.reserve(jobs.size() * (kSignatureLags + 2));
  for (const WindowJob& job : jobs) {
    points.push_back(job.first);
    points.push_back(job.first + job.count);
    for (int i = 0; i < kSignatureLags; ++i)
      if (shape.lag[i] < job.count) points.push_back(job.first + shape.lag[i]);
  }
  std::sort(points.begin(), points.end());
  points.erase(std::unique(points.begin(), points.end()), points.end());

  // One pass: the sums before each point.
  std::vector<RunningSums> at(points.size());
  RunningSums run;
  std::size_t next = 0;
  const std::int64_t n = std::int64_t(samples.size());
  for (std::int64_t k = 0; k <= n && next < points.size(); ++k) {
    while (next < points.size() && points[next] == k) at[next++] = run;
    if (k == n) break;
    const int v = samples[std::size_t(k)];
    const int m = v < 0 ? -v : v;
    run.abs += m;
    run.sq += std::int64_t(m) * m;
    if (v == 0) continue;
    for (int i = 0; i < kSignatureLags; ++i) {
      if (k < shape.lag[i]) continue;
      const int w = samples[std::size_t(k - shape.lag[i])];
      if ((w < 0) == (v < 0) && w != 0) run.lag[i] += std::min(m, w < 0 ? -w : w);
    }
  }
  auto sumsAt = [&](std::int64_t point) -> const RunningSums& {
    return at[std::size_t(std::lower_bound(points.begin(), points.end(), point) - points.begin())];
  };

  for (const WindowJob& job : jobs) {
    std::unique_ptr<SignatureAnalyzer, AnalyzerDeleter> a(CreateSignatureAnalyzer(rate));
    const RunningSums& begin = sumsAt(job.first);
    const RunningSums& end = sumsAt(job.first + job.count);
    a->count = job.count;
    a->sumAbs = double(end.abs - begin.abs);
    a->sumSq = double(end.sq - begin.sq);
    for (int i = 0; i < kSignatureLags; ++i)
      a->acc[i] = shape.lag[i] < job.count ? double(end.lag[i] - sumsAt(job.first + shape.lag[i]).lag[i]) : 0.0;
    AnalyzerFinish(a.release(), &series[job.series].signatures[job.index]);
  }
}

}  // namespace

std::vector<WindowSeries> ComputeWindowSeries(CAP_SampleTrack& track, const std::vector<std::int32_t>& lengths) {
  std::vector<WindowSeries> series;
  const int rate = track.sampleRate;
  std::unique_ptr<SignatureAnalyzer, AnalyzerDeleter> shape(CreateSignatureAnalyzer(rate));
  if (!shape) return series;
  const int factor = shape->factor;
  const std::int64_t n = track.Length();

  // A window starting at sample s analyses samples s + factor - 1, s + 2 factor - 1, ...: the
  // phase (s + factor - 1) mod factor, from position (s + factor - 1) / factor of that phase.
  std::vector<std::vector<WindowJob>> jobsOfPhase(static_cast<std::size_t>(factor));
  for (const std::int32_t length : lengths) {
    WindowSeries s;
    s.length = std::max<std::int32_t>(length, 2);
    s.hop = s.length / 2;
    if (s.length <= n) s.signatures.resize(std::size_t((n - s.length) / s.hop + 1));
    for (std::size_t i = 0; i < s.signatures.size(); ++i) {
      const std::int64_t start = std::int64_t(i) * s.hop + factor - 1;
      jobsOfPhase[std::size_t(start % factor)].push_back(
          {series.size(), i, start / factor, s.length / factor});
    }
    series.push_back(std::move(s));
  }
  for (int phase = 0; phase < factor; ++phase) {
    if (jobsOfPhase[std::size_t(phase)].empty()) continue;
    FillPhase(DecimatedPhase(track, factor, phase), *shape, jobsOfPhase[std::size_t(phase)], series, rate);
  }
  return series;
}
