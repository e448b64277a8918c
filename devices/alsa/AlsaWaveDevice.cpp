#include "devices/alsa/AlsaWaveDevice.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <utility>
#include <vector>

namespace {
constexpr int kFailed = 1;  // the text is in lastError_
constexpr int kWaitMs = 20;  // how often the I/O thread looks at reset and close requests
constexpr unsigned kBufferTimeUs = 200000;
constexpr unsigned kPeriodTimeUs = 50000;

// alsa-lib reports on stderr what it also returns as an error code; the code is what we show.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsaErrors); });
}

snd_pcm_format_t AlsaFormat(const WaveFormat& f) {
  return f.isFloat ? SND_PCM_FORMAT_FLOAT_LE : SND_PCM_FORMAT_S16_LE;
}

bool SupportedLayout(const WaveFormat& f) {
  return f.channels >= 1 && f.channels <= 32 && f.sampleRate > 0 &&
         ((f.isFloat && f.bits == 32) || (!f.isFloat && f.bits == 16));
}

// Closes the PCM when the scope ends unless released.
struct PcmGuard {
  snd_pcm_t* pcm = nullptr;
  ~PcmGuard() {
    if (pcm) snd_pcm_close(pcm);
  }
  snd_pcm_t* Release() { return std::exchange(pcm, nullptr); }
};
}  // namespace

AlsaWaveDevice::AlsaWaveDevice(WaveDirection direction, std::string pcmName)
    : direction_(direction), pcmName_(std::move(pcmName)) {
  SilenceAlsa();
}

AlsaWaveDevice::~AlsaWaveDevice() {
  if (pcm_) Close();
}

const char* AlsaWaveDevice::DeviceName() const {
  return direction_ == WaveDirection::Output ? "sound output" : "sound input";
}

int AlsaWaveDevice::Fail(const char* what, int alsaError) {
  char text[256];
  std::snprintf(text, sizeof text, "%s: %s", what, snd_strerror(alsaError));
  lastError_ = text;
  return kFailed;
}

int AlsaWaveDevice::NotOpen() { return Fail(std::string("The ") + DeviceName() + " is not open."); }

int AlsaWaveDevice::Fail(const std::string& text) {
  lastError_ = text.substr(0, 255);
  return kFailed;
}

std::string AlsaWaveDevice::ErrorText(int result) const {
  if (result == kWaveOk) return {};
  return lastError_.empty() ? "Unknown sound device error." : lastError_;
}

int AlsaWaveDevice::DeviceCount() {
  PcmGuard probe;
  const auto stream = direction_ == WaveDirection::Output ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE;
  if (pcm_) return 1;
  return snd_pcm_open(&probe.pcm, pcmName_.c_str(), stream, SND_PCM_NONBLOCK) < 0 ? 0 : 1;
}

