#pragma once
// The two system permissions the program cannot work without: Accessibility
// (to read and move other applications' windows and watch the Dock) and
// Screen Recording (to capture window thumbnails).

#include <memory>

#include "app/model/DiagnosticLogging.h"

class AccessibilityPermissionManager : public DiagnosticLogging {
 public:
  static std::shared_ptr<AccessibilityPermissionManager> shared();

  // Trusted, asked without a prompt.
  bool hasPermission() const;
  // Asks with the system's own prompt.
  void requestPermission() const;
};

class ScreenRecordingPermissionManager : public DiagnosticLogging {
 public:
  // The URL of the Screen Recording privacy pane of System Settings.
  static constexpr const char* kPrivacyPaneURL =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";

  static std::shared_ptr<ScreenRecordingPermissionManager> shared();

  bool hasPermission() const;
  // The first request shows the system prompt; the system shows it only
  // once, so every later one opens the privacy pane instead.
  void requestPermission();
  bool hasBeenTried() const { return hasBeenTried_; }
  void resetForTesting() { hasBeenTried_ = false; }

 private:
  bool hasBeenTried_ = false;
};
