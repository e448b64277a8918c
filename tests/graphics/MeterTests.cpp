// The level meter: rows of level and hold, the zones, the lit bar and the scale.
#include <gtest/gtest.h>

#include "graphics/RasterSurface.h"
#include "graphics/VUMeter.h"
#include "graphics/Window.h"

namespace {

struct Meter : ::testing::Test {
  CGI_Window root{nullptr, 60, 94};  // H0 = 90 bar rows
  CGP_VUMeter* meter = new CGP_VUMeter(&root, &root, 0, 0, 60, 94);
  RasterSurface surface{60, 94, kWhite};
  void TearDown() override { root.DestroyChildren(); }
  void Paint() { root.Draw(surface, 0, 0, 60, 94, 0, 0); }
  // Pixel at the middle of the lit part of bar row r.
  Colour BarMiddle(int r) const { return surface.Pixel(22 + 15, r + 2); }
};

TEST_F(Meter, RowsOfTheDecibelScale) {
  EXPECT_EQ(CGP_VUMeter::RowOfLevel(1.0f, 90), 0);
  EXPECT_EQ(CGP_VUMeter::RowOfLevel(0.001f, 90), 60);
  EXPECT_EQ(CGP_VUMeter::RowOfLevel(0.0f, 90), 89);
  EXPECT_EQ(CGP_VUMeter::RowOfLevel(4.0f, 90), 0);
  EXPECT_EQ(CGP_VUMeter::RowOfLevel(std::numeric_limits<float>::quiet_NaN(), 90), 89);
}

TEST_F(Meter, ZoneColoursDarkenFromRedToBlack) {
  // rowB = 13, rowA = 27 for 90 rows.
  EXPECT_EQ(CGP_VUMeter::ZoneColour(0, 90), MakeColour(128, 0, 0));
  EXPECT_EQ(CGP_VUMeter::ZoneColour(13, 90), MakeColour(128, 128, 0));
  EXPECT_EQ(CGP_VUMeter::ZoneColour(20, 90), MakeColour(7 * 128 / 14, 128, 0));
  EXPECT_EQ(CGP_VUMeter::ZoneColour(27, 90), MakeColour(0, 128, 0));
  EXPECT_EQ(CGP_VUMeter::ZoneColour(28, 90), MakeColour(0, 62 * 128 / 63, 0));
  EXPECT_EQ(CGP_VUMeter::ZoneColour(89, 90), MakeColour(0, 2, 0));
  // A tiny meter has no olive zone but no division by zero either.
  EXPECT_EQ(CGP_VUMeter::ZoneColour(0, 5), MakeColour(128, 0, 0));
}

TEST_F(Meter, FullScaleLightsEveryRowBelowTheTopEdge) {
  meter->UpdateLevels(1.0f, 1.0f, 0x3060A0);
  Paint();
  EXPECT_EQ(BarMiddle(0), 0x00FF00u);   // hold line at 0 dB
  EXPECT_EQ(BarMiddle(1), 0xF8F8F8u);   // near-white top edge of the lit bar
  EXPECT_EQ(BarMiddle(50), 0x3060A0u);  // the sound's colour
  EXPECT_EQ(surface.Pixel(22 + 6, 52), 0xF8F8F8u);
  EXPECT_EQ(surface.Pixel(22 + 2, 52), CGP_VUMeter::ZoneColour(50, 90));
  EXPECT_EQ(surface.Pixel(22 + 60 - 31, 52), CGP_VUMeter::ZoneColour(50, 90));
  EXPECT_EQ(surface.Pixel(22 + 60 - 25, 52), kWhite);  // the bar ends before L + W - 25
  EXPECT_EQ(surface.Pixel(58, 52), kLightGrey);       // right inner frame
  EXPECT_EQ(meter->Maximum(), 1.0f);
}

TEST_F(Meter, MinusSixtyDecibelsLightsFromRowSixtyOne) {
  meter->UpdateLevels(0.001f, 0.01f, 0x0000C0);
  Paint();
  EXPECT_EQ(BarMiddle(59), CGP_VUMeter::ZoneColour(59, 90));
  EXPECT_EQ(BarMiddle(60), CGP_VUMeter::ZoneColour(60, 90));
  EXPECT_EQ(BarMiddle(61), 0xF8F8F8u);
  EXPECT_EQ(BarMiddle(62), 0x0000C0u);
  EXPECT_EQ(BarMiddle(40), 0x00FF00u);  // -40 dB hold
  meter->UpdateLevels(0.0001f, 0.0f, 0);
  EXPECT_EQ(meter->Maximum(), 0.001f);  // the maximum only rises
}

TEST_F(Meter, SilenceShowsAnEmptyBarWithTheHoldAtTheBottom) {
  meter->UpdateLevels(0, 0, 0x123456);
  Paint();
  for (int r = 0; r < 89; ++r) ASSERT_EQ(BarMiddle(r), CGP_VUMeter::ZoneColour(r, 90)) << r;
  EXPECT_EQ(BarMiddle(89), 0x00FF00u);
}

TEST_F(Meter, ScaleTicksEverySixDecibelsAndLabelsEveryTwelve) {
  Paint();
  for (int d = 6; d <= 84; d += 6) {
    EXPECT_EQ(surface.Pixel(17, d + 2), kBlack) << d;
    EXPECT_EQ(surface.Pixel(19, d + 2), kBlack) << d;
  }
  EXPECT_EQ(surface.Pixel(17, 3 + 2), kWhite);
  ASSERT_EQ(surface.texts.size(), 7u);
  const char* labels[] = {"-6", "-18", "-30", "-42", "-54", "-66", "-78"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(surface.texts[i].text, labels[i]);
    EXPECT_EQ(surface.texts[i].font.face, "Arial");
    EXPECT_EQ(surface.texts[i].font.pointSize, 7);
    EXPECT_EQ(surface.texts[i].h, TextHAlign::Right);
    EXPECT_EQ(surface.texts[i].left + surface.texts[i].width, 17);
  }
}

}  // namespace
