#include <gtest/gtest.h>

#include "app/model/ScreenAndSpaceRepository.h"
#include "app/model/WindowSummary.h"
#include "platform/sim/Scenario.h"

namespace {

// The left display has user Spaces A (1) and B (2), a fullscreen Space F (3)
// and a system Space (4); the right display has user Space C (10). The window
// server lists the right display first.
const char* const kTwoDisplays = R"({
  "displays": [
    {"id": 1, "uuid": "11111111-1111-4111-8111-111111111111", "frame": [0, 0, 1440, 900], "visibleFrame": [0, 70, 1440, 805],
     "spaces": [{"id": 1}, {"id": 2}, {"id": 3, "type": "fullscreen"}, {"id": 4, "type": "system"}], "currentSpace": 2},
    {"id": 2, "uuid": "22222222-2222-4222-8222-222222222222", "frame": [1440, 0, 1920, 1080],
     "spaces": [{"id": 10}], "currentSpace": 10}
  ],
  "windowServerDisplayOrder": [2, 1],
  "mouse": [2000, 500]
})";

std::shared_ptr<const ScreenAndSpaceCollection> collection() {
  auto c = ScreenAndSpaceRepository::getScreensAndSpaces();
  EXPECT_TRUE(c);
  return c;
}

TEST(ScreenAndSpaceRepository, NumbersUserSpacesAcrossDisplaysInTheWindowServersOrder) {
  sim::ScopedScenario s(kTwoDisplays);
  auto c = collection();
  ASSERT_EQ(c->screens().size(), 2u);
  // Sorted left to right.
  EXPECT_EQ(c->screens()[0].id, "11111111-1111-4111-8111-111111111111");
  EXPECT_EQ(c->screens()[0].screen, appkit::NSScreen::screens()[0]);
  EXPECT_EQ(c->screens()[1].id, "22222222-2222-4222-8222-222222222222");
  // The pointer is on the right display.
  EXPECT_FALSE(c->screens()[0].isCurrentDisplay);
  EXPECT_TRUE(c->screens()[1].isCurrentDisplay);

  const auto& left = c->screens()[0].spaces;
  ASSERT_EQ(left.size(), 3u);  // the system Space is never a summary
  EXPECT_EQ(left[0].userSpaceNumber, 2);
  EXPECT_EQ(left[0].sortOrder, 2);
  EXPECT_EQ(left[1].userSpaceNumber, 3);
  EXPECT_EQ(left[1].sortOrder, 3);
  EXPECT_FALSE(left[2].userSpaceNumber);
  EXPECT_EQ(left[2].type, CGSSpaceType::fullscreen);
  EXPECT_EQ(left[2].sortOrder, 4);
  EXPECT_TRUE(left[1].isCurrentSpace);
  EXPECT_FALSE(left[0].isCurrentSpace);
  const auto& right = c->screens()[1].spaces;
  ASSERT_EQ(right.size(), 1u);
  EXPECT_EQ(right[0].userSpaceNumber, 1);
  EXPECT_EQ(right[0].sortOrder, 1);
  EXPECT_TRUE(right[0].isCurrentSpace);

  EXPECT_EQ(c->spaceModelsBySpaceID().size(), 4u);
  EXPECT_EQ(c->spaceModelsBySpaceID().count(4), 0u);
  EXPECT_EQ(c->screenModelsByScreenID().size(), 2u);
}

TEST(ScreenAndSpaceRepository, SpaceAndScreenLookups) {
  sim::ScopedScenario s(kTwoDisplays);
  auto c = collection();
  EXPECT_EQ(c->space({1, 2})->id, 2u);   // the current one
  EXPECT_EQ(c->space({3, 1})->id, 3u);   // none current: the first known
  EXPECT_EQ(c->space({99, 1})->id, 1u);  // unknown ids are passed over
  EXPECT_FALSE(c->space({}));
  EXPECT_FALSE(c->space({4, 99}));  // the system Space is not in the collection
  EXPECT_EQ(c->screen({99, 10, 1})->id, "22222222-2222-4222-8222-222222222222");  // the first id on any screen decides
  EXPECT_FALSE(c->screen({}));
  EXPECT_FALSE(c->screen({4, 99}));
}

