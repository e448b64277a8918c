#include "analysis/SampleTrack.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <cstring>
#include <new>
#include <system_error>
#include <vector>

#include "analysis/BlockSummary.h"
#include "analysis/BlockStore.h"
#include "analysis/SignatureKernels.h"

namespace {
void CopyStrided(float* dest, int destStep, const float* source, int sourceStep, int n) {
  if (destStep == 1 && sourceStep == 1) {
    std::memcpy(dest, source, sizeof(float) * std::size_t(n));
    return;
  }
  for (int i = 0; i < n; ++i) dest[std::size_t(i) * destStep] = source[std::size_t(i) * sourceStep];
}

std::int32_t StorageFloats(int n) { return n + SummaryFloats(n, false); }

// Storage for n samples and their summaries, nothing more: a track's heap stays close to its
// samples. Allocated before anything changes, so that running out of memory leaves the block as
// it was; given back unless handed to a block.
class Storage {
public:
  Storage(BlockStore* store, std::int32_t floats) : store_(store), floats_(floats) { data_ = store->TakeFloats(floats_); }
  ~Storage() { store_->GiveFloats(data_, floats_); }
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;
  float* get() const { return data_; }
  // The block's old storage goes back; the block owns this one from now on.
  void MoveInto(SampleBlock* block) {
    store_->FreeData(block);
    block->data.reset(data_);
    block->allocated = floats_;
    data_ = nullptr;
  }

private:
  BlockStore* store_;
  std::int32_t floats_;
  float* data_;
};

constexpr int kProduceChunk = 4096;  // samples read from each source per pass
constexpr long long kParallelSettleSamples = 1 << 20;  // stale samples worth a second thread

// Reads a stored track from a block found beforehand, without the track's cursor or locate hint,
// so that several threads can read one track at once. Reads go mostly forward; a read may start a
// little before the last one ended.
class SampleCursor {
public:
  SampleCursor(const SampleBlock* block, int start) : block_(block), start_(start) {}
  SampleCursor(const CAP_SampleTrack& track, int position) : block_(track.Head()), start_(0) {
    while (block_ && position >= start_ + block_->count && block_->next) {
      start_ += block_->count;
      block_ = block_->next;
    }
  }
  // n samples from position on, zeros past the end.
  void Read(float* dest, int n, int position) {
    while (block_ && position < start_ && block_->prev) {
      block_ = block_->prev;
      start_ -= block_->count;
    }
    while (block_ && position >= start_ + block_->count && block_->next) {
      start_ += block_->count;
      block_ = block_->next;
    }
    while (n > 0) {
      const int offset = position - start_;
      if (!block_ || offset < 0 || offset >= block_->count) {
        std::fill_n(dest, n, 0.0f);
        return;
      }
      const int take = std::min(n, block_->count - offset);
      std::memcpy(dest, block_->Samples() + offset, sizeof(float) * std::size_t(take));
      dest += take;
      n -= take;
      position += take;
      if (n > 0 && block_->next) {
        start_ += block_->count;
        block_ = block_->next;
      }
    }
  }

private:
  const SampleBlock* block_;
  int start_;
};

// The mixer's mix of a stereo frame, in its order: 0 + 0.5 x left, then + 0.5 x right (the sum
// starts at +0, so two negative zeros mix to +0 as they always did).
inline float MixOfPair(float left, float right) {
  float sum = 0.0f;
  sum += 0.5f * left;
  sum += 0.5f * right;
  return sum;
}
}  // namespace

int CAP_SampleTrack::CapacityForRate(int rate) {
  const int c = static_cast<int>(std::floor(std::max(rate, 0) * 0.1 + 0.5)) & ~1;
  return std::max(c, 2);
}

namespace {
// Tracks take hundreds of megabytes in blocks of a few kilobytes: let the heap grow in large steps
// rather than one system call per few blocks (a load runs about a fifth faster).
void PrepareHeapForTracks() {
#if defined(__GLIBC__)
  static std::once_flag once;
  std::call_once(once, [] { mallopt(M_TOP_PAD, 64 << 20); });
#endif
}
}  // namespace

CAP_SampleTrack::CAP_SampleTrack(int rate) {
  PrepareHeapForTracks();
  channels = 1;
  sampleRate = rate;
  capacity_ = CapacityForRate(rate);
  store_ = std::make_shared<BlockStore>(StorageFloats(capacity_ / 2), StorageFloats(capacity_));
}

