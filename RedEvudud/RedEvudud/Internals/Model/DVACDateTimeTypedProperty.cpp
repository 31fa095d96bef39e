#include "RedEvudud/RedEvudud/Internals/Model/DVACDateTimeTypedProperty.h"

#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"

namespace {

const bool kDateTimeTypedPropertyRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACDateTimeTypedProperty>("DVACDateTimeTypedProperty");
  return true;
}();

}  // namespace

DVACDateTimeTypedProperty::DVACDateTimeTypedProperty() { type = kTypeWord; }

ns::Value DVACDateTimeTypedProperty::serializeToDictionary() const {
  ns::Value dict = DVACTypedProperty::serializeToDictionary();
  if (value) dvac::setJSONValue(dict, kValueKey, ns::Value(DVACUtility::dateToISO8601(*value)));
  return dict;
}

bool DVACDateTimeTypedProperty::isEqual(const ns::Object& other) const {
  const auto* property = dynamic_cast<const DVACDateTimeTypedProperty*>(&other);
  return property && DVACTypedProperty::isEqual(other) && value == property->value;
}

std::shared_ptr<DVACDateTimeTypedProperty> DVACDateTimeTypedProperty::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto property = std::make_shared<DVACDateTimeTypedProperty>();
  property->decodeWithCoder(coder);
  return property;
}

void DVACDateTimeTypedProperty::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACTypedProperty::decodeWithCoder(coder);
  value = coder.decodeDate(kValueKey);
}

void DVACDateTimeTypedProperty::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACTypedProperty::encodeWithCoder(coder);
  if (value) coder.encodeObject(ns::Value(*value), kValueKey);
}
