// The checks of the analytics service: cleaning string properties at the
// tracking call, limiting the typed properties of a Red Evudud event, and
// the channel filter that checks names and string properties before a log
// is stored. Lengths are UTF-16 units, and a cut never splits a surrogate
// pair (the cut keeps one unit less instead).

#include "RedEvudud/RedEvudud/Internals/Model/DVACBooleanTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACDateTimeTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACDoubleTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLongTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStringTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventProperties.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACLogWithNameAndProperties.h"
#include "platform/foundation/Utf16.h"

namespace {

template <typename Property>
std::shared_ptr<DVACTypedProperty> copyWithValue(const Property& property) {
  auto copy = std::make_shared<Property>();
  copy->value = property.value;
  return copy;
}

}  // namespace

DVACPropertiesDictionary DVACAnalytics::removeInvalidProperties(const std::optional<ns::Value>& properties) {
  DVACPropertiesDictionary valid;
  if (!properties) return valid;
  // A dictionary value's keys are always text, so only values can be wrong;
  // a null value stands for a missing one.
  for (const auto& [key, value] : properties->dictionaryEntries()) {
    if (value.isNull()) {
      DVACLogWarning(kDVACAnalyticsLogTag,
                     "Event property contains an invalid value for key " + key + ", dropping the property.");
      continue;
    }
    if (const std::string* text = value.string()) valid[key] = *text;
  }
  return valid;
}

bool DVACAnalytics::validateLog(DVACLogWithNameAndProperties& log) {
  const std::string type = log.type().value_or("(null)");
  auto name = validateEventName(log.name(), type);
  if (!name) return false;
  log.setName(name);
  log.setProperties(validateProperties(log.properties(), *name, type));
  return true;
}

std::optional<std::string> DVACAnalytics::validateEventName(const std::optional<std::string>& eventName,
                                                            const std::string& logType) {
  if (!eventName || eventName->empty()) {
    DVACLogError(kDVACAnalyticsLogTag, logType + " name cannot be null or empty");
    return std::nullopt;
  }
  if (ns::utf16Length(*eventName) > kDVACMaxEventNameLength) {
    DVACLogWarning(kDVACAnalyticsLogTag, logType + " '" + *eventName + "' : name length cannot be longer than " +
                                             std::to_string(kDVACMaxEventNameLength) +
                                             " characters. Name will be truncated.");
    return ns::utf16Prefix(*eventName, kDVACMaxEventNameLength);
  }
  return eventName;
}

DVACPropertiesDictionary DVACAnalytics::validateProperties(const std::optional<DVACPropertiesDictionary>& properties,
                                                           const std::string& logName, const std::string& logType) {
  return DVACUtility::validateProperties(properties.value_or(DVACPropertiesDictionary{}), logName, logType);
}

std::shared_ptr<DVACEventProperties> DVACAnalytics::validateRedEvududEventProperties(
    const std::shared_ptr<DVACEventProperties>& eventProperties) {
  auto valid = std::make_shared<DVACEventProperties>();
  if (!eventProperties) return valid;
  for (const auto& [key, property] : eventProperties->properties()) {
    if (valid->count() >= kDVACMaxTypedPropertiesPerEvent) {
      DVACLogWarning(kDVACAnalyticsLogTag, "Typed properties cannot contain more than " +
                                               std::to_string(kDVACMaxTypedPropertiesPerEvent) +
                                               " items. Skipping other properties.");
      return valid;
    }
    if (auto validProperty = validateRedEvududTypedProperty(property)) valid->setTypedProperty(validProperty);
  }
  return valid;
}

std::shared_ptr<DVACTypedProperty> DVACAnalytics::validateRedEvududTypedProperty(
    const std::shared_ptr<DVACTypedProperty>& typedProperty) {
  if (!typedProperty) return nullptr;
  std::shared_ptr<DVACTypedProperty> valid;
  if (auto property = std::dynamic_pointer_cast<DVACStringTypedProperty>(typedProperty)) {
    auto copy = std::make_shared<DVACStringTypedProperty>();
    copy->value = validateRedEvududStringTypedPropertyValue(property->value);
    valid = copy;
  } else if (auto property = std::dynamic_pointer_cast<DVACBooleanTypedProperty>(typedProperty)) {
    valid = copyWithValue(*property);
  } else if (auto property = std::dynamic_pointer_cast<DVACLongTypedProperty>(typedProperty)) {
    valid = copyWithValue(*property);
  } else if (auto property = std::dynamic_pointer_cast<DVACDoubleTypedProperty>(typedProperty)) {
    valid = copyWithValue(*property);
  } else if (auto property = std::dynamic_pointer_cast<DVACDateTimeTypedProperty>(typedProperty)) {
    valid = copyWithValue(*property);
  } else {
    return nullptr;
  }
  valid->name = validateRedEvududPropertyName(typedProperty->name);
  return valid;
}

std::optional<std::string> DVACAnalytics::validateRedEvududPropertyName(const std::optional<std::string>& propertyKey) {
  if (propertyKey && ns::utf16Length(*propertyKey) > kDVACMaxTypedPropertyKeyLength) {
    DVACLogWarning(kDVACAnalyticsLogTag, "Typed property '" + *propertyKey + "': key length cannot exceed " +
                                             std::to_string(kDVACMaxTypedPropertyKeyLength) +
                                             " characters. Property value will be truncated.");
    return ns::utf16Prefix(*propertyKey, kDVACMaxTypedPropertyKeyLength);
  }
  return propertyKey;
}

std::optional<std::string> DVACAnalytics::validateRedEvududStringTypedPropertyValue(
    const std::optional<std::string>& value) {
  if (value && ns::utf16Length(*value) > kDVACMaxTypedPropertyValueLength) {
    DVACLogWarning(kDVACAnalyticsLogTag, "Typed property value length cannot exceed " +
                                             std::to_string(kDVACMaxTypedPropertyValueLength) +
                                             " characters. Property value will be truncated.");
    return ns::utf16Prefix(*value, kDVACMaxTypedPropertyValueLength);
  }
  return value;
}
