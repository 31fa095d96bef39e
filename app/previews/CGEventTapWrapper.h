#pragma once
// One listen-only Quartz event tap on the mouse events of the window session:
// either on the events the window server sends to one process (the Dock), or
// on the whole login session. Each tapped event reaches the delegate on the
// main thread; once stop() has returned, nothing more does, not even events
// that were already on their way.
//
// Main thread only. Owned by shared_ptr: the work items that carry an event
// to the delegate keep the wrapper alive until they have run.

#include <sys/types.h>

#include <memory>
#include <optional>

#include "platform/events/CGEvent.h"
#include "platform/events/CGEventTap.h"

class CGEventTapWrapperDelegate {
 public:
  virtual ~CGEventTapWrapperDelegate() = default;
  virtual void didReceive(const cgevent::CGEventRef& event, cgevent::CGEventType type) = 0;
};

class CGEventTapWrapper : public std::enable_shared_from_this<CGEventTapWrapper> {
 public:
  // Left, right and other mouse down, and mouse moved. Releases and drags are
  // not tapped.
  static constexpr cgevent::CGEventMask kEventMask = 0x200002A;

  // `pid`: the process whose events are tapped; none for the whole session.
  explicit CGEventTapWrapper(std::optional<pid_t> pid) : pid(pid) {}
  static std::shared_ptr<CGEventTapWrapper> make(std::optional<pid_t> pid) {
    return std::make_shared<CGEventTapWrapper>(pid);
  }
  virtual ~CGEventTapWrapper();
  CGEventTapWrapper(const CGEventTapWrapper&) = delete;
  CGEventTapWrapper& operator=(const CGEventTapWrapper&) = delete;

  const std::optional<pid_t> pid;
  // The tap's port while the tap is live.
  cgevent::CFMachPortRef tap;
  std::weak_ptr<CGEventTapWrapperDelegate> delegate;

  // Creates the tap and schedules it on the main run loop. On failure the
  // wrapper stays without a tap (the reason goes to the system log).
  virtual void start();
  // Invalidates the tap; a second call does nothing.
  virtual void stop();

  // The tap's callback; user info is the wrapper.
  static cgevent::CGEventRef callback(cgevent::CGEventTapProxy proxy, cgevent::CGEventType type,
                                      cgevent::CGEventRef event, void* userInfo);

 private:
  void forward(const cgevent::CGEventRef& event, cgevent::CGEventType type);
};
