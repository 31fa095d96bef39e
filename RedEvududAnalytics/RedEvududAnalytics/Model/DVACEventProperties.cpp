#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventProperties.h"

#include <cmath>

#include "RedEvudud/RedEvudud/Internals/Model/DVACBooleanTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACDateTimeTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACDoubleTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLongTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStringTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"

namespace {

const bool kEventPropertiesRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACEventProperties>("DVACEventProperties");
  return true;
}();

template <typename Property, typename Value>
std::shared_ptr<DVACTypedProperty> make(const std::string& key, Value value) {
  auto property = std::make_shared<Property>();
  property->name = key;
  property->value = std::move(value);
  return property;
}

}  // namespace

DVACEventProperties::DVACEventProperties(const DVACPropertiesDictionary& properties) {
  for (const auto& [key, value] : properties) properties_[key] = make<DVACStringTypedProperty>(key, value);
}

std::shared_ptr<DVACEventProperties> DVACEventProperties::initWithStringDictionary(
    const DVACPropertiesDictionary& properties) {
  return std::make_shared<DVACEventProperties>(properties);
}

// ------------------------------------------------------------------ Setters

bool DVACEventProperties::validateKey(const std::optional<std::string>& key) {
  if (key) return true;
  DVACLogError(kDVACAnalyticsLogTag, "Key cannot be null. Property will not be added.");
  return false;
}

bool DVACEventProperties::validateValue(bool hasValue) {
  if (hasValue) return true;
  DVACLogError(kDVACAnalyticsLogTag, "Value cannot be null. Property will not be added.");
  return false;
}

DVACEventProperties& DVACEventProperties::setString(const std::optional<std::string>& value,
                                                    const std::optional<std::string>& key) {
  if (validateKey(key) && validateValue(value.has_value())) {
    std::lock_guard lock(mutex_);
    properties_[*key] = make<DVACStringTypedProperty>(*key, *value);
  }
  return *this;
}

DVACEventProperties& DVACEventProperties::setDouble(double value, const std::optional<std::string>& key) {
  if (!validateKey(key)) return *this;
  if (!std::isfinite(value)) {
    DVACLogError(kDVACAnalyticsLogTag,
                 "Double value for property '" + *key + "' must be finite (cannot be INFINITY or NAN).");
    return *this;
  }
  std::lock_guard lock(mutex_);
  properties_[*key] = make<DVACDoubleTypedProperty>(*key, value);
  return *this;
}

DVACEventProperties& DVACEventProperties::setInt64(int64_t value, const std::optional<std::string>& key) {
  if (validateKey(key)) {
    std::lock_guard lock(mutex_);
    properties_[*key] = make<DVACLongTypedProperty>(*key, value);
  }
  return *this;
}

DVACEventProperties& DVACEventProperties::setBool(bool value, const std::optional<std::string>& key) {
  if (validateKey(key)) {
    std::lock_guard lock(mutex_);
    properties_[*key] = make<DVACBooleanTypedProperty>(*key, value);
  }
  return *this;
}

DVACEventProperties& DVACEventProperties::setDate(const std::optional<ns::Date>& value,
                                                  const std::optional<std::string>& key) {
  if (validateKey(key) && validateValue(value.has_value())) {
    std::lock_guard lock(mutex_);
    properties_[*key] = make<DVACDateTimeTypedProperty>(*key, value);
  }
  return *this;
}

void DVACEventProperties::setTypedProperty(const std::shared_ptr<DVACTypedProperty>& property) {
  if (!property || !property->name) return;
  std::lock_guard lock(mutex_);
  properties_[*property->name] = property;
}

bool DVACEventProperties::removePropertyForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  return properties_.erase(key) > 0;
}

// ------------------------------------------------------------------ Reading

DVACTypedPropertyMap DVACEventProperties::properties() const {
  std::lock_guard lock(mutex_);
  return properties_;
}

std::shared_ptr<DVACTypedProperty> DVACEventProperties::propertyForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto found = properties_.find(key);
  return found == properties_.end() ? nullptr : found->second;
}

size_t DVACEventProperties::count() const {
  std::lock_guard lock(mutex_);
  return properties_.size();
}

bool DVACEventProperties::isEmpty() const { return count() == 0; }

void DVACEventProperties::mergeEventProperties(const DVACEventProperties& other) {
  if (&other == this) return;
  const DVACTypedPropertyMap entries = other.properties();
  std::lock_guard lock(mutex_);
  for (const auto& [key, property] : entries) properties_[key] = property;
}

ns::Array DVACEventProperties::serializeToArray() const {
  ns::Array array;
  std::lock_guard lock(mutex_);
  array.reserve(properties_.size());
  for (const auto& [key, property] : properties_) {
    if (property) array.push_back(property->serializeToDictionary());
  }
  return array;
}

bool DVACEventProperties::isEqual(const ns::Object& other) const {
  const auto* set = dynamic_cast<const DVACEventProperties*>(&other);
  if (!set) return false;
  if (set == this) return true;
  const DVACTypedPropertyMap mine = properties();
  const DVACTypedPropertyMap theirs = set->properties();
  if (mine.size() != theirs.size()) return false;
  for (const auto& [key, property] : mine) {
    auto found = theirs.find(key);
    if (found == theirs.end() || !dvac::objectsEqual(property, found->second)) return false;
  }
  return true;
}

// ------------------------------------------------------------- Keyed coding

std::shared_ptr<DVACEventProperties> DVACEventProperties::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto set = std::make_shared<DVACEventProperties>();
  auto root = coder.decodeObject();
  if (!root || root->isNull()) return set;
  if (!root->isAnyDictionary()) {
    coder.failWithDescription("the typed properties of an event are not a dictionary");
    return nullptr;
  }
  for (const auto& [key, value] : root->dictionaryEntries()) {
    auto property = value.objectAs<DVACTypedProperty>();
    if (!property) {
      coder.failWithDescription("a typed property of an event is not a typed property");
      return nullptr;
    }
    set->properties_[key] = std::move(property);
  }
  return set;
}

void DVACEventProperties::encodeWithCoder(ns::KeyedArchiver& coder) const {
  ns::Dictionary dict;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [key, property] : properties_) {
      if (property) dict.emplace(key, ns::Value(property));
    }
  }
  coder.encodeObject(ns::Value(std::move(dict)));
}