CAP_SampleTrack::~CAP_SampleTrack() {
  // The store owns every block record (and lasts while a chain taken out of the track does).
  for (SampleBlock* b = head_; b;) {
    SampleBlock* next = b->next;
    store_->FreeRecord(b);
    b = next;
  }
}

SampleBlock* CAP_SampleTrack::AllocateBlock() {
  SampleBlock* block = store_->NewRecord();
  block->computed = left_ != nullptr;
  return block;
}

std::int32_t CAP_SampleTrack::BlockFloats(int n) const { return left_ ? SummaryFloats(n, true) : StorageFloats(n); }

void CAP_SampleTrack::ComputeFrom(CAP_SampleTrack* left, CAP_SampleTrack* right) {
  if (head_ || !left || !right) return;  // only an empty track changes how it keeps its samples
  left_ = left;
  right_ = right;
}

void CAP_SampleTrack::ProduceSamples(float* dest, int count, int position) {
  for (int done = 0; done < count;) {
    const int n = std::min(kProduceChunk, count - done);
    for (int k = 0; k < 2; ++k) {
      std::vector<float>& part = produced_[k];
      part.resize(kProduceChunk);
      const int got = std::max((k ? right_ : left_)->ReadSamples(part.data(), n, position + done), 0);
      std::fill(part.begin() + got, part.begin() + n, 0.0f);
    }
    for (int i = 0; i < n; ++i) dest[done + i] = MixOfPair(produced_[0][std::size_t(i)], produced_[1][std::size_t(i)]);
    done += n;
  }
}

void CAP_SampleTrack::SettleInParallel(std::vector<std::pair<SampleBlock*, int>>& stale) {
  // Each thread takes a run of blocks in order.
  const int threads = std::clamp(int(std::thread::hardware_concurrency()), 1, 8);
  const std::size_t per = (stale.size() + std::size_t(threads) - 1) / std::size_t(threads);
  auto work = [&](std::size_t from, std::size_t to) {
    if (from >= to) return;
    SampleCursor left(*left_, stale[from].second), right(*right_, stale[from].second);
    std::vector<float> l, r, mixed;
    for (std::size_t i = from; i < to; ++i) {
      auto [block, start] = stale[i];
      const std::size_t n = std::size_t(block->count);
      l.resize(n), r.resize(n), mixed.resize(n);
      left.Read(l.data(), block->count, start);
      right.Read(r.data(), block->count, start);
      for (std::size_t k = 0; k < n; ++k) mixed[k] = MixOfPair(l[k], r[k]);
      FillBlock(block, mixed.data());  // touches this block alone
    }
  };
  std::vector<std::thread> helpers;
  try {
    for (int t = 1; t < threads; ++t) helpers.emplace_back(work, per * std::size_t(t), std::min(stale.size(), per * std::size_t(t + 1)));
  } catch (const std::system_error&) {
    // No thread to spare: this one does the rest below.
  }
  work(0, std::min(stale.size(), per));
  for (std::thread& helper : helpers) helper.join();
  for (std::size_t t = helpers.size() + 1; t < std::size_t(threads); ++t) work(per * t, std::min(stale.size(), per * (t + 1)));
}

void CAP_SampleTrack::Settle() {
  if (!needsSettle_ || !left_) return;
  std::vector<std::pair<SampleBlock*, int>> stale;
  long long staleSamples = 0;
  int start = 0;
  for (SampleBlock* b = head_; b; start += b->count, b = b->next)
    if (b->stale) {
      stale.emplace_back(b, start);
      staleSamples += b->count;
    }
  if (staleSamples >= kParallelSettleSamples) {
    SettleInParallel(stale);
  } else {
    std::vector<float> samples;
    for (auto [block, at] : stale) {
      samples.resize(std::size_t(block->count));
      ProduceSamples(samples.data(), block->count, at);
      FillBlock(block, samples.data());
    }
  }
  needsSettle_ = false;
}

void CAP_SampleTrack::ReleaseBlock(SampleBlock* block) { store_->FreeRecord(block); }

int CAP_SampleTrack::ReadFloat(float* dest, int frames, int position) {
  return ReadSamples(dest, frames, position, 1);
}

int CAP_SampleTrack::WriteFloat(const float* source, int frames, int position) {
  return WriteSamples(source, frames, position, 1, 100, 0);
}

void CAP_SampleTrack::SetLength(int length) {
  length_ = length;
  duration = sampleRate > 0 ? double(length) / sampleRate : 0.0;
}

