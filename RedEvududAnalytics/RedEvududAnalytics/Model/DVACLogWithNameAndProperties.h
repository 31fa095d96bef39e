#pragma once
// A log with a name beside its string properties: the common base of the
// event and page logs.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"

class DVACLogWithNameAndProperties : public DVACLogWithProperties {
 public:
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> name) { name_ = std::move(name); }

  // The base keys plus "name" when it is set.
  ns::Value serializeToDictionary() const override;
  // The base checks, then a name (an empty one counts as set).
  bool isValid() const override;
  // Same kind, base equality and equal (or both absent) names.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACLogWithNameAndProperties> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACLogWithNameAndProperties"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACLogWithNameAndProperties", "DVACLogWithProperties", "DVACAbstractLog", "NSObject"};
  }

 private:
  std::optional<std::string> name_;
};
