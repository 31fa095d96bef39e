#pragma once
// A session record whose session id is not archived: only the timestamp
// survives keyed coding.

#include <memory>
#include <optional>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryInfo.h"

class DVACTestSessionInfo : public DVACHistoryInfo {
 public:
  DVACTestSessionInfo() = default;
  DVACTestSessionInfo(std::optional<ns::Date> timestamp, std::optional<std::string> sessionId)
      : DVACHistoryInfo(timestamp), sessionId(std::move(sessionId)) {}

  std::optional<std::string> sessionId;

  static std::shared_ptr<DVACTestSessionInfo> initWithCoder(ns::KeyedUnarchiver& coder);

  std::string className() const override { return "DVACTestSessionInfo"; }
  bool isEqual(const ns::Object& other) const override;
};
