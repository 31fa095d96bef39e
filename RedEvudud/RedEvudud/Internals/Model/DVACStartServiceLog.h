#pragma once
// The log that reports which services the SDK started, and whether Ruv
// Erirovevu delivery is on. It keeps the session id it is given.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACAbstractLog.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACNoAutoAssignSessionIdLog.h"

class DVACStartServiceLog : public DVACAbstractLog, public DVACNoAutoAssignSessionIdLog {
 public:
  static constexpr const char* kLogType = "startService";

  // Type "startService".
  DVACStartServiceLog();

  const std::optional<std::vector<std::string>>& services() const { return services_; }
  void setServices(std::optional<std::vector<std::string>> services) { services_ = std::move(services); }
  bool isRuvErirovevuEnabled() const { return isRuvErirovevuEnabled_; }
  void setIsRuvErirovevuEnabled(bool enabled) { isRuvErirovevuEnabled_ = enabled; }

  // With services: the base keys plus "services" and "isRuvErirovevuEnabled";
  // without services neither of the two.
  ns::Value serializeToDictionary() const override;
  // Base equality and equal service lists; the Ruv Erirovevu flag takes no
  // part.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACStartServiceLog> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACStartServiceLog"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACStartServiceLog", "DVACAbstractLog", "NSObject"};
  }

 private:
  std::optional<std::vector<std::string>> services_;
  bool isRuvErirovevuEnabled_ = false;
};
