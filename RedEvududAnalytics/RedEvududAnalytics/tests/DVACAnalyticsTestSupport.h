#pragma once
// Shared by the analytics tests: a recorder of the SDK's log lines, a
// channel delegate that records what the units prepare, and an environment
// in which every file lives under a temporary root, time is the virtual
// clock, the ingestions point at a local sink and every shared instance is
// fresh.

#include <gtest/gtest.h>

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
#include "RedEvudud/RedEvudud/tests/DVACTestSupport.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Internals/DVACAnalyticsCategory.h"
#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACAnalyticsTransmissionTarget.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/TestSupport.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/security/Keychain.h"
#include "platform/sim/World.h"
#include "tools/ingestion-sink/IngestionSink.h"
#include "tools/ingestion-sink/tests/SinkTestSupport.h"

namespace dvac_analytics_test {

using dvac_test::kWait;
using dvac_test::roundTrip;
using dvac_test::sdkGroup;
using dvac_test::testDevice;

inline constexpr const char* kSecret = "5f2b7c1e-8a3d-4e6f-9b0c-1d2e3f4a5b6c";

// Every SDK log line at every level, from any thread.
class LogRecorder : public dvac_test::LogRecorder {
 public:
  // Lines at warning level or above with the analytics tag.
  size_t analyticsProblems() const {
    size_t n = 0;
    for (const auto& line : lines()) n += line.tag == kDVACAnalyticsLogTag && line.level >= DVACLogLevelWarning;
    return n;
  }
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
  dvac_test::resetSharedInstances();
  sim::World::shared().setApplicationHidden(sim::World::shared().selfPid(), false);
  DVACAnalyticsTransmissionTarget::setAuthenticationProvider(nullptr);
  NSViewControllerPageViewLogging::resetForTesting();
}

// Runs every queue until nothing is ready at the current virtual time.
inline void drain() { dispatch::Scheduler::shared().runUntilIdle(); }

// The virtual clock, a temporary root for every file (settings persist in a
// property list there), an in-memory keychain, a local sink for both
// ingestions, and fresh shared instances before and after.
class AnalyticsEnvironment {
 public:
  explicit AnalyticsEnvironment(const std::string& script = "[]") {
    sec::setCurrentKeychain(std::make_shared<sec::MemoryKeychainStore>());
    resetSharedInstances();
    sink_ = sinktest::startSink(script, 120);
  }
  ~AnalyticsEnvironment() {
    if (auto group = sdkGroup()) group->pauseWithIdentifyingObject(stopper_);
    drain();
    resetSharedInstances();
    drain();
    sink_->stop();
    sec::setCurrentKeychain(nullptr);
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

  int64_t storedRows(const std::optional<std::string>& groupId = std::nullopt) const {
    return dvac_test::storedRows(groupId);
  }

 private:
  dispatch::VirtualClockScope clock_;
  ns::test::TemporaryDirectory directory_{"dvac-analytics"};
  dvac_test::ScopedSdkRoot files_{directory_.path(), ns::UserDefaults::persistent(directory_.file("settings.plist"))};
  std::unique_ptr<ingestion_sink::Sink> sink_;
  std::vector<std::shared_ptr<RecordingDelegate>> recorders_;
  std::shared_ptr<int> stopper_ = std::make_shared<int>(0);
};

// Text of n characters made of a repeated pattern.
inline std::string repeated(const std::string& pattern, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += pattern;
  return out;
}

}  // namespace dvac_analytics_test
