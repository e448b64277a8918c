#pragma once
// The one clipboard of the process: up to 32 tracks, one per mixer track that was copied (a
// stereo copy holds left, right and the mono mix). Every document copies into it and pastes from
// it; it outlives them all. UI thread only.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/SampleTrack.h"

class SharedClipboard {
public:
  static constexpr int kSlots = 32;

  // The process's clipboard, made on first use; its tracks go when the process ends.
  static SharedClipboard& Instance();

  CAP_SampleTrack* Slot(int index) const;
  // The filled slots, kept alive for as long as the caller holds them: a track is never changed
  // once it is in the clipboard, so another thread may read what it holds.
  std::vector<std::shared_ptr<const CAP_SampleTrack>> Share() const;
  // Takes ownership; an index outside 0..31 destroys the track.
  void SetSlot(int index, std::unique_ptr<CAP_SampleTrack> track);
  // Destroys every track.
  void Clear();
  // Filled slots counted from 0 up to the first empty one.
  int FilledCount() const;
  bool Empty() const { return !slots_[0]; }
  // Moves on at every change, so that a journal can tell whether it has the content already.
  std::uint64_t Generation() const { return generation_; }

private:
  std::array<std::shared_ptr<CAP_SampleTrack>, kSlots> slots_;
  std::uint64_t generation_ = 1;
};
