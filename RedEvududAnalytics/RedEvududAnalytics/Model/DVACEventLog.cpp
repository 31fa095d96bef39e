#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventLog.h"

#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSData.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSExtensions.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACMetadataExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACBooleanTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACDateTimeTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACDoubleTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLongTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStringTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"

namespace {

const bool kEventLogRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACEventLog>("DVACEventLog");
  return true;
}();

constexpr const char* kEventLogId = "id";
constexpr const char* kTypedProperties = "typedProperties";
constexpr const char* kEventLogBaseType = "baseType";
constexpr const char* kEventLogBaseData = "baseData";
// The key under which a metadata level describes the fields of its level.
constexpr const char* kFieldsKey = "f";

// The map stored under the key, made when there is none; null when the key
// holds something else.
ns::Dictionary* childMap(ns::Dictionary* level, const std::string& key) {
  if (!level) return nullptr;
  auto found = level->find(key);
  if (found == level->end()) found = level->emplace(key, ns::Value(ns::Dictionary{})).first;
  return found->second.dictionary();
}

}  // namespace

DVACEventLog::DVACEventLog() : metadataTypeIdMapping_{{"long", 4}, {"double", 6}, {"dateTime", 9}} {
  setType(std::string(kLogType));
}

// ------------------------------------------------- JSON, validity, equality

ns::Value DVACEventLog::serializeToDictionary() const {
  ns::Value dict = DVACLogWithNameAndProperties::serializeToDictionary();
  dvac::setJSONValue(dict, kEventLogId, eventId_);
  if (typedProperties_) dvac::setJSONValue(dict, kTypedProperties, ns::Value(typedProperties_->serializeToArray()));
  return dict;
}

bool DVACEventLog::isValid() const {
  if (!DVACLogWithNameAndProperties::isValid()) return false;
  if (!eventId_) {
    DVACLogInvalidField(className(), "eventId");
    return false;
  }
  return true;
}

bool DVACEventLog::isEqual(const ns::Object& other) const {
  const auto* log = dynamic_cast<const DVACEventLog*>(&other);
  return log && DVACLogWithNameAndProperties::isEqual(other) && eventId_ == log->eventId_;
}

// ------------------------------------------------------------- Keyed coding

std::shared_ptr<DVACEventLog> DVACEventLog::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACEventLog>();
  log->decodeWithCoder(coder);
  return log;
}

void DVACEventLog::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACLogWithNameAndProperties::decodeWithCoder(coder);
  eventId_ = coder.decodeString(kEventLogId);
  typedProperties_ = coder.decodeObjectOfClass<DVACEventProperties>(kTypedProperties);
}

void DVACEventLog::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACLogWithNameAndProperties::encodeWithCoder(coder);
  dvac::encodeString(coder, eventId_, kEventLogId);
  if (typedProperties_) coder.encodeObject(std::shared_ptr<const ns::Coding>(typedProperties_), kTypedProperties);
}

// ------------------------------------------------- Common Schema conversion

std::shared_ptr<DVACCommonSchemaLog> DVACEventLog::toCommonSchemaLogForTargetToken(const std::string& token,
                                                                                   DVACLogFlags flags) const {
  auto csLog = DVACLogWithNameAndProperties::toCommonSchemaLogForTargetToken(token, flags);
  if (!csLog) return nullptr;
  csLog->setName(name());
  setPropertiesAndMetadataForCSLog(*csLog);
  csLog->setTag(tag());
  return csLog;
}

