#pragma once
// The description of a wrapper SDK: a framework that embeds this client and
// reports its own name and version. Its fields travel inside every device
// record.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACWrapperSdk : public DVACSerializableObject, public DVACModel {
 public:
  DVACWrapperSdk() = default;
  DVACWrapperSdk(std::optional<std::string> wrapperSdkVersion, std::optional<std::string> wrapperSdkName,
                 std::optional<std::string> wrapperRuntimeVersion, std::optional<std::string> liveUpdateReleaseLabel,
                 std::optional<std::string> liveUpdateDeploymentKey, std::optional<std::string> liveUpdatePackageHash);

  std::optional<std::string> wrapperSdkVersion;
  std::optional<std::string> wrapperSdkName;
  std::optional<std::string> wrapperRuntimeVersion;
  std::optional<std::string> liveUpdateReleaseLabel;
  std::optional<std::string> liveUpdateDeploymentKey;
  std::optional<std::string> liveUpdatePackageHash;

  // A plain dictionary with the set wrapper fields; empty, never null, when
  // none is set.
  ns::Value serializeToDictionary() const override;
  bool isValid() const override { return true; }
  // The other object is a wrapper record (or a device) with the same six
  // wrapper fields.
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACWrapperSdk> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACWrapperSdk"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACWrapperSdk", "NSObject"}; }
};
