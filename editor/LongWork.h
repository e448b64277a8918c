#pragma once
// The heavy part of a long command, with progress and a way to stop it. The command's logic stays
// on the UI thread; RunOnWorker hands one piece of pure work (new blocks, stretched samples) to a
// worker thread and keeps the UI informed through its LongWorkObserver until the piece is done.
// The piece must only read the document and build things of its own; nothing changes the
// document until the UI thread puts the result in, so a stop at any point leaves it as it was.
// Without an observer (the command-line tool, replay) the piece runs on the calling thread.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>

// Thrown inside the work once a stop was asked for; the command that catches it rolls back.
struct WorkStopped {};

// The UI's side, called on the UI thread only.
class LongWorkObserver {
public:
  virtual ~LongWorkObserver() = default;
  // A command's work starts: until EndWork the document must not be read or changed by the UI
  // (the view shows what it showed), and no other command may start.
  virtual void BeginWork(const std::string& text) = 0;
  // Called every few tens of milliseconds while the work runs (first before it starts); keeps the
  // window painting and returns false when the user asked to stop.
  virtual bool WorkProgress(int percent) = 0;
  virtual void EndWork() = 0;
};

class LongWork {
public:
  // observer may be null: no progress, no stop.
  LongWork(LongWorkObserver* observer, const std::string& text);
  ~LongWork();
  LongWork(const LongWork&) = delete;
  LongWork& operator=(const LongWork&) = delete;

  // Runs work on a worker thread while this thread reports to the observer; an exception of the
  // work (WorkStopped, std::bad_alloc) is thrown again here.
  void RunOnWorker(const std::function<void()>& work);
  // For work done on the UI thread itself: reports the fraction and lets the window paint;
  // false once the user asked to stop.
  bool Step(double fraction);
  // The same for work that could ask very often (block by block): asks at most once per report
  // period, and otherwise only notes the fraction.
  bool Tick(double fraction);

  // Any thread.
  void Report(double fraction) { permille_.store(int(fraction * 1000), std::memory_order_relaxed); }
  bool Stopped() const { return stopped_.load(std::memory_order_relaxed); }
  void ThrowIfStopped() const {
    if (Stopped()) throw WorkStopped();
  }

private:
  bool Ask();

  LongWorkObserver* observer_;
  std::atomic<int> permille_{0};
  std::atomic<bool> stopped_{false};
  std::chrono::steady_clock::time_point lastAsked_{};
};
