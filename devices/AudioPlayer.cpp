#include "devices/AudioPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;

// round(rate x seconds), half away from zero, kept inside the 32-bit sample range.
std::int32_t SecondsToSample(int rate, double seconds) {
  const double v = double(rate) * seconds;
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483647.0) return -2147483647;
  return static_cast<std::int32_t>(std::llround(v));
}

std::int16_t LoadInt16(const std::uint8_t* p) { return std::int16_t(p[0] | (p[1] << 8)); }
void StoreInt16(std::uint8_t* p, int v) {
  p[0] = std::uint8_t(v & 0xFF);
  p[1] = std::uint8_t((v >> 8) & 0xFF);
}
}  // namespace

CAI_AudioPlayer::CAI_AudioPlayer(CAP_AudioContainer* source, CAP_AudioContainer* sink,
                                 std::unique_ptr<CAI_WaveDevice> output, std::unique_ptr<CAI_WaveDevice> input)
    : source_(source), sink_(sink), output_(std::move(output)), input_(std::move(input)) {}

CAI_AudioPlayer::~CAI_AudioPlayer() {
  Stop();
  // A start that failed half-way has already closed its device; this is only a safety net.
  if (outputOpen_) ShutDown(WaveDirection::Output, true);
  if (inputOpen_) ShutDown(WaveDirection::Input, true);
  mailbox_.SetPendingHook(nullptr);
}

void CAI_AudioPlayer::SetError(const char* text) {
  std::snprintf(errorText_, sizeof errorText_, "%s", text);
}

bool CAI_AudioPlayer::Check(CAI_WaveDevice& device, int result) {
  if (result == kWaveOk) return true;
  const std::string text = device.ErrorText(result);
  SetError(text.empty() ? "Unknown sound device error." : text.c_str());
  return false;
}

bool CAI_AudioPlayer::ReadyToStart(const CAP_AudioContainer& container, WaveDirection direction) {
  const bool output = direction == WaveDirection::Output;
  if (startSample_ >= endSample_) return false;  // an empty range is no error
  if (!ValidFormat(container, output ? "play" : "record")) return false;
  if (output ? bool(output_) : bool(input_)) return true;
  SetError(output ? "There is no sound output device." : "There is no sound input device.");
  return false;
}

bool CAI_AudioPlayer::ValidFormat(const CAP_AudioContainer& container, const char* what) {
  if (container.channels >= 1 && container.channels <= 2 && container.sampleRate >= kMinRate &&
      container.sampleRate <= kMaxRate)
    return true;
  char text[256];
  std::snprintf(text, sizeof text, "Cannot %s %d channels at %d Hz: the sound devices take 1 or 2 channels at %d to %d Hz.",
                what, int(container.channels), int(container.sampleRate), kMinRate, kMaxRate);
  SetError(text);
  return false;
}

bool CAI_AudioPlayer::Reserve(Storage& storage, std::size_t& capacity, std::size_t bytes) {
  if (capacity >= bytes) return true;
  storage.reset();
  capacity = 0;
  storage.reset(static_cast<std::uint8_t*>(std::malloc(bytes)));
  if (!storage) {
    SetError("Not enough memory for the sound buffers.");
    return false;
  }
  capacity = bytes;
  return true;
}

bool CAI_AudioPlayer::CanPlayFormat(int rate, int channels, int bits, bool isFloat) {
  return output_ && output_->DeviceCount() > 0 &&
         output_->QueryFormat({rate, channels, bits, isFloat}) == kWaveOk;
}

bool CAI_AudioPlayer::CanRecordFormat(int rate, int channels, int bits, bool isFloat) {
  return input_ && input_->DeviceCount() > 0 &&
         input_->QueryFormat({rate, channels, bits, isFloat}) == kWaveOk;
}

void CAI_AudioPlayer::SetDcOffsets(float left, float right) {
  dcOffset_[0] = left;
  dcOffset_[1] = right;
}

bool CAI_AudioPlayer::Queue(CAI_WaveDevice& device, WaveHeader* header) {
  header->done = false;  // the device owns the buffer until its notice is handled
  if (Check(device, device.Queue(header))) return true;
  header->done = true;
  header->bufferLength = 0;
  return false;
}

