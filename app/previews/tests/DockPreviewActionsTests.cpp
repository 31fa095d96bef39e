#include <gtest/gtest.h>

#include "app/previews/tests/CoordinatorTestSupport.h"
#include "app/preferences/Preferences.h"

namespace {

using namespace coordtest;
using SpaceDisplayMode = DockPreviewThumbnailContent::SpaceDisplayMode;
using ScreenDisplayMode = DockPreviewThumbnailContent::ScreenDisplayMode;
using Properties = AnalyticsTelemetry::Properties;

const Properties kCurrentNormal{{"window_ScreenDisplayMode", "current"}, {"window_SpaceDisplayMode", "normal"}};

DockPreviewThumbnailContent contentFor(pid_t pid, std::uint32_t id,
                                       SpaceDisplayMode space = SpaceDisplayMode::normal,
                                       ScreenDisplayMode screen = ScreenDisplayMode::current) {
  ScreenSummary screenSummary;
  screenSummary.screen = appkit::NSScreen::screens().at(0);
  return DockPreviewThumbnailContent{windowElement(pid, id), "", img::Image(), space, screenSummary, screen, "1",
                                     false, false, {}, true};
}

class PreviewActions : public CoordinatorTest {
 protected:
  std::optional<pid_t> frontmost() const { return world.frontmostApplication(); }
  std::vector<std::uint32_t> zOrder() const { return world.zOrder(); }

