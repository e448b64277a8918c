#include "pipeline/ChunkPipeline.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <unistd.h>

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
  static constexpr int kChunksPerRun = 2;

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

  // Runs the lane furthest behind that has chunks waiting and no thread on it, over a few of
  // them; false when there is none. A few at a time, so that a short run of chunks (a load shown
  // while it arrives appends eight at once) spreads its lanes' work evenly over the threads
  // instead of leaving one thread the last lane alone. Entered and left with the lock held.
  bool RunOneLane(std::unique_lock<std::mutex>& lock) {
    std::size_t k = taken_.size();
    for (std::size_t j = 0; j < taken_.size(); ++j)
      if (!busy_[j] && taken_[j] < produced_ && (k == taken_.size() || taken_[j] < taken_[k])) k = j;
    if (k < taken_.size()) {
      busy_[k] = true;
      const std::int64_t from = taken_[k], to = std::min(produced_, from + kChunksPerRun);
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

// Threads kept for the pipelines: a load shown while it arrives runs a pipeline every few chunks,
// and a thread made and ended for each (its stack given back to the system at its end) cost more
// than the work it did. Idle threads wait here; a job finds one or makes one. They last as long
// as the process (the pool is never destroyed, so no thread outlives it). A child made by fork
// has none of its parent's threads: its first pipeline starts a pool of its own.
class HelperThreads {
public:
  static HelperThreads& Get() {
    static std::atomic<HelperThreads*> pool{nullptr};
    const pid_t self = getpid();
    HelperThreads* current = pool.load(std::memory_order_acquire);
    while (!current || current->owner_ != self) {
      // A parent's pool is left as it was at the fork.
      auto* fresh = new HelperThreads(self);
      if (pool.compare_exchange_strong(current, fresh, std::memory_order_acq_rel)) return *fresh;
      delete fresh;  // another thread made one first: current holds it now
    }
    return *current;
  }
  // Runs job on a helper thread; throws std::system_error when no thread can be made.
  void Run(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    if (idle_ > 0) {
      --idle_;
      wake_.notify_one();
      return;
    }
    try {
      std::thread([this] { Serve(); }).detach();
    } catch (...) {
      jobs_.pop_back();
      throw;
    }
  }

private:
  void Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (jobs_.empty()) {
        // Counted once; Run takes the count back when it hands a job. A thread back from a job
        // may take that job first: this one then sleeps on uncounted, and a later job makes a
        // new thread rather than wait for one that is busy.
        ++idle_;
        wake_.wait(lock, [this] { return !jobs_.empty(); });
      }
      std::function<void()> job = std::move(jobs_.back());
      jobs_.pop_back();
      lock.unlock();
      job();
      lock.lock();
    }
  }
  explicit HelperThreads(pid_t owner) : owner_(owner) {}
  const pid_t owner_;  // the process whose threads these are
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::function<void()>> jobs_;
  int idle_ = 0;  // threads asleep that no job has been promised to
};

}  // namespace

void RunChunkPipeline(int lanes, int slots, int threads, const std::function<ProducedChunk(int)>& produce,
                      const std::function<void(int, int)>& consume) {
  Pipeline pipeline(std::max(lanes, 1), std::max(slots, 1), consume);
  const int wanted = std::clamp(threads - 1, 0, lanes);
  std::mutex mutex;
  std::condition_variable done;
  int working = 0;
  for (int i = 0; i < wanted; ++i) {
    try {
      {
        std::lock_guard<std::mutex> hold(mutex);
        ++working;
      }
      HelperThreads::Get().Run([&] {
        pipeline.Work();
        std::lock_guard<std::mutex> hold(mutex);
        if (--working == 0) done.notify_all();
      });
    } catch (const std::system_error&) {
      std::lock_guard<std::mutex> hold(mutex);
      --working;
      break;  // fewer threads: the calling thread does the rest
    }
  }
  pipeline.Produce(produce);
  {
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] { return working == 0; });
  }
  if (pipeline.Error()) std::rethrow_exception(pipeline.Error());
}
