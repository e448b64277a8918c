// The track waveform: its columns against brute force, the ring cache, zoom, the mouse, the
// follow modes, the match brackets and the pixels it paints.
#include <gtest/gtest.h>

#include "graphics/HostEvents.h"
#include "tests/graphics/WaveformFixture.h"

namespace {

constexpr int kRate = 8000;

TEST(WaveformColumns, RowsOfPlusOneZeroAndMinusOne) {
  EXPECT_EQ(CGP_TrackWaveform::RowOfValue(1.0, 100), 1);
  EXPECT_EQ(CGP_TrackWaveform::RowOfValue(0.0, 100), 1 + 48);
  EXPECT_EQ(CGP_TrackWaveform::RowOfValue(-1.0, 100), 96);
  EXPECT_EQ(CGP_TrackWaveform::RowOfValue(0.0, 101), 1 + 48);
  // Stored values beyond full scale stay on the strip instead of wrapping around.
  EXPECT_EQ(CGP_TrackWaveform::RowOfValue(1.5, 100), 1);
  EXPECT_EQ(CGP_TrackWaveform::RowOfValue(-7.0, 100), 96);
  EXPECT_EQ(CGP_TrackWaveform::RowOfValue(std::nan(""), 100), 1);
  EXPECT_EQ(CGP_TrackWaveform::RowOfValue(0.5, 3), 1);  // a strip too low for the rule
}

TEST(WaveformColumns, AnEmptySliceBridgesItsNeighbours) {
  float lo, hi;
  CGP_TrackWaveform::StretchColumn(-0.2f, 0.3f, 1.0f, -1.0f, -0.1f, 0.4f, lo, hi);
  EXPECT_FLOAT_EQ(lo, 0.65f);
  EXPECT_FLOAT_EQ(hi, -0.55f);
  // A steep edge: the column reaches half-way down to its low neighbour.
  CGP_TrackWaveform::StretchColumn(-0.9f, -0.8f, 0.5f, 0.6f, 0.4f, 0.7f, lo, hi);
  EXPECT_FLOAT_EQ(lo, (0.5f - 0.8f) / 2);
  EXPECT_FLOAT_EQ(hi, 0.6f);
}

TEST(WaveformColumns, EveryVisibleColumnMatchesBruteForceAtStartMiddleAndEnd) {
  WaveformRig rig(kRate, 10, 400, 4000);
  EXPECT_EQ(rig.VisibleMismatches(), 0);
  rig.wave->SetPosition(-1777, 0);
  EXPECT_EQ(rig.wave->X(), -1777);
  EXPECT_EQ(rig.VisibleMismatches(), 0);
  rig.wave->SetPosition(-999999, 0);  // clamped at the end
  EXPECT_EQ(rig.wave->X(), 400 - 4000);
  EXPECT_EQ(rig.VisibleMismatches(), 0);
  // The whole track in the view: one column per 25 ms.
  rig.wave->SetSize(400, 100);
  EXPECT_EQ(rig.wave->X(), 0);
  EXPECT_EQ(rig.VisibleMismatches(), 0);
}

TEST(WaveformCache, ScrollingComputesOnlyTheUncoveredColumns) {
  WaveformRig rig(kRate, 10, 400, 4000);
  EXPECT_EQ(rig.wave->ComputedColumns(), 400 + 400);  // creation, then the zoom
  long long before = rig.wave->ComputedColumns();
  rig.wave->SetPosition(-3, 0);
  EXPECT_EQ(rig.wave->ComputedColumns() - before, 3);
  before = rig.wave->ComputedColumns();
  rig.wave->SetPosition(-13, 0);
  EXPECT_EQ(rig.wave->ComputedColumns() - before, 10);
  before = rig.wave->ComputedColumns();
  rig.wave->SetPosition(-1000, 0);  // a jump wider than the view recomputes one view
  EXPECT_EQ(rig.wave->ComputedColumns() - before, 400);
  // Towards the start the column at the old edge is refreshed as well.
  before = rig.wave->ComputedColumns();
  rig.wave->SetPosition(-990, 0);
  EXPECT_LE(rig.wave->ComputedColumns() - before, 11);
  EXPECT_GE(rig.wave->ComputedColumns() - before, 10);
  before = rig.wave->ComputedColumns();
  rig.wave->SetPosition(-990, 0);  // no move, no work
  EXPECT_EQ(rig.wave->ComputedColumns() - before, 0);
  EXPECT_EQ(rig.VisibleMismatches(), 0);
  // Many small scrolls both ways leave a correct ring.
  for (int i = 0; i < 50; ++i) rig.wave->SetPosition(rig.wave->X() - 7 * (i % 3) + 5 * (i % 2), 0);
  EXPECT_EQ(rig.VisibleMismatches(), 0);
}

TEST(WaveformCache, ColourSwitchRecomputesEveryVisibleColumn) {
  WaveformRig rig(kRate, 10, 400, 4000);
  rig.wave->SetPosition(-500, 0);
  const long long before = rig.wave->ComputedColumns();
  rig.wave->SetColourDisplay(false);
  EXPECT_EQ(rig.wave->ComputedColumns() - before, 400);
  for (int c = 500; c < 900; ++c) ASSERT_EQ(rig.wave->CachedColumn(c).colour, kColourOffGrey);
  rig.wave->SetColourDisplay(true);
  EXPECT_EQ(rig.VisibleMismatches(), 0);
}

TEST(WaveformCache, EditsRecomputeTheChangedColumnsAndGrowthKeepsTheZoom) {
  WaveformRig rig(kRate, 10, 400, 800);
  // Overwrite 0.5 s at 1 s with full scale.
  std::vector<float> loud(4000, 1.0f);
  rig.track.WriteSamples(loud.data(), 4000, 8000);
  std::copy(loud.begin(), loud.end(), rig.samples.begin() + 8000);
  rig.wave->ApplyChanges(0, 0);
  EXPECT_EQ(rig.VisibleMismatches(), 0);
  EXPECT_EQ(rig.wave->CachedColumn(90).top, 1);
  // Appending a second keeps 80 columns per second.
  std::vector<float> more(8000, 0.25f);
  rig.track.InsertSamples(more.data(), 8000, rig.track.Length());
  rig.samples.insert(rig.samples.end(), more.begin(), more.end());
  rig.wave->ApplyChanges(0, 0);
  EXPECT_EQ(rig.wave->Width(), 880);
  EXPECT_EQ(rig.VisibleMismatches(), 0);
}

TEST(WaveformZoom, KeepsASmallSelectionCentredAndAWideOneNearTheLeft) {
  WaveformRig rig(kRate, 10, 400, 400);
  rig.wave->SetSelection(4.0, 4.5);
  rig.wave->SetKeepInView(true);
  rig.wave->SetSize(800, 100);
  EXPECT_EQ(rig.wave->X(), -140);  // middle of columns 320..360 at the middle of the view
  EXPECT_FALSE(rig.wave->Attached());

  WaveformRig wide(kRate, 10, 400, 400);
  wide.wave->SetSelection(1.0, 8.0);
  wide.wave->SetKeepInView(true);
  wide.wave->SetSize(800, 100);
  EXPECT_EQ(wide.wave->X(), -40);  // start a tenth of the view from the left
}

TEST(WaveformZoom, KeepsTheCursorOrTheOldMiddle) {
  WaveformRig rig(kRate, 10, 400, 400);
  rig.wave->SetCursorTime(9.0, FollowNone);
  rig.wave->SetKeepInView(true);
  rig.wave->SetSize(800, 100);
  EXPECT_EQ(rig.wave->X(), -400);  // as far as the end allows
  EXPECT_EQ(rig.wave->CursorColumn(), 720);

  WaveformRig far(kRate, 10, 400, 1600);
  far.wave->SetPosition(-800, 0);  // cursor at 0 is out of view
  far.wave->SetKeepInView(true);
  far.wave->SetSize(3200, 100);
  EXPECT_EQ(far.wave->X(), -1800);
  // Capped at one column per sample.
  far.wave->SetSize(10000000, 100);
  EXPECT_EQ(far.wave->Width(), 80000);
}

TEST(WaveformMouse, ClickDragAndRelease) {
  WaveformRig rig(kRate, 10, 400, 400);
  rig.root.OnButtonDown(100, 50, 0, false, false);
  EXPECT_EQ(rig.root.Captured(), rig.wave);
  EXPECT_DOUBLE_EQ(rig.wave->CursorTime(), 2.5);
  EXPECT_EQ(rig.clip->Count(NotifySelectionChanging), 1);
  rig.root.OnMouseMove(200, 50, 0);
  EXPECT_DOUBLE_EQ(rig.wave->SelStart(), 2.5);
  EXPECT_DOUBLE_EQ(rig.wave->SelEnd(), 5.0);
  rig.root.OnButtonUp(200, 50, 0, false, false);
  EXPECT_EQ(rig.root.Captured(), nullptr);
  EXPECT_DOUBLE_EQ(rig.wave->CursorTime(), 2.5);
  EXPECT_DOUBLE_EQ(rig.wave->SelEnd(), 5.0);
  EXPECT_EQ(rig.clip->Count(NotifySelectionDone), 1);
  EXPECT_FALSE(rig.wave->DraggingSelection());

  // Backwards drags order the selection.
  rig.root.OnButtonDown(300, 50, 0, false, false);
  rig.root.OnMouseMove(250, 50, 0);
  rig.root.OnButtonUp(250, 50, 0, false, false);
  EXPECT_DOUBLE_EQ(rig.wave->SelStart(), 6.25);
  EXPECT_DOUBLE_EQ(rig.wave->SelEnd(), 7.5);
  EXPECT_DOUBLE_EQ(rig.wave->CursorTime(), 6.25);
}

TEST(WaveformMouse, ADragOfFewerThanFiveColumnsLeavesAnEmptySelection) {
  WaveformRig rig(kRate, 10, 400, 400);
  rig.root.OnButtonDown(100, 50, 0, false, false);
  rig.root.OnMouseMove(104, 50, 0);
  rig.root.OnButtonUp(104, 50, 0, false, false);
  EXPECT_DOUBLE_EQ(rig.wave->SelStart(), 2.5);
  EXPECT_DOUBLE_EQ(rig.wave->SelEnd(), 2.5);
  rig.root.OnButtonDown(100, 50, 0, false, false);
  rig.root.OnMouseMove(105, 50, 0);
  rig.root.OnButtonUp(105, 50, 0, false, false);
  EXPECT_DOUBLE_EQ(rig.wave->SelEnd(), 105 * 0.025);
}

TEST(WaveformMouse, ShiftExtendsAndEdgesCanBeGrabbed) {
  WaveformRig rig(kRate, 10, 400, 400);
  rig.wave->SetSelection(2.5, 5.0);  // columns 100..200, middle 150
  rig.wave->SetCursorTime(2.5, FollowNone);
  rig.root.OnButtonDown(250, 50, 0, false, true);
  EXPECT_DOUBLE_EQ(rig.wave->SelStart(), 2.5);
  EXPECT_DOUBLE_EQ(rig.wave->SelEnd(), 6.25);
  EXPECT_DOUBLE_EQ(rig.wave->CursorTime(), 2.5);  // shift does not move the cursor
  rig.root.OnButtonUp(250, 50, 0, false, true);
  rig.root.OnButtonDown(120, 50, 0, false, true);  // left of the middle: the end stays
  EXPECT_DOUBLE_EQ(rig.wave->SelStart(), 3.0);
  EXPECT_DOUBLE_EQ(rig.wave->SelEnd(), 6.25);
  rig.root.OnButtonUp(120, 50, 0, false, true);

  // Grab the end within 4 columns and drag: only the end moves.
  rig.wave->SetSelection(2.5, 5.0);
  rig.root.OnButtonDown(196, 50, 0, false, false);
  rig.root.OnMouseMove(300, 50, 0);
  EXPECT_DOUBLE_EQ(rig.wave->SelStart(), 2.5);
  EXPECT_DOUBLE_EQ(rig.wave->SelEnd(), 7.5);
  rig.root.OnButtonUp(300, 50, 0, false, false);
  // Grab the start.
  rig.root.OnButtonDown(103, 50, 0, false, false);
  rig.root.OnMouseMove(50, 50, 0);
  EXPECT_DOUBLE_EQ(rig.wave->SelStart(), 1.25);
  EXPECT_DOUBLE_EQ(rig.wave->SelEnd(), 7.5);
  rig.root.OnButtonUp(50, 50, 0, false, false);
}

TEST(WaveformMouse, CtrlDragMovesOnlyTheCursor) {
  WaveformRig rig(kRate, 10, 400, 400);
  rig.wave->SetSelection(2.5, 5.0);
  rig.root.OnButtonDown(50, 50, 0, true, false);
  EXPECT_TRUE(rig.wave->DraggingCursor());
  rig.root.OnMouseMove(60, 50, 0);
  EXPECT_DOUBLE_EQ(rig.wave->CursorTime(), 1.5);
  rig.root.OnButtonUp(60, 50, 0, true, false);
  EXPECT_EQ(rig.root.Captured(), nullptr);
  EXPECT_DOUBLE_EQ(rig.wave->SelStart(), 2.5);
  EXPECT_DOUBLE_EQ(rig.wave->SelEnd(), 5.0);
  EXPECT_EQ(rig.clip->Count(NotifySelectionChanging), 0);
}

TEST(WaveformMouse, ThePointerShowsResizeNearAnEdge) {
  WaveformRig rig(kRate, 10, 400, 400);
  rig.wave->SetSelection(2.5, 5.0);
  rig.root.OnMouseMove(103, 50, 0);
  EXPECT_EQ(rig.root.CursorCodeValue(), CursorResizeHorizontal);
  rig.root.OnMouseMove(104, 50, 0);
  EXPECT_EQ(rig.root.CursorCodeValue(), CursorArrow);
  rig.root.OnMouseMove(198, 50, 0);
  EXPECT_EQ(rig.root.CursorCodeValue(), CursorResizeHorizontal);
  rig.root.OnMouseMove(100, 120, 0);  // off the waveform
  EXPECT_EQ(rig.root.CursorCodeValue(), CursorArrow);
}

TEST(WaveformMouse, DraggingPastAnEdgeScrollsEveryTick) {
  WaveformRig rig(kRate, 10, 400, 4000);
  rig.root.OnButtonDown(200, 50, 0, false, false);
  HostMouseMove(&rig.root, 450, 50, 400, 150);  // right of the host
  EXPECT_EQ(rig.wave->AutoScroll(), -500);
  rig.wave->OnTimerTick();
  EXPECT_EQ(rig.wave->X(), -11);
  EXPECT_DOUBLE_EQ(rig.wave->SelEnd(), rig.wave->TimeOfColumn(410));
  rig.wave->OnTimerTick();
  EXPECT_EQ(rig.wave->X(), -22);
  EXPECT_DOUBLE_EQ(rig.wave->SelStart(), rig.wave->TimeOfColumn(200));
  EXPECT_GE(rig.clip->Count(NotifyScrolled), 2);
  // Further moves on the same side leave the scrolling to the timer.
  HostMouseMove(&rig.root, 460, 50, 400, 150);
  EXPECT_EQ(rig.wave->X(), -22);
  HostMouseMove(&rig.root, 300, 50, 400, 150);  // back inside
  EXPECT_EQ(rig.wave->AutoScroll(), 0);
  rig.root.OnButtonUp(300, 50, 0, false, false);

  rig.wave->SetPosition(-1000, 0);
  rig.root.OnButtonDown(200, 50, 0, false, false);
  HostMouseMove(&rig.root, -50, 50, 400, 150);
  EXPECT_EQ(rig.wave->AutoScroll(), 500);
  rig.wave->OnTimerTick();
  EXPECT_EQ(rig.wave->X(), -990);
  EXPECT_DOUBLE_EQ(rig.wave->SelStart(), rig.wave->TimeOfColumn(990));
  rig.root.OnButtonUp(0, 50, 0, false, false);
  EXPECT_EQ(rig.wave->AutoScroll(), 0);
  EXPECT_EQ(rig.VisibleMismatches(), 0);
}

TEST(WaveformFollow, EdgeAndMarginModes) {
  WaveformRig rig(kRate, 10, 400, 4000);
  rig.wave->SetCursorTime(rig.wave->TimeOfColumn(399), FollowEdge);
  EXPECT_EQ(rig.wave->X(), 0);
  rig.wave->SetCursorTime(rig.wave->TimeOfColumn(450), FollowEdge);
  EXPECT_EQ(rig.wave->X(), -51);  // the column just comes into view
  rig.wave->SetCursorTime(rig.wave->TimeOfColumn(1000), FollowNone);
  EXPECT_EQ(rig.wave->X(), -51);
  rig.wave->SetCursorTime(rig.wave->TimeOfColumn(1000), FollowMargin);
  EXPECT_EQ(rig.wave->X(), -51);  // same column: nothing to do
  rig.wave->SetCursorTime(rig.wave->TimeOfColumn(1001), FollowMargin);
  EXPECT_EQ(rig.wave->X(), -(1001 - 400 + 40 + 1));
  rig.wave->SetCursorTime(rig.wave->TimeOfColumn(500), FollowMargin);
  EXPECT_EQ(rig.wave->X(), -(500 - 40));
  rig.wave->SetCursorTime(-5, FollowMargin);
  EXPECT_EQ(rig.wave->X(), 0);
  EXPECT_DOUBLE_EQ(rig.wave->CursorTime(), 0);
  rig.wave->SetCursorTime(99, FollowMargin);  // beyond the end: the last column
  EXPECT_EQ(rig.wave->CursorColumn(), 3999);
  EXPECT_EQ(rig.wave->X(), 400 - 4000);
}

TEST(WaveformFollow, PlaybackMarginGrowsUntilTheCursorRidesInTheMiddle) {
  WaveformRig rig(kRate, 100, 1000, 100000);
  EXPECT_EQ(rig.wave->PlaybackMargin(), 100);
  int scrolls = 0;
  for (int c = 1; c < 3000; ++c) {
    const int before = rig.wave->X();
    rig.wave->SetCursorTime(rig.wave->TimeOfColumn(c), FollowPlayback);
    if (rig.wave->X() != before) {
      ++scrolls;
      if (scrolls == 1) {
        EXPECT_EQ(c + rig.wave->X(), 1000 - 100 - 1);
      }
    }
  }
  EXPECT_GE(scrolls, 400);
  EXPECT_EQ(rig.wave->PlaybackMargin(), 500);
  EXPECT_EQ(rig.wave->CursorColumn() + rig.wave->X(), 1000 - 500 - 1);
  // Any other mode puts the margin back.
  rig.wave->SetCursorTime(0, FollowMargin);
  EXPECT_EQ(rig.wave->PlaybackMargin(), 100);
}

TEST(WaveformCaret, BlinksWithTheHostClockAndStaysDuringDrags) {
  WaveformRig rig(kRate, 10, 400, 400);
  rig.host.now = 5000;
  rig.wave->SetCaret(true);
  rig.wave->OnTimerTick();
  EXPECT_TRUE(rig.wave->CaretVisible());
  rig.host.now = 5500;
  rig.wave->OnTimerTick();
  EXPECT_FALSE(rig.wave->CaretVisible());
  rig.host.now = 6000;
  rig.wave->OnTimerTick();
  EXPECT_TRUE(rig.wave->CaretVisible());
  rig.root.OnButtonDown(10, 10, 0, false, false);
  rig.host.now = 7000;
  rig.wave->OnTimerTick();
  EXPECT_TRUE(rig.wave->CaretVisible());
  rig.root.OnButtonUp(10, 10, 0, false, false);
  rig.wave->SetCaret(false);
  rig.host.now = 9000;
  rig.wave->OnTimerTick();
  EXPECT_TRUE(rig.wave->CaretVisible());
}

struct Painted : ::testing::Test {
  // 10 s over 400 columns, silent from 4 s to 5 s, grey columns.
  WaveformRig rig{kRate, 10, 400, 400, 100, 4.0};
  RasterSurface surface{400, 150, kWhite};
  void SetUp() override { rig.wave->SetColourDisplay(false); }
  void Paint() {
    surface.Clear(kWhite);
    HostPaint(&rig.root, surface, 0, 0, 400, 150);
  }
};

TEST_F(Painted, SelectionBandZeroLineColumnsAndCursor) {
  rig.wave->SetSelection(4.25, 4.5);  // columns 170..180, inside the silence
  rig.wave->SetCursorTime(4.25, FollowNone);
  rig.wave->SetCaret(true);
  Paint();
  EXPECT_EQ(surface.Pixel(175, 10), kBlack);   // band
  EXPECT_EQ(surface.Pixel(181, 10), kWhite);   // past the band
  EXPECT_EQ(surface.Pixel(180, 10), kBlack);   // the band includes its end column
  EXPECT_EQ(surface.Pixel(165, 50), kBlack);   // zero line at h / 2
  EXPECT_EQ(surface.Pixel(165, 49), kGrey);    // silent column on the zero row 1 + 48
  EXPECT_EQ(surface.Pixel(165, 10), kWhite);
  EXPECT_EQ(surface.Pixel(170, 10), kWhite);   // cursor inside the selection is white
  EXPECT_EQ(surface.Pixel(170, 99), kWhite);
  // A loud column spans most of the strip.
  int grey = 0;
  for (int y = 0; y < 100; ++y) grey += surface.Pixel(300, y) == kGrey;
  EXPECT_GT(grey, 20);

  // A paint of part of the view draws the zero line up to its last column.
  surface.Clear(kWhite);
  HostPaint(&rig.root, surface, 0, 0, 168, 150);
  EXPECT_EQ(surface.Pixel(167, 50), kBlack);
  EXPECT_EQ(surface.Pixel(168, 50), kWhite);

  rig.wave->SetCursorTime(4.1, FollowNone);  // column 164, outside the selection
  Paint();
  EXPECT_EQ(surface.Pixel(164, 10), kBlack);
  EXPECT_EQ(surface.Pixel(164, 99), kBlack);
  EXPECT_EQ(surface.Pixel(164, 100), kWhite);  // the cursor line stops at the strip
}

TEST_F(Painted, AHiddenCaretDrawsNoCursor) {
  rig.wave->SetCursorTime(4.1, FollowNone);
  rig.host.now += 10000;
  rig.wave->OnTimerTick();
  ASSERT_FALSE(rig.wave->CaretVisible());
  Paint();
  EXPECT_EQ(surface.Pixel(164, 10), kWhite);
}

TEST_F(Painted, SegmentBracketsMarkRunsAboveTheThreshold) {
  // 0.05 s blocks, two columns each. A run over blocks 10..14, the prototype over 20..22.
  for (int i = 10; i <= 14; ++i) {
    rig.BlockAt(i)->runHead = rig.BlockAt(10);
    rig.BlockAt(i)->score = 80;
  }
  for (int i = 20; i <= 22; ++i) {
    rig.BlockAt(i)->runHead = rig.BlockAt(20);
    rig.BlockAt(i)->score = 100;
    rig.BlockAt(i)->inPrototype = true;
  }
  ASSERT_EQ(rig.BlockAt(10)->count, 400);

  rig.wave->SetCaret(false);
  rig.wave->SetCursorTime(9.9, FollowNone);
  rig.wave->SetSegmentThreshold(101);
  Paint();
  EXPECT_EQ(surface.Pixel(20, 0), kWhite);

  rig.wave->SetSegmentThreshold(0);
  Paint();
  // Run: columns 20 (head) to 29 (tail), azure.
  EXPECT_EQ(surface.Pixel(20, 0), kAzure);
  EXPECT_EQ(surface.Pixel(20, 7), kAzure);
  EXPECT_EQ(surface.Pixel(20, 99), kAzure);
  EXPECT_EQ(surface.Pixel(20, 92), kAzure);
  EXPECT_EQ(surface.Pixel(25, 1), kAzure);
  EXPECT_EQ(surface.Pixel(25, 98), kAzure);
  EXPECT_EQ(surface.Pixel(29, 5), kAzure);
  EXPECT_EQ(surface.Pixel(30, 0), kWhite);
  // Prototype: columns 40..45, red.
  EXPECT_EQ(surface.Pixel(40, 3), kRed);
  EXPECT_EQ(surface.Pixel(45, 3), kRed);
  EXPECT_EQ(surface.Pixel(46, 0), kWhite);

  rig.wave->SetSegmentThreshold(90);
  Paint();
  EXPECT_NE(surface.Pixel(20, 0), kAzure);
  EXPECT_EQ(surface.Pixel(40, 3), kRed);
}

TEST_F(Painted, TheOpeningBracketStandsWhereTheRunsSoundStarts) {
  // A run over blocks 10..14 whose sound starts 300 samples into block 10: at column 21.5.
  for (int i = 10; i <= 14; ++i) {
    rig.BlockAt(i)->runHead = rig.BlockAt(10);
    rig.BlockAt(i)->score = 80;
  }
  rig.BlockAt(10)->matchOffset = 300;
  rig.wave->SetCaret(false);
  rig.wave->SetCursorTime(9.9, FollowNone);
  rig.wave->SetSegmentThreshold(0);
  Paint();
  EXPECT_EQ(surface.Pixel(22, 7), kAzure);
  EXPECT_EQ(surface.Pixel(22, 0), kAzure);
  for (int x : {20, 21}) EXPECT_NE(surface.Pixel(x, 0), kAzure) << x;
  EXPECT_EQ(surface.Pixel(29, 5), kAzure);  // the closing bracket stays at the run's end
}

TEST(WaveformBrackets, ARunThatGoesOnPastTheViewHasNoClosingBracket) {
  WaveformRig rig(kRate, 10, 400, 800);  // view 0..5 s
  for (int i = 95; i <= 105; ++i) {
    rig.BlockAt(i)->runHead = rig.BlockAt(95);
    rig.BlockAt(i)->score = 70;
  }
  rig.wave->SetColourDisplay(false);
  rig.wave->SetSegmentThreshold(50);
  rig.wave->SetCaret(false);
  RasterSurface surface(400, 150, kWhite);
  HostPaint(&rig.root, surface, 0, 0, 400, 150);
  EXPECT_EQ(surface.Pixel(380, 5), kAzure);  // head at 4.75 s
  EXPECT_EQ(surface.Pixel(399, 0), kAzure);  // double line up to the edge
  EXPECT_NE(surface.Pixel(399, 5), kAzure);  // no tail bracket at the edge
  rig.wave->SetPosition(-400, 0);
  surface.Clear(kWhite);
  HostPaint(&rig.root, surface, 0, 0, 400, 150);
  // The tail: the run ends at block 106 = 5.3 s = column 424, drawn at 423 = view column 23.
  EXPECT_EQ(surface.Pixel(23, 5), kAzure);
  EXPECT_EQ(surface.Pixel(0, 5), kWhite);  // no head bracket at the left edge
  EXPECT_EQ(surface.Pixel(0, 1), kAzure);
}

}  // namespace

