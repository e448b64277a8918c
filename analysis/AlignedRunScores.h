#pragma once
// Run scores of candidates whose blocks line up one to one with the prototype's (every pair of
// the same length, as on a track loaded in equal blocks): each pair then weighs 1 and the run's
// sum is a plain sum, which is computed for kAlignedLanes neighbouring candidates at once.
// Every sum is bit for bit the one the block walk of the search adds up.
#include <cstdint>
#include <vector>

#include "analysis/SignatureKernels.h"

inline constexpr int kAlignedLanes = 16;

// The track's packed signatures laid out lag by lag, so that one prototype block meets many
// consecutive track blocks in one vector. Padded with invalid entries past the last block.
struct SignaturePlanes {
  explicit SignaturePlanes(const std::vector<PackedSignature>& track);
  int stride = 0;
  // The distances above the neutral byte lag by lag, then those below: 2 x kSignatureLags rows of
  // stride entries.
  std::vector<std::uint16_t> rows;
  // Small integers, held as floats for the vector code; valid is all bits set or none.
  std::vector<float> spread, impulse;
  std::vector<std::int32_t> valid;
};

// One prototype block as the comparison needs it: per lag the magnitude of its distance from
// the neutral byte and the track row (above or below) that the distance can agree with.
struct PrototypeRow {
  PrototypeRow(const PackedSignature& s, int stride);
  std::uint16_t magnitude[kSignatureLags];
  std::int32_t row[kSignatureLags];  // offset of the row in SignaturePlanes::rows
  std::int32_t spread, impulse;
  bool valid;
};

// sums[k * kAlignedLanes + l] = the sum over j < blocks of the comparison of rows[k * blocks + j]
// with track block candidate + l + j, for each of phases prototypes of blocks rows.
void AlignedRunSums(const SignaturePlanes& planes, const PrototypeRow* rows, int phases, int blocks,
                    int candidate, float* sums);
