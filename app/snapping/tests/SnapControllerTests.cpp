#include <gtest/gtest.h>

#include <atomic>

#include "app/snapping/tests/SnapTestSupport.h"

namespace {

using namespace snaptest;
using SnapMode = SnapController::SnapMode;
using DragMode = SnapController::DragMode;

// The primary display's visible area and its halves, top-left (H = 1080).
const CGRect kPrimary(0, 205, 1440, 875);
const CGRect kPrimaryLeft(0, 205, 720, 875);
const CGRect kPrimaryRight(720, 205, 720, 875);
// The right display's visible area.
const CGRect kSecondary(1440, 25, 1920, 1055);
const CGRect kInboxFrame(200, 400, 800, 500);

class DragSnapping : public SnapTest {
 protected:
  DragSnapping() { controller->setDragWindowSnappingEnabled(true); }

  // Drags Inbox by its title bar and holds the button at `to`.
  void dragInboxTo(CGPoint to, int steps = 10) {
    ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, to, {.steps = steps, .release = false}));
  }
};

TEST_F(DragSnapping, DraggingToTheLeftEdgeShowsTheOverlayThenSnapsOnRelease) {
  dragInboxTo({10, 600});
  ASSERT_TRUE(overlayVisible());
  EXPECT_EQ(overlayFrame(), kPrimaryLeft);
  EXPECT_EQ(overlay()->level(), appkit::NSPopUpMenuWindowLevel);
  EXPECT_EQ(controller->snapMode.kind, SnapMode::Kind::snap);
  EXPECT_EQ(controller->dragMode.kind, DragMode::Kind::dragging);

  driver.release();
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
  EXPECT_FALSE(overlayVisible());
  EXPECT_EQ(controller->snapMode.kind, SnapMode::Kind::none);
  EXPECT_EQ(controller->dragMode.kind, DragMode::Kind::none);
  ASSERT_EQ(controller->previousSnapRecords.size(), 1u);
  const SnapRecord record = controller->previousSnapRecords.at(windowElement(kMail, kInbox));
  EXPECT_EQ(record.snappedFrame, kPrimaryLeft);
  // The frame the window had just before the snap: where it was let go, the
  // pointer at (10, 600) holding it 400 points right of and 14 below its origin.
  EXPECT_EQ(record.startingFrame, CGRect(10 - 400, 600 - 14, 800, 500));
  EXPECT_EQ(analytics->events, (std::vector<std::string>{"windowSnapping_SnapLeft"}));
}

TEST_F(DragSnapping, TheTopOfAScreenMaximizesAndItsRightEdgeTakesTheRightHalf) {
  dragInboxTo({700, 185});
  EXPECT_EQ(overlayFrame(), kPrimary);
  driver.release();
  EXPECT_EQ(frameOf(kInbox), kPrimary);

  ASSERT_TRUE(driver.dragWindowByTitleBar(kMemo, {3350, 500}));
  EXPECT_EQ(frameOf(kMemo), CGRect(1440 + 960, 25, 960, 1055));
  EXPECT_EQ(analytics->events,
            (std::vector<std::string>{"windowSnapping_SnapMaximized", "windowSnapping_SnapRight"}));
}

TEST_F(DragSnapping, MovingOffTheEdgeTakesTheOverlayAwayAndReleasingThereSnapsNothing) {
  dragInboxTo({10, 600});
  ASSERT_TRUE(overlayVisible());
  driver.moveTo({400, 600}, 4);
  EXPECT_FALSE(overlayVisible());
  driver.release();
  EXPECT_EQ(frameOf(kInbox).size, kInboxFrame.size);
  EXPECT_TRUE(controller->previousSnapRecords.empty());
  EXPECT_TRUE(analytics->events.empty());
}

