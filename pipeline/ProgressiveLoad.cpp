#include "pipeline/ProgressiveLoad.h"

#include <algorithm>

#include "analysis/AudioContainer.h"
#include "pipeline/SampleMixer.h"

ProgressiveLoad::ProgressiveLoad(CAP_SampleMixer& mixer, CAP_AudioContainer& source, std::int64_t totalFrames)
    : mixer_(mixer),
      source_(source),
      total_(std::max<std::int64_t>(totalFrames, 0)),
      chunkFrames_(CAP_SampleMixer::LoadChunkFrames(source.sampleRate)) {
  mixer_.BeginLoad();
  reader_ = std::thread([this] { Read(); });
}

ProgressiveLoad::~ProgressiveLoad() { JoinReader(); }

void ProgressiveLoad::JoinReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopReading_ = true;
  }
  changed_.notify_all();
  if (reader_.joinable()) reader_.join();
}

void ProgressiveLoad::Read() {
  const std::size_t floats = std::size_t(chunkFrames_) * std::size_t(std::max(source_.channels, 1));
  for (;;) {
    Chunk chunk;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stopReading_ || int(ready_.size()) < kChunksAhead; });
      if (stopReading_) return;
      if (!spare_.empty()) {
        chunk = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    bool more = false;
    try {
      chunk.frames.resize(floats);
      chunk.n = source_.ReadFloatAtCursor(chunk.frames.data(), chunkFrames_);
      more = chunk.n > 0;
    } catch (...) {
      // A reader that cannot go on ends the audio here; the decoder's error text says why.
      chunk.n = 0;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ready_.push_back(std::move(chunk));
    }
    changed_.notify_all();
    if (!more) return;
  }
}

bool ProgressiveLoad::Step(std::chrono::microseconds budget) {
  if (finished_ || stopped_) return false;
  const auto deadline = std::chrono::steady_clock::now() + budget;
  // The chunks read so far, and those that arrive until the deadline (at least a batch of them
  // when they are there), go to the tracks in one run of the mixer's lanes: a run per batch would
  // leave a thread idle at the end of each while the last lane finishes.
  std::deque<Chunk> taken;  // appended in this step, not yet given back to the reader
  bool last = false;
  int given = 0;  // reads handed to the mixer in this step
  auto next = [&](const float** frames, int* count) {
    if (last) return false;
    Chunk chunk;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // A read the tracks are done with goes back for the reader to fill again.
      if (int(taken.size()) >= CAP_SampleMixer::kReadsInFlight) {
        spare_.push_back(std::move(taken.front()));
        taken.pop_front();
      }
      if (given >= kChunksPerBatch && std::chrono::steady_clock::now() >= deadline) return false;
      if (!changed_.wait_until(lock, deadline, [&] { return !ready_.empty(); })) return false;
      chunk = std::move(ready_.front());
      ready_.pop_front();
    }
    changed_.notify_all();
    // The read that gave nothing ends the audio.
    last = chunk.n <= 0;
    taken.push_back(std::move(chunk));  // its frames stay where they are
    if (last) return false;
    ++given;
    *frames = taken.back().frames.data();
    *count = taken.back().n;
    return true;
  };
  try {
    mixer_.AppendLoadedAsRead(next);
  } catch (...) {
    stopped_ = true;
    JoinReader();
    mixer_.EndLoad(false);
    throw;
  }
  if (last) {
    JoinReader();
    finished_ = true;
    mixer_.EndLoad(true);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Chunk& chunk : taken) spare_.push_back(std::move(chunk));
  }
  return true;
}

void ProgressiveLoad::Stop() {
  if (finished_ || stopped_) return;
  stopped_ = true;
  JoinReader();
  mixer_.EndLoad(false);
}

int ProgressiveLoad::Percent() const {
  if (finished_) return 100;
  if (total_ <= 0) return 0;
  return int(std::min<std::int64_t>(mixer_.LoadedFrames() * 100 / total_, 100));
}
