#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACOSExtension.h"

namespace {

const bool kRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACOSExtension>("DVACOSExtension");
  return true;
}();

constexpr const char* kNameKey = "name";
constexpr const char* kVerKey = "ver";

}  // namespace

ns::Value DVACOSExtension::serializeToDictionary() const {
  ns::Value dict;
  dvac::setJSONValue(dict, kVerKey, ver);
  dvac::setJSONValue(dict, kNameKey, name);
  return dict;
}

bool DVACOSExtension::isEqual(const ns::Object& other) const {
  const auto* ext = dynamic_cast<const DVACOSExtension*>(&other);
  if (!ext) return false;
  return name == ext->name && ver == ext->ver;
}

std::shared_ptr<DVACOSExtension> DVACOSExtension::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto ext = std::make_shared<DVACOSExtension>();
  ext->decodeWithCoder(coder);
  return ext;
}

void DVACOSExtension::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  name = coder.decodeString(kNameKey);
  ver = coder.decodeString(kVerKey);
}

void DVACOSExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, name, kNameKey);
  dvac::encodeString(coder, ver, kVerKey);
}
