#include <gtest/gtest.h>

#include "app/previews/tests/CoordinatorTestSupport.h"
#include "platform/appkit/NSWorkspace.h"

namespace {

using namespace coordtest;
using HoverState = DockPreviewCoordinator::HoverState;
using TrackingMode = DockPreviewMouseTracker::TrackingMode;

using PreviewCoordinator = CoordinatorTest;

// ---- showing

TEST_F(PreviewCoordinator, RestingOnAnIconShowsThePanelAboveItAfterHalfASecond) {
  EXPECT_EQ(trackingMode(), TrackingMode::dockOnly);
  EXPECT_EQ(tapPid(), kDock);

  moveTo(kMailIcon);
  EXPECT_EQ(coordinator->hoverState(), HoverState::hoverOverDockIcon(*ns::URL::URLWithString(kMailURL)));
  // Pending: the tap already covers the whole session.
  EXPECT_EQ(trackingMode(), TrackingMode::entireScreen);
  EXPECT_EQ(tapPid(), std::nullopt);
  EXPECT_EQ(nowPlaying->refreshes, (std::vector<std::string>{"com.apple.mail"}));

  advance(0.45);
  EXPECT_FALSE(panelShown());
  advance(0.1);
  ASSERT_TRUE(panelShown());
  EXPECT_EQ(panelApplication(), "Mail");
  EXPECT_EQ(panelTitles(), (std::vector<std::string>{"Inbox", "Drafts", "Archive"}));
  EXPECT_EQ(panel()->alphaValue(), 1.0);
  EXPECT_FALSE(panel()->isKeyWindow());

  // Above the icon, 11 points over its top, inside the visible frame (the
  // three columns are too wide to centre it on an icon this far left).
  const CGRect f = panel()->frame();
  EXPECT_EQ(f.origin.x, 0);
  EXPECT_GT(f.origin.x + f.size.width, 336);
  EXPECT_NEAR(f.origin.y, 900 - 839 + 11, 1);
  EXPECT_LE(f.origin.y + f.size.height, 875);
  EXPECT_EQ(coordinator->presentedDockIconElementFrame, (CGRect{310, 839, 52, 52}));
  EXPECT_EQ(trackingMode(), TrackingMode::entireScreen);
  // The resize corrector was asked to check the application.
  EXPECT_EQ(corrector->asked, (std::vector<std::string>{"com.apple.mail"}));
}

TEST_F(PreviewCoordinator, MovingWithinOneIconDoesNotPostponeTheShow) {
  moveTo(kMailIcon);
  advance(0.3);
  moveTo(CGPoint{kMailIcon.x + 10, kMailIcon.y - 5});
  advance(0.18);
  EXPECT_TRUE(panelShown());
}

TEST_F(PreviewCoordinator, MovingToAnotherIconWithinHalfASecondShowsOnlyTheSecond) {
  moveTo(kMailIcon);
  advance(0.3);
  moveTo(kNotesIcon);
  advance(0.3);
  EXPECT_FALSE(panelShown());
  advance(0.25);
  ASSERT_TRUE(panelShown());
  EXPECT_EQ(panelApplication(), "Notes");
  EXPECT_EQ(panelTitles(), (std::vector<std::string>{"Memo"}));
}

TEST_F(PreviewCoordinator, MovingToAnotherIconSwitchesTheShownPanelHalfASecondLater) {
  showPreview(kMailIcon);
  ASSERT_EQ(panelApplication(), "Mail");
  moveTo(kNotesIcon);
  // The visible panel keeps its content until the other application is presented.
  advance(0.4);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panelApplication(), "Mail");
  advance(0.15);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panelApplication(), "Notes");
  EXPECT_EQ(coordinator->presentedDockIconApplication()->bundleURL, *ns::URL::URLWithString(kNotesURL));
  // Only the presented application's controller reports closed windows.
  EXPECT_TRUE(controllerOf(kMail)->delegate.expired());
  EXPECT_FALSE(controllerOf(kNotes)->delegate.expired());
}

