#include <gtest/gtest.h>

#include "app/model/ScreenAndSpaceRepository.h"
#include "app/preferences/Preferences.h"
#include "app/previews/DockPreviewNowPlayingControls.h"
#include "app/previews/tests/PreviewTestSupport.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/sim/Scenario.h"
#include "platform/ui/Animation.h"

namespace {

using previewtest::content;
using previewtest::PreviewHarness;
using previewtest::thumbnail;
using ButtonAction = DockPreviewThumbnailContent::ButtonAction;
using ScreenDisplayMode = DockPreviewThumbnailContent::ScreenDisplayMode;
using SpaceDisplayMode = DockPreviewThumbnailContent::SpaceDisplayMode;

// Two displays side by side; the pointer is on the left one.
const char* const kViewDisplays = R"({
  "displays": [
    {"id": 1, "name": "Left", "frame": [0, 0, 1440, 900], "visibleFrame": [0, 70, 1440, 805], "spaces": [{"id": 1}]},
    {"id": 2, "name": "Right", "frame": [1440, 0, 1920, 1080], "spaces": [{"id": 10}]}
  ],
  "mouse": [500, 500]
})";

class PreviewViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = ns::UserDefaults::standard();
    ns::UserDefaults::setStandard(ns::UserDefaults::inMemory());
    MorvalentDefaults::standard().registerDefaults();
  }
  void TearDown() override { ns::UserDefaults::setStandard(previous_); }

  dispatch::VirtualClockScope clock;
  dispatch::Scheduler& sched = dispatch::Scheduler::shared();

 private:
  std::shared_ptr<ns::UserDefaults> previous_;
};

std::shared_ptr<appkit::NSScreen> fakeScreen(std::uint32_t id, const std::string& name, double x) {
  return std::make_shared<appkit::NSScreen>(id, CGRect(x, 0, 1440, 900), CGRect(x, 0, 1440, 875), 1.0, name, true);
}

std::vector<ButtonAction> snapActions(const std::shared_ptr<appkit::NSScreen>& current,
                                      const std::shared_ptr<appkit::NSScreen>& other) {
  return {ButtonAction::snap(SnapAlignment::left, current), ButtonAction::snap(SnapAlignment::maximized, current),
          ButtonAction::snap(SnapAlignment::right, current), ButtonAction::screen(other)};
}

bool isHighlighted(PreviewHarness& h, std::size_t index) {
  auto thumbs = h.thumbnails();
  return index < thumbs.size() && !PreviewHarness::symbols(*thumbs[index], "xmark").empty();
}

NowPlayingInfo track(bool playing = true) {
  NowPlayingInfo info;
  info.artist = "The Artist";
  info.title = "The Song";
  info.duration = 296;
  info.getPlaybackPosition = [] { return 83.0; };
  info.isPlaying = playing;
  return info;
}

// The calls other than the panel's own hover reports (sent on every move).
std::vector<std::string> withoutPanelHover(std::vector<std::string> calls) {
  std::erase_if(calls, [](const std::string& c) { return c.rfind("hover ", 0) == 0; });
  return calls;
}

int channelDistance(img::Pixel p, img::Pixel q) {
  return std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b);
}

}  // namespace

// ---- layout ----

TEST_F(PreviewViewTest, NoContentDrawsNothing) {
  PreviewHarness h;
  EXPECT_EQ(h.host->size(), (ui::Size{0, 0}));
  EXPECT_EQ(h.host->root()->findFirst([](const ui::Node& n) { return n.kind == ui::NodeKind::visualEffect; }), nullptr);
}

