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

// Where the bands lie: the lowest and highest frequency, and the least rate the samples are
// averaged down to before the analysis (the rate over that, rounded down, is the factor).
struct BandLayout {
  double lowHz, highHz;
  int leastRate;
};
inline constexpr BandLayout kBlockBands{100, 5500, 11025};
// The sound search's finer look at a few candidates: up to 8 kHz, where a word's fricatives lie
// (bands above a rate's Nyquist frequency read as silence).
inline constexpr BandLayout kFineBands{100, 8000, 16000};
void ComputeBandEnergies(const float* samples, int n, int rate, BandEnergies* out,
                         const BandLayout& layout = kBlockBands);
// The samples of one analysis window at a rate (11 to 23 ms): the shortest stretch whose bands
// ComputeBandEnergies reads from one transform.
int BandWindowSamples(int rate, const BandLayout& layout);

// A block as the sound search first sees it: its level (dB of the mean band power, full scale
// 0 dB) and the shape of its spectrum as cepstra (c1..c12 of the bands in dB: the level, c0, is
// left out). Bands more than 50 dB below the block's strongest are raised to that depth, so
// that nearly empty bands (a phone line's, a quiet background's) weigh no more than a faint
// sound would.
inline constexpr int kCeps = 12;
struct BandShape {
  float level = 0;
  float ceps[kCeps] = {};
};
BandShape ShapeOf(const BandEnergies& bands);

// Whether the background (the least level of each band around a block) lies within kCoverDb of
// the block's level in some band: the block is heard through it.
inline constexpr float kCoverDb = 10.0f;
bool Covers(const BandEnergies& background, const BandEnergies& bands);
// The bands raised by gain (in band units) as heard through the background: a clean sound as a
// copy of it in that background reads.
BandEnergies ThroughBackground(const BandEnergies& bands, int gain, const BandEnergies& background);
// The bands (bit b for band b) whose loudest level over the blocks lies kAbsentDb or more below
// the loudest band's: what a narrower line or a band-limited copy does not carry.
inline constexpr float kAbsentDb = 40.0f;
std::uint32_t AbsentBands(const BandEnergies* blocks, int count);
// The bands with those of mask set to silence.
BandEnergies WithoutBands(const BandEnergies& bands, std::uint32_t mask);

// A block's shape as its record keeps it for the search, with the band levels it was made of (a
// candidate heard through a background or a narrower line is made again from them): the rate it
// was made at (0: none yet, or the samples changed since) and a hash of the samples, by which the
// search knows that what it found near the block last time still holds (the same samples give the
// same stamp).
struct BlockBands {
  BandShape shape;
  BandEnergies energies;
  std::int32_t rate = 0;
  std::uint64_t stamp = 0;
};