int AlsaWaveDevice::QueryFormat(const WaveFormat& format) {
  char what[200];
  std::snprintf(what, sizeof what, "The %s \"%s\" does not take %s at %d Hz with %d channels", DeviceName(),
                pcmName_.c_str(), format.isFloat ? "32-bit float" : "16-bit integers", format.sampleRate,
                format.channels);
  if (!SupportedLayout(format)) return Fail(std::string(what) + ".");
  PcmGuard probe;
  const auto stream = direction_ == WaveDirection::Output ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE;
  int err = snd_pcm_open(&probe.pcm, pcmName_.c_str(), stream, SND_PCM_NONBLOCK);
  if (err < 0) {
    char text[200];
    std::snprintf(text, sizeof text, "Cannot open the %s \"%s\"", DeviceName(), pcmName_.c_str());
    return Fail(text, err);
  }
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  if ((err = snd_pcm_hw_params_any(probe.pcm, hw)) < 0 ||
      (err = snd_pcm_hw_params_test_access(probe.pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
      (err = snd_pcm_hw_params_test_format(probe.pcm, hw, AlsaFormat(format))) < 0 ||
      (err = snd_pcm_hw_params_test_channels(probe.pcm, hw, unsigned(format.channels))) < 0 ||
      (err = snd_pcm_hw_params_test_rate(probe.pcm, hw, unsigned(format.sampleRate), 0)) < 0)
    return Fail(what, err);
  return kWaveOk;
}

int AlsaWaveDevice::Open(const WaveFormat& format, WaveNotificationSink* sink) {
  if (pcm_) return Fail(std::string("The ") + DeviceName() + " is already open.");
  if (!SupportedLayout(format)) return QueryFormat(format);
  PcmGuard pcm;
  const auto stream = direction_ == WaveDirection::Output ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE;
  char what[200];
  std::snprintf(what, sizeof what, "Cannot open the %s \"%s\"", DeviceName(), pcmName_.c_str());
  int err = snd_pcm_open(&pcm.pcm, pcmName_.c_str(), stream, SND_PCM_NONBLOCK);
  if (err < 0) return Fail(what, err);

  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  unsigned bufferTime = kBufferTimeUs, periodTime = kPeriodTimeUs;
  std::snprintf(what, sizeof what, "Cannot set the %s to %s at %d Hz with %d channels", DeviceName(),
                format.isFloat ? "32-bit float" : "16-bit integers", format.sampleRate, format.channels);
  if ((err = snd_pcm_hw_params_any(pcm.pcm, hw)) < 0 ||
      (err = snd_pcm_hw_params_set_access(pcm.pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
      (err = snd_pcm_hw_params_set_format(pcm.pcm, hw, AlsaFormat(format))) < 0 ||
      (err = snd_pcm_hw_params_set_channels(pcm.pcm, hw, unsigned(format.channels))) < 0 ||
      (err = snd_pcm_hw_params_set_rate(pcm.pcm, hw, unsigned(format.sampleRate), 0)) < 0)
    return Fail(what, err);
  // Buffer and period sizes are wishes; whatever the device settles on is fine.
  snd_pcm_hw_params_set_buffer_time_near(pcm.pcm, hw, &bufferTime, nullptr);
  snd_pcm_hw_params_set_period_time_near(pcm.pcm, hw, &periodTime, nullptr);
  if ((err = snd_pcm_hw_params(pcm.pcm, hw)) < 0) return Fail(what, err);
  snd_pcm_uframes_t period = 0;
  snd_pcm_hw_params_get_period_size(hw, &period, nullptr);
  periodFrames_ = std::max<long>(long(period), 64);

  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  if (snd_pcm_sw_params_current(pcm.pcm, sw) == 0) {
    // Output starts once a period is queued, so a short sound starts without filling the buffer.
    if (direction_ == WaveDirection::Output) snd_pcm_sw_params_set_start_threshold(pcm.pcm, sw, period);
    snd_pcm_sw_params_set_avail_min(pcm.pcm, sw, period);
    snd_pcm_sw_params(pcm.pcm, sw);
  }
  if ((err = snd_pcm_prepare(pcm.pcm)) < 0) return Fail(what, err);

  format_ = format;
  frameBytes_ = format.BlockAlign();
  sink_ = sink;
  position_ = 0;
  head_ = count_ = 0;
  paused_ = started_ = resetRequested_ = quit_ = failed_ = false;
  failure_.clear();
  pcm_ = pcm.pcm;
  try {
    thread_ = std::thread(&AlsaWaveDevice::Run, this);
  } catch (const std::system_error& e) {
    pcm_ = nullptr;
    return Fail(std::string("Cannot start the ") + DeviceName() + " thread: " + e.what());
  }
  pcm.Release();
  return kWaveOk;
}

int AlsaWaveDevice::Pause() {
  if (!pcm_) return NotOpen();
  std::lock_guard lock(mutex_);
  paused_ = true;
  return kWaveOk;
}

int AlsaWaveDevice::Restart() {
  if (!pcm_) return NotOpen();
  {
    std::lock_guard lock(mutex_);
    paused_ = false;
  }
  wake_.notify_all();
  return kWaveOk;
}

int AlsaWaveDevice::Start() {
  if (!pcm_) return NotOpen();
  {
    std::lock_guard lock(mutex_);
    started_ = true;
  }
  wake_.notify_all();
  return kWaveOk;
}

int AlsaWaveDevice::Prepare(WaveHeader*) {
  return pcm_ ? kWaveOk : NotOpen();
}

int AlsaWaveDevice::Unprepare(WaveHeader* header) {
  if (!pcm_) return NotOpen();
  std::lock_guard lock(mutex_);
  for (int i = 0; i < count_; ++i)
    if (queue_[(head_ + i) % kMaxQueued] == header)
      return Fail(std::string("A buffer is still queued on the ") + DeviceName() + ".");
  return kWaveOk;
}

int AlsaWaveDevice::Queue(WaveHeader* header) {
  if (!pcm_) return NotOpen();
  {
    std::lock_guard lock(mutex_);
    if (failed_) return Fail(failure_);
    if (count_ == kMaxQueued) return Fail(std::string("Too many buffers queued on the ") + DeviceName() + ".");
    if (direction_ == WaveDirection::Input) header->bytesRecorded = 0;
    queue_[(head_ + count_) % kMaxQueued] = header;
    ++count_;
  }
  wake_.notify_all();
  return kWaveOk;
}

int AlsaWaveDevice::Reset() {
  if (!pcm_) return NotOpen();
  {
    std::lock_guard lock(mutex_);
    resetRequested_ = true;  // the thread hands the buffers back; the caller waits for them
  }
  wake_.notify_all();
  return kWaveOk;
}

int AlsaWaveDevice::Close() {
  if (!pcm_) return NotOpen();
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  snd_pcm_drop(pcm_);
  const int err = snd_pcm_close(pcm_);
  pcm_ = nullptr;
  sink_ = nullptr;
  head_ = count_ = 0;  // buffers still queued are forgotten, never handed back
  if (err < 0) return Fail((std::string("Cannot close the ") + DeviceName()).c_str(), err);
  return kWaveOk;
}

int AlsaWaveDevice::GetPosition(std::int64_t* samples) {
  if (!pcm_) return NotOpen();
  *samples = position_.load();
  return kWaveOk;
}

// ---- the I/O thread ----

WaveHeader* AlsaWaveDevice::PopFront() {
  WaveHeader* h = queue_[head_];
  head_ = (head_ + 1) % kMaxQueued;
  --count_;
  return h;
}

void AlsaWaveDevice::PostUnlocked(std::unique_lock<std::mutex>& lock, WaveHeader* header) {
  lock.unlock();
  if (sink_) sink_->PostBufferDone(direction_, header);
  lock.lock();
}

void AlsaWaveDevice::UpdatePosition(std::int64_t handed) {
  if (direction_ == WaveDirection::Input) {
    position_ = handed;
    return;
  }
  // Frames handed over minus those still waiting in the device are the frames heard.
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_delay(pcm_, &delay) < 0) delay = 0;
  position_ = std::max<std::int64_t>(0, handed - std::max<snd_pcm_sframes_t>(delay, 0));
}

bool AlsaWaveDevice::SoundPlayedOut() {
  const snd_pcm_state_t state = snd_pcm_state(pcm_);
  if (state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_PREPARED) return true;
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_delay(pcm_, &delay) < 0 || delay <= 0) return true;
  // Less than a period queued never reaches the start threshold: start it by hand.
  if (state == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
  return false;
}

bool AlsaWaveDevice::WriteSome(WaveHeader* h, std::uint32_t& offset, std::int64_t& handed) {
  const std::uint32_t whole = h->bufferLength / std::uint32_t(frameBytes_) * std::uint32_t(frameBytes_);
  const long frames = std::min<long>(long((whole - offset) / std::uint32_t(frameBytes_)), periodFrames_);
  if (frames <= 0) return true;
  snd_pcm_sframes_t r = snd_pcm_writei(pcm_, h->data + offset, snd_pcm_uframes_t(frames));
  if (r == -EAGAIN) {
    snd_pcm_wait(pcm_, kWaitMs);
    UpdatePosition(handed);  // keeps the cursor moving while the device's buffer is full
    return true;
  }
  if (r < 0) {
    const int err = snd_pcm_recover(pcm_, int(r), 1);
    if (err < 0) {
      char text[256];
      std::snprintf(text, sizeof text, "Writing to the %s failed: %s", DeviceName(), snd_strerror(err));
      failure_ = text;
      return false;
    }
    return true;
  }
  offset += std::uint32_t(r) * std::uint32_t(frameBytes_);
  handed += r;
  UpdatePosition(handed);
  return true;
}

bool AlsaWaveDevice::ReadSome(WaveHeader* h, std::int64_t& handed) {
  if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
  const std::uint32_t fb = std::uint32_t(frameBytes_);
  const long frames = long(h->bufferLength / fb - h->bytesRecorded / fb);
  if (frames <= 0) return true;
  snd_pcm_sframes_t r = snd_pcm_readi(pcm_, h->data + h->bytesRecorded, snd_pcm_uframes_t(frames));
  if (r == -EAGAIN || r == 0) {
    snd_pcm_wait(pcm_, kWaitMs);
    return true;
  }
  if (r < 0) {
    const int err = snd_pcm_recover(pcm_, int(r), 1);
    if (err < 0) {
      char text[256];
      std::snprintf(text, sizeof text, "Reading from the %s failed: %s", DeviceName(), snd_strerror(err));
      failure_ = text;
      return false;
    }
    return true;
  }
  h->bytesRecorded += std::uint32_t(r) * fb;
  handed += r;
  UpdatePosition(handed);
  return true;
}

void AlsaWaveDevice::Run() {
  const bool output = direction_ == WaveDirection::Output;
  std::int64_t handed = 0;
  std::uint32_t offset = 0;  // output: bytes of the front buffer already written
  WaveHeader* draining = nullptr;  // output: written, its notice waits until it has been heard
  WaveHeader* back[kMaxQueued + 1];
  std::unique_lock lock(mutex_);
  while (!quit_) {
    if (resetRequested_ || failed_) {
      int n = 0;
      if (draining) back[n++] = std::exchange(draining, nullptr);
      while (count_ > 0) back[n++] = PopFront();
      const bool reset = resetRequested_;
      lock.unlock();
      if (reset) {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
      }
      for (int i = 0; i < n; ++i)
        if (sink_) sink_->PostBufferDone(direction_, back[i]);
      lock.lock();
      offset = 0;
      if (reset) {
        resetRequested_ = false;
        started_ = false;
        handed = 0;
        position_ = 0;
      } else if (count_ == 0 && !resetRequested_ && !quit_) {
        wake_.wait_for(lock, std::chrono::milliseconds(kWaitMs));
      }
      continue;
    }

    if (output) {
      if (draining) {
        bool heard;
        if (count_ > 0) {
          heard = true;  // more sound follows; the next buffer keeps the device busy
        } else {
          lock.unlock();
          heard = SoundPlayedOut();
          UpdatePosition(handed);
          lock.lock();
        }
        if (heard) {
          PostUnlocked(lock, std::exchange(draining, nullptr));
          continue;
        }
        wake_.wait_for(lock, std::chrono::milliseconds(kWaitMs / 2));
        continue;
      }
      if (paused_ || count_ == 0) {
        wake_.wait_for(lock, std::chrono::milliseconds(kWaitMs));
        continue;
      }
      WaveHeader* h = queue_[head_];
      lock.unlock();
      const bool ok = WriteSome(h, offset, handed);
      lock.lock();
      if (!ok) {
        failed_ = true;
        continue;
      }
      if (count_ > 0 && queue_[head_] == h && !resetRequested_ &&
          offset >= h->bufferLength / std::uint32_t(frameBytes_) * std::uint32_t(frameBytes_)) {
        PopFront();
        offset = 0;
        if (count_ == 0)
          draining = h;
        else
          PostUnlocked(lock, h);
      }
      continue;
    }

    if (!started_ || count_ == 0) {
      wake_.wait_for(lock, std::chrono::milliseconds(kWaitMs));
      continue;
    }
    WaveHeader* h = queue_[head_];
    lock.unlock();
    const bool ok = ReadSome(h, handed);
    lock.lock();
    if (!ok) {
      failed_ = true;
      continue;
    }
    const std::uint32_t fb = std::uint32_t(frameBytes_);
    if (count_ > 0 && queue_[head_] == h && !resetRequested_ && h->bytesRecorded / fb >= h->bufferLength / fb) {
      PopFront();
      PostUnlocked(lock, h);
    }
  }
}