TEST_F(PreviewViewTest, FiveWindowsMakeOneRowOfFixedColumns) {
  std::vector<DockPreviewThumbnailContent> windows;
  for (int i = 0; i < 5; ++i) windows.push_back(thumbnail(i + 1, "W" + std::to_string(i)));
  PreviewHarness h(content(windows));
  // Five 240-point columns with the grid's 8 points between them, 10 points each side.
  EXPECT_EQ(h.host->size().width, 5 * 240 + 4 * 8 + 20);
  auto thumbs = h.thumbnails();
  ASSERT_EQ(thumbs.size(), 5u);
  for (std::size_t i = 0; i < thumbs.size(); ++i) {
    EXPECT_DOUBLE_EQ(thumbs[i]->frame.x, 10 + 248.0 * static_cast<double>(i));
    EXPECT_EQ(thumbs[i]->frame.width, 240);
    EXPECT_EQ(thumbs[i]->frame.y, 0);
  }
  EXPECT_EQ(h.host->size().height, thumbs[0]->frame.height);
}

TEST_F(PreviewViewTest, RowsFollowEachOtherWithoutSpacing) {
  std::vector<DockPreviewThumbnailContent> windows;
  for (int i = 0; i < 7; ++i) windows.push_back(thumbnail(i + 1, "W" + std::to_string(i)));
  PreviewHarness h(content(windows));
  auto first = h.thumbnailFrame(0), sixth = h.thumbnailFrame(5);
  EXPECT_EQ(sixth.x, first.x);
  EXPECT_EQ(sixth.y, first.maxY());
  EXPECT_EQ(h.host->size().height, 2 * first.height);
}

TEST_F(PreviewViewTest, NowPlayingControlsSitUnderTheGrid) {
  auto c = content({thumbnail(1, "A"), thumbnail(2, "B")});
  PreviewHarness plain(c);
  c.nowPlayingInfo = track();
  PreviewHarness withTrack(c);
  EXPECT_EQ(withTrack.host->size().height, plain.host->size().height + 80 + 20);
  const ui::Node* card = withTrack.host->root()->findFirst(
      [](const ui::Node& n) { return n.kind == ui::NodeKind::frame && n.el().height == 80.0; });
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(card->frame.y, plain.host->size().height);
  EXPECT_EQ(card->frame.width, 240);
  EXPECT_TRUE(withTrack.host->find("The Artist"));
  EXPECT_TRUE(withTrack.host->find("01:23"));
  // Not in showcase mode: no artwork tint.
  EXPECT_EQ(withTrack.host->root()->findFirst([](const ui::Node& n) { return n.kind == ui::NodeKind::gradient; }),
            nullptr);
}

TEST_F(PreviewViewTest, MediaButtonsReachTheDelegate) {
  auto c = content({thumbnail(1, "A"), thumbnail(2, "B")});
  c.nowPlayingInfo = track(false);
  PreviewHarness h(c);
  ASSERT_TRUE(h.host->click("backward.fill"));
  ASSERT_TRUE(h.host->click("play.fill"));
  ASSERT_TRUE(h.host->click("forward.fill"));
  EXPECT_EQ(h.delegate->take(), (std::vector<std::string>{"media back", "media playPause", "media forward"}));
}

// ---- hover ----

TEST_F(PreviewViewTest, HoverHighlightsOneThumbnailAndLeavingClearsTheSnapPreview) {
  PreviewHarness h(content({thumbnail(1, "A"), thumbnail(2, "B")}));
  h.hoverThumbnail(0);
  EXPECT_TRUE(isHighlighted(h, 0));
  EXPECT_FALSE(isHighlighted(h, 1));
  EXPECT_EQ(h.delegate->take(), (std::vector<std::string>{"hover true"}));
  h.hoverThumbnail(1);
  EXPECT_FALSE(isHighlighted(h, 0));
  EXPECT_TRUE(isHighlighted(h, 1));
  auto calls = h.delegate->take();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "snapHover A none none"), calls.end());
  h.host->mouseExited();
  h.host->layoutIfNeeded();
  EXPECT_FALSE(isHighlighted(h, 1));
  calls = h.delegate->take();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "snapHover B none none"), calls.end());
  EXPECT_EQ(calls.back(), "hover false");
}

