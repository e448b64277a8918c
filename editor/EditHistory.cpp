#include "editor/EditHistory.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <climits>
#include <cmath>
#include <new>
#include <utility>

#include "analysis/BlockSummary.h"
#include "analysis/ScratchFile.h"
#include "editor/LongWork.h"
#include "editor/SharedClipboard.h"
#include "formats/RateConverter.h"
#include "pipeline/SampleMixer.h"

namespace {

constexpr int kSilentSamples = 192000;  // one second at the highest rate, twice over
constexpr int kInsertChunk = 1 << 18;   // samples read per piece when a replacement grows
constexpr int kParallelSamples = 1 << 18;  // a change this long runs a thread per track

// Made on first use: a failure to get it is one more allocation the operation rolls back.
const float* Silence() {
  static const std::vector<float> silence(kSilentSamples, 0.0f);
  return silence.data();
}

// [start, start + length) cut into [0, size): negative values become 0, a length running past
// the end stops at the end. Every position the history stores has gone through here, so that an
// undo removes exactly what the change put there.
void ClampRange(int size, int* length, int* start) {
  size = std::max(size, 0);
  *start = std::clamp(*start, 0, size);
  *length = std::clamp(*length, 0, size - *start);
}

int ClampedLength(CAP_SampleTrack* track, int length, int start) {
  ClampRange(track ? track->Length() : 0, &length, &start);
  return length;
}

int ClampedStart(CAP_SampleTrack* track, int length, int start) {
  ClampRange(track ? track->Length() : 0, &length, &start);
  return start;
}

// A mix of source from sourceOffset into the samples a change passes (as WriteSamples mixes:
// new x sourcePercent / 100 + old x targetPercent / 100, clamped; 100 and 0 copy).
SampleChange MixWith(CAP_SampleTrack& source, int sourceOffset, int sourcePercent, int targetPercent) {
  return [&source, sourceOffset, sourcePercent, targetPercent, piece = std::vector<float>()](
             const float* in, float* out, int n, long long index) mutable {
    piece.resize(std::size_t(n));
    const int got = source.ReadSamples(piece.data(), n, sourceOffset + int(index), 1);
    std::fill(piece.begin() + std::max(got, 0), piece.end(), 0.0f);
    if (sourcePercent == 100 && targetPercent == 0) {
      std::copy(piece.begin(), piece.end(), out);
      return;
    }
    const float newGain = float(sourcePercent), oldGain = float(targetPercent);
    for (int i = 0; i < n; ++i) {
      float x = newGain * piece[std::size_t(i)] / 100.0f + oldGain * in[i] / 100.0f;
      if (x > 1.0f) x = 1.0f; else if (x <= -1.0f) x = -1.0f;
      out[i] = x;
    }
  };
}

// The change, telling progress the samples it has passed so far.
SampleChange Ticking(SampleChange change, std::function<void(int done)> progress) {
  return [change = std::move(change), progress = std::move(progress), done = 0](const float* in, float* out, int n,
                                                                               long long index) mutable {
    change(in, out, n, index);
    progress(done += n);
  };
}

// work(i) for every track i, on up to as many threads as the machine has when the work is large;
// the first failure is thrown here once every track is done.
template <class Work>
void ForEachTrackInParallel(int tracks, bool large, Work&& work) {
  // A short range is done before a thread would have started.
  const int workers = large ? std::min(tracks, int(std::thread::hardware_concurrency())) - 1 : 0;
  std::vector<std::exception_ptr> errors(std::size_t(std::max(tracks, 0)));
  std::atomic<int> next{0};
  auto run = [&] {
    for (int i; (i = next++) < tracks;) {
      try {
        work(i);
      } catch (...) {
        errors[std::size_t(i)] = std::current_exception();
      }
    }
  };
  std::vector<std::thread> threads;
  try {
    for (int w = 0; w < workers; ++w) threads.emplace_back(run);
  } catch (const std::system_error&) {
    // No thread to spare: the calling thread does the rest.
  }
  run();
  for (std::thread& thread : threads) thread.join();
  for (const std::exception_ptr& error : errors)
    if (error) std::rethrow_exception(error);
}

// Inserts source [offset, offset + count) at position in pieces: one insertion per piece keeps a
// long paste from walking the target's block list once per source block.
void InsertFrom(CAP_SampleTrack& source, int count, int offset, CAP_SampleTrack& target, int position,
                const std::function<void(int done)>& progress = {}) {
  std::vector<float> piece(std::size_t(std::min(count, kInsertChunk)));
  for (int done = 0; done < count;) {
    const int got = source.ReadSamples(piece.data(), std::min(count - done, kInsertChunk), offset + done);
    if (got <= 0) break;
    target.InsertSamples(piece.data(), got, position + done);
    done += got;
    if (progress) progress(done);
  }
}

}  // namespace