TEST_F(DragSnapping, DraggingASnappedWindowAwayGivesItsSizeBackAndForgetsTheSnap) {
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {10, 600}));
  ASSERT_EQ(frameOf(kInbox), kPrimaryLeft);

  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {700, 500}, {.steps = 10, .release = false}));
  EXPECT_EQ(controller->snapMode.kind, SnapMode::Kind::snapBack);
  EXPECT_EQ(controller->snapMode.size, kInboxFrame.size);
  EXPECT_EQ(frameOf(kInbox).size, kInboxFrame.size);  // restored while dragging
  EXPECT_FALSE(overlayVisible());
  driver.release();
  EXPECT_EQ(frameOf(kInbox).size, kInboxFrame.size);
  EXPECT_TRUE(controller->previousSnapRecords.empty());
  EXPECT_TRUE(analytics->events.size() == 1);  // only the first snap
}

TEST_F(DragSnapping, AScreenSizedWindowPulledAwayShrinksToTwoThirds) {
  ASSERT_TRUE(world.setWindowFrame(kInbox, kPrimary));
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {720, 600}));
  EXPECT_DOUBLE_EQ(frameOf(kInbox).size.width, 960);
  EXPECT_DOUBLE_EQ(frameOf(kInbox).size.height, 2 * 875.0 / 3);
}

TEST_F(DragSnapping, ReleasingWithoutASnapForgetsThePreSnapFrame) {
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {10, 600}));
  ASSERT_EQ(controller->previousSnapRecords.size(), 1u);
  // The snapped window is taken off the edge and put back down with its
  // old size: nothing snaps at the release.
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {600, 700}));
  EXPECT_TRUE(controller->previousSnapRecords.empty());

  // The next drag of the window offers no snap-back: its frame stays.
  const CGRect before = frameOf(kInbox);
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {500, 700}));
  EXPECT_EQ(frameOf(kInbox).size, before.size);
}

TEST_F(DragSnapping, SnappingLeftThenRightKeepsTheFirstStartingFrameForSnapBack) {
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {10, 600}));
  const CGRect firstStart = controller->previousSnapRecords.at(windowElement(kMail, kInbox)).startingFrame;
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {1430, 600}));
  EXPECT_EQ(frameOf(kInbox), kPrimaryRight);
  EXPECT_EQ(controller->previousSnapRecords.at(windowElement(kMail, kInbox)).startingFrame, firstStart);

  bool completed = false;
  ASSERT_TRUE(run([&]() -> conc::Task<void> {
    return controller->snap(windowElement(kMail, kInbox), screen(0), SnapAlignment::snapBack,
                            [&completed] { completed = true; });
  }));
  EXPECT_EQ(frameOf(kInbox), firstStart);
  EXPECT_FALSE(completed);
  advance(0.1);
  EXPECT_TRUE(completed);
}

TEST_F(DragSnapping, ANonResizableWindowNeverSnapsByDragging) {
  ASSERT_TRUE(driver.dragWindowByTitleBar(kDrafts, {10, 800}, {.steps = 10, .release = false}));
  EXPECT_FALSE(overlayVisible());
  driver.release();
  EXPECT_EQ(frameOf(kDrafts).size, (CGSize{400, 90}));
}

TEST_F(DragSnapping, RestingOnOneTargetPlacesTheOverlayOnce) {
  dragInboxTo({10, 600});
  int changes = 0;
  auto watch = appkit::WindowList::observe([&changes] { ++changes; });
  driver.moveTo({20, 650}, 6);  // still the left strip
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(overlayFrame(), kPrimaryLeft);
  driver.release();
}

TEST_F(DragSnapping, TheOverlayFollowsTheTargetAcrossDisplays) {
  dragInboxTo({10, 600});
  EXPECT_EQ(overlayFrame(), kPrimaryLeft);
  driver.moveTo({1460, 600}, 5);  // the left edge of the right display
  EXPECT_EQ(overlayFrame(), CGRect(1440, 25, 960, 1055));
  driver.release();
  EXPECT_EQ(frameOf(kInbox), CGRect(1440, 25, 960, 1055));
}

TEST_F(DragSnapping, AnalyticsAreSentOnlyInAutomaticMode) {
  analytics->analyticsMode = AnalyticsMode::minimalAnalytics;
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {10, 600}));
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
  analytics->analyticsMode = AnalyticsMode::manualReportingOnly;
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {700, 185}));
  EXPECT_TRUE(analytics->events.empty());
  // Without an analytics hook nothing is sent and the snap still happens.
  SnapAnalytics::setShared(nullptr);
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {10, 600}));
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
}

