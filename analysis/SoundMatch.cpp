#include "analysis/SoundMatch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <vector>

#include "analysis/SampleTrack.h"
#include "analysis/TrackBands.h"

namespace {
constexpr int kCeps = 12;       // c1..c12: the spectrum's shape; c0, the level, is left out
constexpr int kPhases = 16;     // shifts of the prototype tried on the best candidates
constexpr float kFar = 1e30f;   // the cost of a cell no path reaches
// Score points lost per unit of mean cepstral distance (half-decibel units): calibrated on the
// generated corpus (bench/sound_search) so that 70 separates the same word said otherwise from
// other words of the same voice.
constexpr float kPointsPerUnit = 1.0f;
// The second alignment takes the best candidates down to this coarse score, as many as a budget
// of alignment cells allows.
constexpr float kRefineFloor = 20.0f;
constexpr double kRefineCells = 3e7;

// cos(pi k (b + 1/2) / bands) scaled to half-decibel band units, for k = 1..kCeps.
const std::array<std::array<float, kBands>, kCeps>& CosineTable() {
  static const auto table = [] {
    std::array<std::array<float, kBands>, kCeps> t{};
    for (int k = 0; k < kCeps; ++k)
      for (int b = 0; b < kBands; ++b)
        t[k][b] = float(kBandStepDb * 2.0 / kBands * std::cos(M_PI * (k + 1) * (b + 0.5) / kBands));
    return t;
  }();
  return table;
}

// A block as the alignment first sees it: its level (dB of the mean band power) and the shape of
// its spectrum as cepstra. Bands more than kDepthDb below the block's strongest are raised to
// that depth, so that nearly empty bands (a phone line's, a quiet background's) weigh no more
// than a faint sound would.
constexpr float kDepthDb = 50.0f;
struct RawFrame {
  float level;
  float ceps[kCeps];
};

RawFrame Analyse(const BandEnergies& bands) {
  RawFrame f;
  int top = 0;
  double power = 0;
  for (int b = 0; b < kBands; ++b) {
    top = std::max<int>(top, bands.level[b]);
    power += std::pow(10.0, (bands.level[b] * kBandStepDb + kBandFloorDb) / 10);
  }
  f.level = float(10 * std::log10(power / kBands + 1e-30));
  const float depth = float(top) - kDepthDb / kBandStepDb;
  const auto& table = CosineTable();
  for (int k = 0; k < kCeps; ++k) {
    float sum = 0;
    for (int b = 0; b < kBands; ++b) sum += std::max(float(bands.level[b]), depth) * table[k][b];
    f.ceps[k] = sum;
  }
  return f;
}

// What the alignment compares: per frame the cepstra less their mean over the sound around it
// (a steady colouring of the spectrum, a room's or a line's, cancels) and the level below the
// loudest frame around it (the loudness contour, whatever the overall level). "Around" is the
// prototype itself for the prototype, and for the track a window as long as the prototype
// centred on the frame. Frames well below the loudest (or below kQuietDb) add nothing to the
// mean, and a level reads at most kContourDb below.
constexpr int kDims = kCeps + 1;
constexpr float kQuietDb = -80.0f;
constexpr float kContourDb = 30.0f;
constexpr float kContourWeight = 0.3f;  // per dB, against the cepstra's dB
constexpr double kMeanShare = 0.5;      // of the mean taken off

float Presence(float level, float loudest) {
  if (level < kQuietDb) return 0;
  return std::clamp((level - loudest + kContourDb) / 10.0f, 0.0f, 1.0f);
}

void Normalise(const RawFrame& f, const float* mean, float loudest, float* out) {
  for (int k = 0; k < kCeps; ++k) out[k] = f.ceps[k] - mean[k];
  const float contour = f.level < kQuietDb ? -kContourDb : std::max(f.level - loudest, -kContourDb);
  out[kCeps] = kContourWeight * contour;
}

// The track's frames, kDims each; h frames on either side make the window.
std::vector<float> TrackFrames(const std::vector<RawFrame>& raw, int h) {
  const int n = int(raw.size());
  std::vector<float> loudest(static_cast<std::size_t>(n));
  for (int j = 0; j < n; ++j) {
    float top = -1e9f;
    for (int k = std::max(0, j - h); k <= std::min(n - 1, j + h); ++k) top = std::max(top, raw[k].level);
    loudest[j] = top;
  }
  // Running sums of the weighted cepstra over the window.
  std::vector<double> sum(std::size_t(n + 1) * (kCeps + 1), 0.0);
  for (int j = 0; j < n; ++j) {
    const float w = Presence(raw[j].level, loudest[j]);
    for (int k = 0; k < kCeps; ++k)
      sum[std::size_t(j + 1) * (kCeps + 1) + k] = sum[std::size_t(j) * (kCeps + 1) + k] + double(w) * raw[j].ceps[k];
    sum[std::size_t(j + 1) * (kCeps + 1) + kCeps] = sum[std::size_t(j) * (kCeps + 1) + kCeps] + w;
  }
  std::vector<float> out(std::size_t(n) * kDims);
  float mean[kCeps];
  for (int j = 0; j < n; ++j) {
    const std::size_t lo = std::size_t(std::max(0, j - h)) * (kCeps + 1), hi = std::size_t(std::min(n, j + h + 1)) * (kCeps + 1);
    const double weight = sum[hi + kCeps] - sum[lo + kCeps];
    for (int k = 0; k < kCeps; ++k)
      mean[k] = weight > 1e-6 ? float(kMeanShare * (sum[hi + k] - sum[lo + k]) / weight) : 0.0f;
    Normalise(raw[j], mean, loudest[j], &out[std::size_t(j) * kDims]);
  }
  return out;
}

// The mean and the loudest level of frames first .. end - 1, as the frames' own surroundings.
struct Surroundings {
  float mean[kCeps];
  float loudest;
};
Surroundings SurroundingsOf(const RawFrame* first, const RawFrame* end) {
  Surroundings s;
  s.loudest = -1e9f;
  for (const RawFrame* f = first; f < end; ++f) s.loudest = std::max(s.loudest, f->level);
  double mean[kCeps] = {}, weight = 0;
  for (const RawFrame* f = first; f < end; ++f) {
    const float w = Presence(f->level, s.loudest);
    for (int k = 0; k < kCeps; ++k) mean[k] += double(w) * f->ceps[k];
    weight += w;
  }
  for (int k = 0; k < kCeps; ++k) s.mean[k] = weight > 1e-6 ? float(kMeanShare * mean[k] / weight) : 0.0f;
  return s;
}

// The prototype's frames laid out dimension by dimension (out[d * m + i]).
void PrototypeFrames(const std::vector<RawFrame>& raw, float* out) {
  const int m = int(raw.size());
  const Surroundings around = SurroundingsOf(raw.data(), raw.data() + m);
  float frame[kDims];
  for (int i = 0; i < m; ++i) {
    Normalise(raw[i], around.mean, around.loudest, frame);
    for (int d = 0; d < kDims; ++d) out[std::size_t(d) * m + i] = frame[d];
  }
}

float ScoreOfCost(float meanDistance) { return std::max(0.0f, 100.0f - kPointsPerUnit * meanDistance); }

// The prototype as the alignment reads it, phase by phase: frames laid out dimension by
// dimension (ceps[(k * kDims + d) * blocks + i]), and the shift of each phase.
struct Prototype {
  int blocks = 0;
  std::vector<int> offset;
  std::vector<float> ceps;
  const float* Phase(int k) const { return &ceps[std::size_t(k) * kDims * blocks]; }
};

// The prototype's blocks first .. (blocks of them), shifted back by equal steps of the first
// block as far as the track reaches back (the signature search's phases).
Prototype MakePrototype(CAP_SampleTrack& track, SampleBlock* first, int blocks, int firstStart) {
  Prototype p;
  p.blocks = blocks;
  p.offset.push_back(0);
  for (int k = 1; k < kPhases; ++k) {
    const int d = int(static_cast<long long>(k) * first->count / kPhases);
    if (d > firstStart || d == p.offset.back()) break;
    p.offset.push_back(d);
  }
  p.ceps.assign(p.offset.size() * kDims * std::size_t(blocks), 0.0f);
  std::vector<float> samples;
  std::vector<RawFrame> raw(static_cast<std::size_t>(blocks));
  for (std::size_t k = 0; k < p.offset.size(); ++k) {
    int s = firstStart, i = 0;
    for (SampleBlock* b = first; b && i < blocks; s += b->count, b = b->next, ++i) {
      BandEnergies bands;
      if (k == 0) {
        bands = track.Bands().Of(b, track.sampleRate);
      } else {
        samples.resize(std::size_t(b->count));
        track.ReadSamples(samples.data(), b->count, s - p.offset[k]);
        ComputeBandEnergies(samples.data(), b->count, track.sampleRate, &bands);
      }
      raw[i] = Analyse(bands);
    }
    PrototypeFrames(raw, &p.ceps[k * kDims * std::size_t(blocks)]);
  }
  return p;
}

float Distance(const float* q, int m, int i, const float* t) {
  float sum = 0;
  for (int c = 0; c < kDims; ++c) {
    const float d = q[std::size_t(c) * m + i] - t[c];
    sum += d * d;
  }
  return std::sqrt(sum);
}

// The alignment of the prototype's m frames q (coefficient by coefficient) with the track's
// frames t[j * kDims ..] for j in from .. to - 1. A path takes each prototype frame once: on to
// the next track frame (a step), over one (the candidate slower), or two prototype frames on one
// track frame (the candidate faster). For each end j: the path's summed distance (kFar where none
// reaches) and the track frame where it starts. Every cell is computed the same way by both
// forms, so their results agree bit for bit.
using Aligner = void (*)(const float* q, int m, const float* t, int from, int to, float* cost, int* start);

// Plain: the whole matrix, cell by cell.
void AlignPlain(const float* q, int m, const float* t, int from, int to, float* cost, int* start) {
  const int n = to - from;
  std::vector<float> D(std::size_t(m) * n);
  std::vector<int> S(std::size_t(m) * n);
  auto at = [&](int i, int j) { return std::size_t(i) * n + j; };
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) {
      const float d = Distance(q, m, i, t + std::size_t(from + j) * kDims);
      if (i == 0) {
        D[at(0, j)] = d;
        S[at(0, j)] = from + j;
        continue;
      }
      float best = j >= 1 ? D[at(i - 1, j - 1)] : kFar;
      int s = j >= 1 ? S[at(i - 1, j - 1)] : from + j;
      if (j >= 2 && D[at(i - 1, j - 2)] < best) best = D[at(i - 1, j - 2)], s = S[at(i - 1, j - 2)];
      if (i >= 2 && j >= 1) {
        const float c = D[at(i - 2, j - 1)] + Distance(q, m, i - 1, t + std::size_t(from + j) * kDims);
        if (c < best) best = c, s = S[at(i - 2, j - 1)];
      }
      D[at(i, j)] = best + d;
      S[at(i, j)] = s;
    }
  for (int j = 0; j < n; ++j) cost[j] = D[at(m - 1, j)], start[j] = S[at(m - 1, j)];
}

