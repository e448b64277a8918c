#pragma once
// A reader stage over a file's own reader that delivers what the editor's tracks hold: one or two
// channels (5.1 and 7.1 down-mixed to stereo as players do, channels 1 and 2 of other layouts) and
// at most 96,000 Hz (the product's rate converter). Everything else comes from the file's reader.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/AudioAbstract.h"
#include "formats/RateConverter.h"

class FitToEditor : public AudioAbstract {
public:
  FitToEditor(std::unique_ptr<AudioAbstract> reader, int rate, int channels, int maxRate);
  ~FitToEditor() override;

  int PullSamples(float* out, int count) override;
  int PushSamples(const float*, int) override { return 0; }
  // Restarts the file's reader at the matching position; the converter starts afresh there.
  bool SeekToSample(std::int64_t sampleIndex) override;
  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;
  std::int64_t FloatByteCount() override;
  int SampleResolution() override { return reader_->SampleResolution(); }
  int FileFormat() override { return reader_->FileFormat(); }
  int Compression() override { return reader_->Compression(); }
  int BitRate() override { return reader_->BitRate(); }
  AnnotationList& Annotations() override { return reader_->Annotations(); }
  std::istream* SourceStream() override { return reader_->SourceStream(); }
  std::int64_t SourceSize() override { return reader_->SourceSize(); }

  // What the status bar says: "5.1 down-mixed to stereo; 192,000 Hz converted to 96,000 Hz".
  std::string Notice() const;

private:
  // Pulls and converts the next piece into pending_; false at the end of the file.
  bool FillPending();
  void DownMix(const float* in, int frames, float* out) const;

  std::unique_ptr<AudioAbstract> reader_;
  int inRate_, inChannels_, outRate_, outChannels_;
  std::unique_ptr<RateConverter> converter_;
  std::vector<float> input_, mixed_, pending_;
  std::size_t pendingRead_ = 0;
  bool flushed_ = false;
};
