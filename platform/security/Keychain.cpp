#include "platform/security/Keychain.h"

#include <algorithm>
#include <set>
#include <utility>

#include "platform/security/FileKeychainStore.h"

namespace sec {

namespace {

constexpr std::pair<SecAttrAccessible, std::string_view> kAccessibleNames[] = {
    {kSecAttrAccessibleWhenUnlocked, "WhenUnlocked"},
    {kSecAttrAccessibleAfterFirstUnlock, "AfterFirstUnlock"},
    {kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly, "WhenPasscodeSetThisDeviceOnly"},
    {kSecAttrAccessibleWhenUnlockedThisDeviceOnly, "WhenUnlockedThisDeviceOnly"},
    {kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly, "AfterFirstUnlockThisDeviceOnly"},
};

OSStatus validate(const SecItemQuery& query) {
  if (query.itemClass != kSecClassGenericPassword) return errSecUnimplemented;
  if (query.service && !isValidUtf8(*query.service)) return errSecParam;
  if (query.account && !isValidUtf8(*query.account)) return errSecParam;
  return errSecSuccess;
}

bool matches(const KeychainItem& item, const SecItemQuery& query) {
  return (!query.service || item.service == *query.service) &&
         (!query.account || item.account == *query.account) &&
         (!query.accessible || item.accessible == *query.accessible);
}

// Dates are kept to the millisecond, the precision files store, so an item
// reads back equal to what was written.
std::chrono::system_clock::time_point now() {
  return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

bool hasDuplicateAccounts(const std::vector<KeychainItem>& items) {
  std::set<std::string_view> seen;
  for (const auto& item : items) {
    if (!seen.insert(item.account).second) return true;
  }
  return false;
}

}  // namespace

std::string_view accessibleName(SecAttrAccessible accessible) {
  for (const auto& [value, name] : kAccessibleNames) {
    if (value == accessible) return name;
  }
  return "WhenUnlocked";
}

std::optional<SecAttrAccessible> accessibleFromName(std::string_view name) {
  for (const auto& [value, known] : kAccessibleNames) {
    if (known == name) return value;
  }
  return std::nullopt;
}

SecItemQuery SecItemQuery::genericPassword(std::string service, std::string account) {
  SecItemQuery query;
  query.service = std::move(service);
  query.account = std::move(account);
  return query;
}

// Holds the store's mutex and the backend's bracket for one operation, and
// tells the backend once both are released.
class KeychainStore::Operation {
 public:
  Operation(KeychainStore& store, bool writing) : store_(store), lock_(store.mutex_) {
    status_ = store_.beginOperation(writing);
  }
  ~Operation() {
    if (status_ == errSecSuccess) store_.endOperation();
    lock_.unlock();
    store_.operationFinished();
  }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  OSStatus status() const { return status_; }

