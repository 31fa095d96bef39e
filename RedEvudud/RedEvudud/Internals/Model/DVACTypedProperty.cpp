#include "RedEvudud/RedEvudud/Internals/Model/DVACTypedProperty.h"

namespace {

const bool kTypedPropertyRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACTypedProperty>("DVACTypedProperty");
  return true;
}();

constexpr const char* kPropertyType = "type";
constexpr const char* kPropertyName = "name";

}  // namespace

ns::Value DVACTypedProperty::serializeToDictionary() const {
  ns::Value dict{ns::Dictionary{}};
  dvac::setJSONValue(dict, kPropertyType, type);
  dvac::setJSONValue(dict, kPropertyName, name);
  return dict;
}

bool DVACTypedProperty::isEqual(const ns::Object& other) const {
  const auto* property = dynamic_cast<const DVACTypedProperty*>(&other);
  return property && type == property->type;
}

std::shared_ptr<DVACTypedProperty> DVACTypedProperty::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto property = std::make_shared<DVACTypedProperty>();
  property->decodeWithCoder(coder);
  return property;
}

void DVACTypedProperty::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  type = coder.decodeString(kPropertyType);
  name = coder.decodeString(kPropertyName);
}

void DVACTypedProperty::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, type, kPropertyType);
  dvac::encodeString(coder, name, kPropertyName);
}
