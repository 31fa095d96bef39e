#pragma once
// Shared by the model and context tests: a recorder of the SDK's log lines, a
// fake clock for the histories, an isolated settings store, JSON helpers and
// archive round trips.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryClock.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "RedEvudud/RedEvudud/tests/DVACTestSupport.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/TestSupport.h"

namespace dvac_model_test {

// Every SDK log line that gets through at the level the test sets (a reset
// logger lets only assertions through).
class LogLines : public dvac_test::LogRecorder {
 public:
  LogLines() : LogRecorder(std::nullopt) {}

  // The messages at one level, in order.
  std::vector<std::string> at(DVACLogLevel level) const { return messages(level); }
};

// Installs itself as the histories' clock; time moves only when told.
class FakeClock {
 public:
  explicit FakeClock(double secondsSince1970 = 1'700'000'000.0) : now_(secondsSince1970) {
    DVACHistoryClock::setNowProvider([this] {
      std::lock_guard<std::mutex> lock(mutex_);
      return ns::Date(now_);
    });
  }
  ~FakeClock() { DVACHistoryClock::setNowProvider(nullptr); }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  ns::Date now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ns::Date(now_);
  }
  void advance(double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ += seconds;
  }

 private:
  mutable std::mutex mutex_;
  double now_;
};

// A fresh in-memory standard defaults store and settings facade for the
// test's lifetime.
class IsolatedSettings {
 public:
  IsolatedSettings() { DVACRedEvududUserDefaults::resetSharedInstance(); }
  ~IsolatedSettings() { DVACRedEvududUserDefaults::resetSharedInstance(); }
  IsolatedSettings(const IsolatedSettings&) = delete;
  IsolatedSettings& operator=(const IsolatedSettings&) = delete;

  std::optional<ns::Value> stored(const char* key) const {
    return DVACRedEvududUserDefaults::shared()->objectForKey(key);
  }
  // The archived array stored under the key, unarchived.
  std::optional<ns::Array> storedArray(const char* key) const {
    auto value = stored(key);
    if (!value || !value->isData()) return std::nullopt;
    auto root = DVACUtility::unarchiveKeyedData(*value->data());
    if (!root || !root->isArray()) return std::nullopt;
    return *root->array();
  }

 private:
  ns::test::ScopedStandardDefaults defaults_;
};

// The value written as JSON and read back, for comparing with an expected
// object whatever the key order.
inline nlohmann::json parsedJSON(const ns::Value& value) {
  auto text = ns::json::write(value);
  EXPECT_TRUE(text) << "not writable as JSON: " << value.description();
  return text ? nlohmann::json::parse(*text) : nlohmann::json();
}

// The keys of a JSON object text in the order they are written.
inline std::vector<std::string> keyOrder(const std::string& jsonText) {
  ns::json::ReadOptions options;
  options.keepObjectOrder = true;
  auto value = ns::json::parse(jsonText, options);
  EXPECT_TRUE(value && value->isOrderedDictionary()) << jsonText;
  if (!value || !value->isOrderedDictionary()) return {};
  return value->orderedDictionary()->keys();
}

using dvac_test::roundTrip;

// A device with every required field and nothing else.
inline std::shared_ptr<DVACDevice> minimalDevice() {
  auto device = std::make_shared<DVACDevice>();
  device->sdkName = "redevudud.macos";
  device->sdkVersion = "4.4.3";
  device->osName = "Debian GNU/Linux";
  device->osVersion = "12";
  device->locale = "en_US";
  device->timeZoneOffset = 60;
  device->appVersion = "1.2";
  device->appBuild = "42";
  return device;
}

// A device with every field set, wrapper fields included.
inline std::shared_ptr<DVACDevice> fullDevice() {
  auto device = minimalDevice();
  device->model = "ThinkPad X1";
  device->oemName = "LENOVO";
  device->osBuild = "6.1.0-18-amd64";
  device->osApiLevel = 33;
  device->timeZoneOffset = -330;
  device->screenSize = "1512x982";
  device->carrierName = "Carrier";
  device->carrierCountry = "fr";
  device->appNamespace = "com.morvalent.Morvalent";
  device->wrapperSdkVersion = "1.0";
  device->wrapperSdkName = "wrapper";
  device->wrapperRuntimeVersion = "rt";
  device->liveUpdateReleaseLabel = "label";
  device->liveUpdateDeploymentKey = "key";
  device->liveUpdatePackageHash = "hash";
  return device;
}

}  // namespace dvac_model_test
