#pragma once
// Shared by the service and SDK tests: services made for testing, and an
// environment that puts every file of the SDK under a temporary root and
// gives each test fresh shared instances (the pieces shared with the other
// telemetry modules' tests are in DVACTestSupport.h).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvudud/RedEvudud/DVACServiceAbstract.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupDefault.h"
#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceTracker.h"
#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionContext.h"
#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"
#include "RedEvudud/RedEvudud/Internals/DelegateForwarder/DVACAppDelegateForwarder.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACDependencyConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACTicketCache.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvudud/RedEvudud/tests/DVACTestSupport.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/TestSupport.h"
#include "platform/foundation/UserDefaults.h"

namespace dvac_sdk_test {

inline constexpr const char* kAppSecret = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";

// A service whose name, priority and unit are chosen by the test.
class TestService : public DVACServiceAbstract {
 public:
  TestService(std::string name, int64_t priority, std::shared_ptr<const DVACChannelUnitConfiguration> configuration)
      : name_(std::move(name)), priority_(priority), configuration_(std::move(configuration)) {}

  std::string groupId() const override { return name_; }
  std::string className() const override { return "DVAC" + name_; }
  std::shared_ptr<const DVACChannelUnitConfiguration> channelUnitConfiguration() const override {
    return configuration_;
  }
  int64_t initializationPriority() const override { return priority_; }
  void applyEnabledState(bool isEnabled) override {
    appliedStates.push_back(isEnabled);
    DVACServiceAbstract::applyEnabledState(isEnabled);
  }

  std::vector<bool> appliedStates;

 private:
  std::string name_;
  int64_t priority_;
  std::shared_ptr<const DVACChannelUnitConfiguration> configuration_;
};

// The class object of a TestService, with its own shared instance.
class TestServiceClass : public DVACServiceCommon {
 public:
  TestServiceClass(std::string name, int64_t priority,
                   std::shared_ptr<const DVACChannelUnitConfiguration> configuration = nullptr)
      : instance_(std::make_shared<TestService>(
            name, priority,
            configuration ? configuration : DVACChannelUnitConfiguration::initDefaultConfigurationWithGroupId(name))),
        name_(std::move(name)) {}

  std::string className() const override { return "DVAC" + name_; }
  std::shared_ptr<DVACServiceAbstract> sharedInstance() const override { return instance_; }
  std::string serviceName() const override { return name_; }
  std::string logTag() const override { return "RedEvudud" + name_; }
  std::shared_ptr<TestService> service() const { return instance_; }

 private:
  std::shared_ptr<TestService> instance_;
  std::string name_;
};

inline std::shared_ptr<TestServiceClass> serviceClass(
    const std::string& name, int64_t priority = 500,
    std::shared_ptr<const DVACChannelUnitConfiguration> configuration = nullptr) {
  return std::make_shared<TestServiceClass>(name, priority, std::move(configuration));
}

using dvac_test::resetSharedInstances;
using dvac_test::sdkGroup;

// Runs everything queued on the SDK's logs queue so far.
inline void syncLogsQueue() {
  if (auto group = sdkGroup()) group->logsDispatchQueue()->sync([] {});
}

// Every file under `root` (a fresh temporary one when none is given); the
// settings persist in a property list there, so another process with the
// same root sees them.
class SdkEnvironment {
 public:
  explicit SdkEnvironment(std::optional<std::string> root = std::nullopt)
      : temporary_(root ? nullptr : std::make_unique<ns::test::TemporaryDirectory>("dvac-sdk")),
        root_(root ? *root : temporary_->path()) {
    files_.emplace(root_, ns::UserDefaults::persistent(root_ + "/settings.plist"));
    resetSharedInstances();
  }
  ~SdkEnvironment() {
    shutdown();
    files_.reset();
    resetSharedInstances();
  }
  SdkEnvironment(const SdkEnvironment&) = delete;
  SdkEnvironment& operator=(const SdkEnvironment&) = delete;

  // Stops every unit (and its timer), lets the logs queue finish, and drops
  // the SDK's objects.
  void shutdown() {
    auto group = sdkGroup();
    if (group) {
      group->pauseWithIdentifyingObject(stopper_);
      group->logsDispatchQueue()->sync([] {});
    }
    resetSharedInstances();
    // Work the SDK's last switches posted on their way out.
    if (group) group->logsDispatchQueue()->sync([] {});
  }

  const std::string& root() const { return root_; }
  std::string logsDatabasePath() const { return dvac_test::logsDatabasePath(); }
  int64_t storedRows(const std::optional<std::string>& groupId = std::nullopt) const {
    return dvac_test::storedRows(groupId);
  }

 private:
  std::unique_ptr<ns::test::TemporaryDirectory> temporary_;
  std::string root_;
  std::optional<dvac_test::ScopedSdkRoot> files_;
  std::shared_ptr<int> stopper_ = std::make_shared<int>(0);
};

}  // namespace dvac_sdk_test