 private:
  KeychainStore& store_;
  std::unique_lock<std::mutex> lock_;
  OSStatus status_ = errSecSuccess;
};

OSStatus KeychainStore::loadMatching(const SecItemQuery& query, ServiceMap& services) {
  if (query.service) return loadService(*query.service, services[*query.service]);
  return loadAllServices(services);
}

OSStatus KeychainStore::add(const SecItemQuery& attributes) {
  if (const OSStatus status = validate(attributes)) return status;
  KeychainItem item;
  item.service = attributes.service.value_or(std::string());
  item.account = attributes.account.value_or(std::string());
  item.data = attributes.valueData.value_or(Bytes());
  item.accessible = attributes.accessible.value_or(kSecAttrAccessibleWhenUnlocked);
  item.creationDate = item.modificationDate = now();

  Operation operation(*this, true);
  if (operation.status()) return operation.status();
  std::vector<KeychainItem> items;
  if (const OSStatus status = loadService(item.service, items)) return status;
  const bool exists = std::any_of(items.begin(), items.end(), [&](const KeychainItem& existing) {
    return existing.account == item.account;
  });
  if (exists) return errSecDuplicateItem;
  items.push_back(std::move(item));
  return saveService(items.back().service, items);
}

OSStatus KeychainStore::copyMatching(const SecItemQuery& query, SecItemResult* result) {
  if (result) result->items.clear();
  if (const OSStatus status = validate(query)) return status;
  ServiceMap services;
  {
    Operation operation(*this, false);
    if (operation.status()) return operation.status();
    if (const OSStatus status = loadMatching(query, services)) return status;
  }
  std::vector<KeychainItem> found;
  for (auto& [service, items] : services) {
    for (auto& item : items) {
      if (!matches(item, query)) continue;
      found.push_back(std::move(item));
      if (query.matchLimit == kSecMatchLimitOne) break;
    }
    if (query.matchLimit == kSecMatchLimitOne && !found.empty()) break;
  }
  if (found.empty()) return errSecItemNotFound;
  if (result) {
    if (!query.returnData) {
      for (auto& item : found) item.data.clear();
    }
    result->items = std::move(found);
  }
  return errSecSuccess;
}

OSStatus KeychainStore::update(const SecItemQuery& query, const SecItemAttributes& changes) {
  if (const OSStatus status = validate(query)) return status;
  if (changes.empty()) return errSecParam;
  if ((changes.service && !isValidUtf8(*changes.service)) ||
      (changes.account && !isValidUtf8(*changes.account))) {
    return errSecParam;
  }

  Operation operation(*this, true);
  if (operation.status()) return operation.status();
  ServiceMap before;
  if (const OSStatus status = loadMatching(query, before)) return status;
  if (changes.service && !before.contains(*changes.service)) {
    if (const OSStatus status = loadService(*changes.service, before[*changes.service])) {
      return status;
    }
  }

  const auto modified = now();
  ServiceMap after = before;
  std::vector<KeychainItem> moved;
  bool matched = false;
  for (auto& [service, items] : after) {
    for (auto it = items.begin(); it != items.end();) {
      if (!matches(*it, query)) {
        ++it;
        continue;
      }
      matched = true;
      KeychainItem updated = *it;
      if (changes.service) updated.service = *changes.service;
      if (changes.account) updated.account = *changes.account;
      if (changes.accessible) updated.accessible = *changes.accessible;
      if (changes.valueData) updated.data = *changes.valueData;
      updated.modificationDate = modified;
      if (updated.service == service) {
        *it++ = std::move(updated);
      } else {
        moved.push_back(std::move(updated));
        it = items.erase(it);
      }
    }
  }
  if (!matched) return errSecItemNotFound;
  for (auto& item : moved) {
    auto& destination = after[item.service];
    destination.push_back(std::move(item));
  }
  for (const auto& [service, items] : after) {
    if (hasDuplicateAccounts(items)) return errSecDuplicateItem;
  }

  // Items moving to another service are written there before they leave their
  // old one, so a failure in between duplicates an item rather than losing it.
  if (changes.service && after[*changes.service] != before[*changes.service]) {
    if (const OSStatus status = saveService(*changes.service, after[*changes.service])) {
      return status;
    }
  }
  for (const auto& [service, items] : after) {
    if (changes.service && service == *changes.service) continue;
    if (items == before[service]) continue;
    if (const OSStatus status = saveService(service, items)) return status;
  }
  return errSecSuccess;
}

OSStatus KeychainStore::remove(const SecItemQuery& query) {
  if (const OSStatus status = validate(query)) return status;
  Operation operation(*this, true);
  if (operation.status()) return operation.status();
  ServiceMap services;
  if (const OSStatus status = loadMatching(query, services)) return status;
  bool matched = false;
  for (auto& [service, items] : services) {
    const auto kept = std::remove_if(items.begin(), items.end(),
                                     [&](const KeychainItem& item) { return matches(item, query); });
    if (kept == items.end()) continue;
    matched = true;
    items.erase(kept, items.end());
    if (const OSStatus status = saveService(service, items)) return status;
  }
  return matched ? errSecSuccess : errSecItemNotFound;
}

OSStatus MemoryKeychainStore::loadService(const std::string& service,
                                          std::vector<KeychainItem>& items) {
  const auto found = services_.find(service);
  if (found == services_.end()) {
    items.clear();
  } else {
    items = found->second;
  }
  return errSecSuccess;
}

OSStatus MemoryKeychainStore::loadAllServices(ServiceMap& services) {
  services = services_;
  return errSecSuccess;
}

OSStatus MemoryKeychainStore::saveService(const std::string& service,
                                          const std::vector<KeychainItem>& items) {
  if (items.empty()) {
    services_.erase(service);
  } else {
    services_[service] = items;
  }
  return errSecSuccess;
}

namespace {

std::mutex& currentMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<KeychainStore>& currentStore() {
  static std::shared_ptr<KeychainStore> store;
  return store;
}

}  // namespace

std::shared_ptr<KeychainStore> currentKeychain() {
  std::lock_guard lock(currentMutex());
  auto& store = currentStore();
  if (!store) store = std::make_shared<FileKeychainStore>(FileKeychainStore::defaultDirectory());
  return store;
}

void setCurrentKeychain(std::shared_ptr<KeychainStore> store) {
  std::lock_guard lock(currentMutex());
  currentStore() = std::move(store);
}

OSStatus SecItemAdd(const SecItemQuery& attributes) { return currentKeychain()->add(attributes); }

OSStatus SecItemCopyMatching(const SecItemQuery& query, SecItemResult* result) {
  return currentKeychain()->copyMatching(query, result);
}

OSStatus SecItemUpdate(const SecItemQuery& query, const SecItemAttributes& attributesToUpdate) {
  return currentKeychain()->update(query, attributesToUpdate);
}

OSStatus SecItemDelete(const SecItemQuery& query) { return currentKeychain()->remove(query); }

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    char32_t code;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
      return false;
    }
    if (n - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

}  // namespace sec
