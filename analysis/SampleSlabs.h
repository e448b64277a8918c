#pragma once
// Storage for the samples (and summaries) of a track's blocks of the usual size. A track that
// grows past a few megabytes takes that storage from large regions, in huge pages so that loading
// an hour costs a few thousand page faults instead of half a million, or mapped from the scratch
// file past the memory share (ScratchFile.h); a small track (a clip,
// a short sound) keeps using the heap. Owned by one track and used from whichever single thread
// edits that track.
#include <cstddef>
#include <cstdint>
#include <vector>

class SampleSlabs {
public:
  explicit SampleSlabs(std::int32_t slotFloats);
  ~SampleSlabs();
  SampleSlabs(const SampleSlabs&) = delete;
  SampleSlabs& operator=(const SampleSlabs&) = delete;

  // Floats in every slot.
  std::int32_t SlotFloats() const { return slotFloats_; }
  // One slot; throws std::bad_alloc when the system has no memory.
  float* Take();
  // A slot from Take goes back for reuse; a region whose slots all came back goes back to the
  // system (a track that changes its rate moves into slots of another size).
  void Give(float* slot);
  std::size_t RegionCount() const { return regions_.size(); }
  // Whether slot lies in one of the regions (not a slot from the heap).
  bool Holds(const float* slot) const;

private:
  struct Region {
    char* base;
    std::size_t bytes;
    std::size_t live;  // slots handed out and not given back
    // Slots given back, kept beside the slots rather than in them: giving a slot back touches no
    // sample memory (which may be cold, or out on the scratch disk).
    std::vector<float*> free;
  };
  Region* RegionOf(const float* slot);
  void AddRegion();
  void ReleaseRegion(Region* region);

  std::int32_t slotFloats_;
  std::size_t slotBytes_;
  std::size_t heapSlots_ = 0;  // slots handed out from the heap before the first region
  std::vector<Region> regions_;
  char* next_ = nullptr;  // the unused rest of the newest region
  char* end_ = nullptr;
  char* populated_ = nullptr;  // the newest region's pages are present up to here
  std::size_t freeSlots_ = 0;  // on the regions' lists
};
