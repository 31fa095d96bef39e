#include <gtest/gtest.h>

#include "app/snapping/SnapController.h"
#include "app/snapping/SnapDragCalculator.h"
#include "app/snapping/tests/SnapTestSupport.h"

namespace {

using snaptest::eventAt;
using snaptest::screen;
using snaptest::windowElement;
using Geometry = SnapController::RecentWindowGeometry;
using Result = SnapDragCalculator::Result;

// One display 1440 x 900 whose visible frame (0, 0, 1440, 875) leaves a
// 25-point menu bar: top-left R = (0, 25, 1440, 875).
const char* const kOneDisplay = R"({
  "displays": [{"id": 1, "frame": [0, 0, 1440, 900], "visibleFrame": [0, 0, 1440, 875]},
               {"id": 2, "frame": [1440, 0, 1440, 900]}]
})";

class SnapGeometry : public ::testing::Test {
 protected:
  dispatch::VirtualClockScope clock;
  sim::ScopedScenario scenario{kOneDisplay};
  std::shared_ptr<SnapController> controller = SnapController::make();

  std::optional<CGRect> target(SnapAlignment a, std::vector<Geometry> geometries = {},
                               std::optional<SnapRecord> record = std::nullopt) const {
    return controller->targetFrame(a, screen(0), record, geometries);
  }
  static Geometry other(std::uint32_t id, CGRect frame, std::size_t screenIndex = 0) {
    return Geometry{windowElement(600, id), frame, screen(screenIndex)};
  }
};

TEST_F(SnapGeometry, MaximizedIsTheVisibleAreaInTopLeftCoordinates) {
  EXPECT_EQ(target(SnapAlignment::maximized), CGRect(0, 25, 1440, 875));
  EXPECT_EQ(SnapController::visibleArea(*screen(0)), CGRect(0, 25, 1440, 875));
}

TEST_F(SnapGeometry, HalvesWithoutNeighbours) {
  EXPECT_EQ(target(SnapAlignment::left), CGRect(0, 25, 720, 875));
  EXPECT_EQ(target(SnapAlignment::right), CGRect(720, 25, 720, 875));
}

TEST_F(SnapGeometry, AHalfFillsTheRoomBesideAFlushNeighbour) {
  // A window on the right, as tall as the visible area, its right edge at its
  // top in the last 10 points of it: a snap to the left takes the rest less 1 point.
  const auto n = other(1, CGRect(840, 25, 600, 870));
  EXPECT_EQ(target(SnapAlignment::left, {n}), CGRect(0, 25, 1440 - 600 - 1, 875));
  // For a snap to the right the neighbour must be flush with the left edge.
  EXPECT_EQ(target(SnapAlignment::right, {n}), CGRect(720, 25, 720, 875));
  const auto leftNeighbour = other(2, CGRect(0, 30, 500, 880));
  EXPECT_EQ(target(SnapAlignment::right, {leftNeighbour}), CGRect(500 + 1, 25, 1440 - 500 - 1, 875));
}

TEST_F(SnapGeometry, ANeighbourLeavingTooLittleRoomGivesAPlainHalf) {
  // 1290 = 1440 - 150: the remainder would be 150 points or less.
  EXPECT_EQ(target(SnapAlignment::left, {other(1, CGRect(150, 25, 1290, 875))}), CGRect(0, 25, 720, 875));
  EXPECT_EQ(target(SnapAlignment::left, {other(1, CGRect(151, 25, 1289, 875))}), CGRect(0, 25, 150, 875));
}

