#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACLogWithNameAndProperties.h"

namespace {

const bool kLogWithNameAndPropertiesRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACLogWithNameAndProperties>("DVACLogWithNameAndProperties");
  return true;
}();

constexpr const char* kLogName = "name";

}  // namespace

ns::Value DVACLogWithNameAndProperties::serializeToDictionary() const {
  ns::Value dict = DVACLogWithProperties::serializeToDictionary();
  dvac::setJSONValue(dict, kLogName, name_);
  return dict;
}

bool DVACLogWithNameAndProperties::isValid() const {
  if (!DVACLogWithProperties::isValid()) return false;
  if (!name_) {
    DVACLogInvalidField(className(), kLogName);
    return false;
  }
  return true;
}

bool DVACLogWithNameAndProperties::isEqual(const ns::Object& other) const {
  const auto* log = dynamic_cast<const DVACLogWithNameAndProperties*>(&other);
  return log && DVACLogWithProperties::isEqual(other) && name_ == log->name_;
}

std::shared_ptr<DVACLogWithNameAndProperties> DVACLogWithNameAndProperties::initWithCoder(
    ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACLogWithNameAndProperties>();
  log->decodeWithCoder(coder);
  return log;
}

void DVACLogWithNameAndProperties::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACLogWithProperties::decodeWithCoder(coder);
  name_ = coder.decodeString(kLogName);
}

void DVACLogWithNameAndProperties::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACLogWithProperties::encodeWithCoder(coder);
  dvac::encodeString(coder, name_, kLogName);
}
