#include "pipeline/SampleMixer.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstdlib>

#include <thread>

#include "pipeline/AudioDecoder.h"
#include "pipeline/ChunkPipeline.h"
#include "pipeline/DCOffset.h"

namespace {

constexpr int kMinRate = 8000;
constexpr int kMaxRate = 96000;
constexpr int kMixChunk = 8192;  // frames per pass of the mixed read and write paths
const char* const kLoadingLabel = "Loading audio data:";

int RoundHalfAway(double v) { return int(v < 0 ? v - 0.5 : v + 0.5); }

int MachineThreads() { return std::max(1, int(std::thread::hardware_concurrency())); }

// Chunks of decoded audio waiting for the tracks during a parallel load.
constexpr int kLoadSlots = CAP_SampleMixer::kReadsInFlight;

bool mixComputed = true;

}  // namespace

CAP_SampleMixer::CAP_SampleMixer(int channelCount, int rate, bool withMixTrack) : loadThreads_(MachineThreads()) {
  channels = std::clamp(channelCount, 1, kMaxChannels);
  sampleRate = rate;
  baseRate_ = rate;
  for (int k = 0; k < channels; ++k) {
    tracks_[k] = new CAP_SampleTrack(rate);
    tracks_[k]->AddViewer(this);
    readGain_[k][k] = 1;
    writeGain_[k][k] = 1;
  }
  trackCount_ = channels;
  BuildRateTable();
  if (withMixTrack) {
    SetTrackCount(channels != 1 ? channels + 1 : 1);
    for (int j = 0; j < channels; ++j) writeGain_[j][trackCount_ - 1] = 1.0f / float(channels);
    // The mix is (left + right) / 2 of the channels: a third of the samples not kept.
    if (mixComputed && channels == 2) tracks_[2]->ComputeFrom(tracks_[0], tracks_[1]);
  }
}

void CAP_SampleMixer::SetMixComputed(bool computed) { mixComputed = computed; }

bool CAP_SampleMixer::MixComputed() { return mixComputed; }

void CAP_SampleMixer::SettleTracks() {
  for (int k = 0; k < trackCount_; ++k) tracks_[k]->Settle();
}

CAP_SampleMixer::~CAP_SampleMixer() {
  for (int k = 0; k < trackCount_; ++k) delete tracks_[k];
}

CAP_SampleTrack* CAP_SampleMixer::Track(int index) const {
  return index >= 0 && index < trackCount_ ? tracks_[index] : nullptr;
}

void CAP_SampleMixer::SetTrackCount(int n) {
  n = std::clamp(n, 0, kMaxTracks);
  for (int k = n; k < trackCount_; ++k) {
    delete tracks_[k];
    tracks_[k] = nullptr;
  }
  for (int k = trackCount_; k < n; ++k) {
    tracks_[k] = new CAP_SampleTrack(sampleRate);
    tracks_[k]->AddViewer(this);
  }
  trackCount_ = n;
  UpdateDuration();
}

void CAP_SampleMixer::BuildRateTable() {
  const double step = std::log(2.0) / 12;
  // The margins keep a rate that lies exactly on a bound (48,000 Hz an octave below 96,000 Hz)
  // inside the table despite the rounding of the logarithms.
  const int lowest = int(std::ceil(std::log(double(kMinRate) / baseRate_) / step - 1e-9));
  const int highest = int(std::floor(std::log(double(kMaxRate) / baseRate_) / step + 1e-9));
  count_ = std::clamp(highest - lowest + 1, 0, kMaxRateTable);
  for (int i = 0; i < count_; ++i)
    rateTable_[i] = std::clamp(RoundHalfAway(std::exp((lowest + i) * step) * baseRate_), kMinRate, kMaxRate);
  // A base rate outside 8,000..96,000 Hz has no entry of its own; its step 0 is then the nearest
  // entry's index, and shifting leaves the tracks at a table rate.
  baseIndex_ = count_ > 0 ? std::clamp(-lowest, 0, count_ - 1) : 0;
}

void CAP_SampleMixer::PitchRange(int* lowest, int* highest) const {
  *lowest = -baseIndex_;
  *highest = count_ - baseIndex_ - 1;
}

int CAP_SampleMixer::RateForPitch(float halftones) const {
  if (count_ == 0) return sampleRate;
  int lowest, highest;
  PitchRange(&lowest, &highest);
  const double h = std::isnan(halftones) ? 0.0 : std::clamp(double(halftones), double(lowest), double(highest));
  const double f = std::floor(h);
  const int i = baseIndex_ + int(f);
  return int(rateTable_[std::min(count_ - 1, i + 1)] * (h - f) + rateTable_[i] * (f + 1 - h));
}

