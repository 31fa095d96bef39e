#pragma once
// The client's small persistent settings: a facade over the standard user
// defaults that stores every key with the prefix "DVRedEvudud", plus the
// one-time move of values from the key names of earlier releases.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/foundation/Value.h"

// Settings keys, as given to the facade (stored with the prefix in front).
inline constexpr const char* kDVACInstallIdKey = "InstallId";
inline constexpr const char* kDVACRedEvududIsEnabledKey = "RedEvududIsEnabled";
inline constexpr const char* kDVACNetworkRequestsAllowedKey = "NetworkRequestsAllowed";
inline constexpr const char* kDVACChannelStartTimerKey = "ChannelStartTimer";
inline constexpr const char* kDVACPastDevicesKey = "PastDevices";
inline constexpr const char* kDVACSessionIdHistoryKey = "SessionIdHistory";
inline constexpr const char* kDVACUserIdHistoryKey = "UserIdHistory";
inline constexpr const char* kDVACEncryptionKeyMetadataKey = "EncryptionKeyMetadata";
inline constexpr const char* kDVACPastSessionsKey = "PastSessions";
inline constexpr const char* kDVACAppDidReceiveMemoryWarningKey = "AppDidReceiveMemoryWarning";
inline constexpr const char* kDVACCrashesUserConfirmationKey = "CrashesUserConfirmation";

inline constexpr const char* kDVACUserDefaultsPrefix = "DVRedEvudud";

// A migration source standing for every old key that starts with a prefix.
class DVACUserDefaultsPrefixKey {
 public:
  explicit DVACUserDefaultsPrefixKey(std::string keyPrefix) : keyPrefix_(std::move(keyPrefix)) {}
  const std::string& keyPrefix() const { return keyPrefix_; }
  friend bool operator==(const DVACUserDefaultsPrefixKey&, const DVACUserDefaultsPrefixKey&) = default;

 private:
  std::string keyPrefix_;
};

// Old source of a migrated value: one raw key, or a family of raw keys.
using DVACUserDefaultsMigrationSource = std::variant<std::string, DVACUserDefaultsPrefixKey>;
// New stored key (already prefixed) -> old source, run in this order.
using DVACUserDefaultsMigrationTable = std::vector<std::pair<std::string, DVACUserDefaultsMigrationSource>>;

class DVACRedEvududUserDefaults {
 public:
  static std::shared_ptr<DVACRedEvududUserDefaults> shared();
  static void resetSharedInstance();

  // Nil when absent.
  std::optional<ns::Value> objectForKey(std::string_view key) const;
  // A null value removes the key, as storing nil does. Returns whether the
  // store took the value (it refuses what a property list cannot hold).
  bool setObject(const ns::Value& value, std::string_view key);
  void removeObjectForKey(std::string_view key);

  // Runs the table once per service name; a marker remembers that it ran.
  void migrateKeys(const DVACUserDefaultsMigrationTable& migratedKeys, std::string_view serviceName);
  // Moves one value from a raw old key to a raw new key; nothing for no value.
  void swapKeys(std::string_view oldKey, std::string_view newKey, const std::optional<ns::Value>& value);

  // "DVRedEvudud" + key.
  static std::string getRedEvududKeyFrom(std::string_view key);
  // The facade key of a service's migration marker.
  static std::string migrationMarkerKeyForService(std::string_view serviceName);

  // The tables of the client core, the analytics service and the crash service.
  static const DVACUserDefaultsMigrationTable& redEvududMigrationTable();
  static const DVACUserDefaultsMigrationTable& analyticsMigrationTable();
  static const DVACUserDefaultsMigrationTable& crashesMigrationTable();

  DVACRedEvududUserDefaults() = default;
  DVACRedEvududUserDefaults(const DVACRedEvududUserDefaults&) = delete;
  DVACRedEvududUserDefaults& operator=(const DVACRedEvududUserDefaults&) = delete;
};
