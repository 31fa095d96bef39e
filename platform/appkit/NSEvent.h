#pragma once
// NSEvent: the pointer's location, events as views and windows receive them,
// and global monitors: the events the window server sends to other
// processes, handed to this program on the main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/events/CGEvent.h"
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

// NSEvent.EventTypeMask raw values: bit n for event type n.
enum NSEventMask : std::uint64_t {
  NSEventMaskLeftMouseDown = 1ull << 1,
  NSEventMaskLeftMouseUp = 1ull << 2,
  NSEventMaskRightMouseDown = 1ull << 3,
  NSEventMaskRightMouseUp = 1ull << 4,
  NSEventMaskMouseMoved = 1ull << 5,
  NSEventMaskLeftMouseDragged = 1ull << 6,
  NSEventMaskRightMouseDragged = 1ull << 7,
  NSEventMaskScrollWheel = 1ull << 22,
  NSEventMaskOtherMouseDown = 1ull << 25,
  NSEventMaskOtherMouseUp = 1ull << 26,
  NSEventMaskOtherMouseDragged = 1ull << 27,
  NSEventMaskAny = ~0ull,
};

class NSTrackingArea;
class NSEvent;

// The object addGlobalMonitorForEventsMatchingMask hands out; it identifies
// the monitor to removeMonitor.
class NSEventGlobalMonitor;
using NSEventMonitorToken = std::shared_ptr<NSEventGlobalMonitor>;
using NSEventGlobalMonitorHandler = std::function<void(const std::shared_ptr<NSEvent>& event)>;

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

  // The Quartz event behind an event that came from the window server; null
  // for events the view layer made.
  const cgevent::CGEventRef& cgEvent() const { return cgEvent_; }
  NSEvent& setCGEvent(cgevent::CGEventRef event) { cgEvent_ = std::move(event); return *this; }
  // An event of the Quartz event's type, deltas and phases, located at its
  // bottom-left screen point (events without a window carry screen points);
  // null for a null event or a type AppKit has no event for.
  static std::shared_ptr<NSEvent> eventWithCGEvent(const cgevent::CGEventRef& event);

  // Installs a monitor for the events of the mask that the window server
  // sends to other processes; the handler runs on the main thread, once per
  // event, until removeMonitor. Events over this program's own windows never
  // reach it. Null without a handler or with an empty mask.
  static NSEventMonitorToken addGlobalMonitorForEventsMatchingMask(std::uint64_t mask,
                                                                   NSEventGlobalMonitorHandler handler);
  // Removes a monitor; events already posted to it are dropped. Removing it
  // again, or a null token, does nothing.
  static void removeMonitor(const NSEventMonitorToken& monitor);
  // Monitors installed now; for tests.
  static std::size_t globalMonitorCount();

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
  cgevent::CGEventRef cgEvent_;
};

// Connects AppKit to the simulated desktop's input: hands the desktop the
// frames of this program's visible windows (so its hit tests and the window
// server's routing see them) and routes the events bound for this program to
// its windows (moves, presses, releases and scrolls through WindowList).
// Idempotent; installing a global monitor does it too.
void connectInputToSimulatedDesktop();

}  // namespace appkit
