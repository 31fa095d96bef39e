#include <gtest/gtest.h>

#include <unordered_set>

#include "app/model/AXUIElementWrapper.h"
#include "app/model/tests/ModelTestSupport.h"
#include "platform/sim/Scenario.h"

namespace {

using modeltest::drain;
using modeltest::start;

const char* const kElementDesk = R"({
  "displays": [{"id": 1, "frame": [0, 0, 1000, 800]}],
  "applications": [
    {"pid": 501, "name": "Mail", "bundleURL": "file:///Applications/Mail.app/",
     "windows": [{"id": 11, "title": "Inbox", "frame": [100, 100, 400, 300], "focused": true},
                 {"id": 12, "title": "Draft", "frame": [520, 100, 300, 300], "closeButton": false, "resizable": false},
                 {"id": 13, "subrole": "AXFloatingWindow", "frame": [520, 450, 200, 100], "minimized": true}]},
    {"pid": 502, "name": "Slow", "faults": {"responseDelay": 0.1},
     "windows": [{"id": 21, "title": "Turtle", "frame": [0, 500, 300, 200]}]},
    {"pid": 503, "name": "Stuck", "faults": {"unresponsive": true, "timeout": 2},
     "windows": [{"id": 31, "title": "Frozen", "frame": [400, 500, 300, 200]}]}
  ],
  "frontmost": 501,
  "zOrder": [11, 12, 21, 31]
})";

class AXUIElementTest : public ::testing::Test {
 protected:
  dispatch::VirtualClockScope clock;
  sim::ScopedScenario scenario{kElementDesk};
  sim::World& world = sim::World::shared();

  static AXUIElementWrapper window(pid_t pid, std::uint32_t id) {
    return AXUIElementWrapper(std::make_shared<ax::AXUIElement>(sim::ElementID{pid, sim::ElementKind::Window, id}));
  }
  static AXUIElementWrapper application(pid_t pid) { return AXUIElementWrapper(ax::AXUIElementCreateApplication(pid)); }

  AXUIElementData dataOf(const AXUIElementWrapper& w) {
    auto result = start<AXUIElementData>([w] { return w.getData(); });
    drain();
    EXPECT_TRUE(result->has_value());
    return **result;
  }
  std::vector<AXUIElementWrapper> windowsOf(pid_t pid) {
    auto result = start<std::vector<AXUIElementWrapper>>([pid] {
      return application(pid).retrieve<std::vector<AXUIElementWrapper>>(
          [](AXUIElementController& c) { return c.windows(); });
    });
    drain();
    return result->value_or(std::vector<AXUIElementWrapper>{});
  }
};

TEST_F(AXUIElementTest, WrappersOfOneWindowAreEqualAndHashAlike) {
  auto first = windowsOf(501);
  auto second = windowsOf(501);
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[0], second[0]);
  EXPECT_EQ(first[0].hash(), second[0].hash());
  EXPECT_NE(first[0].element, second[0].element);  // separate objects, one element
  EXPECT_FALSE(first[0] == first[1]);
  auto found = start<std::optional<AXUIElementWrapper>>([] { return AXUIElementContext::shared().find(CGPoint{300, 300}); });
  drain();
  ASSERT_TRUE(found->has_value() && found->value().has_value());
  // The hit element is the window's content; its window is the same window.
  auto viaHit = start<std::optional<AXUIElementWrapper>>([w = ***found] {
    return w.retrieve<std::optional<AXUIElementWrapper>>([w](AXUIElementController&) { return w.windowElement(); });
  });
  drain();
  EXPECT_EQ(**viaHit, first[0]);
  EXPECT_TRUE(containsElement(second, first[2]));
  EXPECT_FALSE(containsElement(second, window(502, 21)));
}

TEST_F(AXUIElementTest, CollidingHashesKeepDistinctWindowsApart) {
  world.setHashBuckets(1);
  std::unordered_set<AXUIElementWrapper> set;
  for (const auto& w : windowsOf(501)) set.insert(w);
  for (const auto& w : windowsOf(501)) set.insert(w);
  EXPECT_EQ(set.size(), 3u);
  EXPECT_EQ(window(501, 11).hash(), window(501, 12).hash());
}