TEST_F(PreviewCoordinator, AnIconOfAnApplicationThatIsNotRunningIsDockArea) {
  moveTo(kPagesIcon);
  EXPECT_EQ(coordinator->hoverState(), HoverState::hoverOverDock());
  EXPECT_FALSE(coordinator->hoveringDockIconApplication());
  advance(1.0);
  EXPECT_FALSE(panelShown());
}

TEST_F(PreviewCoordinator, AnApplicationWithoutWindowsShowsNoPanel) {
  nowPlaying->fakes["com.apple.calculator"] = std::make_shared<FakeProvider>("com.apple.calculator");
  showPreview(kCalculatorIcon);
  EXPECT_FALSE(panelShown());
  EXPECT_FALSE(coordinator->presentedNowPlayingPublisher());
  EXPECT_FALSE(coordinator->presentedDockIconElementFrame);
}

TEST_F(PreviewCoordinator, AnApplicationWithoutWindowsLeavesAShownPanelAsItIs) {
  world.activateApplication(kNotes);
  showPreview(kMailIcon);
  const CGRect before = panel()->frame();
  showPreview(kCalculatorIcon);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panelApplication(), "Mail");
  EXPECT_EQ(panel()->frame(), before);
  // Mail stays the presented application: its closed windows reach the
  // panel, and a click in the panel acts on Mail.
  ASSERT_TRUE(coordinator->presentedDockIconApplication());
  EXPECT_EQ(coordinator->presentedDockIconApplication()->bundleURL, *ns::URL::URLWithString(kMailURL));
  EXPECT_EQ(coordinator->presentedDockIconElementFrame, (CGRect{310, 839, 52, 52}));
  ASSERT_TRUE(world.closeWindow(kDrafts));
  advance(0.5);
  EXPECT_EQ(panelTitles(), (std::vector<std::string>{"Inbox", "Archive"}));
  coordinator->didClickOnThumbnail(panelContent()->windows.at(0));
  advance(0.1);
  EXPECT_EQ(world.frontmostApplication(), kMail);
  EXPECT_EQ(world.zOrder().front(), kInbox);
}

TEST_F(PreviewCoordinator, LeavingTheDockWhileThePreviewIsBeingPreparedShowsNothing) {
  sim::ApplicationFaults slow;
  slow.responseDelay = 0.05;
  world.setApplicationFaults(kMail, slow);
  moveTo(kMailIcon);
  advance(0.55);
  ASSERT_TRUE(coordinator->presentedDockIconApplication());
  // Handled as soon as the Accessibility queue gets to it, before Mail's
  // windows are all read.
  moveTo(kDesktop);
  advance(10);
  EXPECT_FALSE(coordinator->presentedDockIconApplication());
  EXPECT_FALSE(panelShown());
  EXPECT_FALSE(coordinator->presentedDockIconElementFrame);
  EXPECT_EQ(trackingMode(), TrackingMode::dockOnly);
  EXPECT_TRUE(corrector->asked.empty());
}

TEST_F(PreviewCoordinator, ADockItemWithoutAFrameShowsNothing) {
  // The item is gone by the time its frame is read.
  const AXUIElementWrapper gone(
      std::make_shared<ax::AXUIElement>(sim::ElementID{kDock, sim::ElementKind::DockItem, 9999}));
  coordinator->didMouseMoveOverDockIcon(*ns::URL::URLWithString(kMailURL), "Mail", gone);
  advance(0.6);
  EXPECT_TRUE(coordinator->presentedDockIconApplication());
  EXPECT_FALSE(panelShown());
  EXPECT_FALSE(coordinator->presentedDockIconElementFrame);
}

TEST_F(PreviewCoordinator, AShowThatFiresInsideThePanelWaitsForTheNextVisitToTheIcon) {
  showPreview(kMailIcon);
  coordinator->didMouseMoveOverDockIcon(*ns::URL::URLWithString(kNotesURL), "Notes", windowElement(kDock, 2));
  coordinator->previewHoverDidChange(true);
  advance(0.6);
  EXPECT_EQ(panelApplication(), "Mail");
  moveTo(kNotesIcon);
  advance(0.45);
  EXPECT_EQ(panelApplication(), "Mail");
  advance(0.1);
  EXPECT_EQ(panelApplication(), "Notes");
}

