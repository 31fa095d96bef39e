#pragma once
// A usage event: a name, an event id, string properties and typed
// properties. For a transmission target it converts to a Common Schema log
// whose "data" holds the typed properties as a tree split at "." and whose
// metadata records the types a tree cannot tell (long, double, date-time).

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventProperties.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACLogWithNameAndProperties.h"

class DVACCommonSchemaLog;

class DVACEventLog : public DVACLogWithNameAndProperties {
 public:
  static constexpr const char* kLogType = "event";

  // Type "event" and the type-id table.
  DVACEventLog();

  const std::optional<std::string>& eventId() const { return eventId_; }
  void setEventId(std::optional<std::string> eventId) { eventId_ = std::move(eventId); }
  const std::shared_ptr<DVACEventProperties>& typedProperties() const { return typedProperties_; }
  void setTypedProperties(std::shared_ptr<DVACEventProperties> typedProperties) {
    typedProperties_ = std::move(typedProperties);
  }
  // Typed property type -> Common Schema field type id: "long" 4, "double" 6,
  // "dateTime" 9.
  const std::map<std::string, int64_t>& metadataTypeIdMapping() const { return metadataTypeIdMapping_; }

  // The base keys plus "id" and "typedProperties", each when set.
  ns::Value serializeToDictionary() const override;
  // The base checks, then an event id.
  bool isValid() const override;
  // Base equality and equal event ids; the typed properties take no part.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACEventLog> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACEventLog"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACEventLog", "DVACLogWithNameAndProperties", "DVACLogWithProperties", "DVACAbstractLog", "NSObject"};
  }

  // The base conversion plus the name, the data and metadata, and the tag.
  std::shared_ptr<DVACCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                        DVACLogFlags flags) const override;
  // Fills the log's data and metadata from the typed properties. Drops from
  // this event's own set a "baseType" without "baseData." properties, and
  // "baseData." properties without a string "baseType".
  void setPropertiesAndMetadataForCSLog(DVACCommonSchemaLog& csLog) const;
  // Places one property in the data tree and, for typed kinds, its type id
  // in the metadata tree; a property in conflict with one already placed
  // is left out (logged).
  void addTypedProperty(const std::shared_ptr<DVACTypedProperty>& typedProperty, ns::Dictionary& csMetadata,
                        ns::Dictionary& csProperties) const;
  // False (logged) when the tree is absent or already has the key.
  static bool addTypedProperty(const std::shared_ptr<DVACTypedProperty>& typedProperty, ns::Dictionary* propertyTree,
                               const std::string& key);

 private:
  std::optional<std::string> eventId_;
  std::shared_ptr<DVACEventProperties> typedProperties_;
  std::map<std::string, int64_t> metadataTypeIdMapping_;
};