SampleBlock* CAP_SampleTrack::LocateWithStart(int position, int* offset, int* start) {
  if (!head_) return nullptr;
  if (position < 0) position = 0;
  if (position >= length_) {
    *offset = tail_->count;
    *start = length_ - tail_->count;
    return tail_;
  }
  SampleBlock* b;
  int s;
  if (hintBlock_ && hintStart_ > position && hintStart_ - position < position &&
      hintStart_ - position < length_ - position) {
    // Just before the last place (a computed track reading the block a write began in): back
    // from there.
    b = hintBlock_;
    s = hintStart_;
    while (s > position) {
      b = b->prev;
      s -= b->count;
    }
  } else if (hintBlock_ && hintStart_ <= position) {
    b = hintBlock_;
    s = hintStart_;
  } else if (position >= length_ / 2) {
    // Walk back from the tail: edits in the second half don't cross the whole list.
    b = tail_;
    s = length_ - tail_->count;
    while (s > position) {
      b = b->prev;
      s -= b->count;
    }
    hintBlock_ = b;
    hintStart_ = s;
    *offset = position - s;
    *start = s;
    return b;
  } else {
    b = head_;
    s = 0;
  }
  while (s + b->count <= position) {
    s += b->count;
    b = b->next;
  }
  hintBlock_ = b;
  hintStart_ = s;
  *offset = position - s;
  *start = s;
  return b;
}

SampleBlock* CAP_SampleTrack::Locate(int position, int* offset) {
  int start = 0, off = 0;
  SampleBlock* b = LocateWithStart(position, &off, &start);
  if (offset) *offset = off;
  return b;
}

int CAP_SampleTrack::BlockStart(const SampleBlock* block) const {
  int s = 0;
  for (const SampleBlock* b = block ? block->prev : nullptr; b; b = b->prev) s += b->count;
  return s;
}

void CAP_SampleTrack::Link(SampleBlock* block, SampleBlock* after, SampleBlock* before) {
  block->prev = after;
  block->next = before;
  if (after) after->next = block; else head_ = block;
  if (before) before->prev = block; else tail_ = block;
  ++blockCount_;
  ForgetLocateHint();
}

SampleBlock* CAP_SampleTrack::NewEmptyBlockBetween(SampleBlock* after, SampleBlock* before, int n) {
  SampleBlock* block = AllocateBlock();
  try {
    Storage(store_.get(), BlockFloats(n)).MoveInto(block);
  } catch (...) {
    ReleaseBlock(block);
    throw;
  }
  Link(block, after, before);
  block->count = n;
  return block;
}

SampleBlock* CAP_SampleTrack::NewBlockBetween(SampleBlock* after, SampleBlock* before, const SampleBlock* source,
                                              const float* sourceSamples, int n, int sourceIndex) {
  SampleBlock* block = NewEmptyBlockBetween(after, before, n);
  FillAsCopy(block, source, sourceSamples, n, sourceIndex);
  return block;
}

void CAP_SampleTrack::FillAsCopy(SampleBlock* block, const SampleBlock* source, const float* sourceSamples, int n,
                                 int sourceIndex) {
  if (block->computed) {
    RecomputeBlock(block);  // from the sources, once they hold what is copied
    return;
  }
  std::memcpy(block->Samples(), sourceSamples + sourceIndex, sizeof(float) * std::size_t(n));
  if (n == source->count && sourceIndex == 0 && !source->stale) {
    // A whole block keeps its signature, colour and summaries: a settled computed block's were
    // made from the very samples it produced (copying the mix of an hour would otherwise work
    // out every signature again). Its summaries have other levels: those are made here.
    block->signature = source->signature;
    block->color = source->color;
    if (source->computed) BuildSummaries(block);
    else std::memcpy(block->Summaries(), source->Summaries(), sizeof(float) * std::size_t(SummaryFloats(n, false)));
    block->CopyBandsFrom(*source);
    return;
  }
  RecomputeBlock(block);
}

void CAP_SampleTrack::RecomputeBlock(SampleBlock* block) {
  ClearMatchMarks(block);
  if (block->computed) {
    block->stale = true;
    block->bands.reset();
    needsSettle_ = true;
    return;
  }
  FillBlock(block, block->Samples());
}

void CAP_SampleTrack::FillBlock(SampleBlock* block, const float* samples) {
  BuildSummaries(block, samples);
  if (block->count > 0) {
    ComputeBlockSignature(samples, block->count, sampleRate, &block->signature);
    block->color = SignatureColor(block->signature);
  }
  block->bands.reset();  // the sound search makes the shape again when it next looks
  block->stale = false;
}

