#include "analysis/SoundMatch.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <numeric>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "analysis/RememberedResults.h"
#include "analysis/SampleTrack.h"
#include "analysis/TrackBands.h"

namespace {
constexpr int kPhases = 16;     // shifts of the prototype tried on the best candidates
constexpr float kFar = 1e30f;   // the cost of a cell no path reaches
// The mean distance (dB) that scores 100 / e: calibrated on the generated corpus
// (bench/sound_search) so that 70 separates the same word said otherwise from other words.
constexpr float kDistanceScale = 11.1f;
constexpr double kSteadyScale = 0.35;  // of kDistanceScale for a steady prototype
// The second alignment takes the best candidates down to this coarse score, as many as a budget
// of alignment cells allows.
constexpr float kRefineFloor = 2.0f;
constexpr float kSteadyRefineFloor = 1e-4f;  // a steady sound in a background starts far lower
constexpr double kRefineCells = 1e7;
constexpr int kRefineRounds = 4;
constexpr std::size_t kRefinesPerWorker = 8;
constexpr std::size_t kPlacingsPerWorker = 16;
constexpr int kFramesPerWorker = 2000;  // per half of the first alignment: below this, a second thread costs more than it saves
constexpr int kLongestPrototype = 30;  // seconds
// The best kFineRuns runs of a speech-like prototype (of at most kFineLongest seconds) scoring
// kFineLow or more are looked at again finely, and the fine distance alone makes their score:
// the blocks cannot tell a word from another word of the same voice as well as they tell it from
// the same word in another voice. kFineScale is calibrated on the generated corpus
// (bench/sound_search): a distance of kFineAt70 scores 70; the score falls as the fifth power
// of the distance, so that an exact copy (the frames' grid and the block edges leave it a
// distance of about 4) scores 99 or more. Below kFineLow the blocks have told a different sound.
constexpr float kFineLow = 35.0f;
constexpr int kFineLongest = 4;
constexpr std::size_t kFineRuns = 16;  // at most, the best first
constexpr int kFinePad = 4;  // blocks of slack on either side of a run, at most
constexpr float kFineAt70 = 9.24f;
const float kFineScale = kFineAt70 / std::pow(-std::log(0.7f), 0.2f);
// Runs scoring this much are placed to the sample where the selection's first kStartWindow
// samples correlate with the track by kExactCorrelation or more.
constexpr float kExactStartFloor = 90.0f;
constexpr int kStartWindow = 1024;
constexpr double kExactCorrelation = 0.9;
constexpr int kCoarseLag = 4;
constexpr std::size_t kCoarseTries = 4;

// What the alignment compares: per frame the cepstra less (a share of) their mean over the sound
// around it (a steady colouring of the spectrum, a voice's, a room's or a line's, cancels) and
// the level below the loudest frame around it (the loudness contour, whatever the overall level). "Around" is the
// prototype itself for the prototype, and for the track a window as long as the prototype
// centred on the frame. Frames well below the loudest (or below kQuietDb) add nothing to the
// mean, and a level reads at most kContourDb below.
constexpr int kDims = kCeps + 1;
constexpr float kQuietDb = -80.0f;
constexpr float kContourDb = 30.0f;
constexpr float kContourWeight = 0.3f;  // per dB, against the cepstra's dB
constexpr double kSteadySpread = 40, kMovingSpread = 120;  // dB squared: see MeanShare
constexpr double kSteadyShare = 0.5;  // below this share of the mean taken off, a prototype counts as steady
constexpr float kFaintWeight = 0.25f;   // of a prototype frame near silence
constexpr float kContrastDb = 12.0f;
constexpr float kContrastWeight = 0.6f;  // per dB of contrast that differs
constexpr float kSpreadRange = 1.5f;     // the most a candidate's spread is scaled by

float Presence(float level, float loudest) {
  if (level < kQuietDb) return 0;
  return std::clamp((level - loudest + kContourDb) / 10.0f, 0.0f, 1.0f);
}

void Normalise(const BandShape& f, const float* mean, float loudest, float* out) {
  for (int k = 0; k < kCeps; ++k) out[k] = f.ceps[k] - mean[k];
  const float contour = f.level < kQuietDb ? -kContourDb : std::max(f.level - loudest, -kContourDb);
  out[kCeps] = kContourWeight * contour;
}

// The track's frames, kDims each; h frames on either side make the window.
std::vector<float> TrackFrames(const std::vector<BandShape>& raw, int h, double share) {
  const int n = int(raw.size());
  // The loudest level of each window: a queue of the frames that may still be the loudest.
  std::vector<float> loudest(static_cast<std::size_t>(n));
  std::deque<int> queue;
  for (int r = 0; r < n + h; ++r) {
    if (r < n) {
      while (!queue.empty() && raw[queue.back()].level <= raw[r].level) queue.pop_back();
      queue.push_back(r);
    }
    const int c = r - h;
    if (c < 0) continue;
    while (queue.front() < c - h) queue.pop_front();
    loudest[c] = raw[queue.front()].level;
  }
  // The weighted cepstra summed over the window as it slides: a frame enters at j + h and leaves
  // after j - h (in doubles: the rounding left behind stays far below what the means show).
  auto add = [&](double* sum, int f, double sign) {
    const double w = sign * Presence(raw[f].level, loudest[f]);
    for (int k = 0; k < kCeps; ++k) sum[k] += w * raw[f].ceps[k];
    sum[kCeps] += w;
  };
  double sum[kCeps + 1] = {};
  for (int f = 0; f < std::min(n, h); ++f) add(sum, f, 1);
  std::vector<float> out(std::size_t(n) * kDims);
  float mean[kCeps];
  for (int j = 0; j < n; ++j) {
    if (j + h < n) add(sum, j + h, 1);
    if (j - h - 1 >= 0) add(sum, j - h - 1, -1);
    const double weight = sum[kCeps];
    for (int k = 0; k < kCeps; ++k) mean[k] = weight > 1e-6 ? float(share * sum[k] / weight) : 0.0f;
    Normalise(raw[j], mean, loudest[j], &out[std::size_t(j) * kDims]);
  }
  return out;
}

// The mean and the loudest level of frames first .. end - 1, as the frames' own surroundings.
struct Surroundings {
  float mean[kCeps];
  float loudest;
};
Surroundings SurroundingsOf(const BandShape* first, const BandShape* end, double share) {
  Surroundings s;
  s.loudest = -1e9f;
  for (const BandShape* f = first; f < end; ++f) s.loudest = std::max(s.loudest, f->level);
  double mean[kCeps] = {}, weight = 0;
  for (const BandShape* f = first; f < end; ++f) {
    const float w = Presence(f->level, s.loudest);
    for (int k = 0; k < kCeps; ++k) mean[k] += double(w) * f->ceps[k];
    weight += w;
  }
  for (int k = 0; k < kCeps; ++k) s.mean[k] = weight > 1e-6 ? float(share * mean[k] / weight) : 0.0f;
  return s;
}

// How much of the mean the prototype's search takes off: all of it for a sound whose spectrum
// moves (speech: the mean is the voice's and the line's colouring), none for a steady one (a
// noise, a held chord: the colour is what the sound is). The frames' spread about their mean
// (dB squared) decides.
double MeanShare(const BandShape* first, const BandShape* end) {
  const Surroundings s = SurroundingsOf(first, end, 1.0);
  double spread = 0, weight = 0;
  for (const BandShape* f = first; f < end; ++f) {
    const float w = Presence(f->level, s.loudest);
    for (int k = 0; k < kCeps; ++k) spread += double(w) * (f->ceps[k] - s.mean[k]) * (f->ceps[k] - s.mean[k]);
    weight += w;
  }
  spread = weight > 1e-6 ? spread / weight : 0.0;
  return std::clamp((spread - kSteadySpread) / (kMovingSpread - kSteadySpread), 0.0, 1.0);
}

// The prototype's frames laid out dimension by dimension (out[d * m + i]) and how much each
// counts (faint frames, which a background covers first, less); returns the weights' sum.
float PrototypeFrames(const std::vector<BandShape>& raw, double share, float* out, float* weights) {
  const int m = int(raw.size());
  const Surroundings around = SurroundingsOf(raw.data(), raw.data() + m, share);
  float frame[kDims];
  for (int i = 0; i < m; ++i) {
    Normalise(raw[i], around.mean, around.loudest, frame);
    for (int d = 0; d < kDims; ++d) out[std::size_t(d) * m + i] = frame[d];
    weights[i] = kFaintWeight + (1 - kFaintWeight) * Presence(raw[i].level, around.loudest);
  }
  float sum = 0;
  for (int i = 0; i < m; ++i) sum += weights[i];
  return std::max(sum, 1e-3f);
}

// The root mean square of the frames' cepstra (kDims per frame, as Normalise leaves them), each
// weighed by its presence beside the loudest: how far the sound moves about its mean.
float SpreadOf(const float* frames, const BandShape* raw, int count, float loudest) {
  double sum = 0, weight = 0;
  for (int i = 0; i < count; ++i) {
    const float w = Presence(raw[i].level, loudest);
    for (int d = 0; d < kCeps; ++d) sum += double(w) * frames[std::size_t(i) * kDims + d] * frames[std::size_t(i) * kDims + d];
    weight += w;
  }
  return weight > 1e-6 ? float(std::sqrt(sum / weight)) : 0.0f;
}

// 100 for no distance, falling slowly at first (small differences of an exact copy's
// alignment cost nothing), then steeply around the calibrated distance.
// How far frames first .. end - 1 stand out from the quietest frame around them (as many again
// on either side), at most kContrastDb: a sound set off by quiet against the same spectrum
// heard as a steady background.
float Contrast(const std::vector<BandShape>& raw, int first, int end) {
  const int n = int(raw.size()), reach = end - first;
  float loud = kQuietDb, quiet = 0;
  for (int j = first; j < end; ++j) loud = std::max(loud, raw[j].level);
  for (int j = std::max(0, first - reach); j < std::min(n, end + reach); ++j)
    quiet = std::min(quiet, std::max(raw[j].level, kQuietDb));
  return std::clamp(loud - quiet, 0.0f, kContrastDb);
}

// The least level of each band over the blocks: the steady background there.
BandEnergies BackgroundOf(const std::vector<SampleBlock*>& block, int from, int to) {
  BandEnergies least;
  std::fill(std::begin(least.level), std::end(least.level), std::uint8_t(255));
  for (int j = from; j < to; ++j)
    for (int b = 0; b < kBands; ++b) least.level[b] = std::min(least.level[b], block[j]->bands->energies.level[b]);
  return least;
}

// The bands missing at either edge of the spectrum (as a line or a band-limited copy loses them).
std::uint32_t MissingEdges(std::uint32_t absent) {
  std::uint32_t mask = 0;
  for (int b = 0; b < kBands && (absent >> b & 1); ++b) mask |= 1u << b;
  for (int b = kBands - 1; b >= 0 && (absent >> b & 1); --b) mask |= 1u << b;
  return mask;
}

float ScoreOfCost(float meanDistance, float scale) {
  const float x = meanDistance / scale;
  return 100.0f * std::exp(-x * x * x);
}

// The prototype as the alignment reads it: variants (each phase unwarped, then each phase at
// each warp) of frames laid out dimension by dimension (ceps[(v * kDims + d) * blocks + i]),
// and the shift of each phase.
struct Prototype {
  int blocks = 0, phases = 0;
  std::vector<int> offset;
  std::vector<float> ceps;
  std::vector<float> weights;  // per variant and frame: how much the frame counts
  std::vector<float> weight;   // per variant: their sum
  std::vector<BandEnergies> bands;  // per phase, the blocks' band levels (bands[phase * blocks + i])
  int loudest = 0;                  // the loudest band level of them
  int Variant(int warp, int phase) const { return warp * phases + phase; }
  const float* Frames(int v) const { return &ceps[std::size_t(v) * kDims * blocks]; }
  const float* Weights(int v) const { return &weights[std::size_t(v) * blocks]; }
};

// Shifts of the bands (in bands; up moves the formants up) tried on the best candidates: a
// voice with a shorter or longer vocal tract.
constexpr float kWarps[] = {0.0f, -1.0f, -0.5f, 0.5f, 1.0f};
constexpr int kWarpCount = int(std::size(kWarps));
constexpr float kWarpCost = 2.0f;  // added to the mean distance per band of shift
constexpr float kLeastWarp = 0.5f;  // the least shift of kWarps
// Added per band left out of the comparison: what a narrower line lost is not known to match.
constexpr float kMissingBandCost = 0.8f;

BandEnergies Warp(const BandEnergies& in, float shift) {
  if (shift == 0) return in;
  BandEnergies out;
  for (int b = 0; b < kBands; ++b) {
    const float x = std::clamp(float(b) - shift, 0.0f, float(kBands - 1));
    const int lo = int(x), hi = std::min(lo + 1, kBands - 1);
    const float f = x - float(lo);
    out.level[b] = std::uint8_t(std::lround(in.level[lo] * (1 - f) + in.level[hi] * f));
  }
  return out;
}

// The samples the prototype is made of: its blocks first .. (blocks of them), shifted back by
// equal steps of the first block as far as the track reaches back (the signature search's
// phases). Read on the track's thread, so that the prototype can be made on another.
struct PrototypeSamples {
  std::vector<int> offset;  // per phase
  std::vector<int> counts;  // per block
  std::vector<float> x;     // from the largest offset before the first block to the last's end
  int rate = 0;
};
PrototypeSamples ReadPrototype(CAP_SampleTrack& track, SampleBlock* first, int blocks, int firstStart) {
  PrototypeSamples in;
  in.rate = track.sampleRate;
  in.offset.push_back(0);
  for (int k = 1; k < kPhases; ++k) {
    const int d = int(static_cast<long long>(k) * first->count / kPhases);
    if (d > firstStart || d == in.offset.back()) break;
    in.offset.push_back(d);
  }
  long long span = 0;
  for (SampleBlock* b = first; b && int(in.counts.size()) < blocks; b = b->next) in.counts.push_back(b->count), span += b->count;
  in.x.resize(std::size_t(span + in.offset.back()));
  track.ReadSamples(in.x.data(), int(in.x.size()), firstStart - in.offset.back());
  return in;
}

// The prototype at every phase and warp.
Prototype MakePrototype(const PrototypeSamples& in, double share) {
  Prototype p;
  const int blocks = int(in.counts.size());
  p.blocks = blocks;
  p.offset = in.offset;
  p.phases = int(p.offset.size());
  const std::size_t variants = std::size_t(kWarpCount) * p.phases;
  p.ceps.assign(variants * kDims * std::size_t(blocks), 0.0f);
  p.weights.assign(variants * std::size_t(blocks), 0.0f);
  p.weight.assign(variants, 0.0f);
  std::vector<BandEnergies> bands(static_cast<std::size_t>(blocks));
  std::vector<BandShape> raw(static_cast<std::size_t>(blocks));
  for (int k = 0; k < p.phases; ++k) {
    std::size_t at = std::size_t(p.offset.back() - p.offset[k]);
    for (int i = 0; i < blocks; at += std::size_t(in.counts[i]), ++i)
      ComputeBandEnergies(&in.x[at], in.counts[i], in.rate, &bands[i]);
    p.bands.insert(p.bands.end(), bands.begin(), bands.end());
    for (const BandEnergies& e : bands) p.loudest = std::max<int>(p.loudest, *std::max_element(e.level, e.level + kBands));
    for (int w = 0; w < kWarpCount; ++w) {
      for (int i = 0; i < blocks; ++i) raw[i] = ShapeOf(Warp(bands[i], kWarps[w]));
      const int v = p.Variant(w, k);
      p.weight[v] = PrototypeFrames(raw, share, &p.ceps[std::size_t(v) * kDims * blocks], &p.weights[std::size_t(v) * blocks]);
    }
  }
  return p;
}

// What a cell of the alignment adds: the frames' distance, or its square (the fine look: a path
// then pays more for a few frames far apart, a word that differs in one sound, than for many a
// little apart, the same word in another voice).
enum class Metric { Distance, Squared };

float Distance(const float* q, int m, int i, const float* t, Metric metric) {
  float sum = 0;
  for (int c = 0; c < kDims; ++c) {
    const float d = q[std::size_t(c) * m + i] - t[c];
    sum += d * d;
  }
  return metric == Metric::Squared ? sum : std::sqrt(sum);
}

// The alignment of the prototype's m frames q (coefficient by coefficient) with the track's
// frames t[j * kDims ..] for j in from .. to - 1. A path takes each prototype frame once: on to
// the next track frame (a step), over one (the candidate slower), or two prototype frames on one
// track frame (the candidate faster). For each end j: the path's summed distance (kFar where none
// reaches) and the track frame where it starts. Every cell is computed the same way by both
// forms, so their results agree bit for bit.
using Aligner = void (*)(const float* q, const float* w, int m, const float* t, int from, int to, float* cost,
                         int* start, Metric metric);

// Plain: the whole matrix, cell by cell.
void AlignPlain(const float* q, const float* w, int m, const float* t, int from, int to, float* cost, int* start,
                Metric metric) {
  const int n = to - from;
  std::vector<float> D(std::size_t(m) * n);
  std::vector<int> S(std::size_t(m) * n);
  auto at = [&](int i, int j) { return std::size_t(i) * n + j; };
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) {
      const float d = Distance(q, m, i, t + std::size_t(from + j) * kDims, metric) * w[i];
      if (i == 0) {
        D[at(0, j)] = d;
        S[at(0, j)] = from + j;
        continue;
      }
      float best = j >= 1 ? D[at(i - 1, j - 1)] : kFar;
      int s = j >= 1 ? S[at(i - 1, j - 1)] : from + j;
      if (j >= 2 && D[at(i - 1, j - 2)] < best) best = D[at(i - 1, j - 2)], s = S[at(i - 1, j - 2)];
      if (i >= 2 && j >= 1) {
        const float c = D[at(i - 2, j - 1)] + Distance(q, m, i - 1, t + std::size_t(from + j) * kDims, metric) * w[i - 1];
        if (c < best) best = c, s = S[at(i - 2, j - 1)];
      }
      D[at(i, j)] = best + d;
      S[at(i, j)] = s;
    }
  for (int j = 0; j < n; ++j) cost[j] = D[at(m - 1, j)], start[j] = S[at(m - 1, j)];
}