// ---- hiding

TEST_F(PreviewCoordinator, LeavingTheDockBeforeTheShowShowsNothing) {
  moveTo(kMailIcon);
  advance(0.3);
  moveTo(kDesktop);
  EXPECT_EQ(coordinator->hoverState(), HoverState::hoverOverScreen());
  EXPECT_FALSE(coordinator->hoveringDockIconApplication());
  // Nothing shown: the tap goes back to the Dock.
  EXPECT_EQ(trackingMode(), TrackingMode::dockOnly);
  advance(1.0);
  EXPECT_FALSE(panelShown());
}

TEST_F(PreviewCoordinator, LeavingTheDockHidesThePanelASecondLaterWithAFade) {
  showPreview(kMailIcon);
  moveTo(kDesktop);
  // The panel is up, so the whole session stays tapped.
  EXPECT_EQ(trackingMode(), TrackingMode::entireScreen);
  advance(0.95);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panel()->alphaValue(), 1.0);
  advance(0.1);
  // Fading: transparent at once, ordered out when the fade ends.
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panel()->alphaValue(), 0.0);
  advance(0.5);
  EXPECT_FALSE(panelShown());
  EXPECT_FALSE(panelContent());
  EXPECT_EQ(trackingMode(), TrackingMode::dockOnly);
  EXPECT_FALSE(coordinator->presentedDockIconApplication());
}

TEST_F(PreviewCoordinator, ASecondExitDoesNotPostponeTheHide) {
  showPreview(kMailIcon);
  moveTo(kDesktop);
  advance(0.6);
  moveTo(CGPoint{kDesktop.x - 100, kDesktop.y});
  advance(0.45);
  EXPECT_EQ(panel()->alphaValue(), 0.0);
}

TEST_F(PreviewCoordinator, ThePointerInThePanelKeepsItAndLeavingThePanelHidesIt) {
  showPreview(kMailIcon);
  auto inbox = thumbnailPoint("Inbox");
  ASSERT_TRUE(inbox);
  moveTo(*inbox);
  EXPECT_EQ(coordinator->hoverState(), HoverState::hoverOverPreviewWindow());
  advance(3);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panel()->alphaValue(), 1.0);

  moveTo(kDesktop);
  EXPECT_EQ(coordinator->hoverState(), HoverState::hoverOverScreen());
  advance(0.95);
  EXPECT_EQ(panel()->alphaValue(), 1.0);
  advance(0.6);
  EXPECT_FALSE(panelShown());
}

TEST_F(PreviewCoordinator, ComingBackToTheIconOfTheShownPreviewKeepsIt) {
  showPreview(kMailIcon);
  moveTo(kDesktop);
  advance(0.5);
  moveTo(kMailIcon);
  EXPECT_FALSE(coordinator->hideTask().isPending());
  advance(3);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panelApplication(), "Mail");
}

TEST_F(PreviewCoordinator, AnotherIconReachedWithinTheHideDelayKeepsThePanelUnderThePointer) {
  showPreview(kMailIcon);
  moveTo(kDesktop);
  advance(0.7);
  moveTo(kNotesIcon);
  // The hide would fall before Notes is presented.
  advance(0.4);
  EXPECT_TRUE(panelShown());
  EXPECT_EQ(panel()->alphaValue(), 1.0);
  EXPECT_EQ(panelApplication(), "Mail");
  advance(0.15);
  EXPECT_EQ(panelApplication(), "Notes");
}

TEST_F(PreviewCoordinator, EnteringThePanelDuringTheFadeOfACancelledHideRestoresIt) {
  showPreview(kMailIcon);
  coordinator->scheduleHide();
  panel()->setAlphaValue(0.3);  // as a fade in progress would have it
  coordinator->previewHoverDidChange(true);
  EXPECT_EQ(panel()->alphaValue(), 1.0);
  EXPECT_FALSE(coordinator->hideTask().isPending());
}