void CAP_SampleTrack::ClearMarks(SampleBlock* b) {
  b->score = 0;
  b->runHead = nullptr;
  b->matchOffset = 0;
  b->inPrototype = false;
}

void CAP_SampleTrack::ClearAllMarks() {
  for (SampleBlock* b = head_; b; b = b->next) ClearMarks(b);
}

void CAP_SampleTrack::ClearMatchMarks(SampleBlock* block) {
  if (!block || block->inPrototype) {
    // An edit inside the prototype invalidates the whole search.
    ClearAllMarks();
    return;
  }
  SampleBlock* run = block->runHead;
  if (!run) {
    // An unclaimed block belongs to no run: only its own candidate score goes. (Walking on
    // through the unclaimed blocks after it would make every recomputation cost the whole track.)
    ClearMarks(block);
    return;
  }
  // An edit inside a run removes the run from this block on.
  for (SampleBlock* b = block; b && b->runHead == run; b = b->next) ClearMarks(b);
}

void CAP_SampleTrack::DeleteBlock(SampleBlock* block) {
  ClearMatchMarks(block);
  if (block->prev) block->prev->next = block->next; else head_ = block->next;
  if (block->next) block->next->prev = block->prev; else tail_ = block->prev;
  if (walkBlock_ == block) walkBlock_ = nullptr;
  --blockCount_;
  ForgetLocateHint();
  ReleaseBlock(block);
}

void CAP_SampleTrack::SplitBlock(SampleBlock* block, int at) {
  if (!block || at <= 0 || at >= block->count) return;
  ClearMatchMarks(block);
  const int rest = block->count - at;
  // The first part keeps its samples in storage sized for them.
  Storage first(store_.get(), BlockFloats(at));
  SampleBlock* second = NewEmptyBlockBetween(block, block->next, rest);
  if (!block->computed) {
    std::memcpy(second->Samples(), block->Samples() + at, sizeof(float) * std::size_t(rest));
    std::memcpy(first.get(), block->Samples(), sizeof(float) * std::size_t(at));
  }
  first.MoveInto(block);
  block->count = at;
  RecomputeBlock(block);
  RecomputeBlock(second);
}

void CAP_SampleTrack::MergeBlocks(SampleBlock* a, SampleBlock* b) {
  if (!a || !b || a->count + b->count > capacity_) return;
  ClearMatchMarks(a);
  ClearMatchMarks(b);
  const int first = a->count;
  Storage merged(store_.get(), BlockFloats(first + b->count));
  if (!a->computed) {
    std::memcpy(merged.get(), a->Samples(), sizeof(float) * std::size_t(first));
    std::memcpy(merged.get() + first, b->Samples(), sizeof(float) * std::size_t(b->count));
  }
  merged.MoveInto(a);
  a->count = first + b->count;
  DeleteBlock(b);
  RecomputeBlock(a);
}

void CAP_SampleTrack::NormalizeAround(SampleBlock* block) {
  if (!block) return;
  const int half = capacity_ / 2;
  while (block->next && block->count < half) {
    SampleBlock* n = block->next;
    if (block->count + n->count > capacity_) SplitBlock(n, n->count - half);
    MergeBlocks(block, block->next);
  }
}

void CAP_SampleTrack::NotifyViewers(int count, int start, int shift) {
  const double rate = sampleRate > 0 ? double(sampleRate) : 1.0;
  for (CAP_AudioViewer* v : viewers_) {
    if (shift != 0) v->AddShift(shift / rate);
    v->AddChangedRange(start / rate, (double(start) + count) / rate - start / rate);
  }
}

void CAP_SampleTrack::AddViewer(CAP_AudioViewer* viewer) {
  if (viewer) viewers_.push_back(viewer);
}

void CAP_SampleTrack::RemoveViewer(CAP_AudioViewer* viewer) {
  viewers_.erase(std::remove(viewers_.begin(), viewers_.end(), viewer), viewers_.end());
}

