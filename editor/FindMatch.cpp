// Find Next and Find Previous over the display track's match runs, and the web search of the
// selected region.
#include <cstdio>

#include "analysis/SampleTrack.h"
#include "devices/AudioPlayer.h"
#include "editor/AudioFileEditor.h"
#include "editor/CommandCode.h"
#include "editor/EditorWindow.h"
#include "graphics/TrackWaveform.h"

std::string EP_AudioFileEditor::FindMatch(int position, bool forward) {
  if (!IsCommandEnabled(forward ? CommandFindNext : CommandFindPrevious)) return "";
  RunPendingSearch();
  const bool playing = player_->State() == kDevicePlaying;
  float score = 0;
  CAP_SampleTrack* track = DisplayTrack();
  const bool found = forward ? track->FindNextMatch(matchThreshold_, &position, &score)
                             : track->FindPreviousMatch(matchThreshold_, &position, &score);
  std::string message = "Match not found";
  if (found) {
    if (playing) Pause();
    const bool caret = waveform_->CaretEnabled();
    waveform_->SetCaret(false);
    const double t = position / double(mixer_->sampleRate);
    waveform_->SetCursorTime(t, FollowMargin);
    waveform_->SetSelection(t, t);
    waveform_->SetCaret(caret);
    if (playing) Play();
    char text[64];
    std::snprintf(text, sizeof text, "Found match (%.2f)", score);
    message = text;
  }
  UpdateScrollBar();
  UpdateStatus();
  SetStatusText(0, message);
  return message;
}

std::string EP_AudioFileEditor::FindNext() {
  return FindMatch(SelectionStart(false) + SelectionLength(false) + 1, true);
}

std::string EP_AudioFileEditor::FindPrevious() { return FindMatch(SelectionStart(false), false); }

SoundSignature EP_AudioFileEditor::RegionSignature() const {
  // Defined (all zero) even where the track's rate has no analyzer.
  SoundSignature signature{};
  if (CAP_SampleTrack* track = DisplayTrack())
    track->ComputeRegionSignature(SelectionLength(true), SelectionStart(true), &signature, nullptr, nullptr, 0);
  return signature;
}

std::string EP_AudioFileEditor::SearchUrl(const WebSearchChoices& choices, const std::string& baseUrl) const {
  return BuildSearchUrl(choices, baseUrl, RegionSignature());
}

bool EP_AudioFileEditor::CheckWebRegion() {
  if (!waveform_) return false;
  if (waveform_->SelEnd() - waveform_->SelStart() > kMaxWebRegionSeconds) {
    ShowWarning(std::string("Please select a region that is 10 seconds\n") +
                "in duration or less by dragging the mouse\n" + "over the waveform display.");
    return false;
  }
  return true;
}

bool EP_AudioFileEditor::WebSearch(const WebSearchChoices& choices, const std::string& baseUrl) {
  const std::string url = SearchUrl(choices, baseUrl);
  const bool started = launcher_ ? launcher_(url) : LaunchBrowser(url);
  if (!started) ShowWarning(kBrowserFailureText);
  return started;
}