// ---- playback ----

void CAI_AudioPlayer::Play(double startTime, double endTime) {
  if (!source_ || state_ != kDeviceIdle) return;
  state_ = kDeviceBusy;
  const int rate = source_->sampleRate;
  const int channels = source_->channels;
  startSample_ = std::max(0, SecondsToSample(rate, startTime));
  endSample_ = SecondsToSample(rate, endTime <= 0 ? source_->duration : endTime);
  playPosition_ = startSample_;
  endReached_ = false;
  playbackFinished_ = false;
  for (int i = 0; i < kPlaybackBuffers; ++i) headers_[i] = {};
  if (!ReadyToStart(*source_, WaveDirection::Output)) {
    state_ = kDeviceIdle;
    return;
  }

  playFloat_ = CanPlayFormat(rate, channels, 32, true);
  playBits_ = playFloat_ ? 32 : 16;
  bytesPerBuffer_ = playBits_ / 8 * channels * rate;  // one second
  if (!Reserve(playbackStorage_, playbackCapacity_, std::size_t(bytesPerBuffer_) * kPlaybackBuffers)) {
    state_ = kDeviceIdle;
    return;
  }

  bool ok = Check(*output_, output_->Open({rate, channels, playBits_, playFloat_}, &mailbox_));
  outputOpen_ = ok;
  // Held until both buffers are queued, so that sound starts without a gap.
  if (ok) ok = Check(*output_, output_->Pause());
  for (int i = 0; i < kPlaybackBuffers && ok; ++i) {
    WaveHeader& h = headers_[i];
    h.data = playbackStorage_.get() + std::size_t(i) * bytesPerBuffer_;
    h.user = this;
    h.bufferLength = std::uint32_t(FillPlaybackBuffer(h.data, bytesPerBuffer_));
    if (h.bufferLength == 0) {
      h.done = true;
      continue;
    }
    ok = h.prepared = Check(*output_, output_->Prepare(&h));
    if (ok) ok = Queue(*output_, &h);
    else h.bufferLength = 0;
  }
  if (ok) ok = Check(*output_, output_->Restart());
  if (!ok) {
    if (outputOpen_) ShutDown(WaveDirection::Output, true);
    state_ = kDeviceIdle;
    return;
  }
  // A range that lies past the source's end queued nothing: let Poll end it at once.
  playbackFinished_ = headers_[0].done && headers_[1].done;
  state_ = kDevicePlaying;
}

int CAI_AudioPlayer::FillPlaybackBuffer(std::uint8_t* buffer, int length) {
  const int bytesPerFrame = source_->channels * (playFloat_ ? 4 : 2);
  int filled = 0;
  while (filled < length && !endReached_) {
    const int frames = int(std::min<std::int64_t>((length - filled) / bytesPerFrame,
                                                  std::int64_t(endSample_) - playPosition_));
    int got = 0;
    if (frames > 0) {
      got = playFloat_ ? source_->ReadFloat(reinterpret_cast<float*>(buffer + filled), frames, playPosition_)
                       : source_->ReadInt(buffer + filled, 16, frames, playPosition_);
      got = std::clamp(got, 0, frames);
    }
    playPosition_ += got;
    filled += got * bytesPerFrame;
    if (filled < length) endReached_ = true;  // the range or the source is exhausted
  }
  return filled;
}

void CAI_AudioPlayer::OnPlaybackBufferDone(WaveHeader* header) {
  if (state_ != kDevicePlaying) {
    header->bufferLength = 0;
    return;
  }
  header->bufferLength = std::uint32_t(FillPlaybackBuffer(header->data, bytesPerBuffer_));
  if (header->bufferLength > 0) Queue(*output_, header);
  // The device clears the done mark of a queued buffer, so this holds only after the last
  // buffer that carried sound has been played.
  playbackFinished_ = headers_[0].done && headers_[1].done;
}

// ---- recording ----