TEST(ScreenAndSpaceRepository, ADisplayWithoutAScreenAddsNothingAndTakesNoNumbers) {
  sim::ScopedScenario s(R"({
    "displays": [
      {"id": 1, "frame": [0, 0, 1440, 900], "spaces": [{"id": 1}, {"id": 2}]},
      {"id": 2, "frame": [1440, 0, 1920, 1080], "spaces": [{"id": 10}, {"id": 11}],
       "windowServerIdentifier": "00000000-0000-4000-8000-00000000FFFF"},
      {"id": 3, "frame": [-800, 0, 800, 600], "spaces": [{"id": 20}], "uuidUnavailable": true}
    ],
    "windowServerDisplayOrder": [2, 3, 1]
  })");
  auto c = collection();
  ASSERT_EQ(c->screens().size(), 1u);
  EXPECT_EQ(c->screens()[0].spaces[0].userSpaceNumber, 1);
  EXPECT_EQ(c->screens()[0].spaces[0].sortOrder, 1);
  EXPECT_FALSE(c->space({10}));
}

TEST(ScreenAndSpaceRepository, MalformedEntriesAreSkipped) {
  sim::ScopedScenario s(kTwoDisplays);
  sim::World::shared().setManagedDisplaySpacesTransform([](ns::Value list) {
    auto& displays = *list.array();
    // Bad Spaces inside the left display's list.
    auto& left = *displays[1].dictionary();
    auto& spaces = *left["Spaces"].array();
    spaces.push_back(ns::Value(ns::Dictionary{{"id64", ns::Value("7")}, {"type", ns::Value(0)}}));
    spaces.push_back(ns::Value(ns::Dictionary{{"id64", ns::Value(std::uint64_t{8})}}));
    spaces.push_back(ns::Value(ns::Dictionary{{"id64", ns::Value(-9)}, {"type", ns::Value(0)}}));
    spaces.push_back(ns::Value(ns::Dictionary{{"id64", ns::Value(true)}, {"type", ns::Value(0)}}));
    spaces.push_back(ns::Value(ns::Dictionary{{"id64", ns::Value(std::uint64_t{12})}, {"type", ns::Value(1)}}));
    spaces.push_back(ns::Value(ns::Dictionary{{"id64", ns::Value(std::uint64_t{13})}, {"type", ns::Value(0.5)}}));
    spaces.push_back(ns::Value(ns::Dictionary{{"id64", ns::Value(std::uint64_t{14})}, {"type", ns::Value(0)}}));
    spaces.push_back(ns::Value(ns::Dictionary{{"id64", ns::Value(std::uint64_t{1})}, {"type", ns::Value(0)}}));  // again
    // Bad displays.
    displays.push_back(ns::Value(ns::Dictionary{{"Display Identifier", ns::Value(5)}, {"Spaces", ns::Value(ns::Array{})}}));
    displays.push_back(ns::Value(ns::Dictionary{{"Display Identifier", ns::Value("x")}, {"Spaces", ns::Value("none")}}));
    displays.push_back(ns::Value(ns::Dictionary{{"Spaces", ns::Value(ns::Array{})}}));
    displays.push_back(ns::Value(ns::Dictionary{{"Display Identifier", ns::Value("y")},
                                                {"Spaces", ns::Value(ns::Array{ns::Value(3)})}}));
    return list;
  });
  auto all = CGSManagedDisplay::all(cgs::CGSMainConnectionID());
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 2u);
  EXPECT_EQ((*all)[1].spaces, (std::vector<CGSSpace>{{1, CGSSpaceType::user},
                                                      {2, CGSSpaceType::user},
                                                      {3, CGSSpaceType::fullscreen},
                                                      {4, CGSSpaceType::system},
                                                      {14, CGSSpaceType::user},
                                                      {1, CGSSpaceType::user}}));
  auto c = collection();
  const auto& left = c->screens()[0].spaces;
  ASSERT_EQ(left.size(), 4u);  // A, B, F, 14; the repeated A is dropped
  EXPECT_EQ(left[3].id, 14u);
  EXPECT_EQ(left[3].userSpaceNumber, 4);
}

