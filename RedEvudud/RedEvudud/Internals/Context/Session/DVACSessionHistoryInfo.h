#pragma once
// One session id of the session history, with the time it became current.

#include <memory>
#include <optional>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryInfo.h"

class DVACSessionHistoryInfo : public DVACHistoryInfo {
 public:
  static constexpr const char* kSessionIdKey = "sessionIdKey";

  DVACSessionHistoryInfo() = default;
  DVACSessionHistoryInfo(std::optional<ns::Date> timestamp, std::optional<std::string> sessionId)
      : DVACHistoryInfo(timestamp), sessionId(std::move(sessionId)) {}

  std::optional<std::string> sessionId;

  static std::shared_ptr<DVACSessionHistoryInfo> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACSessionHistoryInfo"; }
  bool isEqual(const ns::Object& other) const override;
};
