#include <gtest/gtest.h>

#include "app/model/ScreenAndSpaceRepository.h"
#include "app/model/WindowSummary.h"
#include "app/previews/DockPreviewPresenter.h"
#include "app/previews/tests/PreviewTestSupport.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/sim/Scenario.h"

namespace {

using previewtest::capture;
using previewtest::windowElement;
using ButtonAction = DockPreviewThumbnailContent::ButtonAction;
using ScreenDisplayMode = DockPreviewThumbnailContent::ScreenDisplayMode;
using SpaceDisplayMode = DockPreviewThumbnailContent::SpaceDisplayMode;

// The left display has user Spaces 1 (current) and 2 and a full-screen Space
// 3; the right display has Space 10. The pointer is on the right display.
const char* const kTwoDisplays = R"({
  "displays": [
    {"id": 1, "name": "Left", "frame": [0, 0, 1440, 900], "visibleFrame": [0, 70, 1440, 805],
     "spaces": [{"id": 1}, {"id": 2}, {"id": 3, "type": "fullscreen"}], "currentSpace": 1},
    {"id": 2, "name": "Right", "frame": [1440, 0, 1920, 1080], "visibleFrame": [1440, 0, 1920, 1055],
     "spaces": [{"id": 10}]}
  ],
  "mouse": [2000, 500]
})";

class PresenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appkit::WindowList::resetForTesting();
    previous_ = ns::UserDefaults::standard();
    ns::UserDefaults::setStandard(ns::UserDefaults::inMemory());
    snapshot = ScreenAndSpaceRepository::getScreensAndSpaces();
    ASSERT_TRUE(snapshot);
    ASSERT_EQ(snapshot->screens().size(), 2u);
    left = snapshot->screens()[0];
    right = snapshot->screens()[1];
    controller = DockPreviewWindowController::make(DockPreviewWindowController::makePanel());
    presenter = std::make_unique<DockPreviewPresenter>(controller);
  }
  void TearDown() override {
    presenter.reset();
    controller.reset();
    appkit::WindowList::resetForTesting();
    ns::UserDefaults::setStandard(previous_);
  }

  SpaceSummary space(const ScreenSummary& screen, std::uint64_t id) {
    for (const auto& s : screen.spaces) {
      if (s.id == id) return s;
    }
    ADD_FAILURE() << "no Space " << id;
    return {};
  }

  WindowSummary window(std::uint64_t id, std::string title, const ScreenSummary& screen, std::uint64_t spaceID,
                       bool resizable = true, bool withCapture = true) {
    WindowSummary w{windowElement(id), space(screen, spaceID), screen};
    w.title = std::move(title);
    w.isResizable = resizable;
    if (withCapture) w.thumbnailImage = capture(1280, 800);
    return w;
  }

  // One screen group per display, one Space group per Space, in the order given.
  ApplicationSummary summary(const std::vector<std::pair<ScreenSummary, std::vector<WindowSummary>>>& groups) {
    ApplicationSummary s;
    s.title = "Editor";
    s.bundleID = "com.example.editor";
    for (const auto& [screen, windows] : groups) {
      ApplicationSummaryScreen group{screen};
      for (const auto& w : windows) {
        auto it = std::find_if(group.spaces.begin(), group.spaces.end(),
                               [&](const ApplicationSummarySpace& sp) { return sp.summary.id == w.space.id; });
        if (it == group.spaces.end()) {
          group.spaces.push_back(ApplicationSummarySpace{w.space});
          it = group.spaces.end() - 1;
        }
        it->windows.push_back(w);
      }
      s.screens.push_back(group);
    }
    return s;
  }

  ApplicationSummary windowsOnLeft(int count) {
    std::vector<WindowSummary> windows;
    for (int i = 0; i < count; ++i) windows.push_back(window(100 + i, "Window " + std::to_string(i), left, 1));
    return summary({{left, windows}});
  }

  sim::ScopedScenario scenario{kTwoDisplays};
  dispatch::VirtualClockScope clock;
  dispatch::Scheduler& sched = dispatch::Scheduler::shared();
  std::shared_ptr<const ScreenAndSpaceCollection> snapshot;
  ScreenSummary left, right;
  std::shared_ptr<DockPreviewWindowController> controller;
  std::unique_ptr<DockPreviewPresenter> presenter;

 private:
  std::shared_ptr<ns::UserDefaults> previous_;
};