EP_EditHistory::EP_EditHistory(CAP_SampleMixer* mixer, SharedClipboard* clipboard)
    : mixer_(mixer), clipboard_(clipboard) {}

EP_EditHistory::~EP_EditHistory() = default;  // the groups own their saved blocks

int EP_EditHistory::TrackCount() const { return mixer_ ? mixer_->TrackCount() : 0; }

int EP_EditHistory::DocumentRate() const { return mixer_ ? mixer_->sampleRate : 0; }

void EP_EditHistory::CheckAllocation() {
  // Counts down to the failing allocation, then disarms: the rollback must not fail too.
  if (failAfter_ > 0 && --failAfter_ == 0) throw std::bad_alloc();
}

void EP_EditHistory::Tick(double fraction) {
  if (work_) work_->Tick(fraction);
}

void EP_EditHistory::StopIfAsked() {
  if (work_) work_->ThrowIfStopped();
}

std::unique_ptr<CAP_SampleTrack> EP_EditHistory::NewTrack(int rate) {
  CheckAllocation();
  return std::make_unique<CAP_SampleTrack>(rate);
}

// ---- Transactions -------------------------------------------------------------------------
//
// An operation changes the tracks step by step, and each step is preceded by its entry. When a
// step cannot get its memory, the entries made so far describe exactly what to put back: they
// are restored newest first, as an undo would, but without saving anything. Whatever the
// operation would destroy (the oldest undo group, the redo groups) is only destroyed once every
// step has succeeded.

template <class Body>
bool EP_EditHistory::Transact(Body&& body) {
  Group* const current = current_;
  const int extensions = extensionCount_;
  inTransaction_ = true;
  opened_ = nullptr;
  openedOnRedo_ = false;
  clearRedoPending_ = false;
  entriesAdded_ = 0;
  struct Leave {
    bool* flag;
    ~Leave() { *flag = false; }
  } leave{&inTransaction_};
  // A computed track (the mix) catches up with its sources once every track has changed.
  auto settle = [this] {
    for (int i = 0; i < TrackCount(); ++i) mixer_->Track(i)->Settle();
  };
  try {
    body();
    settle();
  } catch (const std::bad_alloc& failure) {
    diskFull_ = dynamic_cast<const ScratchFull*>(&failure) != nullptr;
    Rollback(current, extensions);
    try {
      settle();
    } catch (const std::bad_alloc&) {
      // The stale blocks wait for the next reader.
    }
    return false;
  } catch (const WorkStopped&) {
    Rollback(current, extensions);
    throw;
  }
  inTransaction_ = false;
  DropBeyondLimit();
  if (clearRedoPending_) ClearRedo();
  return true;
}

void EP_EditHistory::Rollback(Group* current, int extensionCount) {
  inTransaction_ = false;
  // Only entries whose change is complete (or, for an extension, cut at the end) are at the
  // front: every counted allocation comes before the entry that follows it.
  for (; entriesAdded_ > 0 && current_ && !current_->entries.empty(); --entriesAdded_) {
    Restore(current_->entries.front());
    current_->entries.pop_front();
  }
  entriesAdded_ = 0;
  if (opened_) {
    auto& stack = openedOnRedo_ ? redo_ : undo_;
    if (!stack.empty() && stack.front().get() == opened_) stack.pop_front();
    opened_ = nullptr;
  }
  current_ = current;
  extensionCount_ = extensionCount;
}

void EP_EditHistory::SetUndoLevels(int levels) {
  undoLevels_ = std::max(levels, 0);
  if (!inTransaction_) DropBeyondLimit();
}

void EP_EditHistory::DropBeyondLimit() {
  while (undoLevels_ > 0 && int(undo_.size()) > undoLevels_) {
    if (undo_.back().get() == current_) current_ = nullptr;
    undo_.pop_back();
  }
}

void EP_EditHistory::ClearRedo() {
  for (const auto& group : redo_)
    if (group.get() == current_) current_ = nullptr;
  redo_.clear();
}

void EP_EditHistory::Restore(Entry& entry) {
  CAP_SampleTrack* t = mixer_ ? mixer_->Track(entry.track) : nullptr;
  if (t) t->SwapRange(entry.lengthInPlace, entry.start, std::move(entry.saved));
}

// ---- The primitive ------------------------------------------------------------------------

