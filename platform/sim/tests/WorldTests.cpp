#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/sim/CostMeter.h"
#include "platform/sim/Scenario.h"

namespace {

using sim::ElementID;
using sim::ElementKind;
using sim::World;
namespace axerr = sim::axerr;

const char* const kTwoSpaces = R"({
  "displays": [{"id": 1, "frame": [0, 0, 1000, 800], "visibleFrame": [0, 60, 1000, 715],
                "spaces": [{"id": 1}, {"id": 2}, {"id": 3, "type": "system"}], "currentSpace": 1}],
  "dock": {"pid": 90, "frame": [200, 740, 600, 60],
           "items": [{"title": "Notes", "url": "file:///Applications/Notes.app/", "frame": [210, 744, 50, 50]}]},
  "applications": [
    {"pid": 501, "bundleIdentifier": "com.example.Notes", "name": "Notes", "bundleURL": "file:///Applications/Notes.app/",
     "windows": [{"id": 11, "title": "One", "frame": [100, 100, 400, 300], "spaces": [1], "focused": true},
                 {"id": 12, "title": "Two", "frame": [150, 150, 400, 300], "spaces": [2]},
                 {"id": 13, "title": "Three", "frame": [200, 200, 400, 300], "spaces": [2], "minimized": true},
                 {"id": 14, "title": "Fixed", "frame": [600, 100, 300, 200], "spaces": [1], "resizable": false,
                  "minSize": [200, 100], "maxSize": [500, 400], "closeButton": false}]},
    {"pid": 502, "name": "Other",
     "windows": [{"id": 21, "title": "Above", "frame": [0, 90, 300, 300], "spaces": [1]}]}
  ],
  "frontmost": 501,
  "zOrder": [21, 11, 14, 12, 13]
})";

ElementID windowID(pid_t pid, sim::WindowID id) { return ElementID{pid, ElementKind::Window, id}; }
ElementID app(pid_t pid) { return ElementID{pid, ElementKind::Application, 0}; }

std::vector<sim::WindowID> windowIDs(const ns::Value& value) {
  std::vector<sim::WindowID> out;
  for (const auto& v : *value.array()) out.push_back(static_cast<sim::WindowID>(v.objectAs<sim::ElementObject>()->id.id));
  return out;
}

std::vector<std::uint64_t> numbers(const std::optional<ns::Value>& value) {
  std::vector<std::uint64_t> out;
  for (const auto& v : *value->array()) out.push_back(*v.asUInt64());
  return out;
}

struct Recorder {
  std::vector<sim::Event> events;
  ns::ObserverToken token = World::shared().addObserver([this](const sim::Event& e) { events.push_back(e); });
  std::vector<std::string> notifications() const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.kind == sim::Event::Kind::AccessibilityNotification) out.push_back(e.notification);
    return out;
  }
  bool saw(sim::Event::Kind kind) const {
    return std::any_of(events.begin(), events.end(), [&](const sim::Event& e) { return e.kind == kind; });
  }
};

TEST(WorldAccessibility, SeesWindowsOnCurrentSpacesOrMinimized) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  ns::Value windows;
  ASSERT_EQ(w.copyAttributeValue(app(501), "AXWindows", &windows), axerr::kSuccess);
  EXPECT_EQ(windowIDs(windows), (std::vector<sim::WindowID>{11, 14, 13}));  // minimized ones last

  // A window of another Space is still readable through its element.
  ns::Value title;
  EXPECT_EQ(w.copyAttributeValue(windowID(501, 12), "AXTitle", &title), axerr::kSuccess);
  EXPECT_EQ(title, ns::Value("Two"));

  ASSERT_TRUE(w.switchToSpace(2));
  ASSERT_EQ(w.copyAttributeValue(app(501), "AXWindows", &windows), axerr::kSuccess);
  EXPECT_EQ(windowIDs(windows), (std::vector<sim::WindowID>{12, 13}));
}