// Fast: kChunk columns at a time, their distances in vectors across the columns (each lane adds
// the coefficients in the plain form's order), then column by column with two columns kept, the
// cells of a column in vectors down the rows (a cell needs only the two columns before).
constexpr int kChunk = 16;
using ChunkColumns = float[kDims][kChunk];  // a chunk's frames, coefficient by coefficient

// dists[k * m + i] = the distance of prototype frame i from column k, weighed.
void ChunkDistancesPlain(const float* q, const float* w, int m, const ChunkColumns& columns, float* dists,
                         Metric metric) {
  for (int i = 0; i < m; ++i)
    for (int k = 0; k < kChunk; ++k) {
      float sum = 0;
      for (int c = 0; c < kDims; ++c) {
        const float d = q[std::size_t(c) * m + i] - columns[c][k];
        sum += d * d;
      }
      dists[std::size_t(k) * m + i] = (metric == Metric::Squared ? sum : std::sqrt(sum)) * w[i];
    }
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] void ChunkDistancesAvx2(const float* q, const float* w, int m, const ChunkColumns& columns,
                                                float* dists, Metric metric) {
  static_assert(kChunk == 16);
  for (int i = 0; i < m; ++i) {
    __m256 low = _mm256_setzero_ps(), high = _mm256_setzero_ps();
    for (int c = 0; c < kDims; ++c) {
      const __m256 v = _mm256_set1_ps(q[std::size_t(c) * m + i]);
      const __m256 d0 = _mm256_sub_ps(v, _mm256_loadu_ps(&columns[c][0]));
      const __m256 d1 = _mm256_sub_ps(v, _mm256_loadu_ps(&columns[c][8]));
      low = _mm256_add_ps(low, _mm256_mul_ps(d0, d0));
      high = _mm256_add_ps(high, _mm256_mul_ps(d1, d1));
    }
    const __m256 weight = _mm256_set1_ps(w[i]);
    alignas(32) float out[kChunk];
    if (metric == Metric::Distance) low = _mm256_sqrt_ps(low), high = _mm256_sqrt_ps(high);
    _mm256_store_ps(out, _mm256_mul_ps(low, weight));
    _mm256_store_ps(out + 8, _mm256_mul_ps(high, weight));
    for (int k = 0; k < kChunk; ++k) dists[std::size_t(k) * m + i] = out[k];
  }
}
#endif

