#include "formats/Module.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "formats/ByteOrder.h"

namespace {

constexpr int kRows = 64;
constexpr int kSlots = 8;  // note slots per row, whatever the module's channel count
constexpr int kInstruments = 31;
constexpr int kHeaderBytes = 1084;  // up to the patterns
constexpr int kRate = 22050;

struct WaveTables {
  float sine[64], square[64], ramp[64];
  float semitone[16];  // 2^(k/12)
  WaveTables() {
    for (int i = 0; i < 64; ++i) {
      sine[i] = float(std::sin(2 * M_PI * i / 64));
      square[i] = i < 32 ? 1.0f : -1.0f;
      ramp[i] = i <= 30 ? i / 32.0f : i == 31 ? -1 / 32.0f : (i - 63) / 32.0f;
    }
    for (int k = 0; k < 16; ++k) semitone[k] = float(std::pow(2.0, k / 12.0));
  }
};
const WaveTables kTables;

const float* WaveTable(int waveform) {
  switch (waveform & 3) {
    case 1: return kTables.square;
    case 2: return kTables.ramp;
    default: return kTables.sine;  // 3 (random) plays as the sine
  }
}

std::string Text(const char* bytes, int n) {
  std::string s(bytes, std::size_t(n));
  s.resize(std::min(s.find('\0'), s.size()));
  for (char& c : s)
    if (std::uint8_t(c) < 32 || std::uint8_t(c) > 126) c = ' ';
  return s;
}

// The pattern's effect number and parameter as an effect code and the parameter it keeps.
ModPatternNote Decode(const std::uint8_t* b) {
  ModPatternNote note;
  note.instrument = std::uint8_t((b[0] & 0xF0) | (b[2] >> 4));
  note.period = std::uint16_t(((b[0] & 0x0F) << 8) | b[1]);
  const int effect = b[2] & 0x0F;
  int parameter = b[3];
  int code = ModRead::kNone;
  if (effect == 0xE) {
    const int high = parameter >> 4;
    code = high < 8 ? ModRead::kFilter + high : high == 8 ? ModRead::kNone : ModRead::kFilter + high - 1;
    parameter &= 15;
  } else if (effect == 0 && parameter == 0) {
    code = ModRead::kNone;
  } else if (effect <= 7) {
    code = ModRead::kArpeggio + effect;
  } else if (effect == 8) {
    code = ModRead::kNone;
  } else {
    static constexpr int kFromNine[] = {ModRead::kSampleOffset, ModRead::kVolumeSlide, ModRead::kPositionJump,
                                        ModRead::kSetVolume, ModRead::kPatternBreak, 0, ModRead::kSpeed};
    code = kFromNine[effect - 9];
  }
  note.effect = std::uint8_t(code);
  note.parameter = std::uint8_t(parameter);
  return note;
}

}  // namespace

void ModInstrument::SetSamples(const std::vector<std::int8_t>& bytes) {
  std::vector<std::int16_t> data(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) data[i] = std::int16_t(bytes[i] * 256);
  const int n = int(data.size());
  int start = std::min(loopStart, n), end = std::min(loopStart + loopLength, n);
  const bool silent = std::all_of(data.begin() + start, data.begin() + std::max(start, end),
                                  [](std::int16_t v) { return v == 0; });
  if (silent || start >= end || (loopLength <= 2 && loopStart == 0)) {
    loopStart = n;
    loopLength = 0;
    start = end = n;
  }
  const float basePitch = float(440 * std::pow(2.0, -finetune / 96.0));
  sampled_ = std::make_unique<SampledInstrument>(std::move(data), start, end, basePitch, kRecordRate);
  sampled_->SetOutputRate(OutputRate());
}

void ModInstrument::SetOutputRate(int rate) {
  AbstractInstrument::SetOutputRate(rate);
  if (sampled_) sampled_->SetOutputRate(rate);
}

std::unique_ptr<AbstractNote> ModInstrument::NewNote(float pitch, float volume) {
  if (!sampled_) SetSamples({});
  return sampled_->NewNote(pitch, volume);
}

void ModNote::SetModVolume(int volume) { SetVolume(std::clamp(volume, 0, 64) / 64.0f * 0.25f); }

void ModNote::SetPeriod(int period) { SetPitch(111760.0f / std::clamp(period, kMinPeriod, kMaxPeriod)); }

void ModNote::SetPosition(std::int64_t position) {
  if (auto* sampled = dynamic_cast<SampledNote*>(inner_.get())) sampled->SetPosition(position);
}

