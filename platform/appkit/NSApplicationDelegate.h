#pragma once
// The application delegate: the calls the application object makes on the
// program's delegate. Every call is optional; the defaults do what AppKit
// does for a delegate that does not implement the method. The delegate is an
// object of the runtime (ns::Object), so code that observes setDelegate: sees
// its class name.

#include <memory>
#include <string>

#include "platform/appkit/NSMenu.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"

namespace appkit {

// Posted on the default notification centre around launching, with the
// application object as sender.
inline constexpr const char* NSApplicationWillFinishLaunchingNotification =
    "NSApplicationWillFinishLaunchingNotification";
inline constexpr const char* NSApplicationDidFinishLaunchingNotification = "NSApplicationDidFinishLaunchingNotification";
inline constexpr const char* NSApplicationWillTerminateNotification = "NSApplicationWillTerminateNotification";

class NSApplicationDelegate : public ns::Object {
 public:
  std::string className() const override { return "NSObject"; }

  // applicationDidFinishLaunching:
  virtual void applicationDidFinishLaunching(const ns::Notification&) {}
  // applicationWillTerminate:
  virtual void applicationWillTerminate(const ns::Notification&) {}
  // applicationShouldHandleReopen:hasVisibleWindows: — the user clicked the
  // program's Dock icon while it runs. Returning true asks the application
  // object to do its default (nothing here: there is no window to bring back).
  virtual bool applicationShouldHandleReopen(bool /*hasVisibleWindows*/) { return true; }
  // applicationDidChangeScreenParameters:
  virtual void applicationDidChangeScreenParameters(const ns::Notification&) {}
  // applicationDockMenu: — the menu shown under the Dock icon's own items.
  virtual std::shared_ptr<NSMenu> applicationDockMenu() { return nullptr; }
};

}  // namespace appkit
