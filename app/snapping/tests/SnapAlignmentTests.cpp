#include <gtest/gtest.h>

#include <unordered_set>

#include "app/snapping/SnapAlignment.h"
#include "app/snapping/tests/SnapTestSupport.h"

namespace {

using snaptest::screen;
using Direction = ScrollGestureProcessor::Direction;

TEST(SnapAlignment, RawValuesAreExactAndCaseSensitive) {
  EXPECT_EQ(SnapAlignmentFromRawValue("snapBack"), SnapAlignment::snapBack);
  EXPECT_EQ(SnapAlignmentFromRawValue("maximized"), SnapAlignment::maximized);
  EXPECT_FALSE(SnapAlignmentFromRawValue("SnapBack"));
  EXPECT_FALSE(SnapAlignmentFromRawValue("Left"));
  EXPECT_FALSE(SnapAlignmentFromRawValue(""));
  for (auto a : {SnapAlignment::left, SnapAlignment::maximized, SnapAlignment::right, SnapAlignment::centered,
                 SnapAlignment::snapBack}) {
    EXPECT_EQ(SnapAlignmentFromRawValue(rawValue(a)), a);
    EXPECT_EQ(std::hash<SnapAlignment>{}(a), std::hash<std::string_view>{}(rawValue(a)));
  }
  std::unordered_set<SnapAlignment> set{SnapAlignment::left, SnapAlignment::left, SnapAlignment::right};
  EXPECT_EQ(set.size(), 2u);
}

class SwipeStepping : public ::testing::Test {
 protected:
  dispatch::VirtualClockScope clock;
  sim::ScopedScenario scenario{snaptest::kDesk};
  std::shared_ptr<const ScreenAndSpaceCollection> collection = ScreenAndSpaceRepository::getScreensAndSpaces();
  ScreenSummary left() const { return collection->screens().at(0); }
  ScreenSummary right() const { return collection->screens().at(1); }

  DockPreviewSwipeState::Target step(std::optional<SnapAlignment> from, const ScreenSummary& current,
                                     const ScreenSummary& original, Direction d, bool fast = false) const {
    return DockPreviewSwipeState::nextTarget(from, current, original, d, fast, *collection);
  }
};

TEST_F(SwipeStepping, WithoutASwipeInProgress) {
  EXPECT_EQ(step(std::nullopt, left(), left(), Direction::down).snapAlignment, SnapAlignment::snapBack);
  EXPECT_EQ(step(std::nullopt, left(), left(), Direction::up).snapAlignment, SnapAlignment::maximized);
  EXPECT_EQ(step(std::nullopt, left(), left(), Direction::left).snapAlignment, SnapAlignment::left);
  EXPECT_EQ(step(std::nullopt, left(), left(), Direction::right).snapAlignment, SnapAlignment::right);
}

TEST_F(SwipeStepping, SlowSwipesWalkTheHalvesDisplayByDisplay) {
  // From the right display: left half, then the right half of the display before it.
  auto t = step(std::nullopt, right(), right(), Direction::left);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::left);
  EXPECT_EQ(t.screen.id, right().id);
  t = step(t.snapAlignment, t.screen, right(), Direction::left);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::right);
  EXPECT_EQ(t.screen.id, left().id);
  // Carried to another display: leaving the right half goes to maximized, not snap-back.
  t = step(t.snapAlignment, t.screen, right(), Direction::left);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::maximized);
  t = step(t.snapAlignment, t.screen, right(), Direction::left);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::left);
  // The first display has nothing before it: the window stays on its left half.
  t = step(t.snapAlignment, t.screen, right(), Direction::left);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::left);
  EXPECT_EQ(t.screen.id, left().id);
}

TEST_F(SwipeStepping, BackFromTheOtherHalfOnTheOriginalDisplayIsSnapBack) {
  auto t = step(SnapAlignment::right, left(), left(), Direction::left);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::snapBack);
  t = step(t.snapAlignment, t.screen, left(), Direction::left);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::left);
  EXPECT_EQ(step(SnapAlignment::left, right(), right(), Direction::right).snapAlignment, SnapAlignment::snapBack);
}