ModRead::ModRead(std::istream& in, std::int64_t fileSize) {
  fileFormat_ = FileFormatModule;
  resolution_ = 16;
  char name[20];
  in.read(name, sizeof name);
  songName_ = Text(name, sizeof name);
  std::cerr << "Name: " << songName_ << "\n";
  if (!songName_.empty()) annotations_.SetByKind(AnnotationName, reinterpret_cast<const std::uint8_t*>(songName_.data()),
                                                  int(songName_.size()));
  ReadInstrumentHeaders(in);
  songLength_ = std::min<int>(std::uint8_t(in.get()), 128);
  in.get();
  in.read(reinterpret_cast<char*>(order_.data()), order_.size());
  patternCount_ = *std::max_element(order_.begin(), order_.end()) + 1;
  char tag[4] = {};
  in.read(tag, 4);
  if (!in) throw SoundError("Module header cut short");
  const std::string signature(tag, 4);
  if (signature == "M.K." || signature == "M!K!" || signature == "FLT4") moduleChannels_ = 4;
  else if (signature == "FLT8" || signature == "8CHN") moduleChannels_ = 8;
  else if (signature == "6CHN") moduleChannels_ = 6;
  else throw SoundError("Unrecognized signature ", Text(tag, 4));
  ReadPatterns(in, fileSize);
  ReadSamples(in);
  for (Channel& channel : tracks_) channel.vibratoTable = channel.tremoloTable = kTables.sine;
}

ModRead::~ModRead() = default;

void ModRead::ReadInstrumentHeaders(std::istream& in) {
  std::cerr << "Instruments: \n";
  for (int i = 0; i < kInstruments; ++i) {
    std::uint8_t h[30];
    in.read(reinterpret_cast<char*>(h), sizeof h);
    ModInstrument& instrument = instruments_[i];
    instrument.name = Text(reinterpret_cast<const char*>(h), 22);
    instrument.length = int(DecodeField(h + 22, 2)) * 2;
    const int finetune = h[24] & 15;
    instrument.finetune = finetune >= 8 ? finetune - 16 : finetune;
    instrument.volume = std::min<int>(h[25], 64);
    instrument.loopStart = int(DecodeField(h + 26, 2)) * 2;
    instrument.loopLength = int(DecodeField(h + 28, 2)) * 2;
    instrument.SetOutputRate(kRate);
  }
  // Three columns: 1 to 11, 12 to 22, 23 to 31.
  for (int row = 0; row < 11; ++row) {
    for (int column = 0; column < 3; ++column) {
      const int i = row + 11 * column;
      if (i >= kInstruments) break;
      char entry[40];
      std::snprintf(entry, sizeof entry, "%2d:%-22s", i + 1, instruments_[i].name.c_str());
      std::cerr << entry << (column < 2 && i + 11 < kInstruments ? "  " : "");
    }
    std::cerr << "\n";
  }
}

void ModRead::ReadPatterns(std::istream& in, std::int64_t fileSize) {
  const std::int64_t rowBytes = std::int64_t(moduleChannels_) * 4;
  const std::int64_t bytes = std::int64_t(patternCount_) * kRows * rowBytes;
  if (fileSize > 0 && kHeaderBytes + bytes > fileSize)
    throw SoundError("Module names more patterns than the file holds: ", patternCount_);
  patterns_.assign(std::size_t(patternCount_) * kRows * kSlots, ModPatternNote{});
  std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes));
  for (int p = 0; p < patternCount_; ++p) {
    for (int r = 0; r < kRows; ++r) {
      in.read(reinterpret_cast<char*>(row.data()), rowBytes);
      if (!in) throw SoundError("Module names more patterns than the file holds: ", patternCount_);
      for (int c = 0; c < moduleChannels_; ++c)
        patterns_[(std::size_t(p) * kRows + r) * kSlots + c] = Decode(row.data() + 4 * c);
    }
  }
}

void ModRead::ReadSamples(std::istream& in) {
  std::vector<std::int8_t> bytes;
  for (int i = 0; i < kInstruments; ++i) {
    ModInstrument& instrument = instruments_[i];
    bytes.resize(std::size_t(instrument.length));
    in.read(reinterpret_cast<char*>(bytes.data()), instrument.length);
    if (in.gcount() != instrument.length)
      throw SoundError("Module sample data runs past the end of the file at instrument ", i + 1);
    instrument.SetSamples(bytes);
  }
}

