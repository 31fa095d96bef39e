#pragma once
// The interface of every log: what the channels, the store and the
// ingestions read and stamp. DVACAbstractLog is its one implementation; the
// services' logs derive from that.

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"
#include "platform/foundation/Value.h"

class DVACDevice;

// A set of transmission target tokens that is replaced, never changed in
// place, so a reader keeps a stable snapshot.
using DVACTargetTokenSet = std::shared_ptr<const std::set<std::string>>;

class DVACLog : public DVACSerializableObject, public DVACModel {
 public:
  virtual const std::optional<std::string>& type() const = 0;
  virtual void setType(std::optional<std::string> type) = 0;
  virtual const std::optional<ns::Date>& timestamp() const = 0;
  virtual void setTimestamp(std::optional<ns::Date> timestamp) = 0;
  // The session id.
  virtual const std::optional<std::string>& sid() const = 0;
  virtual void setSid(std::optional<std::string> sid) = 0;
  virtual const std::optional<std::string>& distributionGroupId() const = 0;
  virtual void setDistributionGroupId(std::optional<std::string> distributionGroupId) = 0;
  virtual const std::optional<std::string>& userId() const = 0;
  virtual void setUserId(std::optional<std::string> userId) = 0;
  virtual const std::shared_ptr<DVACDevice>& device() const = 0;
  virtual void setDevice(std::shared_ptr<DVACDevice> device) = 0;
  // An opaque marker a service attaches; never sent, never archived.
  virtual const std::shared_ptr<ns::Object>& tag() const = 0;
  virtual void setTag(std::shared_ptr<ns::Object> tag) = 0;

  // Null when no token was ever given.
  virtual DVACTargetTokenSet transmissionTargetTokens() const = 0;
  virtual void setTransmissionTargetTokens(DVACTargetTokenSet tokens) = 0;
  virtual void addTransmissionTargetToken(const std::string& token) = 0;

  // The JSON text of serializeToDictionary, pretty-printed on request; nil
  // when the dictionary cannot be written as JSON.
  virtual std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const = 0;
};
