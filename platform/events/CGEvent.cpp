#include "platform/events/CGEvent.h"

#include <cmath>

#include "platform/dispatch/Dispatch.h"
#include "platform/sim/InputDriver.h"
#include "platform/sim/World.h"

namespace cgevent {

namespace {

CGEventTimestamp stampNow() {
  const dispatch::Time t = dispatch::now();
  return t > 0 ? static_cast<CGEventTimestamp>(t) : 0;
}

std::int64_t scrollPhaseValue(sim::ScrollPhase phase) {
  switch (phase) {
    case sim::ScrollPhase::none: return 0;
    case sim::ScrollPhase::mayBegin: return kCGScrollPhaseMayBegin;
    case sim::ScrollPhase::began: return kCGScrollPhaseBegan;
    case sim::ScrollPhase::changed: return kCGScrollPhaseChanged;
    case sim::ScrollPhase::ended: return kCGScrollPhaseEnded;
    case sim::ScrollPhase::cancelled: return kCGScrollPhaseCancelled;
  }
  return 0;
}

std::int64_t momentumPhaseValue(sim::ScrollPhase phase) {
  switch (phase) {
    case sim::ScrollPhase::none:
    case sim::ScrollPhase::mayBegin: return kCGMomentumScrollPhaseNone;
    case sim::ScrollPhase::began: return kCGMomentumScrollPhaseBegin;
    case sim::ScrollPhase::changed: return kCGMomentumScrollPhaseContinue;
    case sim::ScrollPhase::ended:
    case sim::ScrollPhase::cancelled: return kCGMomentumScrollPhaseEnd;
  }
  return kCGMomentumScrollPhaseNone;
}

// Whole lines of a line delta, rounded away from zero as a wheel reports
// every notch that moved at all.
std::int64_t wholeLines(double lines) {
  if (lines == 0 || !std::isfinite(lines)) return 0;
  const double r = lines > 0 ? std::ceil(lines) : std::floor(lines);
  return static_cast<std::int64_t>(r);
}

}  // namespace

CGEvent::CGEvent(CGEventType type, CGPoint location) : type_(type), location_(location), timestamp_(stampNow()) {}

std::int64_t CGEvent::integerValueField(CGEventField field) const {
  auto it = fields_.find(field);
  if (it == fields_.end() || !std::isfinite(it->second)) return 0;
  return static_cast<std::int64_t>(it->second);
}

double CGEvent::doubleValueField(CGEventField field) const {
  auto it = fields_.find(field);
  return it == fields_.end() ? 0.0 : it->second;
}

CGPoint CGEventGetLocation(const CGEventRef& event) { return event ? event->location() : CGPoint{}; }

CGPoint CGEventGetUnflippedLocation(const CGEventRef& event) {
  if (!event) return CGPoint{};
  return sim::World::shared().flippedPoint(event->location());
}

CGEventType CGEventGetType(const CGEventRef& event) { return event ? event->type() : kCGEventNull; }

CGEventTimestamp CGEventGetTimestamp(const CGEventRef& event) { return event ? event->timestamp() : 0; }

std::int64_t CGEventGetIntegerValueField(const CGEventRef& event, CGEventField field) {
  return event ? event->integerValueField(field) : 0;
}

double CGEventGetDoubleValueField(const CGEventRef& event, CGEventField field) {
  return event ? event->doubleValueField(field) : 0.0;
}

void CGEventSetIntegerValueField(const CGEventRef& event, CGEventField field, std::int64_t value) {
  if (event) event->setIntegerValueField(field, value);
}

void CGEventSetDoubleValueField(const CGEventRef& event, CGEventField field, double value) {
  if (event) event->setDoubleValueField(field, value);
}

void CGEventSetLocation(const CGEventRef& event, CGPoint location) {
  if (event) event->setLocation(location);
}

CGEventRef CGEventCreateMouseEvent(const void*, CGEventType type, CGPoint location, CGMouseButton) {
  auto event = std::make_shared<CGEvent>(type, location);
  event->setIntegerValueField(kCGMouseEventClickState, 1);
  return event;
}

CGEventRef CGEventCreateScrollWheelEvent2(const void*, CGScrollEventUnit units, std::uint32_t wheelCount, double wheel1,
                                          double wheel2, double) {
  auto event = std::make_shared<CGEvent>(kCGEventScrollWheel, sim::World::shared().mouseLocationTopLeft());
  const double vertical = wheelCount >= 1 ? wheel1 : 0;
  const double horizontal = wheelCount >= 2 ? wheel2 : 0;
  const bool continuous = units == kCGScrollEventUnitPixel;
  event->setIntegerValueField(kCGScrollWheelEventIsContinuous, continuous ? 1 : 0);
  if (continuous) {
    event->setDoubleValueField(kCGScrollWheelEventPointDeltaAxis1, vertical);
    event->setDoubleValueField(kCGScrollWheelEventPointDeltaAxis2, horizontal);
  } else {
    event->setDoubleValueField(kCGScrollWheelEventFixedPtDeltaAxis1, vertical);
    event->setDoubleValueField(kCGScrollWheelEventFixedPtDeltaAxis2, horizontal);
  }
  event->setIntegerValueField(kCGScrollWheelEventDeltaAxis1, wholeLines(vertical));
  event->setIntegerValueField(kCGScrollWheelEventDeltaAxis2, wholeLines(horizontal));
  return event;
}

CGEventRef CGEventCreateFromSimulatedInput(const sim::InputEvent& input) {
  auto event = std::make_shared<CGEvent>(static_cast<CGEventType>(input.type), input.location);
  if (input.targetPid) event->setIntegerValueField(kCGEventTargetUnixProcessID, *input.targetPid);
  if (input.type == sim::InputEventType::scrollWheel) {
    event->setIntegerValueField(kCGScrollWheelEventIsContinuous, input.continuous ? 1 : 0);
    if (input.continuous) {
      event->setDoubleValueField(kCGScrollWheelEventPointDeltaAxis1, input.scrollDeltaY);
      event->setDoubleValueField(kCGScrollWheelEventPointDeltaAxis2, input.scrollDeltaX);
    }
    // Trackpads report line deltas too, a tenth of their points.
    const double lineY = input.continuous ? input.scrollDeltaY / 10 : input.scrollDeltaY;
    const double lineX = input.continuous ? input.scrollDeltaX / 10 : input.scrollDeltaX;
    event->setDoubleValueField(kCGScrollWheelEventFixedPtDeltaAxis1, lineY);
    event->setDoubleValueField(kCGScrollWheelEventFixedPtDeltaAxis2, lineX);
    event->setIntegerValueField(kCGScrollWheelEventDeltaAxis1, wholeLines(lineY));
    event->setIntegerValueField(kCGScrollWheelEventDeltaAxis2, wholeLines(lineX));
    event->setIntegerValueField(kCGScrollWheelEventScrollPhase, scrollPhaseValue(input.phase));
    event->setIntegerValueField(kCGScrollWheelEventMomentumPhase, momentumPhaseValue(input.momentumPhase));
    event->setDirectionInvertedFromDevice(input.directionInvertedFromDevice);
  } else {
    event->setIntegerValueField(kCGMouseEventClickState, input.clickCount);
  }
  return event;
}

}  // namespace cgevent
