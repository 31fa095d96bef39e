#pragma once
// Shared by the crash reporting tests: a log recorder, a channel unit and
// group that keep what they are given, and an environment that puts every
// file under a temporary root and gives each test fresh shared instances.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupDefault.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceTracker.h"
#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionContext.h"
#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACDependencyConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "RedEvudud/RedEvudud/tests/DVACTestSupport.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesBufferedLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACWrapperExceptionManager.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACCrashesUtil.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/TestSupport.h"
#include "platform/foundation/UserDefaults.h"

namespace dvac_crashes_test {

using dvac_test::LogRecorder;
using dvac_test::roundTrip;
using dvac_test::testDevice;

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A unit that keeps what it is given. Like the real one it stamps, checks
// and prepares each log on the calling thread; completion is the test's call.
class RecordingUnit : public DVACChannelUnitProtocol, public std::enable_shared_from_this<RecordingUnit> {
 public:
  struct Enqueued {
    std::shared_ptr<DVACLog> log;
    DVACLogFlags flags;
    std::string internalId;
  };

  explicit RecordingUnit(std::shared_ptr<const DVACChannelUnitConfiguration> configuration)
      : configuration_(std::move(configuration)) {}

  void enqueueItem(const std::shared_ptr<DVACLog>& item, DVACLogFlags flags) override {
    if (!item) return;
    if (!item->timestamp()) item->setTimestamp(ns::Date::now());
    if (!item->device()) item->setDevice(testDevice());
    if (!item->isValid()) return;
    const std::string internalId = ns::UUID::random().UUIDString();
    std::vector<std::shared_ptr<DVACChannelDelegate>> delegates;
    {
      std::lock_guard lock(mutex_);
      for (const auto& weak : delegates_) {
        if (auto d = weak.lock()) delegates.push_back(d);
      }
    }
    auto self = shared_from_this();
    for (const auto& d : delegates) d->channelPrepareLog(self, item);
    for (const auto& d : delegates) d->channelDidPrepareLog(self, item, internalId, flags);
    std::lock_guard lock(mutex_);
    enqueued_.push_back({item, flags, internalId});
  }
  void pauseSendingLogsWithToken(const std::string&) override {}
  void resumeSendingLogsWithToken(const std::string&) override {}
  std::shared_ptr<const DVACChannelUnitConfiguration> configuration() const override { return configuration_; }
  std::shared_ptr<dispatch::Queue> logsDispatchQueue() const override { return dispatch::Queue::main(); }
  void addDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) override {
    std::lock_guard lock(mutex_);
    delegates_.push_back(delegate);
  }
  void removeDelegate(const std::shared_ptr<DVACChannelDelegate>&) override {}
  void pauseWithIdentifyingObject(const DVACIdentifyingObject&) override {}
  void resumeWithIdentifyingObject(const DVACIdentifyingObject&) override {}
  void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override {
    std::lock_guard lock(mutex_);
    enabled_ = isEnabled;
    enableCalls_.emplace_back(isEnabled, deleteDataOnDisabled);
  }
  bool isEnabled() const override {
    std::lock_guard lock(mutex_);
    return enabled_;
  }