void DVACEventLog::setPropertiesAndMetadataForCSLog(DVACCommonSchemaLog& csLog) const {
  if (!typedProperties_) return;
  const std::string baseTypePrefix = std::string(kEventLogBaseType) + ".";
  const std::string baseDataPrefix = std::string(kEventLogBaseData) + ".";
  DVACEventProperties& own = *typedProperties_;

  const bool baseTypeIsString =
      std::dynamic_pointer_cast<DVACStringTypedProperty>(own.propertyForKey(kEventLogBaseType)) != nullptr;
  if (baseTypeIsString) {
    bool hasBaseData = false;
    for (const auto& [key, property] : own.properties()) hasBaseData = hasBaseData || key.starts_with(baseDataPrefix);
    if (!hasBaseData) {
      DVACLogWarning(kDVACAnalyticsLogTag, "baseType was set but baseData is missing.");
      own.removePropertyForKey(kEventLogBaseType);
    }
  } else {
    bool removed = false;
    for (const auto& [key, property] : own.properties()) {
      if (key.starts_with(baseDataPrefix)) removed = own.removePropertyForKey(key) || removed;
    }
    if (removed) DVACLogWarning(kDVACAnalyticsLogTag, "baseData was set but baseType is missing or invalid.");
    own.removePropertyForKey(kEventLogBaseType);
  }

  ns::Dictionary csProperties;
  ns::Dictionary csMetadata;
  for (const auto& [key, property] : own.properties()) {
    if (key.starts_with(baseTypePrefix)) {
      DVACLogWarning(kDVACAnalyticsLogTag, "baseType must not be an object.");
      continue;
    }
    if (key == kEventLogBaseData) {
      DVACLogWarning(kDVACAnalyticsLogTag, "baseData must be an object.");
      continue;
    }
    addTypedProperty(property, csMetadata, csProperties);
  }

  if (!csProperties.empty()) {
    auto data = std::make_shared<DVACCSData>();
    data->setProperties(std::move(csProperties));
    csLog.setData(std::move(data));
  }
  if (!csMetadata.empty()) {
    if (!csLog.ext()) csLog.setExt(std::make_shared<DVACCSExtensions>());
    auto metadata = std::make_shared<DVACMetadataExtension>();
    metadata->setMetadata(std::move(csMetadata));
    csLog.ext()->metadataExt = std::move(metadata);
  }
}

void DVACEventLog::addTypedProperty(const std::shared_ptr<DVACTypedProperty>& typedProperty,
                                    ns::Dictionary& csMetadata, ns::Dictionary& csProperties) const {
  if (!typedProperty || !typedProperty->name) return;
  std::optional<int64_t> typeId;
  if (typedProperty->type) {
    auto found = metadataTypeIdMapping_.find(*typedProperty->type);
    if (found != metadataTypeIdMapping_.end()) typeId = found->second;
  }
  const std::vector<std::string> keys = DVACUtility::splitString(*typedProperty->name, '.');
  ns::Dictionary* propertyTree = &csProperties;
  ns::Dictionary* metadataLevel = &csMetadata;
  // The outermost level whose "f" was made for this property alone.
  ns::Dictionary* levelToClean = nullptr;
  for (size_t i = 0; i + 1 < keys.size(); ++i) {
    const std::string& key = keys[i];
    auto found = propertyTree->find(key);
    if (found != propertyTree->end() && !found->second.dictionary()) {
      propertyTree = nullptr;
      break;
    }
    propertyTree = childMap(propertyTree, key);
    if (typeId && metadataLevel) {
      if (!metadataLevel->contains(kFieldsKey) && !levelToClean) levelToClean = metadataLevel;
      metadataLevel = childMap(childMap(metadataLevel, kFieldsKey), key);
    }
  }
  const bool added = addTypedProperty(typedProperty, propertyTree, keys.back());
  ns::Dictionary* fields = typeId && added ? childMap(metadataLevel, kFieldsKey) : nullptr;
  if (fields) {
    (*fields)[keys.back()] = ns::Value(*typeId);
  } else if (levelToClean) {
    levelToClean->erase(kFieldsKey);
  }
}

bool DVACEventLog::addTypedProperty(const std::shared_ptr<DVACTypedProperty>& typedProperty,
                                    ns::Dictionary* propertyTree, const std::string& key) {
  if (!propertyTree || propertyTree->contains(key)) {
    DVACLogWarning(kDVACAnalyticsLogTag, "Property key '" + key + "' already has a value, choosing one.");
    return false;
  }
  if (auto property = std::dynamic_pointer_cast<DVACStringTypedProperty>(typedProperty)) {
    if (property->value) (*propertyTree)[key] = ns::Value(*property->value);
  } else if (auto property = std::dynamic_pointer_cast<DVACBooleanTypedProperty>(typedProperty)) {
    (*propertyTree)[key] = ns::Value(property->value);
  } else if (auto property = std::dynamic_pointer_cast<DVACLongTypedProperty>(typedProperty)) {
    (*propertyTree)[key] = ns::Value(property->value);
  } else if (auto property = std::dynamic_pointer_cast<DVACDoubleTypedProperty>(typedProperty)) {
    (*propertyTree)[key] = ns::Value(property->value);
  } else if (auto property = std::dynamic_pointer_cast<DVACDateTimeTypedProperty>(typedProperty)) {
    if (property->value) (*propertyTree)[key] = ns::Value(DVACUtility::dateToISO8601(*property->value));
  }
  return true;
}
