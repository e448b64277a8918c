// The graphic tree: layout, visibility and invalidation, pointer dispatch, scroll bars, timers,
// menus, the drawing helpers and the time text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/DrawingHelpers.h"
#include "graphics/FormatTime.h"
#include "graphics/Graphic.h"
#include "graphics/HostEvents.h"
#include "graphics/RasterSurface.h"
#include "graphics/Window.h"
#include "tests/graphics/FakeHost.h"

namespace {

// Logs the pointer calls it gets, in its own coordinates.
struct Probe : CGP_Graphic {
  using CGP_Graphic::CGP_Graphic;
  std::vector<std::string> log;
  std::vector<int> regions;
  std::vector<std::pair<int, int>> points;
  std::vector<std::vector<int>> draws;
  void OnButtonDown(int px, int py, int b, bool c, bool s) override {
    log.push_back("down");
    points.push_back({px, py});
    CGP_Graphic::OnButtonDown(px, py, b, c, s);
  }
  void OnButtonUp(int px, int py, int b, bool c, bool s) override {
    log.push_back("up");
    points.push_back({px, py});
    CGP_Graphic::OnButtonUp(px, py, b, c, s);
  }
  void OnMouseMove(int px, int py, int region) override {
    log.push_back("move");
    points.push_back({px, py});
    regions.push_back(region);
    CGP_Graphic::OnMouseMove(px, py, region);
  }
  void OnMouseEnter() override {
    log.push_back("enter");
    CGP_Graphic::OnMouseEnter();
  }
  void OnMouseLeave() override {
    log.push_back("leave");
    CGP_Graphic::OnMouseLeave();
  }
  void OnContextMenu(int px, int py) override {
    log.push_back("menu");
    points.push_back({px, py});
  }
  int ticks = 0;
  void OnTimerTick() override {
    ++ticks;
    CGP_Graphic::OnTimerTick();
  }
  void Draw(DrawingSurface& s, int x_, int y_, int w, int h, int ox, int oy) override {
    draws.push_back({x_, y_, w, h, ox, oy});
    CGP_Graphic::Draw(s, x_, y_, w, h, ox, oy);
  }
};

struct Tree : ::testing::Test {
  FakeHost host;
  CGI_Window* root = nullptr;
  void SetUp() override { root = new CGI_Window(&host, 400, 300); }
  void TearDown() override {
    root->DestroyChildren();
    delete root;
  }
};

TEST_F(Tree, RootRegistersWithItsHostAndLeavesIt) {
  EXPECT_EQ(host.root, root);
  auto* other = new CGI_Window(&host, 10, 10);
  delete other;
  EXPECT_EQ(host.root, nullptr);
  host.root = root;
}

TEST_F(Tree, AnchorsDecideHowChildrenFollowAResize) {
  auto* parent = new CGP_Graphic(root, root, 0, 0, 200, 100);
  auto* leftOnly = new Probe(parent, root, 10, 10, 50, 20);
  auto* rightOnly = new Probe(parent, root, 10, 10, 50, 20);
  rightOnly->SetAnchors(false, false, true, true);
  auto* both = new Probe(parent, root, 10, 10, 50, 20);
  both->SetAnchors(true, true, true, true);
  auto* neither = new Probe(parent, root, 10, 10, 50, 20);
  neither->SetAnchors(false, false, false, false);
  parent->SetSize(230, 140);
  EXPECT_EQ(leftOnly->X(), 10);
  EXPECT_EQ(leftOnly->Width(), 50);
  EXPECT_EQ(leftOnly->Height(), 20);
  EXPECT_EQ(rightOnly->X(), 40);
  EXPECT_EQ(rightOnly->Y(), 50);
  EXPECT_EQ(rightOnly->Width(), 50);
  EXPECT_EQ(both->X(), 10);
  EXPECT_EQ(both->Width(), 80);
  EXPECT_EQ(both->Height(), 60);
  EXPECT_EQ(neither->X(), 10);
  EXPECT_EQ(neither->Y(), 10);
  EXPECT_EQ(neither->Width(), 50);
}

TEST_F(Tree, VisibleRectIsTheOverlapWithEveryAncestor) {
  auto* clip = new CGP_Graphic(root, root, 50, 40, 100, 80);
  auto* inner = new CGP_Graphic(clip, root, -30, 10, 200, 50);
  int x, y, w, h;
  inner->GetVisibleRect(x, y, w, h);
  EXPECT_EQ(x, 30);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 50);

