#pragma once
// The wave device over ALSA on a PCM (normally "default", which PipeWire and PulseAudio serve
// too). Each open device runs one I/O thread that writes the queued buffers, or fills them from
// the capture, and hands them back through the notification sink. The thread is the only one
// that touches the PCM while it is open.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "devices/WaveDevice.h"

typedef struct _snd_pcm snd_pcm_t;

class AlsaWaveDevice final : public CAI_WaveDevice {
public:
  explicit AlsaWaveDevice(WaveDirection direction, std::string pcmName = "default");
  ~AlsaWaveDevice() override;
  AlsaWaveDevice(const AlsaWaveDevice&) = delete;
  AlsaWaveDevice& operator=(const AlsaWaveDevice&) = delete;

  WaveDirection Direction() const override { return direction_; }
  int DeviceCount() override;
  int QueryFormat(const WaveFormat& format) override;
  int Open(const WaveFormat& format, WaveNotificationSink* sink) override;
  int Pause() override;
  int Restart() override;
  int Start() override;
  int Prepare(WaveHeader* header) override;
  int Unprepare(WaveHeader* header) override;
  int Queue(WaveHeader* header) override;
  int Reset() override;
  int Close() override;
  int GetPosition(std::int64_t* samples) override;
  std::string ErrorText(int result) const override;

private:
  static constexpr int kMaxQueued = 32;

  int Fail(const char* what, int alsaError);
  int Fail(const std::string& text);
  int NotOpen();
  const char* DeviceName() const;
  void Run();
  // One step of the I/O loop with the lock released; false once the PCM failed for good.
  bool WriteSome(WaveHeader* header, std::uint32_t& offset, std::int64_t& handed);
  bool ReadSome(WaveHeader* header, std::int64_t& handed);
  bool SoundPlayedOut();
  void UpdatePosition(std::int64_t handed);
  void PostUnlocked(std::unique_lock<std::mutex>& lock, WaveHeader* header);
  WaveHeader* PopFront();

  const WaveDirection direction_;
  const std::string pcmName_;
  std::string lastError_;

  snd_pcm_t* pcm_ = nullptr;
  WaveFormat format_;
  int frameBytes_ = 0;
  long periodFrames_ = 0;
  WaveNotificationSink* sink_ = nullptr;
  std::thread thread_;
  std::atomic<std::int64_t> position_{0};

  // Shared with the I/O thread.
  std::mutex mutex_;
  std::condition_variable wake_;
  WaveHeader* queue_[kMaxQueued] = {};
  int head_ = 0;
  int count_ = 0;
  bool paused_ = false;
  bool started_ = false;
  bool resetRequested_ = false;
  bool quit_ = false;
  bool failed_ = false;
  std::string failure_;
};
