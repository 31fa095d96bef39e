#include "app/model/AXObserverWrapper.h"

#include <cstdio>

#include "platform/foundation/Log.h"

namespace {

constexpr const char* kNotifications[] = {
    ax::kAXWindowCreatedNotification,
    ax::kAXUIElementDestroyedNotification,
    ax::kAXFocusedWindowChangedNotification,
};

}  // namespace

AXObserverWrapper::AXObserverWrapper(pid_t pid, ax::AXUIElementRef element) : pid(pid), element(std::move(element)) {}

AXObserverWrapper::~AXObserverWrapper() { stop(); }

void AXObserverWrapper::start() {
  ax::AXObserverRef created;
  if (ax::AXObserverCreate(pid, &AXObserverWrapper::observerCallback, &created) != ax::kAXErrorSuccess) {
    ns::NSLog("createAXObserver error: " + std::to_string(pid));
    created = nullptr;
  }
  // A second start replaces the first observer; its registrations go with it.
  stop();
  axObserver = std::move(created);
  if (!axObserver || !element) {
    ns::NSLog("Error starting axObserver");
    return;
  }
  runLoop_ = ax::CFRunLoopGetCurrent();
  ax::CFRunLoopAddSource(runLoop_, ax::AXObserverGetRunLoopSource(axObserver), ax::kCFRunLoopDefaultMode);
  registeredElement_ = element;
  for (const char* name : kNotifications) {
    const ax::AXError error = ax::AXObserverAddNotification(axObserver, element, name, this);
    if (error != ax::kAXErrorSuccess && error != ax::kAXErrorNotificationAlreadyRegistered) {
      ns::NSLog(std::string("addAXObserverNotification error: ") + name);
    }
  }
}

void AXObserverWrapper::stop() {
  if (!axObserver) return;
  if (registeredElement_) {
    for (const char* name : kNotifications) ax::AXObserverRemoveNotification(axObserver, registeredElement_, name);
  }
  auto source = ax::AXObserverGetRunLoopSource(axObserver);
  if (runLoop_) ax::CFRunLoopRemoveSource(runLoop_, source, ax::kCFRunLoopDefaultMode);
  ax::CFRunLoopSourceInvalidate(source);
  runLoop_.reset();
  registeredElement_.reset();
  axObserver.reset();
}

void AXObserverWrapper::observerCallback(ax::AXObserverRef /*observer*/, ax::AXUIElementRef element,
                                         const std::string& notification, void* refcon) {
  if (!refcon) {
    std::fputs("Missing refcon\n", stdout);
    std::fflush(stdout);
    return;
  }
  auto* self = static_cast<AXObserverWrapper*>(refcon);
  enum { Created, Destroyed, Focused } which;
  if (notification == ax::kAXWindowCreatedNotification) {
    which = Created;
  } else if (notification == ax::kAXUIElementDestroyedNotification) {
    which = Destroyed;
  } else if (notification == ax::kAXFocusedWindowChangedNotification) {
    which = Focused;
  } else {
    return;
  }
  auto delegate = self->delegate.lock();
  if (!delegate) return;
  switch (which) {
    case Created: delegate->windowCreated(element); break;
    case Destroyed: delegate->elementDestroyed(AXUIElementWrapper(element)); break;
    case Focused: delegate->focusedWindowChanged(AXUIElementWrapper(element)); break;
  }
}
