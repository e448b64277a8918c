#pragma once
// The handlers of the 16 MIDI channels: a standard channel plays notes, a silent one ignores
// everything. Each standard channel owns its sounding notes; the instruments belong to the
// reader, which outlives its channels.
#include <array>
#include <cstdint>
#include <map>
#include <memory>

#include "formats/SampledInstrument.h"

// Where a channel gets the instrument for a note (the reader).
class MidiInstrumentSource {
public:
  virtual ~MidiInstrumentSource() = default;
  virtual AbstractInstrument& InstrumentFor(int bank, int program, int key) = 0;
};

class MidiChannelAbstract {
public:
  virtual ~MidiChannelAbstract() = default;
  virtual void NoteOn(int key, int velocity) = 0;
  virtual void NoteOff(int key, int velocity) = 0;
  virtual void ProgramChange(int program) = 0;
  virtual void ChannelAftertouch(int value) = 0;
  virtual void KeyAftertouch(int key, int value) = 0;
  virtual void ControlChange(int controller, int value) = 0;
  virtual void PitchBend(int value) = 0;
  // Adds count samples of every sounding note into buffer.
  virtual void AddChannelSamples(std::int16_t* buffer, int count) = 0;
};

class MidiChannelSilent : public MidiChannelAbstract {
public:
  void NoteOn(int, int) override {}
  void NoteOff(int, int) override {}
  void ProgramChange(int) override {}
  void ChannelAftertouch(int) override {}
  void KeyAftertouch(int, int) override {}
  void ControlChange(int, int) override {}
  void PitchBend(int) override {}
  void AddChannelSamples(std::int16_t*, int) override {}
};

class MidiChannelStandard : public MidiChannelAbstract {
public:
  static constexpr int kPercussionBank = 127 * 128;
  static constexpr float kMainVolume = 0.78125f;

  // volumeScale makes the loudest moment of the file (the largest sum of velocities) full scale.
  MidiChannelStandard(MidiInstrumentSource& source, float volumeScale, int bank);
  void NoteOn(int key, int velocity) override;
  void NoteOff(int key, int velocity) override;
  void ProgramChange(int program) override;
  void ChannelAftertouch(int value) override;
  void KeyAftertouch(int key, int value) override;
  void ControlChange(int controller, int value) override;
  void PitchBend(int) override {}
  void AddChannelSamples(std::int16_t* buffer, int count) override;
  int SoundingNotes() const;

private:
  void ResetControllers();

  MidiInstrumentSource& source_;
  float volumeScale_;
  float mainVolume_ = kMainVolume;
  int bank_;
  int program_ = 0;
  std::array<std::unique_ptr<AbstractNote>, 128> notes_;
  std::array<int, 32> coarseFine_{};  // 14-bit values of controllers 0..31 (fine: 32..63)
  std::array<int, 32> switches_{};    // controllers 64..95
  int registeredParameter_ = 0;
  std::map<int, int> registeredValues_;  // by registered parameter number
};
