#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorAttachmentLog.h"

#include "platform/foundation/Base64.h"

namespace {

const bool kErrorAttachmentLogRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACErrorAttachmentLog>("DVACErrorAttachmentLog");
  return true;
}();

constexpr const char* kAttachmentId = "id";
constexpr const char* kErrorId = "errorId";
constexpr const char* kContentType = "contentType";
constexpr const char* kAttachmentFileName = "fileName";
constexpr const char* kAttachmentData = "data";
constexpr const char* kTextPlain = "text/plain";

}  // namespace

DVACErrorAttachmentLog::DVACErrorAttachmentLog() : attachmentId(ns::UUID::random().UUIDString()) {
  setType(std::string(kDVACErrorAttachmentLogType));
}

std::shared_ptr<DVACErrorAttachmentLog> DVACErrorAttachmentLog::initWithFilename(
    std::optional<std::string> filename, std::optional<ns::Data> attachmentBinary,
    std::optional<std::string> contentType) {
  auto log = std::make_shared<DVACErrorAttachmentLog>();
  log->filename = std::move(filename);
  log->data = std::move(attachmentBinary);
  log->contentType = std::move(contentType);
  return log;
}

std::shared_ptr<DVACErrorAttachmentLog> DVACErrorAttachmentLog::initWithFilename(
    std::optional<std::string> filename, const std::optional<std::string>& attachmentText) {
  std::optional<ns::Data> data;
  if (attachmentText) data = ns::Data(attachmentText->begin(), attachmentText->end());
  return initWithFilename(std::move(filename), std::move(data), std::string(kTextPlain));
}

std::shared_ptr<DVACErrorAttachmentLog> DVACErrorAttachmentLog::attachmentWithText(
    const std::optional<std::string>& text, std::optional<std::string> filename) {
  return initWithFilename(std::move(filename), text);
}

std::shared_ptr<DVACErrorAttachmentLog> DVACErrorAttachmentLog::attachmentWithBinary(
    std::optional<ns::Data> data, std::optional<std::string> filename, std::optional<std::string> contentType) {
  return initWithFilename(std::move(filename), std::move(data), std::move(contentType));
}

ns::Value DVACErrorAttachmentLog::serializeToDictionary() const {
  ns::Value dict = DVACAbstractLog::serializeToDictionary();
  dvac::setJSONValue(dict, kAttachmentId, attachmentId);
  dvac::setJSONValue(dict, kErrorId, errorId);
  dvac::setJSONValue(dict, kContentType, contentType);
  dvac::setJSONValue(dict, kAttachmentFileName, filename);
  if (data) dvac::setJSONValue(dict, kAttachmentData, ns::Value(ns::base64Encode(*data)));
  return dict;
}

bool DVACErrorAttachmentLog::isValid() const {
  if (!DVACAbstractLog::isValid()) return false;
  if (!errorId) {
    DVACLogInvalidField(className(), kErrorId);
    return false;
  }
  if (!attachmentId) {
    DVACLogInvalidField(className(), "attachmentId");
    return false;
  }
  if (!data) {
    DVACLogInvalidField(className(), kAttachmentData);
    return false;
  }
  if (!contentType) {
    DVACLogInvalidField(className(), kContentType);
    return false;
  }
  return true;
}

bool DVACErrorAttachmentLog::isEqual(const ns::Object& other) const {
  const auto* log = dynamic_cast<const DVACErrorAttachmentLog*>(&other);
  return log && DVACAbstractLog::isEqual(other) && attachmentId == log->attachmentId && errorId == log->errorId &&
         contentType == log->contentType && filename == log->filename && data == log->data;
}

std::shared_ptr<DVACErrorAttachmentLog> DVACErrorAttachmentLog::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACErrorAttachmentLog>();
  log->decodeWithCoder(coder);
  return log;
}

void DVACErrorAttachmentLog::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACAbstractLog::decodeWithCoder(coder);
  attachmentId = coder.decodeString(kAttachmentId);
  errorId = coder.decodeString(kErrorId);
  contentType = coder.decodeString(kContentType);
  filename = coder.decodeString(kAttachmentFileName);
  data = coder.decodeData(kAttachmentData);
}

void DVACErrorAttachmentLog::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACAbstractLog::encodeWithCoder(coder);
  dvac::encodeString(coder, attachmentId, kAttachmentId);
  dvac::encodeString(coder, errorId, kErrorId);
  dvac::encodeString(coder, contentType, kContentType);
  dvac::encodeString(coder, filename, kAttachmentFileName);
  if (data) coder.encodeObject(ns::Value(*data), kAttachmentData);
}