TEST_F(DragSnapping, TheNeighbourRuleFitsAHalfBesideARecentWindow) {
  sim::WindowSpec beside;
  beside.id = 32;
  beside.title = "Notes";
  beside.frame = CGRect(840, 205, 600, 875);
  beside.spaces = {1};
  ASSERT_TRUE(world.createWindow(kNotes, beside));
  recentWindows({{kNotes, 32}, {kMail, kInbox}});

  dragInboxTo({10, 600});
  EXPECT_EQ(overlayFrame(), CGRect(0, 205, 839, 875));
  driver.release();
  EXPECT_EQ(frameOf(kInbox), CGRect(0, 205, 839, 875));

  // A recent window on another display first ends the search.
  recentWindows({{kNotes, kMemo}, {kNotes, 32}});
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {700, 500}));
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {10, 600}));
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
}

TEST_F(DragSnapping, TheRepositorysRecentWindowsAreTheNeighbours) {
  sim::WindowSpec beside;
  beside.id = 32;
  beside.title = "Notes";
  beside.frame = CGRect(940, 205, 500, 875);
  beside.spaces = {1};
  ASSERT_TRUE(world.createWindow(kNotes, beside));
  repository->setUp();
  drain();
  driver.click({1200, 600});  // the user works in Notes for a moment
  driver.wait(1);
  ASSERT_FALSE(repository->recentActiveWindows.empty());

  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {10, 600}));
  EXPECT_EQ(frameOf(kInbox), CGRect(0, 205, 1440 - 500 - 1, 875));
}

TEST_F(DragSnapping, AReleaseDuringTheLookUpOfASlowWindowEndsThatDrag) {
  sim::ApplicationFaults slow;
  slow.responseDelay = 0.2;  // each Accessibility call into Mail
  ASSERT_TRUE(world.setApplicationFaults(kMail, slow));
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {10, 600}, {.steps = 2, .release = true}));
  EXPECT_EQ(controller->dragMode.kind, DragMode::Kind::none);
  advance(10);  // every look-up has come back
  EXPECT_EQ(controller->dragMode.kind, DragMode::Kind::none);
  EXPECT_EQ(frameOf(kInbox).size, kInboxFrame.size);

  // The next drag, of another window, snaps as usual.
  ASSERT_TRUE(driver.dragWindowByTitleBar(kMemo, {1450, 600}));
  EXPECT_EQ(frameOf(kMemo), CGRect(1440, 25, 960, 1055));
}

TEST_F(DragSnapping, DraggedEventsWhileTheWindowIsLookedUpAreDropped) {
  sim::ApplicationFaults slow;
  slow.responseDelay = 0.2;
  ASSERT_TRUE(world.setApplicationFaults(kMail, slow));
  auto hitTests = std::make_shared<std::atomic<int>>(0);
  world.setAccessibilityCallHook([hitTests](const sim::AccessibilityCall& call) {
    if (call.kind == sim::AccessibilityCall::Kind::HitTest) ++*hitTests;
  });
  dragInboxTo({10, 600});
  EXPECT_EQ(controller->dragMode.kind, DragMode::Kind::initializing);  // still looking
  advance(10);
  world.setAccessibilityCallHook(nullptr);
  // One look-up for the whole drag; the window is dragged from then on.
  EXPECT_EQ(hitTests->load(), 1);
  EXPECT_EQ(controller->dragMode.kind, DragMode::Kind::dragging);
  driver.moveTo({12, 620}, 2);
  advance(10);
  EXPECT_TRUE(overlayVisible());
  driver.release();
  advance(10);
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
}