TEST_F(AXUIElementTest, SnapshotOfAWindow) {
  const AXUIElementData d = dataOf(window(501, 11));
  EXPECT_EQ(d.wrapper, window(501, 11));
  EXPECT_EQ(d.pid, 501);
  EXPECT_EQ(d.title, "Inbox");
  EXPECT_FALSE(d.url);  // windows have no URL
  EXPECT_EQ(d.subrole, "AXStandardWindow");
  EXPECT_EQ(d.windowID, 11u);
  EXPECT_EQ(d.minimized, false);
  EXPECT_EQ(d.isMain, true);
  EXPECT_EQ(d.position, (CGPoint{100, 100}));
  EXPECT_EQ(d.size, (CGSize{400, 300}));
  EXPECT_EQ(d.frame, CGRect(100, 100, 400, 300));
  EXPECT_EQ(d.resizable, true);
  EXPECT_EQ(d.hidden, false);  // "AXHidden"

  const AXUIElementData fixed = dataOf(window(501, 12));
  EXPECT_EQ(fixed.resizable, false);
  EXPECT_EQ(fixed.isMain, false);
  // An attribute the element does not have is absent, not false.
  const AXUIElementData app = dataOf(application(501));
  EXPECT_FALSE(app.minimized);
  EXPECT_FALSE(app.windowID);
  EXPECT_FALSE(app.frame);
  EXPECT_EQ(app.title, "Mail");
}

TEST_F(AXUIElementTest, AWindowClosedBetweenReadsStillGivesASnapshot) {
  world.setAccessibilityCallHook([this](const sim::AccessibilityCall& call) {
    if (call.kind == sim::AccessibilityCall::Kind::CopyAttribute && call.name == "AXURL") world.closeWindow(11);
  });
  const AXUIElementData d = dataOf(window(501, 11));
  EXPECT_EQ(d.pid, 501);
  EXPECT_EQ(d.title, "Inbox");  // read before the window went
  EXPECT_FALSE(d.subrole);
  EXPECT_FALSE(d.windowID);
  EXPECT_FALSE(d.minimized);
  EXPECT_FALSE(d.position);
  EXPECT_FALSE(d.frame);
  EXPECT_FALSE(d.resizable);
  EXPECT_FALSE(d.hidden);
}

TEST_F(AXUIElementTest, WrongTypedValuesReadAsAbsent) {
  world.setWindowAttributeFault(11, "AXPosition", sim::AttributeFault{std::nullopt, ns::Value("nowhere")});
  world.setWindowAttributeFault(11, "AXSize", sim::AttributeFault{std::nullopt, sim::pointValue({5, 5})});
  world.setWindowAttributeFault(11, "AXTitle", sim::AttributeFault{std::nullopt, ns::Value(42)});
  world.setWindowAttributeFault(11, "AXMinimized", sim::AttributeFault{std::nullopt, ns::Value("yes")});
  world.setWindowAttributeFault(11, "AXMain", sim::AttributeFault{std::nullopt, ns::Value(1)});
  world.setWindowAttributeFault(11, "AXSubrole", sim::AttributeFault{sim::axerr::kCannotComplete, std::nullopt});
  const AXUIElementData d = dataOf(window(501, 11));
  EXPECT_FALSE(d.position);  // never a made-up (0, 0)
  EXPECT_FALSE(d.size);
  EXPECT_FALSE(d.frame);
  EXPECT_FALSE(d.title);
  EXPECT_FALSE(d.minimized);
  EXPECT_EQ(d.isMain, true);  // a number 1 is a Boolean
  EXPECT_FALSE(d.subrole);
  EXPECT_EQ(d.windowID, 11u);
}

TEST_F(AXUIElementTest, ARaiseQueuedBeforeAReadIsDoneFirst) {
  window(501, 12).raise();
  const AXUIElementData d = dataOf(window(501, 12));
  EXPECT_EQ(d.isMain, true);
  EXPECT_EQ(world.zOrder().front(), 12u);
}

