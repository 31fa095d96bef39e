#pragma once
// The machine, operating system, application and SDK that produced a log.
// Built by the device tracker, nested under every log's "device" key, and
// read field by field by the Common Schema conversion.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Model/DVACWrapperSdk.h"

class DVACDevice : public DVACWrapperSdk {
 public:
  DVACDevice() = default;

  std::optional<std::string> sdkName;         // required
  std::optional<std::string> sdkVersion;      // required
  std::optional<std::string> model;
  std::optional<std::string> oemName;
  std::optional<std::string> osName;          // required
  std::optional<std::string> osVersion;       // required
  std::optional<std::string> osBuild;
  std::optional<int64_t> osApiLevel;
  std::optional<std::string> locale;          // required
  std::optional<int64_t> timeZoneOffset;      // required; minutes east of UTC
  std::optional<std::string> screenSize;
  std::optional<std::string> appVersion;      // required
  std::optional<std::string> carrierName;
  std::optional<std::string> carrierCountry;
  std::optional<std::string> appBuild;        // required
  std::optional<std::string> appNamespace;

  // The wrapper fields plus a key for every device field that is set.
  ns::Value serializeToDictionary() const override;
  // Every required field present; the first missing one is logged.
  bool isValid() const override;
  // The other object is a device with equal wrapper and device fields.
  bool isEqual(const ns::Object& other) const override;
  // The description of its JSON dictionary.
  std::string description() const override;

  static std::shared_ptr<DVACDevice> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACDevice"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACDevice", "DVACWrapperSdk", "NSObject"}; }
};
