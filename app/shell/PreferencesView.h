#pragma once
// The settings form: six rows of the settings grid whose controls are bound
// directly to keys of the standard user defaults. A change is stored at
// once; the components that depend on it learn of it through the preference
// observers, not through the form.

#include <string>

#include "app/shell/AnalyticsManager.h"
#include "app/preferences/Preferences.h"
#include "platform/ui/AppStorage.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

// "Dock Icon", "Menu Bar Icon".
std::string applicationIconModeName(ApplicationIconMode mode);
// The analytics row's short names: "Manual", "Minimal", "Automatic".
std::string analyticsModeShortName(AnalyticsManager::Mode mode);

struct PreferencesView {
  ui::AppStorage<ApplicationIconMode> applicationIconMode;
  ui::AppStorage<bool> openAtStartup;
  ui::AppStorage<bool> dockPreviewsEnabled;
  ui::AppStorage<bool> dragWindowSnappingEnabled;
  ui::AppStorage<bool> scrollWindowSnappingEnabled;
  ui::AppStorage<bool> scrollPreviewSnappingEnabled;
  ui::AppStorage<bool> screenResizeCorrectionEnabled;
  ui::AppStorage<bool> showDesktopEnabled;
  ui::AppStorage<bool> minimizeFinderWindowsEnabled;
  ui::AppStorage<AnalyticsManager::Mode> analyticsMode;
  ui::AppStorage<bool> automaticUpdateChecks;
  ui::AppStorage<bool> showNowPlaying;
  ui::State<bool> analyticsSheetIsShowing{false};

  // Each bound property falls back to the value its typed accessor reads now.
  PreferencesView();

  ui::View body() const;
};