TEST_F(AXUIElementTest, QueuedWritesRunInOrderWithoutWaiting) {
  std::vector<std::string> writes;
  world.setAccessibilityCallHook([&](const sim::AccessibilityCall& call) {
    if (call.kind == sim::AccessibilityCall::Kind::SetAttribute) writes.push_back(call.name);
  });
  window(501, 11).setFrame(std::nullopt);
  window(501, 11).setSize(std::nullopt);
  EXPECT_TRUE(writes.empty());
  window(501, 11).setFrame(CGRect(10, 40, 300, 200));
  EXPECT_TRUE(writes.empty());  // queued, not done
  drain();
  EXPECT_EQ(writes, (std::vector<std::string>{"AXPosition", "AXSize"}));  // moved before resized
  EXPECT_EQ(world.window(11)->frame, CGRect(10, 40, 300, 200));
  window(501, 11).setSize(CGSize{250, 150});
  window(501, 13).unminimize();
  drain();
  EXPECT_EQ(world.window(11)->frame.size, (CGSize{250, 150}));
  EXPECT_FALSE(world.window(13)->minimized);
}

TEST_F(AXUIElementTest, CloseUsesTheCloseButtonWhenThereIsOne) {
  window(501, 12).close();  // no close button
  window(501, 11).close();
  drain();
  EXPECT_TRUE(world.window(12));
  EXPECT_FALSE(world.window(11));
}

TEST_F(AXUIElementTest, FindGivesNothingWhereTheHitTestFails) {
  auto nothing = start<std::optional<AXUIElementWrapper>>([] { return AXUIElementContext::shared().find(CGPoint{990, 790}); });
  drain();
  ASSERT_TRUE(nothing->has_value());
  EXPECT_FALSE(nothing->value());
  // An unresponsive application under the point fails the hit test too.
  auto stuck = start<std::optional<AXUIElementWrapper>>([] { return AXUIElementContext::shared().find(CGPoint{500, 600}); });
  dispatch::Scheduler::shared().advance(10);
  ASSERT_TRUE(stuck->has_value());
  EXPECT_FALSE(stuck->value());
}

TEST_F(AXUIElementTest, AnApplicationWithoutAWindowsAttributeHasNoWindows) {
  sim::ApplicationFaults faults;
  faults.applicationAttributes["AXWindows"] = sim::AttributeFault{sim::axerr::kNoValue, std::nullopt};
  world.setApplicationFaults(501, faults);
  EXPECT_TRUE(windowsOf(501).empty());
  faults.applicationAttributes["AXWindows"] = sim::AttributeFault{std::nullopt, ns::Value(ns::Array{ns::Value("x")})};
  world.setApplicationFaults(501, faults);
  EXPECT_TRUE(windowsOf(501).empty());
}

TEST_F(AXUIElementTest, WithControllerRunsTheBodyOnTheGivenElement) {
  std::optional<std::string> title;
  AXUIElementController::withController(window(501, 12), [&](AXUIElementController& c) {
    title = c.stringAttribute(ax::NSAccessibilityTitleAttribute);
    c.pressCloseButton();  // there is none: nothing happens
  });
  EXPECT_EQ(title, "Draft");
  EXPECT_TRUE(world.window(12));
}

// ---------------------------------------------------------------- the queue

TEST_F(AXUIElementTest, TheQueueIsTheOneSerialAccessibilityQueue) {
  EXPECT_EQ(AXUIElementDispatchQueue::shared().queue()->label(), "AXUIElementDispatchQueue");
  EXPECT_EQ(AXUIElementDispatchQueue::shared().queue()->kind(), dispatch::Queue::Kind::Serial);
  bool onQueue = false;
  AXUIElementContext::shared().perform([&](AXUIElementContext::ControllerFactory&) {
    onQueue = AXUIElementDispatchQueue::shared().queue()->isCurrent() && AXUIElementDispatchQueue::isRunningJob();
  });
  drain();
  EXPECT_TRUE(onQueue);
}