void EP_EditHistory::ReplaceRange(CAP_SampleTrack* source, int sourceLength, int sourceOffset, CAP_SampleTrack* target,
                                  int targetLength, int targetStart, int sourcePercent, int targetPercent) {
  if (!target) return;
  ClampRange(target->Length(), &targetLength, &targetStart);
  if (source) {
    ClampRange(source->Length(), &sourceLength, &sourceOffset);
  } else {
    sourceLength = sourceOffset = 0;
  }
  std::unique_ptr<CAP_SampleTrack> own;
  if (source == target && sourceLength > 0) {
    // Deleting from the target would move the source samples under the copy: take them out first.
    own = NewTrack(source->sampleRate);
    own->CopySamples(*source, sourceLength, 0, sourceOffset);
    source = own.get();
    sourceOffset = 0;
  }
  if (source && sourcePercent == 100 && targetPercent == 0 && source->sampleRate == target->sampleRate) {
    // Whole blocks move with their signatures and summaries.
    target->DeleteSamples(targetLength, targetStart);
    target->CopySamples(*source, sourceLength, targetStart, sourceOffset);
    return;
  }
  const int n = std::min(targetLength, sourceLength);
  int k = 0, done = 0;
  for (float* p = n > 0 ? source->BeginBlockWalk(sourceOffset, &k, n) : nullptr; p && done < n;
       p = source->NextBlockWalk(&k)) {
    target->WriteSamples(p, k, targetStart + done, 1, sourcePercent, targetPercent);
    done += k;
  }
  if (sourceLength < targetLength)
    target->DeleteSamples(targetLength - sourceLength, targetStart + n);
  else if (sourceLength > targetLength)
    InsertFrom(*source, sourceLength - n, sourceOffset + n, *target, targetStart + n);
}

void EP_EditHistory::PushEntry(Entry entry) {
  current_->entries.push_front(std::move(entry));
  if (inTransaction_) ++entriesAdded_;
}

void EP_EditHistory::AddEntry(int track, int length, int start, int lengthInPlace) {
  if (!current_) return;  // no group to record into
  CheckAllocation();
  CAP_SampleTrack* t = mixer_ ? mixer_->Track(track) : nullptr;
  ClampRange(t ? t->Length() : 0, &length, &start);
  lengthInPlace = std::max(lengthInPlace, 0);
  int chainStart = start;
  BlockChain saved = t ? t->CopyChain(length, start, &chainStart) : BlockChain();
  const int span = saved.Length();
  // The copy holds whole blocks: the undo puts them back over what the change leaves of them too.
  if (span > 0) lengthInPlace += span - length;
  PushEntry(Entry{std::move(saved), track, span > 0 ? chainStart : start, lengthInPlace, start});
}

void EP_EditHistory::MoveOut(int track, int length, int start, int lengthInPlace, BlockChain replacement) {
  if (!current_) return;
  CheckAllocation();
  CAP_SampleTrack* t = mixer_->Track(track);
  ClampRange(t->Length(), &length, &start);
  PushEntry(Entry{t->SwapRange(length, start, std::move(replacement)), track, start, std::max(lengthInPlace, 0), start});
}

void EP_EditHistory::ChangeIntoEntry(int track, int length, int start, const SampleChange& change, int extra) {
  if (!current_) return;
  CheckAllocation();
  CAP_SampleTrack* t = mixer_->Track(track);
  ClampRange(t->Length(), &length, &start);
  int chainStart = start;
  BlockChain saved = t->ChangeRange(length, start, change, &chainStart);
  const int span = saved.Length();
  PushEntry(Entry{std::move(saved), track, chainStart, span + std::max(extra, 0), start});
}

void EP_EditHistory::BeginGroup(int kind, const ViewState* view, bool clearRedo) {
  auto group = std::make_unique<Group>();
  group->kind = kind;
  group->serial = nextSerial_++;
  group->savedRate = DocumentRate();
  if (view) group->view = *view;
  undo_.push_front(std::move(group));
  current_ = undo_.front().get();
  if (inTransaction_) {
    // Dropped when the operation commits, so that a failed one leaves both stacks whole.
    opened_ = current_;
    openedOnRedo_ = false;
    clearRedoPending_ = clearRedo;
    return;
  }
  DropBeyondLimit();
  if (clearRedo) ClearRedo();
}

// ---- Clipboard ----------------------------------------------------------------------------

std::vector<std::unique_ptr<CAP_SampleTrack>> EP_EditHistory::CopyRange(int length, int start) {
  std::vector<std::unique_ptr<CAP_SampleTrack>> copies;
  const int tracks = std::min(TrackCount(), SharedClipboard::kSlots);
  copies.reserve(std::size_t(std::max(tracks, 0)));
  long long total = 0;
  for (int i = 0; i < tracks; ++i) {
    copies.push_back(NewTrack(DocumentRate()));
    total += ClampedLength(mixer_->Track(i), length, start);
  }
  // Whole blocks are copied with their signatures and summaries: the tracks that store their
  // samples at once (on threads when long: the copies are mostly fresh memory), then a computed
  // one (the mix), which reads its sources; with long work on its worker, which may stop between
  // blocks.
  LongWork* const work = work_;
  auto copyAll = [&] {
    std::atomic<long long> done{0};
    auto copyTrack = [&](int i) {
      CAP_SampleTrack& source = *mixer_->Track(i);
      const int n = ClampedLength(&source, length, start);
      int last = 0;
      copies[std::size_t(i)]->CopySamples(source, n, 0, ClampedStart(&source, length, start), [&](int copied) {
        done += copied - last;
        last = copied;
        if (!work) return;
        work->ThrowIfStopped();
        work->Report(double(done) / double(std::max(total, 1LL)));
      });
    };
    ForEachTrackInParallel(tracks, total >= kParallelSamples, [&](int i) {
      if (!mixer_->Track(i)->Computed()) copyTrack(i);
    });
    for (int i = 0; i < tracks; ++i)
      if (mixer_->Track(i)->Computed()) copyTrack(i);
  };
  if (work) work->RunOnWorker(copyAll);
  else copyAll();
  return copies;
}