TEST(ScreenAndSpaceRepository, NoAnswerGivesNoCollection) {
  {
    sim::ScopedScenario s(kTwoDisplays);
    sim::World::shared().setManagedDisplaySpacesTransform([](ns::Value list) {
      list.array()->push_back(ns::Value("junk"));  // not a list of dictionaries
      return list;
    });
    EXPECT_FALSE(ScreenAndSpaceRepository::getScreensAndSpaces());
  }
  {
    sim::ScopedScenario s(kTwoDisplays);
    sim::World::shared().setCopySpacesFails(true);
    EXPECT_FALSE(ScreenAndSpaceRepository::getScreensAndSpaces());
  }
  {
    sim::ScopedScenario s(R"({})");  // no screens at all
    EXPECT_FALSE(ScreenAndSpaceRepository::getScreensAndSpaces());
  }
}

TEST(ScreenAndSpaceRepository, WithThePointerOffEveryScreenTheMainScreenIsCurrent) {
  sim::ScopedScenario s(kTwoDisplays);
  sim::World::shared().setMouseLocationTopLeft(CGPoint{-500, -500});
  EXPECT_FALSE(appkit::NSScreen::screenWithMouse());
  auto c = collection();
  EXPECT_TRUE(c->screens()[0].isCurrentDisplay);  // the main screen: the primary display
  EXPECT_FALSE(c->screens()[1].isCurrentDisplay);
}

TEST(ScreenAndSpaceRepository, DisplaysWithEqualXKeepTheWindowServersOrder) {
  sim::ScopedScenario s(R"({
    "displays": [
      {"id": 1, "frame": [0, 0, 1000, 800], "spaces": [{"id": 1}]},
      {"id": 2, "frame": [0, 800, 1000, 800], "spaces": [{"id": 2}]}
    ],
    "windowServerDisplayOrder": [2, 1]
  })");
  auto c = collection();
  ASSERT_EQ(c->screens().size(), 2u);
  EXPECT_EQ(c->screens()[0].spaces[0].id, 2u);
}

TEST(CGSSpaceType, OnlyTheThreeKnownRawValues) {
  EXPECT_EQ(CGSSpaceTypeFromRawValue(0), CGSSpaceType::user);
  EXPECT_EQ(CGSSpaceTypeFromRawValue(2), CGSSpaceType::system);
  EXPECT_EQ(CGSSpaceTypeFromRawValue(4), CGSSpaceType::fullscreen);
  EXPECT_FALSE(CGSSpaceTypeFromRawValue(1));
  EXPECT_FALSE(CGSSpaceTypeFromRawValue(-4));
}

TEST(ApplicationSummary, AllWindowsFlattensScreensSpacesAndWindowsInOrder) {
  auto window = [](std::uint32_t id) {
    WindowSummary w{AXUIElementWrapper(std::make_shared<ax::AXUIElement>(sim::ElementID{1, sim::ElementKind::Window, id})),
                    SpaceSummary{}, ScreenSummary{}};
    w.windowID = id;
    return w;
  };
  ApplicationSummary summary;
  summary.screens.push_back(ApplicationSummaryScreen{ScreenSummary{},
                                                     {ApplicationSummarySpace{SpaceSummary{}, {window(1), window(2)}},
                                                      ApplicationSummarySpace{SpaceSummary{}, {}}}});
  summary.screens.push_back(
      ApplicationSummaryScreen{ScreenSummary{}, {ApplicationSummarySpace{SpaceSummary{}, {window(3)}}}});
  std::vector<std::uint32_t> ids;
  for (const auto& w : summary.allWindows()) ids.push_back(w.windowID);
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_TRUE(ApplicationSummary{}.allWindows().empty());
  // One window reached through two summaries is one window.
  EXPECT_EQ(window(1).element, summary.allWindows()[0].element);
}

}  // namespace
