// Global event monitors, NSEvent from Quartz events, and the connection of
// AppKit to the simulated desktop's input.

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/events/CGEvent.h"
#include "platform/sim/InputDriver.h"
#include "platform/sim/World.h"

namespace appkit {

class NSEventGlobalMonitor {
 public:
  NSEventGlobalMonitor(std::uint64_t mask, NSEventGlobalMonitorHandler handler)
      : mask(mask), handler(std::move(handler)) {}
  const std::uint64_t mask;
  const NSEventGlobalMonitorHandler handler;
  bool removed = false;  // main thread
};

namespace {

NSEventPhase phaseFromScrollPhase(std::int64_t value) {
  switch (value) {
    case cgevent::kCGScrollPhaseBegan: return NSEventPhase::began;
    case cgevent::kCGScrollPhaseChanged: return NSEventPhase::changed;
    case cgevent::kCGScrollPhaseEnded: return NSEventPhase::ended;
    case cgevent::kCGScrollPhaseCancelled: return NSEventPhase::cancelled;
    case cgevent::kCGScrollPhaseMayBegin: return NSEventPhase::mayBegin;
    default: return NSEventPhase::none;
  }
}

NSEventPhase phaseFromMomentumPhase(std::int64_t value) {
  switch (value) {
    case cgevent::kCGMomentumScrollPhaseBegin: return NSEventPhase::began;
    case cgevent::kCGMomentumScrollPhaseContinue: return NSEventPhase::changed;
    case cgevent::kCGMomentumScrollPhaseEnd: return NSEventPhase::ended;
    default: return NSEventPhase::none;
  }
}

bool isKnownType(cgevent::CGEventType type) {
  switch (type) {
    case cgevent::kCGEventLeftMouseDown:
    case cgevent::kCGEventLeftMouseUp:
    case cgevent::kCGEventRightMouseDown:
    case cgevent::kCGEventRightMouseUp:
    case cgevent::kCGEventMouseMoved:
    case cgevent::kCGEventLeftMouseDragged:
    case cgevent::kCGEventRightMouseDragged:
    case cgevent::kCGEventKeyDown:
    case cgevent::kCGEventKeyUp:
    case cgevent::kCGEventScrollWheel:
    case cgevent::kCGEventOtherMouseDown:
    case cgevent::kCGEventOtherMouseUp:
    case cgevent::kCGEventOtherMouseDragged: return true;
    default: return false;
  }
}

// The monitors, in installation order; main thread only.
std::vector<NSEventMonitorToken>& monitors() {
  static auto* list = new std::vector<NSEventMonitorToken>();
  return *list;
}

struct InputConnection {
  std::mutex mutex;
  std::vector<sim::OwnWindow> snapshot;  // for readers off the main thread
  conc::AnyCancellable windowChanges;
  ns::ObserverToken monitorSink;
  ns::ObserverToken applicationSink;
};

InputConnection& connection() {
  static auto* c = new InputConnection();  // never destroyed: queues may outlive statics
  return *c;
}

std::vector<sim::OwnWindow> currentOwnWindows() {
  std::vector<sim::OwnWindow> out;
  for (const WindowInfo& info : WindowList::visibleWindows()) {
    sim::OwnWindow w;
    w.windowNumber = static_cast<std::uint32_t>(info.windowNumber);
    w.frame = info.frame;
    // Windows that let the pointer through are not hit.
    w.visible = !info.ignoresMouseEvents && info.alpha > 0;
    w.title = info.title;
    out.push_back(std::move(w));
  }
  return out;
}

void deliverToMonitors(const cgevent::CGEventRef& cg) {
  const auto type = static_cast<std::uint32_t>(cgevent::CGEventGetType(cg));
  const std::uint64_t bit = type < 64 ? (1ull << type) : 0;
  // Monitors installed while this runs see the next event, not this one.
  const std::vector<NSEventMonitorToken> current = monitors();
  for (const auto& monitor : current) {
    if (monitor->removed || !(monitor->mask & bit)) continue;
    // Each monitor gets its own event object, as each AppKit handler call does.
    if (auto event = NSEvent::eventWithCGEvent(cg)) monitor->handler(event);
  }
}

void deliverToWindows(const sim::InputEvent& input) {
  const NSPoint p = input.unflippedLocation;
  switch (input.type) {
    case sim::InputEventType::mouseMoved:
    case sim::InputEventType::leftMouseDragged: WindowList::dispatchMouseMoved(p); break;
    case sim::InputEventType::leftMouseDown: WindowList::dispatchMouseDown(p); break;
    case sim::InputEventType::leftMouseUp: WindowList::dispatchMouseUp(p); break;
    case sim::InputEventType::rightMouseDown: WindowList::dispatchRightMouseDown(p); break;
    case sim::InputEventType::scrollWheel: {
      ui::ScrollEvent e;
      e.scrollingDeltaX = input.scrollDeltaX;
      e.scrollingDeltaY = input.scrollDeltaY;
      e.hasPreciseScrollingDeltas = input.continuous;
      const cgevent::CGEventRef cg = cgevent::CGEventCreateFromSimulatedInput(input);
      e.phase = static_cast<ui::EventPhase>(
          phaseFromScrollPhase(cgevent::CGEventGetIntegerValueField(cg, cgevent::kCGScrollWheelEventScrollPhase)));
      e.momentumPhase = static_cast<ui::EventPhase>(phaseFromMomentumPhase(
          cgevent::CGEventGetIntegerValueField(cg, cgevent::kCGScrollWheelEventMomentumPhase)));
      e.isDirectionInvertedFromDevice = input.directionInvertedFromDevice;
      WindowList::dispatchScrollWheel(p, e);
      break;
    }
    default: break;
  }
}

}  // namespace

std::shared_ptr<NSEvent> NSEvent::eventWithCGEvent(const cgevent::CGEventRef& cg) {
  if (!cg || !isKnownType(cg->type())) return nullptr;
  auto event = std::make_shared<NSEvent>(static_cast<NSEventType>(cg->type()), cgevent::CGEventGetUnflippedLocation(cg));
  event->setCGEvent(cg);
  if (cg->type() == cgevent::kCGEventScrollWheel) {
    const bool precise = cg->integerValueField(cgevent::kCGScrollWheelEventIsContinuous) != 0;
    // Trackpads report points, wheels lines (with their fraction).
    const double dy = precise ? cg->doubleValueField(cgevent::kCGScrollWheelEventPointDeltaAxis1)
                              : cg->doubleValueField(cgevent::kCGScrollWheelEventFixedPtDeltaAxis1);
    const double dx = precise ? cg->doubleValueField(cgevent::kCGScrollWheelEventPointDeltaAxis2)
                              : cg->doubleValueField(cgevent::kCGScrollWheelEventFixedPtDeltaAxis2);
    event->setScrollingDeltas(dx, dy, precise)
        .setPhases(phaseFromScrollPhase(cg->integerValueField(cgevent::kCGScrollWheelEventScrollPhase)),
                   phaseFromMomentumPhase(cg->integerValueField(cgevent::kCGScrollWheelEventMomentumPhase)))
        .setDirectionInvertedFromDevice(cg->isDirectionInvertedFromDevice());
  } else {
    event->setClickCount(static_cast<int>(cg->integerValueField(cgevent::kCGMouseEventClickState)));
  }
  return event;
}

NSEventMonitorToken NSEvent::addGlobalMonitorForEventsMatchingMask(std::uint64_t mask,
                                                                   NSEventGlobalMonitorHandler handler) {
  if (!handler || mask == 0) return nullptr;
  connectInputToSimulatedDesktop();
  auto monitor = std::make_shared<NSEventGlobalMonitor>(mask, std::move(handler));
  monitors().push_back(monitor);
  return monitor;
}

void NSEvent::removeMonitor(const NSEventMonitorToken& monitor) {
  if (!monitor) return;
  monitor->removed = true;
  std::erase(monitors(), monitor);
}

std::size_t NSEvent::globalMonitorCount() { return monitors().size(); }

void connectInputToSimulatedDesktop() {
  InputConnection& c = connection();
  std::lock_guard lock(c.mutex);
  if (c.monitorSink.isActive()) return;

  c.snapshot = currentOwnWindows();
  c.windowChanges = WindowList::observe([] {
    auto windows = currentOwnWindows();
    std::lock_guard lock(connection().mutex);
    connection().snapshot = std::move(windows);
  });
  sim::World::shared().setOwnWindowsProvider([] {
    // Fresh on the main thread; elsewhere the copy made at the last change.
    if (dispatch::isMainThread()) return currentOwnWindows();
    std::lock_guard lock(connection().mutex);
    return connection().snapshot;
  });

  c.monitorSink = sim::InputDriver::shared().addGlobalMonitorSink([](const sim::InputEvent& input) {
    const cgevent::CGEventRef cg = cgevent::CGEventCreateFromSimulatedInput(input);
    dispatch::Queue::main()->async([cg] { deliverToMonitors(cg); });
  });
  c.applicationSink = sim::InputDriver::shared().addApplicationSink([](const sim::InputEvent& input) {
    // Through the application object's sendEvent:, as every event of the program goes.
    dispatch::Queue::main()->async([input] {
      auto event = NSEvent::eventWithCGEvent(cgevent::CGEventCreateFromSimulatedInput(input));
      NSApplication::shared().sendEvent(std::make_shared<NSEventObject>(event, [input] { deliverToWindows(input); }));
    });
  });
}

}  // namespace appkit
