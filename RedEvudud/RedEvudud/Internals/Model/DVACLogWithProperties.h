#pragma once
// A log with a dictionary of string properties; the base of the analytics
// and error logs.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACAbstractLog.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"

class DVACLogWithProperties : public DVACAbstractLog {
 public:
  const std::optional<DVACPropertiesDictionary>& properties() const { return properties_; }
  void setProperties(std::optional<DVACPropertiesDictionary> properties) { properties_ = std::move(properties); }

  // The base log's keys plus "properties" when there is at least one.
  ns::Value serializeToDictionary() const override;
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACLogWithProperties> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACLogWithProperties"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACLogWithProperties", "DVACAbstractLog", "NSObject"};
  }

 private:
  std::optional<DVACPropertiesDictionary> properties_;
};