// A render evaluates again only the thumbnails whose highlight or content
// changed; the others keep their very elements and their state.
TEST_F(PreviewViewTest, ARenderEvaluatesOnlyTheThumbnailsThatChanged) {
  auto d1 = fakeScreen(1, "D1", 0), d2 = fakeScreen(2, "D2", 1440);
  std::vector<DockPreviewThumbnailContent> windows{thumbnail(1, "A"), thumbnail(2, "B"),
                                                   thumbnail(3, "C", snapActions(d1, d2))};
  PreviewHarness h(content(windows));
  // C shows its snap buttons: right-clicked without being entered.
  const auto c = h.thumbnailFrame(2);
  h.host->rightMouseDown({c.midX(), c.maxY() - 20});
  std::vector<ui::ElementPtr> held;  // kept, so that a body evaluated again cannot reuse their addresses
  auto evaluatedAgain = [&h, &held] {
    std::vector<ui::ElementPtr> now;
    for (const ui::Node* t : h.thumbnails()) now.push_back(t->children.front()->element);
    std::vector<bool> again;
    for (std::size_t i = 0; i < now.size(); ++i) again.push_back(i >= held.size() || now[i] != held[i]);
    held = std::move(now);
    return again;
  };
  evaluatedAgain();
  h.hoverThumbnail(0);
  EXPECT_EQ(evaluatedAgain(), (std::vector<bool>{true, false, false}));
  windows[1].title = "B, renamed";
  h.set(content(windows));
  EXPECT_EQ(evaluatedAgain(), (std::vector<bool>{false, true, false}));
  EXPECT_NE(h.host->find("B, renamed"), nullptr);
  h.hoverThumbnail(2);
  EXPECT_FALSE(h.symbols("rectangle.lefthalf.inset.filled").empty()) << "C kept its state";
}

TEST_F(PreviewViewTest, HoverIsIgnoredWhileAnimatingButLeavingStillClearsTheSnapPreview) {
  auto c = content({thumbnail(1, "A"), thumbnail(2, "B")});
  c.animating = true;
  PreviewHarness h(c);
  h.hoverThumbnail(0);
  EXPECT_FALSE(isHighlighted(h, 0));
  h.hoverThumbnail(1);
  auto calls = h.delegate->take();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "snapHover A none none"), calls.end());
  // Once the animation settled, the next move counts.
  c.animating = false;
  h.set(c);
  h.host->mouseMoved({h.thumbnailFrame(1).midX() + 1, h.thumbnailFrame(1).midY()});
  h.host->layoutIfNeeded();
  EXPECT_TRUE(isHighlighted(h, 1));
}

TEST_F(PreviewViewTest, AChangeInTheNumberOfWindowsClearsTheHighlight) {
  PreviewHarness h(content({thumbnail(1, "A"), thumbnail(2, "B"), thumbnail(3, "C")}));
  h.hoverThumbnail(0);
  ASSERT_TRUE(isHighlighted(h, 0));
  h.set(content({thumbnail(1, "A"), thumbnail(3, "C")}));
  EXPECT_FALSE(isHighlighted(h, 0));
  // Moving again over the thumbnail brings it back.
  h.host->mouseMoved({h.thumbnailFrame(0).midX() + 2, h.thumbnailFrame(0).midY()});
  h.host->layoutIfNeeded();
  EXPECT_TRUE(isHighlighted(h, 0));
  // The same number of windows keeps it.
  h.set(content({thumbnail(1, "A, renamed"), thumbnail(3, "C")}));
  EXPECT_TRUE(isHighlighted(h, 0));
}

// ---- clicks and buttons ----