TEST_F(DragSnapping, ADragWhoseEventsQueuedUpBehindItsReleaseLeavesNoDragBehind) {
  driver.setPump(nullptr);  // the main thread was busy: the whole drag waits in its queue
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {10, 600}, {.steps = 3, .release = true}));
  drain();
  EXPECT_EQ(controller->dragMode.kind, DragMode::Kind::none);
  EXPECT_FALSE(overlayVisible());

  driver.setPump([](double seconds) { dispatch::Scheduler::shared().advance(seconds); });
  ASSERT_TRUE(driver.dragWindowByTitleBar(kMemo, {1450, 600}));
  EXPECT_EQ(frameOf(kMemo), CGRect(1440, 25, 960, 1055));
}

TEST_F(DragSnapping, WindowsWhoseHashesCollideKeepTheirOwnRecords) {
  world.setHashBuckets(1);
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {10, 600}));
  const CGRect memoBefore = frameOf(kMemo);
  ASSERT_TRUE(run([&]() -> conc::Task<void> {
    return controller->snap(windowElement(kNotes, kMemo), screen(1), SnapAlignment::right, [] {});
  }));
  EXPECT_EQ(controller->previousSnapRecords.size(), 2u);
  ASSERT_TRUE(run([&]() -> conc::Task<void> {
    return controller->snap(windowElement(kNotes, kMemo), screen(1), SnapAlignment::snapBack, [] {});
  }));
  EXPECT_EQ(frameOf(kMemo), memoBefore);
  world.setHashBuckets(std::nullopt);
}

// ---------------------------------------------------------------- flags and the monitor

TEST_F(SnapTest, TheMonitorExistsOnlyWhileAFlagIsOn) {
  loggingModules({"SnapController"});
  const std::size_t before = appkit::NSEvent::globalMonitorCount();
  controller->updateEventMonitor();
  EXPECT_FALSE(controller->monitor);
  controller->setScrollWindowSnappingEnabled(true);
  EXPECT_TRUE(controller->monitor);
  EXPECT_EQ(appkit::NSEvent::globalMonitorCount(), before + 1);
  controller->updateEventMonitor();  // re-installed, never doubled
  EXPECT_EQ(appkit::NSEvent::globalMonitorCount(), before + 1);
  controller->setScrollWindowSnappingEnabled(true);  // the same value: nothing
  controller->setScrollWindowSnappingEnabled(false);
  EXPECT_FALSE(controller->monitor);
  EXPECT_EQ(appkit::NSEvent::globalMonitorCount(), before);
  EXPECT_EQ(log.countContaining("SnapController: scrollWindowSnappingEnabled:true"), 1u);
  EXPECT_EQ(log.countContaining("SnapController: scrollWindowSnappingEnabled:false"), 1u);
}

TEST_F(SnapTest, WithOnlyScrollSnappingDragsAreIgnored) {
  controller->setScrollWindowSnappingEnabled(true);
  ASSERT_TRUE(driver.dragWindowByTitleBar(kInbox, {10, 600}));
  EXPECT_EQ(frameOf(kInbox).size, kInboxFrame.size);
  EXPECT_TRUE(controller->lastEventDate.has_value());  // the events did arrive
  EXPECT_EQ(controller->dragMode.kind, DragMode::Kind::none);
}

TEST_F(SnapTest, EventsOverTheProgramsOwnWindowsNeverReachTheEngine) {
  controller->setDragWindowSnappingEnabled(true);
  auto panel = appkit::NSPanel::make(appkit::NSMakeRect(0, 0, 1440, 900), appkit::NSWindowStyleMaskBorderless);
  panel->orderFront();  // covers the primary display
  driver.moveTo({300, 700});
  driver.press();
  driver.moveTo({10, 600}, 5);
  driver.release();
  EXPECT_FALSE(controller->lastEventDate);
}

// ---------------------------------------------------------------- snap requests

