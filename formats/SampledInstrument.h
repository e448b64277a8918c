#pragma once
// Instruments and the notes they play, shared by the tracker module and MIDI renderers. A note
// adds its samples into a caller's 16-bit mixing buffer; each note is owned by whoever asked the
// instrument for it, and refers to its instrument, which must outlive it.
#include <cstdint>
#include <memory>
#include <vector>

class AbstractNote;

class AbstractInstrument {
public:
  virtual ~AbstractInstrument() = default;
  int OutputRate() const { return outputRate_; }
  virtual void SetOutputRate(int rate) { outputRate_ = rate; }
  // A note at pitch (Hz) and volume (1 = the recording's level), ready to play from its start.
  virtual std::unique_ptr<AbstractNote> NewNote(float pitch, float volume) = 0;

private:
  int outputRate_ = 0;
};

class AbstractNote {
public:
  virtual ~AbstractNote() = default;
  // Adds up to count samples into buffer (16-bit wrap-around); fewer only once the note has ended.
  virtual int AddSamples(std::int16_t* buffer, int count) = 0;
  virtual void Restart() = 0;
  // Lets the sound run out instead of looping.
  virtual void Release() = 0;
  virtual float Pitch() const = 0;
  virtual void SetPitch(float hz) = 0;
  virtual float Volume() const = 0;
  virtual void SetVolume(float volume) = 0;
};

// A recorded sound with an optional loop [loopStart, loopEnd); no loop when loopStart is not
// below loopEnd. The data is copied in.
class SampledInstrument : public AbstractInstrument {
public:
  SampledInstrument(std::vector<std::int16_t> data, int loopStart, int loopEnd, float basePitch = 440,
                    float recordRate = 8000);
  std::unique_ptr<AbstractNote> NewNote(float pitch, float volume) override;

  const std::vector<std::int16_t>& Data() const { return data_; }
  int LoopStart() const { return loopStart_; }
  int LoopEnd() const { return loopEnd_; }
  float BasePitch() const { return basePitch_; }
  float RecordRate() const { return recordRate_; }

private:
  std::vector<std::int16_t> data_;
  int loopStart_, loopEnd_;  // kept within the data
  float basePitch_, recordRate_;
};

// Plays a SampledInstrument by resampling: positions step in 1/1024 samples, the volume is
// 13-bit fixed point, neighbouring samples are interpolated linearly.
class SampledNote : public AbstractNote {
public:
  explicit SampledNote(const SampledInstrument& instrument);
  int AddSamples(std::int16_t* buffer, int count) override;
  // The same, one sample at a time with every check: the reference the fast path is held to.
  int AddSamplesPlain(std::int16_t* buffer, int count);
  void Restart() override;
  void Release() override { looping_ = false; }
  float Pitch() const override { return pitch_; }
  void SetPitch(float hz) override;
  float Volume() const override { return volume_ / 8192.0f; }
  // Volumes are bounded to 0..4 so that no sample times volume leaves 32 bits.
  void SetVolume(float volume) override;
  // Jumps to sample p (the sample-offset effect); past the end a looping note folds into its
  // loop, any other note ends.
  void SetPosition(std::int64_t p);
  bool Ended() const { return ended_; }

private:
  const SampledInstrument& instrument_;
  const std::int16_t* data_;
  std::int64_t position_ = 0;
  std::int32_t fraction_ = 0;  // 1/1024 sample
  std::int32_t step_ = 0, fractionStep_ = 0;
  std::int32_t volume_ = 0;    // x 8192
  float pitch_ = 0;
  bool looping_ = false;
  bool ended_ = true;
  std::int64_t length_ = 0, loopStart_ = 0, loopEnd_ = 0;
};
