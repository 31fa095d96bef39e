#pragma once
// A typed property holding a boolean; an archive without a value reads false.

#include <memory>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACTypedProperty.h"

class DVACBooleanTypedProperty : public DVACTypedProperty {
 public:
  static constexpr const char* kTypeWord = "boolean";

  // Type "boolean".
  DVACBooleanTypedProperty();

  bool value = false;

  // The base keys plus "value".
  ns::Value serializeToDictionary() const override;
  // Same kind, same type and equal values.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACBooleanTypedProperty> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACBooleanTypedProperty"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACBooleanTypedProperty", "DVACTypedProperty", "NSObject"};
  }
};
