#pragma once
// The "loc" extension of a Common Schema log: the time zone offset as
// "+hh:mm" / "-hh:mm".

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACLocExtension : public DVACSerializableObject, public DVACModel {
 public:
  std::optional<std::string> tz;

  // A dictionary with the fields that are set; null when none is.
  ns::Value serializeToDictionary() const override;
  bool isValid() const override { return true; }
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACLocExtension> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACLocExtension"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACLocExtension", "NSObject"}; }
};
