#pragma once
// The "protocol" extension of a Common Schema log: ticket keys and the device's
// maker and model.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACProtocolExtension : public DVACSerializableObject, public DVACModel {
 public:
  std::optional<std::vector<std::string>> ticketKeys;
  std::optional<std::string> devMake;
  std::optional<std::string> devModel;

  // A dictionary with the fields that are set; null when none is.
  ns::Value serializeToDictionary() const override;
  bool isValid() const override { return true; }
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACProtocolExtension> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACProtocolExtension"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACProtocolExtension", "NSObject"}; }
};
