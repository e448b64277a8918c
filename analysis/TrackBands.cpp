#include "analysis/TrackBands.h"

#include "analysis/SampleTrack.h"

void TrackBands::Update(const SampleBlock* block, int rate) { Update(block, block->Samples(), rate); }

void TrackBands::Copy(const SampleBlock* from, const SampleBlock* to) {
  auto it = entries_.find(from);
  if (it == entries_.end()) return;
  const Entry& entry = it->second;  // references stay valid when the map grows
  entries_[to] = entry;
}

void TrackBands::Update(const SampleBlock* block, const float* samples, int rate) {
  BandEnergies bands;
  ComputeBandEnergies(samples, block->count, rate, &bands);
  Set(block, bands, rate);
}

void TrackBands::Set(const SampleBlock* block, const BandEnergies& bands, int rate) {
  Entry& e = entries_[block];
  e.bands = bands;
  e.shape = ::ShapeOf(e.bands);
  e.signature = block->signature;
  e.count = block->count;
  e.rate = rate;
}

const TrackBands::Entry& TrackBands::EntryOf(const SampleBlock* block, int rate) {
  auto it = entries_.find(block);
  if (it == entries_.end() || it->second.count != block->count || it->second.rate != rate ||
      !(it->second.signature == block->signature)) {
    // A computed block's bands come with its settling: its storage holds no samples to read.
    if (block->computed) return entries_[block];
    Update(block, rate);
    it = entries_.find(block);
  }
  return it->second;
}