TEST_F(PreviewViewTest, ClickAndRightClicksReachTheDelegate) {
  auto d1 = fakeScreen(1, "D1", 0), d2 = fakeScreen(2, "D2", 1440);
  PreviewHarness h(content({thumbnail(1, "A", snapActions(d1, d2)), thumbnail(2, "B")}));
  h.hoverThumbnail(0);
  h.delegate->take();
  auto f = h.thumbnailFrame(0);
  // Below the capture, on the title row.
  h.host->click(ui::Point{f.midX(), f.maxY() - 20});
  h.host->rightMouseDown({f.midX(), f.maxY() - 20});
  h.host->layoutIfNeeded();
  EXPECT_FALSE(h.symbols("rectangle.lefthalf.inset.filled").empty()) << "the snap bar is shown";
  EXPECT_TRUE(h.symbols("xmark").empty());
  h.host->rightMouseDown({f.midX(), f.maxY() - 20});
  h.host->layoutIfNeeded();
  EXPECT_TRUE(h.symbols("rectangle.lefthalf.inset.filled").empty());
  EXPECT_FALSE(h.symbols("xmark").empty());
  EXPECT_EQ(h.delegate->take(), (std::vector<std::string>{"click A", "rightClick A true", "rightClick A false"}));
}

TEST_F(PreviewViewTest, SnapButtonsPreviewTheirTargetOnlyAfterTheBarSettled) {
  auto d1 = fakeScreen(1, "D1", 0), d2 = fakeScreen(2, "D2", 1440);
  PreviewHarness h(content({thumbnail(1, "A", snapActions(d1, d2))}));
  h.hoverThumbnail(0);
  ASSERT_EQ(h.symbols("ellipsis").size(), 1u);
  ui::clearRecordedAnimations();
  h.clickOn(*h.symbols("ellipsis")[0]);
  ASSERT_EQ(h.symbols("rectangle.lefthalf.inset.filled").size(), 1u);
  // The bar grows out of the ellipsis button with its spring.
  EXPECT_EQ(ui::recordedAnimations(),
            (std::vector<ui::Animation>{ui::Animation::interpolatingSpring(0.2, 100, 20, 0)}));
  EXPECT_EQ(h.host->lastRenderAnimation(), ui::Animation::interpolatingSpring(0.2, 100, 20, 0));
  withoutPanelHover(h.delegate->take());
  // The bar ignores the pointer for its first 0.2 s.
  h.moveTo(*h.symbols("rectangle.lefthalf.inset.filled")[0]);
  EXPECT_TRUE(withoutPanelHover(h.delegate->take()).empty());
  h.moveTo(*h.symbols("rectangle.inset.filled")[0]);
  sched.advance(0.2);
  h.moveTo(*h.symbols("rectangle.lefthalf.inset.filled")[0]);
  EXPECT_EQ(withoutPanelHover(h.delegate->take()), (std::vector<std::string>{"snapHover A left D1"}));
  // The hovered button is drawn highlighted.
  EXPECT_EQ(h.symbols("rectangle.lefthalf.inset.filled")[0]->foreground(), ui::Color::controlAccentColor());
  EXPECT_EQ(h.symbols("rectangle.inset.filled")[0]->foreground(), ui::Color::controlTextColor());
  // Off the button but still on the thumbnail: the preview is cleared.
  auto f = h.thumbnailFrame(0);
  h.host->mouseMoved({f.midX(), f.maxY() - 20});
  h.host->layoutIfNeeded();
  EXPECT_EQ(withoutPanelHover(h.delegate->take()), (std::vector<std::string>{"snapHover A none none"}));
  // A move button previews the other display maximized, and its click says maximized.
  h.moveTo(*h.symbols("display")[0]);
  EXPECT_EQ(withoutPanelHover(h.delegate->take()), (std::vector<std::string>{"snapHover A maximized D2"}));
  h.clickOn(*h.symbols("display")[0]);
  h.clickOn(*h.symbols("rectangle.righthalf.inset.filled")[0]);
  auto calls = withoutPanelHover(h.delegate->take());
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0], "snapClick A maximized D2");
  EXPECT_EQ(calls.back(), "snapClick A right D1");
}

