#pragma once
// A file's audio loaded while its document is already shown. A thread reads the source ahead into
// a few chunks; the UI thread appends them to the mixer in steps (Step), so that between steps
// the window paints what has arrived and the player reads it. The mixer ends exactly as a load on
// one thread leaves it (CAP_SampleMixer::LoadFrom): the same reads, appended in the same order
// (a few at a time, each track on one of the mixer's load threads).
//
// Threads: the source belongs to the reading thread from the constructor until Finish, Stop or
// the destructor returns; nobody else may touch it meanwhile. The mixer and its tracks belong to
// the UI thread, which alone calls every method here; within a step it lends each track to one
// load thread at a time and waits for them.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class CAP_AudioContainer;
class CAP_SampleMixer;

class ProgressiveLoad {
public:
  // Chunks the reader may hold ahead of the tracks (each a tenth of a second of audio).
  static constexpr int kChunksAhead = 64;
  // Chunks a step appends when they are there, though its time is up (the tracks are filled on
  // the mixer's load threads).
  static constexpr int kChunksPerBatch = 8;

  // totalFrames: what the source announces (0 when unknown). The mixer's channels must be the
  // source's (checked by the caller, as LoadFrom checks).
  ProgressiveLoad(CAP_SampleMixer& mixer, CAP_AudioContainer& source, std::int64_t totalFrames);
  ~ProgressiveLoad();
  ProgressiveLoad(const ProgressiveLoad&) = delete;
  ProgressiveLoad& operator=(const ProgressiveLoad&) = delete;

  // Appends the chunks read so far, waiting for more until budget has passed; true while the
  // source has more to give. The last step ends the load (the mix settled, a DC offset removed).
  // The tracks' std::bad_alloc and ScratchFull pass through: the load is then over, unfinished.
  bool Step(std::chrono::microseconds budget);
  bool Finished() const { return finished_; }
  // Ends the reading and the load where they are (the tracks keep what arrived).
  void Stop();
  // 0 to 100 of the announced frames (0 while unknown).
  int Percent() const;
  std::int64_t TotalFrames() const { return total_; }

private:
  struct Chunk {
    std::vector<float> frames;
    int n = 0;
  };
  void Read();
  void JoinReader();

  CAP_SampleMixer& mixer_;
  CAP_AudioContainer& source_;
  const std::int64_t total_;
  const int chunkFrames_;
  bool finished_ = false;
  bool stopped_ = false;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> ready_;  // read, waiting for the tracks
  std::vector<Chunk> spare_;  // appended, for the reader to fill again
  bool stopReading_ = false;
  std::thread reader_;
};
