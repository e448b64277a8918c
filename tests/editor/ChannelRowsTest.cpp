// The channel rows of a stereo document: a silent left channel draws a flat row, a clipped
// sample is marked on any row, and the rows follow the mix row's selection, cursor and zoom.
#include <gtest/gtest.h>

#include "graphics/MultiTrackDisplay.h"
#include "graphics/TrackDisplay.h"
#include "tests/editor/EditorTestSupport.h"

namespace {
using namespace editor_test;

TEST(ChannelRows, SilentLeftIsFlatClippingIsMarkedAndTheRowsFollowTheMix) {
  Rig rig;
  const int frames = 22050, clippedAt = 15000;
  // Left silent; right a tone with one sample at full scale.
  rig.New(2, 22050, frames, [&](int i, int c) {
    if (c == 0) return 0.0f;
    return i == clippedAt ? 1.0f : 0.5f * float(std::sin(i * 0.07));
  }, 400);
  AudioEditorApp& editor = *rig.Editor();
  CGP_MultiTrackDisplay* display = editor.Display();
  EXPECT_FALSE(editor.ChannelsShown());
  EXPECT_EQ(display->Waveform(0), nullptr);
  editor.ShowChannels(true);
  CGP_TrackWaveform* left = display->Waveform(0);
  CGP_TrackWaveform* right = display->Waveform(1);
  ASSERT_TRUE(left && right);
  // The mix on top, the channels under it, each a third of the height.
  EXPECT_LT(display->Row(2)->Y(), display->Row(0)->Y());
  EXPECT_LT(display->Row(0)->Y(), display->Row(1)->Y());

  const int columns = left->VisibleWidth();
  const int clippedColumn = right->ColumnOfTime(double(clippedAt) / 22050);
  int clippedRight = 0, clippedMix = 0;
  for (int c = 0; c < columns; ++c) {
    const ColumnSpan& flat = left->CachedColumn(c);
    EXPECT_LE(flat.bottom - flat.top, 1) << c;  // the zero line only
    EXPECT_FALSE(flat.clipped) << c;
    if (right->CachedColumn(c).clipped) {
      ++clippedRight;
      EXPECT_EQ(c, clippedColumn);
    }
    clippedMix += editor.Waveform()->CachedColumn(c).clipped;  // the mix holds 0.5 there
  }
  EXPECT_EQ(clippedRight, 1);
  EXPECT_EQ(clippedMix, 0);

  // The rows take the mix row's selection, cursor and zoom.
  editor.Select(0.25, 0.5);
  editor.ZoomIn();
  for (CGP_TrackWaveform* row : {left, right}) {
    EXPECT_EQ(row->SelStart(), editor.Waveform()->SelStart());
    EXPECT_EQ(row->SelEnd(), editor.Waveform()->SelEnd());
    EXPECT_EQ(row->CursorTime(), editor.Waveform()->CursorTime());
    EXPECT_EQ(row->Width(), editor.Waveform()->Width());
    EXPECT_EQ(row->X(), editor.Waveform()->X());
  }
  // An edit shows in the rows: muting the selection flattens the right row there.
  ASSERT_TRUE(rig.document->Mute());
  const int inside = right->ColumnOfTime(0.4);
  ASSERT_TRUE(inside >= -right->X() && inside < -right->X() + right->VisibleWidth());
  EXPECT_LE(right->CachedColumn(inside).bottom - right->CachedColumn(inside).top, 1);
  editor.ShowChannels(false);
  EXPECT_EQ(display->Waveform(0), nullptr);
}

}  // namespace
