#pragma once
// One Accessibility observer on one application's process: it registers
// "AXWindowCreated", "AXUIElementDestroyed" and "AXFocusedWindowChanged" on
// the application element, sits on the main run loop and turns each
// notification into a call on its delegate, on the main thread.
//
// The observer's callback context is this object, not retained by the
// platform; the destructor therefore removes the registrations and the
// run-loop source and invalidates the source before the object goes, so that
// a late notification can never reach freed memory.

#include <sys/types.h>

#include <memory>
#include <string>

#include "app/model/AXUIElementWrapper.h"
#include "platform/accessibility/AXObserver.h"

class AXObserverWrapperDelegate {
 public:
  virtual ~AXObserverWrapperDelegate() = default;
  virtual void windowCreated(const ax::AXUIElementRef& element) = 0;
  virtual void elementDestroyed(const AXUIElementWrapper& element) = 0;
  virtual void focusedWindowChanged(const AXUIElementWrapper& element) = 0;
};

class AXObserverWrapper {
 public:
  AXObserverWrapper(pid_t pid, ax::AXUIElementRef element);
  ~AXObserverWrapper();
  AXObserverWrapper(const AXObserverWrapper&) = delete;
  AXObserverWrapper& operator=(const AXObserverWrapper&) = delete;

  const pid_t pid;
  ax::AXUIElementRef element;
  ax::AXObserverRef axObserver;
  std::weak_ptr<AXObserverWrapperDelegate> delegate;

  // Creates the observer, puts its source on the current run loop and
  // registers the three notifications; failures are logged.
  void start();

  // The observer callback (context: the wrapper).
  static void observerCallback(ax::AXObserverRef observer, ax::AXUIElementRef element,
                               const std::string& notification, void* refcon);

 private:
  void stop();

  ax::CFRunLoopRef runLoop_;  // where start() put the source
  ax::AXUIElementRef registeredElement_;
};