TEST_F(SnapTest, ASnapRequestMovesTheWindowAndCompletesLater) {
  int completions = 0;
  ASSERT_TRUE(run([&]() -> conc::Task<void> {
    return controller->snap(windowElement(kMail, kInbox), screen(1), SnapAlignment::maximized,
                            [&completions] { ++completions; });
  }));
  EXPECT_EQ(frameOf(kInbox), kSecondary);
  EXPECT_FALSE(overlayVisible());
  EXPECT_EQ(controller->dragMode.kind, DragMode::Kind::none);
  advance(0.1);
  EXPECT_EQ(completions, 1);
  EXPECT_TRUE(analytics->events.empty());  // requests record nothing here

  // Within 4 points of the target: nothing changes, the record stays, the completion still comes.
  const SnapRecord record = controller->previousSnapRecords.at(windowElement(kMail, kInbox));
  ASSERT_TRUE(world.setWindowFrame(kInbox, kSecondary.offsetBy(3, 3)));
  ASSERT_TRUE(run([&]() -> conc::Task<void> {
    return controller->snap(windowElement(kMail, kInbox), screen(1), SnapAlignment::maximized,
                            [&completions] { ++completions; });
  }));
  EXPECT_EQ(frameOf(kInbox), kSecondary.offsetBy(3, 3));
  EXPECT_EQ(controller->previousSnapRecords.at(windowElement(kMail, kInbox)), record);
  advance(0.1);
  EXPECT_EQ(completions, 2);
}

TEST_F(SnapTest, ASnapOfAClosedWindowStillCompletes) {
  ASSERT_TRUE(world.closeWindow(kInbox));
  int completions = 0;
  ASSERT_TRUE(run([&]() -> conc::Task<void> {
    return controller->snap(windowElement(kMail, kInbox), screen(0), SnapAlignment::left,
                            [&completions] { ++completions; });
  }));
  advance(0.1);
  EXPECT_EQ(completions, 1);
  EXPECT_TRUE(controller->previousSnapRecords.empty());
}

TEST_F(SnapTest, ThePreviewDrivesTheOverlayThroughTheSnapMode) {
  controller->snapMode = SnapMode::snap(windowElement(kMail, kInbox), {SnapAlignment::right, screen(0)}, {});
  controller->updateSnapPreview();
  ASSERT_TRUE(overlayVisible());
  EXPECT_EQ(overlayFrame(), kPrimaryRight);
  auto first = overlay();
  controller->snapMode = SnapMode::none();
  controller->updateSnapPreview();
  EXPECT_FALSE(overlayVisible());
  controller->snapMode = SnapMode::snap(windowElement(kMail, kInbox), {SnapAlignment::left, screen(0)}, {});
  controller->updateSnapPreview();
  EXPECT_EQ(overlay(), first);  // one window, reused
  EXPECT_EQ(overlayFrame(), kPrimaryLeft);
  ASSERT_TRUE(run([&]() -> conc::Task<void> { return controller->applySnap(); }));
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
  EXPECT_FALSE(overlayVisible());

  // A snap-back frame is written without an overlay.
  controller->snapMode = SnapMode::snapBackFrame(windowElement(kMail, kInbox), kInboxFrame);
  controller->updateSnapPreview();
  drain();
  EXPECT_EQ(frameOf(kInbox), kInboxFrame);
}

TEST_F(SnapTest, ASnapRecordGoesWithItsWindow) {
  for (auto [pid, window] : {std::pair{kMail, kInbox}, std::pair{kNotes, kMemo}}) {
    ASSERT_TRUE(run([&, pid = pid, window = window]() -> conc::Task<void> {
      return controller->snap(windowElement(pid, window), screen(0), SnapAlignment::left, [] {});
    }));
  }
  ASSERT_EQ(controller->previousSnapRecords.size(), 2u);
  ASSERT_TRUE(world.closeWindow(kInbox));
  drain();
  ASSERT_EQ(controller->previousSnapRecords.size(), 1u);
  EXPECT_TRUE(controller->previousSnapRecords.contains(windowElement(kNotes, kMemo)));
  // Quitting ends the application's windows.
  ASSERT_TRUE(world.terminateApplication(kNotes));
  drain();
  EXPECT_TRUE(controller->previousSnapRecords.empty());
}

TEST_F(SnapTest, WithoutAnOverlayOwnerSnapsStillHappen) {
  overlayOwner.reset();
  controller->snapMode = SnapMode::snap(windowElement(kMail, kInbox), {SnapAlignment::left, screen(0)}, {});
  controller->updateSnapPreview();
  ASSERT_TRUE(run([&]() -> conc::Task<void> { return controller->applySnap(); }));
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
}

