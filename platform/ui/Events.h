#pragma once
// Input events as the host receives them, in the host's coordinates.

#include <cstdint>

#include "platform/ui/Geometry.h"

namespace ui {

enum class MouseButton { left, right, other };

// NSEvent.Phase raw values.
enum class EventPhase : std::uint32_t {
  none = 0,
  began = 1,
  stationary = 2,
  changed = 4,
  ended = 8,
  cancelled = 16,
  mayBegin = 32,
};

struct ScrollEvent {
  Point location;
  double scrollingDeltaX = 0;
  double scrollingDeltaY = 0;
  // True for trackpads (point deltas), false for wheels (line deltas).
  bool hasPreciseScrollingDeltas = false;
  EventPhase phase = EventPhase::none;
  EventPhase momentumPhase = EventPhase::none;
  bool isDirectionInvertedFromDevice = false;
};

enum class Key { returnKey, escape, tab, space };

// The key equivalent of a button: Return presses the default action, Escape
// the cancel action.
enum class KeyboardShortcut { none, defaultAction, cancelAction };

}  // namespace ui
