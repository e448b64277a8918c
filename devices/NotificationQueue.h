#pragma once
// The player's mailbox for buffers its devices hand back: posted from any thread, drained on the
// UI thread. Fixed capacity, so nothing is allocated while sound runs.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "devices/WaveDevice.h"

class NotificationQueue final : public WaveNotificationSink {
public:
  struct Notice {
    WaveDirection direction = WaveDirection::Output;
    WaveHeader* header = nullptr;
  };

  // More than all buffers one player can lend at once (2 playback + 20 record).
  static constexpr int kCapacity = 64;

  void PostBufferDone(WaveDirection direction, WaveHeader* header) override;

  // Called on the posting thread after every post (outside the lock), to wake the UI thread.
  void SetPendingHook(std::function<void()> hook);

  // Removes the oldest notice of the direction; false when there is none.
  bool Take(WaveDirection direction, Notice* out);
  // Removes the oldest notice of either direction.
  bool TakeAny(Notice* out);
  // Waits until a notice of the direction is there or the deadline passes; true when one is.
  bool WaitFor(WaveDirection direction, std::chrono::steady_clock::time_point deadline);
  // Forgets every notice of the direction (after its device was closed).
  void Discard(WaveDirection direction);
  int Size() const;

private:
  bool TakeLocked(const WaveDirection* direction, Notice* out);

  mutable std::mutex mutex_;
  std::condition_variable posted_;
  Notice notices_[kCapacity];
  int count_ = 0;
  std::mutex hookMutex_;  // the hook runs under its own lock, so it can be replaced at any time
  std::function<void()> hook_;
};