TEST_F(AXUIElementTest, ASlowApplicationDelaysOnlyTheWorkBehindIt) {
  const dispatch::Time t0 = dispatch::now();
  std::vector<std::pair<std::string, double>> arrivals;
  auto at = [&](std::string what) { arrivals.emplace_back(std::move(what), (dispatch::now() - t0) / 1e9); };

  conc::spawnOnMain([&]() -> conc::Task<void> {
    auto read = window(502, 21).getData();
    auto d = co_await std::move(read);
    EXPECT_EQ(d.title, "Turtle");
    at("slow");
  });
  conc::spawnOnMain([&]() -> conc::Task<void> {
    auto read = window(501, 11).getData();
    co_await std::move(read);
    at("fast");
  });
  dispatch::Queue::main()->asyncAfterDelay(0.05, [&] { at("timer"); });
  drain();
  dispatch::Queue::main()->async([&] { at("main work"); });
  drain();
  ASSERT_EQ(arrivals.size(), 1u);  // the main queue is never held up
  EXPECT_EQ(arrivals[0].first, "main work");
  dispatch::Scheduler::shared().advance(0.05);
  ASSERT_EQ(arrivals.size(), 2u);
  EXPECT_EQ(arrivals[1], (std::pair<std::string, double>{"timer", 0.05}));
  dispatch::Scheduler::shared().advance(5);
  ASSERT_EQ(arrivals.size(), 4u);
  // Twelve answered calls of 0.1 s each (the pid costs nothing).
  EXPECT_EQ(arrivals[2].first, "slow");
  EXPECT_NEAR(arrivals[2].second, 1.2, 1e-6);
  EXPECT_EQ(arrivals[3].first, "fast");  // queued behind the slow job
  EXPECT_NEAR(arrivals[3].second, 1.2, 1e-6);
}

TEST_F(AXUIElementTest, AnUnresponsiveApplicationFailsEveryReadAfterItsTimeout) {
  auto result = start<AXUIElementData>([] { return window(503, 31).getData(); });
  drain();
  EXPECT_FALSE(result->has_value());
  dispatch::Scheduler::shared().advance(21.9);
  EXPECT_FALSE(result->has_value());
  dispatch::Scheduler::shared().advance(0.2);  // eleven calls of 2 s (the frame stops at its failed position)
  ASSERT_TRUE(result->has_value());
  EXPECT_EQ((*result)->pid, 503);
  EXPECT_FALSE((*result)->title);
  EXPECT_FALSE((*result)->windowID);
  EXPECT_FALSE((*result)->frame);
}

TEST_F(AXUIElementTest, APauseHoldsTheQueueButNotTheMainQueue) {
  std::vector<std::string> order;
  AXUIElementContext::shared().perform([&](AXUIElementContext::ControllerFactory&) {
    order.push_back("first");
    AXUIElementDispatchQueue::pause(0.2);
    AXUIElementContext::returnToMain([&] { order.push_back("first's result"); });
  });
  AXUIElementContext::shared().perform([&](AXUIElementContext::ControllerFactory&) { order.push_back("second"); });
  drain();
  EXPECT_EQ(order, (std::vector<std::string>{"first"}));
  dispatch::Scheduler::shared().advance(0.2);
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "first's result"}));
}

// The same round trips with the Accessibility queue on its own thread.
TEST(AXUIElementRealClock, RoundTripsAndCostlyJobsOnTheQueuesThread) {
  sim::ScopedScenario scenario(kElementDesk);
  dispatch::Scheduler::shared().adoptMainThread();
  auto slow = start<AXUIElementData>([] {
    return AXUIElementWrapper(std::make_shared<ax::AXUIElement>(sim::ElementID{502, sim::ElementKind::Window, 21}))
        .getData();
  });
  auto fast = start<AXUIElementData>([] {
    return AXUIElementWrapper(std::make_shared<ax::AXUIElement>(sim::ElementID{501, sim::ElementKind::Window, 11}))
        .getData();
  });
  sim::ApplicationFaults faults;
  faults.responseDelay = 0.001;
  sim::World::shared().setApplicationFaults(502, faults);
  ASSERT_TRUE(dispatch::Scheduler::shared().runMainUntil([&] { return fast->has_value(); }, 30));
  ASSERT_TRUE(slow->has_value());  // the fast read was queued behind the slow one
  EXPECT_EQ((*slow)->title, "Turtle");
  EXPECT_EQ((*fast)->frame, CGRect(100, 100, 400, 300));
}

TEST(CGRectApproximately, DiffersByLessThanTheToleranceEverywhere) {
  const CGRect a(0, 0, 100, 100);
  EXPECT_TRUE(a.isApproximatelyEqual(CGRect(3.9, -3.9, 103.9, 96.1), 4.0));
  EXPECT_FALSE(a.isApproximatelyEqual(CGRect(4, 0, 100, 100), 4.0));  // exactly the tolerance
  EXPECT_FALSE(a.isApproximatelyEqual(CGRect(0, 0, 100, 96), 4.0));
  EXPECT_FALSE(a.isApproximatelyEqual(CGRect(NAN, 0, 100, 100), 4.0));
}

}  // namespace
