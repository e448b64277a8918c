#include "pipeline/FitToEditor.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kPieceFrames = 4096;
constexpr float kMinus3dB = 0.70710678f;

std::string Thousands(int n) {
  std::string digits = std::to_string(n);
  for (int at = int(digits.size()) - 3; at > 0; at -= 3) digits.insert(std::size_t(at), ",");
  return digits;
}

}  // namespace

FitToEditor::FitToEditor(std::unique_ptr<AudioAbstract> reader, int rate, int channels, int maxRate)
    : reader_(std::move(reader)), inRate_(rate), inChannels_(channels), outRate_(std::min(rate, maxRate)),
      outChannels_(std::min(channels, 2)) {
  samplingRate_ = outRate_;
  channels_ = outChannels_;
  converter_ = std::make_unique<RateConverter>(outChannels_, inRate_, outRate_);
  input_.resize(std::size_t(kPieceFrames) * std::size_t(inChannels_));
  mixed_.resize(std::size_t(kPieceFrames) * std::size_t(outChannels_));
}

FitToEditor::~FitToEditor() = default;

std::string FitToEditor::Notice() const {
  std::string text;
  if (inChannels_ > 2)
    text = (inChannels_ == 6   ? std::string("5.1")
            : inChannels_ == 8 ? std::string("7.1")
                               : std::to_string(inChannels_) + " channels") +
           (inChannels_ == 6 || inChannels_ == 8 ? " down-mixed to stereo" : ": channels 1 and 2 shown");
  if (inRate_ != outRate_)
    text += (text.empty() ? "" : "; ") + Thousands(inRate_) + " Hz converted to " + Thousands(outRate_) + " Hz";
  return text;
}

void FitToEditor::DownMix(const float* in, int frames, float* out) const {
  const int c = inChannels_;
  for (int i = 0; i < frames; ++i, in += c) {
    if (c <= 2) {
      std::copy(in, in + c, out + std::size_t(i) * std::size_t(c));
    } else if (c == 6 || c == 8) {
      // L R C LFE and the surround pairs (5.1: back; 7.1: back and side): centre and surrounds at
      // -3 dB, the low-frequency channel left out, scaled so that nothing can clip.
      float left = in[0] + kMinus3dB * (in[2] + in[4]), right = in[1] + kMinus3dB * (in[2] + in[5]);
      if (c == 8) {
        left += kMinus3dB * in[6];
        right += kMinus3dB * in[7];
      }
      const float scale = 1.0f / (1.0f + kMinus3dB * (c == 8 ? 3 : 2));
      out[2 * i] = left * scale;
      out[2 * i + 1] = right * scale;
    } else {
      out[2 * i] = in[0];
      out[2 * i + 1] = in[1];
    }
  }
}

bool FitToEditor::FillPending() {
  pending_.clear();
  pendingRead_ = 0;
  while (pending_.empty()) {
    if (flushed_) return false;
    const int got = reader_->PullSamples(input_.data(), kPieceFrames * inChannels_) / inChannels_;
    std::vector<float> converted;
    if (got > 0) {
      DownMix(input_.data(), got, mixed_.data());
      converted.resize(std::size_t(converter_->MaxOutputFrames(got)) * std::size_t(outChannels_));
      const int made = converter_->Process(mixed_.data(), got, converted.data());
      converted.resize(std::size_t(made) * std::size_t(outChannels_));
    } else {
      // The converter's look-ahead holds the last input back until it is flushed.
      converted.resize(std::size_t(converter_->MaxFlushFrames()) * std::size_t(outChannels_));
      const int made = inRate_ == outRate_ ? 0 : converter_->Flush(converted.data());
      converted.resize(std::size_t(made) * std::size_t(outChannels_));
      flushed_ = true;
    }
    pending_ = std::move(converted);
  }
  return true;
}

int FitToEditor::PullSamples(float* out, int count) {
  const std::size_t wanted = std::size_t(std::max(count, 0) / outChannels_) * std::size_t(outChannels_);
  std::size_t delivered = 0;
  while (delivered < wanted) {
    if (pendingRead_ == pending_.size() && !FillPending()) break;
    const std::size_t n = std::min(wanted - delivered, pending_.size() - pendingRead_);
    std::copy_n(pending_.data() + pendingRead_, n, out + delivered);
    pendingRead_ += n;
    delivered += n;
  }
  return int(delivered);
}

bool FitToEditor::SeekToSample(std::int64_t sampleIndex) {
  const std::int64_t frame = std::max<std::int64_t>(sampleIndex, 0) / outChannels_;
  const std::int64_t fileFrame = frame * inRate_ / outRate_;
  if (!reader_->SeekToSample(fileFrame * inChannels_)) return false;
  converter_ = std::make_unique<RateConverter>(outChannels_, inRate_, outRate_);
  pending_.clear();
  pendingRead_ = 0;
  flushed_ = false;
  return true;
}

void FitToEditor::MinMaxSamplingRate(int* min, int* max, int* preferred) { ForceRange(outRate_, min, max, preferred); }

void FitToEditor::MinMaxChannels(int* min, int* max, int* preferred) { ForceRange(outChannels_, min, max, preferred); }

std::int64_t FitToEditor::FloatByteCount() {
  const std::int64_t fileFrames = reader_->FloatByteCount() / 4 / inChannels_;
  return fileFrames * outRate_ / inRate_ * outChannels_ * 4;
}