using ChunkDistances = void (*)(const float*, const float*, int, const ChunkColumns&, float*, Metric);
ChunkDistances ChooseChunkDistances() {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) return ChunkDistancesAvx2;
#endif
  return ChunkDistancesPlain;
}

[[gnu::target_clones("avx2", "default")]] void AlignFast(const float* q, const float* w, int m, const float* t,
                                                         int from, int to, float* cost, int* start, Metric metric) {
  static const ChunkDistances chunkDistances = ChooseChunkDistances();
  const std::size_t rows = std::size_t(m);
  // Kept between calls: the second alignment makes thousands of small ones.
  thread_local std::vector<float> costs, dists;
  thread_local std::vector<int> starts;
  costs.assign(3 * rows, kFar), starts.assign(3 * rows, 0), dists.assign(kChunk * rows, 0.0f);
  float *p1 = costs.data(), *p2 = p1 + rows, *cur = p2 + rows;
  int *s1 = starts.data(), *s2 = s1 + rows, *curS = s2 + rows;
  alignas(32) ChunkColumns columns;
  for (int j0 = from; j0 < to; j0 += kChunk) {
    const int width = std::min(kChunk, to - j0);
    for (int k = 0; k < kChunk; ++k)
      for (int c = 0; c < kDims; ++c) columns[c][k] = k < width ? t[std::size_t(j0 + k) * kDims + c] : 0.0f;
    chunkDistances(q, w, m, columns, dists.data(), metric);
    for (int k = 0; k < width; ++k) {
      const int j = j0 + k;
      const float* __restrict dd = &dists[std::size_t(k) * rows];
      cur[0] = dd[0];
      curS[0] = j;
      if (j == from) {
        // No path comes from before the first column.
        for (int i = 1; i < m; ++i) cur[i] = kFar + dd[i], curS[i] = j;
      } else {
        if (m > 1) {
          const bool two = p2[0] < p1[0];
          cur[1] = (two ? p2[0] : p1[0]) + dd[1];
          curS[1] = two ? s2[0] : s1[0];
        }
        const float *__restrict a1 = p1, *__restrict a2 = p2;
        const int *__restrict b1 = s1, *__restrict b2 = s2;
        float* __restrict out = cur;
        int* __restrict outS = curS;
        for (int i = 2; i < m; ++i) {
          const float x1 = a1[i - 1], x2 = a2[i - 1], c = a1[i - 2] + dd[i - 1];
          const int y1 = b1[i - 1], y2 = b2[i - 1], y0 = b1[i - 2];
          // std::min(a, b) is b < a ? b : a: the plain form's choices, without branches.
          const float best = std::min(x1, x2);
          const int two = -int(x2 < x1), skip = -int(c < best);
          const int s = (y2 & two) | (y1 & ~two);
          out[i] = std::min(best, c) + dd[i];
          outS[i] = (y0 & skip) | (s & ~skip);
        }
      }
      cost[j - from] = cur[m - 1];
      start[j - from] = curS[m - 1];
      float* f = p2;
      p2 = p1, p1 = cur, cur = f;
      int* g = s2;
      s2 = s1, s1 = curS, curS = g;
    }
  }
}

// The finer look at a speech-like prototype's candidates: bands up to 8 kHz (where "basket"
// differs from "pocket" in its s) every 10 ms (a block is 50 ms: too coarse for a word's
// consonants), from the samples around the few candidates the blocks leave in doubt.
constexpr int kFineFramesPerSecond = 100;

std::vector<BandEnergies> FineBands(const float* x, long long length, int rate) {
  const int hop = std::max(1, rate / kFineFramesPerSecond), window = BandWindowSamples(rate, kFineBands);
  std::vector<BandEnergies> out;
  BandEnergies e;
  for (long long at = 0; at + window <= length; at += hop) {
    ComputeBandEnergies(x + at, window, rate, &e, kFineBands);
    out.push_back(e);
  }
  return out;
}

// The frames' band powers averaged with their neighbours' (weights 1, 2, 1). One frame's window
// (12 to 16 ms) is shorter than a low voice's period, and where it falls on the period moves its
// bands by several dB: the average hears some 30 ms, and a copy off the frames' grid reads as the
// prototype does.
std::vector<BandEnergies> Smoothed(const std::vector<BandEnergies>& in) {
  static const std::array<float, 256> power = [] {
    std::array<float, 256> p{};
    for (int l = 0; l < 256; ++l) p[std::size_t(l)] = std::pow(10.0f, float(l) * kBandStepDb / 10);
    return p;
  }();
  const int n = int(in.size());
  std::vector<BandEnergies> out(in.size());
  for (int t = 0; t < n; ++t) {
    const BandEnergies &before = in[std::size_t(std::max(t - 1, 0))], &after = in[std::size_t(std::min(t + 1, n - 1))];
    for (int b = 0; b < kBands; ++b) {
      const float sum = power[before.level[b]] + 2 * power[in[t].level[b]] + power[after.level[b]];
      const long level = std::lround(10 * std::log10(sum / 4) / kBandStepDb);
      out[t].level[b] = std::uint8_t(std::clamp(level, 0L, 255L));
    }
  }
  return out;
}

// The prototype's fine frames at each of kWarps (as the alignment reads them), for the edge
// bands missing left out.
struct FinePrototype {
  int frames = 0;
  std::uint32_t missing = 0;
  std::vector<BandEnergies> bands;
  std::vector<float> ceps, weights;  // per warp: kDims * frames, frames
  float weight[kWarpCount] = {}, spread = 0;
  const float* Frames(int w) const { return &ceps[std::size_t(w) * kDims * frames]; }
  const float* Weights(int w) const { return &weights[std::size_t(w) * frames]; }
};

