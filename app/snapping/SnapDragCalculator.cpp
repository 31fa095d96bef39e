#include "app/snapping/SnapDragCalculator.h"

#include "platform/events/CGEvent.h"

namespace {

constexpr double kEdgeStrip = 40;
constexpr double kAboutVisibleTolerance = 10;

bool isAbout(const CGSize& size, const CGSize& visible) {
  return size.width > visible.width - kAboutVisibleTolerance && size.width < visible.width + kAboutVisibleTolerance &&
         size.height > visible.height - kAboutVisibleTolerance && size.height < visible.height + kAboutVisibleTolerance;
}

}  // namespace

bool containsInclusive(const CGRect& rect, CGPoint p) {
  return p.x >= rect.minX() && p.x <= rect.maxX() && p.y >= rect.minY() && p.y <= rect.maxY();
}

std::optional<SnapAlignment> SnapDragCalculator::edgeAlignment(CGPoint at, const appkit::NSScreen& on) {
  const CGRect f = appkit::NSScreen::flippedRect(on.frame());
  const CGRect top(f.origin.x, f.origin.y, f.size.width, kEdgeStrip);
  const CGRect left(f.origin.x, f.origin.y, kEdgeStrip, f.size.height);
  const CGRect right(f.origin.x + f.size.width - kEdgeStrip, f.origin.y, kEdgeStrip, f.size.height);
  if (containsInclusive(top, at)) return SnapAlignment::maximized;
  if (containsInclusive(left, at)) return SnapAlignment::left;
  if (containsInclusive(right, at)) return SnapAlignment::right;
  return std::nullopt;
}

SnapDragCalculator::Result SnapDragCalculator::calculate(const appkit::NSEvent& event, const CGRect& windowFrame) {
  const StartingConditions& start = startingConditions;
  if (!start.isWindowResizable) return Result::none();

  if (!isMovingWindow) {
    if (windowFrame.origin == start.frame.origin) return Result::none();  // not moved yet
    if (!(windowFrame.size == start.frame.size)) return Result::none();   // a resize, not a move
    isMovingWindow = true;
  }

  const cgevent::CGEventRef& cg = event.cgEvent();
  if (!cg) return Result::none();
  const CGPoint location = cgevent::CGEventGetLocation(cg);

  std::shared_ptr<appkit::NSScreen> screen;
  for (const auto& candidate : appkit::NSScreen::screens()) {
    if (appkit::NSScreen::flippedRect(candidate->frame()).contains(location)) {
      screen = candidate;
      break;
    }
  }
  if (!screen) return Result::none();

  if (std::optional<SnapAlignment> alignment = edgeAlignment(location, *screen)) {
    return Result::snap(SnapAlignmentAndScreen{*alignment, screen}, start.recentWindowGeometries);
  }

  const CGSize visible = screen->visibleFrame().size;
  if (start.snapBackSize && !isAbout(*start.snapBackSize, visible)) return Result::snapBack(*start.snapBackSize);
  if (isAbout(windowFrame.size, visible)) {
    return Result::snapBack(CGSize{2 * visible.width / 3, 2 * visible.height / 3});
  }
  return Result::none();
}
