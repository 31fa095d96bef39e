#include "RedEvudud/RedEvudud/Internals/Util/DVACKeychainUtil.h"

#include <mutex>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Utf16.h"

namespace {

// "key='<key>', service='<service>'", as every line of this file names an item.
std::string itemText(const std::string& key, const std::string& service) {
  return "key='" + key + "', service='" + service + "'";
}

}  // namespace

std::string DVACKeychainUtil::defaultServiceName() {
  static const std::string name = [] {
    auto identifier = ns::Bundle::main()->bundleIdentifier();
    return (identifier ? *identifier : std::string("(null)")) + ".RedEvudud";
  }();
  return name;
}

sec::SecItemQuery DVACKeychainUtil::generateItem(const std::string& key, const std::string& serviceName) {
  return sec::SecItemQuery::genericPassword(serviceName, key);
}

bool DVACKeychainUtil::storeString(const std::string& string, const std::string& key, const std::string& serviceName) {
  sec::SecItemQuery item = generateItem(key, serviceName);
  item.accessible = sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
  item.valueData = sec::Bytes(string.begin(), string.end());
  sec::OSStatus status = addSecItem(item);
  if (status == sec::errSecDuplicateItem) {
    // Remove the old item whatever its other attributes, then add the new one.
    deleteSecItem(generateItem(key, serviceName));
    status = addSecItem(item);
  }
  if (status == sec::errSecSuccess) {
    DVACLogVerbose(kDVACLogTag, "Stored a string with " + itemText(key, serviceName) + " to keychain.");
    return true;
  }
  DVACLogWarning(kDVACLogTag, "Failed to store item with " + itemText(key, serviceName) +
                                  " to keychain. OS Status code " + std::to_string(status));
  return false;
}

bool DVACKeychainUtil::storeString(const std::string& string, const std::string& key) {
  return storeString(string, key, defaultServiceName());
}

std::optional<std::string> DVACKeychainUtil::stringForKey(const std::string& key, const std::string& serviceName,
                                                          sec::OSStatus* statusCode) {
  sec::SecItemQuery query = generateItem(key, serviceName);
  query.returnData = true;
  query.matchLimit = sec::kSecMatchLimitOne;
  sec::SecItemResult result;
  sec::OSStatus status = secItemCopyMatchingQuery(query, &result);
  if (statusCode) *statusCode = status;
  if (status == sec::errSecSuccess) {
    DVACLogVerbose(kDVACLogTag, "Retrieved a string with " + itemText(key, serviceName) + " from keychain.");
    const sec::Bytes* data = result.data();
    if (!data) return std::nullopt;
    std::string text(data->begin(), data->end());
    if (!ns::isValidUtf8(text)) return std::nullopt;
    return text;
  }
  DVACLogWarning(kDVACLogTag, "Failed to retrieve item with " + itemText(key, serviceName) +
                                  " from keychain. OS Status code " + std::to_string(status));
  return std::nullopt;
}

std::optional<std::string> DVACKeychainUtil::stringForKey(const std::string& key, sec::OSStatus* statusCode) {
  return stringForKey(key, defaultServiceName(), statusCode);
}

std::optional<std::string> DVACKeychainUtil::deleteStringForKey(const std::string& key,
                                                                const std::string& serviceName) {
  std::optional<std::string> current = stringForKey(key, serviceName, nullptr);
  if (!current) return std::nullopt;
  sec::OSStatus status = deleteSecItem(generateItem(key, serviceName));
  if (status == sec::errSecSuccess) {
    DVACLogVerbose(kDVACLogTag, "Deleted a string with " + itemText(key, serviceName) + " from keychain.");
    return current;
  }
  DVACLogWarning(kDVACLogTag, "Failed to delete item with " + itemText(key, serviceName) +
                                  " from keychain. OS Status code " + std::to_string(status));
  return std::nullopt;
}

std::optional<std::string> DVACKeychainUtil::deleteStringForKey(const std::string& key) {
  return deleteStringForKey(key, defaultServiceName());
}

bool DVACKeychainUtil::clear() {
  sec::SecItemQuery query;
  query.itemClass = sec::kSecClassGenericPassword;
  query.service = defaultServiceName();
  return deleteSecItem(query) == sec::errSecSuccess;
}

sec::OSStatus DVACKeychainUtil::addSecItem(const sec::SecItemQuery& attributes) { return sec::SecItemAdd(attributes); }

sec::OSStatus DVACKeychainUtil::deleteSecItem(const sec::SecItemQuery& query) { return sec::SecItemDelete(query); }

sec::OSStatus DVACKeychainUtil::secItemCopyMatchingQuery(const sec::SecItemQuery& query, sec::SecItemResult* result) {
  return sec::SecItemCopyMatching(query, result);
}