FinePrototype MakeFinePrototype(std::vector<BandEnergies> bands, std::uint32_t missing, double share) {
  FinePrototype p;
  p.frames = int(bands.size());
  if (p.frames < 2) return FinePrototype{};
  p.missing = missing;
  p.bands = std::move(bands);
  p.ceps.resize(std::size_t(kWarpCount) * kDims * p.frames), p.weights.resize(std::size_t(kWarpCount) * p.frames);
  std::vector<BandShape> raw(static_cast<std::size_t>(p.frames));
  for (int w = 0; w < kWarpCount; ++w) {
    for (int i = 0; i < p.frames; ++i) raw[i] = ShapeOf(WithoutBands(Warp(p.bands[i], kWarps[w]), missing));
    float* frames = &p.ceps[std::size_t(w) * kDims * p.frames];
    p.weight[w] = PrototypeFrames(raw, share, frames, &p.weights[std::size_t(w) * p.frames]);
    if (w > 0) continue;
    const Surroundings around = SurroundingsOf(raw.data(), raw.data() + p.frames, share);
    std::vector<float> rows(std::size_t(p.frames) * kDims);
    for (int i = 0; i < p.frames; ++i)
      for (int d = 0; d < kDims; ++d) rows[std::size_t(i) * kDims + d] = frames[std::size_t(d) * p.frames + i];
    p.spread = SpreadOf(rows.data(), raw.data(), p.frames, around.loudest);
  }
  return p;
}

// The fine frames of a block of count samples (x holds them and a window more, silence past the
// track's end): as many as hops fit, at least one, spread evenly over the block, each the bands
// of a window from there on. They depend on the block's samples and the next one's first.
void BlockFineFrames(const float* x, int count, int rate, std::vector<BandEnergies>* out) {
  const int hop = std::max(1, rate / kFineFramesPerSecond);
  const int frames = std::max(1, (count + hop / 2) / hop), window = BandWindowSamples(rate, kFineBands);
  out->resize(static_cast<std::size_t>(frames));
  for (int k = 0; k < frames; ++k)
    ComputeBandEnergies(x + static_cast<long long>(k) * count / frames, window, rate, &(*out)[std::size_t(k)], kFineBands);
}

// The least distance of the prototype, at any warp, from the fine frames (blockFrames, smoothed
// here as the prototype's are), whose frames runFrom .. runTo - 1 (the candidate's run) give the
// surroundings and the spread, as in the second alignment: the root of the path's mean squared
// frame distance.
float FineDistance(const FinePrototype& proto, const std::vector<BandEnergies>& blockFrames, int runFrom, int runTo,
                   double share, Aligner align) {
  const std::vector<BandEnergies> bands = Smoothed(blockFrames);
  const int n = int(bands.size());
  runTo = std::min(runTo, n), runFrom = std::clamp(runFrom, 0, std::max(0, runTo - 1));
  if (n < 2 || runTo <= runFrom) return kFar;
  // The edge bands either side lacks are left out of both.
  const std::uint32_t missing = MissingEdges(AbsentBands(&bands[runFrom], runTo - runFrom)) | proto.missing;
  const FinePrototype narrower = missing == proto.missing ? FinePrototype{} : MakeFinePrototype(proto.bands, missing, share);
  const FinePrototype& p = missing == proto.missing ? proto : narrower;
  std::vector<BandShape> raw(static_cast<std::size_t>(n));
  for (int j = 0; j < n; ++j) raw[j] = ShapeOf(WithoutBands(bands[j], missing));
  const Surroundings around = SurroundingsOf(&raw[runFrom], &raw[runTo], share);
  std::vector<float> local(std::size_t(n) * kDims);
  for (int j = 0; j < n; ++j) Normalise(raw[j], around.mean, around.loudest, &local[std::size_t(j) * kDims]);
  const float runSpread = SpreadOf(&local[std::size_t(runFrom) * kDims], &raw[runFrom], runTo - runFrom, around.loudest);
  const float r = std::clamp(p.spread / std::max(runSpread, 1e-3f), 1 / kSpreadRange, kSpreadRange);
  for (int j = 0; j < n; ++j)
    for (int d = 0; d < kCeps; ++d) local[std::size_t(j) * kDims + d] *= r;
  std::vector<float> c(static_cast<std::size_t>(n));
  std::vector<int> s(static_cast<std::size_t>(n));
  const float lost = kMissingBandCost * float(std::popcount(missing & ~proto.missing));
  float least = kFar;
  for (int w = 0; w < kWarpCount; ++w) {
    // A warp adds at least kWarpCost times the least shift: none beats a distance below that.
    if (w == 1 && least <= lost + kWarpCost * kLeastWarp) break;
    align(p.Frames(w), p.Weights(w), p.frames, local.data(), 0, n, c.data(), s.data(), Metric::Squared);
    for (int e = 0; e < n; ++e)
      if (c[e] < kFar) least = std::min(least, std::sqrt(c[e] / p.weight[w]) + lost + kWarpCost * std::abs(kWarps[w]));
  }
  return least;
}

// Candidates by score, the higher first, equal scores in track order: a stable sort by a key
// that falls as the score rises, three passes of a radix sort (the order of a stable sort by
// score, in a fraction of its time).
std::vector<int> ByScore(const std::vector<float>& score) {
  const std::size_t n = score.size();
  thread_local std::vector<std::uint32_t> key, keyNext;
  thread_local std::vector<int> next;
  std::vector<int> order(n);
  key.resize(n), keyNext.resize(n), next.resize(n);
  for (std::size_t j = 0; j < n; ++j) {
    std::uint32_t bits;
    const float s = score[j] == 0 ? 0.0f : score[j];  // -0 ranks as 0
    std::memcpy(&bits, &s, sizeof bits);
    const std::uint32_t rising = bits & 0x80000000u ? ~bits : bits | 0x80000000u;
    key[j] = ~rising;
    order[j] = int(j);
  }
  for (int shift : {0, 11, 22}) {
    std::array<std::uint32_t, 2048> first{};
    for (std::size_t j = 0; j < n; ++j) ++first[(key[j] >> shift) & 2047];
    std::uint32_t sum = 0;
    for (auto& f : first) sum += std::exchange(f, sum);
    for (std::size_t j = 0; j < n; ++j) {
      const std::uint32_t at = first[(key[j] >> shift) & 2047]++;
      keyNext[at] = key[j];
      next[at] = order[j];
    }
    std::swap(key, keyNext);
    std::copy(next.begin(), next.begin() + std::ptrdiff_t(n), order.begin());
  }
  return order;
}

// Heads of runs that claim their blocks without overlap, the best first: runHead per block; the
// candidates in that order (ByScore) in *order.
std::vector<int> Claim(const std::vector<float>& score, const std::vector<int>& runLength, std::vector<int>* order) {
  const int n = int(score.size());
  std::vector<int> runHead(std::size_t(n), -1);
  *order = ByScore(score);
  for (int head : *order) {
    const int end = std::min(n, head + runLength[head]);
    bool free = true;
    for (int k = head; k < end && free; ++k) free = runHead[k] < 0;
    if (free)
      for (int k = head; k < end; ++k) runHead[k] = head;
  }
  return runHead;
}

struct Best {
  float score = -1;
  int start = 0, runLength = 1, phase = 0;
};

// Per start frame, the best of the paths that end anywhere and start there.
void BestPerStart(const std::vector<float>& cost, const std::vector<int>& start, int from, float weight,
                  float scale, std::vector<Best>* best) {
  for (std::size_t e = 0; e < cost.size(); ++e) {
    if (cost[e] >= kFar) continue;
    const float s = ScoreOfCost(cost[e] / weight, scale);
    Best& b = (*best)[std::size_t(start[e])];
    if (s > b.score) b.score = s, b.runLength = from + int(e) - start[e] + 1;
  }
}

// Samples of the track from a start, for correlations with them at many lags: padded with
// zeros for a last group of lanes, with the running sums of their squares.
struct Stretch {
  std::vector<float> x;
  std::vector<double> power;  // power[k]: x[0 .. k - 1] squared
  explicit Stretch(std::vector<float> samples) : x(std::move(samples)), power(x.size() + 1, 0.0) {
    for (std::size_t k = 0; k < x.size(); ++k) power[k + 1] = power[k] + double(x[k]) * x[k];
    x.resize(x.size() + 7, 0.0f);
  }
};