  // Hovers the thumbnail and right-clicks it: its snap bar comes up and, after
  // its short delay, reports hovers.
  void openSnapBar(const std::string& title) {
    auto point = thumbnailPoint(title);
    ASSERT_TRUE(point);
    moveTo(*point);
    click(*point, sim::MouseButton::right);
    advance(0.25);
  }
};

// ---- selecting a window

TEST_F(PreviewActions, ClickingAThumbnailRestoresRaisesAndActivatesItsWindow) {
  world.setWindowMinimized(kDrafts, true);
  controllerOf(kMail)->minimizedElements.push_back(windowElement(kMail, kDrafts));
  world.activateApplication(kNotes);
  showPreview(kMailIcon);
  ASSERT_EQ(panelTitles(), (std::vector<std::string>{"Inbox", "Drafts", "Archive"}));

  auto drafts = thumbnailPoint("Drafts");
  ASSERT_TRUE(drafts);
  moveTo(*drafts);
  click(*drafts);
  advance(0.1);
  EXPECT_FALSE(world.window(kDrafts)->minimized);
  EXPECT_EQ(zOrder().front(), kDrafts);
  EXPECT_EQ(frontmost(), kMail);
  // Hidden at once, without the fade.
  EXPECT_FALSE(panelShown());
  EXPECT_EQ(panel()->alphaValue(), 1.0);
  ASSERT_EQ(telemetry->names(), (std::vector<std::string>{"dockPreview_SelectWindow"}));
  EXPECT_EQ(telemetry->events[0].properties, kCurrentNormal);
}

TEST_F(PreviewActions, OutsideAutomaticAnalyticsTheActionsWorkWithoutEvents) {
  for (auto mode : {AnalyticsMode::manualReportingOnly, AnalyticsMode::minimalAnalytics}) {
    analytics->setMode(mode);
    world.activateApplication(kNotes);
    moveTo(kDockGap);
    showPreview(kMailIcon);
    auto inbox = thumbnailPoint("Inbox");
    ASSERT_TRUE(inbox);
    click(*inbox);
    advance(0.1);
    EXPECT_EQ(frontmost(), kMail);
    EXPECT_FALSE(panelShown());
  }
  EXPECT_TRUE(telemetry->events.empty());
}

TEST_F(PreviewActions, AClickForAnApplicationNoLongerPresentedStillHidesAndRecords) {
  snapController->snapMode = SnapController::SnapMode::snap(
      windowElement(kNotes, kMemo), SnapAlignmentAndScreen{SnapAlignment::left, appkit::NSScreen::screens().at(0)}, {});
  world.activateApplication(kNotes);
  coordinator->didClickOnThumbnail(contentFor(kMail, kInbox));
  advance(0.2);
  // The pending snap was carried out; nothing was activated.
  EXPECT_EQ(frameOf(kMemo), (CGRect{0, 25, 720, 805}));
  EXPECT_EQ(frontmost(), kNotes);
  EXPECT_EQ(telemetry->names(), (std::vector<std::string>{"dockPreview_SelectWindow"}));
}

// ---- right clicks

TEST_F(PreviewActions, ARightClickActivatesTheWindowAndKeepsThePanel) {
  world.activateApplication(kNotes);
  showPreview(kMailIcon);
  openSnapBar("Drafts");
  EXPECT_EQ(frontmost(), kMail);
  EXPECT_EQ(zOrder().front(), kDrafts);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(telemetry->names(), (std::vector<std::string>{"dockPreview_RightClickOnWindow_Activate"}));
  EXPECT_FALSE(symbols("rectangle.lefthalf.inset.filled").empty());
}

TEST_F(PreviewActions, ARightClickOnAWindowOfAnotherSpaceSelectsIt) {
  showPreview(kMailIcon);
  auto archive = thumbnailPoint("Archive");
  ASSERT_TRUE(archive);
  moveTo(*archive);
  click(*archive, sim::MouseButton::right);
  advance(0.1);
  EXPECT_FALSE(panelShown());
  ASSERT_EQ(telemetry->names(), (std::vector<std::string>{"dockPreview_SelectWindow"}));
  EXPECT_EQ(telemetry->events[0].properties,
            (Properties{{"window_ScreenDisplayMode", "current"}, {"window_SpaceDisplayMode", "otherSpace"}}));
}

TEST_F(PreviewActions, DeactivatingGivesTheFocusToThePreviousOtherWindow) {
  showPreview(kMailIcon);
  repository->recentActiveWindows = {{controllerOf(kMail), windowElement(kMail, kInbox)},
                                     {controllerOf(kNotes), windowElement(kNotes, kMemo)}};
  coordinator->didRightClickOnThumbnail(contentFor(kMail, kInbox), false);
  advance(0.1);
  EXPECT_EQ(frontmost(), kNotes);
  EXPECT_EQ(zOrder().front(), kMemo);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(telemetry->names(), (std::vector<std::string>{"dockPreview_RightClickOnWindow_Deactivate"}));
}

TEST_F(PreviewActions, DeactivatingTheOnlyRecentWindowChangesNothing) {
  repository->recentActiveWindows = {{controllerOf(kMail), windowElement(kMail, kInbox)}};
  coordinator->didRightClickOnThumbnail(contentFor(kMail, kInbox), false);
  advance(0.1);
  EXPECT_EQ(frontmost(), kMail);
  EXPECT_FALSE(world.application(kMail)->hidden);
  EXPECT_EQ(telemetry->names(), (std::vector<std::string>{"dockPreview_RightClickOnWindow_Deactivate"}));
}

TEST_F(PreviewActions, DeactivatingWhenTheNextEntryHasNoWindowHidesTheFirstEntrysApplication) {
  repository->recentActiveWindows = {{controllerOf(kMail), windowElement(kMail, kInbox)},
                                     {controllerOf(kNotes), std::nullopt}};
  coordinator->didRightClickOnThumbnail(contentFor(kMail, kInbox), false);
  advance(0.1);
  EXPECT_TRUE(world.application(kMail)->hidden);
  EXPECT_FALSE(world.application(kNotes)->hidden);
}

// ---- closing

TEST_F(PreviewActions, TheCloseButtonClosesTheWindowAndThePanelIsRebuilt) {
  showPreview(kMailIcon);
  auto inbox = thumbnailPoint("Inbox");
  ASSERT_TRUE(inbox);
  moveTo(*inbox);
  auto close = symbolPoint("xmark");
  ASSERT_TRUE(close);
  click(*close);
  advance(1.0);
  EXPECT_FALSE(world.window(kInbox));
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panelTitles(), (std::vector<std::string>{"Drafts", "Archive"}));
  ASSERT_EQ(telemetry->names(), (std::vector<std::string>{"dockPreview_CloseWindow"}));
  EXPECT_EQ(telemetry->events[0].properties, kCurrentNormal);
}

