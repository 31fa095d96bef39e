#pragma once
// The permission onboarding's content: one row per permission, with a
// "Configure..." button until the permission is granted and a green
// checkmark after, and "Continue", enabled once both are granted.

#include <functional>
#include <memory>

#include "platform/concurrency/Publisher.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

class PermissionsViewModel : public conc::ObservableObject {
 public:
  conc::Published<bool> hasAccessibilityPermission{this, false};
  conc::Published<bool> hasScreenRecordingPermission{this, false};
  conc::Published<bool> canContinue{this, false};
  std::function<void()> accessibilityPermissionHandler;
  std::function<void()> screenRecordingPermissionHandler;
  std::function<void()> continueButtonHandler;
};

struct PermissionsView {
  ui::ObservedObject<PermissionsViewModel> viewModel;

  ui::View body() const;
};
