#include "app/preferences/Preferences.h"

std::vector<std::pair<std::string, ns::Value>> MorvalentDefaults::registeredDefaults() {
  namespace k = preferencekeys;
  return {
      {k::openAtStartup, ns::Value(true)},
      {k::dockPreviewsEnabled, ns::Value(true)},
      {k::dragWindowSnappingEnabled, ns::Value(true)},
      {k::scrollWindowSnappingEnabled, ns::Value(false)},
      {k::scrollPreviewSnappingEnabled, ns::Value(true)},
      {k::screenResizeCorrectionEnabled, ns::Value(true)},
      {k::showDesktopEnabled, ns::Value(true)},
      {k::minimizeFinderWindowsEnabled, ns::Value(false)},
      {k::preferencesOnboardingRequired, ns::Value(true)},
      {k::analyticsMode, ns::Value(int64_t{2})},
      {k::automaticUpdateChecks, ns::Value(true)},
      {k::showNowPlaying, ns::Value(true)},
  };
}

void MorvalentDefaults::registerDefaults() const {
  ns::Dictionary dictionary;
  for (auto& [key, value] : registeredDefaults()) dictionary[key] = value;
  defaults_->registerDefaults(dictionary);
}

ApplicationIconMode MorvalentDefaults::applicationIconMode() const {
  return defaults_->integerForKey(preferencekeys::applicationIconMode) == 1 ? ApplicationIconMode::statusItem
                                                                           : ApplicationIconMode::dockIcon;
}

void MorvalentDefaults::setApplicationIconMode(ApplicationIconMode mode) const {
  defaults_->setObject(preferencekeys::applicationIconMode, ns::Value(static_cast<int64_t>(mode)));
}

AnalyticsMode MorvalentDefaults::analyticsMode() const {
  const int64_t stored = defaults_->integerForKey(preferencekeys::analyticsMode);
  return stored >= 0 && stored <= 2 ? static_cast<AnalyticsMode>(stored) : AnalyticsMode::manualReportingOnly;
}

void MorvalentDefaults::setAnalyticsMode(AnalyticsMode mode) const {
  defaults_->setObject(preferencekeys::analyticsMode, ns::Value(static_cast<int64_t>(mode)));
}

ns::ObserverToken MorvalentDefaults::observe(const std::string& key, std::function<void()> onChange) const {
  return defaults_->addObserver(key, ns::ObservingOptions{.initial = true, .newValue = true},
                                [onChange = std::move(onChange)](const std::optional<ns::Value>&) { onChange(); });
}
