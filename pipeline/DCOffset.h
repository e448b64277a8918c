#pragma once
// The DC offset of each channel of a whole file, measured while it loads.
//
// An offset is only called real when it is at least 0.1 % of full scale over the whole file and
// steady across it: the mean of every tenth of the file lies within a quarter of the offset (or
// 0.05 % of full scale, whichever is larger) of the whole file's mean. A recording made through a
// lopsided input has such an offset from its first sample to its last; music, speech and sweeps
// average out near zero, and a sound whose opening is lopsided is part of the sound, not an offset.
// A channel without a real offset is left exactly as it is.
#include <cstdint>
#include <vector>

class DCOffsetMeter {
public:
  static constexpr double kSmallestOffset = 0.001;  // 0.1 % of full scale
  static constexpr double kSteadyShare = 0.25;
  static constexpr double kSteadyFloor = 0.0005;
  static constexpr int kParts = 10;

  // bucketFrames: the resolution of the steadiness test (a tenth of a second of the file's rate).
  DCOffsetMeter(int channels, int bucketFrames);

  // count interleaved frames of every channel, in the file's order.
  void Add(const float* frames, int count);
  // What to subtract from the channel: the whole file's mean when it is a real offset, else 0.
  double Offset(int channel) const;
  std::int64_t Frames() const { return frames_; }

private:
  double PartMean(int channel, std::int64_t firstBucket, std::int64_t endBucket) const;

  int channels_;
  int bucketFrames_;
  std::int64_t frames_ = 0;
  std::vector<double> sums_;  // per bucket, then per channel
};
