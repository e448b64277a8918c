#pragma once
// A wave device for tests: nothing sounds; a clock that the test advances plays or records the
// queued buffers and hands them back, every queued and played byte is kept, and any call can be
// made to fail.
#include <cstdint>
#include <deque>
#include <vector>

#include "devices/WaveDevice.h"

enum class FakeWaveCall { Query, Open, Pause, Restart, Start, Prepare, Unprepare, Queue, Reset, Close, GetPosition, kCount };

class FakeWaveDevice final : public CAI_WaveDevice {
public:
  explicit FakeWaveDevice(WaveDirection direction) : direction_(direction) {}

  WaveDirection Direction() const override { return direction_; }
  int DeviceCount() override { return deviceCount; }
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

  // ---- what the test sets ----
  int deviceCount = 1;
  bool acceptsFloat = true;
  // False: Reset keeps the buffers, like a device that never hands them back.
  bool returnsOnReset = true;
  // What the input hears, repeated from its start; silence when empty.
  std::vector<std::uint8_t> captureData;

  // The nth call of that kind from now on fails.
  void FailOn(FakeWaveCall call, int nth = 1);
  // The clock: this many frames are played or recorded; every buffer that got finished comes back.
  void Advance(std::int64_t frames);
  // Hands the oldest queued buffer back at once, as far as it got; false when none is queued.
  bool ReturnNext();

  // ---- what the test reads ----
  bool IsOpen() const { return open_; }
  bool IsPaused() const { return paused_; }
  bool IsStarted() const { return started_; }
  const WaveFormat& Format() const { return format_; }
  int QueuedCount() const { return int(queue_.size()); }
  int Calls(FakeWaveCall call) const { return calls_[int(call)]; }
  std::vector<std::uint8_t> played;          // every byte played, in order
  std::vector<std::uint32_t> queuedLengths;  // the length of every queued buffer, in order

private:
  int Enter(FakeWaveCall call);  // counts the call; kWaveOk or the injected failure
  void HandBack(WaveHeader* header);

  WaveDirection direction_;
  WaveFormat format_;
  WaveNotificationSink* sink_ = nullptr;
  bool open_ = false;
  bool paused_ = false;
  bool started_ = false;
  std::int64_t position_ = 0;
  std::uint32_t frontOffset_ = 0;  // bytes of the oldest output buffer already played
  std::size_t captureOffset_ = 0;
  std::deque<WaveHeader*> queue_;
  int calls_[int(FakeWaveCall::kCount)] = {};
  int failAt_[int(FakeWaveCall::kCount)] = {};  // 0: no failure armed
};
