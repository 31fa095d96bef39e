#include "RedEvudud/RedEvudud/Internals/Model/DVACBooleanTypedProperty.h"

namespace {

const bool kBooleanTypedPropertyRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACBooleanTypedProperty>("DVACBooleanTypedProperty");
  return true;
}();

}  // namespace

DVACBooleanTypedProperty::DVACBooleanTypedProperty() { type = kTypeWord; }

ns::Value DVACBooleanTypedProperty::serializeToDictionary() const {
  ns::Value dict = DVACTypedProperty::serializeToDictionary();
  dvac::setJSONValue(dict, kValueKey, ns::Value(value));
  return dict;
}

bool DVACBooleanTypedProperty::isEqual(const ns::Object& other) const {
  const auto* property = dynamic_cast<const DVACBooleanTypedProperty*>(&other);
  return property && DVACTypedProperty::isEqual(other) && value == property->value;
}

std::shared_ptr<DVACBooleanTypedProperty> DVACBooleanTypedProperty::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto property = std::make_shared<DVACBooleanTypedProperty>();
  property->decodeWithCoder(coder);
  return property;
}

void DVACBooleanTypedProperty::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACTypedProperty::decodeWithCoder(coder);
  value = coder.decodeBool(kValueKey);
}

void DVACBooleanTypedProperty::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACTypedProperty::encodeWithCoder(coder);
  coder.encodeBool(value, kValueKey);
}
