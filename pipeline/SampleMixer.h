#pragma once
// A document's audio: one track per channel plus, for a stereo document, a mono mix track (which
// computes its samples from the two channels: CAP_SampleTrack::ComputeFrom). As a
// container it spreads interleaved frames over the tracks on writes and gathers them back on
// reads, each through a small gain matrix. It loads from a decoder with optional DC-offset
// correction and shifts the pitch of the whole document in halftones by changing the tracks'
// sample rate (no resampling).
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "analysis/AudioContainer.h"
#include "analysis/SampleTrack.h"
#include "analysis/SoundSignature.h"

class CAP_AudioDecoder;
class DCOffsetMeter;

class CAP_SampleMixer : public CAP_AudioContainer, public CAP_AudioViewer {
public:
  static constexpr int kMaxTracks = 32;
  static constexpr int kMaxChannels = 2;
  static constexpr int kMaxRateTable = 146;

  // channels is 1 or 2 (other counts are brought into that range; callers refuse them first).
  CAP_SampleMixer(int channels, int rate, bool withMixTrack);
  ~CAP_SampleMixer() override;
  CAP_SampleMixer(const CAP_SampleMixer&) = delete;
  CAP_SampleMixer& operator=(const CAP_SampleMixer&) = delete;

  void SetTrackCount(int n);
  // Whether the mix track of a stereo mixer computes its samples from the two channel tracks
  // (the default) or stores them as it did before: read when a mixer is made.
  static void SetMixComputed(bool computed);
  static bool MixComputed();
  int TrackCount() const { return trackCount_; }
  CAP_SampleTrack* Track(int index) const;

  // Pulls every frame from the decoder; false when the callback cancelled (or the decoder's
  // channels are not the mixer's). The decoder's errorText tells whether the file itself failed.
  bool LoadFromDecoder(CAP_AudioDecoder* decoder, ProgressCallback progress, std::intptr_t user);
  // The same from any container that announces totalFrames (0 = unknown) at its sampleRate.
  bool LoadFrom(CAP_AudioContainer& source, std::int64_t totalFrames, ProgressCallback progress,
                std::intptr_t user);
  // The same load in steps, for a document that is shown while it loads: BeginLoad, then
  // AppendLoaded with every read of the source in order, each of LoadChunkFrames (the last read,
  // which gave nothing, included), then EndLoad. The tracks end as LoadFrom on one thread leaves
  // them. Meanwhile the tracks grow and tell their viewers, on the calling thread.
  static int LoadChunkFrames(int rate);
  void BeginLoad();
  void AppendLoaded(const float* frames, int n);
  // AppendLoaded of the reads handed out one at a time by next (its frames and count > 0; false
  // once it has no more now), called on this thread: the tracks take each as it comes, filled on
  // up to LoadThreads() threads as the parallel load fills them, and end the same. Every viewer of
  // the tracks but the mixer is told of the change on the thread that fills its track. A read's
  // frames are in use until next has been called kReadsInFlight times more, or this returns.
  static constexpr int kReadsInFlight = 32;
  using NextRead = std::function<bool(const float** frames, int* count)>;
  void AppendLoadedAsRead(const NextRead& next);
  // Settles the mix and, after a whole load with correctDC on, removes the offsets measured.
  void EndLoad(bool whole);
  std::int64_t LoadedFrames() const { return loaded_; }
  // Threads a load may use (the calling thread included): the machine's cores by default; 1
  // loads on the calling thread alone. The tracks end the same either way.
  void SetLoadThreads(int threads) { loadThreads_ = std::max(threads, 1); }
  int LoadThreads() const { return loadThreads_; }
  // With correctDC on, a load measures each channel's offset over the whole file and removes it
  // where it is a real offset (DCOffsetMeter says which); every other file loads unchanged.
  void SetCorrectDC(bool on) { correctDC_ = on; }
  bool CorrectDC() const { return correctDC_; }
  // The offset the last load removed from the channel (0 when none was).
  double DCOffset(int channel) const { return dcOffset_[channel]; }

  void SetPitchShift(float halftones);
  // The same telling step the fraction done after each track but the last; a false answer puts
  // the tracks back at the old rate (the same samples) and the shift is not made (false).
  bool SetPitchShift(float halftones, const std::function<bool(double)>& step);
  float PitchShift() const { return pitch_; }
  void PitchRange(int* lowest, int* highest) const;
  int RateForPitch(float halftones) const;
  int NearestPitch(int rate) const;
  int BaseRate() const { return baseRate_; }
  int RateTableSize() const { return count_; }
  int RateTableEntry(int index) const { return rateTable_[index]; }
  int BaseIndex() const { return baseIndex_; }

  int ReadFloat(float* dest, int frames, int position) override;
  int WriteFloat(const float* source, int frames, int position) override;

  // Every track reports each change of its length here: the duration follows the longest.
  void AddShift(double seconds) override;

private:
  void BuildRateTable();
  // The computed mix track catches up with the channels after a write, a load or a pitch shift.
  void SettleTracks();
  // One write of frames to every track, the mix not yet settled.
  void WriteFrames(const float* source, int frames, int position);
  void UpdateDuration();
  bool ReadGainIsIdentity(int channel) const;
  bool WriteGainIsIdentity(int track) const;
  // One track's part of a write; scratch holds the mixed samples of a track without identity gain.
  void WriteTrack(int track, const float* source, int frames, int position, std::vector<float>& scratch);
  // The load with the tracks filled on several threads; the frames loaded.
  std::int64_t LoadInParallel(CAP_AudioContainer& source, int chunk, std::int64_t total, ProgressCallback progress,
                              std::intptr_t user, bool* answer, DCOffsetMeter* meter);
  // Subtracts the meter's offsets from the first frames of the tracks, clamped to full scale.
  void RemoveDCOffsets(const DCOffsetMeter& meter, std::int64_t frames);

  bool correctDC_ = false;
  float pitch_ = 0;
  int trackCount_ = 0;
  CAP_SampleTrack* tracks_[kMaxTracks] = {};
  float readGain_[kMaxTracks][kMaxChannels] = {};
  float writeGain_[kMaxChannels][kMaxTracks] = {};
  double dcOffset_[kMaxChannels] = {};
  std::int32_t rateTable_[kMaxRateTable] = {};
  int baseIndex_ = 0;
  int count_ = 0;
  int baseRate_ = 0;
  std::vector<float> scratch_;  // the mixed read and write paths
  std::unique_ptr<DCOffsetMeter> loadMeter_;  // while a load with correctDC on runs
  std::int64_t loaded_ = 0;                   // frames the load in progress appended
  int loadThreads_;
};

// The editor's side of a growing document: told before a write extends the audio, so that the
// edit history can record the extension (recording).
class MixerGrowthListener {
public:
  virtual ~MixerGrowthListener() = default;
  // newLength: the length in frames the audio will have after the write.
  virtual void AudioAboutToGrow(int newLength) = 0;
};

class EP_SampleMixer : public CAP_SampleMixer {
public:
  EP_SampleMixer(int channels, int rate, MixerGrowthListener* editor, bool withMixTrack)
      : CAP_SampleMixer(channels, rate, withMixTrack), editor_(editor) {}

  int WriteFloat(const float* source, int frames, int position) override;
  MixerGrowthListener* Editor() const { return editor_; }

private:
  MixerGrowthListener* editor_;
};
