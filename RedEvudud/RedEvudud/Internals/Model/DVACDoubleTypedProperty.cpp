#include "RedEvudud/RedEvudud/Internals/Model/DVACDoubleTypedProperty.h"

namespace {

const bool kDoubleTypedPropertyRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACDoubleTypedProperty>("DVACDoubleTypedProperty");
  return true;
}();

}  // namespace

DVACDoubleTypedProperty::DVACDoubleTypedProperty() { type = kTypeWord; }

ns::Value DVACDoubleTypedProperty::serializeToDictionary() const {
  ns::Value dict = DVACTypedProperty::serializeToDictionary();
  dvac::setJSONValue(dict, kValueKey, ns::Value(value));
  return dict;
}

bool DVACDoubleTypedProperty::isEqual(const ns::Object& other) const {
  const auto* property = dynamic_cast<const DVACDoubleTypedProperty*>(&other);
  return property && DVACTypedProperty::isEqual(other) && value == property->value;
}

std::shared_ptr<DVACDoubleTypedProperty> DVACDoubleTypedProperty::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto property = std::make_shared<DVACDoubleTypedProperty>();
  property->decodeWithCoder(coder);
  return property;
}

void DVACDoubleTypedProperty::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACTypedProperty::decodeWithCoder(coder);
  value = coder.decodeDouble(kValueKey);
}

void DVACDoubleTypedProperty::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACTypedProperty::encodeWithCoder(coder);
  coder.encodeDouble(value, kValueKey);
}
