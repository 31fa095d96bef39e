#pragma once
// Quartz events: the mouse and scroll events of the window session as event
// taps and AppKit's global monitors receive them. An event keeps its type,
// its location in the top-left global display coordinates, a time stamp and
// the integer and double fields the window server sets.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>

#include "platform/foundation/Geometry.h"

namespace sim {
struct InputEvent;
}

namespace cgevent {

enum CGEventType : std::uint32_t {
  kCGEventNull = 0,
  kCGEventLeftMouseDown = 1,
  kCGEventLeftMouseUp = 2,
  kCGEventRightMouseDown = 3,
  kCGEventRightMouseUp = 4,
  kCGEventMouseMoved = 5,
  kCGEventLeftMouseDragged = 6,
  kCGEventRightMouseDragged = 7,
  kCGEventKeyDown = 10,
  kCGEventKeyUp = 11,
  kCGEventFlagsChanged = 12,
  kCGEventScrollWheel = 22,
  kCGEventOtherMouseDown = 25,
  kCGEventOtherMouseUp = 26,
  kCGEventOtherMouseDragged = 27,
  // Sent to a tap's callback (whatever its mask) when the tap was disabled.
  kCGEventTapDisabledByTimeout = 0xFFFFFFFEu,
  kCGEventTapDisabledByUserInput = 0xFFFFFFFFu,
};

using CGEventMask = std::uint64_t;
constexpr CGEventMask CGEventMaskBit(CGEventType type) {
  return static_cast<std::uint32_t>(type) < 64 ? (CGEventMask{1} << static_cast<std::uint32_t>(type)) : 0;
}
inline constexpr CGEventMask kCGEventMaskForAllEvents = ~CGEventMask{0};

// Nanoseconds on the scheduler's monotonic clock.
using CGEventTimestamp = std::uint64_t;

enum CGEventField : std::uint32_t {
  kCGMouseEventClickState = 1,
  kCGScrollWheelEventDeltaAxis1 = 11,  // vertical, whole lines
  kCGScrollWheelEventDeltaAxis2 = 12,  // horizontal, whole lines
  kCGEventTargetUnixProcessID = 40,
  kCGScrollWheelEventIsContinuous = 88,
  kCGScrollWheelEventFixedPtDeltaAxis1 = 93,  // vertical, lines with a fraction
  kCGScrollWheelEventFixedPtDeltaAxis2 = 94,
  kCGScrollWheelEventPointDeltaAxis1 = 96,  // vertical, points
  kCGScrollWheelEventPointDeltaAxis2 = 97,
  kCGScrollWheelEventScrollPhase = 99,
  kCGScrollWheelEventMomentumPhase = 123,
};

// kCGScrollWheelEventScrollPhase values.
enum CGScrollPhase : std::uint32_t {
  kCGScrollPhaseBegan = 1,
  kCGScrollPhaseChanged = 2,
  kCGScrollPhaseEnded = 4,
  kCGScrollPhaseCancelled = 8,
  kCGScrollPhaseMayBegin = 128,
};

// kCGScrollWheelEventMomentumPhase values.
enum CGMomentumScrollPhase : std::uint32_t {
  kCGMomentumScrollPhaseNone = 0,
  kCGMomentumScrollPhaseBegin = 1,
  kCGMomentumScrollPhaseContinue = 2,
  kCGMomentumScrollPhaseEnd = 3,
};

enum CGMouseButton : std::uint32_t { kCGMouseButtonLeft = 0, kCGMouseButtonRight = 1, kCGMouseButtonCenter = 2 };
enum CGScrollEventUnit : std::uint32_t { kCGScrollEventUnitPixel = 0, kCGScrollEventUnitLine = 1 };

class CGEvent {
 public:
  CGEvent(CGEventType type, CGPoint location);

  CGEventType type() const { return type_; }
  void setType(CGEventType type) { type_ = type; }
  CGPoint location() const { return location_; }
  void setLocation(CGPoint location) { location_ = location; }
  CGEventTimestamp timestamp() const { return timestamp_; }
  void setTimestamp(CGEventTimestamp t) { timestamp_ = t; }

  std::int64_t integerValueField(CGEventField field) const;
  double doubleValueField(CGEventField field) const;
  void setIntegerValueField(CGEventField field, std::int64_t value) { fields_[field] = static_cast<double>(value); }
  void setDoubleValueField(CGEventField field, double value) { fields_[field] = value; }

  // Whether the scroll deltas are the device's own direction reversed, as
  // they are under natural scrolling.
  bool isDirectionInvertedFromDevice() const { return inverted_; }
  void setDirectionInvertedFromDevice(bool inverted) { inverted_ = inverted; }

 private:
  CGEventType type_;
  CGPoint location_;
  CGEventTimestamp timestamp_;
  std::map<std::uint32_t, double> fields_;
  bool inverted_ = false;
};
using CGEventRef = std::shared_ptr<CGEvent>;

// Top-left global display coordinates: the space of the Accessibility API.
CGPoint CGEventGetLocation(const CGEventRef& event);
// Bottom-left global coordinates: the space of window frames and NSScreen.
CGPoint CGEventGetUnflippedLocation(const CGEventRef& event);
CGEventType CGEventGetType(const CGEventRef& event);
CGEventTimestamp CGEventGetTimestamp(const CGEventRef& event);
std::int64_t CGEventGetIntegerValueField(const CGEventRef& event, CGEventField field);
double CGEventGetDoubleValueField(const CGEventRef& event, CGEventField field);
void CGEventSetIntegerValueField(const CGEventRef& event, CGEventField field, std::int64_t value);
void CGEventSetDoubleValueField(const CGEventRef& event, CGEventField field, double value);
void CGEventSetLocation(const CGEventRef& event, CGPoint location);

// A mouse event at a top-left location, stamped now.
CGEventRef CGEventCreateMouseEvent(const void* source, CGEventType type, CGPoint location, CGMouseButton button);
// A scroll event at the pointer's location: `wheel1` vertical, `wheel2`
// horizontal; pixel units make a continuous (trackpad) event.
CGEventRef CGEventCreateScrollWheelEvent2(const void* source, CGScrollEventUnit units, std::uint32_t wheelCount,
                                          double wheel1, double wheel2, double wheel3);

// The event the window server makes of one event of the simulated desktop's
// input driver.
CGEventRef CGEventCreateFromSimulatedInput(const sim::InputEvent& input);

}  // namespace cgevent
