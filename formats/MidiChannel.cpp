#include "formats/MidiChannel.h"

#include <cmath>
#include <iostream>

MidiChannelStandard::MidiChannelStandard(MidiInstrumentSource& source, float volumeScale, int bank)
    : source_(source), volumeScale_(volumeScale), bank_(bank) {}

void MidiChannelStandard::NoteOn(int key, int velocity) {
  key &= 127;
  notes_[key].reset();
  AbstractInstrument& instrument = source_.InstrumentFor(bank_, program_, key);
  const float pitch = float(440 * std::pow(2.0, (key - 69) / 12.0));
  notes_[key] = instrument.NewNote(pitch, mainVolume_ * float(velocity) * volumeScale_);
}

void MidiChannelStandard::NoteOff(int key, int) {
  if (notes_[key & 127]) notes_[key & 127]->Release();
}

void MidiChannelStandard::ProgramChange(int program) {
  program_ = program & 127;
  bank_ = coarseFine_[0];
}

void MidiChannelStandard::ChannelAftertouch(int value) {
  std::cerr << "Channel Aftertouch: velocity: " << value << "\n";
}

void MidiChannelStandard::KeyAftertouch(int key, int value) {
  std::cerr << "Key Aftertouch: " << key << " velocity: " << value << "\n";
}

void MidiChannelStandard::ResetControllers() {
  coarseFine_.fill(0);
  switches_.fill(0);
  mainVolume_ = kMainVolume;
}

void MidiChannelStandard::ControlChange(int controller, int value) {
  value &= 127;
  if (controller < 32) {
    coarseFine_[controller] = value * 128;
  } else if (controller < 64) {
    coarseFine_[controller - 32] = (coarseFine_[controller - 32] & ~127) | value;
  } else if (controller < 96) {
    switches_[controller - 64] = value;
  } else if (controller == 96 || controller == 97) {
    int& data = registeredValues_[registeredParameter_];
    data += controller == 96 ? 1 : -1;
  } else if (controller == 100) {
    registeredParameter_ = (registeredParameter_ & ~127) | value;
  } else if (controller == 101) {
    registeredParameter_ = (registeredParameter_ & 127) | (value << 7);
  } else if (controller == 121) {
    ResetControllers();
  } else if (controller >= 123) {
    for (auto& note : notes_)
      if (note) note->Release();
  }
}

void MidiChannelStandard::AddChannelSamples(std::int16_t* buffer, int count) {
  for (auto& note : notes_)
    if (note && note->AddSamples(buffer, count) < count) note.reset();
}

int MidiChannelStandard::SoundingNotes() const {
  int n = 0;
  for (const auto& note : notes_) n += note != nullptr;
  return n;
}
