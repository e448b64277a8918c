#include "analysis/TrackBands.h"

#include "analysis/SampleTrack.h"

void TrackBands::Update(const SampleBlock* block, int rate) {
  Entry& e = entries_[block];
  ComputeBandEnergies(block->Samples(), block->count, rate, &e.bands);
  e.shape = ::ShapeOf(e.bands);
  e.signature = block->signature;
  e.count = block->count;
  e.rate = rate;
}

const TrackBands::Entry& TrackBands::EntryOf(const SampleBlock* block, int rate) {
  auto it = entries_.find(block);
  if (it == entries_.end() || it->second.count != block->count || it->second.rate != rate ||
      !(it->second.signature == block->signature)) {
    Update(block, rate);
    it = entries_.find(block);
  }
  return it->second;
}
