#include "analysis/BlockStore.h"

#include <algorithm>

#include "analysis/SampleTrack.h"

BlockStore::BlockStore(std::int32_t halfFloats, std::int32_t fullFloats) { SetSlotSizes(halfFloats, fullFloats); }

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
  block->bands.reset();
  block->next = freeRecords_;
  freeRecords_ = block;
}

float* BlockStore::TakeFloats(std::int32_t floats) {
  if (floats == half_->SlotFloats()) return half_->Take();
  if (floats > half_->SlotFloats() && floats <= full_->SlotFloats()) return full_->Take();
  return new float[std::size_t(std::max(floats, 1))];
}

void BlockStore::GiveFloats(float* data, std::int32_t) {
  if (!data) return;
  for (auto& s : slabs_)
    if (s->Holds(data)) {
      s->Give(data);
      return;
    }
  delete[] data;  // the heap's, or a slot that the slabs took from the heap
}

void BlockStore::FreeData(SampleBlock* block) {
  GiveFloats(block->data.release(), block->allocated);
  block->allocated = 0;
}

SampleSlabs* BlockStore::Slabs(std::int32_t floats) {
  // A size seen before (a pitch shifted back) takes its slabs up again.
  for (auto& s : slabs_)
    if (s->SlotFloats() == floats) return s.get();
  slabs_.push_back(std::make_unique<SampleSlabs>(floats));
  return slabs_.back().get();
}

void BlockStore::SetSlotSizes(std::int32_t halfFloats, std::int32_t fullFloats) {
  half_ = Slabs(halfFloats);
  full_ = Slabs(std::max(fullFloats, halfFloats));
}