// dot[l] = the sum of head[i] * xs[i + l] over i < n for l < 8, in four partial sums (i modulo
// 4) added pairwise: the same in both forms.
void EightDotsPlain(const float* head, int n, const float* xs, float* dot) {
  for (int l = 0; l < 8; ++l) {
    float part[4] = {};
    int i = 0;
    for (; i + 4 <= n; i += 4)
      for (int k = 0; k < 4; ++k) part[k] += head[i + k] * xs[i + k + l];
    for (int k = 0; i < n; ++i, ++k) part[k] += head[i] * xs[i + l];
    dot[l] = (part[0] + part[1]) + (part[2] + part[3]);
  }
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] void EightDotsAvx2(const float* head, int n, const float* xs, float* dot) {
  __m256 part[4] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
  int i = 0;
  for (; i + 4 <= n; i += 4)
    for (int k = 0; k < 4; ++k)
      part[k] = _mm256_add_ps(part[k], _mm256_mul_ps(_mm256_set1_ps(head[i + k]), _mm256_loadu_ps(xs + i + k)));
  for (int k = 0; i < n; ++i, ++k)
    part[k] = _mm256_add_ps(part[k], _mm256_mul_ps(_mm256_set1_ps(head[i]), _mm256_loadu_ps(xs + i)));
  _mm256_storeu_ps(dot, _mm256_add_ps(_mm256_add_ps(part[0], part[1]), _mm256_add_ps(part[2], part[3])));
}
#endif

using EightDots = void (*)(const float*, int, const float*, float*);
EightDots ChooseEightDots() {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) return EightDotsAvx2;
#endif
  return EightDotsPlain;
}

// The correlation of head (its power given) with the stretch at each lag lo .. hi (relative to
// the stretch's start): (correlation, lag) pairs. Eight neighbouring lags at a time.
void Correlations(const std::vector<float>& head, double headPower, const Stretch& stretch, int lo, int hi,
                  std::vector<std::pair<double, int>>* out) {
  static const EightDots eightDots = ChooseEightDots();
  const int n = int(head.size());
  out->clear();
  for (int a = lo; a <= hi; a += 8) {
    float dot[8];
    eightDots(head.data(), n, &stretch.x[std::size_t(a)], dot);
    for (int l = 0; l < 8 && a + l <= hi; ++l) {
      const double p = stretch.power[std::size_t(a + l + n)] - stretch.power[std::size_t(a + l)];
      out->push_back({dot[l] / std::sqrt(std::max(headPower * p, 1e-30)), a + l});
    }
  }
}

double Power(const std::vector<float>& v) {
  double sum = 0;
  for (float x : v) sum += double(x) * x;
  return sum;
}

// The selection's first samples, as ExactStart compares them: as they are, and summed in groups
// of kCoarseLag taken every kCoarseLag-th sample.
struct SelectionHead {
  std::vector<float> samples, sums;
  double power = 0, sumsPower = 0;
};

// Where the prototype's first samples (head) line up best with the track within reach of
// estimate, when they line up well (a copy of the selection, louder or softer); else estimate.
// The block analysis places a sound to a few milliseconds; this places a copy to the sample:
// first every kCoarseLag-th lag on samples summed in groups of as many, then every lag near the
// best few of those (a voice's periods make near ties one period apart).
// The samples ExactStart compares the head with (none when too few), read on the track's thread.
struct Around {
  long long from = 0, to = -1;
  std::vector<float> x;
};
Around ReadAround(CAP_SampleTrack& track, int headLength, long long estimate, int reach) {
  Around a;
  a.from = std::max<long long>(0, estimate - reach - kCoarseLag);
  a.to = std::min<long long>(track.Length() - headLength - kCoarseLag, estimate + reach + kCoarseLag);
  if (headLength < 64 || a.to < a.from) return Around{};
  a.x.resize(static_cast<std::size_t>(a.to - a.from + headLength + kCoarseLag));
  track.ReadSamples(a.x.data(), int(a.x.size()), int(a.from));
  return a;
}

// The same on the samples read (any thread): x from sample from on, the lags from .. to.
long long ExactStartIn(const SelectionHead& head, const std::vector<float>& x, long long from, long long to,
                       long long estimate) {
  if (x.empty()) return estimate;
  // The coarse pass: sums of kCoarseLag samples from every kCoarseLag-th sample on, correlated at
  // each of their lags (every kCoarseLag-th lag of the samples).
  std::vector<float> sums((x.size() - 1) / kCoarseLag);
  for (std::size_t k = 0; k < sums.size(); ++k) {
    float sum = 0;
    for (int j = 0; j < kCoarseLag; ++j) sum += x[k * kCoarseLag + std::size_t(j)];
    sums[k] = sum;
  }
  const Stretch coarseStretch(std::move(sums)), fine(x);
  thread_local std::vector<std::pair<double, int>> coarse, near;
  Correlations(head.sums, head.sumsPower, coarseStretch, 0, int((to - from) / kCoarseLag), &coarse);
  const std::size_t tries = std::min<std::size_t>(coarse.size(), kCoarseTries);
  std::partial_sort(coarse.begin(), coarse.begin() + std::ptrdiff_t(tries), coarse.end(),
                    [](const auto& a, const auto& b) { return a.first > b.first || (a.first == b.first && a.second < b.second); });
  double best = kExactCorrelation;
  long long found = estimate;
  const int last = int(to - from);
  for (std::size_t c = 0; c < tries; ++c) {
    const int at = coarse[c].second * kCoarseLag;
    Correlations(head.samples, head.power, fine, std::max(0, at - kCoarseLag), std::min(last, at + kCoarseLag), &near);
    for (const auto& [r, lag] : near)
      if (r > best) best = r, found = from + lag;
  }
  return found;
}

// work(0, half) here and work(half, count) on a worker thread beside it when each half has
// leastHalf items or more (and a second processor, and a thread to be had); else work(0, count).
template <class Work>
void InTwoHalves(std::size_t count, std::size_t leastHalf, const Work& work) {
  const std::size_t half = count / 2;
  std::thread worker;
  if (half >= leastHalf && std::thread::hardware_concurrency() > 1) {
    try {
      worker = std::thread(work, half, count);
    } catch (const std::system_error&) {
    }
  }
  work(0, worker.joinable() ? half : count);
  if (worker.joinable()) worker.join();
}

// What the fast search keeps for the next search of the same prototype (RememberedResults.h):
// the second alignment of each run and the placed start of each copy.
struct SearchMemory {
  RememberedResults<char>::Inputs key;  // what the prototype is made of
  Prototype prototype;                  // as the alignment reads it
  FinePrototype fine;                   // its fine frames, when it is speech-like
  RememberedResults<float> fineDistance;  // the fine distance of a run
  RememberedResults<Best> refined;        // the run's start relative to its head
  RememberedResults<long long> placed;    // the start found less the estimate
};
// The memories of the last few prototypes: an edit of the selection makes a new prototype, and
// its undo and redo bring back the ones before.
class SearchMemories {
public:
  SearchMemory& For(RememberedResults<char>::Inputs&& prototype) {
    for (SearchMemory& m : slots_)
      if (m.key == prototype) return m;
    SearchMemory& m = slots_[next_];
    next_ = (next_ + 1) % slots_.size();
    m = SearchMemory();
    m.key = std::move(prototype);
    return m;
  }

  void ForgetPrototypes() {
    slots_ = {};
    next_ = 0;
  }
  // The fine frames of blocks, whatever the prototype (BlockFineFrames).
  RememberedResults<std::vector<BandEnergies>> fineFrames;
  // The samples around each copy that ExactStart read (shared: a search only reads them).
  RememberedResults<std::shared_ptr<const Around>> aroundCopies;

private:
  std::array<SearchMemory, 3> slots_;
  std::size_t next_ = 0;
};

SearchMemories& TheMemories() {
  thread_local SearchMemories memories;
  return memories;
}

