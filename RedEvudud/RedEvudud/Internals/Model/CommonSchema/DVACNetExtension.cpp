#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACNetExtension.h"

namespace {

const bool kNetExtensionRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACNetExtension>("DVACNetExtension");
  return true;
}();

constexpr const char* kProviderKey = "provider";

}  // namespace

ns::Value DVACNetExtension::serializeToDictionary() const {
  ns::Value dict;
  dvac::setJSONValue(dict, kProviderKey, provider);
  return dict;
}

bool DVACNetExtension::isEqual(const ns::Object& other) const {
  const auto* ext = dynamic_cast<const DVACNetExtension*>(&other);
  if (!ext) return false;
  return provider == ext->provider;
}

std::shared_ptr<DVACNetExtension> DVACNetExtension::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto ext = std::make_shared<DVACNetExtension>();
  ext->decodeWithCoder(coder);
  return ext;
}

void DVACNetExtension::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  provider = coder.decodeString(kProviderKey);
}

void DVACNetExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, provider, kProviderKey);
}
