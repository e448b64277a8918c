#include "formats/SineWaveInstrument.h"

#include <cmath>
#include <vector>

namespace {

// Attack to full level by 0.05 s, decay to a quarter by 0.25 s, sustain, release to 0 by 1 s.
double Envelope(double t) {
  if (t < 0.05) return t / 0.05;
  if (t < 0.25) return 1 - 0.75 * (t - 0.05) / 0.2;
  if (t < 0.5) return 0.25;
  return 0.25 - 0.5 * (t - 0.5);
}

// Computed once per process; every instrument takes its own copy.
const std::vector<std::int16_t>& Recording() {
  static const std::vector<std::int16_t> data = [] {
    std::vector<std::int16_t> samples(SineWaveInstrument::kRecordRate);
    for (int i = 0; i < SineWaveInstrument::kRecordRate; ++i) {
      const double t = double(i) / SineWaveInstrument::kRecordRate;
      samples[std::size_t(i)] = std::int16_t(std::sin(2 * M_PI * 440 * t) * Envelope(t) * 32767);
    }
    return samples;
  }();
  return data;
}

}  // namespace

void SineWaveInstrument::Build() {
  sampled_ = std::make_unique<SampledInstrument>(Recording(), kRecordRate / 4, kRecordRate / 2, 440.0f,
                                                 float(kRecordRate));
}

void SineWaveInstrument::SetOutputRate(int rate) {
  if (!sampled_) Build();
  AbstractInstrument::SetOutputRate(rate);
  sampled_->SetOutputRate(rate);
}

std::unique_ptr<AbstractNote> SineWaveInstrument::NewNote(float pitch, float volume) {
  if (!sampled_) SetOutputRate(OutputRate());
  return sampled_->NewNote(pitch, volume);
}
