#pragma once
// One attachment (text or bytes) of an error (log type "errorAttachment").
// The Crashes service gives it the error's id before it checks and sends it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACAbstractLog.h"

inline constexpr const char* kDVACErrorAttachmentLogType = "errorAttachment";

class DVACErrorAttachmentLog : public DVACAbstractLog {
 public:
  // The type and a fresh attachment id.
  DVACErrorAttachmentLog();

  static std::shared_ptr<DVACErrorAttachmentLog> initWithFilename(std::optional<std::string> filename,
                                                                  std::optional<ns::Data> attachmentBinary,
                                                                  std::optional<std::string> contentType);
  // The text's UTF-8 bytes as "text/plain"; no text gives no data.
  static std::shared_ptr<DVACErrorAttachmentLog> initWithFilename(std::optional<std::string> filename,
                                                                  const std::optional<std::string>& attachmentText);
  static std::shared_ptr<DVACErrorAttachmentLog> attachmentWithText(const std::optional<std::string>& text,
                                                                    std::optional<std::string> filename);
  static std::shared_ptr<DVACErrorAttachmentLog> attachmentWithBinary(std::optional<ns::Data> data,
                                                                      std::optional<std::string> filename,
                                                                      std::optional<std::string> contentType);

  std::optional<std::string> attachmentId;
  std::optional<std::string> errorId;
  std::optional<std::string> contentType;
  std::optional<std::string> filename;
  std::optional<ns::Data> data;

  // The base keys plus "id", "errorId", "contentType", "fileName" and
  // "data" (Base64).
  ns::Value serializeToDictionary() const override;
  // The base check, then errorId, attachmentId, data and contentType.
  bool isValid() const override;
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACErrorAttachmentLog> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACErrorAttachmentLog"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACErrorAttachmentLog", "DVACAbstractLog", "NSObject"};
  }
};