  host.invalidations.clear();
  inner->Invalidate(0, 0, 1, 1);  // the argument rectangle does not matter
  ASSERT_EQ(host.invalidations.size(), 1u);
  EXPECT_EQ(host.invalidations[0], (FakeHost::Rect{50, 50, 100, 50}));

  inner->SetPosition(150, 10);  // completely outside the clip area
  inner->GetVisibleRect(x, y, w, h);
  EXPECT_EQ(w, 0);
  host.invalidations.clear();
  inner->InvalidateAll();
  EXPECT_TRUE(host.invalidations.empty());

  // The root clips to itself.
  host.invalidations.clear();
  root->Invalidate(-10, 290, 50, 50);
  ASSERT_EQ(host.invalidations.size(), 1u);
  EXPECT_EQ(host.invalidations[0], (FakeHost::Rect{0, 290, 40, 10}));
}

TEST_F(Tree, PressesGoToEveryChildContainingThePoint) {
  auto* a = new Probe(root, root, 10, 10, 100, 100);
  auto* b = new Probe(root, root, 50, 50, 100, 100);
  root->OnButtonDown(60, 70, 0, false, false);
  ASSERT_EQ(a->points.size(), 1u);
  EXPECT_EQ(a->points[0], std::make_pair(50, 60));
  ASSERT_EQ(b->points.size(), 1u);
  EXPECT_EQ(b->points[0], std::make_pair(10, 20));
  root->OnButtonUp(20, 20, 0, false, false);
  EXPECT_EQ(a->log.back(), "up");
  EXPECT_EQ(b->log.size(), 1u);
}

TEST_F(Tree, MovesEnterAndLeaveChildren) {
  auto* a = new Probe(root, root, 0, 0, 100, 100);
  auto* b = new Probe(root, root, 200, 0, 100, 100);
  root->OnMouseMove(10, 10, 0);
  root->OnMouseMove(20, 10, 0);
  root->OnMouseMove(210, 10, 0);
  EXPECT_EQ(a->log, (std::vector<std::string>{"enter", "move", "move", "leave"}));
  EXPECT_EQ(b->log, (std::vector<std::string>{"enter", "move"}));
  EXPECT_TRUE(b->Hovered());
  root->OnMouseLeave();
  EXPECT_FALSE(b->Hovered());
  EXPECT_EQ(b->log.back(), "leave");
}

TEST_F(Tree, CaptureRoutesEverythingToOneGraphicWithRegionsOfItsParent) {
  auto* clip = new CGP_Graphic(root, root, 100, 50, 200, 100);
  auto* wave = new Probe(clip, root, -500, 0, 1000, 100);
  auto* other = new Probe(root, root, 0, 0, 400, 300);
  root->CaptureMouse(wave);
  EXPECT_EQ(host.captures, 1);
  // Inside the host but left of the clip area: region 1 relative to the clip area.
  HostMouseMove(root, 50, 60, 400, 300);
  ASSERT_EQ(wave->regions.size(), 1u);
  EXPECT_EQ(wave->regions[0], RegionLeft);
  EXPECT_EQ(wave->points[0], std::make_pair(50 - 100 + 500, 10));
  // Far left of the host: clamped to its edge, the host's own region kept.
  HostMouseMove(root, -80, 60, 400, 300);
  EXPECT_EQ(wave->regions[1], RegionLeft);
  EXPECT_EQ(wave->points[1], std::make_pair(0 - 100 + 500, 10));
  HostMouseMove(root, -80, -5, 400, 300);
  EXPECT_EQ(wave->regions[2], RegionAboveLeft);
  HostMouseMove(root, 500, 400, 400, 300);
  EXPECT_EQ(wave->regions[3], RegionBelowRight);
  EXPECT_EQ(wave->points[3], std::make_pair(399 - 100 + 500, 299 - 50));
  HostMouseMove(root, 150, 60, 400, 300);
  EXPECT_EQ(wave->regions[4], RegionInside);
  // The release outside the host arrives clamped, and only at the captured graphic.
  HostButtonUp(root, 1000, -20, 400, 300, false, false);
  EXPECT_EQ(wave->log.back(), "up");
  EXPECT_EQ(wave->points.back(), std::make_pair(399 - 100 + 500, 0 - 50));
  EXPECT_TRUE(other->log.empty());
  // Deleting the captured graphic releases the capture.
  delete wave;
  EXPECT_EQ(root->Captured(), nullptr);
  EXPECT_EQ(host.releases, 1);
}

