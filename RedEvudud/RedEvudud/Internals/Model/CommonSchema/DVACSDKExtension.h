#pragma once
// The "sdk" extension of a Common Schema log: the SDK's library version, and
// the epoch, sequence number and install id that the Ruv Erirovevu channel
// delegate stamps on each log.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACSDKExtension : public DVACSerializableObject, public DVACModel {
 public:
  std::optional<std::string> libVer;
  std::optional<std::string> epoch;
  // Per instrumentation key, raised by one before each log; 0 means unset.
  uint64_t seq = 0;
  std::optional<ns::UUID> installId;

  // "libVer", "epoch", "installId" (upper-case UUID text) when set, "seq" when
  // non-zero; null when none of them is written.
  ns::Value serializeToDictionary() const override;
  bool isValid() const override { return true; }
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACSDKExtension> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACSDKExtension"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACSDKExtension", "NSObject"}; }
};