std::vector<std::string> titles(const DockPreviewContent& c) {
  std::vector<std::string> out;
  for (const auto& w : c.windows) out.push_back(w.title);
  return out;
}

NowPlayingInfo trackWithArtwork() {
  NowPlayingInfo info;
  info.artist = "Artist";
  info.title = "Song";
  info.duration = 200;
  info.getPlaybackPosition = [] { return 10.0; };
  info.artwork = capture(600, 600, {200, 30, 30, 255});
  return info;
}

}  // namespace

// ---- content ----

TEST_F(PresenterTest, WindowsAreListedDisplayByDisplayFromTheLeft) {
  auto s = summary({{right, {window(1, "R1", right, 10)}},
                    {left, {window(2, "L1", left, 1), window(3, "L2", left, 2), window(4, "L3", left, 1)}}});
  auto content = presenter->makeContent(s, 5, right.screen, std::nullopt);
  ASSERT_TRUE(content);
  EXPECT_EQ(content->title, "Editor");
  // Left display first; within it the Space groups in their order.
  EXPECT_EQ(titles(*content), (std::vector<std::string>{"L1", "L3", "L2", "R1"}));
  EXPECT_EQ(content->numberOfColumns, 4);
  EXPECT_FALSE(content->animating);
  EXPECT_FALSE(content->nowPlayingShowcaseMode);
  const auto& l1 = content->windows[0];
  EXPECT_EQ(l1.screenDisplayMode, ScreenDisplayMode::left);
  EXPECT_EQ(l1.spaceDisplayMode, SpaceDisplayMode::normal);
  EXPECT_EQ(l1.screenSummary.id, left.id);
  EXPECT_EQ(content->windows[2].spaceDisplayMode, SpaceDisplayMode::otherSpace);
  EXPECT_EQ(content->windows[3].screenDisplayMode, ScreenDisplayMode::current);
  // From the left display's point of view the right one is to the right.
  auto fromLeft = presenter->makeContent(s, 5, left.screen, std::nullopt);
  EXPECT_EQ(fromLeft->windows[3].screenDisplayMode, ScreenDisplayMode::right);
  EXPECT_EQ(fromLeft->windows[0].screenDisplayMode, ScreenDisplayMode::current);
}

TEST_F(PresenterTest, SnapActionsListEveryDisplayFromTheLeft) {
  auto s = summary({{left, {window(1, "L", left, 1)}}});
  auto content = presenter->makeContent(s, 5, right.screen, std::nullopt);
  ASSERT_TRUE(content);
  // The pointer's display (the right one) gets the three snaps, the other a move.
  EXPECT_EQ(content->windows[0].snapButtonActions,
            (std::vector<ButtonAction>{ButtonAction::screen(left.screen), ButtonAction::snap(SnapAlignment::left, right.screen),
                                       ButtonAction::snap(SnapAlignment::maximized, right.screen),
                                       ButtonAction::snap(SnapAlignment::right, right.screen)}));
  EXPECT_TRUE(content->windows[0].closeButtonEnabled);
  // A window that cannot be resized is only moved, to the current display too.
  auto fixed = presenter->makeContent(summary({{left, {window(2, "Fixed", left, 1, false)}}}), 5, right.screen,
                                      std::nullopt);
  EXPECT_EQ(fixed->windows[0].snapButtonActions,
            (std::vector<ButtonAction>{ButtonAction::screen(left.screen), ButtonAction::screen(right.screen)}));
}

TEST_F(PresenterTest, OtherSpacesAndFullScreenSpacesOfferNoSnaps) {
  auto s = summary({{left, {window(1, "Other", left, 2), window(2, "Full", left, 3)}}});
  auto content = presenter->makeContent(s, 5, left.screen, std::nullopt);
  ASSERT_TRUE(content);
  const auto& other = content->windows[0];
  EXPECT_EQ(other.spaceDisplayMode, SpaceDisplayMode::otherSpace);
  EXPECT_TRUE(other.snapButtonActions.empty());
  EXPECT_TRUE(other.closeButtonEnabled);
  EXPECT_EQ(other.userSpaceNumber, "2");
  const auto& full = content->windows[1];
  EXPECT_TRUE(full.snapButtonActions.empty());
  EXPECT_FALSE(full.closeButtonEnabled);
  EXPECT_EQ(full.userSpaceNumber, "") << "a full-screen Space has no user number";
  EXPECT_NE(full.spaceDisplayMode, SpaceDisplayMode::fullscreen) << "the presenter never produces fullscreen";
}