TEST(PointerRegions, AllNineCodes) {
  EXPECT_EQ(PointerRegionOf(5, 5, 10, 10), 0);
  EXPECT_EQ(PointerRegionOf(-1, 5, 10, 10), 1);
  EXPECT_EQ(PointerRegionOf(5, -1, 10, 10), 2);
  EXPECT_EQ(PointerRegionOf(10, 5, 10, 10), 3);
  EXPECT_EQ(PointerRegionOf(5, 10, 10, 10), 4);
  EXPECT_EQ(PointerRegionOf(-1, -1, 10, 10), 5);
  EXPECT_EQ(PointerRegionOf(-1, 10, 10, 10), 6);
  EXPECT_EQ(PointerRegionOf(10, -1, 10, 10), 7);
  EXPECT_EQ(PointerRegionOf(10, 10, 10, 10), 8);
}

TEST_F(Tree, DrawingVisitsChildrenClippedToThemWithTheirOrigins) {
  auto* a = new Probe(root, root, 10, 20, 100, 50);
  auto* b = new Probe(a, root, 30, 5, 500, 10);
  RasterSurface surface(400, 300);
  HostPaint(root, surface, 50, 0, 400, 300);
  ASSERT_EQ(a->draws.size(), 1u);
  EXPECT_EQ(a->draws[0], (std::vector<int>{40, 0, 60, 50, 10, 20}));
  ASSERT_EQ(b->draws.size(), 1u);
  EXPECT_EQ(b->draws[0], (std::vector<int>{10, 0, 60, 10, 40, 25}));
  // A request that misses a child does not reach it.
  HostPaint(root, surface, 300, 0, 400, 300);
  EXPECT_EQ(a->draws.size(), 1u);
}

TEST(HostPaintWithoutRoot, PaintsWhite) {
  RasterSurface surface(20, 20, kBlack);
  HostPaint(nullptr, surface, 0, 0, 10, 10);
  EXPECT_EQ(surface.Pixel(5, 5), kWhite);
  EXPECT_EQ(surface.Pixel(15, 15), kBlack);
  EXPECT_FALSE(HostResize(nullptr, 0, 10));
}

TEST(ScrollBars, EveryRequestGivesItsPosition) {
  // pos 500 of range 10000 showing 1000.
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::LineLeft, 500, 10000, 1000, 0), 400);
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::LineLeft, 50, 10000, 1000, 0), 0);
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::LineRight, 500, 10000, 1000, 0), 600);
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::LineRight, 8950, 10000, 1000, 0), 9000);
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::PageLeft, 500, 10000, 1000, 0), 0);
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::PageRight, 500, 10000, 1000, 0), 1500);
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::PageRight, 8500, 10000, 1000, 0), 9000);
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::Thumb, 500, 10000, 1000, 16384), 5000);
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::Thumb, 500, 10000, 1000, 32767), 10000);
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::LeftEnd, 500, 10000, 1000, 0), 0);
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::RightEnd, 500, 10000, 1000, 0), 9000);
  // Everything fits: line left gives 0, line right range - page (not above 0).
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::LineLeft, 0, 500, 800, 0), 0);
  EXPECT_EQ(ScrollRequestPosition(ScrollRequest::LineRight, 0, 500, 800, 0), -300);
}

