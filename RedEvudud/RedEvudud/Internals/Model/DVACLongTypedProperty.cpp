#include "RedEvudud/RedEvudud/Internals/Model/DVACLongTypedProperty.h"

namespace {

const bool kLongTypedPropertyRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACLongTypedProperty>("DVACLongTypedProperty");
  return true;
}();

}  // namespace

DVACLongTypedProperty::DVACLongTypedProperty() { type = kTypeWord; }

ns::Value DVACLongTypedProperty::serializeToDictionary() const {
  ns::Value dict = DVACTypedProperty::serializeToDictionary();
  dvac::setJSONValue(dict, kValueKey, ns::Value(value));
  return dict;
}

bool DVACLongTypedProperty::isEqual(const ns::Object& other) const {
  const auto* property = dynamic_cast<const DVACLongTypedProperty*>(&other);
  return property && DVACTypedProperty::isEqual(other) && value == property->value;
}

std::shared_ptr<DVACLongTypedProperty> DVACLongTypedProperty::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto property = std::make_shared<DVACLongTypedProperty>();
  property->decodeWithCoder(coder);
  return property;
}

void DVACLongTypedProperty::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACTypedProperty::decodeWithCoder(coder);
  value = coder.decodeInt64(kValueKey);
}

void DVACLongTypedProperty::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACTypedProperty::encodeWithCoder(coder);
  coder.encodeInt64(value, kValueKey);
}
