#include "formats/Midi.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

#include "formats/ByteOrder.h"
#include "formats/GeneralMidiNames.h"

namespace {

constexpr int kMeta = 0xFF;
constexpr int kTempo = 0x51;
constexpr int kEndOfTrack = 0x2F;
constexpr int kPercussionChannel = 9;
// Track data is read in pieces of this size, so that a length the file does not hold allocates
// no more than the file.
constexpr std::int64_t kReadPiece = 1 << 16;

void Print(const char* format, int a, int b = 0) {
  char line[64];
  std::snprintf(line, sizeof line, format, a, b);
  std::cerr << line;
}

int DataBytes(int status) {
  if ((status >= 0x80 && status <= 0xBF) || (status >= 0xE0 && status <= 0xEF)) return 2;
  if (status >= 0xC0 && status <= 0xDF) return 1;
  if (status == 0xF2) return 2;
  if (status == 0xF3) return 1;
  return 0;
}

// The bytes of one track chunk; reading past them ends the track.
struct TrackBytes {
  const std::vector<std::uint8_t>& bytes;
  std::size_t at = 0;
  bool overrun = false;

  int Next() {
    if (at >= bytes.size()) {
      overrun = true;
      return 0;
    }
    return bytes[at++];
  }
  std::size_t Left() const { return bytes.size() - at; }
  // A variable-length number: 7 bits a byte, the high bit set on all but the last.
  std::int64_t Variable() {
    std::int64_t value = 0;
    for (int i = 0; i < 6; ++i) {
      const int b = Next();
      value = (value << 7) | (b & 0x7F);
      if (!(b & 0x80) || overrun) return value;
    }
    throw SoundError("Unterminated variable");
  }
};

const char* MetaLabel(int type) {
  static constexpr const char* kLabels[16] = {"", "Comment: ", "Copyright: ", "", "Instrument Name ", "Lyric: ",
                                              "Marker: ", "Cue Point: ", "Text: ", "Text: ", "Text: ", "Text: ",
                                              "Text: ", "Text: ", "Text: ", "Text: "};
  return kLabels[type];
}

}  // namespace

MidiRead::MidiRead(std::istream& in, std::int64_t fileSize) : in_(in), fileSize_(fileSize > 0 ? fileSize : 0) {
  fileFormat_ = FileFormatMidi;
  resolution_ = 16;
}

MidiRead::~MidiRead() = default;

void MidiRead::MinMaxSamplingRate(int* min, int* max, int* preferred) { ForceRange(kRate, min, max, preferred); }

void MidiRead::MinMaxChannels(int* min, int* max, int* preferred) { ForceRange(1, min, max, preferred); }

std::int64_t MidiRead::FloatByteCount() {
  if (!parsed_) Parse();
  std::int64_t samples = 0;
  for (const Event& e : events_) samples += e.delta;
  return samples * 4;
}

const std::vector<MidiRead::Event>& MidiRead::Events() {
  if (!parsed_) Parse();
  return events_;
}

void MidiRead::Parse() {
  parsed_ = true;
  try {
    ReadTracks();
  } catch (...) {
    events_.clear();  // a later pull then delivers nothing
    throw;
  }
  Analyze();
  current_ = 0;
  samplesUntilEvent_ = events_.empty() ? 0 : events_[0].delta;
}

void MidiRead::ReadTracks() {
  ReadHeader();
  int seen = 0;
  while (seen < trackCount_) {
    const std::uint32_t id = ReadBigEndian(in_, 4);
    const std::int64_t length = ReadBigEndian(in_, 4);
    if (!in_) break;
    if (id != FourCC("MTrk")) {
      SkipBytes(in_, length);
      continue;
    }
    if (format_ == 2 && seen > 0) SkipBytes(in_, length);
    else ReadTrack(seen, length);
    ++seen;
  }
  // Merge by absolute time; events of equal time keep file order.
  std::vector<std::size_t> order(events_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return times_[a] < times_[b]; });
  std::vector<Event> merged;
  merged.reserve(events_.size());
  std::int64_t previous = 0;
  for (std::size_t i : order) {
    merged.push_back(std::move(events_[i]));
    merged.back().delta = times_[i] - previous;
    previous = times_[i];
  }
  events_ = std::move(merged);
  times_.clear();
  times_.shrink_to_fit();
}

void MidiRead::ReadHeader() {
  const std::uint32_t id = ReadBigEndian(in_, 4);
  const std::int64_t length = ReadBigEndian(in_, 4);
  if (id != FourCC("MThd")) throw SoundError("First chunk not `MThd'");
  format_ = int(ReadBigEndian(in_, 2));
  trackCount_ = int(ReadBigEndian(in_, 2));
  division_ = std::int16_t(ReadBigEndian(in_, 2));
  if (!in_) throw SoundError("MIDI header cut short");
  switch (format_) {
    case 0:
      std::cerr << "Tracks: 1\n";
      if (trackCount_ != 1) std::cerr << "But it has " << trackCount_ << " tracks?!?!\n";
      break;
    case 1: std::cerr << "Tracks: " << trackCount_ << " simultaneous.\n"; break;
    case 2: std::cerr << "Tracks: " << trackCount_ << " independent.\n"; break;
    default: std::cerr << "Unknown file type: " << format_ << "\n"; break;
  }
  std::cerr << "Time Format: " << division_ << (division_ < 0 ? " (SMPTE)\n" : " ticks/quarter note\n");
  SkipBytes(in_, length - 6);
}

