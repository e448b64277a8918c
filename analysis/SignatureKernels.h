#pragma once
// Fast forms of the signature work that the store repeats for every block and the match search
// for every pair of blocks. Each gives exactly the result of the plain functions.
#include <cstdint>

#include "analysis/SoundSignature.h"

// The signature of n mono samples at rate, as ComputeRangeSignature gives it, converting only the
// samples that the decimation analyses. Leaves out untouched when rate is below 8000 Hz.
void ComputeBlockSignature(const float* samples, int n, int rate, SoundSignature* out);

// A signature laid out for comparison: the lag bytes' distances above and below the neutral 85
// in two 16-byte rows, so that the agreement is a byte-wise minimum and a sum.
struct PackedSignature {
  alignas(16) std::uint8_t above[16];
  alignas(16) std::uint8_t below[16];
  std::int32_t spread;  // sum of |byte - 85| over the lag bytes
  std::int32_t impulse;
  bool valid;
};

void PackSignature(const SoundSignature& s, PackedSignature* out);
// Equals CompareSignatures on the unpacked signatures.
float ComparePacked(const PackedSignature& a, const PackedSignature& b);