TEST_F(SnapGeometry, OnlyTheLeadingRunOfTallWindowsOnTheScreenIsSearched) {
  const auto neighbour = other(1, CGRect(840, 25, 600, 875));
  const auto elsewhere = other(2, CGRect(1600, 25, 600, 875), 1);
  const auto shorter = other(3, CGRect(100, 100, 600, 400));
  EXPECT_EQ(target(SnapAlignment::left, {elsewhere, neighbour}), CGRect(0, 25, 720, 875));
  EXPECT_EQ(target(SnapAlignment::left, {shorter, neighbour}), CGRect(0, 25, 720, 875));
  // Height within 10 points, strictly.
  EXPECT_EQ(target(SnapAlignment::left, {other(1, CGRect(840, 25, 600, 865))}), CGRect(0, 25, 720, 875));
  EXPECT_EQ(target(SnapAlignment::left, {other(1, CGRect(840, 25, 600, 866))}), CGRect(0, 25, 839, 875));
  // The right edge at its top must lie in the strip, bounds included.
  EXPECT_EQ(target(SnapAlignment::left, {other(1, CGRect(829, 25, 600, 875))}), CGRect(0, 25, 720, 875));
  EXPECT_EQ(target(SnapAlignment::left, {other(1, CGRect(830, 25, 600, 875))}), CGRect(0, 25, 839, 875));
}

TEST_F(SnapGeometry, CentredWindowsCascadeOffOthers) {
  // Centred two thirds: (240, 170.833..., 960, 583.333...).
  const CGRect centred = *target(SnapAlignment::centered);
  EXPECT_DOUBLE_EQ(centred.origin.x, 240);
  EXPECT_DOUBLE_EQ(centred.size.width, 960);
  EXPECT_DOUBLE_EQ(centred.size.height, 2 * 875.0 / 3);
  const auto near = other(1, CGRect(centred.origin.x + 5, centred.origin.y - 5, 300, 300));
  EXPECT_EQ(target(SnapAlignment::centered, {near}), centred.offsetBy(50, 50));
  const auto atMoved = other(2, CGRect(centred.origin.x + 50, centred.origin.y + 50, 300, 300), 1);
  EXPECT_EQ(target(SnapAlignment::centered, {atMoved, near}), centred.offsetBy(100, 100));
  // 10 points away is not near.
  EXPECT_EQ(target(SnapAlignment::centered, {other(1, centred.offsetBy(10, 0))}), centred);
}

TEST_F(SnapGeometry, SnapBackRestoresTheStartingFrameUnlessItWasScreenSized) {
  const SnapRecord small{CGRect(100, 80, 1000, 700), CGRect(0, 25, 720, 875)};
  EXPECT_EQ(target(SnapAlignment::snapBack, {}, small), CGRect(100, 80, 1000, 700));
  const SnapRecord large{CGRect(3, 27, 1435, 870), CGRect(0, 25, 720, 875)};
  const CGRect centred = SnapController::snapBackTargetFrame(CGRect(0, 25, 1440, 875), std::nullopt);
  EXPECT_EQ(target(SnapAlignment::snapBack, {}, large), centred);
  // No cascade for snap-back.
  EXPECT_EQ(target(SnapAlignment::snapBack, {other(1, centred)}), centred);
}

// ---------------------------------------------------------------- the drag calculator

class DragCalculator : public ::testing::Test {
 protected:
  dispatch::VirtualClockScope clock;
  sim::ScopedScenario scenario{snaptest::kDesk};  // H = 1080: the primary display spans y 180...1080

  static SnapDragCalculator make(CGRect frame, std::optional<CGSize> snapBackSize = std::nullopt,
                                 bool resizable = true) {
    return SnapDragCalculator(SnapDragCalculator::StartingConditions{windowElement(502, 21), frame, snapBackSize,
                                                                     resizable, {}});
  }
  static Result::Kind kind(const Result& r) { return r.kind; }
};

TEST_F(DragCalculator, NothingBeforeTheWindowMovesAndNothingForResizes) {
  auto c = make(CGRect(200, 400, 800, 500));
  EXPECT_EQ(kind(c.calculate(*eventAt({10, 600}), CGRect(200, 400, 800, 500))), Result::Kind::none);
  EXPECT_FALSE(c.isMovingWindow);
  // A resize from the left edge: origin and size change together.
  EXPECT_EQ(kind(c.calculate(*eventAt({10, 600}), CGRect(190, 400, 810, 500))), Result::Kind::none);
  EXPECT_FALSE(c.isMovingWindow);
  // A move: from now on the size no longer matters.
  EXPECT_EQ(kind(c.calculate(*eventAt({10, 600}), CGRect(150, 400, 800, 500))), Result::Kind::snap);
  EXPECT_TRUE(c.isMovingWindow);
  EXPECT_EQ(kind(c.calculate(*eventAt({10, 600}), CGRect(150, 400, 500, 500))), Result::Kind::snap);
}

