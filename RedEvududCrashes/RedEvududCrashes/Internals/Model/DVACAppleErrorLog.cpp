#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACAppleErrorLog.h"

namespace {

const bool kAppleErrorLogRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACAppleErrorLog>("DVACAppleErrorLog");
  return true;
}();

constexpr const char* kAppleErrorLogPrimaryArchitectureId = "primaryArchitectureId";
constexpr const char* kAppleErrorLogArchitectureVariantId = "architectureVariantId";
constexpr const char* kApplicationPath = "applicationPath";
constexpr const char* kOsExceptionType = "osExceptionType";
constexpr const char* kOsExceptionCode = "osExceptionCode";
constexpr const char* kOsExceptionAddress = "osExceptionAddress";
constexpr const char* kExceptionType = "exceptionType";
constexpr const char* kExceptionReason = "exceptionReason";
constexpr const char* kSelectorRegisterValue = "selectorRegisterValue";
constexpr const char* kThreads = "threads";
constexpr const char* kBinaries = "binaries";
constexpr const char* kRegisters = "registers";
constexpr const char* kAppleErrorLogException = "exception";

ns::Value registersValue(const std::map<std::string, std::string>& registers) {
  ns::Dictionary dict;
  for (const auto& [name, value] : registers) dict.emplace(name, ns::Value(value));
  return ns::Value(std::move(dict));
}

}  // namespace

ns::Value DVACAppleErrorLog::serializeToDictionary() const {
  ns::Value dict = DVACAbstractErrorLog::serializeToDictionary();
  if (primaryArchitectureId)
    dvac::setJSONValue(dict, kAppleErrorLogPrimaryArchitectureId, ns::Value(*primaryArchitectureId));
  if (architectureVariantId)
    dvac::setJSONValue(dict, kAppleErrorLogArchitectureVariantId, ns::Value(*architectureVariantId));
  dvac::setJSONValue(dict, kApplicationPath, applicationPath);
  dvac::setJSONValue(dict, kOsExceptionType, osExceptionType);
  dvac::setJSONValue(dict, kOsExceptionCode, osExceptionCode);
  dvac::setJSONValue(dict, kOsExceptionAddress, osExceptionAddress);
  dvac::setJSONValue(dict, kExceptionType, exceptionType);
  dvac::setJSONValue(dict, kExceptionReason, exceptionReason);
  dvac::setJSONValue(dict, kSelectorRegisterValue, selectorRegisterValue);
  if (threads) dvac::setJSONValue(dict, kThreads, dvac::serializedArray(*threads));
  if (binaries) dvac::setJSONValue(dict, kBinaries, dvac::serializedArray(*binaries));
  if (registers) dvac::setJSONValue(dict, kRegisters, registersValue(*registers));
  if (exception) dvac::setJSONValue(dict, kAppleErrorLogException, exception->serializeToDictionary());
  return dict;
}

bool DVACAppleErrorLog::isValid() const {
  if (!DVACAbstractErrorLog::isValid()) return false;
  if (!primaryArchitectureId) {
    DVACLogInvalidField(className(), kAppleErrorLogPrimaryArchitectureId);
    return false;
  }
  const std::pair<const std::optional<std::string>*, const char*> required[] = {
      {&applicationPath, kApplicationPath},
      {&osExceptionType, kOsExceptionType},
      {&osExceptionCode, kOsExceptionCode},
      {&osExceptionAddress, kOsExceptionAddress}};
  for (const auto& [field, fieldName] : required) {
    if (!*field) {
      DVACLogInvalidField(className(), fieldName);
      return false;
    }
  }
  return true;
}

bool DVACAppleErrorLog::isEqual(const ns::Object& other) const {
  const auto* log = dynamic_cast<const DVACAppleErrorLog*>(&other);
  return log && DVACAbstractErrorLog::isEqual(other) && primaryArchitectureId == log->primaryArchitectureId &&
         architectureVariantId == log->architectureVariantId && applicationPath == log->applicationPath &&
         osExceptionType == log->osExceptionType && osExceptionCode == log->osExceptionCode &&
         osExceptionAddress == log->osExceptionAddress && exceptionType == log->exceptionType &&
         exceptionReason == log->exceptionReason && selectorRegisterValue == log->selectorRegisterValue &&
         dvac::objectArraysEqual(threads, log->threads) && dvac::objectArraysEqual(binaries, log->binaries) &&
         registers == log->registers && dvac::objectsEqual(exception, log->exception);
}

std::shared_ptr<DVACAppleErrorLog> DVACAppleErrorLog::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACAppleErrorLog>();
  log->decodeWithCoder(coder);
  return log;
}

void DVACAppleErrorLog::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACAbstractErrorLog::decodeWithCoder(coder);
  primaryArchitectureId = dvac::decodeUnsignedNumber(coder, kAppleErrorLogPrimaryArchitectureId);
  architectureVariantId = dvac::decodeUnsignedNumber(coder, kAppleErrorLogArchitectureVariantId);
  applicationPath = coder.decodeString(kApplicationPath);
  osExceptionType = coder.decodeString(kOsExceptionType);
  osExceptionCode = coder.decodeString(kOsExceptionCode);
  osExceptionAddress = coder.decodeString(kOsExceptionAddress);
  exceptionType = coder.decodeString(kExceptionType);
  exceptionReason = coder.decodeString(kExceptionReason);
  selectorRegisterValue = coder.decodeString(kSelectorRegisterValue);
  threads = dvac::decodeObjectArray<DVACThread>(coder, kThreads);
  binaries = dvac::decodeObjectArray<DVACBinary>(coder, kBinaries);
  registers.reset();
  if (auto dict = coder.decodeDictionary(kRegisters)) {
    std::map<std::string, std::string> values;
    for (const auto& [name, value] : *dict) {
      const auto* text = value.string();
      if (!text) {
        coder.failWithDescription("a register value of a crash log is not a string");
        break;
      }
      values.emplace(name, *text);
    }
    registers = std::move(values);
  }
  exception = coder.decodeObjectOfClass<DVACExceptionModel>(kAppleErrorLogException);
  isKnownEncodingType = false;
}

void DVACAppleErrorLog::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACAbstractErrorLog::encodeWithCoder(coder);
  if (primaryArchitectureId) coder.encodeObject(ns::Value(*primaryArchitectureId), kAppleErrorLogPrimaryArchitectureId);
  if (architectureVariantId) coder.encodeObject(ns::Value(*architectureVariantId), kAppleErrorLogArchitectureVariantId);
  dvac::encodeString(coder, applicationPath, kApplicationPath);
  dvac::encodeString(coder, osExceptionType, kOsExceptionType);
  dvac::encodeString(coder, osExceptionCode, kOsExceptionCode);
  dvac::encodeString(coder, osExceptionAddress, kOsExceptionAddress);
  dvac::encodeString(coder, exceptionType, kExceptionType);
  dvac::encodeString(coder, exceptionReason, kExceptionReason);
  dvac::encodeString(coder, selectorRegisterValue, kSelectorRegisterValue);
  if (threads) coder.encodeObject(dvac::objectArray(*threads), kThreads);
  if (binaries) coder.encodeObject(dvac::objectArray(*binaries), kBinaries);
  if (registers) coder.encodeObject(registersValue(*registers), kRegisters);
  if (exception) coder.encodeObject(ns::Value(exception), kAppleErrorLogException);
}
