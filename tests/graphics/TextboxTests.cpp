// Text boxes: placement of the text, hover colour and clicks on the text.
#include <gtest/gtest.h>

#include "graphics/RasterSurface.h"
#include "graphics/Textbox.h"
#include "graphics/Window.h"
#include "tests/graphics/FakeHost.h"

namespace {

struct ClickCounter : CGP_Graphic {
  using CGP_Graphic::CGP_Graphic;
  int clicks = 0;
  bool Notify(int code, CGP_Graphic*) override {
    if (code == NotifyTextClicked) ++clicks;
    return true;
  }
};

TEST(Textbox, PlacesItsTextByAlignmentAndLightsUpUnderThePointer) {
  FakeHost host;
  CGI_Window root(&host, 300, 100);
  auto* owner = new ClickCounter(&root, &root, 0, 0, 300, 100);
  auto* box = new CGP_Textbox(owner, &root, 10, 10, 200, 40);
  box->SetText("Hello");
  box->SetColours(kBlack, kWhite, kRed);
  box->SetTextAlignment(2, 2);
  RasterSurface s(300, 100, kGrey);
  s.SetFontMetrics(7, 13);
  root.Draw(s, 0, 0, 300, 100, 0, 0);
  ASSERT_EQ(s.texts.size(), 1u);
  // 35 x 13 centred in 200 x 40: origin (82, 13) in the box.
  EXPECT_EQ(s.texts[0].left, 10 + 82);
  EXPECT_EQ(s.texts[0].top, 10 + 13);
  EXPECT_EQ(s.texts[0].colour, kBlack);
  EXPECT_EQ(s.Pixel(11, 11), kWhite);  // background filled

  // Hover: over the box but off the text, then onto the text.
  root.OnMouseMove(20, 20, 0);
  EXPECT_FALSE(box->OnText());
  root.OnMouseMove(10 + 90, 10 + 20, 0);
  EXPECT_TRUE(box->OnText());
  EXPECT_EQ(root.CursorCodeValue(), CursorHand);
  s.texts.clear();
  root.Draw(s, 0, 0, 300, 100, 0, 0);
  EXPECT_EQ(s.texts[0].colour, kRed);

  // A press and release on the text is a click; a release elsewhere is not.
  root.OnButtonDown(100, 30, 0, false, false);
  root.OnButtonUp(100, 30, 0, false, false);
  EXPECT_EQ(owner->clicks, 1);
  root.OnButtonDown(100, 30, 0, false, false);
  root.OnButtonUp(15, 15, 0, false, false);
  EXPECT_EQ(owner->clicks, 1);

  root.OnMouseMove(250, 90, 0);  // leaves the box
  EXPECT_FALSE(box->OnText());
  EXPECT_EQ(root.CursorCodeValue(), CursorArrow);
  root.DestroyChildren();
}

TEST(Textbox, WithoutAHoverColourItIsNotClickable) {
  CGI_Window root(nullptr, 100, 40);
  auto* box = new CGP_Textbox(&root, &root, 0, 0, 100, 40);
  EXPECT_EQ(box->Text(), "Default Text");
  box->SetColours(kBlack, kWhite, kBlack);
  RasterSurface s(100, 40);
  root.Draw(s, 0, 0, 100, 40, 0, 0);
  root.OnMouseMove(5, 20, 0);
  EXPECT_FALSE(box->OnText());
  EXPECT_EQ(s.texts[0].top, (40 - 13) / 2);  // vertically centred by default
  root.DestroyChildren();
}

}  // namespace
