#pragma once
// A typed event property: a name, a type word and, in each kind, a value.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACTypedProperty : public DVACSerializableObject {
 public:
  DVACTypedProperty() = default;

  std::optional<std::string> type;
  std::optional<std::string> name;

  // {"type": type, "name": name} for the fields that are set; the kinds add
  // "value".
  ns::Value serializeToDictionary() const override;
  // The other object is a typed property of the same type; the name takes no
  // part. The kinds add their class and value.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACTypedProperty> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACTypedProperty"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACTypedProperty", "NSObject"}; }

 protected:
  static constexpr const char* kValueKey = "value";
};
