#pragma once
// The typed properties of an event: property name -> typed property. A name
// holds one property of any kind; setting it again replaces it whatever its
// kind. Every operation may be called from any thread.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/KeyedArchiver.h"

using DVACTypedPropertyMap = std::map<std::string, std::shared_ptr<DVACTypedProperty>>;

class DVACEventProperties : public ns::Coding {
 public:
  DVACEventProperties() = default;
  // Every pair becomes a string property; the caller has cleaned the pairs.
  explicit DVACEventProperties(const DVACPropertiesDictionary& properties);
  static std::shared_ptr<DVACEventProperties> initWithStringDictionary(const DVACPropertiesDictionary& properties);

  DVACEventProperties(const DVACEventProperties&) = delete;
  DVACEventProperties& operator=(const DVACEventProperties&) = delete;

  // Each refuses (logged) an absent key, and the first two an absent value;
  // setDouble also refuses a value that is not finite. Each returns the set.
  DVACEventProperties& setString(const std::optional<std::string>& value, const std::optional<std::string>& key);
  DVACEventProperties& setDouble(double value, const std::optional<std::string>& key);
  DVACEventProperties& setInt64(int64_t value, const std::optional<std::string>& key);
  DVACEventProperties& setBool(bool value, const std::optional<std::string>& key);
  DVACEventProperties& setDate(const std::optional<ns::Date>& value, const std::optional<std::string>& key);

  // Stores the property under its own name (nothing for an unnamed one).
  void setTypedProperty(const std::shared_ptr<DVACTypedProperty>& property);
  // True when the name was there.
  bool removePropertyForKey(const std::string& key);
  // A copy of the map; the properties themselves are shared.
  DVACTypedPropertyMap properties() const;
  std::shared_ptr<DVACTypedProperty> propertyForKey(const std::string& key) const;
  size_t count() const;
  bool isEmpty() const;

  // The other set's entries win on equal names.
  void mergeEventProperties(const DVACEventProperties& other);
  // Every property's JSON object, in the map's order.
  ns::Array serializeToArray() const;

  // Both maps hold equal properties under the same names.
  bool isEqual(const ns::Object& other) const override;

  // Logged refusals of an absent key or value.
  static bool validateKey(const std::optional<std::string>& key);
  static bool validateValue(bool hasValue);

  static std::shared_ptr<DVACEventProperties> initWithCoder(ns::KeyedUnarchiver& coder);
  // The whole map is the coder's unkeyed root object.
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACEventProperties"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACEventProperties", "NSObject"}; }

 private:
  mutable std::recursive_mutex mutex_;
  DVACTypedPropertyMap properties_;
};
