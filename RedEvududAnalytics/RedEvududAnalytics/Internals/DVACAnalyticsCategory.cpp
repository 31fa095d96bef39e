#include "RedEvududAnalytics/RedEvududAnalytics/Internals/DVACAnalyticsCategory.h"

#include <functional>
#include <mutex>

#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "platform/appkit/NSViewController.h"

namespace {

constexpr const char* kViewControllerSuffix = "ViewController";

struct PageTrackingState {
  std::mutex mutex;
  std::optional<std::string> missedPageViewName;
  bool installAttempted = false;
  bool installed = false;
};

PageTrackingState& pageTrackingState() {
  static auto* state = new PageTrackingState();
  return *state;
}

}  // namespace

// ----------------------------------------------------------------- Category

void DVACAnalyticsCategory::activateCategory() { NSViewControllerPageViewLogging::swizzleViewWillAppear(); }

std::optional<std::string> DVACAnalyticsCategory::missedPageViewName() {
  std::lock_guard lock(pageTrackingState().mutex);
  return pageTrackingState().missedPageViewName;
}

void DVACAnalyticsCategory::setMissedPageViewName(std::optional<std::string> pageName) {
  std::lock_guard lock(pageTrackingState().mutex);
  pageTrackingState().missedPageViewName = std::move(pageName);
}

std::optional<std::string> DVACAnalyticsCategory::takeMissedPageViewName() {
  std::lock_guard lock(pageTrackingState().mutex);
  return std::exchange(pageTrackingState().missedPageViewName, std::nullopt);
}

void DVACAnalyticsCategory::resetForTesting() { setMissedPageViewName(std::nullopt); }

// --------------------------------------------------------------------- Hook

bool NSViewControllerPageViewLogging::swizzleViewWillAppear() {
  std::lock_guard lock(pageTrackingState().mutex);
  if (!pageTrackingState().installAttempted) {
    pageTrackingState().installAttempted = true;
    appkit::NSViewController::AppearanceHook hook;
    hook.willAppear = [](appkit::NSViewController& viewController, const std::function<void()>& previous) {
      // The replaced implementation runs first, then the page is tracked.
      previous();
      dv_viewWillAppear(viewController);
    };
    pageTrackingState().installed = appkit::NSViewController::installAppearanceHook(std::move(hook));
  }
  return pageTrackingState().installed;
}

bool NSViewControllerPageViewLogging::isInstalled() {
  std::lock_guard lock(pageTrackingState().mutex);
  return pageTrackingState().installed;
}

std::optional<std::string> NSViewControllerPageViewLogging::pageNameForClassName(const std::string& className) {
  if (className == "NSTabViewController" || className == "NSSplitViewController" || className == "NSPageController") {
    return std::nullopt;
  }
  const size_t dot = className.rfind('.');
  std::string name = dot == std::string::npos ? className : className.substr(dot + 1);
  const std::string suffix = kViewControllerSuffix;
  if (name.ends_with(suffix) && name.size() > suffix.size()) name.resize(name.size() - suffix.size());
  return name;
}

void NSViewControllerPageViewLogging::dv_viewWillAppear(appkit::NSViewController& viewController) {
  if (!DVACAnalytics::isAutoPageTrackingEnabled()) return;
  auto pageName = pageNameForClassName(viewController.className());
  if (!pageName) return;
  if (DVACAnalytics::sharedInstance()->isAvailable()) {
    DVACAnalyticsCategory::setMissedPageViewName(std::nullopt);
    DVACAnalytics::trackPage(*pageName);
  } else {
    DVACAnalyticsCategory::setMissedPageViewName(*pageName);
  }
}

void NSViewControllerPageViewLogging::resetForTesting() {
  {
    std::lock_guard lock(pageTrackingState().mutex);
    if (pageTrackingState().installed) appkit::NSViewController::removeAppearanceHookForTesting();
    pageTrackingState().installAttempted = false;
    pageTrackingState().installed = false;
  }
  DVACAnalyticsCategory::resetForTesting();
}
