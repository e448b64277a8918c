// Moving blocks in and out of a track: what an edit replaces leaves the list whole, with its
// samples, signatures and summaries, and an undo links it back; only the blocks at the ends of a
// range are split or made again.
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "analysis/BlockStore.h"
#include "analysis/BlockSummary.h"
#include "analysis/SampleTrack.h"

BlockChain::~BlockChain() { Release(); }

BlockChain::BlockChain(BlockChain&& other) noexcept { *this = std::move(other); }

BlockChain& BlockChain::operator=(BlockChain&& other) noexcept {
  if (this == &other) return *this;
  Release();
  store_ = std::move(other.store_);
  head_ = std::exchange(other.head_, nullptr);
  tail_ = std::exchange(other.tail_, nullptr);
  length_ = std::exchange(other.length_, 0);
  blocks_ = std::exchange(other.blocks_, 0);
  settled_ = std::exchange(other.settled_, false);
  return *this;
}

void BlockChain::Release() {
  for (SampleBlock* b = head_; b;) {
    SampleBlock* next = b->next;
    store_->FreeRecord(b);
    b = next;
  }
  head_ = tail_ = nullptr;
  length_ = blocks_ = 0;
  settled_ = false;
  store_.reset();
}

// New blocks gathered in order before they go into the list; freed if that never happens.
struct CAP_SampleTrack::ChainBuilder {
  BlockChain chain;
  void Append(SampleBlock* block) {
    block->prev = chain.tail_;
    block->next = nullptr;
    if (chain.tail_) chain.tail_->next = block; else chain.head_ = block;
    chain.tail_ = block;
    chain.length_ += block->count;
    ++chain.blocks_;
  }
};

SampleBlock* CAP_SampleTrack::NewLooseBlock(int n, ChainBuilder& into) {
  if (!into.chain.store_) into.chain.store_ = store_;
  SampleBlock* block = AllocateBlock();
  const std::int32_t floats = BlockFloats(n);
  try {
    block->data.reset(store_->TakeFloats(floats));
  } catch (...) {
    ReleaseBlock(block);
    throw;
  }
  block->allocated = floats;
  block->count = n;
  into.Append(block);
  return block;
}

BlockChain CAP_SampleTrack::Adopt(BlockChain& chain) {
  if (!chain.head_ || chain.store_ == store_) return std::move(chain);
  ChainBuilder copy;
  for (const SampleBlock* b = chain.head_; b; b = b->next) {
    SampleBlock* block = NewLooseBlock(b->count, copy);
    if (!block->computed) {
      if (b->computed) std::fill_n(block->Samples(), b->count, 0.0f);  // never asked: chains stay with their kind
      else std::memcpy(block->Samples(), b->Samples(), sizeof(float) * std::size_t(b->count));
    }
    RecomputeBlock(block);
  }
  chain.Release();
  return std::move(copy.chain);
}

BlockChain CAP_SampleTrack::SwapRange(int count, int position, BlockChain&& incoming) {
  position = std::clamp(position, 0, length_);
  count = std::clamp(count, 0, length_ - position);
  if (count == 0 && !incoming.head_) {
    NotifyViewers(0, position, 0);
    return {};
  }
  // Both ends on block boundaries first: the splits change no sample and, with a copy of a
  // chain from elsewhere, are all that may fail; the incoming chain is taken only after them.
  SampleBlock* before = SplitAt(position);
  SampleBlock* lastOld = count > 0 ? SplitAt(position + count) : before;
  BlockChain chain = Adopt(incoming);
  SampleBlock* first = before ? before->next : head_;
  SampleBlock* following = count > 0 ? lastOld->next : first;
  const bool incomingSettled = chain.settled_;
  BlockChain old;
  if (count > 0) {
    int blocks = 0;
    // As a deletion: a run through the range ends there, and a block of the prototype takes
    // every mark with it (those outside the range are cleared below, the range's here).
    bool prototypeGoes = false;
    for (SampleBlock* b = first;; b = b->next) {
      prototypeGoes = prototypeGoes || b->inPrototype;
      if (prototypeGoes) ClearMarks(b);
      else ClearMatchMarks(b);
      ++blocks;
      if (b == lastOld) break;
    }
    if (prototypeGoes) {
      for (SampleBlock* b = head_; b != first; b = b->next) ClearMarks(b);
      for (SampleBlock* b = lastOld->next; b; b = b->next) ClearMarks(b);
    }
    old.settled_ = !needsSettle_;
    first->prev = nullptr;
    lastOld->next = nullptr;
    old.store_ = store_;
    old.head_ = first;
    old.tail_ = lastOld;
    old.length_ = count;
    old.blocks_ = blocks;
    blockCount_ -= blocks;
  }
  const int inserted = chain.length_;
  SampleBlock* lastNew = before;
  SampleBlock* firstNew = chain.head_;
  if (chain.head_) {
    chain.head_->prev = before;
    chain.tail_->next = following;
    lastNew = chain.tail_;
    if (before) before->next = chain.head_; else head_ = chain.head_;
    if (following) following->prev = chain.tail_; else tail_ = chain.tail_;
    blockCount_ += chain.blocks_;
    chain.head_ = chain.tail_ = nullptr;
    chain.length_ = chain.blocks_ = 0;
  } else {
    if (before) before->next = following; else head_ = following;
    if (following) following->prev = before; else tail_ = before;
  }
  walkBlock_ = nullptr;
  ForgetLocateHint();
  if (left_ && inserted > 0 && !incomingSettled) needsSettle_ = true;  // the chain may bring stale blocks
  SetLength(length_ - count + inserted);
  // Short blocks at the seams merge with their neighbours; without the memory for that they
  // stay short, which costs nothing but a little speed.
  try {
    NormalizeAround(following);
    NormalizeAround(lastNew);
    if (firstNew) NormalizeAround(firstNew);  // a chain's first block may be the short end of a split
    NormalizeAround(before);
  } catch (const std::bad_alloc&) {
  }
  if (inserted == count) NotifyViewers(count, position, 0);
  else NotifyViewers(length_ - position, position, inserted - count);
  return old;
}

