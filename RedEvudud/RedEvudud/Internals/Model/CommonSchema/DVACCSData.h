#pragma once
// The "data" object of a Common Schema log: the event's properties as JSON
// values. "baseType" and "baseData" always come first in its JSON.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACCSData : public DVACSerializableObject, public DVACModel {
 public:
  DVACCSData() = default;
  DVACCSData(const DVACCSData&) = delete;
  DVACCSData& operator=(const DVACCSData&) = delete;

  // Read and written whole, safely from any thread. The value is a
  // dictionary of either kind; an ordered one keeps its enumeration order.
  std::optional<ns::Value> properties() const;
  void setProperties(std::optional<ns::Dictionary> properties);
  void setProperties(ns::OrderedDictionary properties);

  // An insertion-ordered dictionary: "baseType", "baseData", then every other
  // property in enumeration order; null without properties.
  ns::Value serializeToDictionary() const override;
  bool isValid() const override { return true; }
  // Properties compared as dictionaries, whatever their order.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACCSData> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  // The properties are the coder's unkeyed root object.
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACCSData"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACCSData", "NSObject"}; }

 private:
  mutable std::mutex mutex_;
  std::optional<ns::Value> properties_;
};