TEST_F(SnapTest, SnapModesCompareByKindElementAndPayload) {
  const auto inbox = windowElement(kMail, kInbox);
  const auto memo = windowElement(kNotes, kMemo);
  EXPECT_EQ(SnapMode::none(), SnapMode::none());
  EXPECT_EQ(SnapMode::snap(inbox, {SnapAlignment::left, screen(0)}, {}),
            SnapMode::snap(inbox, {SnapAlignment::left, screen(0)}, {}));
  EXPECT_FALSE(SnapMode::snap(inbox, {SnapAlignment::left, screen(0)}, {}) ==
               SnapMode::snap(inbox, {SnapAlignment::left, screen(1)}, {}));
  EXPECT_FALSE(SnapMode::snap(inbox, {SnapAlignment::left, screen(0)}, {}) ==
               SnapMode::snap(memo, {SnapAlignment::left, screen(0)}, {}));
  EXPECT_FALSE(SnapMode::snap(inbox, {SnapAlignment::left, screen(0)}, {}) ==
               SnapMode::snap(inbox, {SnapAlignment::left, screen(0)}, {{memo, CGRect(0, 0, 1, 1), screen(0)}}));
  EXPECT_EQ(SnapMode::snapBack(inbox, {800, 600}), SnapMode::snapBack(inbox, {800, 600}));
  EXPECT_FALSE(SnapMode::snapBack(inbox, {800, 600}) == SnapMode::snapBackFrame(inbox, CGRect(0, 0, 800, 600)));
  EXPECT_FALSE(SnapMode::snapBackFrame(inbox, CGRect(0, 0, 800, 600)) ==
               SnapMode::snapBackFrame(inbox, CGRect(1, 0, 800, 600)));
  EXPECT_FALSE(SnapMode::none() == SnapMode::snapBack(inbox, {0, 0}));
}

// ---------------------------------------------------------------- recent windows

TEST_F(SnapTest, RecentGeometriesAreTheOtherWindowsOnCurrentSpaces) {
  // Start is on Space 2 (not current); Video on the full-screen Space 3.
  sim::WindowSpec start;
  start.id = 33;
  start.title = "Start";
  start.spaces = {2};
  ASSERT_TRUE(world.createWindow(kNotes, start));
  recentWindows({{kNotes, 33}, {kMail, kInbox}, {kNotes, kMemo}, {kSafari, kVideo}});
  repository->recentActiveWindows.push_back({controllerFor(kMail), std::nullopt});

  auto geometries = result<std::vector<SnapController::RecentWindowGeometry>>(
      [&] { return controller->getRecentWindowGeometries(windowElement(kMail, kInbox)); });
  ASSERT_TRUE(geometries);
  ASSERT_EQ(geometries->size(), 1u);
  EXPECT_EQ((*geometries)[0].element, windowElement(kNotes, kMemo));
  EXPECT_EQ((*geometries)[0].frame, CGRect(1700, 200, 900, 600));
  EXPECT_EQ((*geometries)[0].screen, screen(1));

  // Without displays, without recent windows or without a repository, there are none.
  world.setManagedDisplaySpacesFails(true);
  geometries = result<std::vector<SnapController::RecentWindowGeometry>>(
      [&] { return controller->getRecentWindowGeometries(windowElement(kMail, kInbox)); });
  EXPECT_TRUE(geometries && geometries->empty());
  world.setManagedDisplaySpacesFails(false);
  repository->recentActiveWindows.clear();
  geometries = result<std::vector<SnapController::RecentWindowGeometry>>(
      [&] { return controller->getRecentWindowGeometries(windowElement(kMail, kInbox)); });
  EXPECT_TRUE(geometries && geometries->empty());
  recentWindows({{kNotes, kMemo}});
  controller->applicationRepository.reset();
  geometries = result<std::vector<SnapController::RecentWindowGeometry>>(
      [&] { return controller->getRecentWindowGeometries(windowElement(kMail, kInbox)); });
  EXPECT_TRUE(geometries && geometries->empty());
}

}  // namespace

