#pragma once
// Where a track's block records and samples live. A track shares its store with the chains of
// blocks taken out of it (what an edit replaced, kept for undo), so that moving blocks between the
// track and its history costs no copy; the store lasts as long as any of them. Used from one
// thread at a time.
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/SampleSlabs.h"

struct SampleBlock;

class BlockStore {
public:
  // halfFloats: the storage of a block of the usual size (half the track's capacity), fullFloats
  // of a full block.
  BlockStore(std::int32_t halfFloats, std::int32_t fullFloats);
  ~BlockStore();
  BlockStore(const BlockStore&) = delete;
  BlockStore& operator=(const BlockStore&) = delete;

  // A cleared record; its addresses never change. Throws std::bad_alloc.
  SampleBlock* NewRecord();
  // The record and its samples go back for reuse.
  void FreeRecord(SampleBlock* block);
  // Storage for floats: a slot of the usual size for a block of that size, a full slot for a
  // longer block (a merge, a mixed write), the heap for a shorter one. Throws std::bad_alloc.
  float* TakeFloats(std::int32_t floats);
  void GiveFloats(float* data, std::int32_t floats);
  // The block's samples go back; the block keeps no storage.
  void FreeData(SampleBlock* block);
  // New slots have these sizes from now on (a new rate); blocks in slots of an older size give
  // them back where they came from.
  void SetSlotSizes(std::int32_t halfFloats, std::int32_t fullFloats);

private:
  SampleSlabs* Slabs(std::int32_t floats);
  std::vector<std::unique_ptr<SampleSlabs>> slabs_;  // every size seen
  SampleSlabs* half_ = nullptr;
  SampleSlabs* full_ = nullptr;
  std::vector<std::unique_ptr<SampleBlock[]>> records_;
  SampleBlock* freeRecords_ = nullptr;  // linked through next
};