int CAP_SampleMixer::NearestPitch(int rate) const {
  if (count_ == 0) return baseIndex_;
  // The nearest entry, also for a rate more than 96,000 Hz away from every entry.
  int best = 0;
  long distance = LONG_MAX;
  for (int i = 0; i < count_; ++i) {
    const long d = std::labs(long(rate) - rateTable_[i]);
    if (d < distance) {
      distance = d;
      best = i;
    }
  }
  return best - baseIndex_;
}

void CAP_SampleMixer::SetPitchShift(float halftones) { SetPitchShift(halftones, nullptr); }

bool CAP_SampleMixer::SetPitchShift(float halftones, const std::function<bool(double)>& step) {
  if (std::isnan(halftones) || halftones == pitch_) return true;
  const float oldPitch = pitch_;
  const int oldRate = sampleRate;
  int lowest, highest;
  PitchRange(&lowest, &highest);
  pitch_ = std::clamp(halftones, float(lowest), float(highest));
  sampleRate = RateForPitch(pitch_);
  for (int k = 0; k < trackCount_; ++k) {
    tracks_[k]->SetSampleRate(sampleRate);
    if (step && k + 1 < trackCount_ && !step(double(k + 1) / trackCount_)) {
      for (int j = 0; j <= k; ++j) tracks_[j]->SetSampleRate(oldRate);
      pitch_ = oldPitch;
      sampleRate = oldRate;
      SettleTracks();
      UpdateDuration();
      return false;
    }
  }
  SettleTracks();
  UpdateDuration();
  return true;
}

void CAP_SampleMixer::UpdateDuration() {
  double longest = 0;
  for (int k = 0; k < trackCount_; ++k) longest = std::max(longest, tracks_[k]->duration);
  duration = longest;
}

void CAP_SampleMixer::AddShift(double) { UpdateDuration(); }

bool CAP_SampleMixer::ReadGainIsIdentity(int channel) const {
  if (channel >= trackCount_ || readGain_[channel][channel] != 1) return false;
  for (int k = 0; k < trackCount_; ++k)
    if (k != channel && readGain_[k][channel] != 0) return false;
  return true;
}

bool CAP_SampleMixer::WriteGainIsIdentity(int track) const {
  if (track >= channels || writeGain_[track][track] != 1) return false;
  for (int j = 0; j < channels; ++j)
    if (j != track && writeGain_[j][track] != 0) return false;
  return true;
}

int CAP_SampleMixer::ReadFloat(float* dest, int frames, int position) {
  if (frames <= 0) return 0;
  int count = 0;
  for (int i = 0; i < channels; ++i) {
    if (ReadGainIsIdentity(i)) {
      count = tracks_[i]->ReadSamples(dest + i, frames, position, channels);
      continue;
    }
    for (int f = 0; f < frames; ++f) dest[std::size_t(f) * channels + i] = 0;
    scratch_.resize(kMixChunk);
    int largest = 0;
    for (int k = 0; k < trackCount_; ++k) {
      const float gain = readGain_[k][i];
      if (gain == 0) continue;
      for (int done = 0; done < frames;) {
        const int n = tracks_[k]->ReadSamples(scratch_.data(), std::min(kMixChunk, frames - done), position + done);
        for (int f = 0; f < n; ++f) dest[std::size_t(done + f) * channels + i] += gain * scratch_[f];
        done += n;
        largest = std::max(largest, done);
        if (n == 0) break;
      }
    }
    count = largest;
  }
  readPosition = position + count;
  return count;
}

void CAP_SampleMixer::WriteTrack(int i, const float* source, int frames, int position, std::vector<float>& scratch) {
  if (WriteGainIsIdentity(i)) {
    tracks_[i]->WriteSamples(source + i, frames, position, channels, 100, 0);
    return;
  }
  scratch.resize(kMixChunk);
  for (int done = 0; done < frames;) {
    const int n = std::min(kMixChunk, frames - done);
    std::fill(scratch.begin(), scratch.begin() + n, 0.0f);
    for (int j = 0; j < channels; ++j) {
      const float gain = writeGain_[j][i];
      if (gain == 0) continue;
      const float* in = source + std::size_t(done) * channels + j;
      for (int f = 0; f < n; ++f) scratch[f] += gain * in[std::size_t(f) * channels];
    }
    tracks_[i]->WriteFloat(scratch.data(), n, position + done);
    done += n;
  }
}

