#include "analysis/TrackBands.h"

#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/SampleTrack.h"

namespace {
// Below this many blocks (about 20 s) a second thread costs more than it saves.
constexpr std::size_t kBlocksPerWorker = 200;

// A 64-bit hash of the samples' bits, their count and the rate: blocks made again with the same
// samples (by an undo, or a mix written again) get the same stamp, so that what the search
// remembers of them still serves.
std::uint64_t ContentStamp(const float* samples, int n, int rate) {
  auto mix = [](std::uint64_t h, std::uint64_t v) {
    h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
    return h * 0xff51afd7ed558ccdull;
  };
  std::uint64_t h = mix(std::uint64_t(n), std::uint64_t(rate));
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    std::uint64_t pair;
    std::memcpy(&pair, samples + i, sizeof pair);
    h = mix(h, pair);
  }
  if (i < n) {
    std::uint32_t last;
    std::memcpy(&last, samples + i, sizeof last);
    h = mix(h, last);
  }
  return h ^ (h >> 33);
}

void MakeShape(SampleBlock* b, const float* samples, int rate, BandEnergies& bands) {
  ComputeBandEnergies(samples, b->count, rate, &bands);
  if (!b->bands) b->bands = std::make_unique<BlockBands>();
  b->bands->energies = bands;
  b->bands->shape = ShapeOf(bands);
  b->bands->rate = rate;
  b->bands->stamp = ContentStamp(samples, b->count, rate);
}

void ComputeShapes(SampleBlock* const* blocks, std::size_t n, int rate) {
  BandEnergies bands;
  for (std::size_t i = 0; i < n; ++i) MakeShape(blocks[i], blocks[i]->Samples(), rate, bands);
}

// A computed track's blocks hold no samples: each one's are produced from the track's sources,
// in order, on this thread.
void ComputeShapesProduced(CAP_SampleTrack& track, int rate) {
  BandEnergies bands;
  std::vector<float> samples;
  int start = 0;
  for (SampleBlock* b = track.Head(); b; start += b->count, b = b->next) {
    if (b->bands && b->bands->rate == rate) continue;
    samples.resize(std::size_t(b->count));
    track.ReadSamples(samples.data(), b->count, start);
    MakeShape(b, samples.data(), rate, bands);
  }
}
}  // namespace

void FillBandShapes(CAP_SampleTrack& track) {
  const int rate = track.sampleRate;
  if (track.Computed()) return ComputeShapesProduced(track, rate);
  std::vector<SampleBlock*> missing;
  for (SampleBlock* b = track.Head(); b; b = b->next)
    if (!b->bands || b->bands->rate != rate) missing.push_back(b);
  if (missing.empty()) return;
  // Each block's shape comes from its own samples alone: the split changes no result.
  const std::size_t half = missing.size() / 2;
  if (half < kBlocksPerWorker || std::thread::hardware_concurrency() < 2) {
    ComputeShapes(missing.data(), missing.size(), rate);
    return;
  }
  std::thread worker;
  try {
    worker = std::thread(ComputeShapes, missing.data() + half, missing.size() - half, rate);
  } catch (const std::system_error&) {
    ComputeShapes(missing.data(), missing.size(), rate);  // no thread to be had: all here
    return;
  }
  ComputeShapes(missing.data(), half, rate);
  worker.join();
}