void ModRead::StoreSamplingRate(int rate) {
  AudioAbstract::StoreSamplingRate(rate);
  for (ModInstrument& instrument : instruments_) instrument.SetOutputRate(rate);
}

void ModRead::MinMaxSamplingRate(int* min, int* max, int* preferred) {
  *min = 4000;
  *max = kRate;
  *preferred = kRate;
}

void ModRead::MinMaxChannels(int* min, int* max, int* preferred) {
  *min = 1;
  *max = 2;
  *preferred = 2;
}

const ModPatternNote& ModRead::NoteAt(int position, int row, int channel) const {
  return patterns_[(std::size_t(order_[position]) * kRows + row) * kSlots + channel];
}

int ModRead::FramesPerRow(int rate, const Flow& flow) {
  return int(std::int64_t(rate) * flow.speed * 60 / flow.tempoCode);
}

bool ModRead::Advance(Flow& f, bool report) const {
  f.previousPosition = f.position;
  f.previousRow = f.row;
  f.position = f.nextPosition;
  f.row = f.nextRow;
  if (++f.nextRow >= kRows) {
    f.nextRow = 0;
    ++f.nextPosition;
  }
  if (f.ended || f.position >= songLength_) return false;
  for (int c = 0; c < moduleChannels_; ++c) {
    const ModPatternNote& note = NoteAt(f.position, f.row, c);
    const int x = note.parameter;
    switch (note.effect) {
      case kPositionJump:  // never backwards, so that every song ends
        f.nextPosition = std::max(x, f.position + 1);
        f.nextRow = 0;
        break;
      case kPatternBreak:
        f.nextPosition = f.position + 1;
        f.nextRow = (x & 15) + (x >> 4) * 10;
        if (f.nextRow >= kRows) f.nextRow = 0;  // beyond the pattern: its first row
        break;
      case kSpeed:
        if (x == 0) {
          if (report) std::cerr << "Set tempo 0 exercised.\n";
          f.ended = true;
          return false;
        }
        if (x > 32) f.tempoCode = x * 24;
        else f.speed = x;
        break;
      case kPatternLoop:
        if (report) std::cerr << "Loop pattern effect not implemented.\n";
        break;
      case kPatternDelay: {
        int& counter = f.delayCounter[c];
        if (counter < 0) counter = x;
        if (x == 0 || counter == 0) {
          counter = -1;
        } else {
          f.nextPosition = f.position;
          f.nextRow = f.row;
          --counter;
        }
        break;
      }
      default:
        break;
    }
  }
  return true;
}

std::int64_t ModRead::FloatByteCount() {
  const int rate = samplingRate_ > 0 ? samplingRate_ : kRate;
  const int outputChannels = channels_ > 0 ? channels_ : 2;
  if (estimateRate_ != rate) {
    Flow flow;
    std::int64_t frames = 0;
    const std::int64_t limit = std::int64_t(kMaxSeconds) * rate;
    while (frames < limit && Advance(flow, false)) frames += FramesPerRow(rate, flow);
    estimateFrames_ = std::min(frames, limit);
    estimateRate_ = rate;
  }
  return estimateFrames_ * outputChannels * 4;
}

int ModRead::PullSamples(float* out, int count) {
  if (!started_) {
    CurrentSamplingRate();
    CurrentChannels();
    started_ = true;
  }
  if (channels_ != 1 && channels_ != 2) throw SoundError("Format error");
  int delivered = 0;
  while (delivered < count) {
    if (rowDelivered_ >= rowSamples_) {
      if (!RenderNextRow()) break;
      continue;
    }
    const std::int64_t n = std::min<std::int64_t>(count - delivered, rowSamples_ - rowDelivered_);
    for (std::int64_t i = 0; i < n; ++i, ++rowDelivered_) {
      const std::int64_t frame = rowDelivered_ / channels_;
      const std::int16_t value = (channels_ == 2 && rowDelivered_ % 2) ? right_[frame] : left_[frame];
      out[delivered++] = value / 32768.0f;
    }
  }
  return delivered;
}

