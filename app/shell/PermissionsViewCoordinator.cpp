#include "app/shell/PermissionsViewCoordinator.h"

#include "app/shell/AnalyticsManager.h"
#include "app/shell/PermissionManagers.h"
#include "app/preferences/Preferences.h"
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSView.h"
#include "platform/concurrency/Task.h"

namespace {

bool bothGranted() {
  return AccessibilityPermissionManager::shared()->hasPermission() &&
         ScreenRecordingPermissionManager::shared()->hasPermission();
}

// One poll, as a task on the main actor.
conc::Task<void> refreshPermissions(std::weak_ptr<PermissionsViewCoordinator> weak,
                                    std::weak_ptr<dispatch::TimerSource> timer) {
  if (auto self = weak.lock()) {
    self->updatePermissions();
    if (!self->isActive()) {
      if (auto source = timer.lock()) source->cancel();
    }
  }
  co_return;
}

}  // namespace

std::shared_ptr<PermissionsViewCoordinator> PermissionsViewCoordinator::make(Terminate terminate) {
  std::shared_ptr<PermissionsViewCoordinator> coordinator(new PermissionsViewCoordinator(std::move(terminate)));
  coordinator->install();
  return coordinator;
}

PermissionsViewCoordinator::PermissionsViewCoordinator(Terminate terminate)
    : viewModel_(std::make_shared<PermissionsViewModel>()), terminate_(std::move(terminate)) {
  if (!terminate_) terminate_ = [](const void* sender) { appkit::NSApplication::shared().terminate(sender); };
}

PermissionsViewCoordinator::~PermissionsViewCoordinator() { stopTimer(); }

void PermissionsViewCoordinator::install() {
  std::weak_ptr<PermissionsViewCoordinator> weak = weak_from_this();
  viewModel_->accessibilityPermissionHandler = [weak] {
    auto self = weak.lock();
    if (!self) return;
    AccessibilityPermissionManager::shared()->requestPermission();
    self->updatePermissions();
  };
  viewModel_->screenRecordingPermissionHandler = [weak] {
    auto self = weak.lock();
    if (!self) return;
    ScreenRecordingPermissionManager::shared()->requestPermission();
    self->updatePermissions();
  };
  viewModel_->continueButtonHandler = [weak] {
    if (auto self = weak.lock()) self->continueOnboarding();
  };
}

void PermissionsViewCoordinator::start(std::function<void()> permissionSuccessHandler) {
  const auto defaults = MorvalentDefaults::standard();
  if (bothGranted() && !defaults.permissionsOnboardingRequired()) {
    if (permissionSuccessHandler) permissionSuccessHandler();
    return;
  }
  defaults.setPermissionsOnboardingRequired(true);
  permissionSuccessHandler_ = std::move(permissionSuccessHandler);
  showWindow();
  isActive_ = true;

  stopTimer();
  timer_ = dispatch::TimerSource::make(dispatch::Queue::main());
  std::weak_ptr<PermissionsViewCoordinator> weak = weak_from_this();
  std::weak_ptr<dispatch::TimerSource> weakTimer = timer_;
  timer_->setEventHandler([weak, weakTimer] {
    if (!weak.lock()) {
      if (auto source = weakTimer.lock()) source->cancel();
      return;
    }
    dispatch::Queue::main()->async([weak, weakTimer] { conc::spawnOnMain(refreshPermissions(weak, weakTimer)); });
  });
  timer_->setTimer(dispatch::after(1.0), dispatch::kNanosPerSecond);
  timer_->resume();
  updatePermissions();
}

void PermissionsViewCoordinator::updatePermissions() {
  auto accessibility = AccessibilityPermissionManager::shared();
  auto screenRecording = ScreenRecordingPermissionManager::shared();
  viewModel_->hasAccessibilityPermission = accessibility->hasPermission();
  viewModel_->hasScreenRecordingPermission = screenRecording->hasPermission();
  viewModel_->canContinue = accessibility->hasPermission() && screenRecording->hasPermission();
}

void PermissionsViewCoordinator::showWindow() {
  if (windowController_ && windowController_->window()) {
    windowController_->window()->makeKeyAndOrderFront();
    return;
  }
  view_ = PermissionsView{viewModel_};
  auto window = appkit::NSWindow::make(appkit::NSMakeRect(0, 0, 1000, 1000),
                                       appkit::NSWindowStyleMaskTitled | appkit::NSWindowStyleMaskClosable,
                                       appkit::NSBackingStoreType::buffered, false);
  window->setContentView(appkit::NSHostingView::make(ui::View(*view_)));
  window->setTitle("Morvalent Permissions");
  window->center();
  window->makeKeyAndOrderFront();
  window->setDelegate(weak_from_this());
  windowController_ = std::make_shared<appkit::NSWindowController>(window);
}

void PermissionsViewCoordinator::continueOnboarding() {
  // The button reflects the last poll; a permission revoked since then
  // keeps the window open rather than ending the application on "Continue".
  if (!bothGranted()) {
    updatePermissions();
    return;
  }
  isActive_ = false;
  if (windowController_ && windowController_->window()) windowController_->window()->close();
  scheduleFinishOnboarding();
}

void PermissionsViewCoordinator::scheduleFinishOnboarding() {
  std::weak_ptr<PermissionsViewCoordinator> weak = weak_from_this();
  dispatch::Queue::main()->async([weak] {
    if (auto self = weak.lock()) self->finishOnboarding();
  });
}

void PermissionsViewCoordinator::finishOnboarding() {
  auto handler = std::exchange(permissionSuccessHandler_, nullptr);
  if (handler) handler();
  MorvalentDefaults::standard().setPermissionsOnboardingRequired(false);
}

void PermissionsViewCoordinator::windowWillClose(appkit::NSWindow&) { handleWindowClosed(); }

void PermissionsViewCoordinator::handleWindowClosed() {
  auto accessibility = AccessibilityPermissionManager::shared()->hasPermission();
  auto screenRecording = ScreenRecordingPermissionManager::shared()->hasPermission();
  if (accessibility && screenRecording) {
    // Closed with both permissions granted but without "Continue": carry on
    // as "Continue" would, rather than leave a running program that never
    // starts its work.
    if (isActive_) {
      isActive_ = false;
      scheduleFinishOnboarding();
    }
    return;
  }
  AnalyticsManager::shared()->trackPermissionsFailure(accessibility, screenRecording);
  terminate_(this);
}

bool PermissionsViewCoordinator::isPolling() const { return timer_ && !timer_->isCancelled(); }

void PermissionsViewCoordinator::stopTimer() {
  if (timer_) timer_->cancel();
  timer_.reset();
}
