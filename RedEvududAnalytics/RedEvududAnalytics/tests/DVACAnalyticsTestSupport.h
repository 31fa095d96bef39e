#pragma once
// Shared by the analytics tests: a recorder of the SDK's log lines, a
// channel delegate that records what the units prepare, and an environment
// in which every file lives under a temporary root, time is the virtual
// clock, the ingestions point at a local sink and every shared instance is
// fresh.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupDefault.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceTracker.h"
#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionContext.h"
#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACDependencyConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRuvErirovevuChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACTicketCache.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Internals/DVACAnalyticsCategory.h"
#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACAnalyticsTransmissionTarget.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/TestSupport.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/security/Keychain.h"
#include "tools/ingestion-sink/IngestionSink.h"

namespace dvac_analytics_test {

// Generous bound for what should happen within milliseconds.
inline constexpr double kWait = 20.0;
inline constexpr const char* kSecret = "5f2b7c1e-8a3d-4e6f-9b0c-1d2e3f4a5b6c";

// Every SDK log line at every level, from any thread.
class LogRecorder {
 public:
  struct Line {
    DVACLogLevel level;
    std::string tag;
    std::string message;
  };

  LogRecorder() {
    DVACLogger::resetForTesting();
    DVACLogger::setCurrentLogLevel(DVACLogLevelVerbose);
    auto state = state_;
    DVACLogger::setLogHandler([state](const DVACLogMessageProvider& provider, DVACLogLevel level,
                                      const std::string& tag, const char*, const char*, unsigned int) {
      std::string message = provider();
      std::lock_guard lock(state->mutex);
      state->lines.push_back({level, tag, std::move(message)});
    });
  }
  ~LogRecorder() { DVACLogger::resetForTesting(); }
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  std::vector<Line> lines() const {
    std::lock_guard lock(state_->mutex);
    return state_->lines;
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
  // Lines at warning level or above with the analytics tag.
  size_t analyticsProblems() const {
    size_t n = 0;
    for (const auto& line : lines()) n += line.tag == kDVACAnalyticsLogTag && line.level >= DVACLogLevelWarning;
    return n;
  }
  void clear() {
    std::lock_guard lock(state_->mutex);
    state_->lines.clear();
  }

 private:
  struct State {
    std::mutex mutex;
    std::vector<Line> lines;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// What the units of a group prepared, with the unit's group id and flags,
// and what was sent, in order.
class RecordingDelegate : public DVACChannelDelegate {
 public:
  struct Prepared {
    std::string groupId;
    std::shared_ptr<DVACLog> log;
    DVACLogFlags flags;
  };

  void channelDidPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel, const std::shared_ptr<DVACLog>& log,
                            const std::string& /*internalId*/, DVACLogFlags flags) override {
    auto unit = std::dynamic_pointer_cast<DVACChannelUnitProtocol>(channel);
    std::lock_guard lock(mutex_);
    prepared_.push_back({unit ? unit->configuration()->groupId() : std::string(), log, flags});
  }
  void channelDidSucceedSendingLog(const std::shared_ptr<DVACChannelProtocol>&,
                                   const std::shared_ptr<DVACLog>& log) override {
    std::lock_guard lock(mutex_);
    sent_.push_back(log);
  }

  std::vector<Prepared> prepared() const {
    std::lock_guard lock(mutex_);
    return prepared_;
  }
  // The prepared logs of one type (and one unit, when given).
  template <typename Log>
  std::vector<std::shared_ptr<Log>> preparedOf(const std::optional<std::string>& groupId = std::nullopt) const {
    std::vector<std::shared_ptr<Log>> out;
    for (const auto& entry : prepared()) {
      if (groupId && entry.groupId != *groupId) continue;
      if (auto log = std::dynamic_pointer_cast<Log>(entry.log)) out.push_back(log);
    }
    return out;
  }
  size_t sentCount() const {
    std::lock_guard lock(mutex_);
    return sent_.size();
  }
  void clear() {
    std::lock_guard lock(mutex_);
    prepared_.clear();
    sent_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Prepared> prepared_;
  std::vector<std::shared_ptr<DVACLog>> sent_;
};

inline void resetSharedInstances() {
  DVACAnalytics::resetSharedInstance();
  DVACRedEvudud::resetSharedInstance();
  DVACDeviceTracker::resetSharedInstance();
  DVACSessionContext::resetSharedInstance();
  DVACUserIdContext::resetSharedInstance();
  DVACRedEvududUserDefaults::resetSharedInstance();
  DVACUtility::resetRedEvududDirectoryForTesting();
  DVACUtility::setApplicationHiddenProvider(nullptr);
  DVACIngestionDefaults::resetForTesting();
  DVACTicketCache::resetSharedInstance();
  DVACDependencyConfiguration::setHttpClient(nullptr);
  DVACAnalyticsTransmissionTarget::setAuthenticationProvider(nullptr);
  NSViewControllerPageViewLogging::resetForTesting();
}

inline std::shared_ptr<DVACChannelGroupDefault> sdkGroup() {
  return std::dynamic_pointer_cast<DVACChannelGroupDefault>(DVACRedEvudud::sharedInstance()->channelGroup());
}

// Runs every queue until nothing is ready at the current virtual time.
inline void drain() { dispatch::Scheduler::shared().runUntilIdle(); }

// The virtual clock, a temporary root for every file (settings persist in a
// property list there), an in-memory keychain, a local sink for both
// ingestions, and fresh shared instances before and after.
class AnalyticsEnvironment {
 public:
  explicit AnalyticsEnvironment(const std::string& script = "[]")
      : previousRoot_(ns::paths::rootForTesting()), previousDefaults_(ns::UserDefaults::standard()) {
    ns::paths::setRootForTesting(directory_.path());
    ns::UserDefaults::setStandard(ns::UserDefaults::persistent(directory_.file("settings.plist")));
    sec::setCurrentKeychain(std::make_shared<sec::MemoryKeychainStore>());
    resetSharedInstances();
    ingestion_sink::Options options;
    options.maxSeconds = 120;
    std::string error;
    auto parsed = ingestion_sink::Script::fromJson(script, &error);
    EXPECT_TRUE(parsed) << error;
    if (parsed) options.script = *parsed;
    sink_ = std::make_unique<ingestion_sink::Sink>(options);
    EXPECT_TRUE(sink_->start(&error)) << error;
  }
  ~AnalyticsEnvironment() {
    if (auto group = sdkGroup()) group->pauseWithIdentifyingObject(stopper_);
    drain();
    resetSharedInstances();
    drain();
    sink_->stop();
    sec::setCurrentKeychain(nullptr);
    ns::UserDefaults::setStandard(previousDefaults_);
    ns::paths::setRootForTesting(previousRoot_);
  }
  AnalyticsEnvironment(const AnalyticsEnvironment&) = delete;
  AnalyticsEnvironment& operator=(const AnalyticsEnvironment&) = delete;

  // Starts the SDK with the analytics service (and any other services),
  // sending to the sink, and records every prepared log from then on.
  std::shared_ptr<RecordingDelegate> startSdk(DVACRedEvudud::DVACServiceList services = {}) {
    services.insert(services.begin(), DVACAnalytics::serviceClass());
    DVACRedEvudud::setLogUrl(sink_->baseURL());
    DVACRedEvudud::start(kSecret, services);
    if (auto delegate = DVACRedEvudud::sharedInstance()->ruvErirovevuChannelDelegate()) {
      delegate->setLogUrl(sink_->baseURL());
    }
    auto recorder = std::make_shared<RecordingDelegate>();
    if (auto group = sdkGroup()) group->addDelegate(recorder);
    recorders_.push_back(recorder);
    drain();
    return recorder;
  }

  ingestion_sink::Sink& sink() { return *sink_; }
  const std::string& root() const { return directory_.path(); }

  // Rows of "Logs.sqlite" read behind the store's back; all groups when none
  // is given.
  int64_t storedRows(const std::optional<std::string>& groupId = std::nullopt) const {
    const std::string path = DVACUtility::fullURLForPathComponent(kDVACLogsDBFileName)->path();
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      return -1;
    }
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

 private:
  dispatch::VirtualClockScope clock_;
  ns::test::TemporaryDirectory directory_{"dvac-analytics"};
  std::optional<std::string> previousRoot_;
  std::shared_ptr<ns::UserDefaults> previousDefaults_;
  std::unique_ptr<ingestion_sink::Sink> sink_;
  std::vector<std::shared_ptr<RecordingDelegate>> recorders_;
  std::shared_ptr<int> stopper_ = std::make_shared<int>(0);
};

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

// Text of n characters made of a repeated pattern.
inline std::string repeated(const std::string& pattern, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += pattern;
  return out;
}

}  // namespace dvac_analytics_test