TEST(WorldAccessibility, AnswersTheErrorsOfTheRealInterface) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  ns::Value v;
  EXPECT_EQ(w.copyAttributeValue(windowID(501, 11), "AXNothing", &v), axerr::kAttributeUnsupported);
  EXPECT_EQ(w.copyAttributeValue(windowID(501, 14), "AXCloseButton", &v), axerr::kNoValue);
  EXPECT_EQ(w.copyAttributeValue(windowID(501, 99), "AXTitle", &v), axerr::kInvalidUIElement);
  EXPECT_EQ(w.copyAttributeValue(windowID(502, 11), "AXTitle", &v), axerr::kInvalidUIElement);  // not its window
  EXPECT_EQ(w.copyAttributeValue(app(777), "AXTitle", &v), axerr::kInvalidUIElement);
  EXPECT_EQ(w.performAction(windowID(501, 11), "AXPress"), axerr::kActionUnsupported);
  w.setAccessibilityTrusted(false);
  EXPECT_EQ(w.copyAttributeValue(windowID(501, 11), "AXTitle", &v), axerr::kAPIDisabled);
}

TEST(WorldAccessibility, ClosedWindowsAnswerInvalidElementButKeepTheirPid) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  Recorder recorder;
  ASSERT_EQ(w.performAction(ElementID{501, ElementKind::CloseButton, 11}, "AXPress"), axerr::kSuccess);
  ns::Value v;
  EXPECT_EQ(w.copyAttributeValue(windowID(501, 11), "AXTitle", &v), axerr::kInvalidUIElement);
  pid_t pid = 0;
  EXPECT_EQ(w.getPid(windowID(501, 11), &pid), axerr::kSuccess);
  EXPECT_EQ(pid, 501);
  sim::WindowID id = 0;
  EXPECT_EQ(w.getWindow(windowID(501, 11), &id), axerr::kInvalidUIElement);
  // Closing the focused window moves the focus to the next one.
  EXPECT_EQ(recorder.notifications(),
            (std::vector<std::string>{"AXUIElementDestroyed", "AXMainWindowChanged", "AXFocusedWindowChanged"}));
  EXPECT_EQ(w.application(501)->focusedWindow, 14u);
}

TEST(WorldAccessibility, WritesFollowTheWindowsRules) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  bool settable = true;
  ASSERT_EQ(w.isAttributeSettable(windowID(501, 14), "AXSize", &settable), axerr::kSuccess);
  EXPECT_FALSE(settable);
  EXPECT_EQ(w.setAttributeValue(windowID(501, 14), "AXSize", sim::sizeValue({250, 150})),
            axerr::kAttributeUnsupported);
  EXPECT_EQ(w.setAttributeValue(windowID(501, 11), "AXPosition", sim::sizeValue({1, 2})), axerr::kIllegalArgument);

  // The title bar stays below the menu bar (the visible frame's top is at 25).
  ASSERT_EQ(w.setAttributeValue(windowID(501, 11), "AXPosition", sim::pointValue({50, 0})), axerr::kSuccess);
  EXPECT_EQ(w.window(11)->frame, CGRect(50, 25, 400, 300));
  // A size write keeps the top left corner where it is.
  ASSERT_EQ(w.setAttributeValue(windowID(501, 11), "AXSize", sim::sizeValue({500, 100})), axerr::kSuccess);
  EXPECT_EQ(w.window(11)->frame, CGRect(50, 25, 500, 100));
  // Minimizing through the attribute takes the window off the screen.
  ASSERT_EQ(w.setAttributeValue(windowID(501, 11), "AXMinimized", ns::Value(true)), axerr::kSuccess);
  EXPECT_TRUE(w.window(11)->minimized);
  EXPECT_FALSE(w.window(11)->onScreen);
}

TEST(WorldAccessibility, RaiseBringsTheWindowForwardAndFocusesIt) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  ASSERT_EQ(w.performAction(windowID(501, 14), "AXRaise"), axerr::kSuccess);
  EXPECT_EQ(w.zOrder().front(), 14u);
  ns::Value main;
  ASSERT_EQ(w.copyAttributeValue(windowID(501, 14), "AXMain", &main), axerr::kSuccess);
  EXPECT_EQ(main, ns::Value(true));
}

