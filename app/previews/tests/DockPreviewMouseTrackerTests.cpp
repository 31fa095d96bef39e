#include <gtest/gtest.h>

#include "app/previews/tests/CoordinatorTestSupport.h"

namespace {

using namespace coordtest;
using MouseEvent = DockPreviewMouseTracker::MouseEvent;
using Kind = MouseEvent::Kind;
using TrackingMode = DockPreviewMouseTracker::TrackingMode;

// Records the events; the own-window test answers `ownWindow`.
class RecordingTrackerDelegate : public DockPreviewMouseTrackerDelegate {
 public:
  std::vector<MouseEvent> events;
  std::vector<CGPoint> asked;
  bool ownWindow = false;

  void mouseTrackerDidReceive(DockPreviewMouseTracker&, const MouseEvent& event) override { events.push_back(event); }
  bool mouseTrackerContainsPoint(DockPreviewMouseTracker&, CGPoint point) override {
    asked.push_back(point);
    return ownWindow;
  }

  std::vector<Kind> kinds() const {
    std::vector<Kind> out;
    for (const auto& e : events) out.push_back(e.kind);
    return out;
  }
};

// The tracker alone over the desk, with the Dock's controller.
class PreviewMouseTracker : public ::testing::Test {
 protected:
  PreviewMouseTracker() {
    driver.setPump([](double seconds) { dispatch::Scheduler::shared().advance(seconds); });
    appkit::connectInputToSimulatedDesktop();
    tracker->delegate = delegate;
  }
  ~PreviewMouseTracker() override {
    tracker->setTrackingMode(TrackingMode::disabled);
    advance(10);
    driver.setPump(nullptr);
    driver.reset();
    cgevent::testing::setTapCreationFails(false);
    appkit::WindowList::resetForTesting();
  }

  void loggingModules(std::vector<std::string> names) {
    ns::Array list;
    for (auto& n : names) list.push_back(ns::Value(n));
    defaults->setObject(diagnostics::kLoggingModulesKey, ns::Value(list));
  }
  void moveTo(CGPoint p) {
    driver.moveTo(p);
    drain();
  }
  void click(CGPoint p, sim::MouseButton button = sim::MouseButton::left) {
    driver.click(p, button);
    drain();
  }
  std::shared_ptr<ApplicationController> dockController() {
    if (!dock_) dock_ = ApplicationController::make(appkit::NSRunningApplication::runningApplicationWithProcessIdentifier(kDock));
    return dock_;
  }

  dispatch::VirtualClockScope clock;
  ns::test::ScopedStandardDefaults defaults;
  sim::ScopedScenario scenario_{kDockDesk};
  sim::World& world = sim::World::shared();
  sim::InputDriver& driver = sim::InputDriver::shared();
  ns::LogCapture log;
  std::shared_ptr<DockPreviewMouseTracker> tracker = DockPreviewMouseTracker::make();
  std::shared_ptr<RecordingTrackerDelegate> delegate = std::make_shared<RecordingTrackerDelegate>();

