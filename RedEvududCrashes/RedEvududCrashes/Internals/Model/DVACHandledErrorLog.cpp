#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACHandledErrorLog.h"

namespace {

const bool kHandledErrorLogRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACHandledErrorLog>("DVACHandledErrorLog");
  return true;
}();

constexpr const char* kHandledErrorId = "id";
constexpr const char* kHandledErrorException = "exception";

}  // namespace

ns::Value DVACHandledErrorLog::serializeToDictionary() const {
  ns::Value dict = DVACLogWithProperties::serializeToDictionary();
  dvac::setJSONValue(dict, kHandledErrorId, errorId);
  if (exception) dvac::setJSONValue(dict, kHandledErrorException, exception->serializeToDictionary());
  return dict;
}

bool DVACHandledErrorLog::isValid() const {
  if (!DVACLogWithProperties::isValid()) return false;
  if (!errorId) {
    DVACLogInvalidField(className(), "errorId");
    return false;
  }
  if (!exception) {
    DVACLogInvalidField(className(), kHandledErrorException);
    return false;
  }
  return true;
}

bool DVACHandledErrorLog::isEqual(const ns::Object& other) const {
  const auto* log = dynamic_cast<const DVACHandledErrorLog*>(&other);
  return log && DVACLogWithProperties::isEqual(other) && errorId == log->errorId &&
         dvac::objectsEqual(exception, log->exception);
}

std::shared_ptr<DVACHandledErrorLog> DVACHandledErrorLog::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACHandledErrorLog>();
  log->decodeWithCoder(coder);
  return log;
}

void DVACHandledErrorLog::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACLogWithProperties::decodeWithCoder(coder);
  errorId = coder.decodeString(kHandledErrorId);
  exception = coder.decodeObjectOfClass<DVACExceptionModel>(kHandledErrorException);
}

void DVACHandledErrorLog::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACLogWithProperties::encodeWithCoder(coder);
  dvac::encodeString(coder, errorId, kHandledErrorId);
  if (exception) coder.encodeObject(ns::Value(exception), kHandledErrorException);
}
