#pragma once
// A typed property holding text.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACTypedProperty.h"

class DVACStringTypedProperty : public DVACTypedProperty {
 public:
  static constexpr const char* kTypeWord = "string";

  // Type "string".
  DVACStringTypedProperty();

  std::optional<std::string> value;

  // The base keys plus "value".
  ns::Value serializeToDictionary() const override;
  // Same kind, same type and equal values.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACStringTypedProperty> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACStringTypedProperty"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACStringTypedProperty", "DVACTypedProperty", "NSObject"};
  }
};
