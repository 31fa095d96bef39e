#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACAppExtension.h"

namespace {

const bool kAppExtensionRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACAppExtension>("DVACAppExtension");
  return true;
}();

constexpr const char* kAppIdKey = "id";
constexpr const char* kAppVerKey = "ver";
constexpr const char* kAppNameKey = "name";
constexpr const char* kAppLocaleKey = "locale";
constexpr const char* kUserIdKey = "userId";

}  // namespace

ns::Value DVACAppExtension::serializeToDictionary() const {
  ns::Value dict;
  dvac::setJSONValue(dict, kAppIdKey, appId);
  dvac::setJSONValue(dict, kAppVerKey, ver);
  dvac::setJSONValue(dict, kAppNameKey, name);
  dvac::setJSONValue(dict, kAppLocaleKey, locale);
  dvac::setJSONValue(dict, kUserIdKey, userId);
  return dict;
}

bool DVACAppExtension::isEqual(const ns::Object& other) const {
  const auto* ext = dynamic_cast<const DVACAppExtension*>(&other);
  if (!ext) return false;
  return appId == ext->appId && ver == ext->ver && name == ext->name && locale == ext->locale && userId == ext->userId;
}

std::shared_ptr<DVACAppExtension> DVACAppExtension::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto ext = std::make_shared<DVACAppExtension>();
  ext->decodeWithCoder(coder);
  return ext;
}

void DVACAppExtension::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  appId = coder.decodeString(kAppIdKey);
  ver = coder.decodeString(kAppVerKey);
  name = coder.decodeString(kAppNameKey);
  locale = coder.decodeString(kAppLocaleKey);
  userId = coder.decodeString(kUserIdKey);
}

void DVACAppExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, appId, kAppIdKey);
  dvac::encodeString(coder, ver, kAppVerKey);
  dvac::encodeString(coder, name, kAppNameKey);
  dvac::encodeString(coder, locale, kAppLocaleKey);
  dvac::encodeString(coder, userId, kUserIdKey);
}
