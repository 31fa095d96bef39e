#pragma once
// One device record of the device history, with the time it became current.

#include <memory>
#include <optional>

#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryInfo.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"

class DVACDeviceHistoryInfo : public DVACHistoryInfo {
 public:
  static constexpr const char* kDeviceKey = "deviceKey";

  DVACDeviceHistoryInfo() = default;
  DVACDeviceHistoryInfo(std::optional<ns::Date> timestamp, std::shared_ptr<DVACDevice> device)
      : DVACHistoryInfo(timestamp), device(std::move(device)) {}

  std::shared_ptr<DVACDevice> device;

  static std::shared_ptr<DVACDeviceHistoryInfo> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACDeviceHistoryInfo"; }
  bool isEqual(const ns::Object& other) const override;
};
