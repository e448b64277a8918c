#include "pipeline/DCOffset.h"

#include <algorithm>
#include <cmath>

DCOffsetMeter::DCOffsetMeter(int channels, int bucketFrames)
    : channels_(std::max(channels, 1)), bucketFrames_(std::max(bucketFrames, 1)) {}

void DCOffsetMeter::Add(const float* frames, int count) {
  for (int f = 0; f < count;) {
    const std::int64_t bucket = frames_ / bucketFrames_;
    const int room = int(std::min<std::int64_t>(bucketFrames_ - frames_ % bucketFrames_, count - f));
    if (sums_.size() < std::size_t(bucket + 1) * channels_) sums_.resize(std::size_t(bucket + 1) * channels_, 0.0);
    for (int c = 0; c < channels_; ++c) {
      double sum = 0;
      const float* in = frames + std::size_t(f) * channels_ + c;
      for (int i = 0; i < room; ++i) sum += in[std::size_t(i) * channels_];
      sums_[std::size_t(bucket) * channels_ + c] += sum;
    }
    f += room;
    frames_ += room;
  }
}

double DCOffsetMeter::PartMean(int channel, std::int64_t firstBucket, std::int64_t endBucket) const {
  double sum = 0;
  for (std::int64_t b = firstBucket; b < endBucket; ++b) sum += sums_[std::size_t(b) * channels_ + channel];
  const std::int64_t first = firstBucket * bucketFrames_;
  const std::int64_t end = std::min(endBucket * bucketFrames_, frames_);
  return end > first ? sum / double(end - first) : 0.0;
}

double DCOffsetMeter::Offset(int channel) const {
  if (channel < 0 || channel >= channels_ || frames_ == 0) return 0;
  const std::int64_t buckets = (frames_ + bucketFrames_ - 1) / bucketFrames_;
  const double mean = PartMean(channel, 0, buckets);
  if (!(std::fabs(mean) >= kSmallestOffset)) return 0;
  const double tolerance = std::max(kSteadyShare * std::fabs(mean), kSteadyFloor);
  const std::int64_t parts = std::min<std::int64_t>(kParts, buckets);
  for (std::int64_t p = 0; p < parts; ++p) {
    const double part = PartMean(channel, buckets * p / parts, buckets * (p + 1) / parts);
    if (!(std::fabs(part - mean) <= tolerance)) return 0;
  }
  return mean;
}