TEST_F(PreviewActions, ClosingTheLastWindowHidesThePanelWithAFade) {
  showPreview(kNotesIcon);
  auto memo = thumbnailPoint("Memo");
  ASSERT_TRUE(memo);
  moveTo(*memo);
  auto close = symbolPoint("xmark");
  ASSERT_TRUE(close);
  click(*close);
  drain();
  EXPECT_FALSE(world.window(kMemo));
  EXPECT_EQ(panel()->alphaValue(), 0.0);
  advance(0.6);
  EXPECT_FALSE(panelShown());
}

TEST_F(PreviewActions, WithoutAPresentedApplicationNothingIsClosedButTheClickIsRecorded) {
  coordinator->didClickOnCloseButton(contentFor(kNotes, kMemo));
  advance(0.5);
  EXPECT_TRUE(world.window(kMemo));
  EXPECT_EQ(telemetry->names(), (std::vector<std::string>{"dockPreview_CloseWindow"}));
}

TEST_F(PreviewActions, AWindowClosedElsewhereRefreshesThePresentedPanel) {
  showPreview(kMailIcon);
  world.closeWindow(kDrafts);
  advance(1.0);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panelTitles(), (std::vector<std::string>{"Inbox", "Archive"}));
  EXPECT_TRUE(telemetry->events.empty());
}

// ---- snapping

TEST_F(PreviewActions, ASnapButtonShowsTheOverlayAndSnapsTheWindow) {
  showPreview(kMailIcon);
  openSnapBar("Inbox");
  auto left = symbolPoint("rectangle.lefthalf.inset.filled");
  ASSERT_TRUE(left);
  moveTo(*left);
  ASSERT_TRUE(overlayVisible());
  EXPECT_EQ(snapController->snapMode.kind, SnapController::SnapMode::Kind::snap);
  EXPECT_EQ(snapController->snapMode.alignmentAndScreen.snapAlignment, SnapAlignment::left);
  const CGRect overlayFrame = appkit::NSScreen::flippedRect(overlay()->frame());

  // Meanwhile another application came forward: the click brings Mail back.
  world.activateApplication(kNotes);
  click(*left);
  advance(0.2);
  EXPECT_EQ(frameOf(kInbox), overlayFrame);
  EXPECT_EQ(frameOf(kInbox).origin.x, 0);
  EXPECT_FALSE(overlayVisible());
  EXPECT_FALSE(panelShown());
  EXPECT_EQ(frontmost(), kMail);
  EXPECT_EQ(zOrder().front(), kInbox);
  EXPECT_EQ(telemetry->names(),
            (std::vector<std::string>{"dockPreview_RightClickOnWindow_Activate", "dockPreview_SnapLeft"}));
}

TEST_F(PreviewActions, LeavingASnapButtonTakesTheOverlayAway) {
  showPreview(kMailIcon);
  openSnapBar("Inbox");
  auto maximize = symbolPoint("rectangle.inset.filled");
  ASSERT_TRUE(maximize);
  moveTo(*maximize);
  ASSERT_TRUE(overlayVisible());
  EXPECT_EQ(appkit::NSScreen::flippedRect(overlay()->frame()), (CGRect{0, 25, 1440, 805}));
  moveTo(CGPoint{maximize->x, maximize->y + 60});
  EXPECT_FALSE(overlayVisible());
  EXPECT_EQ(snapController->snapMode.kind, SnapController::SnapMode::Kind::none);
}

