#pragma once
// The permission onboarding. At every launch it is handed the action that
// continues the start-up: run at once when both permissions are granted and
// no earlier onboarding was left unfinished; otherwise after the onboarding
// window, which polls the permissions every second, has been left with
// "Continue" (or closed once both are granted). Closing the window with a
// permission missing ends the application. Main thread only.

#include <functional>
#include <memory>
#include <optional>

#include "app/shell/PermissionsView.h"
#include "platform/appkit/NSWindow.h"
#include "platform/appkit/NSWindowController.h"
#include "platform/dispatch/Dispatch.h"

class PermissionsViewCoordinator : public appkit::NSWindowDelegate,
                                   public std::enable_shared_from_this<PermissionsViewCoordinator> {
 public:
  // Ends the application; the sender is the coordinator.
  using Terminate = std::function<void(const void* sender)>;

  // `terminate` none: NSApplication's terminate:.
  static std::shared_ptr<PermissionsViewCoordinator> make(Terminate terminate = nullptr);
  ~PermissionsViewCoordinator() override;

  void start(std::function<void()> permissionSuccessHandler);
  // Re-reads both permissions into the view model.
  void updatePermissions();
  // Shows the window, making it on first use.
  void showWindow();
  // With a permission missing: reports and ends the application. With both
  // granted: finishes the onboarding unless "Continue" already does.
  void handleWindowClosed();
  // Runs the success handler once and marks the onboarding finished.
  void finishOnboarding();

  // NSWindowDelegate
  void windowWillClose(appkit::NSWindow& window) override;

  const std::shared_ptr<appkit::NSWindowController>& windowController() const { return windowController_; }
  const std::optional<PermissionsView>& view() const { return view_; }
  const std::shared_ptr<PermissionsViewModel>& viewModel() const { return viewModel_; }
  bool hasPermissionSuccessHandler() const { return static_cast<bool>(permissionSuccessHandler_); }
  bool isActive() const { return isActive_; }
  // Whether the polling timer is still scheduled.
  bool isPolling() const;

 private:
  explicit PermissionsViewCoordinator(Terminate terminate);
  void install();
  void continueOnboarding();
  // finishOnboarding(), asynchronously on the main queue.
  void scheduleFinishOnboarding();
  void stopTimer();

  std::shared_ptr<appkit::NSWindowController> windowController_;
  std::optional<PermissionsView> view_;
  std::shared_ptr<PermissionsViewModel> viewModel_;
  std::function<void()> permissionSuccessHandler_;
  bool isActive_ = false;
  Terminate terminate_;
  std::shared_ptr<dispatch::TimerSource> timer_;
};
