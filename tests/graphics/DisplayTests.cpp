// The multi-track display: rows, zoom and scroll of waveforms and time axis together,
// resizing, and an axis drag that the root turns into a scroll.
#include <gtest/gtest.h>

#include "graphics/AxisBar.h"
#include "graphics/MultiTrackDisplay.h"
#include "graphics/Textbox.h"
#include "graphics/TrackDisplay.h"
#include "tests/graphics/WaveformFixture.h"

namespace {

// A root that scrolls the display when its time axis is dragged, as the document's root does.
struct DocumentRoot : CGI_Window {
  using CGI_Window::CGI_Window;
  CGP_MultiTrackDisplay* display = nullptr;
  bool Notify(int code, CGP_Graphic*) override {
    if (code == NotifyAxisDragged && display) display->ScrollAllTo(-display->TimeAxis()->X());
    if (code == NotifyScrolled && display)
      display->TimeAxis()->SetPosition(display->LastWaveform()->X(), display->TimeAxis()->Y());
    return true;
  }
};

struct Display : ::testing::Test {
  FakeHost host;
  std::vector<float> samples = TestSamples(8000, 10);
  CAP_SampleTrack left{8000}, right{8000};
  DocumentRoot root{&host, 600, 300};
  CGP_MultiTrackDisplay* display = nullptr;

