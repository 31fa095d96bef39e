#include "RedEvudud/RedEvudud/Model/DVACDevice.h"

namespace {

const bool kDeviceRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACDevice>("DVACDevice");
  return true;
}();

constexpr const char* kSdkName = "sdkName";
constexpr const char* kSdkVersion = "sdkVersion";
constexpr const char* kModel = "model";
constexpr const char* kOemName = "oemName";
constexpr const char* kOsName = "osName";
constexpr const char* kOsVersion = "osVersion";
constexpr const char* kOsBuild = "osBuild";
constexpr const char* kOsApiLevel = "osApiLevel";
constexpr const char* kLocale = "locale";
constexpr const char* kTimeZoneOffset = "timeZoneOffset";
constexpr const char* kScreenSize = "screenSize";
constexpr const char* kAppVersion = "appVersion";
constexpr const char* kCarrierName = "carrierName";
constexpr const char* kCarrierCountry = "carrierCountry";
constexpr const char* kAppBuild = "appBuild";
constexpr const char* kAppNamespace = "appNamespace";

// A number stored as an object: any numeric kind reads back as an integer;
// anything else fails the decoding.
std::optional<int64_t> decodeNumber(ns::KeyedUnarchiver& coder, const char* key) {
  auto value = coder.decodeObject(key);
  if (!value || coder.error()) return std::nullopt;
  if (value->isNumber()) return value->asInt64();
  coder.failWithDescription(std::string("the value for key \"") + key + "\" is not a number");
  return std::nullopt;
}

}  // namespace

ns::Value DVACDevice::serializeToDictionary() const {
  ns::Value dict = DVACWrapperSdk::serializeToDictionary();
  dvac::setJSONValue(dict, kSdkName, sdkName);
  dvac::setJSONValue(dict, kSdkVersion, sdkVersion);
  dvac::setJSONValue(dict, kModel, model);
  dvac::setJSONValue(dict, kOemName, oemName);
  dvac::setJSONValue(dict, kOsName, osName);
  dvac::setJSONValue(dict, kOsVersion, osVersion);
  dvac::setJSONValue(dict, kOsBuild, osBuild);
  if (osApiLevel) dvac::setJSONValue(dict, kOsApiLevel, ns::Value(*osApiLevel));
  dvac::setJSONValue(dict, kLocale, locale);
  if (timeZoneOffset) dvac::setJSONValue(dict, kTimeZoneOffset, ns::Value(*timeZoneOffset));
  dvac::setJSONValue(dict, kScreenSize, screenSize);
  dvac::setJSONValue(dict, kAppVersion, appVersion);
  dvac::setJSONValue(dict, kCarrierName, carrierName);
  dvac::setJSONValue(dict, kCarrierCountry, carrierCountry);
  dvac::setJSONValue(dict, kAppBuild, appBuild);
  dvac::setJSONValue(dict, kAppNamespace, appNamespace);
  return dict;
}

bool DVACDevice::isValid() const {
  if (!DVACWrapperSdk::isValid()) return false;
  const char* missing = nullptr;
  if (!sdkName) missing = kSdkName;
  else if (!sdkVersion) missing = kSdkVersion;
  else if (!osName) missing = kOsName;
  else if (!osVersion) missing = kOsVersion;
  else if (!locale) missing = kLocale;
  else if (!timeZoneOffset) missing = kTimeZoneOffset;
  else if (!appVersion) missing = kAppVersion;
  else if (!appBuild) missing = kAppBuild;
  if (missing) {
    DVACLogInvalidField(className(), missing);
    return false;
  }
  return true;
}

bool DVACDevice::isEqual(const ns::Object& other) const {
  const auto* device = dynamic_cast<const DVACDevice*>(&other);
  if (!device || !DVACWrapperSdk::isEqual(other)) return false;
  return sdkName == device->sdkName && sdkVersion == device->sdkVersion && model == device->model &&
         oemName == device->oemName && osName == device->osName && osVersion == device->osVersion &&
         osBuild == device->osBuild && osApiLevel == device->osApiLevel && locale == device->locale &&
         timeZoneOffset == device->timeZoneOffset && screenSize == device->screenSize &&
         appVersion == device->appVersion && carrierName == device->carrierName &&
         carrierCountry == device->carrierCountry && appBuild == device->appBuild &&
         appNamespace == device->appNamespace;
}

std::string DVACDevice::description() const { return serializeToDictionary().description(); }

std::shared_ptr<DVACDevice> DVACDevice::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto device = std::make_shared<DVACDevice>();
  device->decodeWithCoder(coder);
  return device;
}

void DVACDevice::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACWrapperSdk::decodeWithCoder(coder);
  sdkName = coder.decodeString(kSdkName);
  sdkVersion = coder.decodeString(kSdkVersion);
  model = coder.decodeString(kModel);
  oemName = coder.decodeString(kOemName);
  osName = coder.decodeString(kOsName);
  osVersion = coder.decodeString(kOsVersion);
  osBuild = coder.decodeString(kOsBuild);
  osApiLevel = decodeNumber(coder, kOsApiLevel);
  locale = coder.decodeString(kLocale);
  timeZoneOffset = decodeNumber(coder, kTimeZoneOffset);
  screenSize = coder.decodeString(kScreenSize);
  appVersion = coder.decodeString(kAppVersion);
  carrierName = coder.decodeString(kCarrierName);
  carrierCountry = coder.decodeString(kCarrierCountry);
  appBuild = coder.decodeString(kAppBuild);
  appNamespace = coder.decodeString(kAppNamespace);
}

void DVACDevice::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACWrapperSdk::encodeWithCoder(coder);
  dvac::encodeString(coder, sdkName, kSdkName);
  dvac::encodeString(coder, sdkVersion, kSdkVersion);
  dvac::encodeString(coder, model, kModel);
  dvac::encodeString(coder, oemName, kOemName);
  dvac::encodeString(coder, osName, kOsName);
  dvac::encodeString(coder, osVersion, kOsVersion);
  dvac::encodeString(coder, osBuild, kOsBuild);
  if (osApiLevel) coder.encodeObject(ns::Value(*osApiLevel), kOsApiLevel);
  dvac::encodeString(coder, locale, kLocale);
  if (timeZoneOffset) coder.encodeObject(ns::Value(*timeZoneOffset), kTimeZoneOffset);
  dvac::encodeString(coder, screenSize, kScreenSize);
  dvac::encodeString(coder, appVersion, kAppVersion);
  dvac::encodeString(coder, carrierName, kCarrierName);
  dvac::encodeString(coder, carrierCountry, kCarrierCountry);
  dvac::encodeString(coder, appBuild, kAppBuild);
  dvac::encodeString(coder, appNamespace, kAppNamespace);
}