struct ScrollRecorder : CGI_Window {
  using CGI_Window::CGI_Window;
  std::vector<std::pair<int, int>> scrolls;
  void ScrollTo(int nx, int ny) override {
    scrolls.push_back({nx, ny});
    CGI_Window::ScrollTo(nx, ny);
  }
};

TEST(ScrollBars, TheHostBarShowsThumbAndPageOnTheFixedScale) {
  FakeHost host;
  ScrollRecorder root(&host, 100, 100);
  root.SetHScroll(2500, 10000, 1000, 10);
  ASSERT_EQ(host.bars.size(), 1u);
  EXPECT_TRUE(host.bars[0].horizontal);
  EXPECT_EQ(host.bars[0].maximum, 32767);
  EXPECT_EQ(host.bars[0].page, 3276);
  EXPECT_EQ(host.bars[0].position, 8191);
  root.OnHostScroll(true, ScrollRequest::PageRight);
  EXPECT_EQ(root.scrolls.back(), std::make_pair(3500, 0));
  EXPECT_EQ(host.bars.back().position, 11468);
  // The vertical thumb is held to range - page.
  root.SetVScroll(0, 1000, 200, 1);
  root.OnHostScroll(false, ScrollRequest::Thumb, 32767);
  EXPECT_EQ(root.scrolls.back(), std::make_pair(3500, 800));
  // range <= page hides the bar.
  root.SetHScroll(0, 500, 800, 1);
  EXPECT_EQ(host.bars.back().maximum, 0);
  EXPECT_EQ(host.bars.back().page, 0);
  EXPECT_EQ(host.bars.back().position, 0);
  host.root = nullptr;
}

TEST_F(Tree, TimerInterestRisesToTheRootAndTicksComeDownThroughIt) {
  auto* a = new Probe(root, root, 0, 0, 10, 10);
  auto* b = new Probe(a, root, 0, 0, 10, 10);
  auto* c = new Probe(root, root, 0, 0, 10, 10);
  // The editor enables its root's timer before it builds the tree under it.
  root->EnableTimer(true);
  b->SetTimerInterest(true);
  EXPECT_TRUE(a->WantsTimer());
  EXPECT_TRUE(root->WantsTimer());
  EXPECT_FALSE(c->WantsTimer());
  root->EnableTimer(true);
  EXPECT_EQ(host.timerStarts, 1);
  EXPECT_EQ(host.timerPeriod, 20);
  HostTimer(root);
  EXPECT_EQ(a->ticks, 1);
  EXPECT_EQ(b->ticks, 1);
  EXPECT_EQ(c->ticks, 0);
  b->SetTimerInterest(false);
  EXPECT_TRUE(a->WantsTimer());
  HostTimer(root);
  EXPECT_EQ(a->ticks, 2);
  EXPECT_EQ(b->ticks, 1);
  // Without the parent's interest nothing reaches the child.
  b->SetTimerInterest(true);
  a->SetTimerInterest(false);
  HostTimer(root);
  EXPECT_EQ(b->ticks, 1);
  root->EnableTimer(false);
  EXPECT_EQ(host.timerStops, 1);
  EXPECT_FALSE(root->WantsTimer());
  HostTimer(root);
  EXPECT_EQ(a->ticks, 2);
}

