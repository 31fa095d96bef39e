#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACUserExtension.h"

namespace {

const bool kRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACUserExtension>("DVACUserExtension");
  return true;
}();

constexpr const char* kLocalIdKey = "localId";
constexpr const char* kLocaleKey = "locale";

}  // namespace

ns::Value DVACUserExtension::serializeToDictionary() const {
  ns::Value dict;
  dvac::setJSONValue(dict, kLocalIdKey, localId);
  dvac::setJSONValue(dict, kLocaleKey, locale);
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
  localId = coder.decodeString(kLocalIdKey);
  locale = coder.decodeString(kLocaleKey);
}

void DVACUserExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, localId, kLocalIdKey);
  dvac::encodeString(coder, locale, kLocaleKey);
}
