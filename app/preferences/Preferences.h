#pragma once
// Typed access to every preference of the program. Other code reads and writes
// settings only through these accessors on the standard user defaults.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/UserDefaults.h"

// How the program shows itself: a Dock icon, or a menu-bar status item.
enum class ApplicationIconMode : int64_t { dockIcon = 0, statusItem = 1 };

// How much the program reports about its use.
enum class AnalyticsMode : int64_t { manualReportingOnly = 0, minimalAnalytics = 1, automaticAnalytics = 2 };

namespace preferencekeys {
inline constexpr const char* applicationIconMode = "applicationIconMode";
inline constexpr const char* openAtStartup = "openAtStartup";
inline constexpr const char* dockPreviewsEnabled = "dockPreviewsEnabled";
inline constexpr const char* dragWindowSnappingEnabled = "dragWindowSnappingEnabled";
inline constexpr const char* scrollWindowSnappingEnabled = "scrollWindowSnappingEnabled";
inline constexpr const char* scrollPreviewSnappingEnabled = "scrollPreviewSnappingEnabled";
inline constexpr const char* screenResizeCorrectionEnabled = "screenResizeCorrectionEnabled";
inline constexpr const char* showDesktopEnabled = "showDesktopEnabled";
inline constexpr const char* unhideWindowsEnabled = "unhideWindowsEnabled";
inline constexpr const char* minimizeFinderWindowsEnabled = "minimizeFinderWindows";
inline constexpr const char* permissionsOnboardingRequired = "permissionsOnboardingRequired";
inline constexpr const char* preferencesOnboardingRequired = "preferencesOnboardingRequired";
inline constexpr const char* analyticsMode = "analyticsMode";
inline constexpr const char* automaticUpdateChecks = "SUEnableAutomaticChecks";
inline constexpr const char* showNowPlaying = "showNowPlaying";
}  // namespace preferencekeys

class MorvalentDefaults {
 public:
  explicit MorvalentDefaults(std::shared_ptr<ns::UserDefaults> defaults) : defaults_(std::move(defaults)) {}
  // The accessors on the standard user defaults.
  static MorvalentDefaults standard() { return MorvalentDefaults(ns::UserDefaults::standard()); }

  // The defaults registered at launch, in their order of registration.
  static std::vector<std::pair<std::string, ns::Value>> registeredDefaults();
  void registerDefaults() const;

  ApplicationIconMode applicationIconMode() const;
  void setApplicationIconMode(ApplicationIconMode mode) const;
  bool openAtStartup() const { return flag(preferencekeys::openAtStartup); }
  void setOpenAtStartup(bool v) const { setFlag(preferencekeys::openAtStartup, v); }
  bool dockPreviewsEnabled() const { return flag(preferencekeys::dockPreviewsEnabled); }
  void setDockPreviewsEnabled(bool v) const { setFlag(preferencekeys::dockPreviewsEnabled, v); }
  bool dragWindowSnappingEnabled() const { return flag(preferencekeys::dragWindowSnappingEnabled); }
  void setDragWindowSnappingEnabled(bool v) const { setFlag(preferencekeys::dragWindowSnappingEnabled, v); }
  bool scrollWindowSnappingEnabled() const { return flag(preferencekeys::scrollWindowSnappingEnabled); }
  void setScrollWindowSnappingEnabled(bool v) const { setFlag(preferencekeys::scrollWindowSnappingEnabled, v); }
  bool scrollPreviewSnappingEnabled() const { return flag(preferencekeys::scrollPreviewSnappingEnabled); }
  void setScrollPreviewSnappingEnabled(bool v) const { setFlag(preferencekeys::scrollPreviewSnappingEnabled, v); }
  bool screenResizeCorrectionEnabled() const { return flag(preferencekeys::screenResizeCorrectionEnabled); }
  void setScreenResizeCorrectionEnabled(bool v) const { setFlag(preferencekeys::screenResizeCorrectionEnabled, v); }
  bool showDesktopEnabled() const { return flag(preferencekeys::showDesktopEnabled); }
  void setShowDesktopEnabled(bool v) const { setFlag(preferencekeys::showDesktopEnabled, v); }
  bool unhideWindowsEnabled() const { return flag(preferencekeys::unhideWindowsEnabled); }
  void setUnhideWindowsEnabled(bool v) const { setFlag(preferencekeys::unhideWindowsEnabled, v); }
  bool minimizeFinderWindowsEnabled() const { return flag(preferencekeys::minimizeFinderWindowsEnabled); }
  void setMinimizeFinderWindowsEnabled(bool v) const { setFlag(preferencekeys::minimizeFinderWindowsEnabled, v); }
  bool permissionsOnboardingRequired() const { return flag(preferencekeys::permissionsOnboardingRequired); }
  void setPermissionsOnboardingRequired(bool v) const { setFlag(preferencekeys::permissionsOnboardingRequired, v); }
  bool preferencesOnboardingRequired() const { return flag(preferencekeys::preferencesOnboardingRequired); }
  void setPreferencesOnboardingRequired(bool v) const { setFlag(preferencekeys::preferencesOnboardingRequired, v); }
  AnalyticsMode analyticsMode() const;
  void setAnalyticsMode(AnalyticsMode mode) const;
  bool automaticUpdateChecks() const { return flag(preferencekeys::automaticUpdateChecks); }
  void setAutomaticUpdateChecks(bool v) const { setFlag(preferencekeys::automaticUpdateChecks, v); }
  bool showNowPlaying() const { return flag(preferencekeys::showNowPlaying); }
  void setShowNowPlaying(bool v) const { setFlag(preferencekeys::showNowPlaying, v); }

  // Key-value observation of a property by its key, with the options new and
  // initial as the application delegate installs them.
  ns::ObserverToken observe(const std::string& key, std::function<void()> onChange) const;

  ns::UserDefaults& defaults() const { return *defaults_; }

 private:
  bool flag(const char* key) const { return defaults_->boolForKey(key); }
  void setFlag(const char* key, bool value) const { defaults_->setObject(key, ns::Value(value)); }
  std::shared_ptr<ns::UserDefaults> defaults_;
};
