#pragma once
// One channel of audio in memory: a doubly linked list of float blocks of at most 0.1 s, each
// with the signature, colour, min/max summary and match marks of its samples. Edits split the
// blocks at their ends, merge blocks that became short and recompute only what they touched.
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "analysis/AudioContainer.h"
#include "analysis/BandEnergies.h"
#include "analysis/SoundSignature.h"

class BlockStore;

struct SampleBlock {
  std::int32_t count = 0;
  SoundSignature signature;
  BlockColor color = 0;
  float score = 0;  // match score of the run starting (or, once claimed, lying) here
  SampleBlock* prev = nullptr;
  SampleBlock* next = nullptr;
  SampleBlock* runHead = nullptr;  // first block of the claiming run; null when unclaimed
  std::int32_t runLength = 0;      // blocks in the run that starts here
  // On the head of a run: where the matched sound starts, in samples from the block's start (the
  // winning phase of an off-grid search plus the selection's offset in its first block); 0 on
  // the grid.
  std::int32_t matchOffset = 0;
  bool inPrototype = false;
  // A block of a computed track (the mix) stores no samples: data holds its summary levels alone.
  bool computed = false;
  // Its summaries, signature and colour wait for the track's sources (Settle).
  bool stale = false;
  std::int32_t allocated = 0;  // floats in data
  // What the sound search reads of the samples (TrackBands.h): made on the first search after
  // they last changed, and only for the blocks it searches (a stereo document's channels never
  // are), so that the other records stay small. Null until made; lives and dies with the record.
  std::unique_ptr<BlockBands> bands;

  // count samples followed by the summary levels (the levels alone when computed); sized for
  // what the block holds.
  std::unique_ptr<float[]> data;

  void CopyBandsFrom(const SampleBlock& other) {
    bands = other.bands ? std::make_unique<BlockBands>(*other.bands) : nullptr;
  }

  // Only a stored block has samples here; a computed track's come from ReadSamples.
  float* Samples() { return data.get(); }
  const float* Samples() const { return data.get(); }
  float* Summaries() { return data.get() + (computed ? 0 : count); }
  const float* Summaries() const { return data.get() + (computed ? 0 : count); }
};

// Blocks taken out of a track (what an edit replaced, kept for its undo): they stay in the
// track's store, so that moving them back costs no copy, and go back to it when dropped. Only the
// track they came from takes them back.
class BlockChain {
public:
  BlockChain() = default;
  ~BlockChain();
  BlockChain(BlockChain&& other) noexcept;
  BlockChain& operator=(BlockChain&& other) noexcept;
  int Length() const { return length_; }
  int BlockCount() const { return blocks_; }
  const SampleBlock* Head() const { return head_; }

private:
  friend class CAP_SampleTrack;
  void Release();
  std::shared_ptr<BlockStore> store_;
  SampleBlock* head_ = nullptr;
  SampleBlock* tail_ = nullptr;
  int length_ = 0;
  int blocks_ = 0;
  // No block waits for its sources (Settle): known of blocks taken out of a settled track, so that
  // moving them back does not walk the track for stale blocks.
  bool settled_ = false;
};

// Rewrites n samples: out[i] from in[i], index the place of in[0] in the range being changed.
using SampleChange = std::function<void(const float* in, float* out, int n, long long index)>;

inline constexpr int kGridPhases = 1;
inline constexpr int kMatchAnywherePhases = 16;

class CAP_SampleTrack : public CAP_AudioContainer {
public:
  explicit CAP_SampleTrack(int rate);
  ~CAP_SampleTrack() override;
  CAP_SampleTrack(const CAP_SampleTrack&) = delete;
  CAP_SampleTrack& operator=(const CAP_SampleTrack&) = delete;

  // A computed track: its samples are (left + right) / 2 of two other tracks of the same length,
  // worked out when read instead of stored (the mix track of a stereo document). Its blocks keep
  // their signatures, colours, summaries and match marks. Set while the track is empty; the
  // sources outlive it. Edits change a computed track as they change the others (the same
  // ranges, in the same order), but the samples it is given are not kept: the blocks they touch
  // wait, stale, until Settle reads the sources. Only the samples its mixer appends through
  // WriteSamples are taken as they are: the mixer worked them out from the frames it wrote to the
  // sources.
  void ComputeFrom(CAP_SampleTrack* left, CAP_SampleTrack* right);
  bool Computed() const { return left_ != nullptr; }
  // Brings the stale blocks of a computed track up to date from its sources: called by whoever
  // changes the sources and this track together, once both agree; the readers here call it too.
  void Settle();

  // Container slots (frames are samples: one channel).
  int ReadFloat(float* dest, int frames, int position) override;
  int WriteFloat(const float* source, int frames, int position) override;

  // Block holding position and the offset in it; at or past the end the last block with
  // offset = its count; null for an empty track.
  SampleBlock* Locate(int position, int* offset);