TEST(WorldHitTest, OwnWindowsThenTheDockThenWindowsFrontToBack) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  const ElementID systemWide{0, ElementKind::SystemWide, 0};
  ElementID found;

  ASSERT_EQ(w.elementAtPosition(systemWide, 120, 250, &found), axerr::kSuccess);
  EXPECT_EQ(found, (ElementID{502, ElementKind::Content, 21}));  // "Above" is in front of "One"
  ASSERT_EQ(w.elementAtPosition(systemWide, 350, 105, &found), axerr::kSuccess);
  EXPECT_EQ(found, windowID(501, 11));  // the title bar of "One", outside its title text
  ASSERT_EQ(w.elementAtPosition(systemWide, 305, 114, &found), axerr::kSuccess);
  EXPECT_EQ(found, (ElementID{501, ElementKind::TitleText, 11}));
  ASSERT_EQ(w.elementAtPosition(systemWide, 610, 110, &found), axerr::kSuccess);
  EXPECT_EQ(found, windowID(501, 14));  // no close button on "Fixed"
  ASSERT_EQ(w.elementAtPosition(systemWide, 630, 110, &found), axerr::kSuccess);
  EXPECT_EQ(found, (ElementID{501, ElementKind::MinimizeButton, 14}));
  ASSERT_EQ(w.elementAtPosition(systemWide, 220, 760, &found), axerr::kSuccess);
  EXPECT_EQ(found.kind, ElementKind::DockItem);
  ASSERT_EQ(w.elementAtPosition(systemWide, 500, 760, &found), axerr::kSuccess);
  EXPECT_EQ(found, (ElementID{90, ElementKind::DockList, 0}));
  EXPECT_EQ(w.elementAtPosition(systemWide, 990, 600, &found), axerr::kNoValue);
  EXPECT_EQ(w.processAtPoint(CGPoint{500, 760}), 90);
  EXPECT_EQ(w.processAtPoint(CGPoint{120, 250}), 502);
  EXPECT_FALSE(w.processAtPoint(CGPoint{990, 600}));

  w.setOwnWindowsProvider([] {
    return std::vector<sim::OwnWindow>{{7, CGRect(0, 0, 1000, 200), true, "Panel"}};  // bottom-left: over the Dock
  });
  ASSERT_EQ(w.elementAtPosition(systemWide, 220, 760, &found), axerr::kSuccess);
  EXPECT_EQ(found, (ElementID{w.selfPid(), ElementKind::OwnWindow, 7}));
  w.setOwnWindowsProvider(nullptr);

  // Hidden applications, minimized windows and other Spaces are not on the screen.
  w.setApplicationHidden(502, true);
  ASSERT_EQ(w.elementAtPosition(systemWide, 120, 250, &found), axerr::kSuccess);
  EXPECT_EQ(found, (ElementID{501, ElementKind::Content, 11}));
  w.switchToSpace(2);
  ASSERT_EQ(w.elementAtPosition(systemWide, 300, 400, &found), axerr::kSuccess);
  EXPECT_EQ(found, (ElementID{501, ElementKind::Content, 12}));
  EXPECT_EQ(w.elementAtPosition(app(502), 300, 400, &found), axerr::kNoValue);  // only that application's elements
}

TEST(WorldFaults, UnresponsiveAndSlowApplicationsChargeTheirCost) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  sim::ApplicationFaults faults;
  faults.unresponsive = true;
  faults.timeout = 6;
  w.setApplicationFaults(501, faults);
  sim::CostMeter::take();
  ns::Value v;
  EXPECT_EQ(w.copyAttributeValue(windowID(501, 11), "AXTitle", &v), axerr::kCannotComplete);
  EXPECT_DOUBLE_EQ(sim::CostMeter::take(), 6.0);

  faults = {};
  faults.responseDelay = 0.25;
  w.setApplicationFaults(501, faults);
  EXPECT_EQ(w.copyAttributeValue(windowID(501, 11), "AXTitle", &v), axerr::kSuccess);
  EXPECT_EQ(w.copyAttributeValue(windowID(501, 11), "AXSize", &v), axerr::kSuccess);
  EXPECT_DOUBLE_EQ(sim::CostMeter::take(), 0.5);
  // The pid travels with the element: no message, no cost.
  pid_t pid;
  EXPECT_EQ(w.getPid(windowID(501, 11), &pid), axerr::kSuccess);
  EXPECT_DOUBLE_EQ(sim::CostMeter::take(), 0.0);
}

