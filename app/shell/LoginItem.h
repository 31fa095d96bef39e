#pragma once
// The login item follows the settings: the program starts at login when
// "openAtStartup" is on, but never before the first settings window has been
// closed ("preferencesOnboardingRequired"). Run whenever either key changes.
//
// Systems from 14.0 on register the main application service; older ones
// keep the program in the session login-items list.

#include <memory>

#include "app/model/DiagnosticLogging.h"
#include "platform/appkit/LSSharedFileList.h"
#include "platform/appkit/SMAppService.h"

// Brings the login item of the running system in line with the settings.
// Failures are dropped, the next change of either key tries again; only a
// list that cannot be opened is written to the system log.
void updateLoginItem();
// The same through a given service, whatever the system (tests).
void updateLoginItem(appkit::SMAppService& service);

// Edits the session login-items list for one update, then is dropped. The
// own item is the first whose resolved URL is the main bundle's URL; an item
// of another copy of the program is left alone.
class LoginItemsUtility : public DiagnosticLogging {
 public:
  explicit LoginItemsUtility(appkit::LSSharedFileListRef sharedFileList);

  const appkit::LSSharedFileListRef sharedFileList;

  // Null when there is none or the list cannot be read.
  appkit::LSSharedFileListItemRef existingLoginItem() const;
  appkit::LSSharedFileListItemRef lastLoginItem() const;

  // Adds the own item after the last one (in front when the list is empty),
  // or removes it; nothing when it is already as asked.
  void setLoginItemEnabled(bool enabled);
};
