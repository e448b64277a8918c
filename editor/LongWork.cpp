#include "editor/LongWork.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace {
// How often the UI hears of the work: often enough to paint smoothly and stop at once.
constexpr auto kReportPeriod = std::chrono::milliseconds(30);
}  // namespace

LongWork::LongWork(LongWorkObserver* observer, const std::string& text) : observer_(observer) {
  if (observer_) observer_->BeginWork(text);
}

LongWork::~LongWork() {
  if (observer_) observer_->EndWork();
}

bool LongWork::Ask() {
  if (!Stopped() && observer_ && !observer_->WorkProgress(permille_.load(std::memory_order_relaxed) / 10))
    stopped_ = true;
  return !Stopped();
}

bool LongWork::Step(double fraction) {
  Report(fraction);
  lastAsked_ = std::chrono::steady_clock::now();
  return Ask();
}

bool LongWork::Tick(double fraction) {
  Report(fraction);
  if (std::chrono::steady_clock::now() - lastAsked_ < kReportPeriod) return !Stopped();
  return Step(fraction);
}

void LongWork::RunOnWorker(const std::function<void()>& work) {
  if (!observer_) {
    work();
    return;
  }
  // A stop asked for before the start is seen at the work's first check.
  Ask();
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::exception_ptr failure;
  std::thread worker;
  try {
    worker = std::thread([&] {
      try {
        work();
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex);
      done = true;
      ended.notify_one();
    });
  } catch (const std::system_error&) {
    // No thread to spare: the same work on this thread, without progress.
    work();
    return;
  }
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      if (ended.wait_for(lock, kReportPeriod, [&] { return done; })) break;
    }
    Ask();
  }
  worker.join();
  if (failure) std::rethrow_exception(failure);
}
