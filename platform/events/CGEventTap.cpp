#include "platform/events/CGEventTap.h"

#include <atomic>

#include "platform/dispatch/Dispatch.h"
#include "platform/sim/InputDriver.h"
#include "platform/sim/World.h"

namespace cgevent {

namespace {

std::atomic<bool> gCreationFails{false};
std::atomic<std::size_t> gLiveTaps{0};

CFMachPortRef makeTap(CFMachPort::TapDescription description) {
  if (gCreationFails.load() || !description.callback) return nullptr;
  if (!sim::World::shared().isAccessibilityTrusted()) return nullptr;
  auto port = std::make_shared<CFMachPort>(description);
  port->startListening();
  return port;
}

}  // namespace

CFMachPort::CFMachPort(TapDescription tap) : tap_(tap) { ++gLiveTaps; }

CFMachPort::~CFMachPort() {
  if (valid_) --gLiveTaps;
}

bool CFMachPort::isValid() const {
  std::lock_guard lock(mutex_);
  return valid_;
}

void CFMachPort::invalidate() {
  ax::CFRunLoopSourceRef source;
  {
    std::lock_guard lock(mutex_);
    if (!valid_) return;
    valid_ = false;
    source = source_;
    --gLiveTaps;
  }
  // Stops the desktop's deliveries and waits for one in progress elsewhere.
  sink_.reset();
  // Taking the source's delivery lock waits for a callback running on another thread.
  if (source) source->invalidate();
}

bool CFMachPort::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void CFMachPort::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

ax::CFRunLoopSourceRef CFMachPort::runLoopSource() {
  std::lock_guard lock(mutex_);
  if (!source_) {
    source_ = std::make_shared<ax::CFRunLoopSource>();
    if (!valid_) source_->invalidate();
  }
  return source_;
}

void CFMachPort::startListening() {
  std::weak_ptr<CFMachPort> weak = weak_from_this();
  sink_ = sim::InputDriver::shared().addTapSink(tap_.pid, tap_.mask, [weak](const sim::InputEvent& input) {
    auto port = weak.lock();
    if (!port) return;
    {
      // Events that arrive while the port has no scheduled source are lost.
      std::lock_guard lock(port->mutex_);
      if (!port->valid_ || !port->enabled_ || !port->source_ || !port->source_->isScheduledOnMainRunLoop()) return;
    }
    CGEventRef event = CGEventCreateFromSimulatedInput(input);
    const auto type = static_cast<CGEventType>(input.type);
    dispatch::Queue::main()->async([port, type, event] { port->deliver(type, event); });
  });
}

void CFMachPort::deliver(CGEventType type, const CGEventRef& event) {
  ax::CFRunLoopSourceRef source;
  {
    std::lock_guard lock(mutex_);
    source = source_;
  }
  if (!source) return;
  // Held across the callback: an invalidation from another thread waits for
  // it, one from inside the callback (same thread) goes through.
  std::lock_guard delivery(source->deliveryMutex());
  {
    std::lock_guard lock(mutex_);
    if (!valid_) return;
    const bool disabledNotice = type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput;
    if (!enabled_ && !disabledNotice) return;
  }
  if (!source->isScheduledOnMainRunLoop()) return;
  // A listen-only tap passes the event on whatever the callback returns.
  (void)tap_.callback(this, type, event, tap_.userInfo);
}

namespace {
CFMachPort::TapDescription describeTap(CGEventTapPlacement place, CGEventTapOptions options,
                                       CGEventMask eventsOfInterest, CGEventTapCallBack callback, void* userInfo) {
  CFMachPort::TapDescription d;
  d.placement = place;
  d.options = options;
  d.mask = eventsOfInterest;
  d.callback = callback;
  d.userInfo = userInfo;
  return d;
}
}  // namespace

CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place, CGEventTapOptions options,
                               CGEventMask eventsOfInterest, CGEventTapCallBack callback, void* userInfo) {
  CFMachPort::TapDescription d = describeTap(place, options, eventsOfInterest, callback, userInfo);
  d.location = tap;
  return makeTap(d);
}

CFMachPortRef CGEventTapCreateForPid(pid_t pid, CGEventTapPlacement place, CGEventTapOptions options,
                                     CGEventMask eventsOfInterest, CGEventTapCallBack callback, void* userInfo) {
  if (pid <= 0) return nullptr;
  CFMachPort::TapDescription d = describeTap(place, options, eventsOfInterest, callback, userInfo);
  d.pid = pid;
  return makeTap(d);
}

void CGEventTapEnable(const CFMachPortRef& tap, bool enable) {
  if (tap) tap->setEnabled(enable);
}

bool CGEventTapIsEnabled(const CFMachPortRef& tap) { return tap && tap->isValid() && tap->isEnabled(); }

ax::CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef, const CFMachPortRef& port, CFIndex) {
  return port ? port->runLoopSource() : nullptr;
}

void CFMachPortInvalidate(const CFMachPortRef& port) {
  if (port) port->invalidate();
}

bool CFMachPortIsValid(const CFMachPortRef& port) { return port && port->isValid(); }

namespace testing {

void setTapCreationFails(bool fails) { gCreationFails = fails; }

void disableTapByTimeout(const CFMachPortRef& tap) {
  if (!tap || !tap->isValid()) return;
  tap->setEnabled(false);
  auto event = std::make_shared<CGEvent>(kCGEventTapDisabledByTimeout, sim::World::shared().mouseLocationTopLeft());
  dispatch::Queue::main()->async([tap, event] { tap->deliver(kCGEventTapDisabledByTimeout, event); });
}

std::size_t liveTapCount() { return gLiveTaps.load(); }

}  // namespace testing

}  // namespace cgevent