void EP_EditHistory::InstallClipboard(std::vector<std::unique_ptr<CAP_SampleTrack>>& tracks) {
  // The copies are complete before the old clipboard goes: a failed copy keeps the old one.
  clipboard_->Clear();
  for (std::size_t i = 0; i < tracks.size(); ++i) clipboard_->SetSlot(int(i), std::move(tracks[i]));
}

bool EP_EditHistory::Copy(int length, int start) {
  if (!clipboard_) return true;
  std::vector<std::unique_ptr<CAP_SampleTrack>> copies;
  if (!Transact([&] { copies = CopyRange(length, start); })) return false;
  InstallClipboard(copies);
  return true;
}

// ---- Edits --------------------------------------------------------------------------------

void EP_EditHistory::DeleteRange(int length, int start, const ViewState& view) {
  BeginGroup(GroupSamples, &view, true);
  for (int i = 0; i < TrackCount(); ++i) MoveOut(i, length, start, 0);
}

bool EP_EditHistory::Delete(int length, int start, const ViewState& view) {
  return Transact([&] { DeleteRange(length, start, view); });
}

bool EP_EditHistory::Cut(int length, int start, const ViewState& view) {
  std::vector<std::unique_ptr<CAP_SampleTrack>> copies;
  if (!Transact([&] {
        copies = CopyRange(length, start);
        DeleteRange(length, start, view);
      }))
    return false;
  if (clipboard_) InstallClipboard(copies);
  return true;
}

bool EP_EditHistory::Trim(int length, int start, const ViewState& view) {
  return Transact([&] {
    BeginGroup(GroupSamples, &view, true);
    for (int i = 0; i < TrackCount(); ++i) {
      CAP_SampleTrack* t = mixer_->Track(i);
      const int n = ClampedLength(t, length, start), s = ClampedStart(t, length, start);
      MoveOut(i, t->Length() - n - s, s + n, 0);
      MoveOut(i, s, 0, 0);
    }
  });
}

std::unique_ptr<CAP_SampleTrack> EP_EditHistory::ConvertToDocumentRate(CAP_SampleTrack& source,
                                                                      const std::function<void(double)>& progress) {
  std::unique_ptr<CAP_SampleTrack> converted = NewTrack(DocumentRate());
  RateConverter converter(1, source.sampleRate, converted->sampleRate);
  std::vector<float> out;
  int n = 0, done = 0;
  for (float* p = source.BeginBlockWalk(0, &n, source.Length()); p; p = source.NextBlockWalk(&n)) {
    out.resize(std::size_t(std::max(converter.MaxOutputFrames(n), 1)));
    const int made = converter.Process(p, n, out.data());
    converted->InsertSamples(out.data(), made, converted->Length());
    progress(double(done += n) / std::max(source.Length(), 1));
    StopIfAsked();  // only the converted copy exists so far
  }
  // The last input samples wait for the filter's look-ahead.
  out.resize(std::size_t(std::max(converter.MaxFlushFrames(), 1)));
  const int made = converter.Flush(out.data());
  converted->InsertSamples(out.data(), made, converted->Length());
  return converted;
}

struct EP_EditHistory::PreparedTrack {
  bool made = false;
  BlockChain chain;
  int chainStart = 0, span = 0, start = 0;
};

