#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"

#include <mutex>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACSharedSlot.h"
#include "platform/foundation/UserDefaults.h"

namespace {

std::shared_ptr<ns::UserDefaults> store() { return ns::UserDefaults::standard(); }

}  // namespace

std::shared_ptr<DVACRedEvududUserDefaults> DVACRedEvududUserDefaults::shared() {
  std::lock_guard<std::mutex> lock(DVACSharedSlot<DVACRedEvududUserDefaults>::mutex());
  auto& shared = DVACSharedSlot<DVACRedEvududUserDefaults>::instance();
  if (!shared) shared = std::make_shared<DVACRedEvududUserDefaults>();
  return shared;
}

void DVACRedEvududUserDefaults::resetSharedInstance() {
  std::lock_guard<std::mutex> lock(DVACSharedSlot<DVACRedEvududUserDefaults>::mutex());
  DVACSharedSlot<DVACRedEvududUserDefaults>::instance().reset();
}

std::string DVACRedEvududUserDefaults::getRedEvududKeyFrom(std::string_view key) {
  std::string stored(kDVACUserDefaultsPrefix);
  stored += key;
  return stored;
}

std::string DVACRedEvududUserDefaults::migrationMarkerKeyForService(std::string_view serviceName) {
  std::string key = "310";
  key += serviceName;
  key += "UserDefaultsMigratedKey";
  return key;
}

std::optional<ns::Value> DVACRedEvududUserDefaults::objectForKey(std::string_view key) const {
  return store()->object(getRedEvududKeyFrom(key));
}

bool DVACRedEvududUserDefaults::setObject(const ns::Value& value, std::string_view key) {
  if (value.isNull()) {
    removeObjectForKey(key);
    return true;
  }
  return store()->setObject(getRedEvududKeyFrom(key), value);
}

void DVACRedEvududUserDefaults::removeObjectForKey(std::string_view key) {
  store()->removeObject(getRedEvududKeyFrom(key));
}

void DVACRedEvududUserDefaults::migrateKeys(const DVACUserDefaultsMigrationTable& migratedKeys,
                                            std::string_view serviceName) {
  const std::string marker = migrationMarkerKeyForService(serviceName);
  if (objectForKey(marker)) return;
  DVACLogVerbose(kDVACLogTag, "Migrating the old NSDefaults keys to new ones.");
  auto defaults = store();
  for (const auto& [newKey, source] : migratedKeys) {
    if (const auto* oldKey = std::get_if<std::string>(&source)) {
      swapKeys(*oldKey, newKey, defaults->object(*oldKey));
      continue;
    }
    const std::string& prefix = std::get<DVACUserDefaultsPrefixKey>(source).keyPrefix();
    for (const auto& [oldKey, value] : defaults->dictionaryRepresentation()) {
      if (oldKey.size() < prefix.size() || oldKey.compare(0, prefix.size(), prefix) != 0) continue;
      std::string suffixedNewKey = newKey + oldKey.substr(prefix.size());
      swapKeys(oldKey, suffixedNewKey, defaults->object(oldKey));
    }
  }
  setObject(ns::Value(true), marker);
}

void DVACRedEvududUserDefaults::swapKeys(std::string_view oldKey, std::string_view newKey,
                                         const std::optional<ns::Value>& value) {
  if (!value) return;
  auto defaults = store();
  defaults->setObject(newKey, *value);
  defaults->removeObject(oldKey);
  DVACLogVerbose(kDVACLogTag, "Migrating key " + std::string(oldKey) + " -> " + std::string(newKey));
}

const DVACUserDefaultsMigrationTable& DVACRedEvududUserDefaults::redEvududMigrationTable() {
  static const DVACUserDefaultsMigrationTable table = {
      {"DVRedEvududChannelStartTimer", DVACUserDefaultsPrefixKey("DVChannelStartTimer")},
      {"DVRedEvududPastDevices", std::string("pastDevicesKey")},
      {"DVRedEvududInstallId", std::string("DVInstallId")},
      {"DVRedEvududRedEvududIsEnabled", std::string("DVRedEvududIsEnabled")},
      {"DVRedEvududEncryptionKeyMetadata", std::string("DVEncryptionKeyMetadata")},
      {"DVRedEvududSessionIdHistory", std::string("SessionIdHistory")},
      {"DVRedEvududUserIdHistory", std::string("UserIdHistory")},
  };
  return table;
}

const DVACUserDefaultsMigrationTable& DVACRedEvududUserDefaults::analyticsMigrationTable() {
  static const DVACUserDefaultsMigrationTable table = {
      {"DVRedEvududAnalyticsIsEnabled", DVACUserDefaultsPrefixKey("kDVAnalyticsIsEnabledKey")},
      {"DVRedEvududPastSessions", std::string("pastSessionsKey")},
  };
  return table;
}

const DVACUserDefaultsMigrationTable& DVACRedEvududUserDefaults::crashesMigrationTable() {
  static const DVACUserDefaultsMigrationTable table = {
      {"DVRedEvududCrashesIsEnabled", std::string("kDVCrashesIsEnabledKey")},
      {"DVRedEvududAppDidReceiveMemoryWarning", std::string("DVAppDidReceiveMemoryWarning")},
      {"DVRedEvududCrashesUserConfirmation", std::string("DVUserConfirmation")},
  };
  return table;
}
