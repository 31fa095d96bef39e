#pragma once
// Accessibility observers: notifications of one process, delivered through a
// run-loop source.
//
// A notification is delivered on the main queue when the observer's source
// is on the main run loop (default or common modes) and, at that moment, a
// registration matches it: one on the notified element itself, or one on
// the application element of its process. The refcon is handed back as it
// was given and is not retained; removing the registrations or the source
// (or invalidating it) guarantees that no later callback carries it.

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accessibility/AXUIElement.h"
#include "platform/accessibility/CFRunLoop.h"

namespace ax {

class AXObserver;
using AXObserverRef = std::shared_ptr<AXObserver>;
using AXObserverCallback = void (*)(AXObserverRef observer, AXUIElementRef element, const std::string& notification,
                                    void* refcon);

class AXObserver : public std::enable_shared_from_this<AXObserver> {
 public:
  AXObserver(pid_t pid, AXObserverCallback callback);
  pid_t pid() const { return pid_; }
  const CFRunLoopSourceRef& runLoopSource() const { return source_; }

  AXError addNotification(const AXUIElementRef& element, std::string_view notification, void* refcon);
  AXError removeNotification(const AXUIElementRef& element, std::string_view notification);
  std::size_t registrationCount() const;

  // Runs on the main queue for one notification of the process.
  void deliver(const sim::ElementID& element, const std::string& notification);

 private:
  struct Registration {
    sim::ElementID element;
    std::string notification;
    void* refcon;
  };
  const pid_t pid_;
  const AXObserverCallback callback_;
  const CFRunLoopSourceRef source_;
  std::vector<Registration> registrations_;  // guarded by the source's delivery mutex
};

AXError AXObserverCreate(pid_t application, AXObserverCallback callback, AXObserverRef* outObserver);
AXError AXObserverAddNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                                  std::string_view notification, void* refcon);
AXError AXObserverRemoveNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                                     std::string_view notification);
CFRunLoopSourceRef AXObserverGetRunLoopSource(const AXObserverRef& observer);

}  // namespace ax
