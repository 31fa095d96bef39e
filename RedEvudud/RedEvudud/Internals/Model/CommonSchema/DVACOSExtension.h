#pragma once
// The "os" extension of a Common Schema log: the system's name and version.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACOSExtension : public DVACSerializableObject, public DVACModel {
 public:
  std::optional<std::string> name;
  std::optional<std::string> ver;

  // A dictionary with the fields that are set; null when none is.
  ns::Value serializeToDictionary() const override;
  bool isValid() const override { return true; }
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACOSExtension> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACOSExtension"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACOSExtension", "NSObject"}; }
};
