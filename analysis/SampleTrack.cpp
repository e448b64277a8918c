#include "analysis/SampleTrack.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <cstring>
#include <new>
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

std::int32_t StorageFloats(int n) { return n + SummaryFloats(n); }

// Storage for n samples and their summaries, nothing more: a track's heap stays close to its
// samples. Allocated before anything changes, so that running out of memory leaves the block as
// it was; given back unless handed to a block.
class Storage {
public:
  Storage(BlockStore* store, int n) : store_(store), floats_(StorageFloats(n)) { data_ = store->TakeFloats(floats_); }
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

void ClearMarks(SampleBlock* b) {
  b->score = 0;
  b->runHead = nullptr;
  b->matchOffset = 0;
  b->inPrototype = false;
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

SampleBlock* CAP_SampleTrack::AllocateBlock() { return store_->NewRecord(); }

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
  if (hintBlock_ && hintStart_ <= position) {
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
    Storage(store_.get(), n).MoveInto(block);
  } catch (...) {
    ReleaseBlock(block);
    throw;
  }
  Link(block, after, before);
  block->count = n;
  return block;
}

SampleBlock* CAP_SampleTrack::NewBlockBetween(SampleBlock* after, SampleBlock* before,
                                              const SampleBlock* source, int n, int sourceIndex) {
  if (!source) return NewEmptyBlockBetween(after, before, n);
  SampleBlock* block = NewEmptyBlockBetween(after, before, n);
  if (n == source->count && sourceIndex == 0) {
    // A whole block keeps its signature, colour and summaries.
    block->signature = source->signature;
    block->color = source->color;
    block->bands = source->bands;
    std::memcpy(block->Samples(), source->Samples(), sizeof(float) * std::size_t(source->allocated));
    return block;
  }
  std::memcpy(block->Samples(), source->Samples() + sourceIndex, sizeof(float) * std::size_t(n));
  RecomputeBlock(block);
  return block;
}

void CAP_SampleTrack::RecomputeBlock(SampleBlock* block) {
  ClearMatchMarks(block);
  BuildSummaries(block);
  if (block->count > 0) {
    ComputeBlockSignature(block->Samples(), block->count, sampleRate, &block->signature);
    block->color = SignatureColor(block->signature);
  }
  block->bands.rate = 0;
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
  Storage first(store_.get(), at);
  SampleBlock* second = NewEmptyBlockBetween(block, block->next, rest);
  std::memcpy(second->Samples(), block->Samples() + at, sizeof(float) * std::size_t(rest));
  std::memcpy(first.get(), block->Samples(), sizeof(float) * std::size_t(at));
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
  Storage merged(store_.get(), first + b->count);
  std::memcpy(merged.get(), a->Samples(), sizeof(float) * std::size_t(first));
  std::memcpy(merged.get() + first, b->Samples(), sizeof(float) * std::size_t(b->count));
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
  if (inPlace > 0) {
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
  if (rest > 0) InsertSamples(source + std::size_t(inPlace) * step, rest, length_, step);
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
  SampleBlock *before, *following;
  if (!OpenGap(&position, count, &before, &following)) return;
  SampleBlock* last = before;
  const int half = capacity_ / 2;
  try {
    for (int placed = 0; placed < count;) {
      const int n = std::min(count - placed, half);
      SampleBlock* block = NewEmptyBlockBetween(last, following, n);
      CopyStrided(block->Samples(), 1, source + std::size_t(placed) * step, step, n);
      RecomputeBlock(block);
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

void CAP_SampleTrack::CopySamples(CAP_SampleTrack& source, int count, int position, int sourcePosition) {
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
  int d = 0;
  SampleBlock* q = source.Locate(sourcePosition, &d);
  int copied = 0;
  while (q && copied < count) {
    const int n = std::min(q->count - d, count - copied);
    if (n > 0) {
      last = NewBlockBetween(last, following, q, n, d);
      copied += n;
    }
    d = 0;
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
      InsertSamples(old->Samples(), old->count, position, 1);
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
  int offset = 0;
  walkBlock_ = Locate(start, &offset);
  walkRemaining_ = count;
  if (!walkBlock_) {
    *n = 0;
    return nullptr;
  }
  *n = std::max(0, std::min(walkBlock_->count - offset, count));
  walkRemaining_ -= *n;
  return walkBlock_->Samples() + offset;
}

float* CAP_SampleTrack::NextBlockWalk(int* n) {
  *n = 0;
  if (!walkBlock_) return nullptr;
  walkBlock_ = walkBlock_->next;
  if (!walkBlock_ || walkRemaining_ <= 0) return nullptr;
  *n = std::min(walkRemaining_, walkBlock_->count);
  walkRemaining_ -= *n;
  return walkBlock_->Samples();
}

bool CAP_SampleTrack::ComputeRegionSignature(int count, int start, SoundSignature* signatureOut,
                                             BlockColor* colorOut, ProgressCallback progress,
                                             std::intptr_t user) {
  static const char kLabel[] = "Processing audio data:";
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

void CAP_SampleTrack::GetColumns(double start, double step, int columns, float* mins, float* maxs,
                                 BlockColor* colors) {
  const double rate = sampleRate;
  long long s = std::llround(rate * start);  // half away from zero
  int offset = 0;
  SampleBlock* block = Locate(int(std::clamp<long long>(s, 0, length_)), &offset);
  if (!block) return;
  for (int k = 0; k < columns; ++k) {
    colors[k] = block->color;
    mins[k] = 1.0f;
    maxs[k] = -1.0f;
    const long long next = std::llround(rate * start + double(k + 1) * step * rate);
    long long n = next - s;
    s = next;
    while (n > 0 && block) {
      const int take = int(std::min<long long>(block->count - offset, n));
      if (offset == 0 && take == block->count)
        BlockTotalMinMax(block, mins[k], maxs[k]);
      else
        BlockMinMax(block, offset, offset + take, 0, mins[k], maxs[k]);
      offset += take;
      n -= take;
      if (offset >= block->count) {
        block = block->next;
        offset = 0;
      }
    }
    if (!block) return;
  }
}
