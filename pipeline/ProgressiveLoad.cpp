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
  for (;;) {
    // The chunks read so far (at least one, waiting for it until the deadline), up to a batch.
    std::vector<Chunk> batch;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!changed_.wait_until(lock, deadline, [&] { return !ready_.empty(); })) return true;
      while (!ready_.empty() && int(batch.size()) < kChunksPerBatch) {
        batch.push_back(std::move(ready_.front()));
        ready_.pop_front();
      }
    }
    changed_.notify_all();
    // The read that gave nothing ends the audio; it comes last.
    const bool last = batch.back().n <= 0;
    std::vector<const float*> frames;
    std::vector<int> counts;
    for (const Chunk& chunk : batch)
      if (chunk.n > 0) {
        frames.push_back(chunk.frames.data());
        counts.push_back(chunk.n);
      }
    try {
      mixer_.AppendLoadedInLanes(frames, counts);
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
      for (Chunk& chunk : batch) spare_.push_back(std::move(chunk));
    }
    if (std::chrono::steady_clock::now() >= deadline) return true;
  }
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
