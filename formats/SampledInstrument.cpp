#include "formats/SampledInstrument.h"

#include <algorithm>
#include <cmath>

SampledInstrument::SampledInstrument(std::vector<std::int16_t> data, int loopStart, int loopEnd, float basePitch,
                                     float recordRate)
    : data_(std::move(data)), basePitch_(basePitch > 0 ? basePitch : 440), recordRate_(recordRate) {
  const int length = int(data_.size());
  loopStart_ = std::clamp(loopStart, 0, length);
  loopEnd_ = std::clamp(loopEnd, 0, length);
  if (loopStart_ >= loopEnd_) loopStart_ = loopEnd_ = length;
}

std::unique_ptr<AbstractNote> SampledInstrument::NewNote(float pitch, float volume) {
  auto note = std::make_unique<SampledNote>(*this);
  note->SetPitch(pitch);
  note->SetVolume(volume);
  note->Restart();
  return note;
}

SampledNote::SampledNote(const SampledInstrument& instrument)
    : instrument_(instrument), data_(instrument.Data().data()) {}

void SampledNote::SetPitch(float hz) {
  pitch_ = hz;
  const int rate = instrument_.OutputRate();
  double s = rate > 0 ? double(hz) / instrument_.BasePitch() * instrument_.RecordRate() / rate : 0;
  // A step beyond the whole sample would only end the note; the bound keeps the sums in range.
  s = std::clamp(s, 0.0, double(1 << 20));
  step_ = std::int32_t(s);
  fractionStep_ = std::int32_t((s - step_) * 1024) & 1023;
  fraction_ = 0;
}

void SampledNote::SetVolume(float volume) { volume_ = std::int32_t(std::clamp(volume, 0.0f, 4.0f) * 8192); }

void SampledNote::Restart() {
  position_ = fraction_ = 0;
  ended_ = false;
  data_ = instrument_.Data().data();
  length_ = std::int64_t(instrument_.Data().size());
  loopStart_ = instrument_.LoopStart();
  loopEnd_ = instrument_.LoopEnd();
  looping_ = loopStart_ < loopEnd_;
}

void SampledNote::SetPosition(std::int64_t p) {
  position_ = std::max<std::int64_t>(p, 0);
  fraction_ = 0;
  if (position_ >= length_ && looping_) {
    // The loop is taken to end at the end of the sample.
    loopEnd_ = length_;
    position_ = loopStart_ + (position_ - length_) % (length_ - loopStart_);
  }
  if (position_ >= length_) ended_ = true;
}

// One output sample: the sample at the position, interpolated with the next one (the loop's
// start when looping and the next lies at the loop's end), added at the note's volume.
int SampledNote::AddSamplesPlain(std::int16_t* buffer, int count) {
  if (ended_) return 0;
  const std::int64_t loopLength = loopEnd_ - loopStart_;
  for (int i = 0; i < count; ++i) {
    if (looping_) {
      if (position_ >= loopEnd_) position_ = loopStart_ + (position_ - loopEnd_) % loopLength;
    } else if (position_ >= length_) {
      ended_ = true;
      return i;
    }
    std::int32_t c = data_[position_];
    std::int32_t next = c;
    if (looping_ && position_ + 1 >= loopEnd_) next = data_[position_ + 1 - loopLength];
    else if (position_ + 1 < length_) next = data_[position_ + 1];
    c = ((next * fraction_) >> 10) + (((1024 - fraction_) * c) >> 10);
    buffer[i] = std::int16_t(std::uint16_t(buffer[i]) + std::uint16_t((c * volume_) >> 13));
    position_ += step_ + (fraction_ >> 10);
    fraction_ = (fraction_ & 1023) + fractionStep_;
  }
  return count;
}

// The plain loop, with its checks hoisted: runs of samples that cannot reach the loop's end or
// the sample's end (each step moves at most step + 1 samples) go without them.
int SampledNote::AddSamples(std::int16_t* buffer, int count) {
  int done = 0;
  while (done < count && !ended_) {
    const std::int64_t boundary = looping_ ? loopEnd_ : length_;
    const std::int64_t room = boundary - 2 - position_;
    const std::int64_t safe = room > 0 ? room / (step_ + 1) : 0;
    if (safe <= 0) {
      done += AddSamplesPlain(buffer + done, 1);
      continue;
    }
    const int n = int(std::min<std::int64_t>(safe, count - done));
    std::int16_t* out = buffer + done;
    const std::int16_t* data = data_;
    std::int64_t position = position_;
    std::int32_t fraction = fraction_;
    const std::int32_t volume = volume_, step = step_, fractionStep = fractionStep_;
    for (int i = 0; i < n; ++i) {
      const std::int32_t c0 = data[position], next = data[position + 1];
      const std::int32_t c = ((next * fraction) >> 10) + (((1024 - fraction) * c0) >> 10);
      out[i] = std::int16_t(std::uint16_t(out[i]) + std::uint16_t((c * volume) >> 13));
      position += step + (fraction >> 10);
      fraction = (fraction & 1023) + fractionStep;
    }
    position_ = position;
    fraction_ = fraction;
    done += n;
  }
  return done;
}