TEST(WorldFaults, AttributeFaultsFailOrAnswerWrongTypes) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  w.setWindowAttributeFault(11, "AXPosition", sim::AttributeFault{std::nullopt, ns::Value("nowhere")});
  w.setWindowAttributeFault(11, "AXSize", sim::AttributeFault{axerr::kFailure, std::nullopt});
  ns::Value v;
  ASSERT_EQ(w.copyAttributeValue(windowID(501, 11), "AXPosition", &v), axerr::kSuccess);
  EXPECT_EQ(v, ns::Value("nowhere"));
  EXPECT_EQ(w.copyAttributeValue(windowID(501, 11), "AXSize", &v), axerr::kFailure);
  bool settable;
  EXPECT_EQ(w.isAttributeSettable(windowID(501, 11), "AXSize", &settable), axerr::kFailure);
  EXPECT_EQ(w.setAttributeValue(windowID(501, 11), "AXSize", sim::sizeValue({1, 1})), axerr::kFailure);
}

TEST(WorldFaults, HashBucketsForceCollisionsWithoutMakingElementsEqual) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  EXPECT_NE(w.hashOf(windowID(501, 11)), w.hashOf(windowID(501, 12)));
  w.setHashBuckets(1);
  EXPECT_EQ(w.hashOf(windowID(501, 11)), w.hashOf(windowID(501, 12)));
  EXPECT_FALSE(windowID(501, 11) == windowID(501, 12));
}

TEST(WorldEvents, MutatorsPostWhatTheSystemWould) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  Recorder r;
  sim::WindowSpec spec;
  spec.title = "New";
  auto id = w.createWindow(501, spec);
  ASSERT_TRUE(id);
  EXPECT_EQ(r.notifications(), (std::vector<std::string>{"AXWindowCreated"}));
  EXPECT_EQ(w.zOrder().front(), *id);  // its application is frontmost
  EXPECT_EQ(w.window(*id)->spaces, (std::vector<sim::SpaceID>{1}));

  r.events.clear();
  sim::ApplicationSpec launched;
  launched.name = "Late";
  const pid_t pid = w.launchApplication(launched);
  EXPECT_TRUE(r.saw(sim::Event::Kind::ApplicationLaunched));
  r.events.clear();
  w.activateApplication(pid);
  EXPECT_TRUE(r.saw(sim::Event::Kind::ApplicationActivated));
  EXPECT_EQ(r.notifications(), (std::vector<std::string>{"AXApplicationDeactivated", "AXApplicationActivated"}));
  r.events.clear();
  w.terminateApplication(pid);
  EXPECT_TRUE(r.saw(sim::Event::Kind::ApplicationTerminated));
  EXPECT_EQ(w.frontmostApplication(), 501);  // the owner of the frontmost window takes over
  EXPECT_TRUE(w.applicationBySerial(r.events.front().serial)->terminated);

  r.events.clear();
  w.switchToSpace(2);
  EXPECT_TRUE(r.saw(sim::Event::Kind::ActiveSpaceChanged));
  r.events.clear();
  w.switchToSpace(2);
  EXPECT_TRUE(r.events.empty());
  w.addDisplay(sim::DisplaySpec{.frame = CGRect(1000, 0, 800, 600)});
  EXPECT_TRUE(r.saw(sim::Event::Kind::ScreenParametersChanged));
}

