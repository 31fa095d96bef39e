#pragma once
// A typed property holding a signed 64-bit integer, written exactly.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACTypedProperty.h"

class DVACLongTypedProperty : public DVACTypedProperty {
 public:
  static constexpr const char* kTypeWord = "long";

  // Type "long".
  DVACLongTypedProperty();

  int64_t value = 0;

  // The base keys plus "value".
  ns::Value serializeToDictionary() const override;
  // Same kind, same type and equal values.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACLongTypedProperty> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACLongTypedProperty"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACLongTypedProperty", "DVACTypedProperty", "NSObject"};
  }
};