int CAP_SampleTrack::ReadSamples(float* dest, int count, int position, int step) {
  if (left_) {
    position = std::clamp(position, 0, length_);
    count = std::clamp(count, 0, length_ - position);
    if (step == 1) {
      ProduceSamples(dest, count, position);
    } else {
      std::vector<float> mixed(static_cast<std::size_t>(count));
      ProduceSamples(mixed.data(), count, position);
      CopyStrided(dest, step, mixed.data(), 1, count);
    }
    return count;
  }
  int offset = 0, start = 0;
  SampleBlock* b = LocateWithStart(position, &offset, &start);
  if (!b || count <= 0) return 0;
  int done = 0;
  while (done < count && b) {
    const int n = std::min(b->count - offset, count - done);
    if (n > 0) CopyStrided(dest + std::size_t(done) * step, step, b->Samples() + offset, 1, n);
    done += n;
    if (offset + n >= b->count) {
      start += b->count;
      b = b->next;
      offset = 0;
    } else {
      offset += n;
    }
  }
  // Sequential readers (player, encoder) continue from here without walking the list again.
  if (b) {
    hintBlock_ = b;
    hintStart_ = start;
  }
  return done;
}

int CAP_SampleTrack::WriteSamples(const float* source, int count, int position, int step,
                                  int newPercent, int oldPercent) {
  position = std::clamp(position, 0, length_);
  if (count <= 0) {
    NotifyViewers(0, position, 0);
    return 0;
  }
  const int inPlace = std::min(count, length_ - position);
  const int rest = count - inPlace;
  const bool plain = newPercent == 100 && oldPercent == 0;
  const float newGain = float(newPercent), oldGain = float(oldPercent);
  if (inPlace > 0 && left_) {
    // The mixer wrote the sources first: the touched blocks are made again from them.
    int offset = 0, start = 0;
    SampleBlock* b = LocateWithStart(position, &offset, &start);
    std::vector<float> samples;
    for (int k = 0; k < inPlace && b; start += b->count, b = b->next) {
      ClearMatchMarks(b);
      samples.resize(std::size_t(b->count));
      ProduceSamples(samples.data(), b->count, start);
      FillBlock(b, samples.data());
      k += b->count - offset;
      offset = 0;
    }
  } else if (inPlace > 0) {
    int offset = 0;
    SampleBlock* b = Locate(position, &offset);
    int k = 0;
    while (k < inPlace && b) {
      const int n = std::min(b->count - offset, inPlace - k);
      float* d = b->Samples() + offset;
      const float* s = source + std::size_t(k) * step;
      if (plain) {
        CopyStrided(d, 1, s, step, n);
      } else {
        for (int i = 0; i < n; ++i) {
          float x = newGain * s[std::size_t(i) * step] / 100.0f + oldGain * d[i] / 100.0f;
          if (x > 1.0f) x = 1.0f; else if (x <= -1.0f) x = -1.0f;
          d[i] = x;
        }
      }
      RecomputeBlock(b);
      k += n;
      b = b->next;
      offset = 0;
    }
  }
  if (rest > 0) InsertBlocks(source + std::size_t(inPlace) * step, rest, length_, step, true);
  NotifyViewers(inPlace, position, 0);
  return inPlace + rest;
}

SampleBlock* CAP_SampleTrack::SplitAt(int position) {
  int offset = 0;
  SampleBlock* block = Locate(position, &offset);
  if (!block) return nullptr;
  if (offset > 0) {
    SplitBlock(block, offset);  // nothing at the end of the track
    return block;
  }
  return block->prev;
}

bool CAP_SampleTrack::OpenGap(int* position, int count, SampleBlock** before, SampleBlock** following) {
  *position = std::clamp(*position, 0, length_);
  if (count <= 0) {
    NotifyViewers(0, *position, 0);  // an empty insertion only notifies
    return false;
  }
  *before = SplitAt(*position);
  *following = *before ? (*before)->next : head_;
  return true;
}

void CAP_SampleTrack::InsertSamples(const float* source, int count, int position, int step) {
  InsertBlocks(source, count, position, step, false);
}

