#include "app/shell/LoginItem.h"

#include "app/shell/Preferences.h"

void updateLoginItem() { updateLoginItem(*appkit::SMAppService::mainAppService()); }

void updateLoginItem(appkit::SMAppService& service) {
  const auto defaults = MorvalentDefaults::standard();
  const bool enabled = defaults.openAtStartup() && !defaults.preferencesOnboardingRequired();
  ns::Error ignored;
  if (enabled) {
    service.registerAndReturnError(&ignored);
  } else {
    service.unregisterAndReturnError(&ignored);
  }
}