namespace {
TEST(WaveformEmpty, AnEmptyTrackDrawsNothingAndARecordingFillsTheView) {
  FakeHost host;
  CAP_SampleTrack track(8000);
  CGI_Window root(&host, 400, 150);
  auto* clip = new CGP_Graphic(&root, &root, 0, 0, 400, 100);
  auto* wave = new CGP_TrackWaveform(clip, &root, 0, 0, 400, 100, &track);
  EXPECT_EQ(wave->Width(), 0);
  wave->SetCursorTime(3, FollowPlayback);
  wave->OnButtonDown(10, 10, 0, false, false);
  wave->OnMouseMove(20, 10, RegionRight);
  wave->OnTimerTick();
  wave->OnButtonUp(20, 10, 0, false, false);
  RasterSurface surface(400, 150);
  HostPaint(&root, surface, 0, 0, 400, 150);
  // The first recorded second arrives: the waveform takes the view's width.
  std::vector<float> second(8000, 0.5f);
  track.InsertSamples(second.data(), 8000, 0);
  wave->ApplyChanges(0, 0);
  EXPECT_EQ(wave->Width(), 400);
  EXPECT_EQ(wave->CachedColumn(200).top, CGP_TrackWaveform::RowOfValue(0.5, 100));
  root.DestroyChildren();
}
}  // namespace