TEST_F(PreviewActions, HidingThePanelTakesAPreviewedSnapAway) {
  showPreview(kMailIcon);
  openSnapBar("Inbox");
  auto right = symbolPoint("rectangle.righthalf.inset.filled");
  ASSERT_TRUE(right);
  moveTo(*right);
  ASSERT_TRUE(overlayVisible());
  coordinator->hide(false);
  EXPECT_FALSE(overlayVisible());
  EXPECT_EQ(snapController->snapMode.kind, SnapController::SnapMode::Kind::none);
}

TEST_F(PreviewActions, AHoverThatEndsBeforeItsReadComesBackArmsNothing) {
  repository->recentActiveWindows = {{controllerOf(kMail), windowElement(kMail, kInbox)}};
  sim::ApplicationFaults slow;
  slow.responseDelay = 0.5;  // the recent window's frame is read from Mail
  ASSERT_TRUE(world.setApplicationFaults(kMail, slow));
  for (const bool leaving : {true, false}) {
    SCOPED_TRACE(leaving ? "the pointer left the button" : "the panel hid");
    moveTo(kDockGap);
    showPreview(kNotesIcon);
    openSnapBar("Memo");
    auto memo = thumbnailPoint("Memo");
    auto left = symbolPoint("rectangle.lefthalf.inset.filled");
    ASSERT_TRUE(memo && left);
    moveTo(*left);
    leaving ? moveTo(*memo) : coordinator->hide(false);
    advance(10);
    EXPECT_FALSE(overlayVisible());
    EXPECT_EQ(snapController->snapMode.kind, SnapController::SnapMode::Kind::none);
  }
}

TEST_F(PreviewActions, AnUnchangedSnapModeLeavesTheOverlayAlone) {
  const auto content = contentFor(kNotes, kMemo);
  auto screen = appkit::NSScreen::screens().at(0);
  int changes = 0;
  auto observation = appkit::WindowList::observe([&] { ++changes; });
  // No snap pending: leaving a button does nothing.
  coordinator->didHoverOnSnapButton(content, nullptr, std::nullopt);
  drain();
  EXPECT_EQ(changes, 0);

  coordinator->didHoverOnSnapButton(content, screen, SnapAlignment::right);
  drain();
  ASSERT_TRUE(overlayVisible());
  changes = 0;
  coordinator->didHoverOnSnapButton(content, screen, SnapAlignment::right);
  drain();
  EXPECT_EQ(changes, 0);
  // Without a screen, the thumbnail's own is taken.
  coordinator->didHoverOnSnapButton(content, nullptr, SnapAlignment::right);
  drain();
  EXPECT_EQ(changes, 0);
  coordinator->didHoverOnSnapButton(content, nullptr, std::nullopt);
  drain();
  EXPECT_FALSE(overlayVisible());
  EXPECT_TRUE(telemetry->events.empty());
}

TEST_F(PreviewActions, AQuickSnapButtonClickSnapsItsOwnTargetAndOnlyASnapIsRecorded) {
  showPreview(kMailIcon);
  auto inbox = thumbnailPoint("Inbox");
  ASSERT_TRUE(inbox);
  moveTo(*inbox);
  click(*inbox, sim::MouseButton::right);
  // At once: the bar still ignores the pointer, so no hover armed the target.
  auto left = symbolPoint("rectangle.lefthalf.inset.filled");
  ASSERT_TRUE(left);
  moveTo(*left);
  click(*left);
  advance(0.2);
  EXPECT_EQ(frameOf(kInbox), (CGRect{0, 25, 720, 805}));
  EXPECT_FALSE(panelShown());
  EXPECT_EQ(telemetry->names(),
            (std::vector<std::string>{"dockPreview_RightClickOnWindow_Activate", "dockPreview_SnapLeft"}));

  // A window that is gone snaps nowhere and reports no snap.
  ASSERT_TRUE(world.closeWindow(kDrafts));
  coordinator->didClickOnSnapButton(contentFor(kMail, kDrafts), nullptr, SnapAlignment::right);
  advance(0.2);
  EXPECT_EQ(telemetry->names().size(), 2u);
}