TEST_F(PreviewViewTest, TheHoverGuardBelongsToTheShowingOfTheBar) {
  auto d1 = fakeScreen(1, "D1", 0), d2 = fakeScreen(2, "D2", 1440);
  PreviewHarness h(content({thumbnail(1, "A", snapActions(d1, d2))}));
  h.hoverThumbnail(0);
  const auto f = h.thumbnailFrame(0);
  auto rightClick = [&] {
    h.host->rightMouseDown({f.midX(), f.maxY() - 20});
    h.host->layoutIfNeeded();
  };
  rightClick();
  sched.advance(0.1);
  // Hidden and shown again: this showing ignores the pointer for its own 0.2 s.
  rightClick();
  rightClick();
  ASSERT_EQ(h.symbols("rectangle.lefthalf.inset.filled").size(), 1u);
  h.moveTo(*h.symbols("rectangle.inset.filled")[0]);
  sched.advance(0.15);
  h.moveTo(*h.symbols("rectangle.lefthalf.inset.filled")[0]);
  EXPECT_EQ(withoutPanelHover(h.delegate->take()), (std::vector<std::string>{"rightClick A true",
                                                                            "rightClick A false",
                                                                            "rightClick A true"}));
  h.moveTo(*h.symbols("rectangle.inset.filled")[0]);
  sched.advance(0.05);
  h.moveTo(*h.symbols("rectangle.lefthalf.inset.filled")[0]);
  EXPECT_EQ(withoutPanelHover(h.delegate->take()), (std::vector<std::string>{"snapHover A left D1"}));
}

TEST_F(PreviewViewTest, CloseButtonClearsTheHighlightAndReportsOnce) {
  PreviewHarness h(content({thumbnail(1, "A"), thumbnail(2, "B")}));
  h.hoverThumbnail(1);
  h.delegate->take();
  ASSERT_EQ(h.symbols("xmark").size(), 1u);
  h.clickOn(*h.symbols("xmark")[0]);
  EXPECT_EQ(h.delegate->take(), (std::vector<std::string>{"close B"}));
  EXPECT_FALSE(isHighlighted(h, 1));
}

TEST_F(PreviewViewTest, WindowsOfOtherSpacesAndFullScreenWindowsOfferFewerButtons) {
  auto otherSpace = thumbnail(1, "Elsewhere", {}, SpaceDisplayMode::otherSpace);
  auto fullscreen = thumbnail(2, "Full", {}, SpaceDisplayMode::fullscreen, ScreenDisplayMode::current, false);
  PreviewHarness h(content({otherSpace, fullscreen}));
  h.hoverThumbnail(0);
  auto first = h.thumbnails()[0];
  EXPECT_EQ(PreviewHarness::symbols(*first, "xmark").size(), 1u);
  EXPECT_TRUE(PreviewHarness::symbols(*first, "ellipsis").empty());
  // A right click still switches to the (empty) snap bar: the close button goes.
  auto f = h.thumbnailFrame(0);
  h.host->rightMouseDown({f.midX(), f.maxY() - 20});
  h.host->layoutIfNeeded();
  EXPECT_TRUE(PreviewHarness::symbols(*h.thumbnails()[0], "xmark").empty());
  h.hoverThumbnail(1);
  auto second = h.thumbnails()[1];
  EXPECT_TRUE(PreviewHarness::symbols(*second, "xmark").empty());
  EXPECT_TRUE(PreviewHarness::symbols(*second, "ellipsis").empty());
  // Moving back over the first: leaving it hid its bar, so the close button is back.
  h.hoverThumbnail(0);
  EXPECT_EQ(PreviewHarness::symbols(*h.thumbnails()[0], "xmark").size(), 1u);
}