 private:
  std::shared_ptr<ApplicationController> dock_;
};

// ---- the tap

TEST_F(PreviewMouseTracker, DockOnlyWaitsForTheDocksController) {
  tracker->setTrackingMode(TrackingMode::dockOnly);
  EXPECT_FALSE(tracker->cgEventTapWrapper);
  tracker->setDockController(dockController());
  ASSERT_TRUE(tracker->cgEventTapWrapper);
  EXPECT_EQ(tracker->cgEventTapWrapper->pid, kDock);
  EXPECT_TRUE(tracker->cgEventTapWrapper->tap);
  EXPECT_EQ(cgevent::testing::liveTapCount(), 1u);
}

TEST_F(PreviewMouseTracker, TheSameDockControllerAgainKeepsTheTapAndNoneStopsIt) {
  tracker->setDockController(dockController());
  tracker->setTrackingMode(TrackingMode::dockOnly);
  auto tap = tracker->cgEventTapWrapper;
  tracker->setDockController(dockController());
  EXPECT_EQ(tracker->cgEventTapWrapper, tap);
  tracker->setDockController(nullptr);
  EXPECT_FALSE(tracker->cgEventTapWrapper);
  EXPECT_FALSE(tap->tap);
  EXPECT_EQ(cgevent::testing::liveTapCount(), 0u);
}

TEST_F(PreviewMouseTracker, EntireScreenTapsTheSessionAndEveryChangeReplacesTheTap) {
  tracker->setDockController(dockController());
  loggingModules({"DockPreviewMouseTracker"});
  tracker->setTrackingMode(TrackingMode::entireScreen);
  ASSERT_TRUE(tracker->cgEventTapWrapper);
  EXPECT_EQ(tracker->cgEventTapWrapper->pid, std::nullopt);
  auto session = tracker->cgEventTapWrapper;
  // The same mode again: nothing.
  tracker->setTrackingMode(TrackingMode::entireScreen);
  EXPECT_EQ(tracker->cgEventTapWrapper, session);
  tracker->setTrackingMode(TrackingMode::dockOnly);
  EXPECT_FALSE(session->tap);
  EXPECT_EQ(tracker->cgEventTapWrapper->pid, kDock);
  tracker->setTrackingMode(TrackingMode::disabled);
  EXPECT_FALSE(tracker->cgEventTapWrapper);
  EXPECT_EQ(cgevent::testing::liveTapCount(), 0u);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"DockPreviewMouseTracker: trackingMode:entireScreen",
                                                   "DockPreviewMouseTracker: trackingMode:dockOnly",
                                                   "DockPreviewMouseTracker: trackingMode:disabled"}));
}

TEST_F(PreviewMouseTracker, AFailedTapIsKeptInertUntilTheNextStart) {
  tracker->setDockController(dockController());
  cgevent::testing::setTapCreationFails(true);
  tracker->setTrackingMode(TrackingMode::dockOnly);
  ASSERT_TRUE(tracker->cgEventTapWrapper);
  EXPECT_FALSE(tracker->cgEventTapWrapper->tap);
  tracker->setTrackingMode(TrackingMode::entireScreen);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "CGEventTapWrapper: createCGEventTap error.", "CGEventTapWrapper: start error.",
                             "CGEventTapWrapper:createCGEventTap error.", "CGEventTapWrapper: start error."}));
  moveTo(kMailIcon);
  EXPECT_TRUE(delegate->events.empty());

  cgevent::testing::setTapCreationFails(false);
  tracker->startTracking();
  EXPECT_TRUE(tracker->cgEventTapWrapper->tap);
  moveTo(kNotesIcon);
  EXPECT_EQ(delegate->kinds(), (std::vector<Kind>{Kind::movingOnDockIcon}));
}

TEST_F(PreviewMouseTracker, StoppingTwiceOrWithoutAStartDoesNothing) {
  auto wrapper = CGEventTapWrapper::make(std::nullopt);
  wrapper->stop();
  wrapper->start();
  ASSERT_TRUE(wrapper->tap);
  wrapper->stop();
  wrapper->stop();
  EXPECT_FALSE(wrapper->tap);
  EXPECT_EQ(cgevent::testing::liveTapCount(), 0u);
}

TEST_F(PreviewMouseTracker, EventsOnTheirWayWhenTheTapStopsAreDropped) {
  tracker->setTrackingMode(TrackingMode::entireScreen);
  driver.setPump(nullptr);
  driver.moveTo(kMailIcon);  // the tap's delivery is posted, not yet run
  // Runs after the tap's callback has posted the event on to the tracker.
  dispatch::Queue::main()->async([this] { tracker->setTrackingMode(TrackingMode::disabled); });
  drain();
  EXPECT_TRUE(delegate->events.empty());
  EXPECT_FALSE(tracker->lastEventDate);
}