std::vector<EP_EditHistory::PreparedTrack> EP_EditHistory::PrepareFromClipboard(int kind, int length, int start,
                                                                               int sourcePercent,
                                                                               int targetPercent) {
  const int tracks = TrackCount();
  std::vector<PreparedTrack> prepared(std::size_t(std::max(tracks, 0)));
  // Threads never share a source: a mono clipboard into a stereo document goes one by one.
  if (clipboard_->FilledCount() != tracks) return prepared;
  const bool copy = kind != PasteMixOnce && sourcePercent == 100 && targetPercent == 0;
  std::vector<int> counts(prepared.size(), -1);  // the samples each track's new blocks take
  long long total = 0;
  int making = 0;
  for (int i = 0; i < tracks; ++i) {
    CAP_SampleTrack* t = mixer_->Track(i);
    CAP_SampleTrack* source = clipboard_->Slot(i);
    // A computed track (the mix) takes its blocks from its sources afterwards, as it always did.
    if (!source || t->Computed() || source->Computed() || source->sampleRate != t->sampleRate) continue;
    const int c = source->Length(), s = ClampedStart(t, length, start);
    int& count = counts[std::size_t(i)];
    if (copy) count = c;
    else if (kind == PasteMixOnce) count = std::min(std::min(c, std::max(length, 0)), t->Length() - s);
    else count = std::min(ClampedLength(t, length, start), c);  // mixed in; the rest is inserted
    prepared[std::size_t(i)].start = s;
    total += count;
    ++making;
  }
  if (making == 0) return prepared;
  for (int i = 0; i < making; ++i) CheckAllocation();
  // Progress: the prepared tracks' share of every track, the rest is the other tracks'.
  const double share = double(making) / tracks;
  std::atomic<long long> done{0};
  LongWork* const work = work_;
  auto prepare = [&] {
    ForEachTrackInParallel(tracks, total >= kParallelSamples, [&](int i) {
      const int count = counts[std::size_t(i)];
      if (count < 0) return;
      PreparedTrack& p = prepared[std::size_t(i)];
      CAP_SampleTrack* t = mixer_->Track(i);
      CAP_SampleTrack& source = *clipboard_->Slot(i);
      auto tick = [&](int n) {
        if (!work) return;
        work->ThrowIfStopped();
        work->Report(share * double(done += n) / double(std::max(total, 1LL)));
      };
      if (copy) {
        p.chain = t->CopyChainFrom(source, count, 0, tick);
        p.chainStart = p.start;
      } else {
        SampleChange mix = MixWith(source, 0, sourcePercent, targetPercent);
        p.chain = t->PrepareChange(
            count, p.start,
            [&](const float* in, float* out, int n, long long index) {
              tick(n);
              mix(in, out, n, index);
            },
            &p.chainStart, &p.span);
      }
      p.made = true;
    });
  };
  if (work) work->RunOnWorker(prepare);
  else prepare();
  return prepared;
}

void EP_EditHistory::PutPrepared(int track, PreparedTrack& prepared, int extra) {
  if (!current_) return;
  CheckAllocation();
  BlockChain saved = mixer_->Track(track)->SwapRange(prepared.span, prepared.chainStart, std::move(prepared.chain));
  PushEntry(Entry{std::move(saved), track, prepared.chainStart, prepared.span + std::max(extra, 0), prepared.start});
}

int EP_EditHistory::Paste(int length, int start, int kind, bool convertRate, int sourcePercent, int targetPercent,
                          const ViewState& view) {
  if (!clipboard_ || clipboard_->Empty()) return 0;
  int pasted = 0;
  const bool done = Transact([&] {
    BeginGroup(GroupSamples, &view, true);
    const int filled = clipboard_->FilledCount();
    // A mono clipboard goes to every track, a stereo one's mix track into a mono document.
    const bool trackByTrack = filled == TrackCount();
    // A long paste is mostly fresh memory for the new blocks, which threads get faster than one.
    std::vector<PreparedTrack> prepared = PrepareFromClipboard(kind, length, start, sourcePercent, targetPercent);
    CAP_SampleTrack* convertedFrom = nullptr;
    std::unique_ptr<CAP_SampleTrack> converted;
    const int tracks = TrackCount();
    for (int i = 0; i < tracks; ++i) {
      // Each track's part reports as the i-th share; a stop waits for the end of the part.
      auto part = [&](double fraction) { Tick((i + std::clamp(fraction, 0.0, 1.0)) / tracks); };
      CAP_SampleTrack* source = clipboard_->Slot(trackByTrack ? i : filled - 1);
      double copyFrom = 0;  // the part's share that a conversion took
      // Equal rates would only copy; one conversion serves every track with the same source.
      if (convertRate && source->sampleRate != DocumentRate()) {
        copyFrom = 0.5;
        if (convertedFrom != source) {
          converted.reset();
          converted = ConvertToDocumentRate(*source, [&](double f) { part(f / 2); });
          convertedFrom = source;
        }
        source = converted.get();
      }
      CAP_SampleTrack* t = mixer_->Track(i);
      const int c = source->Length();
      const int s = ClampedStart(t, length, start);
      const auto samplesDone = [&](int total, int base) {
        return [&part, copyFrom, total, base](int done) {
          part(copyFrom + (1 - copyFrom) * (base + done) / std::max(total, 1));
        };
      };
      if (kind == PasteMixOnce) {
        // May run past the end: the rest of the clipboard is appended there.
        const int r = std::min(c, std::max(length, 0));
        const int inTrack = std::min(r, t->Length() - s);
        if (prepared[std::size_t(i)].made) PutPrepared(i, prepared[std::size_t(i)], r - inTrack);
        else
          ChangeIntoEntry(i, inTrack, s,
                          Ticking(MixWith(*source, 0, sourcePercent, targetPercent), samplesDone(r, 0)), r - inTrack);
        InsertFrom(*source, r - inTrack, inTrack, *t, s + inTrack, samplesDone(r, inTrack));
        pasted = std::max(pasted, r);
      } else {
        const int n = ClampedLength(t, length, start);
        if (sourcePercent == 100 && targetPercent == 0) {
          if (prepared[std::size_t(i)].made) {
            MoveOut(i, n, s, c, std::move(prepared[std::size_t(i)].chain));
          } else {
            MoveOut(i, n, s, c);
            // Whole blocks keep their signatures and summaries when the rates agree.
            if (source->sampleRate == t->sampleRate) t->CopySamples(*source, c, s, 0, samplesDone(c, 0));
            else InsertFrom(*source, c, 0, *t, s, samplesDone(c, 0));
          }
        } else {
          const int m = std::min(n, c);
          if (prepared[std::size_t(i)].made) PutPrepared(i, prepared[std::size_t(i)], c - m);
          else
            ChangeIntoEntry(i, m, s, Ticking(MixWith(*source, 0, sourcePercent, targetPercent), samplesDone(c, 0)),
                            c - m);
          InsertFrom(*source, c - m, m, *t, s + m, samplesDone(c, m));
          if (n > m) MoveOut(i, n - m, s + m, 0);
        }
        pasted = std::max(pasted, c);
      }
      StopIfAsked();  // this track's entries are complete
    }
  });
  return done ? pasted : -1;
}

