#include "RedEvudud/RedEvudud/Internals/Model/DVACStringTypedProperty.h"

namespace {

const bool kStringTypedPropertyRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACStringTypedProperty>("DVACStringTypedProperty");
  return true;
}();

}  // namespace

DVACStringTypedProperty::DVACStringTypedProperty() { type = kTypeWord; }

ns::Value DVACStringTypedProperty::serializeToDictionary() const {
  ns::Value dict = DVACTypedProperty::serializeToDictionary();
  if (value) dvac::setJSONValue(dict, kValueKey, ns::Value(*value));
  return dict;
}

bool DVACStringTypedProperty::isEqual(const ns::Object& other) const {
  const auto* property = dynamic_cast<const DVACStringTypedProperty*>(&other);
  return property && DVACTypedProperty::isEqual(other) && value == property->value;
}

std::shared_ptr<DVACStringTypedProperty> DVACStringTypedProperty::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto property = std::make_shared<DVACStringTypedProperty>();
  property->decodeWithCoder(coder);
  return property;
}

void DVACStringTypedProperty::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACTypedProperty::decodeWithCoder(coder);
  value = coder.decodeString(kValueKey);
}

void DVACStringTypedProperty::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACTypedProperty::encodeWithCoder(coder);
  dvac::encodeString(coder, value, kValueKey);
}