TEST_F(PreviewMouseTracker, ACallbackWithoutUserInfoPassesTheEventOn) {
  auto event = cgevent::CGEventCreateMouseEvent(nullptr, cgevent::kCGEventMouseMoved, kMailIcon,
                                                cgevent::kCGMouseButtonLeft);
  EXPECT_EQ(CGEventTapWrapper::callback(nullptr, cgevent::kCGEventMouseMoved, event, nullptr), event);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"CGEventTapWrapper: Missing refcon"}));
}

TEST_F(PreviewMouseTracker, ATapDisabledNoticeProducesNoEvent) {
  tracker->setTrackingMode(TrackingMode::entireScreen);
  cgevent::testing::disableTapByTimeout(tracker->cgEventTapWrapper->tap);
  drain();
  EXPECT_TRUE(tracker->lastEventDate);
  EXPECT_TRUE(delegate->events.empty());
}

// ---- classification

TEST_F(PreviewMouseTracker, AnApplicationIconWithURLAndTitleIsMovingOnDockIcon) {
  tracker->setDockController(dockController());
  tracker->setTrackingMode(TrackingMode::dockOnly);
  moveTo(kMailIcon);
  ASSERT_EQ(delegate->kinds(), (std::vector<Kind>{Kind::movingOnDockIcon}));
  const auto& icon = *delegate->events[0].dockIcon;
  EXPECT_EQ(icon.bundleURL.absoluteString(), kMailURL);
  EXPECT_EQ(icon.title, "Mail");
  EXPECT_EQ(icon.element.element->id.kind, sim::ElementKind::DockItem);
  // The own-window test got the bottom-left point.
  EXPECT_EQ(delegate->asked.back(), (CGPoint{kMailIcon.x, 900 - kMailIcon.y}));
  EXPECT_TRUE(tracker->lastEventDate);
}

TEST_F(PreviewMouseTracker, OtherPartsOfTheDockAreDockArea) {
  tracker->setDockController(dockController());
  tracker->setTrackingMode(TrackingMode::dockOnly);
  moveTo(kUntitledIcon);  // no title
  moveTo(kFolderIcon);    // another subrole
  moveTo(kDockGap);       // the strip between the items
  moveTo(CGPoint{1104, 865});  // the Trash: no URL
  EXPECT_EQ(delegate->kinds(), (std::vector<Kind>(4, Kind::movingOnDockArea)));
}

TEST_F(PreviewMouseTracker, TheDockOnlyTapSeesNothingOffTheDock) {
  tracker->setDockController(dockController());
  tracker->setTrackingMode(TrackingMode::dockOnly);
  moveTo(kDesktop);
  moveTo(kOnMemo);
  EXPECT_TRUE(delegate->events.empty());
  EXPECT_FALSE(tracker->lastEventDate);
}

TEST_F(PreviewMouseTracker, OffTheDockTheSessionTapReportsMovesAndClicksOnTheScreen) {
  tracker->setDockController(dockController());
  tracker->setTrackingMode(TrackingMode::entireScreen);
  loggingModules({"DockPreviewMouseTracker"});
  moveTo(kOnMemo);
  moveTo(kDesktop);
  click(kDesktop);
  click(kOnMemo, sim::MouseButton::right);
  click(kDesktop, sim::MouseButton::other);
  EXPECT_EQ(delegate->kinds(), (std::vector<Kind>{Kind::movingOnScreen, Kind::movingOnScreen, Kind::mouseDownOnScreen,
                                                  Kind::movingOnScreen, Kind::mouseDownOnScreen, Kind::movingOnScreen,
                                                  Kind::mouseDownOnScreen}));
  EXPECT_EQ(log.countContaining("DockPreviewMouseTracker: click on screen"), 3u);
}