  std::vector<Enqueued> enqueued() const {
    std::lock_guard lock(mutex_);
    return enqueued_;
  }
  std::vector<std::pair<bool, bool>> enableCalls() const {
    std::lock_guard lock(mutex_);
    return enableCalls_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    enqueued_.clear();
    completed_ = 0;
  }
  // The unit is done with every log enqueued so far, with this result: the delegates hear it once per log.
  void completeEnqueueing(DVACLogStoreResult result = DVACLogStoreResult::stored) {
    std::vector<Enqueued> done;
    std::vector<std::shared_ptr<DVACChannelDelegate>> delegates;
    {
      std::lock_guard lock(mutex_);
      done.assign(enqueued_.begin() + static_cast<std::ptrdiff_t>(completed_), enqueued_.end());
      completed_ = enqueued_.size();
      for (const auto& weak : delegates_) {
        if (auto d = weak.lock()) delegates.push_back(d);
      }
    }
    auto self = shared_from_this();
    for (const auto& e : done) {
      for (const auto& d : delegates) d->channelDidCompleteEnqueueingLog(self, e.log, e.internalId);
      for (const auto& d : delegates) {
        d->channelDidCompleteEnqueueingLogWithStoreResult(self, e.log, e.internalId, result);
      }
    }
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const DVACChannelUnitConfiguration> configuration_;
  std::vector<std::weak_ptr<DVACChannelDelegate>> delegates_;
  std::vector<Enqueued> enqueued_;
  size_t completed_ = 0;
  std::vector<std::pair<bool, bool>> enableCalls_;
  bool enabled_ = true;
};

// A group whose units are RecordingUnits; each unit's callbacks reach the
// group's delegates.
class RecordingGroup : public DVACChannelGroupProtocol, public std::enable_shared_from_this<RecordingGroup> {
 public:
  std::shared_ptr<DVACChannelUnitProtocol> addChannelUnitWithConfiguration(
      const std::shared_ptr<const DVACChannelUnitConfiguration>& configuration) override {
    if (!configuration) return nullptr;
    auto unit = std::make_shared<RecordingUnit>(configuration);
    std::lock_guard lock(mutex_);
    for (const auto& weak : delegates_) {
      if (auto d = weak.lock()) unit->addDelegate(d);
    }
    units_.push_back(unit);
    return unit;
  }
  std::shared_ptr<DVACChannelUnitProtocol> addChannelUnitWithConfiguration(
      const std::shared_ptr<const DVACChannelUnitConfiguration>& configuration,
      const std::shared_ptr<DVACIngestionProtocol>&) override {
    return addChannelUnitWithConfiguration(configuration);
  }
  std::shared_ptr<DVACChannelUnitProtocol> channelUnitForGroupId(const std::string& groupId) const override {
    return unit(groupId);
  }
  std::vector<std::shared_ptr<DVACLog>> storedLogsWithGroupId(const std::string&) const override { return {}; }
  void setMaxStorageSize(int64_t, std::function<void(bool)> completion) override {
    if (completion) completion(true);
  }
  std::optional<std::string> logUrl() const override { return std::nullopt; }
  void setLogUrl(const std::string&) override {}
  std::optional<std::string> appSecret() const override { return std::nullopt; }
  void setAppSecret(const std::optional<std::string>&) override {}
  void addDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) override {
    std::lock_guard lock(mutex_);
    delegates_.push_back(delegate);
    for (const auto& u : units_) u->addDelegate(delegate);
  }
  void removeDelegate(const std::shared_ptr<DVACChannelDelegate>&) override {}
  void pauseWithIdentifyingObject(const DVACIdentifyingObject&) override {}
  void resumeWithIdentifyingObject(const DVACIdentifyingObject&) override {}
  void setEnabled(bool, bool) override {}
  bool isEnabled() const override { return true; }

  // The latest unit of that group.
  std::shared_ptr<RecordingUnit> unit(const std::string& groupId) const {
    std::lock_guard lock(mutex_);
    for (auto it = units_.rbegin(); it != units_.rend(); ++it) {
      if ((*it)->configuration()->groupId() == groupId) return *it;
    }
    return nullptr;
  }
  size_t unitCount(const std::string& groupId) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& u : units_) n += u->configuration()->groupId() == groupId;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<RecordingUnit>> units_;
  std::vector<std::weak_ptr<DVACChannelDelegate>> delegates_;
};

inline void resetSharedInstances() {
  DVACCrashes::resetSharedInstance();
  dvac_test::resetSharedInstances();
  DVACCrashesUtil::resetDirectory();
  DVACWrapperExceptionManager::resetForTesting();
  DVACCrashesLogBufferResetForTesting();
}

// Every file under a fresh temporary root, settings in memory, a main bundle
// with an identifier and versions, the virtual clock, and a debugger that
// counts as attached (so no test installs the crash engine in the test
// process; tests that want it installed run it in a child process).
class CrashesEnvironment {
 public:
  CrashesEnvironment() : previousBundle_(ns::Bundle::main()) {
    ns::Bundle::setMain(ns::Bundle::withInfoDictionary({{"CFBundleIdentifier", ns::Value("com.morvalent.tests")},
                                                        {"CFBundleVersion", ns::Value("12")},
                                                        {"CFBundleShortVersionString", ns::Value("1.2")}}));
    DVACCrashes::setDebuggerAttachedProviderForTesting([] { return true; });
    resetSharedInstances();
  }
  ~CrashesEnvironment() {
    dispatch::Scheduler::shared().runUntilIdle();
    resetSharedInstances();
    dispatch::Scheduler::shared().runUntilIdle();
    DVACCrashes::setDebuggerAttachedProviderForTesting(nullptr);
    ns::Bundle::setMain(previousBundle_);
  }
  CrashesEnvironment(const CrashesEnvironment&) = delete;
  CrashesEnvironment& operator=(const CrashesEnvironment&) = delete;

  const std::string& root() const { return root_.path(); }
  // An absolute path under the SDK's file-storage directory.
  std::string sdkPath(const std::string& component) const {
    return DVACUtility::fullURLForPathComponent(component)->path();
  }

 private:
  dispatch::VirtualClockScope clock_;
  ns::test::TemporaryDirectory root_{"dvac-crashes"};
  dvac_test::ScopedSdkRoot files_{root_.path(), ns::UserDefaults::inMemory()};
  std::shared_ptr<ns::Bundle> previousBundle_;
};

}  // namespace dvac_crashes_test
