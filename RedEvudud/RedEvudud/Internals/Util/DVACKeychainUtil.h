#pragma once
// Strings kept as generic-password items of the keychain, one item per
// (service, key). The SDK's token encrypter keeps its keys here.

#include <optional>
#include <string>

#include "platform/security/Keychain.h"

class DVACKeychainUtil {
 public:
  DVACKeychainUtil() = delete;

  // Replaces an existing item of the same service and key.
  static bool storeString(const std::string& string, const std::string& key, const std::string& serviceName);
  static bool storeString(const std::string& string, const std::string& key);

  // The stored string, or nil (also for data that is not UTF-8). The status
  // of the lookup goes to statusCode when one is given.
  static std::optional<std::string> stringForKey(const std::string& key, const std::string& serviceName,
                                                 sec::OSStatus* statusCode);
  static std::optional<std::string> stringForKey(const std::string& key, sec::OSStatus* statusCode = nullptr);

  // The deleted string; nil when there was none or the delete failed.
  static std::optional<std::string> deleteStringForKey(const std::string& key, const std::string& serviceName);
  static std::optional<std::string> deleteStringForKey(const std::string& key);

  // Deletes every item of the default service.
  static bool clear();

  // "<main bundle identifier>.RedEvudud", worked out once.
  static std::string defaultServiceName();

  // The base query: generic password, service, account = key.
  static sec::SecItemQuery generateItem(const std::string& key, const std::string& serviceName);

  // The only places where the keychain is touched.
  static sec::OSStatus addSecItem(const sec::SecItemQuery& attributes);
  static sec::OSStatus deleteSecItem(const sec::SecItemQuery& query);
  static sec::OSStatus secItemCopyMatchingQuery(const sec::SecItemQuery& query, sec::SecItemResult* result);
};