// Fast: column by column with two columns kept, the distances of a column computed together.
void AlignFast(const float* q, int m, const float* t, int from, int to, float* cost, int* start) {
  const std::size_t rows = std::size_t(m);
  std::vector<float> dist(rows), p1(rows, kFar), p2(rows, kFar), cur(rows);
  std::vector<int> s1(rows, 0), s2(rows, 0), curS(rows);
  for (int j = from; j < to; ++j) {
    const float* f = t + std::size_t(j) * kDims;
    float* __restrict dd = dist.data();
    std::fill(dist.begin(), dist.end(), 0.0f);
    for (int c = 0; c < kDims; ++c) {
      const float* __restrict qc = q + std::size_t(c) * m;
      const float v = f[c];
      for (int i = 0; i < m; ++i) {
        const float d = qc[i] - v;
        dd[i] += d * d;
      }
    }
    for (int i = 0; i < m; ++i) dd[i] = std::sqrt(dd[i]);
    cur[0] = dd[0];
    curS[0] = j;
    const bool first = j == from;
    for (int i = 1; i < m; ++i) {
      float best = p1[i - 1];
      int s = first ? j : s1[i - 1];
      if (p2[i - 1] < best) best = p2[i - 1], s = s2[i - 1];
      if (i >= 2 && !first) {
        const float c = p1[i - 2] + dd[i - 1];
        if (c < best) best = c, s = s1[i - 2];
      }
      cur[i] = best + dd[i];
      curS[i] = s;
    }
    cost[j - from] = cur[m - 1];
    start[j - from] = curS[m - 1];
    std::swap(p2, p1);
    std::swap(p1, cur);
    std::swap(s2, s1);
    std::swap(s1, curS);
  }
}