int CAI_AudioPlayer::RecordBufferLengthFor(int rate, int bytesPerFrame) {
  const std::int64_t target = std::llround(double(rate) * 0.05) * bytesPerFrame;
  if (target <= 1024) return 512;
  std::int64_t length = 1024;
  while (2 * length < target) length *= 2;
  return int(length);
}

void CAI_AudioPlayer::CorrectDcOffsets(void* buffer, int frames, int channels, bool isFloat, const float offsets[2]) {
  if (channels < 1) channels = 1;
  // Offsets exist for the first two channels; any further channel passes unchanged.
  for (int c = 0; c < std::min(channels, 2); ++c) {
    const float offset = offsets[c];
    if (offset == 0 || !(offset == offset)) continue;
    if (isFloat) {
      float* s = static_cast<float*>(buffer) + c;
      for (int i = 0; i < frames; ++i, s += channels) *s = std::clamp(*s - offset, -1.0f, 1.0f);
    } else {
      const double scaled = std::clamp(double(offset) * 32768.0, -40000.0, 40000.0);
      const int k = int(std::clamp<long long>(std::llround(scaled), -32768, 32767));
      std::uint8_t* p = static_cast<std::uint8_t*>(buffer) + 2 * c;
      for (int i = 0; i < frames; ++i, p += 2 * channels) StoreInt16(p, std::clamp(LoadInt16(p) - k, -32767, 32767));
    }
  }
}

void CAI_AudioPlayer::Record(double startTime, double endTime) {
  if (!sink_ || state_ != kDeviceIdle) return;
  state_ = kDeviceBusy;
  const int rate = sink_->sampleRate;
  const int channels = sink_->channels;
  startSample_ = std::max(0, SecondsToSample(rate, startTime));
  endSample_ = SecondsToSample(rate, endTime);
  if (endSample_ < 1) endSample_ = kNoEnd;
  recordPosition_ = startSample_;
  endReached_ = false;
  for (int i = 0; i < kRecordBuffers; ++i) recordHeaders_[i] = {};
  if (!ReadyToStart(*sink_, WaveDirection::Input)) {
    state_ = kDeviceIdle;
    return;
  }

  recordFloat_ = CanRecordFormat(rate, channels, 32, true);
  recordBits_ = recordFloat_ ? 32 : 16;
  recordBufferLength_ = RecordBufferLengthFor(rate, recordBits_ / 8 * channels);
  if (!Reserve(recordStorage_, recordCapacity_, std::size_t(recordBufferLength_) * kRecordBuffers)) {
    state_ = kDeviceIdle;
    return;
  }

  bool ok = Check(*input_, input_->Open({rate, channels, recordBits_, recordFloat_}, &mailbox_));
  inputOpen_ = ok;
  for (int i = 0; i < kRecordBuffers && ok; ++i) {
    WaveHeader& h = recordHeaders_[i];
    h.data = recordStorage_.get() + std::size_t(i) * recordBufferLength_;
    h.bufferLength = std::uint32_t(recordBufferLength_);
    h.user = this;
    ok = h.prepared = Check(*input_, input_->Prepare(&h));
    if (ok) ok = Queue(*input_, &h);
    else h.bufferLength = 0;
  }
  if (ok) {
    state_ = kDeviceRecording;
    ok = Check(*input_, input_->Start());
  }
  if (!ok) {
    state_ = kDeviceBusy;  // buffers handed back now are discarded
    if (inputOpen_) ShutDown(WaveDirection::Input, true);
    state_ = kDeviceIdle;
  }
}

void CAI_AudioPlayer::OnRecordBufferDone(WaveHeader* header) {
  if (state_ != kDeviceRecording || endReached_) {
    header->bufferLength = 0;
    return;
  }
  const int channels = sink_->channels;
  const int bytesPerFrame = recordBits_ / 8 * channels;
  const int frames = int(std::min(header->bytesRecorded, header->bufferLength)) / bytesPerFrame;
  CorrectDcOffsets(header->data, frames, channels, recordFloat_, dcOffset_);
  const int n = int(std::min<std::int64_t>(frames, std::int64_t(endSample_) - recordPosition_));
  int accepted = 0;
  if (n > 0) {
    accepted = recordFloat_ ? sink_->WriteFloat(reinterpret_cast<const float*>(header->data), n, recordPosition_)
                            : sink_->WriteInt(header->data, 16, n, recordPosition_);
    accepted = std::clamp(accepted, 0, n);
  }
  if (recordTap_ && accepted > 0) recordTap_(header->data, accepted);
  recordPosition_ += accepted;
  endReached_ = accepted == 0;
  // Queued again even at the end; the next buffer that comes back stays out.
  if (!Queue(*input_, header)) endReached_ = true;
}

