#pragma once
// A typed property holding a date, written to JSON as ISO 8601 text.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACTypedProperty.h"

class DVACDateTimeTypedProperty : public DVACTypedProperty {
 public:
  static constexpr const char* kTypeWord = "dateTime";

  // Type "dateTime".
  DVACDateTimeTypedProperty();

  std::optional<ns::Date> value;

  // The base keys plus "value".
  ns::Value serializeToDictionary() const override;
  // Same kind, same type and equal values.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACDateTimeTypedProperty> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACDateTimeTypedProperty"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACDateTimeTypedProperty", "DVACTypedProperty", "NSObject"};
  }
};