bool ModRead::RenderNextRow() {
  if (finished_ || framesRendered_ >= std::int64_t(kMaxSeconds) * samplingRate_ || !Advance(flow_, true)) {
    finished_ = true;
    return false;
  }
  Row row{FramesPerRow(samplingRate_, flow_), 0, flow_.speed};
  row.framesPerTick = row.frames / row.speed;
  left_.assign(std::size_t(row.frames), 0);
  right_.assign(channels_ == 2 ? std::size_t(row.frames) : 0, 0);
  for (int c = 0; c < moduleChannels_; ++c) {
    const bool leftSide = c == 0 || c == 3 || c == 4 || c == 7;
    std::int16_t* buffer = (leftSide || channels_ == 1) ? left_.data() : right_.data();
    if (!PlayChannel(tracks_[c], NoteAt(flow_.position, flow_.row, c), buffer, row)) break;
  }
  rowSamples_ = std::int64_t(row.frames) * channels_;
  rowDelivered_ = 0;
  framesRendered_ += row.frames;
  return true;
}

bool ModRead::PlayChannel(Channel& channel, const ModPatternNote& note, std::int16_t* buffer, const Row& row) {
  const bool named = note.instrument != 0 || note.period != 0;
  const int instrument = note.instrument != 0 ? note.instrument : channel.instrument;
  const int period = note.period != 0 ? note.period : channel.period;
  int effect = note.effect, parameter = note.parameter;
  if (instrument >= 32) {
    std::cerr << "Illegal instrument number " << instrument << ".\n";
    return false;
  }
  if (named && instrument != 0) {
    if ((effect == kVibrato || effect == kVibratoVolumeSlide) && !(channel.lastParameter[kVibratoWaveform] & 4))
      channel.vibratoPosition = 0;
    if (effect == kTremolo && !(channel.lastParameter[kTremoloWaveform] & 4)) channel.tremoloPosition = 0;
    bool start = true;
    if (effect == kTonePortamento && channel.note) {
      // Slides from the playing note to the given period instead of starting a new note.
      if (note.period != 0) channel.portamentoTarget = note.period;
      start = channel.portamentoTarget == 0;
      if (start) effect = parameter = 0;
    }
    // A period is needed to play: an instrument alone before any note starts nothing.
    if (start && period != 0) {
      ModInstrument& source = instruments_[instrument - 1];
      channel.instrument = instrument;
      channel.period = period;
      channel.volume = source.volume;
      channel.portamentoTarget = 0;
      channel.note = std::make_unique<ModNote>(source.NewNote(440, 0.5f));
      channel.note->SetModVolume(channel.volume);
      channel.note->SetPeriod(period);
      channel.note->Restart();
    }
  }
  switch (effect) {
    case kSlideUp: case kSlideDown: case kTonePortamento: case kVibrato: case kTremolo:
    case kRetrigger: case kNoteCut: case kNoteDelay:
      if (parameter == 0) parameter = channel.lastParameter[effect];
      break;
    default:
      break;
  }
  if (channel.note) ApplyEffect(channel, effect, parameter, buffer, row);
  if (effect == kVibratoWaveform || effect == kTremoloWaveform) {
    if ((parameter & 3) == 3) parameter &= ~3;  // random plays as the sine; bit 2 stays
  }
  channel.lastParameter[effect] = parameter;
  return true;
}

