#include "RedEvudud/RedEvudud/Model/DVACWrapperSdk.h"

namespace {

const bool kWrapperSdkRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACWrapperSdk>("DVACWrapperSdk");
  return true;
}();

constexpr const char* kWrapperSdkVersion = "wrapperSdkVersion";
constexpr const char* kWrapperSdkName = "wrapperSdkName";
constexpr const char* kWrapperRuntimeVersion = "wrapperRuntimeVersion";
constexpr const char* kLiveUpdateReleaseLabel = "liveUpdateReleaseLabel";
constexpr const char* kLiveUpdateDeploymentKey = "liveUpdateDeploymentKey";
constexpr const char* kLiveUpdatePackageHash = "liveUpdatePackageHash";

}  // namespace

DVACWrapperSdk::DVACWrapperSdk(std::optional<std::string> wrapperSdkVersion, std::optional<std::string> wrapperSdkName,
                               std::optional<std::string> wrapperRuntimeVersion,
                               std::optional<std::string> liveUpdateReleaseLabel,
                               std::optional<std::string> liveUpdateDeploymentKey,
                               std::optional<std::string> liveUpdatePackageHash)
    : wrapperSdkVersion(std::move(wrapperSdkVersion)),
      wrapperSdkName(std::move(wrapperSdkName)),
      wrapperRuntimeVersion(std::move(wrapperRuntimeVersion)),
      liveUpdateReleaseLabel(std::move(liveUpdateReleaseLabel)),
      liveUpdateDeploymentKey(std::move(liveUpdateDeploymentKey)),
      liveUpdatePackageHash(std::move(liveUpdatePackageHash)) {}

ns::Value DVACWrapperSdk::serializeToDictionary() const {
  ns::Value dict{ns::Dictionary{}};
  dvac::setJSONValue(dict, kWrapperSdkVersion, wrapperSdkVersion);
  dvac::setJSONValue(dict, kWrapperSdkName, wrapperSdkName);
  dvac::setJSONValue(dict, kWrapperRuntimeVersion, wrapperRuntimeVersion);
  dvac::setJSONValue(dict, kLiveUpdateReleaseLabel, liveUpdateReleaseLabel);
  dvac::setJSONValue(dict, kLiveUpdateDeploymentKey, liveUpdateDeploymentKey);
  dvac::setJSONValue(dict, kLiveUpdatePackageHash, liveUpdatePackageHash);
  return dict;
}

bool DVACWrapperSdk::isEqual(const ns::Object& other) const {
  const auto* sdk = dynamic_cast<const DVACWrapperSdk*>(&other);
  if (!sdk) return false;
  return wrapperSdkVersion == sdk->wrapperSdkVersion && wrapperSdkName == sdk->wrapperSdkName &&
         wrapperRuntimeVersion == sdk->wrapperRuntimeVersion && liveUpdateReleaseLabel == sdk->liveUpdateReleaseLabel &&
         liveUpdateDeploymentKey == sdk->liveUpdateDeploymentKey && liveUpdatePackageHash == sdk->liveUpdatePackageHash;
}

std::shared_ptr<DVACWrapperSdk> DVACWrapperSdk::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto sdk = std::make_shared<DVACWrapperSdk>();
  sdk->decodeWithCoder(coder);
  return sdk;
}

void DVACWrapperSdk::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  wrapperSdkVersion = coder.decodeString(kWrapperSdkVersion);
  wrapperSdkName = coder.decodeString(kWrapperSdkName);
  wrapperRuntimeVersion = coder.decodeString(kWrapperRuntimeVersion);
  liveUpdateReleaseLabel = coder.decodeString(kLiveUpdateReleaseLabel);
  liveUpdateDeploymentKey = coder.decodeString(kLiveUpdateDeploymentKey);
  liveUpdatePackageHash = coder.decodeString(kLiveUpdatePackageHash);
}

void DVACWrapperSdk::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, wrapperSdkVersion, kWrapperSdkVersion);
  dvac::encodeString(coder, wrapperSdkName, kWrapperSdkName);
  dvac::encodeString(coder, wrapperRuntimeVersion, kWrapperRuntimeVersion);
  dvac::encodeString(coder, liveUpdateReleaseLabel, kLiveUpdateReleaseLabel);
  dvac::encodeString(coder, liveUpdateDeploymentKey, kLiveUpdateDeploymentKey);
  dvac::encodeString(coder, liveUpdatePackageHash, kLiveUpdatePackageHash);
}
