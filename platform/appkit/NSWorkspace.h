#pragma once
// NSWorkspace over the simulated desktop: the running applications, the
// frontmost one (observable), opening URLs, and the workspace's own
// notification centre. Notifications reach the centre on the main queue, as
// the system delivers them on the main thread.

#include <functional>
#include <memory>
#include <vector>

#include "platform/appkit/NSRunningApplication.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ObserverToken.h"
#include "platform/foundation/URL.h"

namespace appkit {

// On the workspace's notification centre; the application is under
// NSWorkspaceApplicationKey in the user info, as an NSRunningApplication.
inline constexpr const char* NSWorkspaceDidLaunchApplicationNotification = "NSWorkspaceDidLaunchApplicationNotification";
inline constexpr const char* NSWorkspaceDidTerminateApplicationNotification =
    "NSWorkspaceDidTerminateApplicationNotification";
inline constexpr const char* NSWorkspaceDidActivateApplicationNotification =
    "NSWorkspaceDidActivateApplicationNotification";
inline constexpr const char* NSWorkspaceDidDeactivateApplicationNotification =
    "NSWorkspaceDidDeactivateApplicationNotification";
inline constexpr const char* NSWorkspaceDidHideApplicationNotification = "NSWorkspaceDidHideApplicationNotification";
inline constexpr const char* NSWorkspaceDidUnhideApplicationNotification =
    "NSWorkspaceDidUnhideApplicationNotification";
inline constexpr const char* NSWorkspaceActiveSpaceDidChangeNotification =
    "NSWorkspaceActiveSpaceDidChangeNotification";
inline constexpr const char* NSWorkspaceWillSleepNotification = "NSWorkspaceWillSleepNotification";
inline constexpr const char* NSWorkspaceDidWakeNotification = "NSWorkspaceDidWakeNotification";
inline constexpr const char* NSWorkspaceApplicationKey = "NSWorkspaceApplicationKey";

class NSWorkspace {
 public:
  static std::shared_ptr<NSWorkspace> sharedWorkspace();

  std::shared_ptr<ns::NotificationCenter> notificationCenter() const { return notificationCenter_; }

  // Every process of the session, in launch order (this program's and the Dock's included).
  std::vector<std::shared_ptr<NSRunningApplication>> runningApplications() const;
  std::shared_ptr<NSRunningApplication> frontmostApplication() const;

  // Brings forward the running application whose bundle this is; every URL
  // is recorded by the simulation. Returns whether an application took it.
  bool openURL(const ns::URL& url);

  // Key-value observation of frontmostApplication: the handler runs on the
  // main queue after each change (with `initial`, once right away as well).
  ns::ObserverToken observeFrontmostApplication(std::function<void()> handler, bool initial = false);

  NSWorkspace();
  // Where the frontmost-application observers wait; fed by the simulation bridge.
  std::shared_ptr<ns::NotificationCenter> frontmostObserverCentre() const { return frontmostObservers_; }

 private:
  std::shared_ptr<ns::NotificationCenter> notificationCenter_;
  std::shared_ptr<ns::NotificationCenter> frontmostObservers_;
};

}  // namespace appkit
