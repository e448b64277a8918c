#pragma once
// Builds standard MIDI files in memory for the tests: tracks of (delta ticks, event bytes).
#include <cstdint>
#include <string>
#include <vector>

namespace formats_test {

inline std::string Variable(std::uint32_t v) {
  std::string s(1, char(v & 0x7F));
  while (v >>= 7) s.insert(s.begin(), char(0x80 | (v & 0x7F)));
  return s;
}

class MidiWriter {
public:
  MidiWriter(int format, int division) : format_(format), division_(division) {}

  // Starts a new track; the events that follow go into it.
  MidiWriter& Track() {
    tracks_.emplace_back();
    return *this;
  }
  MidiWriter& Event(std::uint32_t delta, std::string bytes) {
    tracks_.back() += Variable(delta) + bytes;
    return *this;
  }
  MidiWriter& NoteOn(std::uint32_t delta, int channel, int key, int velocity) {
    return Event(delta, {char(0x90 | channel), char(key), char(velocity)});
  }
  MidiWriter& NoteOff(std::uint32_t delta, int channel, int key) {
    return Event(delta, {char(0x80 | channel), char(key), char(64)});
  }
  MidiWriter& Tempo(std::uint32_t delta, std::uint32_t microseconds) {
    return Event(delta, std::string{char(0xFF), char(0x51), char(3), char(microseconds >> 16), char(microseconds >> 8),
                                    char(microseconds)});
  }
  MidiWriter& End(std::uint32_t delta = 0) { return Event(delta, std::string{char(0xFF), char(0x2F), char(0)}); }
  // Raw bytes appended to the current track as they are (malformed input).
  MidiWriter& Raw(const std::string& bytes) {
    tracks_.back() += bytes;
    return *this;
  }

  std::string Bytes() const {
    std::string out = "MThd" + Be32(6) + Be16(format_) + Be16(int(tracks_.size())) + Be16(division_);
    for (const std::string& t : tracks_) out += "MTrk" + Be32(std::uint32_t(t.size())) + t;
    return out;
  }

private:
  static std::string Be16(int v) { return {char(v >> 8), char(v)}; }
  static std::string Be32(std::uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

  int format_, division_;
  std::vector<std::string> tracks_;
};

}  // namespace formats_test