TEST_F(DragCalculator, AWindowThatCannotBeResizedNeverSnaps) {
  auto c = make(CGRect(200, 400, 800, 500), std::nullopt, false);
  EXPECT_EQ(kind(c.calculate(*eventAt({10, 600}), CGRect(100, 400, 800, 500))), Result::Kind::none);
}

TEST_F(DragCalculator, EdgeStripsOfTheScreenUnderThePointer) {
  auto c = make(CGRect(200, 400, 800, 500));
  const CGRect moved(210, 400, 800, 500);
  auto r = c.calculate(*eventAt({700, 180}), moved);  // the top of the primary display
  EXPECT_EQ(r.alignmentAndScreen, (SnapAlignmentAndScreen{SnapAlignment::maximized, screen(0)}));
  r = c.calculate(*eventAt({700, 220}), moved);  // 40 points down: still the top strip
  EXPECT_EQ(r.alignmentAndScreen.snapAlignment, SnapAlignment::maximized);
  EXPECT_EQ(kind(c.calculate(*eventAt({700, 220.5}), moved)), Result::Kind::none);
  r = c.calculate(*eventAt({0, 180}), moved);  // the corner counts as top
  EXPECT_EQ(r.alignmentAndScreen.snapAlignment, SnapAlignment::maximized);
  r = c.calculate(*eventAt({40, 600}), moved);
  EXPECT_EQ(r.alignmentAndScreen.snapAlignment, SnapAlignment::left);
  r = c.calculate(*eventAt({1400, 600}), moved);
  EXPECT_EQ(r.alignmentAndScreen.snapAlignment, SnapAlignment::right);
  // The left edge of the right display.
  r = c.calculate(*eventAt({1450, 600}), moved);
  EXPECT_EQ(r.alignmentAndScreen, (SnapAlignmentAndScreen{SnapAlignment::left, screen(1)}));
  // Above the primary display (only the taller right one reaches there): no screen.
  EXPECT_EQ(kind(c.calculate(*eventAt({700, 100}), moved)), Result::Kind::none);
}

TEST_F(DragCalculator, PullingAScreenSizedWindowAwayGivesTwoThirds) {
  auto c = make(CGRect(0, 205, 1435, 870));
  const auto r = c.calculate(*eventAt({700, 600}), CGRect(5, 300, 1435, 870));
  ASSERT_EQ(kind(r), Result::Kind::snapBack);
  EXPECT_DOUBLE_EQ(r.size.width, 960);
  EXPECT_DOUBLE_EQ(r.size.height, 2 * 875.0 / 3);
  // 10 points smaller on one axis is not about the visible size.
  auto smaller = make(CGRect(0, 205, 1430, 870));
  EXPECT_EQ(kind(smaller.calculate(*eventAt({700, 600}), CGRect(5, 300, 1430, 870))), Result::Kind::none);
}

TEST_F(DragCalculator, PullingASnappedWindowAwayGivesItsSizeBack) {
  auto c = make(CGRect(0, 205, 720, 875), CGSize{800, 600});
  const auto r = c.calculate(*eventAt({700, 600}), CGRect(10, 300, 720, 875));
  ASSERT_EQ(kind(r), Result::Kind::snapBack);
  EXPECT_EQ(r.size, (CGSize{800, 600}));
  // A snap-back size that is about the visible size falls back to the frame rule.
  auto big = make(CGRect(0, 205, 720, 875), CGSize{1435, 870});
  EXPECT_EQ(kind(big.calculate(*eventAt({700, 600}), CGRect(10, 300, 720, 875))), Result::Kind::none);
}

TEST_F(DragCalculator, WithoutAQuartzEventThereIsNoAnswer) {
  auto c = make(CGRect(200, 400, 800, 500));
  appkit::NSEvent bare(appkit::NSEventType::leftMouseDragged, CGPoint{10, 600});
  EXPECT_EQ(kind(c.calculate(bare, CGRect(100, 400, 800, 500))), Result::Kind::none);
}

}  // namespace
