#pragma once
// One crash of the application process (log type "appleError"), as the crash
// log formatter builds it from a decoded crash report. It keeps the session
// and user id the Crashes service gives it from the histories at crash time.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACNoAutoAssignSessionIdLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACAbstractErrorLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACBinary.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACThread.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACExceptionModel.h"

inline constexpr const char* kDVACAppleErrorLogType = "appleError";

class DVACAppleErrorLog : public DVACAbstractErrorLog, public DVACNoAutoAssignSessionIdLog {
 public:
  DVACAppleErrorLog() { setType(std::string(kDVACAppleErrorLogType)); }

  std::optional<uint64_t> primaryArchitectureId;
  std::optional<uint64_t> architectureVariantId;
  std::optional<std::string> applicationPath;
  std::optional<std::string> osExceptionType;
  std::optional<std::string> osExceptionCode;
  std::optional<std::string> osExceptionAddress;
  std::optional<std::string> exceptionType;
  std::optional<std::string> exceptionReason;
  std::optional<std::string> selectorRegisterValue;
  std::optional<std::vector<std::shared_ptr<DVACThread>>> threads;
  std::optional<std::vector<std::shared_ptr<DVACBinary>>> binaries;
  std::optional<std::map<std::string, std::string>> registers;
  std::shared_ptr<DVACExceptionModel> exception;
  // Set by the formatter; never serialized, archived or compared.
  bool isKnownEncodingType = false;

  ns::Value serializeToDictionary() const override;
  // The error log's check, then primaryArchitectureId, applicationPath and
  // the three OS exception fields.
  bool isValid() const override;
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACAppleErrorLog> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACAppleErrorLog"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACAppleErrorLog", "DVACAbstractErrorLog", "DVACLogWithProperties", "DVACAbstractLog", "NSObject"};
  }
};
