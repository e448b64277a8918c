#pragma once
// Run scores of candidates that lie on blocks of one length (as a loaded track's do): the walk of
// the search then pairs the prototype's blocks with the candidate's in the same way, with the
// same weights, wherever the candidate starts, so one plan of pairs serves them all and the run
// sums are computed for kAlignedLanes neighbouring candidates at once. Every sum is bit for bit
// the one the block walk adds up.
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

// One pair of the walk: prototype block `block` against the candidate's block `offset`, weighed.
struct PairStep {
  std::int32_t block, offset;
  float weight;
};

// sums[k * kAlignedLanes + l] = the walk's sum, step by step, of the comparisons of
// rows[k * blocks + step.block] with track block candidate + l + step.offset times step.weight,
// for each of phases prototypes of blocks rows.
void AlignedRunSums(const SignaturePlanes& planes, const PrototypeRow* rows, int phases, int blocks,
                    const std::vector<PairStep>& plan, int candidate, float* sums);