TEST_F(Tree, PopupMenusNumberTheirItemsAndReturnTheChoice) {
  auto* a = new Probe(root, root, 0, 0, 400, 300);
  root->OnContextMenu(33, 44);
  EXPECT_EQ(a->log.back(), "menu");
  const char* texts[] = {"One", "Two", "Three"};
  host.menuAnswer = 1026;
  EXPECT_EQ(root->PopupMenu(3, texts, nullptr), 2);
  ASSERT_EQ(host.menus.size(), 1u);
  EXPECT_EQ(host.menuPoints[0], std::make_pair(33, 44));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(host.menus[0][i].identifier, 1024 + i);
    EXPECT_FALSE(host.menus[0][i].greyed);
    EXPECT_FALSE(host.menus[0][i].separator);
  }
  EXPECT_EQ(host.menus[0][2].text, "Three");
  const int flags[] = {0, 2, 1};
  host.menuAnswer = 0;
  EXPECT_EQ(root->PopupMenu(3, texts, flags), -1);
  EXPECT_TRUE(host.menus[1][1].separator);
  EXPECT_TRUE(host.menus[1][2].greyed);
  CGI_Window lonely(nullptr, 10, 10);
  EXPECT_EQ(lonely.PopupMenu(3, texts, nullptr), -1);
}

TEST_F(Tree, DestroyingAGraphicDetachesItsChildrenAndLeavesItsParent) {
  auto* a = new CGP_Graphic(root, root, 0, 0, 10, 10);
  auto* b = new CGP_Graphic(a, root, 0, 0, 10, 10);
  delete a;
  EXPECT_TRUE(root->Children().empty());
  EXPECT_EQ(b->Parent(), nullptr);
  EXPECT_EQ(b->Window(), nullptr);
  delete b;
}

TEST(DrawingHelpers, LinesExcludeTheirEndAndRunsIncludeBoth) {
  RasterSurface s(20, 20, kWhite);
  DrawLine(s, 2, 3, 6, 3, kRed);
  EXPECT_EQ(s.Pixel(2, 3), kRed);
  EXPECT_EQ(s.Pixel(5, 3), kRed);
  EXPECT_EQ(s.Pixel(6, 3), kWhite);
  DrawLine(s, 10, 10, 10, 5, kBlack);  // upwards
  EXPECT_EQ(s.Pixel(10, 10), kBlack);
  EXPECT_EQ(s.Pixel(10, 6), kBlack);
  EXPECT_EQ(s.Pixel(10, 5), kWhite);
  DrawLine(s, 0, 15, 10, 15, kBlack, true);
  EXPECT_EQ(s.Pixel(0, 15), kBlack);
  EXPECT_EQ(s.Pixel(1, 15), kWhite);
  EXPECT_EQ(s.Pixel(2, 15), kBlack);
  const ColumnSpan spans[] = {{2, 4, kRed}, {5, 1, kAzure}};
  DrawColumnSpans(s, 15, 0, 2, spans);
  EXPECT_EQ(s.Pixel(15, 1), kWhite);
  EXPECT_EQ(s.Pixel(15, 2), kRed);
  EXPECT_EQ(s.Pixel(15, 4), kRed);
  EXPECT_EQ(s.Pixel(15, 5), kWhite);
  EXPECT_EQ(s.Pixel(16, 1), kAzure);
  EXPECT_EQ(s.Pixel(16, 5), kAzure);
  // A line whose ends lie far outside still draws its visible part.
  DrawLine(s, -2000000000, 19, 2000000000, 19, kRed);
  EXPECT_EQ(s.Pixel(0, 19), kRed);
  EXPECT_EQ(s.Pixel(19, 19), kRed);
}

TEST(DrawingHelpers, SunkenFrameHasItsFourColours) {
  RasterSurface s(30, 20, kRed);
  DrawSunkenFrame(s, 5, 2, 20, 10);
  EXPECT_EQ(s.Pixel(5, 5), kGrey);        // left outer
  EXPECT_EQ(s.Pixel(6, 5), kDarkGrey);    // left inner
  EXPECT_EQ(s.Pixel(10, 2), kGrey);       // top outer
  EXPECT_EQ(s.Pixel(10, 3), kDarkGrey);   // top inner
  EXPECT_EQ(s.Pixel(24, 5), kWhite);      // right outer
  EXPECT_EQ(s.Pixel(23, 5), kLightGrey);  // right inner
  EXPECT_EQ(s.Pixel(10, 11), kWhite);     // bottom outer
  EXPECT_EQ(s.Pixel(10, 10), kLightGrey); // bottom inner
  EXPECT_EQ(s.Pixel(10, 6), kRed);        // inside untouched
  EXPECT_EQ(s.Pixel(24, 11), kRed);       // the far corner is an end point: not drawn
}

