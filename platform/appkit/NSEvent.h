#pragma once
// NSEvent: the pointer's location, and events as views and windows receive them.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/Geometry.h"

namespace appkit {

// NSEvent.EventType raw values.
enum class NSEventType : int {
  leftMouseDown = 1,
  leftMouseUp = 2,
  rightMouseDown = 3,
  rightMouseUp = 4,
  mouseMoved = 5,
  leftMouseDragged = 6,
  rightMouseDragged = 7,
  mouseEntered = 8,
  mouseExited = 9,
  keyDown = 10,
  keyUp = 11,
  scrollWheel = 22,
  otherMouseDown = 25,
  otherMouseUp = 26,
};

// NSEvent.Phase raw values.
enum class NSEventPhase : std::uint32_t {
  none = 0,
  began = 1,
  stationary = 2,
  changed = 4,
  ended = 8,
  cancelled = 16,
  mayBegin = 32,
};

class NSTrackingArea;

class NSEvent {
 public:
  NSEvent() = default;
  NSEvent(NSEventType type, CGPoint locationInWindow) : type_(type), locationInWindow_(locationInWindow) {}

  NSEventType type() const { return type_; }
  // In the coordinates of the view tree that received the event (top-left).
  CGPoint locationInWindow() const { return locationInWindow_; }
  long windowNumber() const { return windowNumber_; }
  std::uint64_t modifierFlags() const { return modifierFlags_; }
  int clickCount() const { return clickCount_; }
  double scrollingDeltaX() const { return scrollingDeltaX_; }
  double scrollingDeltaY() const { return scrollingDeltaY_; }
  bool hasPreciseScrollingDeltas() const { return hasPreciseScrollingDeltas_; }
  NSEventPhase phase() const { return phase_; }
  NSEventPhase momentumPhase() const { return momentumPhase_; }
  bool isDirectionInvertedFromDevice() const { return isDirectionInvertedFromDevice_; }
  // The tracking area of an entered, moved or exited event (null otherwise).
  std::shared_ptr<NSTrackingArea> trackingArea() const { return trackingArea_.lock(); }

  NSEvent& setWindowNumber(long n) { windowNumber_ = n; return *this; }
  NSEvent& setModifierFlags(std::uint64_t f) { modifierFlags_ = f; return *this; }
  NSEvent& setClickCount(int c) { clickCount_ = c; return *this; }
  NSEvent& setScrollingDeltas(double x, double y, bool precise) {
    scrollingDeltaX_ = x;
    scrollingDeltaY_ = y;
    hasPreciseScrollingDeltas_ = precise;
    return *this;
  }
  NSEvent& setPhases(NSEventPhase phase, NSEventPhase momentum) {
    phase_ = phase;
    momentumPhase_ = momentum;
    return *this;
  }
  NSEvent& setDirectionInvertedFromDevice(bool inverted) { isDirectionInvertedFromDevice_ = inverted; return *this; }
  NSEvent& setTrackingArea(std::weak_ptr<NSTrackingArea> area) { trackingArea_ = std::move(area); return *this; }

  // Set by a responder that passed the event on with nobody after it; the
  // view tree then offers it to the next view outward.
  void markUnhandled() const { unhandled_ = true; }
  bool wasUnhandled() const { return unhandled_; }

  // The pointer in bottom-left screen coordinates.
  static CGPoint mouseLocation();

 private:
  NSEventType type_ = NSEventType::mouseMoved;
  CGPoint locationInWindow_;
  long windowNumber_ = 0;
  std::uint64_t modifierFlags_ = 0;
  int clickCount_ = 0;
  double scrollingDeltaX_ = 0;
  double scrollingDeltaY_ = 0;
  bool hasPreciseScrollingDeltas_ = false;
  NSEventPhase phase_ = NSEventPhase::none;
  NSEventPhase momentumPhase_ = NSEventPhase::none;
  bool isDirectionInvertedFromDevice_ = false;
  std::weak_ptr<NSTrackingArea> trackingArea_;
  mutable bool unhandled_ = false;
};

}  // namespace appkit