void MidiRead::ReadTrack(int track, std::int64_t length) {
  // The chunk's bytes, no more than the stream holds.
  std::vector<std::uint8_t> bytes;
  while (std::int64_t(bytes.size()) < length && in_) {
    const std::size_t at = bytes.size();
    const std::int64_t piece = std::min<std::int64_t>(kReadPiece, length - std::int64_t(at));
    bytes.resize(at + std::size_t(piece));
    in_.read(reinterpret_cast<char*>(bytes.data() + at), piece);
    bytes.resize(at + std::size_t(in_.gcount()));
  }
  if (std::int64_t(bytes.size()) < length) std::cerr << "Track " << track << " is cut short by the end of the file.\n";

  TrackBytes t{bytes};
  std::int64_t time = 0;
  int runningStatus = 0;
  while (t.Left() > 0) {
    time += t.Variable();
    Event event;
    event.track = track;
    int status = t.Next();
    int dataIndex = 0;
    if (status < 0x80) {
      if (runningStatus == 0) {
        // A data byte with no status before it: the byte is skipped.
        if (!t.overrun) std::cerr << "Track " << track << ": data byte without a status skipped.\n";
        if (t.overrun) break;
        continue;
      }
      event.data[dataIndex++] = std::uint8_t(status);
      status = runningStatus;
    } else if (status < 0xF0) {
      runningStatus = status;
    }
    event.status = std::uint8_t(status);
    for (int n = DataBytes(status); dataIndex < n; ++dataIndex) event.data[dataIndex] = std::uint8_t(t.Next() & 0x7F);
    if (status == 0xF0 || status == 0xF7 || status == kMeta) {
      if (status == kMeta) event.data[0] = std::uint8_t(t.Next());
      const std::int64_t count = t.Variable();
      if (t.overrun || count > std::int64_t(t.Left())) {
        t.overrun = true;
      } else {
        event.block.assign(bytes.begin() + std::ptrdiff_t(t.at), bytes.begin() + std::ptrdiff_t(t.at + count));
        t.at += std::size_t(count);
        if (status == kMeta) {
          event.block.push_back(0);
          const int type = event.data[0];
          const char* text = reinterpret_cast<const char*>(event.block.data());
          if (type == 3) std::cerr << "Track " << track << ": " << text << "\n";
          else if (type < 16) std::cerr << MetaLabel(type) << text << "\n";
        }
      }
    }
    if (t.overrun) {
      std::cerr << "Contents of track chunk were too long.\n";
      break;
    }
    events_.push_back(std::move(event));
    times_.push_back(time);
  }
}

