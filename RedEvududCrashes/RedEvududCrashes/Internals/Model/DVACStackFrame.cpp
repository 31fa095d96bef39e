#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACStackFrame.h"

namespace {

const bool kStackFrameRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACStackFrame>("DVACStackFrame");
  return true;
}();

constexpr const char* kAddress = "address";
constexpr const char* kCode = "code";
constexpr const char* kClassName = "className";
constexpr const char* kMethodName = "methodName";
constexpr const char* kLineNumber = "lineNumber";
constexpr const char* kFrameFileName = "fileName";

}  // namespace

namespace dvac {

std::optional<int64_t> decodeSignedNumber(ns::KeyedUnarchiver& coder, std::string_view key) {
  auto value = coder.decodeObject(key);
  if (!value || value->isNull()) return std::nullopt;
  if (!value->isNumber()) {
    coder.failWithDescription("\"" + std::string(key) + "\" is not a number");
    return std::nullopt;
  }
  return value->asInt64();
}

std::optional<uint64_t> decodeUnsignedNumber(ns::KeyedUnarchiver& coder, std::string_view key) {
  auto value = coder.decodeObject(key);
  if (!value || value->isNull()) return std::nullopt;
  if (!value->isNumber()) {
    coder.failWithDescription("\"" + std::string(key) + "\" is not a number");
    return std::nullopt;
  }
  return value->asUInt64();
}

}  // namespace dvac

ns::Value DVACStackFrame::serializeToDictionary() const {
  ns::Value dict{ns::Dictionary{}};
  dvac::setJSONValue(dict, kAddress, address);
  dvac::setJSONValue(dict, kCode, code);
  dvac::setJSONValue(dict, kClassName, className_);
  dvac::setJSONValue(dict, kMethodName, methodName);
  if (lineNumber) dvac::setJSONValue(dict, kLineNumber, ns::Value(*lineNumber));
  dvac::setJSONValue(dict, kFrameFileName, fileName);
  return dict;
}

bool DVACStackFrame::isEqual(const ns::Object& other) const {
  const auto* frame = dynamic_cast<const DVACStackFrame*>(&other);
  return frame && address == frame->address && code == frame->code && className_ == frame->className_ &&
         methodName == frame->methodName && lineNumber == frame->lineNumber && fileName == frame->fileName;
}

std::string DVACStackFrame::description() const { return serializeToDictionary().description(); }

std::shared_ptr<DVACStackFrame> DVACStackFrame::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto frame = std::make_shared<DVACStackFrame>();
  frame->address = coder.decodeString(kAddress);
  frame->code = coder.decodeString(kCode);
  frame->className_ = coder.decodeString(kClassName);
  frame->methodName = coder.decodeString(kMethodName);
  frame->lineNumber = dvac::decodeSignedNumber(coder, kLineNumber);
  frame->fileName = coder.decodeString(kFrameFileName);
  return frame;
}

void DVACStackFrame::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, address, kAddress);
  dvac::encodeString(coder, code, kCode);
  dvac::encodeString(coder, className_, kClassName);
  dvac::encodeString(coder, methodName, kMethodName);
  if (lineNumber) coder.encodeObject(ns::Value(*lineNumber), kLineNumber);
  dvac::encodeString(coder, fileName, kFrameFileName);
}
