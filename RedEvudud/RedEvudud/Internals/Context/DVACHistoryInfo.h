#pragma once
// A timestamped entry of one of the SDK's histories (sessions, user ids,
// devices), so that a log written later can be stamped with the value that
// was current at the log's own time.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/Value.h"

class DVACHistoryInfo : public ns::Coding {
 public:
  static constexpr const char* kTimestampKey = "timestampKey";

  DVACHistoryInfo() = default;
  explicit DVACHistoryInfo(std::optional<ns::Date> timestamp) : timestamp(timestamp) {}

  std::optional<ns::Date> timestamp;

  // Keyed coding: the factory registered for the class, and the field
  // reading that subclasses run before their own.
  static std::shared_ptr<DVACHistoryInfo> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACHistoryInfo"; }
  std::vector<std::string> classHierarchy() const override;
  // Same class and equal fields.
  bool isEqual(const ns::Object& other) const override;
};