  // step: floats between consecutive samples of this track in an interleaved caller buffer.
  int ReadSamples(float* dest, int count, int position, int step = 1);
  int WriteSamples(const float* source, int count, int position, int step = 1, int newPercent = 100,
                   int oldPercent = 0);
  void InsertSamples(const float* source, int count, int position, int step = 1);
  void DeleteSamples(int count, int position);
  // progress, when given, hears the samples copied so far now and then.
  void CopySamples(CAP_SampleTrack& source, int count, int position, int sourcePosition,
                   const std::function<void(int copied)>& progress = {});
  void RecolorRange(int count, int position);
  // Lowers *minimum and raises *maximum by the samples of [position, position + count).
  void RangeMinMax(int count, int position, float* minimum, float* maximum);

  // Moving blocks (SampleChains.cpp). Each either changes the track completely or throws
  // std::bad_alloc with the samples as they were.
  // [position, position + count) is taken out and chain (from this track) put in its place; the
  // blocks taken out are returned.
  BlockChain SwapRange(int count, int position, BlockChain&& chain);
  // The samples of [position, position + count) pass through change into new blocks that take
  // the place of the old ones, which are returned: whole blocks, from *chainStart.
  BlockChain ChangeRange(int count, int position, const SampleChange& change, int* chainStart);
  // [position, position + count) reversed into new blocks; the old ones are returned.
  BlockChain ReverseRange(int count, int position);
  // Copies of the whole blocks holding [position, position + count), from *chainStart.
  BlockChain CopyChain(int count, int position, int* chainStart);
  // source's samples [sourcePosition, sourcePosition + count) as new blocks of this track, block
  // for block as CopySamples makes them (whole blocks keep their signatures), not yet in the list
  // (SwapRange puts them there). Both tracks store their samples and source is settled; source
  // is only read, so several tracks may copy at once, each from a source of its own.
  // progress(n) follows each block with the samples it copied.
  BlockChain CopyChainFrom(const CAP_SampleTrack& source, int count, int sourcePosition,
                           const std::function<void(int n)>& progress = {});
  // The new blocks of a ChangeRange, not yet in the list (SwapRange(*span, *chainStart, ...)
  // puts them there). Touches only this track's blocks and store: several tracks may prepare at
  // once, each on its own thread, when change may run on any thread.
  BlockChain PrepareChange(int count, int position, const SampleChange& change, int* chainStart, int* span) {
    return MakeChanged(count, position, &change, chainStart, span);
  }
  void SetSampleRate(int rate);
  void AddViewer(CAP_AudioViewer* viewer);
  // A viewer that goes before the track (a hidden display row) takes itself off the list.
  void RemoveViewer(CAP_AudioViewer* viewer);
  int ViewerCount() const { return int(viewers_.size()); }

  // In-place access: whoever changes the floats calls RecolorRange for the span afterwards.
  float* BeginBlockWalk(int start, int* n, int count);
  float* NextBlockWalk(int* n);

  bool ComputeRegionSignature(int count, int start, SoundSignature* signatureOut,
                              BlockColor* colorOut = nullptr, ProgressCallback progress = nullptr,
                              std::intptr_t user = 0);

  // Min, max and colour of each pixel column; a column with no sample keeps min 1, max -1.
  void GetColumns(double start, double step, int columns, float* mins, float* maxs,
                  BlockColor* colors);

  // Similarity search over the blocks: the prototype is samples start .. start + count - 1.
  // With more than one phase the prototype is also tried shifted back by fractions of its first
  // block (phases equal steps), so that a recurrence between two block boundaries scores as well
  // as one on them: every candidate takes the best of every other phase, and each claimed run
  // then the better of the phases beside its winner. One phase is the grid.
  void ComputeMatches(int count, int start, int phases = kGridPhases);
  // Asked by ComputeMatches as it goes, with the fraction done; false stops the search and
  // leaves no marks. Empty: never asked.
  void SetSearchProgress(std::function<bool(double)> progress) { searchProgress_ = std::move(progress); }
  // The same search walking the block list with RunScore and ClaimRun as written; slower, kept
  // to check the fast search against.
  void ComputeMatchesReference(int count, int start, int phases = kGridPhases);
  // prototype, when given, holds the signatures to use for first .. last in their place.
  float RunScore(const SampleBlock* first, const SampleBlock* last, const SampleBlock* candidate,
                 int* runLength, const SoundSignature* prototype = nullptr) const;
  bool ClaimRun(SampleBlock* block);
  int CountMatches(int threshold) const;
  bool FindNextMatch(int threshold, int* position, float* score);
  bool FindPreviousMatch(int threshold, int* position, float* score);

  SampleBlock* Head() const { return head_; }
  SampleBlock* Tail() const { return tail_; }
  int Length() const { return length_; }
  int Capacity() const { return capacity_; }
  int BlockCount() const { return blockCount_; }
  // Start sample of a block of this track (walks from the nearer end).
  int BlockStart(const SampleBlock* block) const;