TEST_F(PreviewActions, SwipingOnAThumbnailSnapsTheWindowAndKeepsThePanel) {
  defaults->setObject(preferencekeys::scrollPreviewSnappingEnabled, ns::Value(true));
  world.activateApplication(kNotes);
  showPreview(kMailIcon);
  auto inbox = thumbnailPoint("Inbox");
  ASSERT_TRUE(inbox);
  moveTo(*inbox);
  driver.swipe(*inbox, sim::InputDriver::SwipeDirection::left, false, 12);
  advance(0.3);
  EXPECT_EQ(frameOf(kInbox), (CGRect{0, 25, 720, 805}));
  EXPECT_EQ(frontmost(), kMail);
  EXPECT_TRUE(panelShown());
  ASSERT_EQ(telemetry->names(), (std::vector<std::string>{"dockPreview_SwipeLeft"}));
  EXPECT_EQ(telemetry->events[0].properties, kCurrentNormal);
}

TEST_F(PreviewActions, ASwipeWithoutAPresentedApplicationSnapsAndRecords) {
  world.activateApplication(kNotes);
  coordinator->didSwipeOnThumbnail(contentFor(kMail, kInbox), nullptr, SnapAlignment::right);
  advance(0.3);
  EXPECT_EQ(frameOf(kInbox), (CGRect{720, 25, 720, 805}));
  EXPECT_EQ(frontmost(), kNotes);
  EXPECT_EQ(telemetry->names(), (std::vector<std::string>{"dockPreview_SwipeRight"}));
}

TEST_F(PreviewActions, TheEventOfEveryAlignment) {
  EXPECT_STREQ(DockPreviewCoordinator::snapButtonEventName(SnapAlignment::left), "dockPreview_SnapLeft");
  EXPECT_STREQ(DockPreviewCoordinator::snapButtonEventName(SnapAlignment::maximized), "dockPreview_SnapMaximized");
  EXPECT_STREQ(DockPreviewCoordinator::snapButtonEventName(SnapAlignment::right), "dockPreview_SnapRight");
  EXPECT_STREQ(DockPreviewCoordinator::snapButtonEventName(SnapAlignment::centered), "dockPreview_SnapCentered");
  EXPECT_STREQ(DockPreviewCoordinator::snapButtonEventName(SnapAlignment::snapBack), "dockPreview_SnapCentered");
  EXPECT_STREQ(DockPreviewCoordinator::swipeEventName(SnapAlignment::left), "dockPreview_SwipeLeft");
  EXPECT_STREQ(DockPreviewCoordinator::swipeEventName(SnapAlignment::maximized), "dockPreview_SwipeMaximized");
  EXPECT_STREQ(DockPreviewCoordinator::swipeEventName(SnapAlignment::right), "dockPreview_SwipeRight");
  EXPECT_STREQ(DockPreviewCoordinator::swipeEventName(SnapAlignment::centered), "dockPreview_SwipeCentered");
  EXPECT_STREQ(DockPreviewCoordinator::swipeEventName(SnapAlignment::snapBack), "dockPreview_SwipeBack");
}

TEST_F(PreviewActions, TheDisplayModesTravelWithEveryEvent) {
  coordinator->didClickOnCloseButton(contentFor(kMail, kArchive, SpaceDisplayMode::fullscreen, ScreenDisplayMode::left));
  advance(0.1);
  ASSERT_EQ(telemetry->events.size(), 1u);
  EXPECT_EQ(telemetry->events[0].properties,
            (Properties{{"window_ScreenDisplayMode", "left"}, {"window_SpaceDisplayMode", "fullscreen"}}));
}

}  // namespace
