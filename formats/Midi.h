#pragma once
// Standard MIDI file reader (FileFormat 5): every note is played by one sine instrument, mixed
// to 16-bit mono at 11,025 Hz. The file is parsed on the first PullSamples: the tracks merged
// into one time-ordered event list, then an analysis pass that turns ticks into samples and
// finds the loudest moment, which sets the volume. The parser lists what it sees on std::cerr.
#include <array>
#include <cstdint>
#include <istream>
#include <memory>
#include <set>
#include <vector>

#include "formats/AudioAbstract.h"
#include "formats/MidiChannel.h"
#include "formats/SineWaveInstrument.h"

class MidiRead : public AudioAbstract, private MidiInstrumentSource {
public:
  static constexpr int kRate = 11025;
  // No file renders longer than this: delta times of 2^28 ticks at the slowest tempo could
  // otherwise ask for years of audio.
  static constexpr int kMaxSeconds = 3600;

  struct Event {
    std::int64_t delta = 0;  // ticks to the previous event; samples after the analysis
    int track = 0;
    std::uint8_t status = 0;
    std::uint8_t data[2] = {};  // a meta event's type in data[0]
    std::vector<std::uint8_t> block;  // system-exclusive and meta data (meta text zero-terminated)
  };

  // Keeps the stream; nothing is read until the first PullSamples.
  MidiRead(std::istream& in, std::int64_t fileSize);
  ~MidiRead() override;

  int PullSamples(float* out, int count) override;
  int PushSamples(const float*, int) override { return 0; }
  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;
  // Parses the file when not done yet: the samples up to the last event, so that the length
  // is known before the render.
  std::int64_t FloatByteCount() override;

  // The merged event list with delta times in samples (parses the file if not done yet).
  const std::vector<Event>& Events();
  float VolumeScale() const { return volumeScale_; }

private:
  void Parse();
  void ReadTracks();
  void ReadHeader();
  void ReadTrack(int track, std::int64_t length);
  void Analyze();
  void Dispatch(const Event& event);
  AbstractInstrument& InstrumentFor(int bank, int program, int key) override;

  std::istream& in_;
  std::int64_t fileSize_;
  bool parsed_ = false;
  int format_ = 0, trackCount_ = 0, division_ = 0;
  std::vector<Event> events_;
  std::vector<std::int64_t> times_;  // absolute tick of each event while the tracks are read
  std::size_t current_ = 0;
  std::int64_t samplesUntilEvent_ = 0, samplesRendered_ = 0;
  std::array<std::unique_ptr<MidiChannelAbstract>, 16> channels_;
  SineWaveInstrument instrument_;
  float volumeScale_ = 1;
  std::set<int> programsNamed_, keysNamed_;
  std::vector<std::int16_t> mix_;
};
