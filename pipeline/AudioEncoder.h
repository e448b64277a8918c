#pragma once
// A file being saved: a container over the format library's writer that accepts float frames in
// the document's channel count and rate and converts them on the way to the file's channel count
// and rate. Frames beyond the length declared at construction are never written.
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/AudioContainer.h"
#include "formats/AudioAbstract.h"
#include "formats/RateConverter.h"

class CAP_AudioEncoder : public CAP_AudioContainer {
public:
  static constexpr int kChunkFrames = 4096;

  // compression: 2, 3 or 16..20 (anything else becomes 16-bit PCM); fileFormat: 1 WAVE, 2 AU,
  // 3 AIFF; duration in seconds fixes the declared length (rate x duration frames). Check
  // errorText afterwards: a writer that cannot be built leaves the encoder refusing everything.
  CAP_AudioEncoder(std::ostream& out, int channels, int rate, int compression, int fileFormat, double duration,
                   int sourceChannels, int sourceRate, const AnnotationList* annotations);
  // Finishes the file if Finish was not called.
  ~CAP_AudioEncoder() override;
  CAP_AudioEncoder(const CAP_AudioEncoder&) = delete;
  CAP_AudioEncoder& operator=(const CAP_AudioEncoder&) = delete;

  // source: frames of sourceChannels at sourceRate. Returns the source frames consumed.
  int WriteFloat(const float* source, int frames, int position) override;

  // Drains the converter's look-ahead into the file and completes it (padding, trailing
  // chunks). False when anything failed: errorText is set or the stream went bad.
  bool Finish();

  std::int64_t FrameCount() const { return frameCount_; }

  std::int32_t sourceChannels = 0;
  std::int32_t sourceRate = 0;
  std::int32_t highWater = 0;  // the highest writePosition reached
  std::string errorText;       // empty = no error

private:
  int PushFrames(const float* frames, int count);

  std::ostream& out_;
  std::int64_t frameCount_ = 0;
  std::unique_ptr<AudioAbstract> writer_;
  std::unique_ptr<RateConverter> converter_;
  std::vector<float> channelBuffer_;  // one chunk in the file's channel count
  std::vector<float> converted_;      // the converter's output for one chunk (or its flush)
  bool finished_ = false;
};
