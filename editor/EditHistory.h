#pragma once
// Every change of a document's samples: the edit operations on all tracks of the mixer, each
// recorded as an undo group holding the blocks it replaced, moved out of the tracks rather than
// copied, so that Undo and Redo move blocks back and forth. Five undo groups are kept unless
// SetUndoLevels says otherwise.
//
// Out of memory: an operation that cannot get the memory for its copies or its new samples
// leaves the tracks, both stacks and the clipboard as they were and returns false. UI thread only.
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "analysis/SampleTrack.h"
#include "editor/ViewState.h"

class CAP_SampleMixer;
class LongWork;
class SharedClipboard;

enum EditGroupKind : int { GroupSamples = 0, GroupRate = 1 };
enum PasteKind : int { PasteReplace = 0, PasteMixOnce = 1 };

class EP_EditHistory {
public:
  static constexpr int kMaxUndoGroups = 5;
  static constexpr int kAllTracks = -1;

  EP_EditHistory(CAP_SampleMixer* mixer, SharedClipboard* clipboard);
  ~EP_EditHistory();
  EP_EditHistory(const EP_EditHistory&) = delete;
  EP_EditHistory& operator=(const EP_EditHistory&) = delete;

  // The primitive: target [targetStart, targetStart + targetLength) becomes source
  // [sourceOffset, sourceOffset + sourceLength) mixed by the percentages
  // (new = source x sourcePercent / 100 + old x targetPercent / 100, clamped). A null source
  // with length 0 deletes.
  void ReplaceRange(CAP_SampleTrack* source, int sourceLength, int sourceOffset, CAP_SampleTrack* target,
                    int targetLength, int targetStart, int sourcePercent, int targetPercent);
  // Saves a copy of [start, start + length) of mixer track `track` into a new entry at the front
  // of the current group; on undo it replaces the lengthInPlace samples then at start.
  void AddEntry(int track, int length, int start, int lengthInPlace);
  // The undo groups kept: 0 keeps every one. Groups beyond a lower limit go at once.
  void SetUndoLevels(int levels);
  int UndoLevels() const { return undoLevels_; }
  // Opens a group (view null: all zero); drops the oldest beyond five; clearRedo empties redo.
  void BeginGroup(int kind, const ViewState* view, bool clearRedo);

  // Clipboard: destroys all 32 slots, then slot i holds [start, start + length) of track i at
  // the document's rate. No undo group.
  bool Copy(int length, int start);
  bool Delete(int length, int start, const ViewState& view);
  bool Cut(int length, int start, const ViewState& view);
  // Keeps [start, start + length): removes the tail, then the head.
  bool Trim(int length, int start, const ViewState& view);
  // Returns the pasted length (kind 0: the largest clipboard length over the tracks; kind 1:
  // min(clipboard length, length)); -1 when out of memory. Nothing happens (0) with an empty
  // clipboard.
  int Paste(int length, int start, int kind, bool convertRate, int sourcePercent, int targetPercent,
            const ViewState& view);
  // Sample k of the range is multiplied by g0 + ((g1 - g0) / length) x k (double step).
  bool Fade(int length, int start, float g0, float g1, const ViewState& view);
  // Every sample x factor, clamped to -1..1.
  bool Scale(int length, int start, float factor, const ViewState& view);
  // Over all tracks: *minimum starts at 1, *maximum at -1. No group.
  void FindPeak(int length, int start, float* minimum, float* maximum) const;
  bool Reverse(int length, int start, const ViewState& view);
  // Replaces [start, start + length) by total samples repeating buffer (the first copy from
  // bufferOffset, the later ones from 0). A null or empty buffer repeats silence.
  bool InsertRepeated(int length, int start, const float* buffer, int bufferOffset, int bufferLength, int total,
                      const ViewState& view);
  // Replaces [start, start + length) of track i by all of sources[i] (a track without a source
  // keeps its samples): the pitch and tempo changes, made outside the history.
  bool ReplaceTracks(int length, int start, const std::vector<CAP_SampleTrack*>& sources, const ViewState& view);
  // A rate group: remembers the current rate, then shifts the mixer's pitch.
  bool SetPitch(float halftones, const ViewState& view);
  // Starts a recording's group (no view state, extension count 0) saving [start, start + length).
  bool BeginRecording(int length, int start);
  // Appends 1 s of silence to every track for the first five calls of a recording, then 5 s for
  // five, then 10 s for ten, then 30 s; the extension is recorded in the recording's group.
  bool ExtendForRecording();

  // The changed span in samples and (Undo) the group's view state; false when nothing to do or
  // out of memory (then nothing changed).
  bool Undo(int* changedLength, int* changedStart, ViewState* view);
  bool Redo(int* changedLength, int* changedStart);
  // The document was saved with exactly its samples and keeps its groups: those made before now
  // are the saved file's past. Whether the next Undo (or Redo) would reach into that past.
  void MarkSaved() { savedSerial_ = nextSerial_; }
  bool NextIsBeforeSave(bool undo) const;
  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  int UndoCount() const { return int(undo_.size()); }
  int RedoCount() const { return int(redo_.size()); }
  int ExtensionCount() const { return extensionCount_; }

