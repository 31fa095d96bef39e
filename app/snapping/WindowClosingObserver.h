#pragma once
// Reports the end of the windows it watches (closed, or gone with their
// application): one Accessibility observer per process, with
// "AXUIElementDestroyed" registered on each watched window. The snapping
// engine keeps a window's snap record only as long as the window.
//
// Main thread only. The observer's callback context is this object, so the
// destructor removes the registrations and invalidates the sources before
// the object goes.

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/model/AXUIElementWrapper.h"
#include "platform/accessibility/AXObserver.h"

class WindowClosingObserver {
 public:
  using Handler = std::function<void(const AXUIElementWrapper& window)>;

  explicit WindowClosingObserver(Handler onClose);
  ~WindowClosingObserver();
  WindowClosingObserver(const WindowClosingObserver&) = delete;
  WindowClosingObserver& operator=(const WindowClosingObserver&) = delete;

  // False when the window is gone already (nothing will report it). A window
  // that cannot be observed for another reason is not watched either, but
  // counts as alive.
  bool watch(const AXUIElementWrapper& window);
  void unwatch(const AXUIElementWrapper& window);

 private:
  struct Process {
    ax::AXObserverRef observer;
    std::vector<AXUIElementWrapper> windows;
  };

  static void observerCallback(ax::AXObserverRef observer, ax::AXUIElementRef element,
                               const std::string& notification, void* refcon);
  // Stops watching the window; false when it was not watched.
  bool forget(const AXUIElementWrapper& window);
  // Removes the process's registrations and source.
  static void stop(Process& process);

  Handler onClose_;
  std::map<pid_t, Process> processes_;
};