TEST_F(PreviewViewTest, WithoutADelegateEveryActionIsANoOp) {
  auto d1 = fakeScreen(1, "D1", 0), d2 = fakeScreen(2, "D2", 1440);
  PreviewHarness h(content({thumbnail(1, "A", snapActions(d1, d2))}), false);
  h.hoverThumbnail(0);
  h.clickOn(*h.symbols("xmark")[0]);
  h.hoverThumbnail(0);
  auto f = h.thumbnailFrame(0);
  h.host->click(ui::Point{f.midX(), f.midY()});
  h.host->mouseExited();
  EXPECT_TRUE(h.delegate->calls.empty());
}

// ---- swipes ----

TEST_F(PreviewViewTest, SwipesStepFromTheStoredTargetAndStartAfreshOnAnotherThumbnail) {
  sim::ScopedScenario scenario(kViewDisplays);
  auto snapshot = ScreenAndSpaceRepository::getScreensAndSpaces();
  ASSERT_TRUE(snapshot);
  ASSERT_EQ(snapshot->screens().size(), 2u);
  auto a = thumbnail(1, "A");
  a.screenSummary = snapshot->screens()[0];
  auto b = thumbnail(2, "B");
  b.screenSummary = snapshot->screens()[0];
  auto elsewhere = thumbnail(3, "C", {}, SpaceDisplayMode::otherSpace);
  elsewhere.screenSummary = snapshot->screens()[0];
  PreviewHarness h(content({a, b, elsewhere}));
  h.hoverThumbnail(0);
  h.delegate->take();
  auto wheel = [&](std::size_t index, double dx) {
    auto f = h.thumbnailFrame(index);
    ui::ScrollEvent e;
    e.location = {f.midX(), f.midY()};
    e.scrollingDeltaX = dx;
    h.host->scrollWheel(e);
    h.host->layoutIfNeeded();
  };
  // Wheel notches to the right (natural scrolling off: a negative delta).
  wheel(0, -1);
  wheel(0, -1);
  EXPECT_EQ(h.delegate->take(), (std::vector<std::string>{"swipe A right Left", "swipe A left Right"}));
  h.hoverThumbnail(1);
  h.delegate->take();
  wheel(1, -1);
  EXPECT_EQ(h.delegate->take(), (std::vector<std::string>{"swipe B right Left"}));
  // A window of another Space is not swiped.
  h.hoverThumbnail(2);
  h.delegate->take();
  wheel(2, -1);
  EXPECT_TRUE(h.delegate->take().empty());
}

TEST_F(PreviewViewTest, ScrollingDoesNothingWhileThePreferenceIsOff) {
  sim::ScopedScenario scenario(kViewDisplays);
  ns::UserDefaults::standard()->setObject("scrollPreviewSnappingEnabled", ns::Value(false));
  auto a = thumbnail(1, "A");
  a.screenSummary = ScreenAndSpaceRepository::getScreensAndSpaces()->screens()[0];
  PreviewHarness h(content({a}));
  h.hoverThumbnail(0);
  h.delegate->take();
  ui::ScrollEvent e;
  e.location = {h.thumbnailFrame(0).midX(), h.thumbnailFrame(0).midY()};
  e.scrollingDeltaX = -1;
  h.host->scrollWheel(e);
  EXPECT_TRUE(h.delegate->take().empty());
  // Turned on, the thumbnails take scrolls at once.
  ns::UserDefaults::standard()->setObject("scrollPreviewSnappingEnabled", ns::Value(true));
  h.host->layoutIfNeeded();
  h.host->scrollWheel(e);
  EXPECT_EQ(h.delegate->take(), (std::vector<std::string>{"swipe A right Left"}));
}

// ---- pixels ----

