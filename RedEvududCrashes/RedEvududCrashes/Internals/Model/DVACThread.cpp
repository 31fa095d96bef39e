#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACThread.h"

namespace {

const bool kThreadRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACThread>("DVACThread");
  return true;
}();

constexpr const char* kThreadId = "id";
constexpr const char* kThreadName = "name";
constexpr const char* kThreadFrames = "frames";
constexpr const char* kThreadException = "exception";

}  // namespace

ns::Value DVACThread::serializeToDictionary() const {
  ns::Value dict{ns::Dictionary{}};
  if (threadId) dvac::setJSONValue(dict, kThreadId, ns::Value(*threadId));
  dvac::setJSONValue(dict, kThreadName, name);
  if (frames) dvac::setJSONValue(dict, kThreadFrames, dvac::serializedArray(*frames));
  if (exception) dvac::setJSONValue(dict, kThreadException, exception->serializeToDictionary());
  return dict;
}

bool DVACThread::isValid() const {
  if (!threadId) {
    DVACLogInvalidField(className(), "threadId");
    return false;
  }
  if (!frames || frames->empty()) {
    DVACLogInvalidField(className(), kThreadFrames);
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
  thread->threadId = dvac::decodeSignedNumber(coder, kThreadId);
  thread->name = coder.decodeString(kThreadName);
  thread->frames = dvac::decodeObjectArray<DVACStackFrame>(coder, kThreadFrames);
  thread->exception = coder.decodeObjectOfClass<DVACExceptionModel>(kThreadException);
  return thread;
}

void DVACThread::encodeWithCoder(ns::KeyedArchiver& coder) const {
  if (threadId) coder.encodeObject(ns::Value(*threadId), kThreadId);
  dvac::encodeString(coder, name, kThreadName);
  if (frames) coder.encodeObject(dvac::objectArray(*frames), kThreadFrames);
  if (exception) coder.encodeObject(ns::Value(exception), kThreadException);
}