void Search(CAP_SampleTrack& track, int count, int start, Aligner align, SearchMemories* memories) {
  track.Settle();  // a computed track's changed blocks, before their shapes are made
  auto unmark = [](SampleBlock* b) {
    b->score = 0;
    b->runHead = nullptr;
    b->runLength = 0;
    b->matchOffset = 0;
    b->inPrototype = false;
  };
  if (count <= 0 || !track.Head()) {
    for (SampleBlock* b = track.Head(); b; b = b->next) unmark(b);
    return;
  }
  FillBandShapes(track);
  SampleBlock* firstBlock = track.Locate(start, nullptr);
  SampleBlock* lastBlock = track.Locate(start + count - 1, nullptr);
  std::vector<SampleBlock*> block;
  std::vector<BandShape> raw;
  block.reserve(std::size_t(track.BlockCount()));
  raw.reserve(std::size_t(track.BlockCount()));
  int firstStart = 0, protoBlocks = 0, protoIndex = 0;
  {
    int s = 0;
    bool inside = false;
    for (SampleBlock* b = track.Head(); b; s += b->count, b = b->next) {
      unmark(b);
      if (b == firstBlock) firstStart = s, protoIndex = int(block.size()), inside = true;
      if (inside) b->inPrototype = true, ++protoBlocks;
      if (b == lastBlock) inside = false;
      block.push_back(b);
      raw.push_back(b->bands->shape);
    }
  }
  const int n = int(block.size()), m = protoBlocks;
  const int headCount = std::min(count, kStartWindow);
  std::vector<long long> blockStarts(std::size_t(n) + 1, 0);
  for (int j = 0; j < n; ++j) blockStarts[j + 1] = blockStarts[j] + block[j]->count;
  // The block holding sample at (the last one for a sample past the end).
  auto blockAt = [&](long long at) {
    return int(std::upper_bound(blockStarts.begin() + 1, blockStarts.end() - 1, at) - blockStarts.begin()) - 1;
  };
  auto addStamps = [&](RememberedResults<char>::Inputs& inputs, int from, int to) {
    for (int j = from; j < to; ++j) inputs.push_back(block[j]->bands->stamp);
  };
  SearchMemory* memory = nullptr;
  if (memories) {
    // Everything the prototype's part of the search reads: its blocks, the block before (its
    // phases), what its contrast is measured against, the samples its start is placed by.
    const int lo = std::max(0, protoIndex - m - 1);
    const int hi = std::min(n, std::max(protoIndex + 2 * m, blockAt(start + headCount + kCoarseLag) + 1));
    RememberedResults<char>::Inputs key = {std::uint64_t(track.sampleRate), std::uint64_t(count),
                                           std::uint64_t(start - firstStart),
                                           std::uint64_t(std::min(firstStart, firstBlock->count)),
                                           std::uint64_t(protoIndex - lo)};
    addStamps(key, lo, hi);
    memory = &memories->For(std::move(key));
    memory->refined.StartSearch();
    memory->placed.StartSearch();
    memory->fineDistance.StartSearch();
    memories->fineFrames.StartSearch();
    memories->aroundCopies.StartSearch();
  }
  const double share = MeanShare(&raw[protoIndex], &raw[protoIndex + m]);
  // A steady sound's spectrum is all there is to it: the same distance says more.
  const float scale = kDistanceScale * float(kSteadyScale + (1 - kSteadyScale) * share);
  // A new prototype is made on a worker thread while this one lays out the track's frames
  // (neither reads the other's data, so the split changes no result).
  Prototype made;
  FinePrototype madeFine;
  // Runs of a speech-like prototype are looked at finely (below): its fine frames are made here.
  const bool fineLook = share >= kSteadyShare && count <= kFineLongest * track.sampleRate;
  std::thread maker;
  if (!memory || memory->prototype.blocks == 0 || (fineLook && memory->fine.frames == 0)) {
    PrototypeSamples samples = ReadPrototype(track, firstBlock, m, firstStart);
    std::vector<float> selection(static_cast<std::size_t>(fineLook ? count : 0));
    track.ReadSamples(selection.data(), int(selection.size()), start);
    auto make = [&made, &madeFine, share, rate = track.sampleRate, in = std::move(samples), x = std::move(selection)] {
      made = MakePrototype(in, share);
      if (x.empty()) return;
      std::vector<BandEnergies> bands = Smoothed(FineBands(x.data(), static_cast<long long>(x.size()), rate));
      const std::uint32_t missing = MissingEdges(AbsentBands(bands.data(), int(bands.size())));
      madeFine = MakeFinePrototype(std::move(bands), missing, share);
    };
    try {
      maker = std::thread(make);
    } catch (const std::system_error&) {
      make();  // no thread to be had: here
    }
  }
  const std::vector<float> frames = TrackFrames(raw, m / 2, share);
  if (maker.joinable()) maker.join();
  if (memory && memory->prototype.blocks == 0) memory->prototype = std::move(made);
  if (memory && memory->fine.frames == 0) memory->fine = std::move(madeFine);
  const Prototype& proto = memory ? memory->prototype : made;
  const int phases = proto.phases;
  const float protoContrast = Contrast(raw, protoIndex, protoIndex + m);
  const std::uint32_t protoMissing = MissingEdges(AbsentBands(proto.bands.data(), m));  // the edge bands it lacks

  // The first alignment, with the prototype as its blocks lie. The fast search splits it over two
  // threads at the middle: a path spans at most 2m - 1 frames, so the second half started 2m
  // frames before the middle (with no path from before) gives every end from the middle on the
  // same cells as the whole.
  std::vector<float> cost(static_cast<std::size_t>(n));
  std::vector<int> from(static_cast<std::size_t>(n));
  const int middle = n / 2, early = std::max(0, middle - 2 * m);
  std::thread secondHalf;
  std::vector<float> halfCost;
  std::vector<int> halfFrom;
  if (memories && middle >= kFramesPerWorker && std::thread::hardware_concurrency() > 1) {
    halfCost.resize(std::size_t(n - early)), halfFrom.resize(std::size_t(n - early));
    try {
      secondHalf = std::thread([&] {
        align(proto.Frames(0), proto.Weights(0), m, frames.data(), early, n, halfCost.data(), halfFrom.data(), Metric::Distance);
      });
    } catch (const std::system_error&) {
    }
  }
  align(proto.Frames(0), proto.Weights(0), m, frames.data(), 0, secondHalf.joinable() ? middle : n, cost.data(), from.data(),
        Metric::Distance);
  if (secondHalf.joinable()) {
    secondHalf.join();
    std::copy(halfCost.begin() + (middle - early), halfCost.end(), cost.begin() + middle);
    std::copy(halfFrom.begin() + (middle - early), halfFrom.end(), from.begin() + middle);
  }
  std::vector<Best> best(static_cast<std::size_t>(n));
  BestPerStart(cost, from, 0, proto.weight[0], scale, &best);
  for (int j = 0; j < n; ++j) best[j].start = j, best[j].score = std::max(best[j].score, 0.0f);

  // The second: the best claimed runs again at every phase, in a window around each, with the
  // candidate's own surroundings (as the prototype has its own) and its contrast with them.
  const int pad = std::max(2, m / 4 + 1);
  const float protoSpread = [&] {
    const Surroundings around = SurroundingsOf(&raw[protoIndex], &raw[protoIndex + m], share);
    std::vector<float> rows(std::size_t(m) * kDims);
    for (int i = 0; i < m; ++i)
      for (int d = 0; d < kDims; ++d) rows[std::size_t(i) * kDims + d] = proto.Frames(0)[std::size_t(d) * m + i];
    return SpreadOf(rows.data(), &raw[protoIndex], m, around.loudest);
  }();
  auto refine = [&](int head, int length) {
    const int lo = std::max(0, head - pad), hi = std::min(n, head + length + pad);
    const int runEnd = std::min(n, head + length);
    const Surroundings around = SurroundingsOf(&raw[head], &raw[runEnd], share);
    const float penalty = kContrastWeight * std::abs(Contrast(raw, head, runEnd) - protoContrast);
    std::vector<float> local(std::size_t(hi - lo) * kDims);
    for (int j = lo; j < hi; ++j) Normalise(raw[j], around.mean, around.loudest, &local[std::size_t(j - lo) * kDims]);
    // A voice that moves its spectrum less or more than the prototype's: the run's frames scaled
    // to the prototype's spread (within a range: the spread is part of what a sound is).
    const float r = std::clamp(protoSpread / std::max(SpreadOf(&local[std::size_t(head - lo) * kDims], &raw[head], runEnd - head, around.loudest), 1e-3f),
                               1 / kSpreadRange, kSpreadRange);
    for (int j = lo; j < hi; ++j)
      for (int d = 0; d < kCeps; ++d) local[std::size_t(j - lo) * kDims + d] *= r;
    std::vector<float> c(std::size_t(hi - lo));
    std::vector<int> s(std::size_t(hi - lo));
    // The least mean distance wins (scores near 100 are too close to tell phases apart).
    Best winner;
    float least = kFar;
    auto tryVariant = [&](int w, int k) {
      const int v = proto.Variant(w, k);
      align(proto.Frames(v), proto.Weights(v), m, local.data(), 0, hi - lo, c.data(), s.data(), Metric::Distance);
      for (int e = 0; e < hi - lo; ++e) {
        if (c[e] >= kFar) continue;
        const float cost = c[e] / proto.weight[v] + penalty + kWarpCost * std::abs(kWarps[w]);
        if (cost < least) least = cost, winner = {0, lo + s[e], e - s[e] + 1, k};
      }
    };
    // Every fourth phase unwarped (the distance changes smoothly with the phase), then the
    // phases two and one either side of the best so far, then the warps at the winning phase.
    for (int k = 0; k < phases; k += 4) tryVariant(0, k);
    for (int step : {2, 1}) {
      const int centre = winner.phase;
      if (centre >= step) tryVariant(0, centre - step);
      if (centre + step < phases) tryVariant(0, centre + step);
    }
    const int phase = winner.phase;
    // A warp adds at least kWarpCost times the least shift: none beats a distance below that.
    if (least > (0.0f + penalty) + kWarpCost * kLeastWarp)
      for (int w = 1; w < kWarpCount; ++w) tryVariant(w, phase);
    // Heard through a background or a narrower line: a steady prototype (whose colour a
    // background changes) as it would sound at the run's level through the background right
    // around the run (the window's least levels: farther off, the background may have stopped),
    // and both sides without the edge bands either lacks.
    const BandEnergies background = BackgroundOf(block, lo, hi);
    bool covered = false;
    int runTop = 0;
    for (int j = head; j < runEnd; ++j) {
      covered |= Covers(background, block[j]->bands->energies);
      for (int b = 0; b < kBands; ++b) runTop = std::max<int>(runTop, block[j]->bands->energies.level[b]);
    }
    covered = covered && share < kSteadyShare;
    std::vector<BandEnergies> run(static_cast<std::size_t>(runEnd - head));
    for (int j = head; j < runEnd; ++j) run[j - head] = block[j]->bands->energies;
    const std::uint32_t missing = MissingEdges(AbsentBands(run.data(), runEnd - head)) | protoMissing;
    if (covered || missing != protoMissing) {
      std::vector<BandShape> shapes(static_cast<std::size_t>(hi - lo));
      for (int j = lo; j < hi; ++j) shapes[j - lo] = ShapeOf(WithoutBands(block[j]->bands->energies, missing));
      const Surroundings shapesAround = SurroundingsOf(&shapes[head - lo], &shapes[runEnd - lo], share);
      for (int j = lo; j < hi; ++j)
        Normalise(shapes[j - lo], shapesAround.mean, shapesAround.loudest, &local[std::size_t(j - lo) * kDims]);
      const BandEnergies* protoBands = &proto.bands[std::size_t(phase) * m];
      std::vector<BandShape> protoShapes(static_cast<std::size_t>(m));
      for (int i = 0; i < m; ++i) {
        const BandEnergies& e = protoBands[i];
        protoShapes[i] = ShapeOf(WithoutBands(covered ? ThroughBackground(e, runTop - proto.loudest, background) : e, missing));
      }
      std::vector<float> frames(std::size_t(kDims) * m), weights(static_cast<std::size_t>(m));
      const float weight = PrototypeFrames(protoShapes, share, frames.data(), weights.data());
      align(frames.data(), weights.data(), m, local.data(), 0, hi - lo, c.data(), s.data(), Metric::Distance);
      for (int e = 0; e < hi - lo; ++e) {
        if (c[e] >= kFar) continue;
        const float cost = c[e] / weight + penalty + kMissingBandCost * float(std::popcount(missing));
        if (cost < least) least = cost, winner = {0, lo + s[e], e - s[e] + 1, phase};
      }
    }
    winner.score = least < kFar ? ScoreOfCost(least, scale) : -1;
    return winner;
  };
  // The same, remembered: a run far enough from the track's ends reads the blocks within
  // max(pad, length) of it and nothing else.
  // The second alignment of a round's runs (their coarse heads): what the memory holds is taken
  // from it, the rest is computed, on a worker thread beside this one when there is much of it
  // (each alignment reads only what the first pass left, so the split changes no result), and
  // kept. A run far enough from the track's ends reads the blocks within max(pad, length) of it
  // and nothing else.
  auto refineRound = [&](const std::vector<int>& heads, const std::vector<int>& runLength) {
    std::vector<Best> out(heads.size());
    std::vector<RememberedResults<Best>::Inputs> inputs(heads.size());
    std::vector<std::size_t> todo;
    for (std::size_t k = 0; k < heads.size(); ++k) {
      const int head = heads[k], length = runLength[head], reach = std::max(pad, length);
      if (memory && head - reach >= 0 && head + length + reach <= n) {
        inputs[k] = {std::uint64_t(length)};
        addStamps(inputs[k], head - reach, head + length + reach);
        if (const Best* known = memory->refined.Find(inputs[k])) {
          out[k] = *known;
          out[k].start += head;
          continue;
        }
      }
      todo.push_back(k);
    }
    auto compute = [&](std::size_t from, std::size_t to) {
      for (std::size_t t = from; t < to; ++t) out[todo[t]] = refine(heads[todo[t]], runLength[heads[todo[t]]]);
    };
    InTwoHalves(todo.size(), kRefinesPerWorker, compute);
    for (std::size_t k : todo)
      if (!inputs[k].empty()) {
        Best relative = out[k];
        relative.start -= heads[k];
        memory->refined.Keep(inputs[k], relative);
      }
    return out;
  };
  const double cells = double(phases + kWarpCount - 1) * m * (2.0 * m + 2 * pad);
  const int budget = int(std::clamp(kRefineCells / cells, 2.0, 4096.0));
  std::vector<float> score(static_cast<std::size_t>(n));
  std::vector<int> runLength(static_cast<std::size_t>(n));
  auto load = [&] {
    for (int j = 0; j < n; ++j) score[j] = best[j].score, runLength[j] = best[j].runLength;
  };
  load();
  std::vector<int> order;  // the candidates by score, as the last claims took them
  std::vector<int> runHead = Claim(score, runLength, &order);
  // Rounds: the claimed runs not yet aligned again are; the starts of their windows that the
  // second alignment did not choose keep no more than what it found, the chosen start takes the
  // result (final: the better where two meet on it); then the claims are made again, which may
  // bring other runs up.
  std::vector<char> final(std::size_t(n), 0), done(std::size_t(n), 0);
  int refinedCount = 0;
  for (int round = 0; round < kRefineRounds; ++round) {
    std::vector<int> heads;
    const float floor = share < kSteadyShare ? kSteadyRefineFloor : kRefineFloor;
    for (int head : order) {
      if (refinedCount >= budget || score[head] < floor) break;
      if (runHead[head] != head || final[head] || done[head]) continue;
      done[head] = 1;
      ++refinedCount;
      heads.push_back(head);
    }
    const std::vector<Best> refined = refineRound(heads, runLength);
    std::vector<std::pair<int, Best>> results;  // coarse head, result
    for (std::size_t k = 0; k < heads.size(); ++k) results.push_back({heads[k], refined[k]});
    if (results.empty()) break;
    for (const auto& [head, r] : results) {
      const int lo = std::max(0, head - pad), hi = std::min(n, head + runLength[head] + pad);
      for (int j = lo; j < hi; ++j)
        if (!final[j]) best[j].score = std::min(best[j].score, r.score);
    }
    for (const auto& [head, r] : results)
      if (!final[r.start] || r.score > best[r.start].score) {
        best[r.start] = r;
        final[r.start] = 1;
      }
    load();
    runHead = Claim(score, runLength, &order);
  }

  // Runs of a speech-like prototype that the blocks leave in doubt, the best kFineRuns of them,
  // are looked at again finely: their score is that of the blocks' distance and the fine one
  // together. The fine frames of each block are remembered by its stamp and those of the blocks
  // its last window reaches into (across prototypes: an edit of the selection meets the same
  // candidates), the fine distance of each run by the prototype's memory and the stamps around
  // the run.
  if (fineLook) {
    const int rate = track.sampleRate, window = BandWindowSamples(rate, kFineBands);
    const FinePrototype& fine = memory ? memory->fine : madeFine;
    const int finePad = std::min(pad, kFinePad);
    struct Candidate {
      int j, lo, hi;
      std::vector<std::vector<BandEnergies>> frames;  // per block of the window; empty: to be made
      std::vector<float> x;  // the window's samples when a block's frames are to be made
      RememberedResults<float>::Inputs inputs;
      float distance = kFar;
    };
    // A block's fine frames read on into the blocks after it, as far as a window reaches (past a
    // short one, into the next): their stamps after block k's.
    auto addReach = [&](RememberedResults<char>::Inputs& inputs, int k) {
      int reach = 0;
      for (int next = k + 1; reach < window; ++next) {
        inputs.push_back(next < n ? block[next]->bands->stamp : 0);  // 0: the track's end
        if (next >= n) break;
        reach += block[next]->count;
      }
    };
    auto frameKey = [&](int k) {
      RememberedResults<char>::Inputs key{block[k]->bands->stamp};
      addReach(key, k);
      return key;
    };
    std::vector<int> heads;
    for (int j : order) {
      if (fine.frames == 0 || heads.size() >= kFineRuns || score[j] < kFineLow) break;
      if (runHead[j] == j && !block[j]->inPrototype) heads.push_back(j);
    }
    std::sort(heads.begin(), heads.end());  // read in track order: each read walks on from the last
    std::vector<Candidate> candidates;
    std::vector<std::size_t> todo;
    for (int j : heads) {
      Candidate c{j, std::max(0, j - finePad), std::min(n, j + runLength[j] + finePad), {}, {}, {}};
      if (memory) {
        c.inputs = {std::uint64_t(runLength[j]), std::uint64_t(j - c.lo), std::uint64_t(c.hi - c.lo)};
        addStamps(c.inputs, c.lo, c.hi);
        addReach(c.inputs, c.hi - 1);
        if (const float* known = memory->fineDistance.Find(c.inputs)) {
          c.distance = *known;
          candidates.push_back(std::move(c));
          continue;
        }
      }
      c.frames.resize(std::size_t(c.hi - c.lo));
      bool complete = true;
      for (int k = c.lo; k < c.hi && memories; ++k)
        if (const auto* known = memories->fineFrames.Find(frameKey(k))) c.frames[k - c.lo] = *known;
        else complete = false;
      if (!memories || !complete) {
        const long long from = blockStarts[c.lo], end = blockStarts[c.hi] + window;
        c.x.assign(std::size_t(end - from), 0.0f);
        track.ReadSamples(c.x.data(), int(std::min<long long>(end, track.Length()) - from), int(from));
      }
      todo.push_back(candidates.size());
      candidates.push_back(std::move(c));
    }
    InTwoHalves(todo.size(), kRefinesPerWorker, [&](std::size_t a, std::size_t b) {
      std::vector<BandEnergies> bands;
      for (std::size_t t = a; t < b; ++t) {
        Candidate& c = candidates[todo[t]];
        bands.clear();
        int runFrom = 0, runTo = 0;
        for (int k = c.lo; k < c.hi; ++k) {
          std::vector<BandEnergies>& f = c.frames[k - c.lo];
          if (f.empty()) BlockFineFrames(&c.x[std::size_t(blockStarts[k] - blockStarts[c.lo])], block[k]->count, rate, &f);
          if (k == c.j) runFrom = int(bands.size());
          bands.insert(bands.end(), f.begin(), f.end());
          if (k + 1 == std::min(n, c.j + runLength[c.j])) runTo = int(bands.size());
        }
        c.distance = FineDistance(fine, bands, runFrom, runTo, share, align);
      }
    });
    for (std::size_t t : todo) {
      const Candidate& c = candidates[t];
      if (!memory) continue;
      memory->fineDistance.Keep(c.inputs, c.distance);
      if (!c.x.empty())
        for (int k = c.lo; k < c.hi; ++k) memories->fineFrames.Keep(frameKey(k), c.frames[k - c.lo]);
    }
    for (const Candidate& c : candidates) {
      const float x = c.distance / kFineScale;
      score[c.j] = 100.0f * std::exp(-x * x * x * x * x);
    }
  }

  const int selectionOffset = start - firstStart;
  for (int j = 0; j < n; ++j) {
    SampleBlock* b = block[j];
    b->score = score[j];
    b->runLength = runLength[j];
    b->runHead = runHead[j] < 0 ? nullptr : block[runHead[j]];
  }
  SelectionHead head;
  head.samples.resize(std::size_t(headCount));
  track.ReadSamples(head.samples.data(), headCount, start);
  {
    std::vector<float> ahead(std::size_t(headCount) + kCoarseLag);
    track.ReadSamples(ahead.data(), int(ahead.size()), start);
    for (std::size_t i = 0; i < std::size_t(headCount); i += kCoarseLag) {
      float sum = 0;
      for (int k = 0; k < kCoarseLag; ++k) sum += ahead[i + std::size_t(k)];
      head.sums.push_back(sum);
    }
  }
  head.power = Power(head.samples);
  head.sumsPower = Power(head.sums);
  // ExactStart, remembered: away from the track's ends it reads the samples from reach before
  // the estimate to reach after it and the head's length on, nothing else.
  const int reach = track.Capacity() / 16;
  // The runs placed by ExactStart: what the memory holds is taken from it; the rest read here
  // (the track is this thread's), correlated on a worker thread beside this one when there are
  // many (each reads only its own samples, so the split changes no result), and kept.
  struct Placing {
    int j;
    long long blockStart, span, estimate, found = 0;
    RememberedResults<long long>::Inputs inputs;
    std::shared_ptr<const Around> around;
    long long from = 0, to = -1;  // the lags ExactStart tries
  };
  std::vector<Placing> placing;
  std::vector<std::size_t> todo;
  auto setOffset = [&](int j, long long offset, long long span) {
    block[j]->matchOffset = int(std::clamp<long long>(offset, 0, std::max<long long>(span - 2, 0)));
  };
  long long blockStart = 0;
  for (int j = 0; j < n; blockStart += block[j]->count, ++j) {
    SampleBlock* b = block[j];
    if (b->runHead && b->runHead != b) b->score = b->runHead->score;
    if (b->runHead != b) continue;
    // The sound's start, kept inside the run (a Find Next from one sample after it stays in it).
    long long span = 0;
    for (int k = j; k < j + b->runLength && k < n; ++k) span += block[k]->count;
    const long long offset = proto.offset[best[j].phase] + selectionOffset;
    if (b->score < kExactStartFloor || b->inPrototype) {
      setOffset(j, offset, span);
      continue;
    }
    Placing p{j, blockStart, span, blockStart + offset};
    const long long from = p.estimate - reach - kCoarseLag, to = p.estimate + reach + kCoarseLag;
    const long long end = to + headCount + kCoarseLag;
    if (memory && from >= 0 && to <= track.Length() - headCount - kCoarseLag) {
      const int first = blockAt(from);
      p.inputs = {std::uint64_t(from - blockStarts[first])};
      addStamps(p.inputs, first, blockAt(end - 1) + 1);
      if (const long long* known = memory->placed.Find(p.inputs)) {
        setOffset(j, p.estimate + *known - blockStart, span);
        continue;
      }
    }
    // The samples around a copy stay what they were when the blocks they lie on do, whatever the
    // selection (after an edit of it, the copies are read from memory).
    if (!p.inputs.empty()) {
      RememberedResults<Around>::Inputs key = p.inputs;
      key.push_back(std::uint64_t(headCount));
      if (const auto* known = memories->aroundCopies.Find(key)) {
        // The same samples may lie elsewhere now: the place is this copy's (the track's ends are
        // out of reach here).
        p.around = *known;
        p.from = from, p.to = to;
      } else {
        p.around = std::make_shared<const Around>(ReadAround(track, headCount, p.estimate, reach));
        p.from = p.around->from, p.to = p.around->to;
        memories->aroundCopies.Keep(key, p.around);
      }
    } else {
      p.around = std::make_shared<const Around>(ReadAround(track, headCount, p.estimate, reach));
      p.from = p.around->from, p.to = p.around->to;
    }
    todo.push_back(placing.size());
    placing.push_back(std::move(p));
  }
  auto compute = [&](std::size_t from, std::size_t to) {
    for (std::size_t t = from; t < to; ++t) {
      Placing& p = placing[todo[t]];
      p.found = ExactStartIn(head, p.around->x, p.from, p.to, p.estimate);
    }
  };
  InTwoHalves(todo.size(), kPlacingsPerWorker, compute);
  for (const Placing& p : placing) {
    if (!p.inputs.empty()) memory->placed.Keep(p.inputs, p.found - p.estimate);
    setOffset(p.j, p.found - p.blockStart, p.span);
  }
}
}  // namespace

