#include "pipeline/ChunkPipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

class Pipeline {
public:
  Pipeline(int lanes, int slots, const std::function<void(int, int)>& consume)
      : slots_(slots), consume_(consume), taken_(std::size_t(lanes), 0), busy_(std::size_t(lanes), false) {}

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (RunOneLane(lock)) continue;
      if (finished_ && AllTaken()) return;
      Wait(lock);
    }
  }

  void Produce(const std::function<ProducedChunk(int)>& produce) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      // The slot to fill is free once every lane took the chunk it held.
      while (!error_ && produced_ - OldestTaken() >= slots_)
        if (!RunOneLane(lock)) Wait(lock);
      if (error_) break;
      const int slot = int(produced_ % slots_);
      lock.unlock();
      ProducedChunk chunk;
      try {
        chunk = produce(slot);
      } catch (...) {
        lock.lock();
        if (!error_) error_ = std::current_exception();
        break;
      }
      lock.lock();
      if (chunk.filled) {
        ++produced_;
        // Waking a worker per chunk would cost more than the chunk: every few chunks will do,
        // and when the ring is full this thread runs a lane itself.
        if (produced_ % kWakeEvery == 0) Notify();
      }
      if (!chunk.more) break;
    }
    finished_ = true;
    Notify();
    // The calling thread helps with what is left.
    while (!AllTaken())
      if (!RunOneLane(lock)) Wait(lock);
  }

  std::exception_ptr Error() const { return error_; }

private:
  static constexpr int kWakeEvery = 4;

  void Wait(std::unique_lock<std::mutex>& lock) {
    ++waiting_;
    changed_.wait(lock);
    --waiting_;
  }
  void Notify() {
    if (waiting_ > 0) changed_.notify_all();
  }

  std::int64_t OldestTaken() const { return *std::min_element(taken_.begin(), taken_.end()); }
  bool AllTaken() const {
    for (std::size_t k = 0; k < taken_.size(); ++k)
      if (busy_[k] || taken_[k] < produced_) return false;
    return true;
  }

  // Runs a lane that has chunks waiting and no thread on it, over all of them; false when there is
  // none. Entered and left with the lock held.
  bool RunOneLane(std::unique_lock<std::mutex>& lock) {
    for (std::size_t k = 0; k < taken_.size(); ++k) {
      if (busy_[k] || taken_[k] >= produced_) continue;
      busy_[k] = true;
      const std::int64_t from = taken_[k], to = produced_;
      lock.unlock();
      std::exception_ptr error;
      try {
        for (std::int64_t c = from; c < to; ++c) consume_(int(k), int(c % slots_));
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      if (error && !error_) error_ = error;
      taken_[k] = to;
      busy_[k] = false;
      Notify();
      return true;
    }
    return false;
  }

  const int slots_;
  const std::function<void(int, int)>& consume_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t produced_ = 0;
  bool finished_ = false;
  int waiting_ = 0;  // threads in Wait
  std::vector<std::int64_t> taken_;  // chunks each lane has taken
  std::vector<bool> busy_;           // a thread runs the lane
  std::exception_ptr error_;
};

}  // namespace

void RunChunkPipeline(int lanes, int slots, int threads, const std::function<ProducedChunk(int)>& produce,
                      const std::function<void(int, int)>& consume) {
  Pipeline pipeline(std::max(lanes, 1), std::max(slots, 1), consume);
  std::vector<std::thread> workers;
  const int wanted = std::clamp(threads - 1, 0, lanes);
  for (int i = 0; i < wanted; ++i) {
    try {
      workers.emplace_back([&pipeline] { pipeline.Work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads: the calling thread does the rest
    }
  }
  pipeline.Produce(produce);
  for (std::thread& t : workers) t.join();
  if (pipeline.Error()) std::rethrow_exception(pipeline.Error());
}
