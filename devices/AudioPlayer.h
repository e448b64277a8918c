#pragma once
// Plays a time range of a source container through the default output device and records from
// the default input device into a sink container. Playback keeps two one-second buffers in
// flight; recording keeps twenty buffers of 25-50 ms queued. Buffer notices from the devices
// wait in a thread-safe mailbox until the UI thread drains it (ProcessNotifications, Poll, Stop).
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

#include "analysis/AudioContainer.h"
#include "devices/NotificationQueue.h"
#include "devices/WaveDevice.h"

enum DeviceState : std::int32_t {
  kDeviceIdle = 0,
  kDevicePlaying = 1,
  kDeviceRecording = 3,
  kDeviceBusy = 4,  // while starting and while stopping
};

class CAI_AudioPlayer {
public:
  static constexpr int kPlaybackBuffers = 2;
  static constexpr int kRecordBuffers = 20;
  static constexpr std::int32_t kNoEnd = 2147483647;

  // Either device may be null: that direction then has no device at all.
  CAI_AudioPlayer(CAP_AudioContainer* source, CAP_AudioContainer* sink,
                  std::unique_ptr<CAI_WaveDevice> output, std::unique_ptr<CAI_WaveDevice> input);
  ~CAI_AudioPlayer();
  CAI_AudioPlayer(const CAI_AudioPlayer&) = delete;
  CAI_AudioPlayer& operator=(const CAI_AudioPlayer&) = delete;

  // endTime <= 0 plays to the source's end.
  void Play(double startTime, double endTime);
  // Records into the sink from the sink position of startTime; an end below one sample is no end.
  void Record(double startTime, double endTime);
  void Stop();
  // Drains the notices, then stops a playback that has finished or a recording the sink ended.
  void Poll();
  double GetPositionSeconds();
  void SetDcOffsets(float left, float right);
  bool CanPlayFormat(int rate, int channels, int bits, bool isFloat);
  bool CanRecordFormat(int rate, int channels, int bits, bool isFloat);
  const char* ErrorText() const { return errorText_; }
  std::int32_t State() const { return state_; }

  // Handles every notice the devices have posted. The application calls it from the queued
  // wake-up that the pending hook triggers.
  void ProcessNotifications();
  // Called on the device's own thread whenever a notice waits; it must only wake the UI thread.
  void SetNotificationHook(std::function<void()> hook) { mailbox_.SetPendingHook(std::move(hook)); }
  // How long Stop waits for the buffers to come back before it closes the device anyway.
  void SetStopTimeout(std::chrono::milliseconds timeout) { stopTimeout_ = timeout; }
  // Sees every recorded buffer as it goes into the sink (after the DC correction, as many frames
  // as the sink took, in the record format); the recovery file of the recording. UI thread.
  using RecordTap = std::function<void(const void* data, int frames)>;
  void SetRecordTap(RecordTap tap) { recordTap_ = std::move(tap); }

  // The fields the algorithms run on, for the transport commands and for tests.
  std::int32_t StartSample() const { return startSample_; }
  std::int32_t EndSample() const { return endSample_; }
  std::int32_t PlayPosition() const { return playPosition_; }
  std::int32_t RecordPosition() const { return recordPosition_; }
  bool EndReached() const { return endReached_; }
  bool PlaybackFinished() const { return playbackFinished_; }
  bool PlayFloat() const { return playFloat_; }
  bool RecordFloat() const { return recordFloat_; }
  int PlayBits() const { return playBits_; }
  int RecordBits() const { return recordBits_; }
  int RecordBufferLength() const { return recordBufferLength_; }
  int PlaybackBufferLength() const { return bytesPerBuffer_; }
  const WaveHeader& Header(int i) const { return headers_[i]; }
  float DcOffset(int channel) const { return dcOffset_[channel]; }

  // The record buffer length for a frame size and rate: 512 bytes up to 1024 bytes of 50 ms,
  // else the smallest 1024 x 2^k whose double reaches 50 ms.
  static int RecordBufferLengthFor(int rate, int bytesPerFrame);
  // Subtracts the DC offsets from interleaved frames (float or 16-bit), clamping.
  static void CorrectDcOffsets(void* buffer, int frames, int channels, bool isFloat, const float offsets[2]);

private:
  struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
  };
  using Storage = std::unique_ptr<std::uint8_t, FreeDeleter>;

  void OnPlaybackBufferDone(WaveHeader* header);
  void OnRecordBufferDone(WaveHeader* header);
  void Dispatch(const NotificationQueue::Notice& notice);
  int FillPlaybackBuffer(std::uint8_t* buffer, int length);
  // Stores the device's text for a failed result; true on success.
  bool Check(CAI_WaveDevice& device, int result);
  void SetError(const char* text);
  bool ValidFormat(const CAP_AudioContainer& container, const char* what);
  // The checks before a device opens: a non-empty range, a format the devices carry, a device.
  bool ReadyToStart(const CAP_AudioContainer& container, WaveDirection direction);
  bool Reserve(Storage& storage, std::size_t& capacity, std::size_t bytes);
  // Resets the device, waits (bounded) for its buffers, unprepares them and closes it. Quiet:
  // the cleanup after a failed start keeps the text of the failure that caused it.
  void ShutDown(WaveDirection direction, bool quiet);
  bool Queue(CAI_WaveDevice& device, WaveHeader* header);

  CAP_AudioContainer* source_;
  CAP_AudioContainer* sink_;
  std::int32_t state_ = kDeviceIdle;
  char errorText_[256] = {};
  float dcOffset_[2] = {0, 0};
  double lastPosition_ = 0;
  std::int32_t playPosition_ = 0;
  std::int32_t recordPosition_ = 0;
  RecordTap recordTap_;
  bool endReached_ = false;
  bool playbackFinished_ = false;
  WaveHeader headers_[kPlaybackBuffers + kRecordBuffers];
  WaveHeader* const recordHeaders_ = headers_ + kPlaybackBuffers;
  // Sized from the format when an operation starts; kept (and reused) between operations.
  Storage playbackStorage_;
  std::size_t playbackCapacity_ = 0;
  Storage recordStorage_;
  std::size_t recordCapacity_ = 0;
  // Before the devices, so that it outlives them.
  NotificationQueue mailbox_;
  std::unique_ptr<CAI_WaveDevice> output_;
  std::unique_ptr<CAI_WaveDevice> input_;
  bool outputOpen_ = false;
  bool inputOpen_ = false;
  std::int32_t startSample_ = 0;
  std::int32_t endSample_ = 0;
  bool playFloat_ = false;
  bool recordFloat_ = false;
  int recordBits_ = 16;
  int playBits_ = 16;
  int bytesPerBuffer_ = 0;
  int recordBufferLength_ = 0;
  std::chrono::milliseconds stopTimeout_{2000};
};