// Windows without a capture share one white placeholder, and the panel draws
// the very pixels of the placeholder and the captures: none are copied.
TEST_F(PresenterTest, ThumbnailsShareTheCapturesAndOnePlaceholder) {
  const auto blank = window(1, "Blank", left, 1, true, false), blankToo = window(2, "Blank too", left, 1, true, false);
  const auto captured = window(3, "Captured", left, 1);
  auto content = presenter->makeContent(summary({{left, {blank, blankToo, captured}}}), 5, left.screen, std::nullopt);
  ASSERT_TRUE(content);
  const auto& image = content->windows[0].thumbnailImage;
  EXPECT_EQ(image.size().width, 40);
  EXPECT_EQ(image.size().height, 30);
  ASSERT_TRUE(image.bestRepresentation());
  EXPECT_EQ(image.bestRepresentation()->pixel(20, 15), (img::Pixel{255, 255, 255, 255}));
  previewtest::PreviewHarness h(*content);
  std::vector<std::shared_ptr<const img::Bitmap>> drawn;
  h.host->root()->findFirst([&](const ui::Node& n) {
    if (n.kind == ui::NodeKind::image) drawn.push_back(n.el().image->bestRepresentation());
    return false;
  });
  const auto placeholder = image.bestRepresentation();
  EXPECT_EQ(drawn, (std::vector{placeholder, placeholder, captured.thumbnailImage->bestRepresentation()}));
}

TEST_F(PresenterTest, TheSingleWindowOfAMusicPlayerBecomesItsArtwork) {
  auto info = trackWithArtwork();
  auto one = presenter->makeContent(windowsOnLeft(1), 5, left.screen, info);
  ASSERT_TRUE(one);
  EXPECT_TRUE(one->nowPlayingShowcaseMode);
  ASSERT_EQ(one->windows.size(), 1u);
  EXPECT_EQ(one->windows[0].title, "");
  EXPECT_TRUE(one->windows[0].isNowPlaying);
  EXPECT_TRUE(one->windows[0].thumbnailImage.isSameObject(*info.artwork));
  EXPECT_EQ(one->windows[0].element, windowElement(100));

  auto two = presenter->makeContent(windowsOnLeft(2), 5, left.screen, info);
  EXPECT_FALSE(two->nowPlayingShowcaseMode);
  EXPECT_TRUE(two->nowPlayingInfo.has_value()) << "the controls still show under the grid";
  EXPECT_FALSE(two->windows[0].isNowPlaying);

  info.artwork.reset();
  auto noArtwork = presenter->makeContent(windowsOnLeft(1), 5, left.screen, info);
  EXPECT_FALSE(noArtwork->nowPlayingShowcaseMode);
  EXPECT_EQ(noArtwork->windows[0].title, "Window 0");
  EXPECT_TRUE(noArtwork->nowPlayingInfo.has_value());
}

TEST_F(PresenterTest, WithoutScreensAndSpacesNothingIsShown) {
  scenario.world().setManagedDisplaySpacesFails(true);
  EXPECT_FALSE(presenter->makeContent(windowsOnLeft(2), 5, left.screen, std::nullopt));
  presenter->present(windowsOnLeft(2), std::nullopt, left.screen, false, CGPoint{700, 75});
  EXPECT_FALSE(controller->window()->isVisible());
  EXPECT_FALSE(*controller->viewController()->contentContainer()->value);
}

// ---- columns ----

