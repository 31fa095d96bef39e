#pragma once
// Shared by the tests of every telemetry module (the core, analytics, crash
// reporting, the shell's telemetry tests): waits with a deadline, a recorder
// of the SDK's log lines, a valid device, archive round trips, fresh shared
// instances of the core, the logs database read behind the store's back, and
// a scope that puts every file of the SDK under a root.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupDefault.h"
#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceTracker.h"
#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionContext.h"
#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACDependencyConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACTicketCache.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACAbstractLog.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"

namespace dvac_test {

// Generous bound for anything that should happen within milliseconds.
inline constexpr double kWait = 20.0;

// Polls a condition until it holds or the timeout passes, yielding between
// polls; for state owned by other threads that has no notification.
inline bool waitUntil(const std::function<bool()>& condition, double timeoutSeconds = kWait) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// Every SDK log line at or above a level, from any thread, while it lives.
// It sets the SDK's level to that level; with none it leaves the level as a
// reset logger has it and records whatever gets through.
class LogRecorder {
 public:
  struct Line {
    DVACLogLevel level;
    std::string tag;
    std::string message;
  };

  explicit LogRecorder(std::optional<DVACLogLevel> level = DVACLogLevelVerbose) {
    DVACLogger::resetForTesting();
    if (level) DVACLogger::setCurrentLogLevel(*level);
    auto state = state_;
    DVACLogger::setLogHandler([state, level](const DVACLogMessageProvider& provider, DVACLogLevel lineLevel,
                                             const std::string& tag, const char*, const char*, unsigned int) {
      if (level && lineLevel < *level) return;
      std::string message = provider();
      std::lock_guard lock(state->mutex);
      state->lines.push_back({lineLevel, tag, std::move(message)});
      state->changed.notify_all();
    });
  }
  ~LogRecorder() { DVACLogger::resetForTesting(); }
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  std::vector<Line> lines() const {
    std::lock_guard lock(state_->mutex);
    return state_->lines;
  }
  // The messages at one level, in order.
  std::vector<std::string> messages(DVACLogLevel level) const {
    std::vector<std::string> out;
    for (const auto& line : lines()) {
      if (line.level == level) out.push_back(line.message);
    }
    return out;
  }
  // Lines whose message contains the text, at the level when one is given.
  size_t count(const std::string& text, std::optional<DVACLogLevel> level = std::nullopt) const {
    size_t n = 0;
    for (const auto& line : lines()) {
      if (level && line.level != *level) continue;
      n += line.message.find(text) != std::string::npos;
    }
    return n;
  }
  bool contains(const std::string& text, std::optional<DVACLogLevel> level = std::nullopt) const {
    return count(text, level) > 0;
  }
  // A line with exactly this message at this level.
  bool exactly(const std::string& message, DVACLogLevel level) const {
    for (const auto& line : lines()) {
      if (line.level == level && line.message == message) return true;
    }
    return false;
  }
  bool waitForCount(const std::string& text, size_t n, double timeoutSeconds = kWait) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] {
      size_t found = 0;
      for (const auto& line : state_->lines) found += line.message.find(text) != std::string::npos;
      return found >= n;
    });
  }
  void clear() {
    std::lock_guard lock(state_->mutex);
    state_->lines.clear();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Line> lines;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

inline ns::Data bytes(std::string_view text) { return ns::Data(text.begin(), text.end()); }

// Replaces the file's content, making its folder first when needed.
inline void writeFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// A device record that passes the log checks.
inline std::shared_ptr<DVACDevice> testDevice() {
  auto device = std::make_shared<DVACDevice>();
  device->sdkName = "redevudud.macos";
  device->sdkVersion = "4.4.3";
  device->osName = "macOS";
  device->osVersion = "14.1.0";
  device->locale = "en_US";
  device->timeZoneOffset = 60;
  device->appVersion = "1.0";
  device->appBuild = "1";
  device->appNamespace = "com.morvalent.Morvalent";
  return device;
}

// A valid log whose dictionary holds a number JSON cannot write.
class UnwritableLog : public DVACAbstractLog {
 public:
  UnwritableLog() {
    setType("unwritable");
    setTimestamp(ns::Date::fromTimeIntervalSince1970(1'700'000'000));
    setDevice(testDevice());
  }
  ns::Value serializeToDictionary() const override {
    ns::Value dict = DVACAbstractLog::serializeToDictionary();
    dvac::setJSONValue(dict, "value", ns::Value(std::nan("")));
    return dict;
  }
};

// Archived and unarchived through the SDK's keyed archiving.
template <typename T>
std::shared_ptr<T> roundTrip(const std::shared_ptr<T>& object) {
  auto data = DVACUtility::archiveKeyedData(ns::Value(object));
  EXPECT_TRUE(data);
  if (!data) return nullptr;
  auto value = DVACUtility::unarchiveKeyedData(data);
  EXPECT_TRUE(value);
  return value ? value->template objectAs<T>() : nullptr;
}

// Fresh shared instances of the core; the services' own come first in each
// module's reset.
inline void resetSharedInstances() {
  DVACRedEvudud::resetSharedInstance();
  DVACDeviceTracker::resetSharedInstance();
  DVACSessionContext::resetSharedInstance();
  DVACUserIdContext::resetSharedInstance();
  DVACRedEvududUserDefaults::resetSharedInstance();
  DVACUtility::resetRedEvududDirectoryForTesting();
  DVACIngestionDefaults::resetForTesting();
  DVACTicketCache::resetSharedInstance();
  DVACDependencyConfiguration::setHttpClient(nullptr);
}

inline std::shared_ptr<DVACChannelGroupDefault> sdkGroup() {
  return std::dynamic_pointer_cast<DVACChannelGroupDefault>(DVACRedEvudud::sharedInstance()->channelGroup());
}

inline std::string logsDatabasePath() { return DVACUtility::fullURLForPathComponent(kDVACLogsDBFileName)->path(); }

// Rows of "Logs.sqlite" read behind the store's back; all groups when none is
// given, -1 when the file cannot be read.
inline int64_t storedRows(const std::optional<std::string>& groupId = std::nullopt) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(logsDatabasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return -1;
  }
  // The store may be writing on its queue at the same moment.
  sqlite3_busy_timeout(db, 10'000);
  const std::string sql = groupId ? "SELECT COUNT(*) FROM logs WHERE groupId = ?" : "SELECT COUNT(*) FROM logs";
  sqlite3_stmt* statement = nullptr;
  int64_t count = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    if (groupId) sqlite3_bind_text(statement, 1, groupId->c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(statement) == SQLITE_ROW) count = sqlite3_column_int64(statement, 0);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return count;
}

// Application Support, Caches and Preferences under `root` and the given
// standard settings while it lives; then the previous ones are back.
class ScopedSdkRoot {
 public:
  ScopedSdkRoot(const std::string& root, std::shared_ptr<ns::UserDefaults> defaults)
      : previousRoot_(ns::paths::rootForTesting()), previousDefaults_(ns::UserDefaults::standard()) {
    ns::paths::setRootForTesting(root);
    ns::UserDefaults::setStandard(std::move(defaults));
  }
  ~ScopedSdkRoot() {
    ns::UserDefaults::setStandard(previousDefaults_);
    ns::paths::setRootForTesting(previousRoot_);
  }
  ScopedSdkRoot(const ScopedSdkRoot&) = delete;
  ScopedSdkRoot& operator=(const ScopedSdkRoot&) = delete;

 private:
  std::optional<std::string> previousRoot_;
  std::shared_ptr<ns::UserDefaults> previousDefaults_;
};

}  // namespace dvac_test