// Makes every track's range into new blocks, sample runs passing through the SampleChange that
// makePass(track, range length) gives; the old blocks are the undo group's. The tracks' new
// blocks are made on as many threads as the machine has (each track's the same on any), on the
// long work's worker when there is one, then linked in here.
template <class MakePass>
bool EP_EditHistory::PrepareAndSwap(int length, int start, const ViewState& view, MakePass makePass) {
  return Transact([&] {
    BeginGroup(GroupSamples, &view, true);
    const int tracks = TrackCount();
    struct Prepared {
      BlockChain chain;
      int chainStart = 0, span = 0, start = 0;
    };
    std::vector<Prepared> prepared(std::size_t(std::max(tracks, 0)));
    for (int i = 0; i < tracks; ++i) CheckAllocation();
    // Progress counts the samples changed over every track; a stop is seen between blocks.
    long long total = 0;
    for (int i = 0; i < tracks; ++i) total += ClampedLength(mixer_->Track(i), length, start);
    std::atomic<long long> done{0};
    LongWork* const work = work_;
    auto prepare = [&] {
      ForEachTrackInParallel(tracks, length >= kParallelSamples, [&](int i) {
        CAP_SampleTrack* t = mixer_->Track(i);
        Prepared& p = prepared[std::size_t(i)];
        const int n = ClampedLength(t, length, start);
        p.start = ClampedStart(t, length, start);
        SampleChange change = makePass(*t, p.start, n);
        const SampleChange pass = [&change, work, &done, total](const float* in, float* out, int m, long long index) {
          if (work) {
            work->ThrowIfStopped();
            work->Report(double(done += m) / double(total));
          }
          change(in, out, m, index);
        };
        p.chain = t->PrepareChange(n, p.start, work ? pass : change, &p.chainStart, &p.span);
      });
    };
    if (work) work->RunOnWorker(prepare);
    else prepare();
    for (int i = 0; i < tracks; ++i) {
      Prepared& p = prepared[std::size_t(i)];
      // On the blocks' own boundaries: the swap needs no memory.
      BlockChain old = mixer_->Track(i)->SwapRange(p.span, p.chainStart, std::move(p.chain));
      PushEntry(Entry{std::move(old), i, p.chainStart, p.span, p.start});
    }
  });
}

// Changes every track's range sample by sample: change(sample, index in the range, range length).
template <class Change>
bool EP_EditHistory::ChangeInPlace(int length, int start, const ViewState& view, Change change) {
  return PrepareAndSwap(length, start, view, [&change](CAP_SampleTrack&, int, int n) -> SampleChange {
    return [&change, n](const float* in, float* out, int m, long long index) {
      const Change local = change;  // a copy no store can alias: the loop runs in vector registers
      for (int j = 0; j < m; ++j) out[j] = local(in[j], index + j, n);
    };
  });
}

bool EP_EditHistory::Fade(int length, int start, float g0, float g1, const ViewState& view) {
  return ChangeInPlace(length, start, view, [g0, g1](float x, long long k, int n) {
    const double step = (double(g1) - double(g0)) / n;  // in double, so long fades stay exact
    return float(x * (g0 + step * double(k)));
  });
}

bool EP_EditHistory::Scale(int length, int start, float factor, const ViewState& view) {
  return ChangeInPlace(length, start, view, [factor](float x, long long, int) {
    const float y = factor * x;
    return y >= 1.0f ? 1.0f : y < -1.0f ? -1.0f : y;
  });
}

