#include "analysis/TrackBands.h"

#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/SampleTrack.h"

namespace {
// Below this many blocks (about 20 s) a second thread costs more than it saves.
constexpr std::size_t kBlocksPerWorker = 200;

std::atomic<std::uint64_t> lastStamp{0};

void ComputeShapes(SampleBlock* const* blocks, std::size_t n, int rate, std::uint64_t firstStamp) {
  BandEnergies bands;
  for (std::size_t i = 0; i < n; ++i) {
    SampleBlock* b = blocks[i];
    ComputeBandEnergies(b->Samples(), b->count, rate, &bands);
    b->bands.shape = ShapeOf(bands);
    b->bands.rate = rate;
    b->bands.stamp = firstStamp + i;
  }
}
}  // namespace

void FillBandShapes(CAP_SampleTrack& track) {
  const int rate = track.sampleRate;
  std::vector<SampleBlock*> missing;
  for (SampleBlock* b = track.Head(); b; b = b->next)
    if (b->bands.rate != rate) missing.push_back(b);
  if (missing.empty()) return;
  const std::uint64_t first = lastStamp.fetch_add(missing.size()) + 1;
  // Each block's shape comes from its own samples alone: the split changes no result.
  const std::size_t half = missing.size() / 2;
  if (half < kBlocksPerWorker || std::thread::hardware_concurrency() < 2) {
    ComputeShapes(missing.data(), missing.size(), rate, first);
    return;
  }
  std::thread worker;
  try {
    worker = std::thread(ComputeShapes, missing.data() + half, missing.size() - half, rate, first + half);
  } catch (const std::system_error&) {
    ComputeShapes(missing.data(), missing.size(), rate, first);  // no thread to be had: all here
    return;
  }
  ComputeShapes(missing.data(), half, rate, first);
  worker.join();
}
