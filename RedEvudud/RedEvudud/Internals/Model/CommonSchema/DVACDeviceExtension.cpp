#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACDeviceExtension.h"

namespace {

const bool kDeviceExtensionRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACDeviceExtension>("DVACDeviceExtension");
  return true;
}();

constexpr const char* kDeviceLocalIdKey = "localId";

}  // namespace

ns::Value DVACDeviceExtension::serializeToDictionary() const {
  ns::Value dict;
  dvac::setJSONValue(dict, kDeviceLocalIdKey, localId);
  return dict;
}

bool DVACDeviceExtension::isEqual(const ns::Object& other) const {
  const auto* ext = dynamic_cast<const DVACDeviceExtension*>(&other);
  if (!ext) return false;
  return localId == ext->localId;
}

std::shared_ptr<DVACDeviceExtension> DVACDeviceExtension::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto ext = std::make_shared<DVACDeviceExtension>();
  ext->decodeWithCoder(coder);
  return ext;
}

void DVACDeviceExtension::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  localId = coder.decodeString(kDeviceLocalIdKey);
}

void DVACDeviceExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, localId, kDeviceLocalIdKey);
}