TEST(WorldEvents, ALaunchedApplicationsWindowsComeInFrontInCreationOrder) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  sim::ApplicationSpec launched;
  launched.pid = 600;
  for (sim::WindowID id : {31, 32, 33}) {
    sim::WindowSpec spec;
    spec.id = id;
    spec.spaces = {1};
    spec.minimized = id == 31;
    launched.windows.push_back(spec);
  }
  ASSERT_EQ(w.launchApplication(launched), 600);
  EXPECT_EQ(w.zOrder(), (std::vector<sim::WindowID>{31, 32, 33, 21, 11, 14, 12, 13}));
  EXPECT_EQ(w.application(600)->focusedWindow, 32u);  // the first that is not minimized

  // Repeated and unknown ids are placed once or not at all.
  w.setZOrder({13, 99, 13, 32});
  EXPECT_EQ(w.zOrder(), (std::vector<sim::WindowID>{13, 32, 31, 33, 21, 11, 14, 12}));
}

TEST(WorldCoordinates, TopLeftIsMeasuredFromTheTallestDisplay) {
  sim::ScopedScenario s(R"({
    "displays": [{"id": 1, "frame": [0, 0, 1440, 900]}, {"id": 2, "frame": [1440, 0, 1920, 1200]}],
    "applications": [{"pid": 5, "windows": [{"id": 1, "frame": [10, 400, 100, 100]}]}]})");
  World& w = s.world();
  EXPECT_EQ(w.referenceHeight(), 1200);
  EXPECT_EQ(w.flippedPoint(CGPoint{10, 400}), (CGPoint{10, 800}));
  EXPECT_EQ(w.window(1)->frameBL, CGRect(10, 700, 100, 100));
  // Without the tall display the window stays where it is on the screen; only
  // its top-left coordinates move.
  ASSERT_TRUE(w.removeDisplay(2));
  EXPECT_EQ(w.window(1)->frameBL, CGRect(10, 700, 100, 100));
  EXPECT_EQ(w.window(1)->frame, CGRect(10, 100, 100, 100));
}

TEST(WorldCoordinates, RemovingADisplayMovesItsSpacesAndWindows) {
  sim::ScopedScenario s(R"({
    "displays": [{"id": 1, "frame": [0, 0, 1000, 800], "spaces": [{"id": 1}]},
                 {"id": 2, "frame": [1000, 0, 1000, 800], "spaces": [{"id": 5}, {"id": 6}]}],
    "applications": [{"pid": 5, "windows": [{"id": 1, "frame": [1100, 100, 300, 200], "spaces": [5]}]}]})");
  World& w = s.world();
  ASSERT_TRUE(w.removeDisplay(2));
  auto displays = w.displays();
  ASSERT_EQ(displays.size(), 1u);
  ASSERT_EQ(displays[0].spaces.size(), 3u);
  EXPECT_FALSE(displays[0].spaces[1].isCurrent);
  const CGRect f = w.window(1)->frameBL;
  EXPECT_TRUE(displays[0].visibleFrame.contains(f)) << f.origin.x << "," << f.origin.y;
}

