#include "app/snapping/ScrollGestureProcessor.h"

#include <algorithm>

#include "platform/dispatch/Dispatch.h"

namespace {

constexpr double kSingleEventThreshold = 10.0;
constexpr double kPreciseClamp = 2.0;
constexpr double kPreciseStep = 7.5;
constexpr double kWheelStep = 0.1;

// Signed deltas: positive x is right, positive y is down, whatever the
// user's natural-scrolling setting.
ScrollGestureProcessor::Distance signedDeltas(const appkit::NSEvent& event) {
  if (event.isDirectionInvertedFromDevice()) return {event.scrollingDeltaX(), event.scrollingDeltaY()};
  return {-event.scrollingDeltaX(), -event.scrollingDeltaY()};
}

}  // namespace

std::shared_ptr<ScrollGestureProcessor> ScrollGestureProcessor::create(TriggerCallback onTriggeringScrollGesture,
                                                                       EndCallback onScrollGestureEnded) {
  return std::shared_ptr<ScrollGestureProcessor>(
      new ScrollGestureProcessor(std::move(onTriggeringScrollGesture), std::move(onScrollGestureEnded)));
}

void ScrollGestureProcessor::endGesture() {
  open_ = false;
  phase = Phase::none();
  if (onScrollGestureEnded) onScrollGestureEnded();
}

void ScrollGestureProcessor::noteEvent(Device device) {
  if (open_ && device != device_) endGesture();
  open_ = true;
  device_ = device;
  quietDeadline_ = dispatch::after(kQuietTime);
  if (quietCheckPending_) return;
  quietCheckPending_ = true;
  auto self = shared_from_this();
  dispatch::Queue::main()->asyncAfter(quietDeadline_, [self] { self->checkQuiet(); });
}

void ScrollGestureProcessor::checkQuiet() {
  quietCheckPending_ = false;
  if (!open_) return;
  if (dispatch::now() >= quietDeadline_) {
    endGesture();
    return;
  }
  // A newer event came meanwhile: the gesture lasts until kQuietTime after it.
  quietCheckPending_ = true;
  auto self = shared_from_this();
  dispatch::Queue::main()->asyncAfter(quietDeadline_, [self] { self->checkQuiet(); });
}

void ScrollGestureProcessor::processPreciseScroll(const std::shared_ptr<appkit::NSEvent>& event) {
  if (!event) return;
  const Distance d = signedDeltas(*event);

  // Fingers that stop before lifting leave no momentum, so that gesture never
  // saw its end; a new touch ends it, or a fast swipe would leave the
  // recogniser deaf until some later momentum ended.
  if (event->phase() == appkit::NSEventPhase::began && open_) endGesture();
  noteEvent(Device::precise);

  if (phase.kind != Phase::Kind::triggered && event->momentumPhase() != appkit::NSEventPhase::changed) {
    std::optional<Direction> single;
    if (d.x > kSingleEventThreshold) single = Direction::right;
    else if (d.x < -kSingleEventThreshold) single = Direction::left;
    else if (d.y > kSingleEventThreshold) single = Direction::down;
    else if (d.y < -kSingleEventThreshold) single = Direction::up;

    if (single) {
      phase = Phase::triggered();
      if (onTriggeringScrollGesture) onTriggeringScrollGesture(*single, true, event);
    } else {
      const Distance start = phase.kind == Phase::Kind::inProgress ? phase.distance : Distance{};
      const double cx = std::clamp(d.x, -kPreciseClamp, kPreciseClamp);
      const double cy = std::clamp(d.y, -kPreciseClamp, kPreciseClamp);
      const double sx = start.x + cx;
      std::optional<Direction> step;
      double sy = start.y;
      if (sx > kPreciseStep) step = Direction::right;
      else if (sx < -kPreciseStep) step = Direction::left;
      else {
        sy = start.y + cy;
        if (sy > kPreciseStep) step = Direction::down;
        else if (sy < -kPreciseStep) step = Direction::up;
      }
      if (step) {
        phase = Phase::inProgress({});
        if (onTriggeringScrollGesture) onTriggeringScrollGesture(*step, false, event);
      } else {
        phase = Phase::inProgress({sx, sy});
      }
    }
  }

  if (event->momentumPhase() == appkit::NSEventPhase::ended) endGesture();
}

void ScrollGestureProcessor::processMouseWheel(const std::shared_ptr<appkit::NSEvent>& event) {
  if (!event) return;
  noteEvent(Device::wheel);
  const Distance d = signedDeltas(*event);
  const Distance start = phase.kind == Phase::Kind::inProgress ? phase.distance : Distance{};
  const double sx = start.x + d.x;
  std::optional<Direction> step;
  double sy = start.y;
  if (sx > kWheelStep) step = Direction::right;
  else if (sx < -kWheelStep) step = Direction::left;
  else {
    sy = start.y + d.y;
    if (sy > kWheelStep) step = Direction::down;
    else if (sy < -kWheelStep) step = Direction::up;
  }
  if (step) {
    phase = Phase::inProgress({});
    if (onTriggeringScrollGesture) onTriggeringScrollGesture(*step, false, event);
  } else {
    phase = Phase::inProgress({sx, sy});
  }

  // The gesture ends a second after the last notch (noteEvent).
  lastMouseWheelEvent = event;
}

const char* toString(ScrollGestureProcessor::Direction direction) {
  switch (direction) {
    case ScrollGestureProcessor::Direction::left: return "left";
    case ScrollGestureProcessor::Direction::right: return "right";
    case ScrollGestureProcessor::Direction::up: return "up";
    case ScrollGestureProcessor::Direction::down: return "down";
  }
  return "left";
}
