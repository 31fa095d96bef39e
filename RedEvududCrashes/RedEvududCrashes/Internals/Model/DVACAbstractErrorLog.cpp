#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACAbstractErrorLog.h"

#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACStackFrame.h"

namespace {

const bool kAbstractErrorLogRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACAbstractErrorLog>("DVACAbstractErrorLog");
  return true;
}();

constexpr const char* kErrorLogId = "id";
constexpr const char* kErrorLogProcessId = "processId";
constexpr const char* kProcessName = "processName";
constexpr const char* kParentProcessId = "parentProcessId";
constexpr const char* kParentProcessName = "parentProcessName";
constexpr const char* kErrorThreadId = "errorThreadId";
constexpr const char* kErrorThreadName = "errorThreadName";
constexpr const char* kFatal = "fatal";
constexpr const char* kAppLaunchTimestamp = "appLaunchTimestamp";
constexpr const char* kErrorLogArchitecture = "architecture";

}  // namespace

ns::Value DVACAbstractErrorLog::serializeToDictionary() const {
  ns::Value dict = DVACLogWithProperties::serializeToDictionary();
  dvac::setJSONValue(dict, kErrorLogId, errorId);
  if (processId) dvac::setJSONValue(dict, kErrorLogProcessId, ns::Value(*processId));
  dvac::setJSONValue(dict, kProcessName, processName);
  if (parentProcessId) dvac::setJSONValue(dict, kParentProcessId, ns::Value(*parentProcessId));
  dvac::setJSONValue(dict, kParentProcessName, parentProcessName);
  if (errorThreadId) dvac::setJSONValue(dict, kErrorThreadId, ns::Value(*errorThreadId));
  dvac::setJSONValue(dict, kErrorThreadName, errorThreadName);
  dvac::setJSONValue(dict, kFatal, ns::Value(fatal));
  if (appLaunchTimestamp) {
    dvac::setJSONValue(dict, kAppLaunchTimestamp, ns::Value(DVACUtility::dateToISO8601(*appLaunchTimestamp)));
  }
  dvac::setJSONValue(dict, kErrorLogArchitecture, architecture);
  return dict;
}

bool DVACAbstractErrorLog::isValid() const {
  if (!DVACLogWithProperties::isValid()) return false;
  if (!errorId) {
    DVACLogInvalidField(className(), "errorId");
    return false;
  }
  if (!processId) {
    DVACLogInvalidField(className(), kErrorLogProcessId);
    return false;
  }
  if (!processName) {
    DVACLogInvalidField(className(), kProcessName);
    return false;
  }
  return true;
}

bool DVACAbstractErrorLog::isEqual(const ns::Object& other) const {
  const auto* log = dynamic_cast<const DVACAbstractErrorLog*>(&other);
  return log && DVACLogWithProperties::isEqual(other) && errorId == log->errorId && processId == log->processId &&
         processName == log->processName && parentProcessId == log->parentProcessId &&
         parentProcessName == log->parentProcessName && errorThreadId == log->errorThreadId &&
         errorThreadName == log->errorThreadName && fatal == log->fatal &&
         appLaunchTimestamp == log->appLaunchTimestamp && architecture == log->architecture;
}

std::shared_ptr<DVACAbstractErrorLog> DVACAbstractErrorLog::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACAbstractErrorLog>();
  log->decodeWithCoder(coder);
  return log;
}

void DVACAbstractErrorLog::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACLogWithProperties::decodeWithCoder(coder);
  errorId = coder.decodeString(kErrorLogId);
  processId = dvac::decodeUnsignedNumber(coder, kErrorLogProcessId);
  processName = coder.decodeString(kProcessName);
  parentProcessId = dvac::decodeUnsignedNumber(coder, kParentProcessId);
  parentProcessName = coder.decodeString(kParentProcessName);
  errorThreadId = dvac::decodeSignedNumber(coder, kErrorThreadId);
  errorThreadName = coder.decodeString(kErrorThreadName);
  fatal = coder.decodeBool(kFatal);
  appLaunchTimestamp = coder.decodeDate(kAppLaunchTimestamp);
  architecture = coder.decodeString(kErrorLogArchitecture);
}

void DVACAbstractErrorLog::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACLogWithProperties::encodeWithCoder(coder);
  dvac::encodeString(coder, errorId, kErrorLogId);
  if (processId) coder.encodeObject(ns::Value(*processId), kErrorLogProcessId);
  dvac::encodeString(coder, processName, kProcessName);
  if (parentProcessId) coder.encodeObject(ns::Value(*parentProcessId), kParentProcessId);
  dvac::encodeString(coder, parentProcessName, kParentProcessName);
  if (errorThreadId) coder.encodeObject(ns::Value(*errorThreadId), kErrorThreadId);
  dvac::encodeString(coder, errorThreadName, kErrorThreadName);
  coder.encodeBool(fatal, kFatal);
  if (appLaunchTimestamp) coder.encodeObject(ns::Value(*appLaunchTimestamp), kAppLaunchTimestamp);
  dvac::encodeString(coder, architecture, kErrorLogArchitecture);
}
