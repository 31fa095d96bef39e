#pragma once

// The keychain: generic passwords identified by (service, account), reached
// through SecItemAdd / SecItemCopyMatching / SecItemUpdate / SecItemDelete.
//
// A KeychainStore holds the items and implements the item semantics once;
// backends only load and save the items of one service. Two backends exist:
// MemoryKeychainStore (tests) and FileKeychainStore (FileKeychainStore.h).
// The SecItem functions act on the process-wide current store, a file store
// under <XDG data home>/keychain/ unless a test installs another.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/security/CommonCrypto.h"
#include "platform/security/SecBase.h"

namespace sec {

// kSecClass. Only generic passwords are kept; the other classes answer
// errSecUnimplemented.
enum SecClass {
  kSecClassGenericPassword,
  kSecClassInternetPassword,
  kSecClassCertificate,
  kSecClassKey,
  kSecClassIdentity,
};

// kSecAttrAccessible. Recorded and matched; nothing is ever locked here.
enum SecAttrAccessible {
  kSecAttrAccessibleWhenUnlocked,
  kSecAttrAccessibleAfterFirstUnlock,
  kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly,
  kSecAttrAccessibleWhenUnlockedThisDeviceOnly,
  kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly,
};

// The constant's name without the "kSecAttrAccessible" prefix
// ("AfterFirstUnlockThisDeviceOnly"), as written in keychain files.
std::string_view accessibleName(SecAttrAccessible accessible);
std::optional<SecAttrAccessible> accessibleFromName(std::string_view name);

// kSecMatchLimit of SecItemCopyMatching.
enum SecMatchLimit { kSecMatchLimitOne, kSecMatchLimitAll };

struct KeychainItem {
  std::string service;  // kSecAttrService
  std::string account;  // kSecAttrAccount
  Bytes data;           // kSecValueData
  SecAttrAccessible accessible = kSecAttrAccessibleWhenUnlocked;
  std::chrono::system_clock::time_point creationDate;      // kSecAttrCreationDate
  std::chrono::system_clock::time_point modificationDate;  // kSecAttrModificationDate

  bool operator==(const KeychainItem&) const = default;
};

// The query dictionary. An attribute left empty matches every value; on add,
// an empty service or account is stored as "".
struct SecItemQuery {
  SecClass itemClass = kSecClassGenericPassword;  // kSecClass
  std::optional<std::string> service;             // kSecAttrService
  std::optional<std::string> account;             // kSecAttrAccount
  std::optional<SecAttrAccessible> accessible;    // kSecAttrAccessible
  std::optional<Bytes> valueData;                 // kSecValueData, read by add only
  bool returnData = false;                        // kSecReturnData
  bool returnAttributes = false;                  // kSecReturnAttributes
  SecMatchLimit matchLimit = kSecMatchLimitOne;   // kSecMatchLimit

  // The base query of a generic password: class, service and account.
  static SecItemQuery genericPassword(std::string service, std::string account);
};

// attributesToUpdate of SecItemUpdate: the attributes to change.
struct SecItemAttributes {
  std::optional<std::string> service;
  std::optional<std::string> account;
  std::optional<SecAttrAccessible> accessible;
  std::optional<Bytes> valueData;

  bool empty() const { return !service && !account && !accessible && !valueData; }
};

// What SecItemCopyMatching returns. Items come ordered by service, then in the
// order they were added. Each carries its attributes; its data is filled only
// when the query asked for kSecReturnData.
struct SecItemResult {
  std::vector<KeychainItem> items;

  // The data of the first item, or null when there is none.
  const Bytes* data() const { return items.empty() ? nullptr : &items.front().data; }
};

// Item semantics over a backend that loads and saves one service's items at a
// time. Every operation is serialised by the store's mutex, so a store may be
// shared between threads.
//
// Statuses: errSecSuccess; errSecItemNotFound when nothing matches;
// errSecDuplicateItem when an add or update would give two items the same
// (service, account); errSecParam for a service or account that is not valid
// UTF-8 or an update with no attribute; errSecUnimplemented for any class but
// generic passwords; errSecIO (and errSecNotAvailable) from the backend.
class KeychainStore {
 public:
  virtual ~KeychainStore() = default;
  KeychainStore(const KeychainStore&) = delete;
  KeychainStore& operator=(const KeychainStore&) = delete;

  // SecItemAdd: adds one item with the query's service, account, accessibility
  // and data.
  OSStatus add(const SecItemQuery& attributes);
  // SecItemCopyMatching: finds the first (kSecMatchLimitOne) or all matching
  // items; result may be null when only the status is wanted.
  OSStatus copyMatching(const SecItemQuery& query, SecItemResult* result);
  // SecItemUpdate: changes every matching item. The match limit is ignored.
  OSStatus update(const SecItemQuery& query, const SecItemAttributes& changes);
  // SecItemDelete: deletes every matching item. The match limit is ignored.
  OSStatus remove(const SecItemQuery& query);

 protected:
  KeychainStore() = default;

  using ServiceMap = std::map<std::string, std::vector<KeychainItem>>;

  // Backend hooks, called with the store's mutex held and between
  // beginOperation() and endOperation(). A service that has no items loads as
  // empty with errSecSuccess; saving an empty list forgets the service.
  virtual OSStatus loadService(const std::string& service, std::vector<KeychainItem>& items) = 0;
  virtual OSStatus loadAllServices(ServiceMap& services) = 0;
  virtual OSStatus saveService(const std::string& service,
                               const std::vector<KeychainItem>& items) = 0;

  // Brackets each operation (a backend shared with other processes locks
  // here). A failing begin aborts the operation with its status.
  virtual OSStatus beginOperation(bool /*writing*/) { return errSecSuccess; }
  virtual void endOperation() {}
  // Called after the store's mutex is released, e.g. to deliver reports to
  // handlers that may use the store again.
  virtual void operationFinished() {}

 private:
  class Operation;
  OSStatus loadMatching(const SecItemQuery& query, ServiceMap& services);

  std::mutex mutex_;
};

// Keeps the items in memory only.
class MemoryKeychainStore final : public KeychainStore {
 public:
  MemoryKeychainStore() = default;

 protected:
  OSStatus loadService(const std::string& service, std::vector<KeychainItem>& items) override;
  OSStatus loadAllServices(ServiceMap& services) override;
  OSStatus saveService(const std::string& service,
                       const std::vector<KeychainItem>& items) override;

 private:
  ServiceMap services_;
};

// The item functions, on the current store.
OSStatus SecItemAdd(const SecItemQuery& attributes);
OSStatus SecItemCopyMatching(const SecItemQuery& query, SecItemResult* result);
OSStatus SecItemUpdate(const SecItemQuery& query, const SecItemAttributes& attributesToUpdate);
OSStatus SecItemDelete(const SecItemQuery& query);

// The process-wide store. Created on first use as a FileKeychainStore in
// FileKeychainStore::defaultDirectory(). Setting null drops the installed
// store so the next use creates the default one again.
std::shared_ptr<KeychainStore> currentKeychain();
void setCurrentKeychain(std::shared_ptr<KeychainStore> store);

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or code
// points past U+10FFFF).
bool isValidUtf8(std::string_view text);

}  // namespace sec