void EP_EditHistory::FindPeak(int length, int start, float* minimum, float* maximum) const {
  float lo = 1.0f, hi = -1.0f;
  for (int i = 0; i < TrackCount(); ++i) {
    CAP_SampleTrack* t = mixer_->Track(i);
    t->RangeMinMax(ClampedLength(t, length, start), ClampedStart(t, length, start), &lo, &hi);
  }
  if (minimum) *minimum = lo;
  if (maximum) *maximum = hi;
}

bool EP_EditHistory::Reverse(int length, int start, const ViewState& view) {
  return PrepareAndSwap(length, start, view, [](CAP_SampleTrack& t, int s, int n) -> SampleChange {
    // Sample k of the range takes sample n - 1 - k: the runs come in order, their sources from
    // the end backwards, found through the blocks' starts (the list is not changed meanwhile).
    struct Run {
      int start;
      const SampleBlock* block;
    };
    std::vector<Run> runs;
    int offset = 0;
    const SampleBlock* b = n > 0 ? t.Locate(s, &offset) : nullptr;
    for (int at = s - offset; b && at < s + n; at += b->count, b = b->next) runs.push_back({at, b});
    return [runs = std::move(runs), s, n](const float*, float* out, int m, long long index) {
      int from = s + n - int(index) - m;  // the source run is [from, from + m), written backwards
      auto run = std::upper_bound(runs.begin(), runs.end(), from, [](int p, const Run& r) { return p < r.start; }) - 1;
      for (int k = m; k > 0;) {
        const int inBlock = std::min(k, run->start + run->block->count - from);
        const float* src = run->block->Samples() + (from - run->start);
        for (int j = 0; j < inBlock; ++j) out[k - 1 - j] = src[j];
        k -= inBlock;
        from += inBlock;
        ++run;
      }
    };
  });
}

bool EP_EditHistory::InsertRepeated(int length, int start, const float* buffer, int bufferOffset, int bufferLength,
                                    int total, const ViewState& view) {
  return Transact([&] {
    BeginGroup(GroupSamples, &view, true);
    int longest = 0;
    for (int i = 0; i < TrackCount(); ++i) longest = std::max(longest, mixer_->Track(i)->Length());
    total = std::clamp(total, 0, INT_MAX - longest);  // the length of a track stays an int
    const float* from = buffer;
    int size = bufferLength;
    if (!from || size <= 0) {
      from = Silence();
      size = std::clamp(size, 1024, kSilentSamples);
    }
    // Every track gets the same samples: one repeated track serves them all. Progress: the
    // repeated track is one share, each track's copy another; a stop waits for a copy's end.
    const int tracks = TrackCount();
    const double shares = tracks + 1.0;
    std::unique_ptr<CAP_SampleTrack> repeated = NewTrack(DocumentRate());
    for (int placed = 0, offset = std::clamp(bufferOffset, 0, size); placed < total; offset = 0) {
      const int k = std::min(size - offset, total - placed);
      repeated->InsertSamples(from + offset, k, repeated->Length());
      placed += k;
      Tick(double(placed) / total / shares);
      StopIfAsked();  // nothing of the document changed yet
    }
    for (int i = 0; i < tracks; ++i) {
      CAP_SampleTrack* t = mixer_->Track(i);
      const int n = ClampedLength(t, length, start), s = ClampedStart(t, length, start);
      MoveOut(i, n, s, total);
      t->CopySamples(*repeated, total, s, 0, [&](int done) { Tick((i + 1 + double(done) / total) / shares); });
      StopIfAsked();
    }
  });
}

bool EP_EditHistory::ReplaceTracks(int length, int start, const std::vector<CAP_SampleTrack*>& sources,
                                   const ViewState& view) {
  return Transact([&] {
    BeginGroup(GroupSamples, &view, true);
    for (int i = 0; i < TrackCount() && i < int(sources.size()); ++i) {
      if (!sources[std::size_t(i)]) continue;
      CAP_SampleTrack* t = mixer_->Track(i);
      const int n = ClampedLength(t, length, start), s = ClampedStart(t, length, start);
      const int c = sources[std::size_t(i)]->Length();
      AddEntry(i, n, s, c);
      ReplaceRange(sources[std::size_t(i)], c, 0, t, n, s, 100, 0);
    }
  });
}

bool EP_EditHistory::SetPitch(float halftones, const ViewState& view) {
  if (!mixer_) return false;
  return Transact([&] {
    BeginGroup(GroupRate, &view, true);
    CheckAllocation();  // every block is made again at the new rate
    ShiftMixerPitch(halftones);
  });
}

void EP_EditHistory::ShiftMixerPitch(float halftones) {
  LongWork* const work = work_;
  if (!work) {
    mixer_->SetPitchShift(halftones);
    return;
  }
  // Between tracks the window paints and may ask to stop, which puts the done ones back.
  if (!mixer_->SetPitchShift(halftones, [work](double fraction) { return work->Step(fraction); }))
    throw WorkStopped();
}

