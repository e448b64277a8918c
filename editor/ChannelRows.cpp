// The channel rows: a stereo document's left and right tracks under the mix row. They are
// views only; the mix row's waveform stays the editor's, and the rows follow it.
#include <algorithm>

#include "editor/AudioFileEditor.h"
#include "editor/EditorWindow.h"
#include "graphics/MultiTrackDisplay.h"
#include "graphics/TrackWaveform.h"

void EP_AudioFileEditor::ShowChannels(bool on) {
  if (!display_ || !mixer_ || !window_) return;
  // Rows 0 and 1 are the channels when the mix is a track of its own.
  const bool stereo = mixer_->channels == 2 && mixer_->TrackCount() > 2 && displayTrack_ == 2;
  channelsShown_ = on;
  for (int channel = 0; channel < 2; ++channel) display_->ShowTrackRow(channel, on && stereo);
  display_->SetRowHeight(window_->Height(), true);
  SyncChannelRows();
  window_->InvalidateAll();
}

void EP_AudioFileEditor::SyncChannelRows(CGP_TrackWaveform* from) {
  if (!display_ || !waveform_ || !channelsShown_) return;
  if (from && from != waveform_) {
    waveform_->SetCursorTime(from->CursorTime(), FollowNone);
    waveform_->SetSelection(std::min(from->SelStart(), from->SelEnd()), std::max(from->SelStart(), from->SelEnd()));
    waveform_->InvalidateAll();
  }
  for (int channel = 0; channel < 2; ++channel) {
    CGP_TrackWaveform* row = display_->Waveform(channel);
    if (!row || row == from) continue;
    row->ApplyChanges(0, 0);
    row->SetRunTrack(waveform_->Track());
    if (row->SegmentThreshold() != waveform_->SegmentThreshold()) {
      row->SetSegmentThreshold(waveform_->SegmentThreshold());
      row->InvalidateAll();
    }
    if (row->Width() != waveform_->Width()) row->SetSize(waveform_->Width(), row->Height());
    if (row->X() != waveform_->X()) row->SetPosition(waveform_->X(), row->Y());
    if (row->CursorTime() != waveform_->CursorTime() || row->SelStart() != waveform_->SelStart() ||
        row->SelEnd() != waveform_->SelEnd()) {
      row->SetCursorTime(waveform_->CursorTime(), FollowNone);
      row->SetSelection(waveform_->SelStart(), waveform_->SelEnd());
      row->InvalidateAll();
    }
  }
}
