#pragma once
// Automatic page tracking: a process-wide hook on the view controllers'
// appearance that reports each controller about to appear as a page named
// after its class, and the slot that keeps the last page seen while the
// analytics service could not take it.
//
// The hook is installed once per process, only through activateCategory;
// it does nothing while automatic page tracking is off.

#include <optional>
#include <string>

namespace appkit {
class NSViewController;
}

class DVACAnalyticsCategory {
 public:
  DVACAnalyticsCategory() = delete;

  // Installs the view controllers' appearance hook.
  static void activateCategory();
  // The page waiting to be tracked.
  static std::optional<std::string> missedPageViewName();
  static void setMissedPageViewName(std::optional<std::string> pageName);
  // The waiting page, which is no longer waiting afterwards.
  static std::optional<std::string> takeMissedPageViewName();

  static void resetForTesting();
};

// The appearance hook of every view controller.
class NSViewControllerPageViewLogging {
 public:
  NSViewControllerPageViewLogging() = delete;

  // Once per process; false when another hook was there first.
  static bool swizzleViewWillAppear();
  // Runs as every controller is about to appear, after the controller's own
  // viewWillAppear.
  static void dv_viewWillAppear(appkit::NSViewController& viewController);
  // The page name of a controller class; none for the container controllers
  // (tab, split and page controllers), whose children are the pages.
  static std::optional<std::string> pageNameForClassName(const std::string& className);
  static bool isInstalled();

  static void resetForTesting();
};
