#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACOSExtension.h"

namespace {

const bool kOSExtensionRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACOSExtension>("DVACOSExtension");
  return true;
}();

constexpr const char* kOSNameKey = "name";
constexpr const char* kOSVerKey = "ver";

}  // namespace

ns::Value DVACOSExtension::serializeToDictionary() const {
  ns::Value dict;
  dvac::setJSONValue(dict, kOSVerKey, ver);
  dvac::setJSONValue(dict, kOSNameKey, name);
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
  name = coder.decodeString(kOSNameKey);
  ver = coder.decodeString(kOSVerKey);
}

void DVACOSExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, name, kOSNameKey);
  dvac::encodeString(coder, ver, kOSVerKey);
}
