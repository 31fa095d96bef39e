#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACLocExtension.h"

namespace {

const bool kLocExtensionRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACLocExtension>("DVACLocExtension");
  return true;
}();

constexpr const char* kTzKey = "tz";

}  // namespace

ns::Value DVACLocExtension::serializeToDictionary() const {
  ns::Value dict;
  dvac::setJSONValue(dict, kTzKey, tz);
  return dict;
}

bool DVACLocExtension::isEqual(const ns::Object& other) const {
  const auto* ext = dynamic_cast<const DVACLocExtension*>(&other);
  if (!ext) return false;
  return tz == ext->tz;
}

std::shared_ptr<DVACLocExtension> DVACLocExtension::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto ext = std::make_shared<DVACLocExtension>();
  ext->decodeWithCoder(coder);
  return ext;
}

void DVACLocExtension::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  tz = coder.decodeString(kTzKey);
}

void DVACLocExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, tz, kTzKey);
}
