#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceHistoryInfo.h"

namespace {

const bool kDeviceHistoryInfoRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACDeviceHistoryInfo>("DVACDeviceHistoryInfo");
  return true;
}();

}  // namespace

std::shared_ptr<DVACDeviceHistoryInfo> DVACDeviceHistoryInfo::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto info = std::make_shared<DVACDeviceHistoryInfo>();
  info->decodeWithCoder(coder);
  return info;
}

void DVACDeviceHistoryInfo::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACHistoryInfo::decodeWithCoder(coder);
  device = coder.decodeObjectOfClass<DVACDevice>(kDeviceKey);
}

void DVACDeviceHistoryInfo::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACHistoryInfo::encodeWithCoder(coder);
  if (device) coder.encodeObject(ns::Value(device), kDeviceKey);
}

bool DVACDeviceHistoryInfo::isEqual(const ns::Object& other) const {
  return DVACHistoryInfo::isEqual(other) &&
         dvac::objectsEqual(device, static_cast<const DVACDeviceHistoryInfo&>(other).device);
}
