#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACThread.h"

namespace {

const bool kRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACThread>("DVACThread");
  return true;
}();

constexpr const char* kId = "id";
constexpr const char* kName = "name";
constexpr const char* kFrames = "frames";
constexpr const char* kException = "exception";

}  // namespace

ns::Value DVACThread::serializeToDictionary() const {
  ns::Value dict{ns::Dictionary{}};
  if (threadId) dvac::setJSONValue(dict, kId, ns::Value(*threadId));
  dvac::setJSONValue(dict, kName, name);
  if (frames) dvac::setJSONValue(dict, kFrames, dvac::serializedArray(*frames));
  if (exception) dvac::setJSONValue(dict, kException, exception->serializeToDictionary());
  return dict;
}

bool DVACThread::isValid() const {
  if (!threadId) {
    DVACLogInvalidField(className(), "threadId");
    return false;
  }
  if (!frames || frames->empty()) {
    DVACLogInvalidField(className(), kFrames);
    return false;
  }
  return true;
}

bool DVACThread::isEqual(const ns::Object& other) const {
  const auto* thread = dynamic_cast<const DVACThread*>(&other);
  return thread && threadId == thread->threadId && name == thread->name &&
         dvac::objectArraysEqual(frames, thread->frames) && dvac::objectsEqual(exception, thread->exception);
}

std::string DVACThread::description() const { return serializeToDictionary().description(); }

std::shared_ptr<DVACThread> DVACThread::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto thread = std::make_shared<DVACThread>();
  thread->frames.reset();
  thread->threadId = dvac::decodeSignedNumber(coder, kId);
  thread->name = coder.decodeString(kName);
  thread->frames = dvac::decodeObjectArray<DVACStackFrame>(coder, kFrames);
  thread->exception = coder.decodeObjectOfClass<DVACExceptionModel>(kException);
  return thread;
}

void DVACThread::encodeWithCoder(ns::KeyedArchiver& coder) const {
  if (threadId) coder.encodeObject(ns::Value(*threadId), kId);
  dvac::encodeString(coder, name, kName);
  if (frames) coder.encodeObject(dvac::objectArray(*frames), kFrames);
  if (exception) coder.encodeObject(ns::Value(exception), kException);
}
