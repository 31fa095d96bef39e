#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACWrapperException.h"

namespace {

const bool kWrapperExceptionRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACWrapperException>("DVACWrapperException");
  return true;
}();

constexpr const char* kModelException = "modelException";
constexpr const char* kExceptionData = "exceptionData";
constexpr const char* kWrapperExceptionProcessId = "processId";

}  // namespace

ns::Value DVACWrapperException::serializeToDictionary() const {
  ns::Value dict{ns::Dictionary{}};
  if (modelException) dvac::setJSONValue(dict, kModelException, modelException->serializeToDictionary());
  if (processId) dvac::setJSONValue(dict, kWrapperExceptionProcessId, ns::Value(*processId));
  if (exceptionData) dvac::setJSONValue(dict, kExceptionData, ns::Value(*exceptionData));
  return dict;
}

bool DVACWrapperException::isEqual(const ns::Object& other) const {
  const auto* exception = dynamic_cast<const DVACWrapperException*>(&other);
  return exception && dvac::objectsEqual(modelException, exception->modelException) &&
         exceptionData == exception->exceptionData && processId == exception->processId;
}

std::shared_ptr<DVACWrapperException> DVACWrapperException::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto exception = std::make_shared<DVACWrapperException>();
  exception->modelException = coder.decodeObjectOfClass<DVACExceptionModel>(kModelException);
  exception->exceptionData = coder.decodeData(kExceptionData);
  exception->processId = dvac::decodeUnsignedNumber(coder, kWrapperExceptionProcessId);
  return exception;
}

void DVACWrapperException::encodeWithCoder(ns::KeyedArchiver& coder) const {
  if (modelException) coder.encodeObject(ns::Value(modelException), kModelException);
  if (exceptionData) coder.encodeObject(ns::Value(*exceptionData), kExceptionData);
  if (processId) coder.encodeObject(ns::Value(*processId), kWrapperExceptionProcessId);
}
