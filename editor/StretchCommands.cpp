// Change Pitch and Change Tempo: the selection goes through the time stretcher into new tracks,
// which replace it through the history as one undo group. And the range Shift Pitch honours.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "analysis/SampleTrack.h"
#include "editor/AudioFileEditor.h"
#include "editor/CommandCode.h"
#include "editor/EditHistory.h"
#include "editor/LongWork.h"
#include "graphics/TrackWaveform.h"
#include "pipeline/TimeStretch.h"

namespace {
constexpr int kMixChunk = 4096;

// 44100 -> "44,100".
std::string Grouped(int value) {
  std::string digits = std::to_string(value);
  for (int at = int(digits.size()) - 3; at > 0 && digits[std::size_t(at) - 1] != '-'; at -= 3)
    digits.insert(std::size_t(at), ",");
  return digits;
}

// The mix track of a stereo document, made from its new channels as the mixer makes it.
std::unique_ptr<CAP_SampleTrack> MixOf(CAP_SampleTrack& left, CAP_SampleTrack& right, int rate) {
  auto mix = std::make_unique<CAP_SampleTrack>(rate);
  std::vector<float> a(kMixChunk), b(kMixChunk), sum(kMixChunk);
  for (int at = 0; at < left.Length();) {
    const int n = std::min(kMixChunk, left.Length() - at);
    left.ReadSamples(a.data(), n, at);
    right.ReadSamples(b.data(), n, at);
    for (int i = 0; i < n; ++i) {
      sum[std::size_t(i)] = 0.0f;
      sum[std::size_t(i)] += 0.5f * a[std::size_t(i)];
      sum[std::size_t(i)] += 0.5f * b[std::size_t(i)];
    }
    mix->InsertSamples(sum.data(), n, at);
    at += n;
  }
  return mix;
}
}  // namespace

std::string EP_AudioFileEditor::PitchRangeText() const {
  int lowest = 0, highest = 0;
  if (mixer_) mixer_->PitchRange(&lowest, &highest);
  char text[96];
  std::snprintf(text, sizeof text, "%d to %s%d halftones at %s Hz", lowest, highest > 0 ? "+" : "", highest,
                Grouped(mixer_ ? mixer_->BaseRate() : 0).c_str());
  return text;
}

bool EP_AudioFileEditor::ChangePitch(double halftones) {
  if (!IsCommandEnabled(CommandStretch)) return false;
  if (!(halftones >= -kMaxPitchChange && halftones <= kMaxPitchChange)) {
    SetError("The pitch change must be between -36 and 36 halftones");
    return false;
  }
  return Stretch(1.0, PitchScaleForHalftones(halftones));
}

bool EP_AudioFileEditor::ChangeTempo(double percent) {
  if (!IsCommandEnabled(CommandStretch)) return false;
  if (!(percent >= kMinTempoChange && percent <= kMaxTempoChange)) {
    SetError("The tempo change must be between -90 and +900 %");
    return false;
  }
  return Stretch(TimeRatioForTempoPercent(percent), 1.0);
}

bool EP_AudioFileEditor::Stretch(double timeRatio, double pitchScale) {
  errorText_.clear();
  const int length = SelectionLength(false), start = SelectionStart(false);
  const int wholeLength = SelectionLength(true), wholeStart = SelectionStart(true);
  if (wholeLength <= 0) {
    SetError("There is no audio to change");
    return false;
  }
  const int channels = std::clamp(mixer_->channels, 1, mixer_->TrackCount());
  const int rate = mixer_->sampleRate;
  StretchRequest request;
  request.channels = channels;
  request.rate = rate;
  request.frames = wholeLength;
  request.timeRatio = timeRatio;
  request.pitchScale = pitchScale;
  const std::int64_t newLength = StretchedLength(wholeLength, timeRatio);
  if (newLength - wholeLength + DisplayTrack()->Length() >= INT_MAX) return EditFailed();

  std::vector<std::unique_ptr<CAP_SampleTrack>> made;
  std::string error;
  SetWaitCursor(true);
  bool done = false;
  const bool pitch = timeRatio == 1.0;
  try {
    // The stretcher reads the document and fills tracks of its own: nothing changes until the
    // history takes them in below, so a stop leaves the document as it was.
    done = RunLong(pitch ? "Changing the pitch" : "Changing the tempo", pitch ? "Change Pitch" : "Change Tempo",
                   [&](LongWork& work) {
                     work.RunOnWorker([&] {
                       for (int c = 0; c < channels; ++c) made.push_back(std::make_unique<CAP_SampleTrack>(rate));
                       const bool stretched = StretchAudio(
                           request,
                           [&](float* const* out, int frames, std::int64_t position) {
                             for (int c = 0; c < channels; ++c)
                               mixer_->Track(c)->ReadSamples(out[c], frames, wholeStart + int(position));
                           },
                           [&](const float* const* in, int frames) {
                             for (int c = 0; c < channels; ++c)
                               made[std::size_t(c)]->InsertSamples(in[c], frames, made[std::size_t(c)]->Length());
                           },
                           &error,
                           [&work](double fraction) {
                             work.ThrowIfStopped();
                             work.Report(fraction);
                           });
                       if (stretched && channels == 2 && mixer_->TrackCount() > 2 && !mixer_->Track(2)->Computed())
                         made.push_back(MixOf(*made[0], *made[1], rate));
                       if (!stretched) made.clear();
                     });
                     if (made.empty()) {
                       SetError(error);
                       return false;
                     }
                     return true;
                   });
  } catch (const std::bad_alloc&) {
    made.clear();
    SetWaitCursor(false);
    return EditFailed();
  }
  SetWaitCursor(false);
  if (!done) return false;
  std::vector<CAP_SampleTrack*> sources;
  for (auto& track : made) sources.push_back(track.get());
  // A computed mix track takes only the length from its source: its samples are the new channels'.
  if (int(sources.size()) == 2 && mixer_->TrackCount() > 2 && mixer_->Track(2)->Computed()) sources.push_back(sources[0]);
  if (!history_->ReplaceTracks(wholeLength, wholeStart, sources, GetViewState())) return EditFailed();
  // A selection stays selected at its new length; otherwise the cursor stays where it was.
  if (length > 0) ShowRange(int(newLength), start, FollowNone);
  else ShowRange(0, std::min(start, DisplayTrack()->Length()), FollowNone);
  return true;
}

bool EP_AudioFileEditor::ReplaceSpan(int start, int replaced, const std::vector<CAP_SampleTrack*>& made) {
  if (!history_ || !mixer_) return false;
  errorText_.clear();
  std::vector<CAP_SampleTrack*> sources;
  std::size_t next = 0;
  for (int i = 0; i < mixer_->TrackCount(); ++i) {
    // A computed mix takes only the length from its source, as the stretches give it.
    if (mixer_->Track(i)->Computed()) sources.push_back(sources.empty() ? nullptr : sources[0]);
    else if (next < made.size()) sources.push_back(made[next++]);
    else return false;
  }
  if (next != made.size() || !history_->ReplaceTracks(replaced, start, sources, GetViewState())) return EditFailed();
  waveform_->MarkAllChanged();
  UpdateScrollBar();
  UpdateStatus();
  return true;
}
