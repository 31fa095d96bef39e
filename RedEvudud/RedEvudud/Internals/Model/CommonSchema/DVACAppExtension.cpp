#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACAppExtension.h"

namespace {

const bool kRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACAppExtension>("DVACAppExtension");
  return true;
}();

constexpr const char* kAppIdKey = "id";
constexpr const char* kVerKey = "ver";
constexpr const char* kNameKey = "name";
constexpr const char* kLocaleKey = "locale";
constexpr const char* kUserIdKey = "userId";

}  // namespace

ns::Value DVACAppExtension::serializeToDictionary() const {
  ns::Value dict;
  dvac::setJSONValue(dict, kAppIdKey, appId);
  dvac::setJSONValue(dict, kVerKey, ver);
  dvac::setJSONValue(dict, kNameKey, name);
  dvac::setJSONValue(dict, kLocaleKey, locale);
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
  ver = coder.decodeString(kVerKey);
  name = coder.decodeString(kNameKey);
  locale = coder.decodeString(kLocaleKey);
  userId = coder.decodeString(kUserIdKey);
}

void DVACAppExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, appId, kAppIdKey);
  dvac::encodeString(coder, ver, kVerKey);
  dvac::encodeString(coder, name, kNameKey);
  dvac::encodeString(coder, locale, kLocaleKey);
  dvac::encodeString(coder, userId, kUserIdKey);
}
