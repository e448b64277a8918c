#pragma once
// What a listener hears of a block, for the sound search: the mean power of its samples in 16
// bands spaced as hearing spaces pitch (100 Hz to 5.5 kHz), per hertz, in half-decibel steps. A
// few bytes per block, computed with the block's signature; the same for any rate of 11 kHz and
// up (bands above a lower rate's Nyquist frequency read as silence).
#include <cstdint>

inline constexpr int kBands = 16;
inline constexpr float kBandStepDb = 0.5f;  // one unit of a band byte
inline constexpr float kBandFloorDb = -110.0f;  // byte 0: silence (full scale is 0 dB)

struct BandEnergies {
  std::uint8_t level[kBands] = {};
  bool operator==(const BandEnergies&) const = default;
};

void ComputeBandEnergies(const float* samples, int n, int rate, BandEnergies* out);