TEST_F(SwipeStepping, DownSnapsBackThenCentresAndElsewhereCentres) {
  for (auto a : {SnapAlignment::left, SnapAlignment::maximized, SnapAlignment::right}) {
    EXPECT_EQ(step(a, left(), left(), Direction::down).snapAlignment, SnapAlignment::snapBack);
  }
  EXPECT_EQ(step(SnapAlignment::snapBack, left(), left(), Direction::down).snapAlignment, SnapAlignment::centered);
  EXPECT_EQ(step(SnapAlignment::centered, left(), left(), Direction::down).snapAlignment, SnapAlignment::centered);
  for (auto a : {SnapAlignment::left, SnapAlignment::maximized, SnapAlignment::snapBack}) {
    EXPECT_EQ(step(a, left(), right(), Direction::down).snapAlignment, SnapAlignment::centered);
  }
  EXPECT_EQ(step(std::nullopt, left(), right(), Direction::down).snapAlignment, SnapAlignment::centered);
}

TEST_F(SwipeStepping, FastSwipesJumpToTheNeighbourDisplayMaximized) {
  auto t = step(SnapAlignment::left, left(), left(), Direction::right, true);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::maximized);
  EXPECT_EQ(t.screen.id, right().id);
  // No display beyond: that side's half here.
  t = step(SnapAlignment::maximized, right(), left(), Direction::right, true);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::right);
  EXPECT_EQ(t.screen.id, right().id);
  t = step(std::nullopt, left(), left(), Direction::left, true);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::left);
  EXPECT_EQ(t.screen.id, left().id);
}

TEST_F(SwipeStepping, ADisplayOutsideTheCollectionHasNoNeighbours) {
  ScreenSummary stray = left();
  stray.screen = std::make_shared<appkit::NSScreen>(9, CGRect(0, 0, 10, 10), CGRect(0, 0, 10, 10), 1, "Stray", true);
  stray.id = "stray";
  EXPECT_FALSE(DockPreviewSwipeState::adjacentScreen(stray.screen, *collection, true));
  EXPECT_FALSE(DockPreviewSwipeState::adjacentScreen(stray.screen, *collection, false));
  auto t = step(SnapAlignment::right, stray, stray, Direction::right);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::right);
  EXPECT_EQ(t.screen.id, "stray");
  t = step(std::nullopt, stray, stray, Direction::left, true);
  EXPECT_EQ(t.snapAlignment, SnapAlignment::left);
}

TEST_F(SwipeStepping, AdjacentScreensFollowTheCollectionsOrderWithoutWrapping) {
  EXPECT_EQ(DockPreviewSwipeState::adjacentScreen(screen(0), *collection, true)->id, right().id);
  EXPECT_FALSE(DockPreviewSwipeState::adjacentScreen(screen(0), *collection, false));
  EXPECT_EQ(DockPreviewSwipeState::adjacentScreen(screen(1), *collection, false)->id, left().id);
  EXPECT_FALSE(DockPreviewSwipeState::adjacentScreen(screen(1), *collection, true));
}

TEST_F(SwipeStepping, TargetsOnTwoDisplaysAreNotEqual) {
  EXPECT_EQ((SnapAlignmentAndScreen{SnapAlignment::left, screen(0)}),
            (SnapAlignmentAndScreen{SnapAlignment::left, screen(0)}));
  EXPECT_FALSE((SnapAlignmentAndScreen{SnapAlignment::left, screen(0)}) ==
               (SnapAlignmentAndScreen{SnapAlignment::left, screen(1)}));
  EXPECT_FALSE((SnapAlignmentAndScreen{SnapAlignment::left, screen(0)}) ==
               (SnapAlignmentAndScreen{SnapAlignment::right, screen(0)}));
}

}  // namespace