TEST_F(PreviewCoordinator, AClickElsewhereHidesAtOnceWithTheFade) {
  showPreview(kMailIcon);
  click(kDesktop);
  EXPECT_EQ(panel()->alphaValue(), 0.0);
  advance(0.55);
  EXPECT_FALSE(panelShown());
  EXPECT_EQ(trackingMode(), TrackingMode::dockOnly);
}

TEST_F(PreviewCoordinator, AClickOnTheDockHidesWithoutFading) {
  showPreview(kMailIcon);
  click(kMailIcon);
  EXPECT_FALSE(panelShown());
  EXPECT_FALSE(panelContent());
  EXPECT_EQ(panel()->alphaValue(), 1.0);
}

TEST_F(PreviewCoordinator, AClickOnTheDockRestoresTheWindowsThisProgramMinimized) {
  world.setWindowMinimized(kDrafts, true);
  auto mail = controllerOf(kMail);
  mail->minimizedElements.push_back(windowElement(kMail, kDrafts));
  moveTo(kMailIcon);
  click(kMailIcon);
  // The restore holds the Accessibility queue for 0.2 s.
  advance(0.3);
  EXPECT_FALSE(world.window(kDrafts)->minimized);
  EXPECT_TRUE(mail->minimizedElements.empty());
  EXPECT_EQ(corrector->asked, (std::vector<std::string>{"com.apple.mail"}));
  EXPECT_FALSE(panelShown());
}

TEST_F(PreviewCoordinator, HidingOnASpaceChangeAsTheApplicationDelegateDoes) {
  auto token = appkit::NSWorkspace::sharedWorkspace()->notificationCenter()->addObserver(
      appkit::NSWorkspaceActiveSpaceDidChangeNotification, nullptr,
      [this](const ns::Notification&) { coordinator->hide(false); });
  showPreview(kMailIcon);
  world.switchToSpace(2);
  drain();
  EXPECT_FALSE(panelShown());
  EXPECT_EQ(trackingMode(), TrackingMode::dockOnly);
}

// ---- the event tap

TEST_F(PreviewCoordinator, TheTapCoversTheSessionOnlyWhileAPreviewIsPendingOrShown) {
  EXPECT_EQ(tapPid(), kDock);
  moveTo(kMailIcon);
  EXPECT_EQ(tapPid(), std::nullopt);
  advance(0.6);
  EXPECT_EQ(tapPid(), std::nullopt);
  click(kDesktop);
  EXPECT_EQ(tapPid(), kDock);
  EXPECT_EQ(cgevent::testing::liveTapCount(), 1u);
}

TEST_F(PreviewCoordinator, ResetReArmsTheTap) {
  auto before = coordinator->mouseTracker->cgEventTapWrapper;
  coordinator->reset();
  auto after = coordinator->mouseTracker->cgEventTapWrapper;
  ASSERT_TRUE(after);
  EXPECT_NE(before, after);
  EXPECT_EQ(after->pid, kDock);
  EXPECT_TRUE(after->tap);
  EXPECT_EQ(cgevent::testing::liveTapCount(), 1u);
  // And the new tap works.
  showPreview(kMailIcon);
  EXPECT_TRUE(panelShown());
}

TEST_F(PreviewCoordinator, EventsOverThePanelCostNoAccessibilityCall) {
  showPreview(kMailIcon);
  auto inbox = thumbnailPoint("Inbox");
  ASSERT_TRUE(inbox);
  drain();
  int hitTests = 0;
  world.setAccessibilityCallHook([&](const sim::AccessibilityCall& call) {
    if (call.kind == sim::AccessibilityCall::Kind::HitTest) ++hitTests;
  });
  moveTo(*inbox);
  moveTo(CGPoint{inbox->x + 20, inbox->y});
  EXPECT_EQ(hitTests, 0);
  moveTo(kDesktop);
  EXPECT_EQ(hitTests, 1);
  world.setAccessibilityCallHook(nullptr);
}