void CAP_SampleTrack::InsertBlocks(const float* source, int count, int position, int step, bool trusted) {
  SampleBlock *before, *following;
  if (!OpenGap(&position, count, &before, &following)) return;
  SampleBlock* last = before;
  const int half = capacity_ / 2;
  try {
    for (int placed = 0; placed < count;) {
      const int n = std::min(count - placed, half);
      SampleBlock* block = NewEmptyBlockBetween(last, following, n);
      if (!block->computed) {
        CopyStrided(block->Samples(), 1, source + std::size_t(placed) * step, step, n);
        RecomputeBlock(block);
      } else if (trusted) {
        const float* given = source + std::size_t(placed) * step;
        if (step != 1) {
          produced_[0].resize(std::size_t(n));
          CopyStrided(produced_[0].data(), 1, given, step, n);
          given = produced_[0].data();
        }
        FillBlock(block, given);
      } else {
        RecomputeBlock(block);
      }
      last = block;
      placed += n;
    }
  } catch (const std::bad_alloc&) {
    // No memory (or scratch disk) for the rest: the blocks placed so far go, and the track's
    // length still counts its blocks.
    for (SampleBlock* b = before ? before->next : head_; b != following;) {
      SampleBlock* next = b->next;
      DeleteBlock(b);
      b = next;
    }
    throw;
  }
  NormalizeAround(following);
  NormalizeAround(last);
  NormalizeAround(before);
  SetLength(length_ + count);
  NotifyViewers(length_ - position, position, count);
}

void CAP_SampleTrack::DeleteSamples(int count, int position) {
  position = std::clamp(position, 0, length_);
  count = std::min(count, length_ - position);
  if (count <= 0) {
    NotifyViewers(0, position, 0);
    return;
  }
  int offset = 0;
  SampleBlock* block = Locate(position, &offset);
  SampleBlock* first = block;
  if (offset > 0) {
    SplitBlock(block, offset);
    first = block->next;
  }
  SampleBlock* before = first->prev;
  const int end = position + count;
  SampleBlock* following = nullptr;
  int start = position;
  for (SampleBlock* b = first; b; b = b->next) {
    if (start + b->count > end) SplitBlock(b, end - start);
    if (start + b->count >= end) {
      following = b->next;
      break;
    }
    start += b->count;
  }
  int deleted = 0;
  for (SampleBlock* b = first; b != following;) {
    SampleBlock* next = b->next;
    deleted += b->count;
    DeleteBlock(b);
    b = next;
  }
  NormalizeAround(following);
  NormalizeAround(before);
  SetLength(length_ - deleted);
  NotifyViewers(length_ - position, position, -deleted);
}

void CAP_SampleTrack::CopySamples(CAP_SampleTrack& source, int count, int position, int sourcePosition,
                                  const std::function<void(int copied)>& progress) {
  source.Settle();  // whole blocks keep its signatures
  if (&source == this) {
    // Splitting this track would move the source blocks under the copy: copy through a buffer.
    std::vector<float> samples(std::size_t(std::max(count, 0)));
    const int got = ReadSamples(samples.data(), count, sourcePosition, 1);
    InsertSamples(samples.data(), got, position, 1);
    return;
  }
  SampleBlock *before, *following;
  if (!OpenGap(&position, count, &before, &following)) return;
  SampleBlock* last = before;
  int d = 0, qStart = 0;
  SampleBlock* q = source.LocateWithStart(sourcePosition, &d, &qStart);
  int copied = 0;
  std::vector<float> produced;
  while (q && copied < count) {
    const int n = std::min(q->count - d, count - copied);
    if (n > 0) {
      const float* samples = q->Samples();
      if (q->computed && !left_) {
        produced.resize(std::size_t(q->count));
        source.ProduceSamples(produced.data(), q->count, qStart);
        samples = produced.data();
      }
      last = NewBlockBetween(last, following, q, samples, n, d);
      copied += n;
      if (progress) progress(copied);
    }
    d = 0;
    qStart += q->count;
    q = q->next;
  }
  // Tidy from the block after the copy back to the block before it.
  for (SampleBlock* b = following ? following : tail_; b;) {
    SampleBlock* prev = b->prev;
    NormalizeAround(b);
    if (b == before) break;
    b = prev;
  }
  SetLength(length_ + copied);
  NotifyViewers(length_ - position, position, copied);
}

void CAP_SampleTrack::RecolorRange(int count, int position) {
  int offset = 0;
  SampleBlock* b = count > 0 ? Locate(position, &offset) : nullptr;
  int span = 0;
  while (b && span < count) {
    RecomputeBlock(b);
    span += b->count - offset;
    offset = 0;
    b = b->next;
  }
  NotifyViewers(span, position, 0);
}

