#pragma once
// A typed property holding a 64-bit floating-point number. A NaN value is
// never equal, and a value that is not finite cannot be written as JSON.

#include <memory>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACTypedProperty.h"

class DVACDoubleTypedProperty : public DVACTypedProperty {
 public:
  static constexpr const char* kTypeWord = "double";

  // Type "double".
  DVACDoubleTypedProperty();

  double value = 0;

  // The base keys plus "value".
  ns::Value serializeToDictionary() const override;
  // Same kind, same type and equal values.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACDoubleTypedProperty> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACDoubleTypedProperty"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACDoubleTypedProperty", "DVACTypedProperty", "NSObject"};
  }
};
