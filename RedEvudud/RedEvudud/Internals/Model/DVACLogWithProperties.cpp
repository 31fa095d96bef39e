#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"

namespace {

const bool kLogWithPropertiesRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACLogWithProperties>("DVACLogWithProperties");
  return true;
}();

constexpr const char* kProperties = "properties";

ns::Value propertiesValue(const DVACPropertiesDictionary& properties) {
  ns::Dictionary dict;
  for (const auto& [key, value] : properties) dict.emplace(key, ns::Value(value));
  return ns::Value(std::move(dict));
}

}  // namespace

ns::Value DVACLogWithProperties::serializeToDictionary() const {
  ns::Value dict = DVACAbstractLog::serializeToDictionary();
  if (properties_ && !properties_->empty()) dvac::setJSONValue(dict, kProperties, propertiesValue(*properties_));
  return dict;
}

bool DVACLogWithProperties::isEqual(const ns::Object& other) const {
  const auto* log = dynamic_cast<const DVACLogWithProperties*>(&other);
  return log && DVACAbstractLog::isEqual(other) && properties_ == log->properties_;
}

std::shared_ptr<DVACLogWithProperties> DVACLogWithProperties::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACLogWithProperties>();
  log->decodeWithCoder(coder);
  return log;
}

void DVACLogWithProperties::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACAbstractLog::decodeWithCoder(coder);
  properties_.reset();
  auto dict = coder.decodeDictionary(kProperties);
  if (!dict) return;
  DVACPropertiesDictionary properties;
  for (const auto& [key, value] : *dict) {
    const auto* text = value.string();
    if (!text) {
      coder.failWithDescription("a property of a log is not a string");
      return;
    }
    properties.emplace(key, *text);
  }
  properties_ = std::move(properties);
}

void DVACLogWithProperties::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACAbstractLog::encodeWithCoder(coder);
  if (properties_) coder.encodeObject(propertiesValue(*properties_), kProperties);
}