TEST_F(PreviewCoordinator, TheOwnWindowTestCountsVisibleWindowsWithAWidth) {
  auto& tracker = *coordinator->mouseTracker;
  auto window = appkit::NSWindow::make(appkit::NSMakeRect(0, 0, 200, 100), 0);
  window->setFrame(appkit::NSMakeRect(10, 20, 200, 100));
  EXPECT_FALSE(coordinator->mouseTrackerContainsPoint(tracker, CGPoint{50, 50}));
  window->orderFront();
  EXPECT_TRUE(coordinator->mouseTrackerContainsPoint(tracker, CGPoint{50, 50}));
  EXPECT_TRUE(coordinator->mouseTrackerContainsPoint(tracker, CGPoint{10, 20}));
  // Half-open on the far edges.
  EXPECT_FALSE(coordinator->mouseTrackerContainsPoint(tracker, CGPoint{210, 50}));
  window->setFrame(appkit::NSMakeRect(10, 20, 0, 100));
  EXPECT_FALSE(coordinator->mouseTrackerContainsPoint(tracker, CGPoint{10, 50}));
  window->orderOut();
}

// ---- turning previews on and off

TEST_F(PreviewCoordinator, TurningPreviewsOffHidesAtOnceAndStopsTheTap) {
  showPreview(kMailIcon);
  coordinator->setEnabled(false);
  EXPECT_FALSE(panelShown());
  EXPECT_EQ(coordinator->hoverState(), HoverState::none());
  EXPECT_FALSE(coordinator->hoveringDockIconApplication());
  EXPECT_FALSE(coordinator->presentedDockIconApplication());
  EXPECT_EQ(trackingMode(), TrackingMode::disabled);
  EXPECT_FALSE(coordinator->mouseTracker->cgEventTapWrapper);
  EXPECT_EQ(cgevent::testing::liveTapCount(), 0u);
  // Nothing reacts any more.
  showPreview(kNotesIcon);
  EXPECT_FALSE(panelShown());

  coordinator->setEnabled(true);
  EXPECT_EQ(trackingMode(), TrackingMode::dockOnly);
  EXPECT_EQ(tapPid(), kDock);
  showPreview(kNotesIcon);
  EXPECT_TRUE(panelShown());
}

TEST_F(PreviewCoordinator, StoringTheSameEnabledValueDoesNothing) {
  loggingModules({"_all"});
  auto tap = coordinator->mouseTracker->cgEventTapWrapper;
  coordinator->setEnabled(true);
  EXPECT_TRUE(linesOf("DockPreviewCoordinator").empty());
  EXPECT_EQ(coordinator->mouseTracker->cgEventTapWrapper, tap);
  coordinator->setEnabled(false);
  EXPECT_EQ(linesOf("DockPreviewCoordinator").front(), "enabled:false");
}

TEST_F(PreviewCoordinator, TheDockControllerReachesTheTracker) {
  EXPECT_EQ(coordinator->dockController(), controllerOf(kDock));
  EXPECT_EQ(coordinator->mouseTracker->dockController(), controllerOf(kDock));
  auto tap = coordinator->mouseTracker->cgEventTapWrapper;
  // The repository tells again with the same controller: the tap stays.
  repository->setDockApplicationController(controllerOf(kDock));
  EXPECT_EQ(coordinator->mouseTracker->cgEventTapWrapper, tap);
}

// ---- diagnostics