TEST_F(PresenterTest, ColumnsStayWhileThePanelFitsAndARowWouldBeAdded) {
  auto measureFor = [&](int windows, double visibleWidth) {
    auto content = *presenter->makeContent(windowsOnLeft(windows), 5, left.screen, std::nullopt);
    CGSize size{};
    DockPreviewPresenter::measureContent(content, 5, size, visibleWidth);
    return std::make_pair(content.numberOfColumns, size);
  };
  // Four windows fit at four columns; three would add a row.
  auto [four, fourSize] = measureFor(4, 1440);
  EXPECT_EQ(four, 4);
  EXPECT_EQ(fourSize.width, 4 * 240 + 3 * 8 + 20);
  // Too wide for the screen: narrower is taken, and two columns keep the two rows.
  EXPECT_EQ(measureFor(4, 900).first, 2);
  // Seven windows: five columns, then four (still two rows); three would add a row.
  auto [seven, sevenSize] = measureFor(7, 1440);
  EXPECT_EQ(seven, 4);
  EXPECT_EQ(sevenSize.width, 1004);
  EXPECT_EQ(measureFor(7, 1100).first, 4);
  // Unless the four-column panel is wider than the screen.
  EXPECT_EQ(measureFor(7, 1000).first, 3);
  // One or two windows keep the first layout, however narrow the screen.
  EXPECT_EQ(measureFor(1, 100).first, 1);
  EXPECT_EQ(measureFor(2, 100).first, 2);
  // Never below two columns.
  EXPECT_EQ(measureFor(9, 100).first, 2);
}

TEST_F(PresenterTest, MeasuringMatchesThePanelsLayout) {
  auto content = *presenter->makeContent(windowsOnLeft(3), 5, left.screen, std::nullopt);
  auto size = DockPreviewPresenter::measure(content);
  previewtest::PreviewHarness h(content);
  EXPECT_EQ(size.width, h.host->size().width);
  EXPECT_EQ(size.height, h.host->size().height);
}

TEST_F(PresenterTest, PanelsStayInsideTheVisibleFrame) {
  const CGRect visible = left.screen->visibleFrame();
  struct Case {
    const char* name;
    int windows;
    CGSize capture;
    bool shrunk;
  };
  for (const Case& c : {Case{"one portrait window", 1, {300, 780}, false},
                        Case{"four portrait windows", 4, {300, 780}, false},
                        Case{"more windows than could ever fit at full size", 140, {1280, 800}, true}}) {
    SCOPED_TRACE(c.name);
    std::vector<WindowSummary> windows;
    for (int i = 0; i < c.windows; ++i) {
      windows.push_back(window(100 + i, "Window " + std::to_string(i), left, 1));
      windows.back().thumbnailImage = capture(c.capture.width, c.capture.height);
    }
    presenter->present(summary({{left, windows}}), std::nullopt, left.screen, false, CGPoint{700, 75});
    const CGRect panel = controller->window()->frame();
    EXPECT_GE(panel.minX(), visible.minX());
    EXPECT_GE(panel.minY(), visible.minY());
    EXPECT_LE(panel.maxX(), visible.maxX());
    EXPECT_LE(panel.maxY(), visible.maxY());
    const auto shown = **controller->viewController()->contentContainer()->value;
    EXPECT_EQ(shown.cellScale < 1, c.shrunk);
    // The panel's size is the size of its laid-out content.
    const CGSize measured = DockPreviewPresenter::measure(shown);
    EXPECT_NEAR(panel.size.width, measured.width, 1);
    EXPECT_NEAR(panel.size.height, measured.height, 1);

    // Every thumbnail keeps within the cell's maximum height, at the cells' scale,
    // and, shrunk, is still what the pointer reaches there.
    previewtest::PreviewHarness h(shown);
    h.host->layoutIfNeeded();
    const auto thumbnails = h.thumbnails();
    ASSERT_EQ(thumbnails.size(), static_cast<std::size_t>(c.windows));
    for (const auto* t : thumbnails) ASSERT_LE(t->frame.height, DockPreviewView::kThumbnailMaximumHeight + 1e-6);
    if (!c.shrunk) continue;
    // The middle of the last cell, as the panel shows it.
    const std::size_t last = thumbnails.size() - 1;
    const ui::Node* cell = thumbnails[last];
    while (cell->parent && cell->kind != ui::NodeKind::flexFrame) cell = cell->parent;
    if (cell->parent && cell->parent->kind == ui::NodeKind::scale) cell = cell->parent;
    h.host->click(ui::Point{cell->frame.midX(), cell->frame.midY()});
    EXPECT_EQ(h.delegate->take(), (std::vector<std::string>{"click Window " + std::to_string(last)}));
  }
}