  // The long command under way: its changes are made on a worker while the UI hears of them,
  // and a stop (WorkStopped, thrown out of the operation) leaves everything as it was. Null:
  // on the calling thread, without progress.
  void SetWork(LongWork* work) { work_ = work; }

  // Whether the last operation that failed ran out of scratch disk rather than memory; asking
  // forgets it.
  bool TakeDiskFull() { return std::exchange(diskFull_, false); }

  // Tests only: the nth allocation of saved or new samples from now on throws std::bad_alloc
  // (0 disarms).
  void FailAllocationAfter(int nth) { failAfter_ = nth; }

  struct Entry {
    BlockChain saved;  // blocks of the mixer's track `track`
    int track = 0;
    int start = 0;
    int lengthInPlace = 0;
    // Where the change began, which may lie inside the first saved block: what Undo and Redo
    // report as the changed span's start.
    int changeStart = 0;
  };
  struct Group {
    std::deque<Entry> entries;  // newest first
    int kind = GroupSamples;
    int savedRate = 0;
    ViewState view;
    std::uint64_t serial = 0;  // which edit: its undo and redo groups share it
  };

private:
  // Implementation details are the history's own.
  void CheckAllocation();
  // A fresh track for saved or new samples (counted by FailAllocationAfter).
  std::unique_ptr<CAP_SampleTrack> NewTrack(int rate);
  // Runs one public changing operation: a std::bad_alloc inside it rolls back every change and
  // the result is false; otherwise the deferred dropping of groups happens.
  template <class Body>
  bool Transact(Body&& body);
  template <class MakePass>
  bool PrepareAndSwap(int length, int start, const ViewState& view, MakePass makePass);
  template <class Change>
  bool ChangeInPlace(int length, int start, const ViewState& view, Change change);
  void Rollback(Group* current, int extensionCount);
  void DropBeyondLimit();
  void ClearRedo();
  // Puts an entry's saved blocks back, dropping what they replace.
  void Restore(Entry& entry);
  void PushEntry(Entry entry);
  // Moves [start, start + length) of a track out into a new entry (a deletion) that will
  // replace lengthInPlace samples on undo; replacement (the track's own new blocks) takes its place.
  void MoveOut(int track, int length, int start, int lengthInPlace, BlockChain replacement = {});
  // For a paste of a clipboard track into each track: the new blocks of the tracks that store
  // their samples at the clipboard's rate, made at once (on threads when long); not made for the
  // others, which the paste changes one by one.
  struct PreparedTrack;
  std::vector<PreparedTrack> PrepareFromClipboard(int kind, int length, int start, int sourcePercent,
                                                  int targetPercent);
  // A prepared track's blocks in place of the ones they replace, which go into a new entry that
  // will also replace the extra samples inserted after them.
  void PutPrepared(int track, PreparedTrack& prepared, int extra);
  // The range through change in new blocks; the old ones go into a new entry that will also
  // replace the extra samples inserted after the range.
  void ChangeIntoEntry(int track, int length, int start, const SampleChange& change, int extra);
  void ApplyGroup(Group& group, int* changedLength, int* changedStart);
  // Every track made again at the rate of the pitch; with long work, WorkStopped when stopped.
  void ShiftMixerPitch(float halftones);
  void DeleteRange(int length, int start, const ViewState& view);
  std::vector<std::unique_ptr<CAP_SampleTrack>> CopyRange(int length, int start);
  void InstallClipboard(std::vector<std::unique_ptr<CAP_SampleTrack>>& tracks);
  // progress hears the fraction converted; with long work, WorkStopped when stopped.
  std::unique_ptr<CAP_SampleTrack> ConvertToDocumentRate(CAP_SampleTrack& source,
                                                         const std::function<void(double)>& progress);
  // Work done on the UI thread in pieces (paste, mix, insert silence): Tick reports and lets the
  // window paint as it goes; StopIfAsked throws WorkStopped where every entry is complete.
  void Tick(double fraction);
  void StopIfAsked();
  int TrackCount() const;
  int DocumentRate() const;

  CAP_SampleMixer* mixer_;
  SharedClipboard* clipboard_;
  std::deque<std::unique_ptr<Group>> undo_;  // front = newest
  std::deque<std::unique_ptr<Group>> redo_;
  Group* current_ = nullptr;
  int extensionCount_ = 0;
  int failAfter_ = 0;
  int undoLevels_ = kMaxUndoGroups;
  LongWork* work_ = nullptr;
  bool diskFull_ = false;
  std::uint64_t nextSerial_ = 1;
  std::uint64_t savedSerial_ = 0;

  // The operation under way (Transact): what it opened and what it will drop when it commits.
  bool inTransaction_ = false;
  Group* opened_ = nullptr;
  bool openedOnRedo_ = false;
  bool clearRedoPending_ = false;
  int entriesAdded_ = 0;  // at the front of current_
};
