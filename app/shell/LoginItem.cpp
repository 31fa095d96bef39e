#include "app/shell/LoginItem.h"

#include "app/preferences/Preferences.h"
#include "platform/appkit/NSProcessInfo.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"

namespace {

bool loginItemWanted() {
  const auto defaults = MorvalentDefaults::standard();
  return defaults.openAtStartup() && !defaults.preferencesOnboardingRequired();
}

std::optional<ns::URL> mainBundleURL() { return ns::Bundle::main()->bundleURL(); }

}  // namespace

void updateLoginItem() {
  if (appkit::NSProcessInfo::processInfo().isOperatingSystemAtLeastVersion({14, 0, 0})) {
    updateLoginItem(*appkit::SMAppService::mainAppService());
    return;
  }
  auto list = appkit::LSSharedFileListCreate(nullptr, appkit::kLSSharedFileListSessionLoginItems, nullptr);
  if (!list) {
    ns::NSLog("LoginItemsUtility: LSSharedFileListCreate failed");
    return;
  }
  LoginItemsUtility(std::move(list)).setLoginItemEnabled(loginItemWanted());
}

void updateLoginItem(appkit::SMAppService& service) {
  ns::Error ignored;
  if (loginItemWanted()) {
    service.registerAndReturnError(&ignored);
  } else {
    service.unregisterAndReturnError(&ignored);
  }
}

LoginItemsUtility::LoginItemsUtility(appkit::LSSharedFileListRef sharedFileList)
    : sharedFileList(std::move(sharedFileList)) {}

appkit::LSSharedFileListItemRef LoginItemsUtility::existingLoginItem() const {
  const auto own = mainBundleURL();
  if (!own) return nullptr;
  const auto snapshot = appkit::LSSharedFileListCopySnapshot(sharedFileList);
  if (!snapshot) return nullptr;
  for (const auto& item : *snapshot) {
    if (appkit::LSSharedFileListItemCopyResolvedURL(item, 0) == own) return item;
  }
  return nullptr;
}

appkit::LSSharedFileListItemRef LoginItemsUtility::lastLoginItem() const {
  const auto snapshot = appkit::LSSharedFileListCopySnapshot(sharedFileList);
  if (!snapshot || snapshot->empty()) return nullptr;
  return snapshot->back();
}

void LoginItemsUtility::setLoginItemEnabled(bool enabled) {
  const auto existing = existingLoginItem();
  if (!enabled) {
    if (!existing) return;
    log([] { return "Removing login item"; });
    appkit::LSSharedFileListItemRemove(sharedFileList, existing);
    return;
  }
  if (existing) return;
  const auto own = mainBundleURL();
  if (!own) return;
  // An empty list takes the item in front; a user with no other login items
  // would otherwise never get one.
  auto after = lastLoginItem();
  if (!after) after = appkit::kLSSharedFileListItemBeforeFirst;
  log([] { return "Adding login item"; });
  appkit::LSSharedFileListInsertItemURL(sharedFileList, after, std::nullopt, *own);
}
