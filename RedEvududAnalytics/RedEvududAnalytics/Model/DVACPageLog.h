#pragma once
// A page view: a name and string properties, nothing of its own.

#include <memory>
#include <string>
#include <vector>

#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACLogWithNameAndProperties.h"

class DVACPageLog : public DVACLogWithNameAndProperties {
 public:
  static constexpr const char* kLogType = "page";

  // Type "page".
  DVACPageLog();

  // The other object is a page log and the base equality holds.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACPageLog> initWithCoder(ns::KeyedUnarchiver& coder);

  std::string className() const override { return "DVACPageLog"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACPageLog", "DVACLogWithNameAndProperties", "DVACLogWithProperties", "DVACAbstractLog", "NSObject"};
  }
};
