// Axes: tick layout for the space they have, labels, drawing, dragging and their menus.
#include <gtest/gtest.h>

#include "graphics/AxisBar.h"
#include "graphics/RasterSurface.h"
#include "graphics/Window.h"
#include "tests/graphics/FakeHost.h"

namespace {

struct Axis : ::testing::Test {
  FakeHost host;
  CGI_Window root{&host, 1200, 300};
  CGP_Graphic* area = new CGP_Graphic(&root, &root, 0, 200, 1000, 22);
  void TearDown() override { root.DestroyChildren(); }
  CGP_MultiTrackDisplayAxis* TimeAxis(int width, double seconds) {
    auto* axis = new CGP_MultiTrackDisplayAxis(area, &root, 0, 0, width, 22, true);
    axis->SetRange(0, seconds, 0);
    axis->SetTicks(10, 1, true);
    axis->SetLabelMode(AxisTimeLabels, 0);
    return axis;
  }
};

TEST_F(Axis, HundredSecondsOverAThousandPixels) {
  auto* axis = TimeAxis(1000, 100);
  RasterSurface s(1200, 300);
  s.SetFontMetrics(7, 13);  // digitWidth = 70 / 10 + 1 = 8
  axis->LayoutTicks(s);
  EXPECT_EQ(axis->DigitWidth(), 8);
  EXPECT_EQ(axis->TextHeight(), 13);
  EXPECT_DOUBLE_EQ(axis->MajorStep(), 5);
  EXPECT_DOUBLE_EQ(axis->MinorStep(), 1);
  EXPECT_EQ(axis->Decimals(), 0);
  EXPECT_FALSE(axis->NeedsLayout());
}

TEST_F(Axis, TwoSecondsWithNumberLabelsTakesASecondPass) {
  auto* axis = new CGP_AxisBar(area, &root, 0, 0, 1000, 22, true);
  axis->SetRange(0, 2, 0);
  axis->SetTicks(1, 1, true);
  RasterSurface s(1200, 300);
  s.SetFontMetrics(6, 13);  // digitWidth 7
  axis->LayoutTicks(s);
  EXPECT_DOUBLE_EQ(axis->MajorStep(), 0.1);
  EXPECT_DOUBLE_EQ(axis->MinorStep(), 0.05);
  EXPECT_EQ(axis->Decimals(), 1);
  EXPECT_EQ(axis->FormatLabel(1.5), "1.5");
}

TEST_F(Axis, ATargetEqualToACandidateTakesTheNextOne) {
  // 4 characters of 8 pixels over 1000 pixels of 125 s: span 4 s, target exactly 5 s.
  auto* axis = TimeAxis(1000, 125);
  RasterSurface s(1200, 300);
  s.SetFontMetrics(7, 13);
  axis->LayoutTicks(s);
  EXPECT_DOUBLE_EQ(axis->MajorStep(), 10);
  EXPECT_DOUBLE_EQ(axis->MinorStep(), 5);
}

TEST_F(Axis, TimeLabelsUseTheHoursFormFromAnHour) {
  auto* axis = TimeAxis(1000, 7200);
  EXPECT_EQ(axis->FormatLabel(3599), "59:59");
  EXPECT_EQ(axis->FormatLabel(3600), "1:00:00");
  EXPECT_EQ(axis->FormatLabel(5), "0:05");
  axis->SetLabelMode(AxisTimeLabels, 1);
  EXPECT_EQ(axis->FormatLabel(83.5), "1:23.5");
}

TEST_F(Axis, DrawsTicksAndLabelsButCutsALabelAtTheRightEnd) {
  auto* axis = TimeAxis(1000, 100);
  RasterSurface s(1200, 300, kRed);
  s.SetFontMetrics(7, 13);
  root.Draw(s, 0, 0, 1200, 300, 0, 0);
  // Majors every 5 s = 50 pixels, minors every 10 pixels.
  EXPECT_EQ(s.Pixel(50, 200 + 5), kGrey);
  EXPECT_EQ(s.Pixel(51, 200 + 5), kWhite);
  EXPECT_EQ(s.Pixel(50, 200 + 10), axis->BackColour());
  EXPECT_EQ(s.Pixel(90, 200 + 4), kGrey);  // clear of the labels, which hang below
  EXPECT_EQ(s.Pixel(90, 200 + 5), axis->BackColour());
  EXPECT_EQ(s.Pixel(33, 200), kLightGrey);
  EXPECT_EQ(s.Pixel(999, 200), kLightGrey);
  std::vector<std::string> labels;
  for (const auto& t : s.texts) labels.push_back(t.text);
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.front(), "0:00");
  EXPECT_EQ(s.texts.front().left, 3);
  EXPECT_EQ(s.texts.front().top, 203);
  // 1:35 at pixel 950 ends at 950 + 32 = 982, inside; 1:40 at 1000 would end past the axis.
  EXPECT_EQ(labels.back(), "1:35");
  EXPECT_EQ(s.Pixel(1000, 205), kRed);  // nothing beyond the axis
}