// ---- notices, stop and position ----

void CAI_AudioPlayer::Dispatch(const NotificationQueue::Notice& notice) {
  WaveHeader* h = notice.header;
  const bool ours = notice.direction == WaveDirection::Output
                        ? (h == &headers_[0] || h == &headers_[1])
                        : (h >= recordHeaders_ && h < recordHeaders_ + kRecordBuffers);
  if (!ours || h->user != this) return;
  h->done = true;
  if (notice.direction == WaveDirection::Output)
    OnPlaybackBufferDone(h);
  else
    OnRecordBufferDone(h);
}

void CAI_AudioPlayer::ProcessNotifications() {
  NotificationQueue::Notice notice;
  while (mailbox_.TakeAny(&notice)) Dispatch(notice);
}

void CAI_AudioPlayer::Poll() {
  ProcessNotifications();
  if ((state_ == kDeviceRecording && endReached_) || (state_ == kDevicePlaying && playbackFinished_)) Stop();
}

void CAI_AudioPlayer::ShutDown(WaveDirection direction, bool quiet) {
  const bool output = direction == WaveDirection::Output;
  CAI_WaveDevice& device = output ? *output_ : *input_;
  WaveHeader* headers = output ? headers_ : recordHeaders_;
  const int count = output ? kPlaybackBuffers : kRecordBuffers;
  auto check = [&](int result) { return quiet ? result == kWaveOk : Check(device, result); };

  bool ok = check(device.Reset());
  if (ok) {
    // Only this direction's notices are handled while waiting; the bound keeps a device that
    // never hands its buffers back from hanging the program.
    const auto deadline = std::chrono::steady_clock::now() + stopTimeout_;
    auto pending = [&] {
      for (int i = 0; i < count; ++i)
        if (headers[i].bufferLength != 0) return true;
      return false;
    };
    while (pending()) {
      NotificationQueue::Notice notice;
      if (mailbox_.Take(direction, &notice))
        Dispatch(notice);
      else if (!mailbox_.WaitFor(direction, deadline))
        break;
    }
  }
  for (int i = 0; i < count; ++i)
    if (headers[i].prepared && ok) ok = check(device.Unprepare(&headers[i]));
  // Closed even after a failure: a device left open would refuse every later start.
  check(device.Close());
  (output ? outputOpen_ : inputOpen_) = false;
  mailbox_.Discard(direction);
  for (int i = 0; i < count; ++i) {
    headers[i].bufferLength = 0;
    headers[i].done = true;
    headers[i].prepared = false;
  }
}

void CAI_AudioPlayer::Stop() {
  if (state_ != kDevicePlaying && state_ != kDeviceRecording) return;
  lastPosition_ = GetPositionSeconds();
  const bool playing = state_ == kDevicePlaying;
  state_ = kDeviceBusy;
  ShutDown(playing ? WaveDirection::Output : WaveDirection::Input, false);
  state_ = kDeviceIdle;
  endReached_ = false;
  playbackFinished_ = false;
}

double CAI_AudioPlayer::GetPositionSeconds() {
  if (state_ != kDevicePlaying && state_ != kDeviceRecording) return lastPosition_;
  const bool playing = state_ == kDevicePlaying;
  CAI_WaveDevice& device = playing ? *output_ : *input_;
  std::int64_t played = 0;
  if (Check(device, device.GetPosition(&played))) {
    const std::int64_t position =
        std::min<std::int64_t>(std::int64_t(startSample_) + std::max<std::int64_t>(played, 0), std::int64_t(endSample_) - 1);
    lastPosition_ = (playing ? source_ : sink_)->FramesToSeconds(int(position));
  }
  return lastPosition_;
}
