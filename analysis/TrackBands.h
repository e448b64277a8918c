#pragma once
// The band energies of a track's blocks (and their shape, as the search reads it), kept beside
// the block records: brought up to date whenever a block's samples are (with its signature),
// dropped with the block, and computed from the samples on first use where a block came without
// them or changed behind the track's back.
#include <cstdint>
#include <unordered_map>

#include "analysis/BandEnergies.h"
#include "analysis/SoundSignature.h"

struct SampleBlock;

class TrackBands {
public:
  void Update(const SampleBlock* block, int rate);
  // The same from the block's samples given (a computed block keeps none).
  void Update(const SampleBlock* block, const float* samples, int rate);
  // Bands computed elsewhere (another thread) for the block as it is now.
  void Set(const SampleBlock* block, const BandEnergies& bands, int rate);
  // A copy of a block takes its entry (a computed block's bands cannot be made again from it).
  void Copy(const SampleBlock* from, const SampleBlock* to);
  void Forget(const SampleBlock* block) { entries_.erase(block); }
  // The block's bands; recomputed when the block's length or signature no longer agree with
  // the ones they were computed with (samples changed behind the track's back).
  const BandEnergies& Of(const SampleBlock* block, int rate) { return EntryOf(block, rate).bands; }
  const BandShape& ShapeOf(const SampleBlock* block, int rate) { return EntryOf(block, rate).shape; }
  std::size_t Size() const { return entries_.size(); }

private:
  struct Entry {
    BandEnergies bands;
    BandShape shape;
    SoundSignature signature;
    std::int32_t count = -1;
    std::int32_t rate = 0;
  };
  const Entry& EntryOf(const SampleBlock* block, int rate);
  std::unordered_map<const SampleBlock*, Entry> entries_;
};