void CAP_SampleTrack::RangeMinMax(int count, int position, float* minimum, float* maximum) {
  Settle();
  int offset = 0, start = 0;
  const SampleBlock* b = count > 0 ? LocateWithStart(position, &offset, &start) : nullptr;
  std::vector<float> produced;
  for (int left = count; left > 0 && b; start += b->count, b = b->next, offset = 0) {
    const int m = std::min(b->count - offset, left);
    left -= m;
    if (m == b->count) {
      BlockTotalMinMax(b, *minimum, *maximum);  // a whole block: its summary has the answer
      continue;
    }
    const float* p = b->Samples() + offset;
    if (b->computed) {
      produced.resize(std::size_t(m));
      ProduceSamples(produced.data(), m, start + offset);
      p = produced.data();
    }
    for (int j = 0; j < m; ++j) {
      // Both tests for every sample: the first sample must set both ends.
      if (p[j] < *minimum) *minimum = p[j];
      if (p[j] > *maximum) *maximum = p[j];
    }
  }
}

void CAP_SampleTrack::SetSampleRate(int rate) {
  SampleBlock* old = head_;
  const int oldLength = length_;
  head_ = tail_ = nullptr;
  blockCount_ = 0;
  walkBlock_ = nullptr;
  ForgetLocateHint();
  SetLength(0);
  NotifyViewers(0, 0, -oldLength);
  sampleRate = rate;
  capacity_ = CapacityForRate(rate);
  // The new block size has slots of its own; the old blocks give theirs back as they go.
  store_->SetSlotSizes(StorageFloats(capacity_ / 2), StorageFloats(capacity_));
  int position = 0;
  try {
    while (old) {
      SampleBlock* next = old->next;
      InsertBlocks(old->computed ? nullptr : old->Samples(), old->count, position, 1, false);
      position += old->count;
      ReleaseBlock(old);
      old = next;
    }
  } catch (...) {
    // The blocks not yet moved go with their storage.
    while (old) {
      SampleBlock* next = old->next;
      ReleaseBlock(old);
      old = next;
    }
    throw;
  }
}

float* CAP_SampleTrack::BeginBlockWalk(int start, int* n, int count) {
  int offset = 0, blockStart = 0;
  walkBlock_ = LocateWithStart(start, &offset, &blockStart);
  walkRemaining_ = count;
  if (!walkBlock_) {
    *n = 0;
    return nullptr;
  }
  *n = std::max(0, std::min(walkBlock_->count - offset, count));
  walkRemaining_ -= *n;
  walkStart_ = blockStart;
  if (!left_) return walkBlock_->Samples() + offset;
  walkSamples_.resize(std::size_t(std::max(*n, 1)));
  ProduceSamples(walkSamples_.data(), *n, blockStart + offset);
  return walkSamples_.data();
}

float* CAP_SampleTrack::NextBlockWalk(int* n) {
  *n = 0;
  if (!walkBlock_) return nullptr;
  walkStart_ += walkBlock_->count;
  walkBlock_ = walkBlock_->next;
  if (!walkBlock_ || walkRemaining_ <= 0) return nullptr;
  *n = std::min(walkRemaining_, walkBlock_->count);
  walkRemaining_ -= *n;
  if (!left_) return walkBlock_->Samples();
  walkSamples_.resize(std::size_t(std::max(*n, 1)));
  ProduceSamples(walkSamples_.data(), *n, walkStart_);
  return walkSamples_.data();
}

bool CAP_SampleTrack::ComputeRegionSignature(int count, int start, SoundSignature* signatureOut,
                                             BlockColor* colorOut, ProgressCallback progress,
                                             std::intptr_t user) {
  static const char kLabel[] = "Processing audio data:";
  Settle();
  SignatureAnalyzer* analyzer = CreateSignatureAnalyzer(sampleRate);
  bool answer = true;
  if (progress) answer = progress(user, kLabel, 0);
  int n = 0;
  long long done = 0;
  for (float* p = BeginBlockWalk(start, &n, count); p; p = NextBlockWalk(&n)) {
    for (int i = 0; i < n; ++i) AnalyzerAddSample(analyzer, FloatToInt16(p[i]));
    done += n;
    if (progress && count > 0)
      answer = progress(user, kLabel, static_cast<int>(std::floor(double(done) / count * 100.0 + 0.5)));
  }
  if (analyzer) AnalyzerFinish(analyzer, signatureOut);
  if (colorOut && signatureOut) *colorOut = SignatureColor(*signatureOut);
  return answer;
}

namespace {
// A view this many columns wide or wider is worked out in two halves on two threads: after an
// edit or an undo of the whole file every column reads blocks that are cold in memory.
constexpr int kParallelColumns = 256;

}  // namespace