TEST_F(PreviewCoordinator, TheLinesOfAPreview) {
  loggingModules({"DockPreviewCoordinator"});
  showPreview(kMailIcon);
  const auto lines = linesOf("DockPreviewCoordinator");
  const std::vector<std::string> expected{
      "hoveringDockIconApplicationDidChange:com.apple.mail",
      "showTask.schedule:file:///System/Applications/Mail.app/",
      "Hover on new dock icon:Optional(file:///System/Applications/Mail.app/)",
      "hoverState:hoverOverDockIcon(bundleURL: file:///System/Applications/Mail.app/)",
      "show",
      "presentedDockIconApplicationDidChange:com.apple.mail",
      "presentedDockIconApplicationDidChange (dispatched):com.apple.mail",
      "presenting: Mail",
  };
  EXPECT_EQ(lines, expected);
  // The tracker's lines need its own name.
  EXPECT_TRUE(linesOf("DockPreviewMouseTracker").empty());
}

TEST_F(PreviewCoordinator, TheLinesOfAHide) {
  showPreview(kMailIcon);
  moveTo(kDesktop);
  loggingModules({"DockPreviewCoordinator", "DockPreviewMouseTracker"});
  click(kDesktop);
  const std::vector<std::string> expected{"didClickOnScreen", "hide animated:true",
                                          "presentedDockIconApplicationDidChange:nil"};
  EXPECT_EQ(linesOf("DockPreviewCoordinator"), expected);
  EXPECT_EQ(linesOf("DockPreviewMouseTracker"), (std::vector<std::string>{"click on screen", "trackingMode:dockOnly"}));
}

// ---- Now Playing

class PreviewNowPlaying : public CoordinatorTest {
 protected:
  PreviewNowPlaying() {
    provider->info = track("First");
    nowPlaying->fakes["com.apple.mail"] = provider;
  }
  std::shared_ptr<FakeProvider> provider = std::make_shared<FakeProvider>("com.apple.mail");
};

TEST_F(PreviewNowPlaying, ThePresentedPublisherKeepsThePanelInStep) {
  showPreview(kMailIcon);
  auto publisher = coordinator->presentedNowPlayingPublisher();
  ASSERT_TRUE(publisher);
  ASSERT_TRUE(panelContent());
  ASSERT_TRUE(panelContent()->nowPlayingInfo);
  EXPECT_EQ(panelContent()->nowPlayingInfo->title, "First");

  // A window of Mail closes while Calculator's show is pending; the Dock answers slowly, so Mail's
  // rebuild comes back after Calculator's windowless presentation began: Mail stays presented.
  moveTo(kCalculatorIcon);
  advance(0.3);
  sim::ApplicationFaults slow;
  slow.responseDelay = 0.1;
  ASSERT_TRUE(world.setApplicationFaults(kDock, slow));
  ASSERT_TRUE(world.closeWindow(kDrafts));
  advance(5);
  EXPECT_EQ(panelApplication(), "Mail");
  EXPECT_EQ(coordinator->presentedNowPlayingPublisher(), publisher);
  EXPECT_EQ(coordinator->presentedDockIconElementFrame, (CGRect{310, 839, 52, 52}));

  publisher->setNowPlayingInfo(track("Second"));
  publisher->nowPlayingInfoPublisher().send(track("Second"));
  advance(0.6);
  ASSERT_TRUE(panelContent()->nowPlayingInfo);
  EXPECT_EQ(panelContent()->nowPlayingInfo->title, "Second");
  EXPECT_EQ(panelTitles(), (std::vector<std::string>{"Inbox", "Archive"}));

  coordinator->didClickMediaButton(MediaButton::playPause);
  drain();
  EXPECT_EQ(provider->commands, (std::vector<std::string>{"playPause"}));
}

TEST_F(PreviewNowPlaying, HidingThePanelLetsThePlayerGo) {
  showPreview(kMailIcon);
  ASSERT_TRUE(coordinator->presentedNowPlayingPublisher());
  ASSERT_EQ(nowPlaying->made.size(), 1u);
  click(kDesktop);
  EXPECT_FALSE(coordinator->presentedNowPlayingPublisher());
  EXPECT_FALSE(coordinator->presentedNowPlayingPublisherCancellable());
  EXPECT_FALSE(coordinator->presentedDockIconElementFrame);
  advance(1.1);
  EXPECT_TRUE(nowPlaying->made[0].expired());
}

}  // namespace
