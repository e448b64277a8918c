// Loading while the document is shown: the views come first, over empty tracks, and the audio
// arrives in steps that the window paints in between.
#include <algorithm>
#include <limits>
#include <new>

#include "analysis/SampleTrack.h"
#include "analysis/ScratchFile.h"
#include "devices/AudioPlayer.h"
#include "editor/AudioFileEditor.h"
#include "editor/EditorWindow.h"
#include "graphics/AxisBar.h"
#include "graphics/FormatTime.h"
#include "graphics/MultiTrackDisplay.h"
#include "graphics/TrackWaveform.h"
#include "pipeline/AudioDecoder.h"
#include "pipeline/ProgressiveLoad.h"

namespace {
constexpr std::chrono::milliseconds kLoadViewPeriod{200};
// Seconds of audio past the play position before playback starts while the file loads: more
// than the player's two one-second buffers, which end playback when they find no more audio.
constexpr double kPlayAheadOfLoad = 3;
}  // namespace

bool EP_AudioFileEditor::AttachViewsWhileLoading(GraphicsHost* host, int width, int height, bool correctDC,
                                                 double playbackSpeed) {
  if (!decoder_) return AttachViews(host, width, height, correctDC, playbackSpeed);
  if (!PrepareToAttach(host, correctDC, playbackSpeed)) return false;
  BuildViews(width, height);
  loadFit_ = LoadFit();
  load_ = std::make_unique<ProgressiveLoad>(*mixer_, *decoder_, decoder_->TotalFrames());
  return true;
}

EP_AudioFileEditor::LoadState EP_AudioFileEditor::ContinueLoading(std::chrono::microseconds budget) {
  if (!load_) return LoadState::Done;
  // The first audio is shown as soon as it is there.
  if (waveform_->Width() == 0) budget = std::chrono::microseconds(0);
  bool more = false;
  // Not the error text: a selection typed meanwhile may have set it.
  std::string failure;
  try {
    more = load_->Step(budget);
  } catch (const ScratchFull&) {
    failure = NoScratchToLoad();
  } catch (const std::bad_alloc&) {
    failure = kNoMemoryToLoad;
  }
  if (!failure.empty()) {
    SetError(failure);
    AbandonLoad();
    return LoadState::Failed;
  }
  if (playWhenLoaded_ && (!more || PlayableWhileLoading())) Play();
  if (more) {
    // The view follows five times a second (painting after every step would cost the load a
    // sixth of its time), and at once while it shows no audio yet.
    const auto now = std::chrono::steady_clock::now();
    if (waveform_->Width() == 0 || now - loadFit_.shownAt >= kLoadViewPeriod) {
      loadFit_.shownAt = now;
      ShowLoadedPart();
    }
    return LoadState::Loading;
  }
  load_.reset();
  // A file that breaks off in its audio is reported, not shown as if it were whole.
  if (!decoder_->errorText.empty()) {
    SetError(decoder_->errorText);
    AbandonLoad();
    return LoadState::Failed;
  }
  // The last step may have changed every sample (a DC offset removed): all is drawn again, and
  // the selection made meanwhile is searched now that the whole file is there.
  ShowLoadedPart();
  for (int i = 0; i < kMaxDisplayRows; ++i)
    if (CGP_TrackWaveform* row = display_->Waveform(i)) {
      row->MarkAllChanged();
      row->ApplyChanges(0, 0);
    }
  SetPrototypeFromSelection();
  window_->InvalidateAll();
  UpdateStatus();
  return LoadState::Done;
}

void EP_AudioFileEditor::ShowLoadedPart() {
  // Fitted to the window until the user zooms (the width is no longer the one fitted last while
  // the window kept its width); after that the zoom stays and the audio grows to the right.
  const int window = waveform_->Parent() ? waveform_->Parent()->Width() : waveform_->Width();
  if (loadFit_.on && loadFit_.width > 0 && waveform_->Width() != loadFit_.width && window == loadFit_.window)
    loadFit_.on = false;
  if (loadFit_.on) {
    // Refitted at once: the growth the waveform was told of is not first drawn at the old
    // scale (on a computed mix every column edge reads samples, a fifth of the load's time).
    waveform_->shift = 0;
    waveform_->changedLength = 0;
    waveform_->SetSize(window, waveform_->Height());
    waveform_->SetAttached(true);
    loadFit_.width = waveform_->Width();
    loadFit_.window = window;
  } else {
    waveform_->ApplyChanges(0, 0);
  }
  CGP_AxisBar* axis = display_->TimeAxis();
  axis->SetSize(waveform_->Width(), axis->Height());
  axis->SetPosition(waveform_->X(), axis->Y());
  axis->SetRange(0, Duration(), 0);
  axis->InvalidateAll();
  window_->InvalidateAll();
  UpdateScrollBar();
  UpdateStatus();
}

bool EP_AudioFileEditor::PlayableWhileLoading() const {
  const double from = std::max(waveform_->CursorTime(), waveform_->SelStart());
  return Duration() >= std::min(ExpectedDuration(), from + kPlayAheadOfLoad);
}

void EP_AudioFileEditor::AbandonLoad() {
  playWhenLoaded_ = false;
  if (player_) player_->Stop();
  if (load_) load_->Stop();
  load_.reset();
}

void EP_AudioFileEditor::StopLoading() {
  if (!load_) return;
  AbandonLoad();
  SetError(kLoadStopped);
}

int EP_AudioFileEditor::LoadPercent() const { return load_ ? load_->Percent() : 100; }

double EP_AudioFileEditor::ExpectedDuration() const {
  if (load_ && mixer_) {
    // A file that announces no length goes as far as it turns out to: playback started now runs
    // on into what arrives (and stops at the loaded end if it ever catches up).
    if (load_->TotalFrames() <= 0) return std::numeric_limits<double>::infinity();
    return double(load_->TotalFrames()) / mixer_->sampleRate;
  }
  return Duration();
}
