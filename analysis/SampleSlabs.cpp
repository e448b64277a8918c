#include "analysis/SampleSlabs.h"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "analysis/ScratchFile.h"

namespace {
constexpr std::size_t kRegionBytes = std::size_t(32) << 20;
// A region's pages are made present a huge page at a time, ahead of the slots carved from it: a
// page fault per 4 kB would cost more than the writes (a third of a whole-file edit's time),
// while a whole region at once would hold up to 32 MB more per track than its blocks use.
constexpr std::size_t kPopulateBytes = std::size_t(2) << 20;
// Below this much storage a track stays on the heap: a huge page per short track would cost more
// memory than it saves time.
constexpr std::size_t kHeapBytes = std::size_t(4) << 20;
}  // namespace

SampleSlabs::SampleSlabs(std::int32_t slotFloats)
    : slotFloats_(std::max<std::int32_t>(slotFloats, 1)),
      // 16-byte steps keep every slot aligned for vector loads.
      slotBytes_((sizeof(float) * std::size_t(slotFloats_) + 15) & ~std::size_t(15)) {}

SampleSlabs::~SampleSlabs() {
  for (const Region& r : regions_) scratch::UnmapRegion(r.base, r.bytes);
}

bool SampleSlabs::Holds(const float* slot) const {
  const char* p = reinterpret_cast<const char*>(slot);
  for (const Region& r : regions_)
    if (p >= r.base && p < r.base + r.bytes) return true;
  return false;
}

SampleSlabs::Region* SampleSlabs::RegionOf(const float* slot) {
  const char* p = reinterpret_cast<const char*>(slot);
  for (auto r = regions_.rbegin(); r != regions_.rend(); ++r)  // the newest first: most takes are there
    if (p >= r->base && p < r->base + r->bytes) return &*r;
  return nullptr;
}

void SampleSlabs::ReleaseRegion(Region* region) {
  // Its free slots go with it: each region keeps its own list, so nothing else is walked.
  // (Only the newest region is still being carved, and it is never released: an older one's
  // slots are all on its list.)
  freeSlots_ -= region->bytes / slotBytes_;
  scratch::UnmapRegion(region->base, region->bytes);
  regions_.erase(regions_.begin() + (region - regions_.data()));
}

void SampleSlabs::AddRegion() {
#if defined(__linux__)
  char* base = static_cast<char*>(scratch::MapRegion(kRegionBytes));
  regions_.push_back(Region{base, kRegionBytes, 0, {}});
  next_ = populated_ = base;
  end_ = base + kRegionBytes;
#else
  throw std::bad_alloc();
#endif
}

float* SampleSlabs::Take() {
  if (freeSlots_ > 0) {
    // The newest region with a free slot: the older ones may empty and go back.
    for (auto r = regions_.rbegin(); r != regions_.rend(); ++r) {
      if (r->free.empty()) continue;
      float* slot = r->free.back();
      r->free.pop_back();
      ++r->live;
      --freeSlots_;
      return slot;
    }
  }
#if defined(__linux__)
  if (heapSlots_ * slotBytes_ >= kHeapBytes && slotBytes_ <= kRegionBytes) {
    if (std::size_t(end_ - next_) < slotBytes_) AddRegion();
    float* slot = reinterpret_cast<float*>(next_);
    next_ += slotBytes_;
    while (populated_ < next_) {
      const std::size_t step = std::min(kPopulateBytes, std::size_t(end_ - populated_));
#if defined(MADV_POPULATE_WRITE)
      madvise(populated_, step, MADV_POPULATE_WRITE);
#endif
      populated_ += step;
    }
    ++RegionOf(slot)->live;
    return slot;
  }
#endif
  float* slot = new float[std::size_t(slotFloats_)];
  ++heapSlots_;
  return slot;
}

void SampleSlabs::Give(float* slot) {
  if (!slot) return;
  Region* region = RegionOf(slot);
  if (!region) {
    delete[] slot;
    return;
  }
  try {
    region->free.push_back(slot);
  } catch (const std::bad_alloc&) {
    return;  // no memory for the list: the slot stays taken (Give is called from destructors)
  }
  ++freeSlots_;
  // The newest region stays: it is where the next slots come from.
  if (--region->live == 0 && region != &regions_.back()) ReleaseRegion(region);
}
