#pragma once
// One batch of logs loaded from the store: the body of one Red Evudud upload.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLog.h"

class DVACLogContainer : public DVACSerializableObject, public DVACModel {
 public:
  DVACLogContainer() = default;
  DVACLogContainer(std::optional<std::string> batchId, std::vector<std::shared_ptr<DVACLog>> logs)
      : batchId(std::move(batchId)), logs(std::move(logs)) {}

  std::optional<std::string> batchId;
  // In load order.
  std::vector<std::shared_ptr<DVACLog>> logs;

  // {"logs": [...]} as compact JSON.
  std::optional<std::string> serializeLog() const { return serializeLogWithPrettyPrinting(false); }
  // The JSON text of {"logs": [each log's dictionary]}, leaving out logs that
  // serialise to nothing; nil (logged) when it cannot be written.
  std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const;

  // {"logs": [...]} as a value.
  ns::Value serializeToDictionary() const override;
  // At least one log, and every log valid (the walk stops at the first
  // invalid one).
  bool isValid() const override;
  // Same batch id and equal logs in the same order.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACLogContainer> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACLogContainer"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACLogContainer", "NSObject"}; }
};