// ---------------------------------------------------------------- title-bar gestures

namespace {

class SwipeSnapping : public SnapTest {
 protected:
  SwipeSnapping() { controller->setScrollWindowSnappingEnabled(true); }
  // A point on Inbox `below` points under its top edge.
  static CGPoint onInbox(double below = 14) { return CGPoint{600, kInboxFrame.origin.y + below}; }
  static CGPoint onMemo() { return CGPoint{2000, 214}; }
};

TEST_F(SwipeSnapping, ASlowSwipeOnATitleBarStepsTheWindowOnce) {
  driver.swipe(onInbox(), sim::InputDriver::SwipeDirection::left, false, 12);
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
  EXPECT_FALSE(controller->swipeState);  // the momentum ended: the swipe is over
  EXPECT_FALSE(overlayVisible());
  const SnapRecord record = controller->previousSnapRecords.at(windowElement(kMail, kInbox));
  EXPECT_EQ(record.startingFrame, kInboxFrame);

  // A new swipe starts again from no alignment: up maximizes, down snaps back.
  driver.swipe(CGPoint{300, 215}, sim::InputDriver::SwipeDirection::up, false, 12);
  EXPECT_EQ(frameOf(kInbox), kPrimary);
  driver.swipe(CGPoint{300, 215}, sim::InputDriver::SwipeDirection::down, false, 12);
  EXPECT_EQ(frameOf(kInbox), kInboxFrame);
}

TEST_F(SwipeSnapping, OnlyTheTopFortyPointsOfAWindowAreItsTitleBar) {
  driver.swipe(onInbox(41), sim::InputDriver::SwipeDirection::left, false, 12);
  EXPECT_EQ(frameOf(kInbox), kInboxFrame);
  EXPECT_FALSE(controller->swipeState);
  driver.swipe(onInbox(40), sim::InputDriver::SwipeDirection::left, false, 12);
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
}

TEST_F(SwipeSnapping, OneLongSwipeKeepsSteppingTheSameWindowAcrossDisplays) {
  // Five steps in one gesture; the window leaves the pointer after the first.
  driver.trackpadScroll(onMemo(), std::vector<sim::InputDriver::Delta>(12, {-3, 0}));
  ASSERT_TRUE(controller->swipeState);
  EXPECT_EQ(controller->swipeState->element, windowElement(kNotes, kMemo));
  // left (right display), right (primary), maximized (primary).
  EXPECT_EQ(frameOf(kMemo), kPrimary);
  EXPECT_EQ(controller->swipeState->snapAlignment, SnapAlignment::maximized);
  // The gesture's momentum ends it.
  driver.trackpadScroll(onMemo(), {}, {{-1, 0}});
  EXPECT_FALSE(controller->swipeState);
}

TEST_F(SwipeSnapping, AFastSwipeCarriesTheWindowToTheNextDisplayMaximized) {
  // No display further right: the right half of this one.
  driver.swipe(onMemo(), sim::InputDriver::SwipeDirection::right, true);
  EXPECT_EQ(frameOf(kMemo), CGRect(1440 + 960, 25, 960, 1055));
  driver.swipe(onInbox(), sim::InputDriver::SwipeDirection::right, true);
  EXPECT_EQ(frameOf(kInbox), kSecondary);
}

TEST_F(SwipeSnapping, TheMouseWheelStepsAndEndsASecondAfterTheLastNotch) {
  driver.scrollWheel(onInbox(), -1, 0);
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
  ASSERT_TRUE(controller->swipeState);
  driver.wait(0.5);
  driver.scrollWheel(driver.location(), 0, -1);  // the pointer is off the window now
  EXPECT_EQ(frameOf(kInbox), kPrimary);
  driver.wait(1.1);
  EXPECT_FALSE(controller->swipeState);
}

TEST_F(SwipeSnapping, WindowsOnFullScreenSpacesAreNeverSwipeSnapped) {
  ASSERT_TRUE(world.switchToSpace(3));
  driver.swipe(CGPoint{700, 220}, sim::InputDriver::SwipeDirection::left, true);
  EXPECT_EQ(frameOf(kVideo), CGRect(0, 205, 1440, 875));
  EXPECT_FALSE(controller->swipeState);
}

TEST_F(SwipeSnapping, GesturesAreIgnoredWhileScrollSnappingIsOff) {
  controller->setScrollWindowSnappingEnabled(false);
  controller->setDragWindowSnappingEnabled(true);
  driver.swipe(onInbox(), sim::InputDriver::SwipeDirection::left, true);
  EXPECT_EQ(frameOf(kInbox), kInboxFrame);
}

TEST_F(SwipeSnapping, AGestureThatEndsWhileItsWindowIsStillLookedUpLeavesNoSwipeBehind) {
  sim::ApplicationFaults slow;
  slow.responseDelay = 0.2;  // the look-up outlasts the swipe's momentum
  ASSERT_TRUE(world.setApplicationFaults(kMail, slow));
  driver.swipe(onInbox(), sim::InputDriver::SwipeDirection::left, true);
  advance(30);
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);  // the gesture still acts
  EXPECT_FALSE(controller->swipeState);
  ASSERT_TRUE(world.setApplicationFaults(kMail, sim::ApplicationFaults{}));