TEST_F(PreviewViewTest, PixelsOfARenderedPreview) {
  PreviewHarness h(content({thumbnail(1, "A"), thumbnail(2, "B")}));
  auto plain = h.host->render(1.0);
  // The rounded corner is cut away; the side padding shows the popover material.
  EXPECT_EQ(plain.pixel(0, 0).a, 0);
  const int midY = static_cast<int>(h.thumbnailFrame(0).midY());
  auto material = plain.pixel(4, midY);
  EXPECT_GT(material.a, 200);
  EXPECT_GT(material.r, 235);
  EXPECT_EQ(material.r, material.b);
  // Inside the first capture: its blue.
  auto image = h.host->root()->findFirst([](const ui::Node& n) { return n.kind == ui::NodeKind::image; })->frame;
  auto inside = plain.pixel(static_cast<int>(image.midX()), static_cast<int>(image.midY()));
  EXPECT_LT(channelDistance(inside, {40, 90, 200, 255}), 12);
  // The highlight ring is invisible until the pointer rests on the thumbnail.
  const int edgeX = static_cast<int>(image.x) + 1, edgeY = static_cast<int>(image.midY());
  EXPECT_LT(channelDistance(plain.pixel(edgeX, edgeY), {40, 90, 200, 255}), 12);
  h.hoverThumbnail(0);
  auto lit = h.host->render(1.0);
  auto ring = lit.pixel(edgeX, edgeY);
  auto accent = img::Pixel{0, 122, 255, 255};
  EXPECT_LT(channelDistance(ring, accent), channelDistance(plain.pixel(edgeX, edgeY), accent));
  EXPECT_GT(ring.b, 220);
}

TEST_F(PreviewViewTest, ShowcaseArtworkTintsTheBackgroundFromTheTop) {
  auto art = img::Image::withBitmap(*img::Bitmap::filled(40, 40, img::Pixel{220, 20, 20, 255}));
  auto entry = thumbnail(1, "");
  entry.thumbnailImage = art;
  entry.isNowPlaying = true;
  auto c = content({entry});
  c.nowPlayingInfo = track();
  c.nowPlayingInfo->artwork = art;
  c.nowPlayingShowcaseMode = true;
  PreviewHarness h(c);
  const ui::Node* gradient =
      h.host->root()->findFirst([](const ui::Node& n) { return n.kind == ui::NodeKind::gradient; });
  ASSERT_NE(gradient, nullptr);
  ASSERT_EQ(gradient->el().gradientColors.size(), 2u);
  EXPECT_EQ(gradient->el().gradientColors[0], ui::Color::clear());
  EXPECT_GT(gradient->el().gradientColors[1].r, 0.8);
  auto bitmap = h.host->render(1.0);
  const int height = bitmap.pixelsHigh();
  auto top = bitmap.pixel(4, 12), bottom = bitmap.pixel(4, height - 12);
  EXPECT_GT(top.r - top.g, bottom.r - bottom.g) << "redder at the top";
  // Without colours (a fully transparent artwork) there is no tint.
  auto clear = img::Image::withBitmap(*img::Bitmap::create(40, 40));
  c.nowPlayingInfo->artwork = clear;
  h.set(c);
  EXPECT_EQ(h.host->root()->findFirst([](const ui::Node& n) { return n.kind == ui::NodeKind::gradient; }), nullptr);
}

TEST_F(PreviewViewTest, AThumbnailWithoutButtonsStillTakesClicksHoversAndRightClicks) {
  auto bare = thumbnail(1, "Bare", {}, SpaceDisplayMode::normal, ScreenDisplayMode::current, false);
  PreviewHarness h(content({bare}));
  h.hoverThumbnail(0);
  EXPECT_TRUE(h.symbols("xmark").empty());
  EXPECT_TRUE(h.symbols("ellipsis").empty());
  auto f = h.thumbnailFrame(0);
  h.host->click(ui::Point{f.midX(), f.midY()});
  h.host->rightMouseDown({f.midX(), f.midY()});
  h.host->layoutIfNeeded();
  h.host->mouseExited();
  h.host->layoutIfNeeded();
  EXPECT_EQ(h.delegate->take(), (std::vector<std::string>{"hover true", "click Bare", "rightClick Bare true",
                                                          "snapHover Bare none none", "hover false"}));
}
