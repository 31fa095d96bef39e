#include "RedEvududCrashes/RedEvududCrashes/Model/DVACExceptionModel.h"

#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACCrashesCallStack.h"

namespace {

const bool kExceptionModelRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACExceptionModel>("DVACExceptionModel");
  return true;
}();

constexpr const char* kExceptionModelType = "type";
constexpr const char* kMessage = "message";
constexpr const char* kStackTrace = "stackTrace";
constexpr const char* kExceptionModelFrames = "frames";

// The platform's description of an array of strings.
std::string arrayDescription(const std::vector<std::string>& lines) {
  return dvac::stringArrayValue(lines).description();
}

}  // namespace

void DVACExceptionModel::setStack(const std::vector<std::string>& symbols) {
  stackTrace = arrayDescription(symbols);
  frames = loadStackTrace(symbols);
}

std::shared_ptr<DVACExceptionModel> DVACExceptionModel::initWithError(const ns::Error& error) {
  auto model = std::make_shared<DVACExceptionModel>();
  if (!error.domain.empty()) model->type = error.domain;
  if (!error.userInfo.empty()) model->message = ns::Value(error.userInfo).description();
  model->setStack(dvac::currentCallStackSymbols(1));
  return model;
}

std::shared_ptr<DVACExceptionModel> DVACExceptionModel::initWithException(const DVACExceptionDescription& exception) {
  auto model = std::make_shared<DVACExceptionModel>();
  model->type = exception.name;
  model->message = exception.reason;
  if (exception.callStackSymbols) {
    model->setStack(*exception.callStackSymbols);
  } else {
    model->frames = loadStackTrace(dvac::currentCallStackSymbols(1));
  }
  return model;
}

std::shared_ptr<DVACExceptionModel> DVACExceptionModel::initWithException(const ns::NSException& exception) {
  return initWithException(DVACExceptionDescription{
      exception.name(), exception.reason(), dvac::callStackSymbolsForAddresses(exception.callStackReturnAddresses())});
}

std::shared_ptr<DVACExceptionModel> DVACExceptionModel::initWithType(
    std::optional<std::string> type, std::optional<std::string> exceptionMessage,
    std::optional<std::vector<std::string>> stackTrace) {
  auto model = std::make_shared<DVACExceptionModel>();
  model->type = std::move(type);
  model->message = std::move(exceptionMessage);
  model->setStack(stackTrace ? *stackTrace : dvac::currentCallStackSymbols(1));
  return model;
}

DVACStackFrames DVACExceptionModel::loadStackTrace(const std::vector<std::string>& stackTrace) {
  DVACStackFrames frames;
  for (const auto& line : stackTrace) {
    auto parts = dvac::parseCallStackSymbol(line);
    if (!parts) continue;
    auto frame = std::make_shared<DVACStackFrame>();
    frame->address = std::move(parts->address);
    frame->fileName = std::move(parts->image);
    frame->className_ = std::move(parts->className);
    frame->methodName = std::move(parts->methodName);
    frames.push_back(std::move(frame));
  }
  return frames;
}

ns::Value DVACExceptionModel::serializeToDictionary() const {
  ns::Value dict{ns::Dictionary{}};
  dvac::setJSONValue(dict, kExceptionModelType, type);
  dvac::setJSONValue(dict, kMessage, message);
  dvac::setJSONValue(dict, kStackTrace, stackTrace);
  if (frames) dvac::setJSONValue(dict, kExceptionModelFrames, dvac::serializedArray(*frames));
  return dict;
}

bool DVACExceptionModel::isValid() const {
  if (!type) {
    DVACLogInvalidField(className(), kExceptionModelType);
    return false;
  }
  if (!frames || frames->empty()) {
    DVACLogInvalidField(className(), kExceptionModelFrames);
    return false;
  }
  return true;
}

bool DVACExceptionModel::isEqual(const ns::Object& other) const {
  const auto* model = dynamic_cast<const DVACExceptionModel*>(&other);
  return model && type == model->type && message == model->message &&
         dvac::objectArraysEqual(frames, model->frames) && stackTrace == model->stackTrace;
}

std::string DVACExceptionModel::description() const { return serializeToDictionary().description(); }

std::shared_ptr<DVACExceptionModel> DVACExceptionModel::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto model = std::make_shared<DVACExceptionModel>();
  model->decodeWithCoder(coder);
  return model;
}

void DVACExceptionModel::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  type = coder.decodeString(kExceptionModelType);
  message = coder.decodeString(kMessage);
  stackTrace = coder.decodeString(kStackTrace);
  frames = dvac::decodeObjectArray<DVACStackFrame>(coder, kExceptionModelFrames);
}

void DVACExceptionModel::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, type, kExceptionModelType);
  dvac::encodeString(coder, message, kMessage);
  dvac::encodeString(coder, stackTrace, kStackTrace);
  if (frames) coder.encodeObject(dvac::objectArray(*frames), kExceptionModelFrames);
}