int CAP_SampleMixer::WriteFloat(const float* source, int frames, int position) {
  if (frames <= 0) return 0;
  WriteFrames(source, frames, position);
  SettleTracks();
  return frames;
}

void CAP_SampleMixer::WriteFrames(const float* source, int frames, int position) {
  if (frames <= 0) return;
  // The channels first: a computed mix track reads them for blocks it cannot take whole.
  for (int i = 0; i < trackCount_; ++i) WriteTrack(i, source, frames, position, scratch_);
  writePosition = position + frames;
  UpdateDuration();
}

void CAP_SampleMixer::RemoveDCOffsets(const DCOffsetMeter& meter, std::int64_t frames) {
  bool any = false;
  for (int c = 0; c < channels; ++c) {
    dcOffset_[c] = meter.Offset(c);
    any = any || dcOffset_[c] != 0;
  }
  if (!any) return;
  std::vector<float> buffer(std::size_t(kMixChunk) * channels);
  for (std::int64_t position = 0; position < frames;) {
    const int want = int(std::min<std::int64_t>(kMixChunk, frames - position));
    const int n = CAP_SampleMixer::ReadFloat(buffer.data(), want, int(position));
    if (n <= 0) break;
    for (int f = 0; f < n; ++f)
      for (int c = 0; c < channels; ++c) {
        float& v = buffer[std::size_t(f) * channels + c];
        v = float(std::clamp(double(v) - dcOffset_[c], -1.0, 1.0));
      }
    CAP_SampleMixer::WriteFloat(buffer.data(), n, int(position));
    position += n;
  }
}

bool CAP_SampleMixer::LoadFromDecoder(CAP_AudioDecoder* decoder, ProgressCallback progress, std::intptr_t user) {
  if (!decoder) return false;
  return LoadFrom(*decoder, decoder->TotalFrames(), progress, user);
}

int CAP_SampleMixer::LoadChunkFrames(int rate) {
  // One block of the store per read (0.1 s, an even count).
  return std::max(2, RoundHalfAway(rate * 0.1) & ~1);
}

void CAP_SampleMixer::BeginLoad() {
  for (double& offset : dcOffset_) offset = 0;
  loaded_ = 0;
  loadMeter_.reset();
  if (correctDC_) loadMeter_ = std::make_unique<DCOffsetMeter>(channels, LoadChunkFrames(sampleRate));
}

void CAP_SampleMixer::AppendLoaded(const float* frames, int n) {
  if (loadMeter_ && n > 0) loadMeter_->Add(frames, n);
  // Loading is no edit: the editor's growth notice (the history's extension while recording)
  // is not given for it, and the history does not exist yet when the document loads.
  WriteFrames(frames, n, int(loaded_));
  loaded_ += std::max(n, 0);
}

void CAP_SampleMixer::AppendLoadedAsRead(const NextRead& next) {
  const float* read = nullptr;
  int count = 0;
  if (loadThreads_ <= 1 || trackCount_ <= 1) {
    while (next(&read, &count)) AppendLoaded(read, count);
    return;
  }
  // As in LoadInParallel: the mixer hears of none of the writes (its duration would be read
  // across threads) and catches up at the end.
  struct Slot {
    const float* frames = nullptr;
    int n = 0;
    int position = 0;
  };
  std::vector<Slot> slots(kLoadSlots);
  std::vector<std::vector<float>> scratch(static_cast<std::size_t>(trackCount_));
  std::int64_t end = loaded_;
  auto produce = [&](int slot) {
    if (!next(&read, &count)) return ProducedChunk{false, false};
    if (loadMeter_) loadMeter_->Add(read, count);
    slots[std::size_t(slot)] = Slot{read, count, int(end)};
    end += count;
    return ProducedChunk{true, true};
  };
  auto consume = [&](int track, int slot) {
    const Slot& s = slots[std::size_t(slot)];
    WriteTrack(track, s.frames, s.n, s.position, scratch[std::size_t(track)]);
  };
  for (int k = 0; k < trackCount_; ++k) tracks_[k]->RemoveViewer(this);
  auto catchUp = [&] {
    for (int k = 0; k < trackCount_; ++k) tracks_[k]->AddViewer(this);
    UpdateDuration();
  };
  try {
    RunChunkPipeline(trackCount_, kLoadSlots, loadThreads_, produce, consume);
  } catch (...) {
    catchUp();
    throw;
  }
  if (end > loaded_) {
    loaded_ = end;
    writePosition = int(end);
  }
  catchUp();
}

