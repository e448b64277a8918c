#include "analysis/BlockStore.h"

#include <algorithm>

#include "analysis/SampleTrack.h"

BlockStore::BlockStore(std::int32_t slotFloats) { SetSlotFloats(slotFloats); }

BlockStore::~BlockStore() = default;

SampleBlock* BlockStore::NewRecord() {
  if (!freeRecords_) {
    // Records come in slabs, so that a walk over a list reads neighbouring memory.
    constexpr int kSlab = 256;
    records_.emplace_back(new SampleBlock[kSlab]);
    SampleBlock* slab = records_.back().get();
    for (int i = kSlab - 1; i >= 0; --i) {  // handed out in address order
      slab[i].next = freeRecords_;
      freeRecords_ = &slab[i];
    }
  }
  SampleBlock* block = freeRecords_;
  freeRecords_ = block->next;
  *block = SampleBlock();
  return block;
}

void BlockStore::FreeRecord(SampleBlock* block) {
  FreeData(block);
  block->next = freeRecords_;
  freeRecords_ = block;
}

float* BlockStore::TakeFloats(std::int32_t floats) {
  SampleSlabs& newest = *slabs_.back();
  return floats == newest.SlotFloats() ? newest.Take() : new float[std::size_t(std::max(floats, 1))];
}

void BlockStore::GiveFloats(float* data, std::int32_t floats) {
  if (!data) return;
  for (auto s = slabs_.rbegin(); s != slabs_.rend(); ++s)
    if ((*s)->SlotFloats() == floats) {
      (*s)->Give(data);  // a heap slot of that size is deleted there
      return;
    }
  delete[] data;
}

void BlockStore::FreeData(SampleBlock* block) {
  GiveFloats(block->data.release(), block->allocated);
  block->allocated = 0;
}

void BlockStore::SetSlotFloats(std::int32_t floats) {
  // A size seen before (a pitch shifted back) takes its slabs up again.
  auto same = std::find_if(slabs_.begin(), slabs_.end(), [&](const auto& s) { return s->SlotFloats() == floats; });
  if (same == slabs_.end()) slabs_.push_back(std::make_unique<SampleSlabs>(floats));
  else std::rotate(same, same + 1, slabs_.end());
}
