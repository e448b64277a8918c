#pragma once
// Tracker module reader (FileFormat 7): the 31-instrument module format with 4, 6 or 8 channels,
// rendered by its own small mixer to 16-bit stereo (or mono) at 22,050 Hz, one pattern row at a
// time. The song name, the instrument list and effects that are not rendered are reported on
// std::cerr.
#include <array>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "formats/AudioAbstract.h"
#include "formats/SampledInstrument.h"

// One sampled instrument of a module: its header and, once the sample data is read, the
// SampledInstrument that plays it.
class ModInstrument : public AbstractInstrument {
public:
  // A module's sample data plays at this rate at period 254 (111760 / 440).
  static constexpr float kRecordRate = 14078.236f;

  std::string name;
  int finetune = 0;  // -8..7, in eighths of a halftone
  int volume = 0;    // 0..64
  int length = 0, loopStart = 0, loopLength = 0;  // in samples (= bytes)

  // Converts the 8-bit signed data and decides the loop: it is dropped when it is empty, when
  // it covers only silence, or when it is the two-byte "no loop" mark at the start.
  void SetSamples(const std::vector<std::int8_t>& bytes);
  void SetOutputRate(int rate) override;
  std::unique_ptr<AbstractNote> NewNote(float pitch, float volume) override;
  const SampledInstrument* Sampled() const { return sampled_.get(); }

private:
  std::unique_ptr<SampledInstrument> sampled_;
};

// A playing note in module terms: volumes 0..64 and Amiga periods.
class ModNote : public AbstractNote {
public:
  explicit ModNote(std::unique_ptr<AbstractNote> inner) : inner_(std::move(inner)) {}
  // 64 is a quarter of the sample's level, leaving headroom for four channels per side.
  void SetModVolume(int volume);
  // Periods are held within 113..856; the pitch is 111760 / period Hz against the 440 Hz base.
  void SetPeriod(int period);
  // Jumps to a sample position (the sample-offset effect).
  void SetPosition(std::int64_t position);

  int AddSamples(std::int16_t* buffer, int count) override { return inner_ ? inner_->AddSamples(buffer, count) : 0; }
  void Restart() override { if (inner_) inner_->Restart(); }
  void Release() override { if (inner_) inner_->Release(); }
  float Pitch() const override { return inner_ ? inner_->Pitch() : 440; }
  void SetPitch(float hz) override { if (inner_) inner_->SetPitch(hz); }
  float Volume() const override { return inner_ ? inner_->Volume() : 0; }
  void SetVolume(float volume) override { if (inner_) inner_->SetVolume(volume); }

  static constexpr int kMinPeriod = 113, kMaxPeriod = 856;

private:
  std::unique_ptr<AbstractNote> inner_;
};

struct ModPatternNote {
  std::uint8_t instrument = 0;  // 1..31; 0 = none (32 and above are refused when played)
  std::uint16_t period = 0;     // 0 = none
  std::uint8_t effect = 0;      // effect code, 0 = none
  std::uint8_t parameter = 0;
};

class ModRead : public AudioAbstract {
public:
  // Reads the whole module; a malformed one throws SoundError. fileSize (0 = unknown) bounds
  // the pattern data before it is allocated.
  ModRead(std::istream& in, std::int64_t fileSize);
  ~ModRead() override;

  int PullSamples(float* out, int count) override;
  int PushSamples(const float*, int) override { return 0; }
  void StoreSamplingRate(int rate) override;
  void MinMaxSamplingRate(int* min, int* max, int* preferred) override;
  void MinMaxChannels(int* min, int* max, int* preferred) override;
  // The length of the song as it will play (jumps, breaks, delays and tempo changes followed),
  // at the negotiated rate and channel count.
  std::int64_t FloatByteCount() override;

  // Effect codes, as the patterns hold them.
  enum Effect : int {
    kNone, kArpeggio, kSlideUp, kSlideDown, kTonePortamento, kVibrato, kPortamentoVolumeSlide,
    kVibratoVolumeSlide, kTremolo, kSampleOffset, kVolumeSlide, kPositionJump, kSetVolume, kPatternBreak,
    kSpeed, kFilter, kFineSlideUp, kFineSlideDown, kGlissando, kVibratoWaveform, kFinetune, kPatternLoop,
    kTremoloWaveform, kRetrigger, kFineVolumeUp, kFineVolumeDown, kNoteCut, kNoteDelay, kPatternDelay,
    kInvertLoop, kEffectCount
  };
  // No song renders longer than this; pattern delays on every row could otherwise ask for days.
  static constexpr int kMaxSeconds = 3600;

private:
  // Where the song is and how fast it goes; the renderer and the duration estimate each walk
  // their own copy.
  struct Flow {
    int position = 0, row = 0, nextPosition = 0, nextRow = 0, previousPosition = 0, previousRow = 0;
    int speed = 6;         // ticks per row
    int tempoCode = 3000;  // beats per minute x 24
    std::array<int, 8> delayCounter{-1, -1, -1, -1, -1, -1, -1, -1};
    bool ended = false;
  };
  struct Channel {
    int instrument = 0, period = 0;
    std::unique_ptr<ModNote> note;
    std::array<int, kEffectCount> lastParameter{};
    int volume = 0;
    const float* vibratoTable = nullptr;
    int vibratoPosition = 0;
    int portamentoTarget = 0;  // 0 = none
    const float* tremoloTable = nullptr;
    int tremoloPosition = 0;
  };
  struct Row {
    int frames, framesPerTick, speed;
  };

  void ReadInstrumentHeaders(std::istream& in);
  void ReadPatterns(std::istream& in, std::int64_t fileSize);
  void ReadSamples(std::istream& in);
  const ModPatternNote& NoteAt(int position, int row, int channel) const;
  // Moves to the next row and applies its flow effects; false once the song has ended.
  bool Advance(Flow& flow, bool report) const;
  static int FramesPerRow(int rate, const Flow& flow);
  bool RenderNextRow();
  // Plays one channel's note of the row into buffer; false ends the row's channel loop.
  bool PlayChannel(Channel& channel, const ModPatternNote& note, std::int16_t* buffer, const Row& row);
  void ApplyEffect(Channel& channel, int effect, int parameter, std::int16_t* buffer, const Row& row);

  std::string songName_;
  std::array<ModInstrument, 31> instruments_;
  int songLength_ = 0;
  std::array<std::uint8_t, 128> order_{};
  int patternCount_ = 0;
  int moduleChannels_ = 4;
  std::vector<ModPatternNote> patterns_;  // patterns x 64 rows x 8 slots

  Flow flow_;
  std::array<Channel, 8> tracks_;  // the module's channels
  std::vector<std::int16_t> left_, right_;
  std::int64_t rowSamples_ = 0, rowDelivered_ = 0;  // samples over all channels
  std::int64_t framesRendered_ = 0;
  bool started_ = false, finished_ = false;
  int estimateRate_ = 0;
  std::int64_t estimateFrames_ = 0;
};