TEST(WorldWindowServer, SpacesByMaskAndWindowsBySpace) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  EXPECT_EQ(numbers(w.copySpaces(5)), (std::vector<std::uint64_t>{1}));
  EXPECT_EQ(numbers(w.copySpaces(6)), (std::vector<std::uint64_t>{2}));  // the system Space is not a user's
  EXPECT_EQ(numbers(w.copySpaces(2)), (std::vector<std::uint64_t>{2, 3}));
  EXPECT_EQ(numbers(w.copySpacesForWindows(7, {12, 11})), (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(numbers(w.copyWindowsOnSpaces(0, {2}, 0)), (std::vector<std::uint64_t>{12}));
  EXPECT_EQ(numbers(w.copyWindowsOnSpaces(0, {2}, 2)), (std::vector<std::uint64_t>{12, 13}));
  EXPECT_EQ(numbers(w.copyWindowsOnSpaces(502, {1}, 2)), (std::vector<std::uint64_t>{21}));

  w.addWindowsToSpaces({12}, {1});
  ns::Value windows;
  w.copyAttributeValue(app(501), "AXWindows", &windows);
  EXPECT_EQ(windowIDs(windows), (std::vector<sim::WindowID>{11, 14, 12, 13}));
  w.removeWindowsFromSpaces({12}, {1});
  w.copyAttributeValue(app(501), "AXWindows", &windows);
  EXPECT_EQ(windowIDs(windows), (std::vector<sim::WindowID>{11, 14, 13}));

  w.setCopySpacesFails(true);
  EXPECT_FALSE(w.copySpaces(5));
}

TEST(WorldWindowServer, ManagedDisplaySpacesDescribeEachDisplay) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  auto list = w.managedDisplaySpaces();
  ASSERT_TRUE(list && list->isArray());
  const ns::Value& display = (*list->array())[0];
  EXPECT_EQ(*display.find("Display Identifier"), ns::Value(*w.displayUUID(1)));
  const ns::Value& spaces = *display.find("Spaces");
  ASSERT_EQ(spaces.count(), 3u);
  EXPECT_TRUE(spaces.at(0)->find("id64")->isUInt());
  EXPECT_EQ(*spaces.at(2)->find("type"), ns::Value(2));
  EXPECT_EQ(*display.find("Current Space")->find("id64"), ns::Value(std::uint64_t{1}));

  w.setManagedDisplaySpacesTransform([](ns::Value v) {
    v.array()->push_back(ns::Value("junk"));
    return v;
  });
  EXPECT_EQ(w.managedDisplaySpaces()->count(), 2u);
}

TEST(WorldWindowServer, CapturesAreSolidImagesOfTheWindowsSize) {
  sim::ScopedScenario s(R"({
    "displays": [{"id": 1, "frame": [0, 0, 1000, 800], "scale": 2}],
    "applications": [{"pid": 5, "windows": [{"id": 1, "frame": [0, 100, 300, 200], "color": "#102030"},
                                            {"id": 2, "faults": {"captureFails": true}}]}]})");
  World& w = s.world();
  auto images = w.captureWindows({1, 2, 99}, 0);
  ASSERT_TRUE(images);
  ASSERT_EQ(images->size(), 1u);
  EXPECT_EQ((*images)[0]->pixelsWide(), 600);
  EXPECT_EQ((*images)[0]->pixel(5, 5), (img::Pixel{0x10, 0x20, 0x30, 0xFF}));
  images = w.captureWindows({1}, sim::kCaptureNominalResolution);
  EXPECT_EQ((*images)[0]->pixelsWide(), 300);
  // Made at an output size: scaled down to fit it, never enlarged, with the full size reported.
  std::vector<World::PixelSize> full;
  images = w.captureWindows({1, 1}, 0, World::PixelSize{100, 100}, &full);
  EXPECT_EQ((*images)[0]->pixelsWide(), 100);
  EXPECT_EQ((*images)[0]->pixelsHigh(), 67);
  EXPECT_EQ(full, (std::vector<World::PixelSize>{{600, 400}, {600, 400}}));
  images = w.captureWindows({1}, 0, World::PixelSize{1000, 1000});
  EXPECT_EQ((*images)[0]->pixelsWide(), 600);
  w.setScreenCaptureAllowed(false);
  EXPECT_TRUE(w.captureWindows({1}, 0)->empty());
}

TEST(WorldThreads, ReadersOnOtherThreadsWhileTheMainThreadChangesTheWorld) {
  sim::ScopedScenario s(kTwoSpaces);
  World& w = s.world();
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        ns::Value v;
        w.copyAttributeValue(app(501), "AXWindows", &v);
        w.copyAttributeValue(windowID(501, 11), "AXPosition", &v);
        ElementID found;
        w.elementAtPosition(ElementID{}, 300, 300, &found);
        ++reads;
      }
    });
  }
  for (int i = 0; i < 300; ++i) {
    sim::WindowSpec spec;
    auto id = w.createWindow(501, spec);
    w.setWindowFrame(11, CGRect(i, i, 400, 300));
    w.switchToSpace(i % 2 ? 1 : 2);
    if (id) w.closeWindow(*id);
  }
  while (reads < 100) std::this_thread::yield();
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(w.window(11)->frame, CGRect(299, 299, 400, 300));
}

}  // namespace