// ---- placement ----

TEST(PanelPlacement, CentredElevenPointsAboveTheIcon) {
  const CGRect visible(0, 70, 1440, 805);
  EXPECT_EQ(DockPreviewPresenter::panelOrigin({700, 75}, {508, 200}, visible), (CGPoint{446, 86}));
}

TEST(PanelPlacement, KeptInsideTheVisibleFrame) {
  const CGRect visible(100, 70, 1440, 805);
  // Near the left end.
  EXPECT_EQ(DockPreviewPresenter::panelOrigin({150, 75}, {508, 200}, visible).x, 100);
  // Near the right end.
  EXPECT_EQ(DockPreviewPresenter::panelOrigin({1500, 75}, {508, 200}, visible).x, 100 + 1440 - 508);
  // Near the top of a short screen: the top edge meets the visible frame's top.
  const CGRect shortScreen(0, 0, 1440, 300);
  EXPECT_EQ(DockPreviewPresenter::panelOrigin({700, 200}, {508, 200}, shortScreen).y, 100);
  // Larger than the visible frame: its left and bottom edges stay on the frame's.
  EXPECT_EQ(DockPreviewPresenter::panelOrigin({700, 75}, {2000, 1000}, visible), (CGPoint{100, 70}));
}

// ---- presenting and dismissing ----

TEST_F(PresenterTest, PresentShowsTheMeasuredPanelAboveTheAnchor) {
  presenter->present(windowsOnLeft(2), std::nullopt, left.screen, false, CGPoint{700, 75});
  auto panel = controller->window();
  ASSERT_TRUE(panel->isVisible());
  auto shown = *controller->viewController()->contentContainer()->value;
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->numberOfColumns, 2);
  const CGSize size = DockPreviewPresenter::measure(*shown);
  EXPECT_EQ(panel->frame().size.width, std::trunc(size.width));
  EXPECT_EQ(panel->frame().origin.x, std::trunc(700 - size.width / 2));
  EXPECT_EQ(panel->frame().origin.y, 86);
  EXPECT_EQ(panel->alphaValue(), 1.0);
  // The panel's tree shows both windows.
  auto host = panel->contentHost();
  EXPECT_TRUE(host->find("Window 0"));
  EXPECT_TRUE(host->find("Window 1"));
}

TEST_F(PresenterTest, DismissingWithoutAnimationClearsAtOnce) {
  presenter->present(windowsOnLeft(2), std::nullopt, left.screen, true, CGPoint{700, 75});
  presenter->dismiss(false);
  EXPECT_FALSE(controller->window()->isVisible());
  EXPECT_FALSE(*controller->viewController()->contentContainer()->value);
  // The animated presentation's second step does not bring the content back.
  sched.advance(1.0);
  EXPECT_FALSE(*controller->viewController()->contentContainer()->value);
}

TEST_F(PresenterTest, DismissingWithAnimationFadesThenClears) {
  presenter->present(windowsOnLeft(2), std::nullopt, left.screen, false, CGPoint{700, 75});
  presenter->dismiss(true);
  auto panel = controller->window();
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->alphaValue(), 0.0);
  sched.advance(0.5);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_FALSE(*controller->viewController()->contentContainer()->value);
  sched.advance(0.5);
  EXPECT_FALSE(*controller->viewController()->contentContainer()->value);
}

TEST_F(PresenterTest, APresentationDuringTheFadeKeepsThePanel) {
  presenter->present(windowsOnLeft(2), std::nullopt, left.screen, false, CGPoint{700, 75});
  presenter->dismiss(true);
  sched.advance(0.3);
  presenter->present(windowsOnLeft(3), std::nullopt, left.screen, false, CGPoint{700, 75});
  sched.advance(2.0);
  EXPECT_TRUE(controller->window()->isVisible());
  EXPECT_EQ(controller->window()->alphaValue(), 1.0);
  ASSERT_TRUE(*controller->viewController()->contentContainer()->value);
  EXPECT_EQ((*controller->viewController()->contentContainer()->value)->windows.size(), 3u);
}
