#pragma once
// What every error log of a crashed process carries: the error's id, the
// process and its parent, the crashed thread, and when the process started.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"

class DVACAbstractErrorLog : public DVACLogWithProperties {
 public:
  std::optional<std::string> errorId;
  std::optional<uint64_t> processId;
  std::optional<std::string> processName;
  std::optional<uint64_t> parentProcessId;
  std::optional<std::string> parentProcessName;
  std::optional<int64_t> errorThreadId;
  std::optional<std::string> errorThreadName;
  bool fatal = false;
  std::optional<ns::Date> appLaunchTimestamp;
  std::optional<std::string> architecture;

  // The base keys plus "id", the process keys, "fatal" (always) and the rest
  // for the fields that are set.
  ns::Value serializeToDictionary() const override;
  // The base check, then errorId, processId and processName.
  bool isValid() const override;
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACAbstractErrorLog> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACAbstractErrorLog"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACAbstractErrorLog", "DVACLogWithProperties", "DVACAbstractLog", "NSObject"};
  }
};
