#pragma once
// One user id of the user-id history, with the time it became current.

#include <memory>
#include <optional>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryInfo.h"

class DVACUserIdHistoryInfo : public DVACHistoryInfo {
 public:
  static constexpr const char* kUserIdKey = "userIdKey";

  DVACUserIdHistoryInfo() = default;
  DVACUserIdHistoryInfo(std::optional<ns::Date> timestamp, std::optional<std::string> userId)
      : DVACHistoryInfo(timestamp), userId(std::move(userId)) {}

  std::optional<std::string> userId;

  static std::shared_ptr<DVACUserIdHistoryInfo> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACUserIdHistoryInfo"; }
  bool isEqual(const ns::Object& other) const override;
};