TEST_F(Axis, VerticalAxisLabelsAwayFromItsEnds) {
  auto* axis = new CGP_TrackDisplayAxis(&root, &root, 0, 0, 40, 200, false);
  axis->SetRange(-32767, 32767, 0);
  axis->SetTicks(10000, 5000, false);
  RasterSurface s(1200, 300);
  s.SetFontMetrics(6, 12);
  root.Draw(s, 0, 0, 40, 200, 0, 0);
  std::vector<std::string> labels;
  for (const auto& t : s.texts) labels.push_back(t.text);
  EXPECT_EQ(labels, (std::vector<std::string>{"-30000", "-20000", "-10000", "0", "10000", "20000",
                                              "30000"}));
  EXPECT_EQ(s.Pixel(39, 50), kBlack);
  EXPECT_EQ(s.Pixel(38, 50), kGrey);
  EXPECT_EQ(s.Pixel(34, 100), kGrey);  // tick at value 0: row 100
  EXPECT_EQ(s.Pixel(34, 101), kWhite);
  EXPECT_EQ(s.texts[3].left + s.texts[3].width, 34);
}

TEST_F(Axis, DraggingMovesWithThePointerAndStopsAtTheStart) {
  auto* axis = TimeAxis(3000, 100);
  axis->SetDraggable(true);
  axis->SetPosition(-1000, 0);
  root.OnMouseMove(500, 210, 0);
  EXPECT_EQ(root.CursorCodeValue(), CursorHand);
  root.OnButtonDown(500, 210, 0, false, false);
  EXPECT_EQ(root.Captured(), axis);
  root.OnMouseMove(700, 210, 0);
  EXPECT_EQ(axis->X(), -800);
  root.OnMouseMove(2000, 210, 0);  // far right: held at 0
  EXPECT_EQ(axis->X(), 0);
  root.OnMouseMove(-5000, 210, 0);  // far left: held at parent width - axis width
  EXPECT_EQ(axis->X(), -2000);
  root.OnButtonUp(0, 210, 0, false, false);
  EXPECT_EQ(root.Captured(), nullptr);
  EXPECT_FALSE(axis->Dragging());
  root.OnMouseMove(500, 100, 0);  // leaves the axis
  EXPECT_EQ(root.CursorCodeValue(), CursorArrow);
}

TEST_F(Axis, MenusSwitchLabelsAndRanges) {
  auto* time = TimeAxis(1000, 100);
  host.menuAnswer = 1025;  // "Seconds"
  root.OnContextMenu(10, 210);
  EXPECT_EQ(time->LabelMode(), AxisNumberLabels);
  EXPECT_EQ(host.menus.back()[0].text, "Time");
  host.menuAnswer = 0;  // dismissed
  root.OnContextMenu(10, 210);
  EXPECT_EQ(time->LabelMode(), AxisNumberLabels);
  host.menuAnswer = 1024;
  root.OnContextMenu(10, 210);
  EXPECT_EQ(time->LabelMode(), AxisTimeLabels);

  auto* value = new CGP_TrackDisplayAxis(&root, &root, 0, 0, 40, 150, false);
  host.menuAnswer = 1025;
  root.OnContextMenu(5, 5);
  EXPECT_EQ(host.menus.back()[1].text, "Percentage");
  EXPECT_DOUBLE_EQ(value->MinValue(), -100);
  EXPECT_DOUBLE_EQ(value->MajorStep(), 25);
  EXPECT_DOUBLE_EQ(value->MinorStep(), 10);
  EXPECT_TRUE(value->NeedsLayout());
}

}  // namespace
