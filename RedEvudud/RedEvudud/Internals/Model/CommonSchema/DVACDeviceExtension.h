#pragma once
// The "device" extension of a Common Schema log: the local device id.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACDeviceExtension : public DVACSerializableObject, public DVACModel {
 public:
  std::optional<std::string> localId;

  // A dictionary with the fields that are set; null when none is.
  ns::Value serializeToDictionary() const override;
  bool isValid() const override { return true; }
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACDeviceExtension> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACDeviceExtension"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACDeviceExtension", "NSObject"}; }
};