TEST(DrawingHelpers, LabelBoxesFollowTheAlignment) {
  RasterSurface s(200, 100);
  DrawLabel(s, 100, 50, 0, kBlack, "abcde", LabelCentre, LabelTop);
  DrawLabel(s, 100, 50, 0, kBlack, "abc", LabelRight, LabelBottom);
  DrawLabel(s, 100, 50, 0, kBlack, "ab", LabelLeft, LabelMiddle);
  DrawLabel(s, 100, 50, 0, kBlack, "a", LabelLeft, 0);
  ASSERT_EQ(s.texts.size(), 4u);
  EXPECT_EQ(s.texts[0].left, 75);
  EXPECT_EQ(s.texts[0].width, 50);
  EXPECT_EQ(s.texts[0].top, 50);
  EXPECT_EQ(s.texts[0].h, TextHAlign::Centre);
  EXPECT_EQ(s.texts[1].left, 70);
  EXPECT_EQ(s.texts[1].top, 30);
  EXPECT_EQ(s.texts[1].v, TextVAlign::Bottom);
  EXPECT_EQ(s.texts[2].top, 40);
  EXPECT_EQ(s.texts[2].v, TextVAlign::Centre);
  EXPECT_EQ(s.texts[3].top, 30);
  EXPECT_EQ(s.texts[3].v, TextVAlign::Top);
  EXPECT_EQ(s.Pixel(83, 52), kBlack);  // the first character of the centred label is drawn
}

TEST(DrawingHelpers, FontsComeFromScratchOrFromTheDefault) {
  ClearDefaultLabelFont();
  LabelFont f = CreateLabelFont("", 0, true, false, true, 900);
  EXPECT_EQ(f.weight, 700);
  EXPECT_TRUE(f.underline);
  EXPECT_EQ(f.orientation, 900);
  EXPECT_EQ(f.face, "");

  LabelFont status;
  status.face = "Status Face";
  status.pointSize = 9;
  status.italic = true;
  SetDefaultLabelFont(status);
  f = CreateLabelFont("", 0, false, false, false, 0);
  EXPECT_EQ(f.face, "Status Face");
  EXPECT_EQ(f.pointSize, 9);
  EXPECT_TRUE(f.italic);  // kept from the default
  f = CreateLabelFont("", 12, true, false, false, 0);
  EXPECT_EQ(f.pointSize, 12);
  EXPECT_EQ(f.weight, 700);
  EXPECT_EQ(f.face, "Status Face");
  f = CreateLabelFont("Arial", 7, false, false, false, 0);  // face and size: from scratch
  EXPECT_EQ(f.face, "Arial");
  EXPECT_FALSE(f.italic);
  ClearDefaultLabelFont();
}

TEST(FormatTimeText, MinutesHoursAndFractions) {
  EXPECT_EQ(FormatTime(83.25, 3, true, false), "1:23.250");
  EXPECT_EQ(FormatTime(0, 3, true, false), "0:00.000");
  EXPECT_EQ(FormatTime(723.5, 3, true, false), "12:03.500");
  EXPECT_EQ(FormatTime(5, 0, true, false), "0:05");
  EXPECT_EQ(FormatTime(83.5, 1, true, false), "1:23.5");
  EXPECT_EQ(FormatTime(3723, 0, true, true), "1:02:03");
  EXPECT_EQ(FormatTime(3600, 0, true, true), "1:00:00");
  EXPECT_EQ(FormatTime(83.4, 0, false, false), "83");
  EXPECT_EQ(FormatTime(59.9996, 3, true, false), "1:00.000");
  // Past an hour without the hours form the text still names every unit.
  EXPECT_EQ(FormatTime(3723.5, 1, true, false), "1:02:03.5");
  EXPECT_EQ(FormatTime(-3, 0, true, false), "0:00");
}

}  // namespace
