#pragma once
// The one instrument of the MIDI renderer: a 440 Hz sine tone with an attack-decay-sustain-
// release envelope, recorded once at 44,000 Hz and transposed by resampling. It sustains by
// looping 0.25 s..0.5 s; a released note plays the rest of the recording, which fades to
// silence by 1 s.
#include <memory>

#include "formats/SampledInstrument.h"

class SineWaveInstrument : public AbstractInstrument {
public:
  static constexpr int kRecordRate = 44000;

  // Builds the recording on first use and passes the rate on.
  void SetOutputRate(int rate) override;
  std::unique_ptr<AbstractNote> NewNote(float pitch, float volume) override;

private:
  void Build();
  std::unique_ptr<SampledInstrument> sampled_;
};