// Candidates by score, the higher first, equal scores in track order.
std::vector<int> ByScore(const std::vector<float>& score) {
  std::vector<int> order(score.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return score[a] > score[b]; });
  return order;
}

// Heads of runs that claim their blocks without overlap, the best first: runHead per block.
std::vector<int> Claim(const std::vector<float>& score, const std::vector<int>& runLength) {
  const int n = int(score.size());
  std::vector<int> runHead(std::size_t(n), -1);
  for (int head : ByScore(score)) {
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
void BestPerStart(const std::vector<float>& cost, const std::vector<int>& start, int from, int m,
                  std::vector<Best>* best) {
  for (std::size_t e = 0; e < cost.size(); ++e) {
    if (cost[e] >= kFar) continue;
    const float s = ScoreOfCost(cost[e] / float(m));
    Best& b = (*best)[std::size_t(start[e])];
    if (s > b.score) b.score = s, b.runLength = from + int(e) - start[e] + 1;
  }
}

void Search(CAP_SampleTrack& track, int count, int start, Aligner align) {
  for (SampleBlock* b = track.Head(); b; b = b->next) {
    b->score = 0;
    b->runHead = nullptr;
    b->runLength = 0;
    b->matchOffset = 0;
    b->inPrototype = false;
  }
  if (count <= 0 || !track.Head()) return;
  SampleBlock* firstBlock = track.Locate(start, nullptr);
  SampleBlock* lastBlock = track.Locate(start + count - 1, nullptr);
  std::vector<SampleBlock*> block;
  std::vector<RawFrame> raw;
  int firstStart = 0, protoBlocks = 0;
  {
    int s = 0;
    bool inside = false;
    for (SampleBlock* b = track.Head(); b; s += b->count, b = b->next) {
      if (b == firstBlock) firstStart = s, inside = true;
      if (inside) b->inPrototype = true, ++protoBlocks;
      if (b == lastBlock) inside = false;
      block.push_back(b);
      raw.push_back(Analyse(track.Bands().Of(b, track.sampleRate)));
    }
  }
  const int n = int(block.size()), m = protoBlocks;
  const std::vector<float> frames = TrackFrames(raw, m / 2);
  const Prototype proto = MakePrototype(track, firstBlock, m, firstStart);
  const int phases = int(proto.offset.size());

  // The first alignment, with the prototype as its blocks lie.
  std::vector<float> cost(static_cast<std::size_t>(n));
  std::vector<int> from(static_cast<std::size_t>(n));
  align(proto.Phase(0), m, frames.data(), 0, n, cost.data(), from.data());
  std::vector<Best> best(static_cast<std::size_t>(n));
  BestPerStart(cost, from, 0, m, &best);
  for (int j = 0; j < n; ++j) best[j].start = j, best[j].score = std::max(best[j].score, 0.0f);

  // The second: the best claimed runs again at every phase, in a window around each.
  std::vector<float> score(static_cast<std::size_t>(n));
  std::vector<int> runLength(static_cast<std::size_t>(n));
  for (int j = 0; j < n; ++j) score[j] = best[j].score, runLength[j] = best[j].runLength;
  const std::vector<int> coarseHead = Claim(score, runLength);
  const int pad = std::max(2, m / 4 + 1);
  const double cells = double(phases) * m * (2.0 * m + 2 * pad);
  const int budget = int(std::clamp(kRefineCells / cells, 8.0, 4096.0));
  std::vector<std::pair<int, Best>> refined;  // coarse head, result
  for (int head : ByScore(score)) {
    if (int(refined.size()) >= budget || score[head] < kRefineFloor) break;
    if (coarseHead[head] != head) continue;
    const int lo = std::max(0, head - pad), hi = std::min(n, head + runLength[head] + pad);
    // The window's frames with the candidate's own surroundings, as the prototype has its own.
    const Surroundings around = SurroundingsOf(&raw[head], &raw[std::min(n, head + runLength[head])]);
    std::vector<float> local(std::size_t(hi - lo) * kDims);
    for (int j = lo; j < hi; ++j) Normalise(raw[j], around.mean, around.loudest, &local[std::size_t(j - lo) * kDims]);
    std::vector<float> c(std::size_t(hi - lo));
    std::vector<int> s(std::size_t(hi - lo));
    Best winner;
    for (int k = 0; k < phases; ++k) {
      align(proto.Phase(k), m, local.data(), 0, hi - lo, c.data(), s.data());
      for (int e = 0; e < hi - lo; ++e) {
        if (c[e] >= kFar) continue;
        const float sc = ScoreOfCost(c[e] / float(m));
        if (sc > winner.score) winner = {sc, lo + s[e], e - s[e] + 1, k};
      }
    }
    refined.push_back({head, winner});
  }
  // A coarse head that the second alignment moved keeps no more than what it found; the found
  // start takes the result (the better one where two candidates meet on it).
  for (const auto& [head, r] : refined)
    if (r.start != head) best[head].score = std::min(best[head].score, r.score);
  std::vector<char> taken(std::size_t(n), 0);
  for (const auto& [head, r] : refined)
    if (r.score >= 0 && (!taken[r.start] || r.score > best[r.start].score)) {
      best[r.start] = r;
      taken[r.start] = 1;
    }
  for (int j = 0; j < n; ++j) score[j] = best[j].score, runLength[j] = best[j].runLength;
  const std::vector<int> runHead = Claim(score, runLength);

  const int selectionOffset = start - firstStart;
  for (int j = 0; j < n; ++j) {
    SampleBlock* b = block[j];
    b->score = score[j];
    b->runLength = runLength[j];
    b->runHead = runHead[j] < 0 ? nullptr : block[runHead[j]];
  }
  for (int j = 0; j < n; ++j) {
    SampleBlock* b = block[j];
    if (b->runHead && b->runHead != b) b->score = b->runHead->score;
    if (b->runHead != b) continue;
    // The sound's start, kept inside the run (a Find Next from one sample after it stays in it).
    long long span = 0;
    for (int k = j; k < j + b->runLength && k < n; ++k) span += block[k]->count;
    b->matchOffset = int(std::min<long long>(proto.offset[best[j].phase] + selectionOffset,
                                             std::max<long long>(span - 2, 0)));
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

void ComputeSoundMatches(CAP_SampleTrack& track, int count, int start) { Search(track, count, start, AlignFast); }

void ComputeSoundMatchesReference(CAP_SampleTrack& track, int count, int start) {
  Search(track, count, start, AlignPlain);
}

void FindSoundsLike(CAP_SampleTrack& track, int count, int start, SearchMode mode) {
  switch (mode) {
    case SearchMode::Sound: ComputeSoundMatches(track, count, start); break;
    case SearchMode::Anywhere: track.ComputeMatches(count, start, kMatchAnywherePhases); break;
    case SearchMode::Grid: track.ComputeMatches(count, start, kGridPhases); break;
  }
}
