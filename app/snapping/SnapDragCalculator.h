#pragma once
// What a drag of a window means, event by event: a snap when the pointer is
// in an edge strip of a screen, the pre-snap size back when a snapped (or
// screen-sized) window is pulled away, or nothing. One calculator per drag;
// it remembers only whether the drag turned out to move the window.

#include <memory>
#include <optional>
#include <vector>

#include "app/model/AXUIElementWrapper.h"
#include "app/snapping/SnapAlignment.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSScreen.h"
#include "platform/foundation/Geometry.h"

// SnapController.RecentWindowGeometry: one recently active window on a
// current Space, its frame as the Accessibility API reports it and the
// display that holds its Space.
struct SnapRecentWindowGeometry {
  AXUIElementWrapper element;
  CGRect frame{};
  std::shared_ptr<appkit::NSScreen> screen{};

  friend bool operator==(const SnapRecentWindowGeometry& a, const SnapRecentWindowGeometry& b) {
    return a.element == b.element && a.frame == b.frame && screensEqual(a.screen, b.screen);
  }
};

class SnapDragCalculator {
 public:
  using RecentWindowGeometry = SnapRecentWindowGeometry;

  struct StartingConditions {
    AXUIElementWrapper windowElement;
    CGRect frame{};                       // top-left, when the drag started
    std::optional<CGSize> snapBackSize{};  // the size to go back to when pulled out of a snap
    bool isWindowResizable = true;
    std::vector<RecentWindowGeometry> recentWindowGeometries{};  // without the dragged window

    friend bool operator==(const StartingConditions& a, const StartingConditions& b) {
      return a.windowElement == b.windowElement && a.frame == b.frame && a.snapBackSize == b.snapBackSize &&
             a.isWindowResizable == b.isWindowResizable && a.recentWindowGeometries == b.recentWindowGeometries;
    }
  };

  struct Result {
    enum class Kind { snap, snapBack, none };
    Kind kind = Kind::none;
    SnapAlignmentAndScreen alignmentAndScreen{};           // snap
    std::vector<RecentWindowGeometry> recentWindowGeometries{};  // snap
    CGSize size{};                                          // snapBack

    static Result snap(SnapAlignmentAndScreen target, std::vector<RecentWindowGeometry> geometries) {
      return Result{Kind::snap, std::move(target), std::move(geometries), {}};
    }
    static Result snapBack(CGSize size) { return Result{Kind::snapBack, {}, {}, size}; }
    static Result none() { return Result{}; }
  };

  explicit SnapDragCalculator(StartingConditions startingConditions)
      : startingConditions(std::move(startingConditions)) {}
  virtual ~SnapDragCalculator() = default;

  StartingConditions startingConditions;
  bool isMovingWindow = false;

  // One drag event with the window's frame as just read (top-left).
  virtual Result calculate(const appkit::NSEvent& event, const CGRect& windowFrame);

  // The edge strip under a top-left point on a screen: the top 40 points are
  // `maximized`, the left and right 40 points `left` and `right`.
  static std::optional<SnapAlignment> edgeAlignment(CGPoint at, const appkit::NSScreen& on);

  // Equal when the starting conditions are; isMovingWindow takes no part.
  friend bool operator==(const SnapDragCalculator& a, const SnapDragCalculator& b) {
    return a.startingConditions == b.startingConditions;
  }
};

// Whether a point lies in a rectangle with all four bounds included.
bool containsInclusive(const CGRect& rect, CGPoint point);
