#pragma once
// The base class of every telemetry log: the fields every log carries, its
// Red Evudud JSON, its keyed coding for the log store, whether it may be
// queued, and its conversion into Common Schema logs, one per transmission
// target token.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLog.h"
#include "RedEvudud/RedEvudud/Model/DVACLogFlags.h"

class DVACCommonSchemaLog;

class DVACAbstractLog : public DVACLog {
 public:
  DVACAbstractLog() = default;
  DVACAbstractLog(const DVACAbstractLog&) = delete;
  DVACAbstractLog& operator=(const DVACAbstractLog&) = delete;

  const std::optional<std::string>& type() const override { return type_; }
  void setType(std::optional<std::string> type) override { type_ = std::move(type); }
  const std::optional<ns::Date>& timestamp() const override { return timestamp_; }
  void setTimestamp(std::optional<ns::Date> timestamp) override { timestamp_ = timestamp; }
  const std::optional<std::string>& sid() const override { return sid_; }
  void setSid(std::optional<std::string> sid) override { sid_ = std::move(sid); }
  const std::optional<std::string>& distributionGroupId() const override { return distributionGroupId_; }
  void setDistributionGroupId(std::optional<std::string> distributionGroupId) override {
    distributionGroupId_ = std::move(distributionGroupId);
  }
  const std::optional<std::string>& userId() const override { return userId_; }
  void setUserId(std::optional<std::string> userId) override { userId_ = std::move(userId); }
  const std::shared_ptr<DVACDevice>& device() const override { return device_; }
  void setDevice(std::shared_ptr<DVACDevice> device) override { device_ = std::move(device); }
  const std::shared_ptr<ns::Object>& tag() const override { return tag_; }
  void setTag(std::shared_ptr<ns::Object> tag) override { tag_ = std::move(tag); }

  DVACTargetTokenSet transmissionTargetTokens() const override;
  void setTransmissionTargetTokens(DVACTargetTokenSet tokens) override;
  void addTransmissionTargetToken(const std::string& token) override;

  // A plain dictionary with "type", "timestamp", "sid", "distributionGroupId",
  // "userId" and "device" for the fields that are set.
  ns::Value serializeToDictionary() const override;
  // Type, timestamp and a valid device, checked in that order.
  bool isValid() const override;
  // The other object is a log (of any kind) whose type, timestamp, session
  // id, distribution group, user id, device and tag are all equal; the
  // target tokens take no part.
  bool isEqual(const ns::Object& other) const override;
  std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const override;

  static std::shared_ptr<DVACAbstractLog> initWithCoder(ns::KeyedUnarchiver& coder);
  // Reads the six coded fields; tag and tokens stay empty.
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACAbstractLog"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACAbstractLog", "NSObject"}; }

  // One Common Schema log per token of a snapshot of the token set (in the
  // set's order), skipping tokens that convert to nothing; nil when there is
  // none at all.
  std::optional<std::vector<std::shared_ptr<DVACCommonSchemaLog>>> toCommonSchemaLogsWithFlags(
      DVACLogFlags flags) const;
  // The log as a Common Schema 3.0 log for one target token. Subclasses call
  // this first and fill the result further.
  virtual std::shared_ptr<DVACCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                                 DVACLogFlags flags) const;

  // "Version <version>", then " (Build <build>)"; nil when both are empty.
  static std::optional<std::string> combineOsVersion(const std::optional<std::string>& version,
                                                     const std::optional<std::string>& build);
  // "<name>-<version>" when both are non-empty, else nil.
  static std::optional<std::string> combineSDKLibVer(const std::optional<std::string>& name,
                                                     const std::optional<std::string>& version);
  // Minutes east of UTC as "+hh:mm" / "-hh:mm".
  static std::string convertTimeZoneOffsetToISO8601(int64_t offsetInMinutes);

 private:
  std::optional<std::string> type_;
  std::optional<ns::Date> timestamp_;
  std::optional<std::string> sid_;
  std::optional<std::string> distributionGroupId_;
  std::optional<std::string> userId_;
  std::shared_ptr<DVACDevice> device_;
  std::shared_ptr<ns::Object> tag_;

  mutable std::recursive_mutex tokensMutex_;
  DVACTargetTokenSet transmissionTargetTokens_;
};
