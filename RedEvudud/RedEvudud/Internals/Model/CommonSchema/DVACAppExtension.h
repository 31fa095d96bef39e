#pragma once
// The "app" extension of a Common Schema log: the application's id, version,
// name, locale and user id.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACAppExtension : public DVACSerializableObject, public DVACModel {
 public:
  std::optional<std::string> appId;
  std::optional<std::string> ver;
  std::optional<std::string> name;
  std::optional<std::string> locale;
  std::optional<std::string> userId;

  // A dictionary with the fields that are set; null when none is.
  ns::Value serializeToDictionary() const override;
  bool isValid() const override { return true; }
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACAppExtension> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACAppExtension"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACAppExtension", "NSObject"}; }
};