bool ParseSearchMode(const std::string& name, SearchMode* mode) {
  for (SearchMode m : {SearchMode::Sound, SearchMode::Anywhere, SearchMode::Grid})
    if (name == SearchModeName(m)) {
      *mode = m;
      return true;
    }
  return false;
}

const char* SearchModeName(SearchMode mode) {
  switch (mode) {
    case SearchMode::Anywhere: return "anywhere";
    case SearchMode::Grid: return "grid";
    default: return "sound";
  }
}

void ComputeSoundMatches(CAP_SampleTrack& track, int count, int start) {
  // The alignment grows with the prototype's length times the track's: a selection longer than
  // kLongestPrototype seconds is searched by signatures (whose cost grows the same way, with a
  // smaller factor), so that selecting a whole long file does not stall the editor.
  if (count > kLongestPrototype * track.sampleRate) {
    track.ComputeMatches(count, start, kMatchAnywherePhases);
    return;
  }
  Search(track, count, start, AlignFast, &TheMemories());
}

void ForgetRememberedSearches() { TheMemories() = SearchMemories(); }

void ForgetRememberedPrototypes() { TheMemories().ForgetPrototypes(); }

void ComputeSoundMatchesReference(CAP_SampleTrack& track, int count, int start) {
  Search(track, count, start, AlignPlain, nullptr);
}

void FindSoundsLike(CAP_SampleTrack& track, int count, int start, SearchMode mode) {
  switch (mode) {
    case SearchMode::Sound: ComputeSoundMatches(track, count, start); break;
    case SearchMode::Anywhere: track.ComputeMatches(count, start, kMatchAnywherePhases); break;
    case SearchMode::Grid: track.ComputeMatches(count, start, kGridPhases); break;
  }
}
