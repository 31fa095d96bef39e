#include "app/shell/PermissionManagers.h"

#include "platform/accessibility/AXUIElement.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/foundation/URL.h"
#include "platform/windowserver/CGDisplay.h"

namespace {

bool isTrusted(bool prompt) {
  ns::Dictionary options;
  options[ax::kAXTrustedCheckOptionPrompt] = ns::Value(prompt);
  return ax::AXIsProcessTrustedWithOptions(&options);
}

}  // namespace

std::shared_ptr<AccessibilityPermissionManager> AccessibilityPermissionManager::shared() {
  static const auto manager = std::make_shared<AccessibilityPermissionManager>();
  return manager;
}

bool AccessibilityPermissionManager::hasPermission() const { return isTrusted(false); }

void AccessibilityPermissionManager::requestPermission() const { isTrusted(true); }

std::shared_ptr<ScreenRecordingPermissionManager> ScreenRecordingPermissionManager::shared() {
  static const auto manager = std::make_shared<ScreenRecordingPermissionManager>();
  return manager;
}

bool ScreenRecordingPermissionManager::hasPermission() const {
  log([] { return "CGPreflightScreenCaptureAccess"; });
  return cgs::CGPreflightScreenCaptureAccess();
}

void ScreenRecordingPermissionManager::requestPermission() {
  log([] { return "CGRequestScreenCaptureAccess"; });
  if (!hasBeenTried_) {
    cgs::CGRequestScreenCaptureAccess();
    hasBeenTried_ = true;
    return;
  }
  if (auto url = ns::URL::URLWithString(kPrivacyPaneURL)) appkit::NSWorkspace::sharedWorkspace()->openURL(*url);
}
