// Where a snapped window goes: the frames of the snap targets, the neighbour
// rule for halves, the cascade of centred windows, the snap-back frame, and
// the writes of a frame or a size to another application's window.

#include "app/snapping/SnapController.h"

namespace {

constexpr double kHalf = 0.5;
constexpr double kNeighbourStripWidth = 10;
constexpr double kNeighbourHeightTolerance = 10;
constexpr double kNeighbourMinimumRoom = 150;
constexpr double kNeighbourGap = 1;
constexpr double kCascadeTolerance = 10;
constexpr double kCascadeStep = 50;
constexpr double kSnapBackSizeTolerance = 10;

CGRect centredTwoThirds(const CGRect& r) {
  const double w = 2 * r.size.width / 3;
  const double h = 2 * r.size.height / 3;
  return CGRect(r.origin.x + (r.size.width - w) * kHalf, r.origin.y + (r.size.height - h) * kHalf, w, h);
}

// The width of a half beside an optional neighbour.
double halfWidth(const CGRect& r, const std::optional<CGRect>& neighbour) {
  if (!neighbour || neighbour->size.width >= r.size.width - kNeighbourMinimumRoom) return r.size.width * kHalf;
  return r.size.width - neighbour->size.width - kNeighbourGap;
}

}  // namespace

CGRect SnapController::visibleArea(const appkit::NSScreen& screen) {
  return appkit::NSScreen::flippedRect(screen.visibleFrame());
}

std::optional<CGRect> SnapController::targetFrame(SnapAlignment alignment,
                                                  const std::shared_ptr<appkit::NSScreen>& screen,
                                                  const std::optional<SnapRecord>& snapRecord,
                                                  const std::vector<RecentWindowGeometry>& recentWindowGeometries) const {
  if (!screen) return std::nullopt;
  const CGRect r = visibleArea(*screen);
  switch (alignment) {
    case SnapAlignment::left: {
      const double w = halfWidth(r, neighbourFrame(r, recentWindowGeometries, screen, true));
      return CGRect(r.origin.x, r.origin.y, w, r.size.height);
    }
    case SnapAlignment::right: {
      const double w = halfWidth(r, neighbourFrame(r, recentWindowGeometries, screen, false));
      return CGRect(r.origin.x + r.size.width - w, r.origin.y, w, r.size.height);
    }
    case SnapAlignment::maximized: return r;
    case SnapAlignment::centered: return cascadedFrame(centredTwoThirds(r), recentWindowGeometries);
    case SnapAlignment::snapBack: return snapBackTargetFrame(r, snapRecord);
  }
  return std::nullopt;
}

std::optional<CGRect> SnapController::neighbourFrame(const CGRect& r, const std::vector<RecentWindowGeometry>& geometries,
                                                     const std::shared_ptr<appkit::NSScreen>& screen, bool onLeft) {
  const CGRect strip = onLeft ? CGRect(r.maxX() - kNeighbourStripWidth, r.origin.y, kNeighbourStripWidth, r.size.height)
                              : CGRect(r.origin.x, r.origin.y, kNeighbourStripWidth, r.size.height);
  // Only the leading run of windows on this screen and of about this height counts.
  for (const RecentWindowGeometry& g : geometries) {
    if (!screensEqual(g.screen, screen)) return std::nullopt;
    const CGRect& n = g.frame;
    if (!(n.size.height > r.size.height - kNeighbourHeightTolerance &&
          n.size.height < r.size.height + kNeighbourHeightTolerance)) {
      return std::nullopt;
    }
    const CGPoint edge = onLeft ? CGPoint{n.maxX(), n.origin.y} : CGPoint{n.origin.x, n.origin.y};
    if (containsInclusive(strip, edge)) return n;
  }
  return std::nullopt;
}

CGRect SnapController::cascadedFrame(CGRect frame, const std::vector<RecentWindowGeometry>& geometries) {
  auto occupied = [&](const CGRect& candidate) {
    for (const RecentWindowGeometry& g : geometries) {
      const CGPoint o = g.frame.origin;
      if (o.x > candidate.origin.x - kCascadeTolerance && o.x < candidate.origin.x + kCascadeTolerance &&
          o.y > candidate.origin.y - kCascadeTolerance && o.y < candidate.origin.y + kCascadeTolerance) {
        return true;
      }
    }
    return false;
  };
  // Each move goes right and down by more than the tolerance, so every
  // geometry can push the frame at most once.
  for (std::size_t moves = 0; moves <= geometries.size() && occupied(frame); ++moves) {
    frame = frame.offsetBy(kCascadeStep, kCascadeStep);
  }
  return frame;
}

CGRect SnapController::snapBackTargetFrame(const CGRect& r, const std::optional<SnapRecord>& snapRecord) {
  if (snapRecord) {
    const CGSize s = snapRecord->startingFrame.size;
    const bool aboutVisibleSize = s.width > r.size.width - kSnapBackSizeTolerance &&
                                  s.width < r.size.width + kSnapBackSizeTolerance &&
                                  s.height > r.size.height - kSnapBackSizeTolerance &&
                                  s.height < r.size.height + kSnapBackSizeTolerance;
    if (!aboutVisibleSize) return snapRecord->startingFrame;
  }
  return centredTwoThirds(r);
}

conc::Task<void> SnapController::setWindowFrame(CGRect frame, AXUIElementWrapper element) {
  AXUIElementContext::shared().perform([frame, element](AXUIElementContext::ControllerFactory&) {
    AXUIElementController::withController(element,
                                          [frame](AXUIElementController& controller) { controller.setFrame(frame); });
  });
  co_return;
}

conc::Task<void> SnapController::setWindowSize(CGSize size, AXUIElementWrapper element) {
  AXUIElementContext::shared().perform([size, element](AXUIElementContext::ControllerFactory&) {
    AXUIElementController::withController(element,
                                          [size](AXUIElementController& controller) { controller.setSize(size); });
  });
  co_return;
}
