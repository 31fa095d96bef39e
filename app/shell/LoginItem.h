#pragma once
// The login item follows the settings: the program starts at login when
// "openAtStartup" is on, but never before the first settings window has been
// closed ("preferencesOnboardingRequired"). Run whenever either key changes.

#include <memory>

#include "platform/appkit/SMAppService.h"

// Registers or unregisters the main application service; errors are
// dropped, the next change of either key tries again.
void updateLoginItem();
// The same on a given service (tests).
void updateLoginItem(appkit::SMAppService& service);