  // The block capacity for a rate: 0.1 s rounded half away from zero, made even.
  static int CapacityForRate(int rate);

private:
  // The prototype first .. last shifted back by each phase's offset: the offsets in samples and,
  // phase by phase, one signature per prototype block. Phase 0 is the blocks' own signatures;
  // phases that would reach before the track's start are left out.
  struct PhasedPrototype {
    std::vector<int> offset;
    std::vector<SoundSignature> signature;  // offset.size() x blocks
    int blocks = 0;
  };
  PhasedPrototype PrototypeAtPhases(const SampleBlock* first, const SampleBlock* last,
                                    int firstStart, int phases);
  // Marks the prototype's blocks; returns the start of the first.
  int MarkPrototype(SampleBlock* first, SampleBlock* last);
  // The search's marks for a prototype of every block, at one phase, without the search.
  void MatchWholeTrack(int selectionOffset);
  SampleBlock* LocateWithStart(int position, int* offset, int* start);
  // A new block holding n samples of source from sourceIndex; sourceSamples are its samples.
  SampleBlock* NewBlockBetween(SampleBlock* after, SampleBlock* before, const SampleBlock* source,
                               const float* sourceSamples, int n, int sourceIndex);
  SampleBlock* NewEmptyBlockBetween(SampleBlock* after, SampleBlock* before, int n);
  void SplitBlock(SampleBlock* block, int at);
  void MergeBlocks(SampleBlock* a, SampleBlock* b);
  void NormalizeAround(SampleBlock* block);
  void DeleteBlock(SampleBlock* block);
  // After a change of the block's samples: clears its marks and recomputes its summaries,
  // signature and colour, and its band shape is made again on the next sound search (a computed
  // track's block turns stale instead).
  void RecomputeBlock(SampleBlock* block);
  // The summaries, signature and colour of samples, the block's own; the band shape is marked
  // missing.
  void FillBlock(SampleBlock* block, const float* samples);
  // Floats of a block of n samples in this track (the summaries alone when computed).
  std::int32_t BlockFloats(int n) const;
  // A computed track's samples [position, position + count), read from its sources.
  void ProduceSamples(float* dest, int count, int position);
  // The inserted samples: a computed track takes them as its own only when trusted.
  void InsertBlocks(const float* source, int count, int position, int step, bool trusted);
  // Settle with the blocks spread over threads.
  void SettleInParallel(std::vector<std::pair<SampleBlock*, int>>& stale);
  void ClearMatchMarks(SampleBlock* block);
  // One block's score, run and prototype marks.
  static void ClearMarks(SampleBlock* block);
  void ClearAllMarks();
  void NotifyViewers(int count, int start, int shift);
  void SetLength(int length);
  void Link(SampleBlock* block, SampleBlock* after, SampleBlock* before);
  void ForgetLocateHint() { hintBlock_ = nullptr; }
  // Splits so that a block boundary lies at position; returns the block before it (or null).
  SampleBlock* SplitAt(int position);
  // Clamps the position and splits there for count new samples: the blocks on either side of
  // the gap. False (after notifying) when there is nothing to insert.
  bool OpenGap(int* position, int count, SampleBlock** before, SampleBlock** following);

  SampleBlock* head_ = nullptr;
  SampleBlock* tail_ = nullptr;
  std::int32_t length_ = 0;
  std::int32_t capacity_ = 0;
  std::int32_t blockCount_ = 0;

  // Block walk cursor, shared with ReadSamples.
  SampleBlock* walkBlock_ = nullptr;
  std::int32_t walkRemaining_ = 0;
  std::int32_t walkStart_ = 0;       // where walkBlock_ starts (a computed track's walk)
  std::vector<float> walkSamples_;   // a computed track's walk: the block's samples

  // A computed track's sources; null for a track that stores its samples.
  CAP_SampleTrack* left_ = nullptr;
  CAP_SampleTrack* right_ = nullptr;
  bool needsSettle_ = false;  // some block in the list may be stale
  std::vector<float> produced_[2];  // the sources' samples while producing

  // Last block found by Locate and its start: sequential reads continue from it. Forgotten on
  // every change of the block list.
  SampleBlock* hintBlock_ = nullptr;
  std::function<bool(double)> searchProgress_;
  std::int32_t hintStart_ = 0;

  std::vector<CAP_AudioViewer*> viewers_;

  // Block records come from slabs so that a walk over the list (columns, searches, edits) reads
  // neighbouring memory; freed records are reused. Their addresses never change.
  SampleBlock* AllocateBlock();
  void ReleaseBlock(SampleBlock* block);
  struct ChainBuilder;
  // A new block of n samples (no signature yet) at the end of a chain being built.
  SampleBlock* NewLooseBlock(int n, ChainBuilder& into);
  // A new block takes n samples of source from sourceIndex (sourceSamples: source's samples), with
  // source's signature and summaries when that is the whole block.
  void FillAsCopy(SampleBlock* block, const SampleBlock* source, const float* sourceSamples, int n, int sourceIndex);
  // New blocks for the whole blocks holding [position, position + count): the range's samples
  // through change, the rest as they are; null change: copies with their signatures.
  BlockChain MakeChanged(int count, int position, const SampleChange* change, int* chainStart, int* span);
  // The same chain with its blocks in this track's store (a chain from another track, copied).
  BlockChain Adopt(BlockChain& chain);
  // Shared with the chains taken out of the track; new slots are half the capacity (what
  // loading and insertion make).
  std::shared_ptr<BlockStore> store_;
};