void CAP_SampleMixer::EndLoad(bool whole) {
  SettleTracks();
  if (whole && loadMeter_) RemoveDCOffsets(*loadMeter_, loaded_);
  loadMeter_.reset();
}

bool CAP_SampleMixer::LoadFrom(CAP_AudioContainer& source, std::int64_t total, ProgressCallback progress,
                               std::intptr_t user) {
  // The frames are spread over the tracks as the mixer's own channels: another count would be
  // read with the wrong stride.
  if (source.channels != channels) return false;
  const int chunk = LoadChunkFrames(source.sampleRate);
  bool answer = true;
  BeginLoad();
  if (progress) answer = progress(user, kLoadingLabel, 0);
  if (!answer) return false;
  // Tracks that someone else watches (a waveform) are told of each change on this thread only.
  bool parallel = loadThreads_ > 1 && trackCount_ > 1;
  for (int k = 0; k < trackCount_; ++k) parallel = parallel && tracks_[k]->ViewerCount() == 1;
  if (parallel) {
    loaded_ = LoadInParallel(source, chunk, total, progress, user, &answer, loadMeter_.get());
  } else {
    std::vector<float> buffer(std::size_t(chunk) * channels);
    for (;;) {
      const int n = source.ReadFloatAtCursor(buffer.data(), chunk);
      AppendLoaded(buffer.data(), n);
      if (progress && total != 0) {
        answer = progress(user, kLoadingLabel, int(std::min<std::int64_t>(loaded_ * 100 / total, 100)));
        if (!answer) break;
      }
      if (n <= 0) break;
    }
  }
  EndLoad(answer);
  if (progress && loaded_ < total) progress(user, "", 100);
  return answer;
}

std::int64_t CAP_SampleMixer::LoadInParallel(CAP_AudioContainer& source, int chunk, std::int64_t total,
                                             ProgressCallback progress, std::intptr_t user, bool* answer,
                                             DCOffsetMeter* meter) {
  // Each track is one lane: it takes the same writes in the same order as on one thread, so its
  // blocks, signatures and summaries are the same. The mixer hears of none of them meanwhile (its
  // duration would be read across threads); it catches up at the end.
  struct Slot {
    std::vector<float> frames;
    int n = 0;
    int position = 0;
  };
  std::vector<Slot> slots(kLoadSlots);
  for (Slot& slot : slots) slot.frames.resize(std::size_t(chunk) * channels);
  std::vector<std::vector<float>> scratch(static_cast<std::size_t>(trackCount_));
  for (int k = 0; k < trackCount_; ++k) tracks_[k]->RemoveViewer(this);
  std::int64_t loaded = 0;
  auto produce = [&](int index) {
    Slot& slot = slots[std::size_t(index)];
    const int n = source.ReadFloatAtCursor(slot.frames.data(), chunk);
    if (meter && n > 0) meter->Add(slot.frames.data(), n);
    slot.n = n;
    slot.position = int(loaded);
    loaded += std::max(n, 0);
    ProducedChunk made{n > 0, n > 0};
    if (progress && total != 0) {
      *answer = progress(user, kLoadingLabel, int(std::min<std::int64_t>(loaded * 100 / total, 100)));
      if (!*answer) made.more = false;
    }
    return made;
  };
  auto consume = [&](int track, int index) {
    const Slot& slot = slots[std::size_t(index)];
    WriteTrack(track, slot.frames.data(), slot.n, slot.position, scratch[std::size_t(track)]);
  };
  try {
    RunChunkPipeline(trackCount_, kLoadSlots, loadThreads_, produce, consume);
  } catch (...) {
    for (int k = 0; k < trackCount_; ++k) tracks_[k]->AddViewer(this);
    UpdateDuration();
    throw;
  }
  for (int k = 0; k < trackCount_; ++k) tracks_[k]->AddViewer(this);
  if (loaded > 0) writePosition = int(loaded);
  UpdateDuration();
  return loaded;
}

int EP_SampleMixer::WriteFloat(const float* source, int frames, int position) {
  const std::int64_t length = std::int64_t(sampleRate * duration + 0.5);
  if (editor_ && frames > 0 && std::int64_t(position) + frames > length)
    editor_->AudioAboutToGrow(int(std::min<std::int64_t>(std::int64_t(position) + frames, INT32_MAX)));
  return CAP_SampleMixer::WriteFloat(source, frames, position);
}
