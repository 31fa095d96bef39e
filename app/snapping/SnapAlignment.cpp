#include "app/snapping/SnapAlignment.h"

std::string_view rawValue(SnapAlignment alignment) {
  switch (alignment) {
    case SnapAlignment::left: return "left";
    case SnapAlignment::maximized: return "maximized";
    case SnapAlignment::right: return "right";
    case SnapAlignment::centered: return "centered";
    case SnapAlignment::snapBack: return "snapBack";
  }
  return "left";
}

std::optional<SnapAlignment> SnapAlignmentFromRawValue(std::string_view raw) {
  for (SnapAlignment a : {SnapAlignment::left, SnapAlignment::maximized, SnapAlignment::right, SnapAlignment::centered,
                          SnapAlignment::snapBack}) {
    if (rawValue(a) == raw) return a;
  }
  return std::nullopt;
}

bool screensEqual(const std::shared_ptr<appkit::NSScreen>& a, const std::shared_ptr<appkit::NSScreen>& b) {
  if (!a || !b) return a == b;
  return a->isEqual(*b);
}

std::optional<ScreenSummary> DockPreviewSwipeState::adjacentScreen(const std::shared_ptr<appkit::NSScreen>& to,
                                                                   const ScreenAndSpaceCollection& in, bool forward) {
  const auto& screens = in.screens();
  for (std::size_t i = 0; i < screens.size(); ++i) {
    if (!screensEqual(screens[i].screen, to)) continue;
    if (forward) {
      if (i + 1 < screens.size()) return screens[i + 1];
      return std::nullopt;
    }
    if (i > 0) return screens[i - 1];
    return std::nullopt;
  }
  return std::nullopt;
}

DockPreviewSwipeState::Target DockPreviewSwipeState::nextTarget(std::optional<SnapAlignment> from,
                                                                const ScreenSummary& screen,
                                                                const ScreenSummary& originalScreen,
                                                                ScrollGestureProcessor::Direction direction,
                                                                bool isFastSwipe,
                                                                const ScreenAndSpaceCollection& screenAndSpaceCollection) {
  using Direction = ScrollGestureProcessor::Direction;
  const bool onOriginal = screen.id == originalScreen.id;
  auto adjacent = [&](bool forward) { return adjacentScreen(screen.screen, screenAndSpaceCollection, forward); };

  switch (direction) {
    case Direction::up:
      return {SnapAlignment::maximized, screen};

    case Direction::down:
      if (!onOriginal) return {SnapAlignment::centered, screen};
      if (from == SnapAlignment::centered || from == SnapAlignment::snapBack) return {SnapAlignment::centered, screen};
      return {SnapAlignment::snapBack, screen};

    case Direction::left:
    case Direction::right: {
      const bool toLeft = direction == Direction::left;
      const SnapAlignment near = toLeft ? SnapAlignment::left : SnapAlignment::right;
      const SnapAlignment far = toLeft ? SnapAlignment::right : SnapAlignment::left;
      if (isFastSwipe) {
        if (auto next = adjacent(!toLeft)) return {SnapAlignment::maximized, *next};
        return {near, screen};
      }
      if (from == near) {
        // Already on this side's half: carry on to the neighbouring display's far half.
        if (auto next = adjacent(!toLeft)) return {far, *next};
        return {near, screen};
      }
      if (from == far) {
        if (onOriginal) return {SnapAlignment::snapBack, screen};
        return {SnapAlignment::maximized, screen};
      }
      return {near, screen};
    }
  }
  return {SnapAlignment::maximized, screen};
}
