#include "app/previews/CGEventTapWrapper.h"

#include "platform/accessibility/CFRunLoop.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"

CGEventTapWrapper::~CGEventTapWrapper() {
  // A wrapper that is let go without stop() must not leave its tap listening.
  if (tap) cgevent::CFMachPortInvalidate(tap);
}

void CGEventTapWrapper::start() {
  cgevent::CFMachPortRef port;
  if (pid) {
    port = cgevent::CGEventTapCreateForPid(*pid, cgevent::kCGTailAppendEventTap, cgevent::kCGEventTapOptionListenOnly,
                                           kEventMask, &CGEventTapWrapper::callback, this);
    if (!port) ns::NSLog("CGEventTapWrapper: createCGEventTap error.");
  } else {
    port = cgevent::CGEventTapCreate(cgevent::kCGSessionEventTap, cgevent::kCGTailAppendEventTap,
                                     cgevent::kCGEventTapOptionListenOnly, kEventMask, &CGEventTapWrapper::callback,
                                     this);
    if (!port) ns::NSLog("CGEventTapWrapper:createCGEventTap error.");
  }
  if (!port) {
    ns::NSLog("CGEventTapWrapper: start error.");
    return;
  }
  tap = port;
  // A new tap is live; it only needs its source on the main run loop.
  auto source = cgevent::CFMachPortCreateRunLoopSource(cgevent::kCFAllocatorDefault, port, 0);
  ax::CFRunLoopAddSource(ax::CFRunLoopGetCurrent(), source, ax::kCFRunLoopCommonModes);
}

void CGEventTapWrapper::stop() {
  if (!tap) return;
  cgevent::CFMachPortInvalidate(tap);
  tap.reset();
}

cgevent::CGEventRef CGEventTapWrapper::callback(cgevent::CGEventTapProxy, cgevent::CGEventType type,
                                                cgevent::CGEventRef event, void* userInfo) {
  if (!userInfo) {
    ns::NSLog("CGEventTapWrapper: Missing refcon");
    return event;
  }
  static_cast<CGEventTapWrapper*>(userInfo)->forward(event, type);
  return event;
}

void CGEventTapWrapper::forward(const cgevent::CGEventRef& event, cgevent::CGEventType type) {
  // The port is invalidated before the wrapper goes away, so the wrapper is
  // alive while its callback runs; a wrapper not owned by a shared_ptr has
  // nobody to keep it alive for the work item and delivers nothing.
  std::shared_ptr<CGEventTapWrapper> self = weak_from_this().lock();
  if (!self) return;
  dispatch::Queue::main()->async([self, event, type] {
    // Stopped in between: a replaced tap never delivers late events.
    if (!self->tap) return;
    auto delegate = self->delegate.lock();
    if (!delegate) return;
    delegate->didReceive(event, type);
  });
}
