#include <gtest/gtest.h>

#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSScreen.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/sim/Scenario.h"

namespace {

using appkit::NSScreen;

const char* const kTwoDisplays = R"({
  "displays": [{"id": 4, "name": "Built-in", "frame": [0, 0, 1440, 900], "visibleFrame": [0, 70, 1440, 805], "scale": 2},
               {"id": 9, "name": "Wide", "frame": [1440, -300, 1920, 1200]}],
  "applications": [{"pid": 501, "windows": [{"id": 1, "frame": [2000, 400, 300, 200], "focused": true}]}],
  "frontmost": 501,
  "mouse": [100, 500]
})";

// Under the virtual clock, so that what the tests post to the main queue
// goes away with them.
class NSScreenTest : public ::testing::Test {
 protected:
  dispatch::VirtualClockScope clock;
};

TEST_F(NSScreenTest, ScreensInDisplayOrderWithTheirFrames) {
  sim::ScopedScenario s(kTwoDisplays);
  auto screens = NSScreen::screens();
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0]->frame(), CGRect(0, 0, 1440, 900));
  EXPECT_EQ(screens[0]->visibleFrame(), CGRect(0, 70, 1440, 805));
  EXPECT_EQ(screens[0]->backingScaleFactor(), 2);
  EXPECT_EQ(screens[0]->localizedName(), "Built-in");
  EXPECT_EQ(screens[1]->displayNumber(), 9u);
  EXPECT_EQ(screens[0]->deviceDescription().at("NSScreenNumber"), ns::Value(std::uint32_t{4}));
}

TEST_F(NSScreenTest, ObjectsStayTheSameUntilAReconfiguration) {
  sim::ScopedScenario s(kTwoDisplays);
  auto before = NSScreen::screens();
  EXPECT_EQ(NSScreen::screens()[0], before[0]);
  sim::World::shared().setDisplayFrames(9, CGRect(1440, 0, 1920, 1080));
  auto after = NSScreen::screens();
  EXPECT_NE(after[0], before[0]);
  EXPECT_EQ(after[1]->frame(), CGRect(1440, 0, 1920, 1080));
}

TEST_F(NSScreenTest, FlippedPointUsesTheGreatestHeight) {
  sim::ScopedScenario s(kTwoDisplays);
  EXPECT_EQ(NSScreen::flippedPoint(CGPoint{5, 100}), (CGPoint{5, 1100}));
  EXPECT_EQ(NSScreen::flippedPoint(NSScreen::flippedPoint(CGPoint{5, 100})), (CGPoint{5, 100}));
  EXPECT_EQ(NSScreen::flippedRect(CGRect(0, 0, 10, 20)), CGRect(0, 1180, 10, 20));
  sim::World::shared().reset();
  EXPECT_EQ(NSScreen::flippedPoint(CGPoint{5, 100}), (CGPoint{5, -100}));  // no screens: H is 0
}

TEST_F(NSScreenTest, ScreenWithMouseAndMainScreen) {
  sim::ScopedScenario s(kTwoDisplays);
  EXPECT_EQ(appkit::NSEvent::mouseLocation(), (CGPoint{100, 700}));
  EXPECT_EQ(NSScreen::screenWithMouse(), NSScreen::screens()[0]);
  // The focused window of the frontmost application is on the wide display.
  EXPECT_EQ(NSScreen::mainScreen(), NSScreen::screens()[1]);
  sim::World::shared().setMouseLocationTopLeft(CGPoint{-50, -50});
  EXPECT_FALSE(NSScreen::screenWithMouse());
}

TEST_F(NSScreenTest, ThePointerOnAScreensTopRowIsOnThatScreen) {
  sim::ScopedScenario s(kTwoDisplays);
  const auto builtIn = NSScreen::screens()[0];
  const CGRect frame = builtIn->frame();
  // The top row of the display, in top-left coordinates, reads y == maxY.
  sim::World::shared().setMouseLocationTopLeft(NSScreen::flippedPoint(CGPoint{100, frame.maxY()}));
  EXPECT_EQ(appkit::NSEvent::mouseLocation(), (CGPoint{100, frame.maxY()}));
  EXPECT_EQ(NSScreen::screenWithMouse(), builtIn);
  // Its bottom edge is the row below the display.
  sim::World::shared().setMouseLocationTopLeft(NSScreen::flippedPoint(CGPoint{100, frame.minY()}));
  EXPECT_FALSE(NSScreen::screenWithMouse());
  EXPECT_FALSE(NSMouseInRect(CGPoint{100, frame.maxY()}, frame, true));
  EXPECT_TRUE(NSMouseInRect(CGPoint{100, frame.minY()}, frame, true));
}

TEST_F(NSScreenTest, AMissingScreenNumberGivesNoDisplayNumber) {
  sim::ScopedScenario s(R"({"displays": [{"id": 4, "frame": [0, 0, 100, 100], "screenNumberUnavailable": true}]})");
  EXPECT_FALSE(NSScreen::screens()[0]->displayNumber());
}

TEST_F(NSScreenTest, ParameterChangesArePostedOnTheMainQueue) {
  sim::ScopedScenario s(kTwoDisplays);
  NSScreen::screens();
  int posted = 0;
  auto token = ns::NotificationCenter::defaultCenter()->addObserver(
      appkit::NSApplicationDidChangeScreenParametersNotification, nullptr, [&](const ns::Notification&) { ++posted; });
  sim::World::shared().removeDisplay(9);
  EXPECT_EQ(posted, 0);
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(NSScreen::screens().size(), 1u);
}

}  // namespace