void ModRead::ApplyEffect(Channel& channel, int effect, int x, std::int16_t* buffer, const Row& row) {
  ModNote& note = *channel.note;
  int at = 0;
  auto render = [&](int n) {
    n = std::clamp(n, 0, row.frames - at);
    note.AddSamples(buffer + at, n);
    at += n;
  };
  // Renders the row tick by tick; change runs between ticks (speed - 1 times), the last tick
  // takes the rest of the row.
  auto perTick = [&](auto change) {
    for (int tick = 0; tick < row.speed; ++tick) {
      render(tick == row.speed - 1 ? row.frames - at : row.framesPerTick);
      if (tick < row.speed - 1) change(tick);
    }
  };
  auto setPeriod = [&](int period) {
    channel.period = std::clamp(period, ModNote::kMinPeriod, ModNote::kMaxPeriod);
    note.SetPeriod(channel.period);
  };
  auto slideVolume = [&](int parameter) {
    const int d = (parameter >> 4) != 0 ? parameter >> 4 : -(parameter & 15);
    channel.volume = std::clamp(channel.volume + d, 0, 64);
    note.SetModVolume(channel.volume);
  };
  auto portamento = [&](int speed) {
    const int target = channel.portamentoTarget;
    if (target == 0) return;
    int period = channel.period < target ? channel.period + speed : channel.period - speed;
    if ((channel.period < target) ? period >= target : period <= target) {
      period = target;
      channel.portamentoTarget = 0;
    }
    setPeriod(period);
  };
  auto vibrato = [&](int parameter) {
    const int depth = (parameter & 15) * 2, speed = parameter >> 4;
    note.SetPeriod(channel.period + int(channel.vibratoTable[channel.vibratoPosition] * depth));
    channel.vibratoPosition = (channel.vibratoPosition + speed) & 63;
  };
  auto tremolo = [&]() {
    const int depth = (x & 15) * 4, speed = x >> 4;
    note.SetModVolume(channel.volume + int(channel.tremoloTable[channel.tremoloPosition] * depth));
    channel.tremoloPosition = (channel.tremoloPosition + speed) & 63;
  };

  switch (effect) {
    case kArpeggio: {
      const float base = note.Pitch();
      const float steps[3] = {1, kTables.semitone[x >> 4], kTables.semitone[x & 15]};
      perTick([&](int tick) { note.SetPitch(base * steps[(tick + 1) % 3]); });
      note.SetPitch(base);
      break;
    }
    case kSlideUp: perTick([&](int) { setPeriod(channel.period - x); }); break;
    case kSlideDown: perTick([&](int) { setPeriod(channel.period + x); }); break;
    case kTonePortamento: perTick([&](int) { portamento(x); }); break;
    case kVibrato:
      vibrato(x);
      perTick([&](int) { vibrato(x); });
      note.SetPeriod(channel.period);
      break;
    case kPortamentoVolumeSlide:
      perTick([&](int) {
        portamento(channel.lastParameter[kTonePortamento]);
        slideVolume(x);
      });
      break;
    case kVibratoVolumeSlide: {
      const int parameter = channel.lastParameter[kVibrato];
      vibrato(parameter);
      perTick([&](int) {
        vibrato(parameter);
        slideVolume(x);
      });
      note.SetPeriod(channel.period);
      break;
    }
    case kTremolo:
      std::cerr << "Effect tremolo exercised.\n";
      tremolo();
      perTick([&](int) { tremolo(); });
      note.SetModVolume(channel.volume);
      break;
    case kSampleOffset:
      // 256 samples per step, as the trackers that write the effect count it.
      note.Restart();
      note.SetPosition(std::int64_t(x) * 256);
      render(row.frames);
      break;
    case kVolumeSlide: perTick([&](int) { slideVolume(x); }); break;
    case kSetVolume:
      channel.volume = std::min(x, 64);
      note.SetModVolume(channel.volume);
      render(row.frames);
      break;
    case kFilter: case kGlissando: case kFinetune: case kInvertLoop: {
      static constexpr const char* kNames[] = {"setFilter", "setGlissando", "setFinetune", "invertLoop"};
      const int which = effect == kFilter ? 0 : effect == kGlissando ? 1 : effect == kFinetune ? 2 : 3;
      std::cerr << "Effect " << kNames[which] << " not implemented.\n";
      render(row.frames);
      break;
    }
    case kFineSlideUp: case kFineSlideDown:
      std::cerr << (effect == kFineSlideUp ? "Effect pitchUp exercised.\n" : "Effect pitchDown exercised.\n");
      setPeriod(channel.period + (effect == kFineSlideUp ? -x : x));
      render(row.frames);
      break;
    case kVibratoWaveform: case kTremoloWaveform:
      std::cerr << (effect == kVibratoWaveform ? "Effect setVibrato exercised.\n" : "Effect setTremolo exercised.\n");
      (effect == kVibratoWaveform ? channel.vibratoTable : channel.tremoloTable) = WaveTable(x);
      render(row.frames);
      break;
    case kRetrigger: {
      const int interval = x * row.framesPerTick;
      if (interval <= 0) {
        render(row.frames);
        break;
      }
      while (at < row.frames) {
        render(interval);
        if (at < row.frames) note.Restart();
      }
      break;
    }
    case kFineVolumeUp: case kFineVolumeDown:
      if (effect == kFineVolumeDown) std::cerr << "Effect volumeDown exercised.\n";
      channel.volume = std::clamp(channel.volume + (effect == kFineVolumeUp ? x : -x), 0, 64);
      note.SetModVolume(channel.volume);
      render(row.frames);
      break;
    case kNoteCut:
      std::cerr << "Effect cutNote exercised.\n";
      render(x * row.framesPerTick);
      channel.volume = 0;
      note.SetModVolume(0);
      render(row.frames);
      break;
    case kNoteDelay:
      at = std::min(x * row.framesPerTick, row.frames);
      render(row.frames);
      break;
    default:  // none, and the flow effects
      render(row.frames);
      break;
  }
}
