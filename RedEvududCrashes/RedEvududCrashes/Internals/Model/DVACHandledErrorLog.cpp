#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACHandledErrorLog.h"

namespace {

const bool kRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACHandledErrorLog>("DVACHandledErrorLog");
  return true;
}();

constexpr const char* kId = "id";
constexpr const char* kException = "exception";

}  // namespace

ns::Value DVACHandledErrorLog::serializeToDictionary() const {
  ns::Value dict = DVACLogWithProperties::serializeToDictionary();
  dvac::setJSONValue(dict, kId, errorId);
  if (exception) dvac::setJSONValue(dict, kException, exception->serializeToDictionary());
  return dict;
}

bool DVACHandledErrorLog::isValid() const {
  if (!DVACLogWithProperties::isValid()) return false;
  if (!errorId) {
    DVACLogInvalidField(className(), "errorId");
    return false;
  }
  if (!exception) {
    DVACLogInvalidField(className(), kException);
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
  errorId = coder.decodeString(kId);
  exception = coder.decodeObjectOfClass<DVACExceptionModel>(kException);
}

void DVACHandledErrorLog::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACLogWithProperties::encodeWithCoder(coder);
  dvac::encodeString(coder, errorId, kId);
  if (exception) coder.encodeObject(ns::Value(exception), kException);
}
