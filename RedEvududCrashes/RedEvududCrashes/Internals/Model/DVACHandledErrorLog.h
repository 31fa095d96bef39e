#pragma once
// An error the application caught and reported (log type "handledError").

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACExceptionModel.h"

inline constexpr const char* kDVACHandledErrorLogType = "handledError";

class DVACHandledErrorLog : public DVACLogWithProperties {
 public:
  DVACHandledErrorLog() { setType(std::string(kDVACHandledErrorLogType)); }

  std::optional<std::string> errorId;
  std::shared_ptr<DVACExceptionModel> exception;

  // The base keys plus "id" and "exception".
  ns::Value serializeToDictionary() const override;
  // The base check, then errorId and exception (present; the record's own
  // validity is not examined).
  bool isValid() const override;
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACHandledErrorLog> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACHandledErrorLog"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACHandledErrorLog", "DVACLogWithProperties", "DVACAbstractLog", "NSObject"};
  }
};
