#pragma once
// A thread that writes what the UI thread queues, so that nothing on the UI thread waits for the
// disk: the edit journal's records and a recording's buffers. The thread takes everything queued
// at once and hands it to the owner's write; a failed write stops the writing for good and keeps
// its text.
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

template <class Item>
class WriterThread {
public:
  // Called on the thread with everything queued since its last call: none when woken by the
  // tick or a flush. flushing: a Flush waits until what is written is settled on the disk.
  // False on a failure, with errno telling why.
  using Write = std::function<bool(std::deque<Item>& batch, bool flushing)>;

  WriterThread() = default;
  ~WriterThread() { Stop(false); }
  WriterThread(const WriterThread&) = delete;
  WriterThread& operator=(const WriterThread&) = delete;

  // failure: the start of the text a failed write leaves, errno's words follow; tick: how often
  // write is called with nothing queued (zero: never).
  void Start(Write write, std::string failure, std::chrono::milliseconds tick = std::chrono::milliseconds(0)) {
    write_ = std::move(write);
    failurePrefix_ = std::move(failure);
    tick_ = tick;
    thread_ = std::thread([this] { Run(); });
  }

  void Queue(Item item) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failed_ || stop_) return;
      queue_.push_back(std::move(item));
      ++queued_;
    }
    wake_.notify_one();
  }

  // Waits until everything queued so far is written and settled; false after a failure.
  bool Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable()) return false;
    const std::uint64_t target = queued_, asked = ++flushesAsked_;
    wake_.notify_all();
    done_.wait(lock, [&] { return (written_ >= target && flushesDone_ >= asked) || failed_; });
    return !failed_;
  }

  // Writes what is queued (or drops it) and ends the thread; write's last call is flushing.
  void Stop(bool drop) {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      if (drop) queue_.clear();
    }
    wake_.notify_all();
    thread_.join();
  }

  // A failure found outside the thread (a file that could not be made).
  void Fail(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = std::move(text);
    failed_ = true;
  }
  bool Failed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
  }
  std::string FailureText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
  }

private:
  void Run();

  Write write_;
  std::string failurePrefix_;
  std::chrono::milliseconds tick_{0};
  mutable std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::deque<Item> queue_;
  std::uint64_t queued_ = 0, written_ = 0;
  std::uint64_t flushesAsked_ = 0, flushesDone_ = 0;
  bool stop_ = false, failed_ = false;
  std::string failure_;
  std::thread thread_;
};

template <class Item>
void WriterThread<Item>::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    auto ready = [&] { return stop_ || flushesAsked_ > flushesDone_ || !queue_.empty(); };
    if (tick_.count() > 0) wake_.wait_for(lock, tick_, ready);
    else wake_.wait(lock, ready);
    std::deque<Item> batch;
    batch.swap(queue_);
    const std::uint64_t asked = flushesAsked_;
    const bool stopping = stop_, flushing = stop_ || asked > flushesDone_, failedBefore = failed_;
    lock.unlock();
    const std::size_t count = batch.size();
    const bool ok = failedBefore || write_(batch, flushing);
    const int error = errno;
    batch.clear();  // what the items kept alive goes before the owner hears they are written
    lock.lock();
    if (!ok && !failed_) {
      failure_ = failurePrefix_ + " (" + std::strerror(error) + ")";
      failed_ = true;
    }
    written_ += count;
    flushesDone_ = asked;
    done_.notify_all();
    if (stopping && queue_.empty()) return;
  }
}
