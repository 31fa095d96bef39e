#pragma once
// The value types every snapping path shares: the snap targets, a target on a
// display, the record of a completed snap (for snap-back), and the swipe in
// progress with the rule that turns one gesture into the next target.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/model/AXUIElementWrapper.h"
#include "app/model/ScreenAndSpaceRepository.h"
#include "app/snapping/ScrollGestureProcessor.h"
#include "platform/appkit/NSScreen.h"
#include "platform/foundation/Geometry.h"

// Backed by its raw string: "left", "maximized", "right", "centered", "snapBack".
enum class SnapAlignment { left, maximized, right, centered, snapBack };

std::string_view rawValue(SnapAlignment alignment);
// Exactly the five raw strings, case-sensitive; nothing for any other.
std::optional<SnapAlignment> SnapAlignmentFromRawValue(std::string_view raw);

// Hashes the raw string, so a case hashes like its raw value.
template <>
struct std::hash<SnapAlignment> {
  std::size_t operator()(SnapAlignment a) const noexcept { return std::hash<std::string_view>{}(rawValue(a)); }
};

// Screens are compared as objects (isEqual:).
bool screensEqual(const std::shared_ptr<appkit::NSScreen>& a, const std::shared_ptr<appkit::NSScreen>& b);

struct SnapAlignmentAndScreen {
  SnapAlignment snapAlignment = SnapAlignment::left;
  std::shared_ptr<appkit::NSScreen> screen{};

  friend bool operator==(const SnapAlignmentAndScreen& a, const SnapAlignmentAndScreen& b) {
    return a.snapAlignment == b.snapAlignment && screensEqual(a.screen, b.screen);
  }
};

struct SnapRecord {
  CGRect startingFrame{};  // before the first snap of a series
  CGRect snappedFrame{};   // read back after the latest snap
  bool operator==(const SnapRecord&) const = default;
};

struct DockPreviewSwipeState {
  AXUIElementWrapper element;
  SnapAlignment snapAlignment = SnapAlignment::left;  // the target last stepped to
  ScreenSummary screen{};                             // the display last stepped to
  ScreenSummary originalScreen{};                     // the display the swipe began on

  struct Target {
    SnapAlignment snapAlignment;
    ScreenSummary screen;
  };

  // The next target of a swipe. `from` is none when the window has no swipe
  // in progress. Never fails: where no step is possible the target stays on
  // `screen`.
  static Target nextTarget(std::optional<SnapAlignment> from, const ScreenSummary& screen,
                           const ScreenSummary& originalScreen, ScrollGestureProcessor::Direction direction,
                           bool isFastSwipe, const ScreenAndSpaceCollection& screenAndSpaceCollection);

  // The entry after (forward) or before the first entry of the collection's
  // screens whose screen equals `to`; none at either end, without a match, or
  // for an empty list. No wrap-around.
  static std::optional<ScreenSummary> adjacentScreen(const std::shared_ptr<appkit::NSScreen>& to,
                                                     const ScreenAndSpaceCollection& in, bool forward);
};