void MidiRead::Analyze() {
  std::cerr << "Analyzing MIDI file . . . ";
  double samplesPerTick = 0;
  if (division_ >= 0) {
    samplesPerTick = division_ > 0 ? kRate * 0.5 / division_ : 0;
  } else {
    double framesPerSecond = 30;
    switch (division_ >> 8) {
      case -24: framesPerSecond = 24; break;
      case -25: framesPerSecond = 25; break;
      case -29: framesPerSecond = 29.97; break;
      case -30: framesPerSecond = 30; break;
      default: std::cerr << "Illegal SMPTE frame code.\n"; break;
    }
    const int ticksPerFrame = division_ & 0xFF;
    samplesPerTick = ticksPerFrame > 0 ? kRate / framesPerSecond / ticksPerFrame : 0;
  }
  std::array<std::array<int, 128>, 16> sounding{};
  std::array<bool, 16> used{}, silent{};
  int notes = 0, total = 0, maxNotes = 0, maxTotal = 0;
  double carry = 0;
  std::int64_t samples = 0;
  const std::int64_t limit = std::int64_t(kMaxSeconds) * kRate;
  for (std::size_t i = 0; i < events_.size(); ++i) {
    Event& e = events_[i];
    const double x = double(e.delta) * samplesPerTick + carry;
    e.delta = std::int64_t(std::min(x, double(limit)));
    carry = x - double(e.delta);
    samples += e.delta;
    if (samples > limit) {
      std::cerr << "The song is cut after " << kMaxSeconds << " seconds.\n";
      events_.resize(i);
      break;
    }
    const int type = e.status & 0xF0, channel = e.status & 0x0F;
    if (type == 0x90 && e.data[1] == 0) {
      e.status = std::uint8_t(0x80 | channel);
      e.data[1] = 64;
    }
    if (e.status < 0xF0 && (type == 0x80 || type == 0x90)) {
      int& velocity = sounding[channel][e.data[0]];
      if (velocity > 0) {
        --notes;
        total -= velocity;
        velocity = 0;
      }
      if ((e.status & 0xF0) == 0x90) {
        velocity = e.data[1];
        ++notes;
        total += velocity;
        used[channel] = true;
        maxNotes = std::max(maxNotes, notes);
        maxTotal = std::max(maxTotal, total);
      }
    } else if (e.status == kMeta && e.data[0] == 0x7F && e.block.size() >= 3 && e.block[0] == 0 && e.block[1] == 0 &&
               e.block[2] == 0x41) {
      std::cerr << "This is an MPC MIDI file.\n";
      for (int c = 10; c < 16; ++c) silent[c] = true;
    } else if (e.status == kMeta && e.data[0] == kTempo && e.block.size() >= 3 && division_ > 0) {
      const double microseconds = (e.block[0] << 16) | (e.block[1] << 8) | e.block[2];
      samplesPerTick = kRate * microseconds / 1000000.0 / division_;
    }
  }
  std::cerr << ". . done.\n"
            << "Maximum Simultaneous Notes: " << maxNotes << "\n"
            << "Maximum Total volume: " << maxTotal << "\n\n";
  volumeScale_ = maxTotal > 0 ? 1.0f / float(maxTotal) : 1.0f;
  for (int c = 0; c < 16; ++c) {
    if (used[c] && !silent[c])
      channels_[c] = std::make_unique<MidiChannelStandard>(
          static_cast<MidiInstrumentSource&>(*this), volumeScale_, c == kPercussionChannel ? MidiChannelStandard::kPercussionBank : 0);
    else
      channels_[c] = std::make_unique<MidiChannelSilent>();
  }
  instrument_.SetOutputRate(kRate);
}

AbstractInstrument& MidiRead::InstrumentFor(int bank, int program, int key) {
  if (bank != MidiChannelStandard::kPercussionBank) {
    if (programsNamed_.insert(program).second)
      std::cerr << "Instrument: " << GeneralMidiProgramName(program & 127) << " (Program " << program << ")\n";
  } else if (keysNamed_.insert(key).second) {
    if (const char* name = GeneralMidiPercussionName(key)) std::cerr << "Instrument: " << name << " (Note " << key << ")\n";
    else std::cerr << "Unknown Percussion.\n";
  }
  return instrument_;
}

void MidiRead::Dispatch(const Event& e) {
  const int status = e.status;
  if (status < 0x80) {
    Print("Track %2d, Bad Status: 0x%x\n", e.track, status);
    return;
  }
  if (status < 0xF0) {
    MidiChannelAbstract& channel = *channels_[status & 0x0F];
    switch (status & 0xF0) {
      case 0x90:
        if (e.data[1] == 0) channel.NoteOff(e.data[0], 64);
        else channel.NoteOn(e.data[0], e.data[1]);
        break;
      case 0x80: channel.NoteOff(e.data[0], e.data[1]); break;
      case 0xA0: channel.KeyAftertouch(e.data[0], e.data[1]); break;
      case 0xB0: channel.ControlChange(e.data[0], e.data[1]); break;
      case 0xC0: channel.ProgramChange(e.data[0]); break;
      case 0xD0: channel.ChannelAftertouch(e.data[0]); break;
      case 0xE0: channel.PitchBend(e.data[0] + e.data[1] * 128); break;
    }
    return;
  }
  if (status == kMeta) {
    const int type = e.data[0];
    if (type < 16 || type == kEndOfTrack || type == kTempo || type == 88 || type == 89 || type == 127) return;
    Print("Track %2d: (Meta 0x%02x)\n", e.track, type);
  } else if (status == 0xF0) {
    Print("Track %2d: (Sysex Event)\n", e.track);
  } else if (status == 0xF7) {
    Print("Track %2d: (Special Sysex Event)\n", e.track);
  } else {
    Print("Track %2d: ", e.track);
    Print("Status: 0x%02x\n", status);
  }
}

int MidiRead::PullSamples(float* out, int count) {
  if (!parsed_) Parse();
  if (count <= 0) return 0;
  mix_.assign(std::size_t(count), 0);
  int at = 0;
  while (at < count) {
    if (samplesUntilEvent_ > 0) {
      const int n = int(std::min<std::int64_t>(samplesUntilEvent_, count - at));
      for (auto& channel : channels_) channel->AddChannelSamples(mix_.data() + at, n);
      at += n;
      samplesUntilEvent_ -= n;
      continue;
    }
    if (current_ >= events_.size()) break;
    Dispatch(events_[current_++]);
    if (current_ < events_.size()) samplesUntilEvent_ = events_[current_].delta;
  }
  for (int i = 0; i < at; ++i) out[i] = mix_[std::size_t(i)] / 32768.0f;
  samplesRendered_ += at;
  return at;
}
