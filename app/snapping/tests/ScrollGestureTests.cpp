#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/snapping/ScrollGestureProcessor.h"
#include "app/snapping/ScrollGestureViewModifier.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/ui/Host.h"

namespace {

using Direction = ScrollGestureProcessor::Direction;
using appkit::NSEventPhase;

struct Recorder {
  std::vector<std::string> calls;  // "right fast", "left", "end"
  std::shared_ptr<ScrollGestureProcessor> processor = ScrollGestureProcessor::create(
      [this](Direction d, bool fast, const std::shared_ptr<appkit::NSEvent>&) {
        calls.push_back(std::string(toString(d)) + (fast ? " fast" : ""));
      },
      [this] { calls.push_back("end"); });
};

// A trackpad event under natural scrolling unless told otherwise.
std::shared_ptr<appkit::NSEvent> precise(double x, double y, NSEventPhase phase = NSEventPhase::changed,
                                         NSEventPhase momentum = NSEventPhase::none, bool natural = true) {
  auto e = std::make_shared<appkit::NSEvent>(appkit::NSEventType::scrollWheel, CGPoint{});
  e->setScrollingDeltas(x, y, true).setPhases(phase, momentum).setDirectionInvertedFromDevice(natural);
  return e;
}

std::shared_ptr<appkit::NSEvent> wheel(double x, double y) {
  auto e = std::make_shared<appkit::NSEvent>(appkit::NSEventType::scrollWheel, CGPoint{});
  e->setScrollingDeltas(x, y, false).setDirectionInvertedFromDevice(true);
  return e;
}

using Strings = std::vector<std::string>;

TEST(ScrollGestureProcessor, OneBigEventFiresAFastSwipeAndIgnoresTheRestOfTheGesture) {
  Recorder r;
  r.processor->processPreciseScroll(precise(12, 0, NSEventPhase::began));
  r.processor->processPreciseScroll(precise(12, 0));
  r.processor->processPreciseScroll(precise(30, 0, NSEventPhase::none, NSEventPhase::changed));
  EXPECT_EQ(r.calls, (Strings{"right fast"}));
  EXPECT_EQ(r.processor->phase, ScrollGestureProcessor::Phase::triggered());
  r.processor->processPreciseScroll(precise(0, 0, NSEventPhase::none, NSEventPhase::ended));
  EXPECT_EQ(r.calls, (Strings{"right fast", "end"}));
  EXPECT_EQ(r.processor->phase, ScrollGestureProcessor::Phase::none());
}

TEST(ScrollGestureProcessor, SmallEventsAccumulateClampedUntilTheStepDistance) {
  Recorder r;
  for (int i = 0; i < 3; ++i) r.processor->processPreciseScroll(precise(3, 0));
  EXPECT_TRUE(r.calls.empty());
  EXPECT_EQ(r.processor->phase, ScrollGestureProcessor::Phase::inProgress({6, 0}));
  r.processor->processPreciseScroll(precise(3, 0));
  EXPECT_EQ(r.calls, (Strings{"right"}));
  EXPECT_EQ(r.processor->phase, ScrollGestureProcessor::Phase::inProgress({0, 0}));
  r.processor->processPreciseScroll(precise(3, 0));  // a new sum
  EXPECT_EQ(r.processor->phase, ScrollGestureProcessor::Phase::inProgress({2, 0}));
}

TEST(ScrollGestureProcessor, TheSingleEventThresholdIsStrict) {
  Recorder r;
  r.processor->processPreciseScroll(precise(10, 0));
  EXPECT_TRUE(r.calls.empty());
  EXPECT_EQ(r.processor->phase, ScrollGestureProcessor::Phase::inProgress({2, 0}));
}

TEST(ScrollGestureProcessor, DirectionsFollowTheFingersWhateverTheScrollingSetting) {
  Recorder r;
  r.processor->processPreciseScroll(precise(0, -11, NSEventPhase::began, NSEventPhase::none, false));
  r.processor->processPreciseScroll(precise(0, 0, NSEventPhase::none, NSEventPhase::ended, false));
  r.processor->processPreciseScroll(precise(0, -11, NSEventPhase::began, NSEventPhase::none, true));
  r.processor->processPreciseScroll(precise(0, 0, NSEventPhase::none, NSEventPhase::ended, true));
  r.processor->processPreciseScroll(precise(-11, 0, NSEventPhase::began));
  EXPECT_EQ(r.calls, (Strings{"down fast", "end", "up fast", "end", "left fast"}));
}

TEST(ScrollGestureProcessor, HorizontalSumsComeFirstAndDropTheVerticalOne) {
  Recorder r;
  for (int i = 0; i < 3; ++i) r.processor->processPreciseScroll(precise(2, 2));
  r.processor->processPreciseScroll(precise(2, 2));  // x 8 > 7.5 fires before y is summed
  EXPECT_EQ(r.calls, (Strings{"right"}));
  EXPECT_EQ(r.processor->phase, ScrollGestureProcessor::Phase::inProgress({0, 0}));
}

TEST(ScrollGestureProcessor, MomentumChangesNeverTrigger) {
  Recorder r;
  r.processor->processPreciseScroll(precise(40, 0, NSEventPhase::none, NSEventPhase::changed));
  r.processor->processPreciseScroll(precise(0, -40, NSEventPhase::none, NSEventPhase::changed));
  EXPECT_TRUE(r.calls.empty());
  EXPECT_EQ(r.processor->phase, ScrollGestureProcessor::Phase::none());
}

TEST(ScrollGestureProcessor, ANewTouchEndsAGestureThatHadNoMomentum) {
  Recorder r;
  r.processor->processPreciseScroll(precise(12, 0, NSEventPhase::began));
  r.processor->processPreciseScroll(precise(0, 0, NSEventPhase::ended));  // fingers stopped, then lifted
  r.processor->processPreciseScroll(precise(-12, 0, NSEventPhase::began));
  EXPECT_EQ(r.calls, (Strings{"right fast", "end", "left fast"}));
  // A first touch with nothing before it ends nothing.
  Recorder fresh;
  fresh.processor->processPreciseScroll(precise(1, 0, NSEventPhase::began));
  EXPECT_TRUE(fresh.calls.empty());
}

TEST(ScrollGestureProcessor, WheelNotchesStepAtOnceAndEndASecondAfterTheLast) {
  dispatch::VirtualClockScope clock;
  Recorder r;
  r.processor->processMouseWheel(wheel(0, 0.1));  // exactly 0.1 only accumulates
  EXPECT_TRUE(r.calls.empty());
  r.processor->processMouseWheel(wheel(0, 0.5));
  EXPECT_EQ(r.calls, (Strings{"down"}));
  dispatch::Scheduler::shared().advance(0.5);
  r.processor->processMouseWheel(wheel(-1, 0));
  EXPECT_EQ(r.calls, (Strings{"down", "left"}));
  dispatch::Scheduler::shared().advance(0.9);
  EXPECT_EQ(r.calls.size(), 2u);  // the first notches' checks found a newer notch
  dispatch::Scheduler::shared().advance(0.2);
  EXPECT_EQ(r.calls, (Strings{"down", "left", "end"}));
  EXPECT_EQ(r.processor->phase, ScrollGestureProcessor::Phase::none());
  dispatch::Scheduler::shared().advance(5);
  EXPECT_EQ(r.calls.size(), 3u);
}

TEST(ScrollGestureProcessor, AGestureEndsAfterAQuietTimeOrWhenTheOtherDeviceScrolls) {
  dispatch::VirtualClockScope clock;
  Recorder r;
  // Fingers that stop before lifting: no momentum end comes.
  r.processor->processPreciseScroll(precise(20, 0, NSEventPhase::began));
  r.processor->processPreciseScroll(precise(0, 0, NSEventPhase::ended));
  dispatch::Scheduler::shared().advance(0.9);
  EXPECT_EQ(r.calls, (Strings{"right fast"}));
  dispatch::Scheduler::shared().advance(0.2);
  EXPECT_EQ(r.calls, (Strings{"right fast", "end"}));
  EXPECT_EQ(r.processor->phase, ScrollGestureProcessor::Phase::none());
  // A wheel notch within a trackpad gesture starts a gesture of its own.
  r.processor->processPreciseScroll(precise(20, 0, NSEventPhase::began));
  r.processor->processMouseWheel(wheel(0.5, 0));
  EXPECT_EQ(r.calls, (Strings{"right fast", "end", "right fast", "end", "right"}));
  dispatch::Scheduler::shared().advance(1.1);
  EXPECT_EQ(r.calls.back(), "end");
  EXPECT_EQ(r.calls.size(), 6u);
}

TEST(ScrollGestureViewModifier, TheHostingViewKeepsEveryScrollEventToItself) {
  std::vector<std::string> gestures;
  int behind = 0;
  auto content = ui::View(ui::Color::red()).frame(100, 100);
  auto host = ui::Host::make(
      content.modifier(ScrollGestureViewModifier{[&gestures](Direction d, bool fast, const auto&) {
           gestures.push_back(std::string(toString(d)) + (fast ? " fast" : ""));
         }}).onScrollWheel([&behind](const ui::ScrollEvent&) { ++behind; }));
  host->setProposedSize(ui::Size{100, 100});
  ui::ScrollEvent e;
  e.location = ui::Point{50, 50};
  e.scrollingDeltaX = 15;
  e.hasPreciseScrollingDeltas = true;
  e.phase = ui::EventPhase::began;
  e.isDirectionInvertedFromDevice = true;
  host->scrollWheel(e);
  e.phase = ui::EventPhase::changed;
  host->scrollWheel(e);
  EXPECT_EQ(gestures, (std::vector<std::string>{"right fast"}));
  EXPECT_EQ(behind, 0);
}

}  // namespace