  // A later scroll away from any title bar leaves Inbox alone.
  driver.swipe(CGPoint{2000, 500}, sim::InputDriver::SwipeDirection::up, false, 12);
  advance(5);
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
  EXPECT_EQ(frameOf(kMemo), CGRect(1700, 200, 900, 600));
}

TEST_F(SwipeSnapping, AGestureWithoutMomentumEndsWhenTheNextTouchBegins) {
  // The fingers stop before they lift: no momentum reports this swipe's end.
  driver.trackpadScroll(onInbox(), std::vector<sim::InputDriver::Delta>(4, {-3, 0}));
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
  // The next swipe, on Memo's title bar, steps Memo, not Inbox, even when its
  // very first event is the one that fires.
  driver.trackpadScroll(onMemo(), {{12, 0}}, {{1, 0}});
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
  EXPECT_EQ(frameOf(kMemo), CGRect(1440 + 960, 25, 960, 1055));
  EXPECT_FALSE(controller->swipeState);
}

TEST_F(SwipeSnapping, ASwipeWithoutMomentumIsOverBeforeTheNextWheelNotch) {
  driver.trackpadScroll(onInbox(), std::vector<sim::InputDriver::Delta>(4, {-3, 0}));
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
  // At once, a wheel notch on Memo's title bar steps Memo.
  driver.scrollWheel(onMemo(), 0, -1);
  EXPECT_EQ(frameOf(kInbox), kPrimaryLeft);
  EXPECT_EQ(frameOf(kMemo), kSecondary);

  // With nothing after it, a swipe is over a second after its last event.
  driver.trackpadScroll(CGPoint{300, 215}, std::vector<sim::InputDriver::Delta>(4, {3, 0}));
  EXPECT_EQ(frameOf(kInbox), kPrimaryRight);
  ASSERT_TRUE(controller->swipeState);
  advance(1.1);
  EXPECT_FALSE(controller->swipeState);
}

TEST_F(SwipeSnapping, WithoutDisplaysAGestureIsIgnored) {
  world.setManagedDisplaySpacesFails(true);
  driver.swipe(onInbox(), sim::InputDriver::SwipeDirection::left, true);
  EXPECT_EQ(frameOf(kInbox), kInboxFrame);
  EXPECT_FALSE(controller->swipeState);
  world.setManagedDisplaySpacesFails(false);
}

TEST_F(SwipeSnapping, SwipingDownFromAHalfGivesThePreSnapFrameBack) {
  driver.swipe(onInbox(), sim::InputDriver::SwipeDirection::right, false, 12);
  ASSERT_EQ(frameOf(kInbox), kPrimaryRight);
  driver.swipe(CGPoint{1000, 220}, sim::InputDriver::SwipeDirection::down, false, 12);
  EXPECT_EQ(frameOf(kInbox), kInboxFrame);
}

}  // namespace

