#include "devices/NotificationQueue.h"

#include <utility>

void NotificationQueue::PostBufferDone(WaveDirection direction, WaveHeader* header) {
  {
    std::lock_guard lock(mutex_);
    // Full only if a device hands back more buffers than it was lent; the stop bound covers it.
    if (count_ < kCapacity) notices_[count_++] = {direction, header};
  }
  posted_.notify_all();
  std::lock_guard hookLock(hookMutex_);
  if (hook_) hook_();
}

void NotificationQueue::SetPendingHook(std::function<void()> hook) {
  std::lock_guard lock(hookMutex_);
  hook_ = std::move(hook);
}

bool NotificationQueue::TakeLocked(const WaveDirection* direction, Notice* out) {
  for (int i = 0; i < count_; ++i) {
    if (direction && notices_[i].direction != *direction) continue;
    *out = notices_[i];
    for (int k = i + 1; k < count_; ++k) notices_[k - 1] = notices_[k];
    --count_;
    return true;
  }
  return false;
}

bool NotificationQueue::Take(WaveDirection direction, Notice* out) {
  std::lock_guard lock(mutex_);
  return TakeLocked(&direction, out);
}

bool NotificationQueue::TakeAny(Notice* out) {
  std::lock_guard lock(mutex_);
  return TakeLocked(nullptr, out);
}

bool NotificationQueue::WaitFor(WaveDirection direction, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  auto present = [&] {
    for (int i = 0; i < count_; ++i)
      if (notices_[i].direction == direction) return true;
    return false;
  };
  return posted_.wait_until(lock, deadline, present);
}

void NotificationQueue::Discard(WaveDirection direction) {
  std::lock_guard lock(mutex_);
  int kept = 0;
  for (int i = 0; i < count_; ++i)
    if (notices_[i].direction != direction) notices_[kept++] = notices_[i];
  count_ = kept;
}

int NotificationQueue::Size() const {
  std::lock_guard lock(mutex_);
  return count_;
}