void CAP_SampleTrack::GetColumns(double start, double step, int columns, float* mins, float* maxs,
                                 BlockColor* colors) {
  Settle();
  const double rate = sampleRate;
  auto columnStart = [&](int k) { return std::llround(rate * start + double(k) * step * rate); };  // half away from zero
  // The sources' blocks where a pass starts, found on the calling thread: their locate hints are
  // not for two threads.
  auto cursorAt = [&](CAP_SampleTrack* source, int position) {
    int o = 0, at = 0;
    const SampleBlock* b = source ? source->LocateWithStart(position, &o, &at) : nullptr;
    return SampleCursor(b, at);
  };
  // Columns from..to - 1, the first starting at sample s inside block at blockStart + offset.
  auto pass = [&](int from, int to, long long s, SampleBlock* block, int offset, int blockStart,
                  SampleCursor leftCursor, SampleCursor rightCursor) {
    // A computed block's samples where a column takes part of it: the summaries serve the middle
    // of the part, so only the samples its two edges read are made (the summaries' first two
    // levels come from samples: less than 64 beyond each edge's multiple of 8).
    std::vector<float> produced, left, right;
    auto produce = [&](float* dest, int n, int position) {
      left.resize(std::size_t(n));
      right.resize(std::size_t(n));
      leftCursor.Read(left.data(), n, position);
      rightCursor.Read(right.data(), n, position);
      for (int i = 0; i < n; ++i) dest[i] = MixOfPair(left[std::size_t(i)], right[std::size_t(i)]);
    };
    for (int k = from; k < to; ++k) {
      colors[k] = block->color;
      mins[k] = 1.0f;
      maxs[k] = -1.0f;
      const long long next = columnStart(k + 1);
      long long n = next - s;
      s = next;
      while (n > 0 && block) {
        const int take = int(std::min<long long>(block->count - offset, n));
        if (offset == 0 && take == block->count)
          BlockTotalMinMax(block, mins[k], maxs[k]);
        else if (!block->computed)
          BlockMinMax(block, offset, offset + take, 0, mins[k], maxs[k]);
        else {
          const int end = offset + take;
          produced.resize(std::size_t(block->count));
          // An edge on a multiple of 64 needs no samples: both levels made from samples start (or
          // end) there on a whole entry. The samples are cold, so the reads left out count.
          const int headFrom = offset & ~7, headTo = offset % 64 == 0 ? headFrom : std::min(end, headFrom + 72);
          const int tailFrom = end % 64 == 0 ? end : std::max(headTo, (end & ~7) - 64);
          if (headFrom < headTo) produce(produced.data() + headFrom, headTo - headFrom, blockStart + headFrom);
          if (tailFrom < end) produce(produced.data() + tailFrom, end - tailFrom, blockStart + tailFrom);
          BlockMinMax(block, produced.data(), offset, end, 0, mins[k], maxs[k]);
        }
        offset += take;
        n -= take;
        if (offset >= block->count) {
          blockStart += block->count;
          block = block->next;
          offset = 0;
        }
      }
      if (!block) return;
    }
  };
  const long long s = columnStart(0);
  int offset = 0, blockStart = 0;
  SampleBlock* block = LocateWithStart(int(std::clamp<long long>(s, 0, length_)), &offset, &blockStart);
  if (!block) return;
  const int half = columns / 2;
  const long long middle = columns >= kParallelColumns ? columnStart(half) : length_;
  if (middle <= s || middle >= length_) {
    pass(0, columns, s, block, offset, blockStart, cursorAt(left_, blockStart), cursorAt(right_, blockStart));
    return;
  }
  const SampleCursor firstLeft = cursorAt(left_, blockStart), firstRight = cursorAt(right_, blockStart);
  // The second half starts where the first would have arrived at its column. Its thread walks
  // there from the first half's start (the track's own hint is the calling thread's), and its
  // sources' cursors walk on from there as it reads.
  auto secondHalf = [&, block, blockStart] {
    SampleBlock* b = block;
    int bStart = blockStart;
    while (b && bStart + b->count <= middle) {
      bStart += b->count;
      b = b->next;
    }
    if (b) pass(half, columns, middle, b, int(middle - bStart), bStart, firstLeft, firstRight);
  };
  std::thread helper;
  try {
    helper = std::thread(secondHalf);
  } catch (const std::system_error&) {
    // No thread to spare: both halves here.
  }
  pass(0, half, s, block, offset, blockStart, firstLeft, firstRight);
  if (helper.joinable()) helper.join();
  else secondHalf();
}