bool EP_EditHistory::BeginRecording(int length, int start) {
  return Transact([&] {
    extensionCount_ = 0;
    BeginGroup(GroupSamples, nullptr, true);
    for (int i = 0; i < TrackCount(); ++i) {
      CAP_SampleTrack* t = mixer_->Track(i);
      const int n = ClampedLength(t, length, start), s = ClampedStart(t, length, start);
      // The recorder overwrites the range in place; growth comes through ExtendForRecording.
      AddEntry(i, n, s, n);
    }
  });
}

bool EP_EditHistory::ExtendForRecording() {
  // The extension belongs to the recording's group; without a group it could not be undone.
  if (!current_ || !mixer_) return false;
  return Transact([&] {
    const int seconds = extensionCount_ < 5 ? 1 : extensionCount_ < 10 ? 5 : extensionCount_ < 20 ? 10 : 30;
    const int rate = std::max(DocumentRate(), 0);
    for (int i = 0; i < TrackCount(); ++i) {
      CAP_SampleTrack* t = mixer_->Track(i);
      const int end = t->Length();
      const int total = int(std::min<long long>((long long)seconds * rate, INT_MAX - end));
      AddEntry(i, 0, end, total);
      // A failure part way leaves fewer samples than the entry names; its undo removes them all
      // the same, since the removal is cut at the end of the track.
      for (int done = 0; done < total;) {
        CheckAllocation();
        const int k = std::min({rate, kSilentSamples, total - done});
        t->InsertSamples(Silence(), k, t->Length());
        done += k;
      }
    }
    ++extensionCount_;
  });
}

// ---- Undo and redo ------------------------------------------------------------------------

void EP_EditHistory::ApplyGroup(Group& group, int* changedLength, int* changedStart) {
  if (group.kind == GroupRate) {
    CheckAllocation();  // every block is made again at the new rate
    ShiftMixerPitch(float(mixer_->NearestPitch(group.savedRate)));
    int longest = 0;
    for (int i = 0; i < TrackCount(); ++i) longest = std::max(longest, mixer_->Track(i)->Length());
    *changedStart = 0;
    *changedLength = longest;
    return;
  }
  int first = INT_MAX;
  long long last = 0;
  std::size_t applied = 0;
  try {
    for (Entry& entry : group.entries) {  // newest first
      const int saved = entry.saved.Length();
      // What is there now moves into the opposite group, which is current.
      BlockChain now = mixer_->Track(entry.track)->SwapRange(entry.lengthInPlace, entry.start, std::move(entry.saved));
      current_->entries.push_front(Entry{std::move(now), entry.track, entry.start, saved, entry.changeStart});
      ++applied;
      first = std::min(first, entry.changeStart);
      last = std::max(last, (long long)entry.start + saved);
    }
  } catch (const std::bad_alloc&) {
    // Only the splits at a range's ends need memory: what moved moves back, and the group stays.
    for (std::size_t k = applied; k-- > 0;) {
      Entry& moved = current_->entries.front();
      group.entries[k].saved =
          mixer_->Track(moved.track)->SwapRange(moved.lengthInPlace, moved.start, std::move(moved.saved));
      current_->entries.pop_front();
    }
    throw;
  }
  *changedStart = group.entries.empty() ? 0 : first;
  *changedLength = group.entries.empty() ? 0 : int(last - first);
}

bool EP_EditHistory::NextIsBeforeSave(bool undo) const {
  const auto& stack = undo ? undo_ : redo_;
  return !stack.empty() && stack.front()->serial < savedSerial_;
}

bool EP_EditHistory::Undo(int* changedLength, int* changedStart, ViewState* view) {
  if (undo_.empty() || !mixer_) return false;
  Group* taken = undo_.front().get();
  int length = 0, start = 0;
  const bool done = Transact([&] {
    auto opposite = std::make_unique<Group>();
    opposite->kind = taken->kind;
    opposite->savedRate = DocumentRate();
    opposite->view = taken->view;
    opposite->serial = taken->serial;
    redo_.push_front(std::move(opposite));
    current_ = opened_ = redo_.front().get();
    openedOnRedo_ = true;
    ApplyGroup(*taken, &length, &start);
  });
  if (!done) return false;
  if (view) *view = taken->view;
  undo_.pop_front();
  if (changedLength) *changedLength = length;
  if (changedStart) *changedStart = start;
  return true;
}

bool EP_EditHistory::Redo(int* changedLength, int* changedStart) {
  if (redo_.empty() || !mixer_) return false;
  Group* taken = redo_.front().get();
  int length = 0, start = 0;
  const bool done = Transact([&] {
    BeginGroup(taken->kind, &taken->view, false);
    current_->serial = taken->serial;
    ApplyGroup(*taken, &length, &start);
  });
  if (!done) return false;
  redo_.pop_front();
  if (changedLength) *changedLength = length;
  if (changedStart) *changedStart = start;
  return true;
}