TEST_F(PreviewMouseTracker, AnyClickOnTheDockIsMouseDownOnDock) {
  tracker->setDockController(dockController());
  tracker->setTrackingMode(TrackingMode::dockOnly);
  moveTo(kDockGap);
  loggingModules({"DockPreviewMouseTracker"});
  driver.press();
  drain();
  driver.release();
  drain();
  moveTo(kMailIcon);
  driver.press(sim::MouseButton::right);
  drain();
  driver.release(sim::MouseButton::right);
  drain();
  EXPECT_EQ(delegate->kinds(), (std::vector<Kind>{Kind::movingOnDockArea, Kind::mouseDownOnDock, Kind::movingOnDockIcon,
                                                  Kind::mouseDownOnDock}));
  EXPECT_EQ(log.countContaining("DockPreviewMouseTracker: click on dock element"), 2u);
}

TEST_F(PreviewMouseTracker, WithoutADockControllerOnlyElementsWithoutAProcessCountAsTheDocks) {
  tracker->setTrackingMode(TrackingMode::entireScreen);
  moveTo(kMailIcon);
  moveTo(kOnMemo);
  EXPECT_EQ(delegate->kinds(), (std::vector<Kind>{Kind::movingOnScreen, Kind::movingOnScreen}));
}

TEST_F(PreviewMouseTracker, EventsOverTheProgramsOwnWindowsAreDropped) {
  tracker->setTrackingMode(TrackingMode::entireScreen);
  delegate->ownWindow = true;
  loggingModules({"DockPreviewMouseTracker"});
  moveTo(kDesktop);
  click(kDesktop);
  EXPECT_TRUE(delegate->events.empty());
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"DockPreviewMouseTracker: ignored click"}));
}

TEST_F(PreviewMouseTracker, WithoutADelegateEventsAreDropped) {
  tracker->delegate.reset();
  tracker->setTrackingMode(TrackingMode::entireScreen);
  int hitTests = 0;
  world.setAccessibilityCallHook([&](const sim::AccessibilityCall& call) {
    if (call.kind == sim::AccessibilityCall::Kind::HitTest) ++hitTests;
  });
  moveTo(kDesktop);
  world.setAccessibilityCallHook(nullptr);
  EXPECT_EQ(hitTests, 0);
  EXPECT_TRUE(tracker->lastEventDate);
}

TEST_F(PreviewMouseTracker, ADockItemThatCannotBeReadIsDockArea) {
  tracker->setDockController(dockController());
  tracker->setTrackingMode(TrackingMode::dockOnly);
  // The Dock stops answering once the item was found to be the Dock's, before
  // its second read classifies it.
  sim::ApplicationFaults unresponsive;
  unresponsive.unresponsive = true;
  int subroleReads = 0;
  world.setAccessibilityCallHook([&](const sim::AccessibilityCall& call) {
    if (call.kind == sim::AccessibilityCall::Kind::CopyAttribute && call.name == "AXSubrole" &&
        ++subroleReads == 2) {
      world.setApplicationFaults(kDock, unresponsive);
    }
  });
  moveTo(kMailIcon);
  world.setAccessibilityCallHook(nullptr);
  EXPECT_EQ(delegate->kinds(), (std::vector<Kind>{Kind::movingOnDockArea}));
}

// ---- status

TEST_F(PreviewMouseTracker, TheStatusDescription) {
  EXPECT_EQ(tracker->statusDescription(), "MouseTracker (nil lastEventDate:nil wrapperStatus:nil");
  tracker->setDockController(dockController());
  tracker->setTrackingMode(TrackingMode::dockOnly);
  tracker->lastEventDate = ns::Date(0);
  EXPECT_EQ(tracker->statusDescription(),
            "MouseTracker (Optional(\"com.apple.dock\") lastEventDate:Optional(1970-01-01 00:00:00 +0000) "
            "wrapperStatus:Optional(\"Optional(90)\")");
  tracker->setTrackingMode(TrackingMode::entireScreen);
  EXPECT_EQ(tracker->statusDescription(),
            "MouseTracker (Optional(\"com.apple.dock\") lastEventDate:Optional(1970-01-01 00:00:00 +0000) "
            "wrapperStatus:Optional(\"nil\")");
}

}  // namespace