BlockChain CAP_SampleTrack::MakeChanged(int count, int position, const SampleChange* change, int* chainStart,
                                        int* span) {
  position = std::clamp(position, 0, length_);
  count = std::clamp(count, 0, length_ - position);
  *chainStart = position;
  *span = 0;
  if (count == 0) return {};
  int offset = 0;
  SampleBlock* b = LocateWithStart(position, &offset, chainStart);
  ChainBuilder fresh;
  long long index = 0;
  for (int remaining = count; remaining > 0 && b; b = b->next, offset = 0) {
    SampleBlock* block = NewLooseBlock(b->count, fresh);
    const int n = std::min(b->count - offset, remaining);
    if (block->computed && change) {
      RecomputeBlock(block);  // from the sources, once they are changed too
    } else if (block->computed) {
      // A copy keeps the summaries, signature, colour and bands (or the staleness).
      std::memcpy(block->Summaries(), b->Summaries(), sizeof(float) * std::size_t(SummaryFloats(b->count, true)));
      block->signature = b->signature;
      block->color = b->color;
      block->stale = b->stale;
      block->CopyBandsFrom(*b);
    } else if (change) {
      const std::size_t tail = std::size_t(b->count - offset - n);
      std::memcpy(block->Samples(), b->Samples(), sizeof(float) * std::size_t(offset));
      (*change)(b->Samples() + offset, block->Samples() + offset, n, index);
      std::memcpy(block->Samples() + offset + n, b->Samples() + offset + n, sizeof(float) * tail);
      RecomputeBlock(block);
    } else {
      // A copy keeps the signature, colour and summaries.
      std::memcpy(block->Samples(), b->Samples(), sizeof(float) * std::size_t(b->allocated));
      block->signature = b->signature;
      block->color = b->color;
      block->CopyBandsFrom(*b);
    }
    index += n;
    remaining -= n;
    *span += b->count;
  }
  return std::move(fresh.chain);
}

BlockChain CAP_SampleTrack::ChangeRange(int count, int position, const SampleChange& change, int* chainStart) {
  int span = 0;
  BlockChain fresh = MakeChanged(count, position, &change, chainStart, &span);
  if (span == 0) {
    NotifyViewers(0, *chainStart, 0);
    return {};
  }
  return SwapRange(span, *chainStart, std::move(fresh));
}

BlockChain CAP_SampleTrack::CopyChain(int count, int position, int* chainStart) {
  int span = 0;
  return MakeChanged(count, position, nullptr, chainStart, &span);
}

BlockChain CAP_SampleTrack::CopyChainFrom(const CAP_SampleTrack& source, int count, int sourcePosition,
                                          const std::function<void(int n)>& progress) {
  // Walked from the head: the locate hints are source's own, and other threads may read it.
  const SampleBlock* b = source.head_;
  int d = std::max(sourcePosition, 0);
  for (; b && d >= b->count; b = b->next) d -= b->count;
  ChainBuilder copy;
  for (int copied = 0; b && copied < count; b = b->next, d = 0) {
    const int n = std::min(b->count - d, count - copied);
    FillAsCopy(NewLooseBlock(n, copy), b, b->Samples(), n, d);
    copied += n;
    if (progress) progress(n);
  }
  return std::move(copy.chain);
}

BlockChain CAP_SampleTrack::ReverseRange(int count, int position) {
  position = std::clamp(position, 0, length_);
  count = std::clamp(count, 0, length_ - position);
  if (count == 0) {
    NotifyViewers(0, position, 0);
    return {};
  }
  SampleBlock* before = SplitAt(position);
  SampleBlock* last = SplitAt(position + count);
  SampleBlock* first = before ? before->next : head_;
  // The blocks mirrored: each new block is an old one backwards, the last first.
  ChainBuilder fresh;
  for (SampleBlock* b = last;; b = b->prev) {
    SampleBlock* block = NewLooseBlock(b->count, fresh);
    if (!block->computed) std::reverse_copy(b->Samples(), b->Samples() + b->count, block->Samples());
    RecomputeBlock(block);  // a computed block from the sources, once they are reversed too
    if (b == first) break;
  }
  return SwapRange(count, position, std::move(fresh.chain));
}