  void SetUp() override {
    left.InsertSamples(samples.data(), int(samples.size()), 0);
    right.InsertSamples(samples.data(), int(samples.size()), 0);
  }
  void TearDown() override { root.DestroyChildren(); }
  void Build(bool withAxes) {
    display = new CGP_MultiTrackDisplay(&root, &root, 0, 0, 600, 300,
                                        DisplayTracks{{&left, &right}, 8000, 10.0}, withAxes);
    display->SetAnchors(true, true, true, true);
    root.display = display;
  }
  CGP_TrackWaveform* Wave() const { return display->LastWaveform(); }
  void ExpectAxisAligned() const {
    EXPECT_EQ(display->TimeAxis()->Width(), Wave()->Width());
    EXPECT_EQ(display->TimeAxis()->X(), Wave()->X());
  }
};

TEST_F(Display, OneFittedRowUnderATimeAxis) {
  Build(false);
  display->ShowTrackRow(1, true);
  display->SetRowHeight(300, true);
  EXPECT_EQ(display->RowHeight(), 278);
  ASSERT_NE(display->Row(1), nullptr);
  EXPECT_EQ(display->Row(0), nullptr);
  EXPECT_EQ(display->Row(1)->Height(), 278);
  EXPECT_EQ(display->RowsStack()->Height(), 278);
  EXPECT_EQ(Wave()->Width(), 600);
  EXPECT_EQ(Wave()->Height(), 278);
  EXPECT_EQ(display->Row(1)->ValueAxis(), nullptr);
  EXPECT_EQ(display->TimeAxis()->Y(), 0);
  EXPECT_EQ(display->AxisArea()->Y(), 278);
  EXPECT_DOUBLE_EQ(display->TimeAxis()->MaxValue(), 10);
  EXPECT_EQ(display->TimeAxis()->LabelMode(), AxisTimeLabels);
  EXPECT_TRUE(display->TimeAxis()->Draggable());
  ExpectAxisAligned();
}

TEST_F(Display, ZoomingInAndOutReturnsToTheFittedWidth) {
  Build(false);
  display->ShowTrackRow(1, true);
  display->SetRowHeight(300, true);
  display->ZoomBy(2);
  EXPECT_EQ(Wave()->Width(), 1200);
  ExpectAxisAligned();
  display->ZoomBy(2);
  EXPECT_EQ(Wave()->Width(), 2400);
  display->ZoomBy(0.5);
  display->ZoomBy(0.5);
  EXPECT_EQ(Wave()->Width(), 600);
  display->ZoomBy(0.5);
  EXPECT_EQ(Wave()->Width(), 600);  // never narrower than the view
  for (int i = 0; i < 20; ++i) display->ZoomBy(2);
  EXPECT_EQ(Wave()->Width(), 80000);  // one column per sample
  ExpectAxisAligned();
}

TEST_F(Display, ScrollingMovesWaveformsAndAxisTogether) {
  Build(false);
  display->ShowTrackRow(0, true);
  display->ShowTrackRow(1, true);
  display->SetRowHeight(300, true);
  display->ZoomBy(4);
  display->ScrollAllTo(500);
  EXPECT_EQ(display->Waveform(0)->X(), -500);
  EXPECT_EQ(display->Waveform(1)->X(), -500);
  ExpectAxisAligned();
  display->ScrollAllTo(100000);  // clamped to the end
  EXPECT_EQ(Wave()->X(), 600 - 2400);
  ExpectAxisAligned();
}

TEST_F(Display, FittedRowsShareTheHeightAndFollowAResize) {
  Build(false);
  display->ShowTrackRow(0, true);
  display->ShowTrackRow(1, true);
  display->SetRowHeight(300, true);
  EXPECT_EQ(display->Row(0)->Height(), 139);
  EXPECT_EQ(display->Row(1)->Y(), 139);
  root.SetSize(800, 400);
  EXPECT_EQ(display->Row(0)->Height(), 189);
  EXPECT_EQ(display->Row(1)->Height(), 189);
  EXPECT_EQ(display->Row(1)->Y(), 189);
  EXPECT_EQ(Wave()->Width(), 800);  // fitted: as wide as the clip area
  EXPECT_EQ(display->AxisArea()->Y(), 378);
  ExpectAxisAligned();
  display->ShowTrackRow(0, false);
  EXPECT_EQ(display->Row(0), nullptr);
  EXPECT_EQ(display->Row(1)->Height(), 378);
  EXPECT_EQ(display->Row(1)->Y(), 0);
}

TEST_F(Display, AZoomedRowKeepsItsZoomRelativeToTheWindow) {
  Build(false);
  display->ShowTrackRow(1, true);
  display->SetRowHeight(300, true);
  display->ZoomBy(2);
  display->ScrollAllTo(300);
  root.SetSize(800, 300);
  EXPECT_EQ(Wave()->Width(), 1600);
  EXPECT_EQ(Wave()->X(), -400);
  ExpectAxisAligned();
}

TEST_F(Display, WithAxesTheRowsHaveValueAxesAndTheCornerABox) {
  Build(true);
  display->ShowTrackRow(1, true);
  display->SetRowHeight(300, true);
  ASSERT_NE(display->Row(1)->ValueAxis(), nullptr);
  EXPECT_EQ(display->Row(1)->ValueAxis()->Width(), 40);
  EXPECT_DOUBLE_EQ(display->Row(1)->ValueAxis()->MaxValue(), 32767);
  EXPECT_EQ(display->Row(1)->ClipArea()->X(), 40);
  EXPECT_EQ(Wave()->Width(), 560);
  EXPECT_EQ(display->CornerBox()->Width(), 40);
  EXPECT_EQ(display->CornerBox()->Text(), "");
  EXPECT_EQ(display->AxisArea()->X(), 40);
  RasterSurface surface(600, 300);
  root.Draw(surface, 0, 0, 600, 300, 0, 0);
  EXPECT_FALSE(surface.texts.empty());
}

TEST_F(Display, DraggingTheTimeAxisScrollsTheWaveformsThroughTheRoot) {
  Build(false);
  display->ShowTrackRow(1, true);
  display->SetRowHeight(300, true);
  display->ZoomBy(4);
  display->ScrollAllTo(1000);
  root.OnButtonDown(300, 290, 0, false, false);
  root.OnMouseMove(400, 290, 0);
  EXPECT_EQ(display->TimeAxis()->X(), -900);
  EXPECT_EQ(Wave()->X(), -900);
  root.OnMouseMove(5000, 290, 0);  // to the right of the start: held at 0
  EXPECT_EQ(display->TimeAxis()->X(), 0);
  EXPECT_EQ(Wave()->X(), 0);
  root.OnButtonUp(5000, 290, 0, false, false);
  // The waveform's own scrolling brings the axis along.
  Wave()->SetCursorTime(8.0, FollowMargin);
  EXPECT_LT(Wave()->X(), 0);
  ExpectAxisAligned();
}

TEST_F(Display, TicksReachTheWaveforms) {
  Build(false);
  display->ShowTrackRow(1, true);
  display->SetRowHeight(300, true);
  root.EnableTimer(true);
  EXPECT_TRUE(display->WantsTimer());
  host.now += 100000;
  root.OnTimerTick();
  EXPECT_FALSE(Wave()->CaretVisible());
}

}  // namespace
