#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACUserExtension.h"

namespace {

const bool kUserExtensionRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACUserExtension>("DVACUserExtension");
  return true;
}();

constexpr const char* kUserLocalIdKey = "localId";
constexpr const char* kUserLocaleKey = "locale";

}  // namespace

ns::Value DVACUserExtension::serializeToDictionary() const {
  ns::Value dict;
  dvac::setJSONValue(dict, kUserLocalIdKey, localId);
  dvac::setJSONValue(dict, kUserLocaleKey, locale);
  return dict;
}

bool DVACUserExtension::isEqual(const ns::Object& other) const {
  const auto* ext = dynamic_cast<const DVACUserExtension*>(&other);
  if (!ext) return false;
  return localId == ext->localId && locale == ext->locale;
}

std::shared_ptr<DVACUserExtension> DVACUserExtension::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto ext = std::make_shared<DVACUserExtension>();
  ext->decodeWithCoder(coder);
  return ext;
}

void DVACUserExtension::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  localId = coder.decodeString(kUserLocalIdKey);
  locale = coder.decodeString(kUserLocaleKey);
}

void DVACUserExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, localId, kUserLocalIdKey);
  dvac::encodeString(coder, locale, kUserLocaleKey);
}
