#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdHistoryInfo.h"

namespace {

const bool kUserIdHistoryInfoRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACUserIdHistoryInfo>("DVACUserIdHistoryInfo");
  return true;
}();

}  // namespace

std::shared_ptr<DVACUserIdHistoryInfo> DVACUserIdHistoryInfo::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto info = std::make_shared<DVACUserIdHistoryInfo>();
  info->decodeWithCoder(coder);
  return info;
}

void DVACUserIdHistoryInfo::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACHistoryInfo::decodeWithCoder(coder);
  userId = coder.decodeString(kUserIdKey);
}

void DVACUserIdHistoryInfo::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACHistoryInfo::encodeWithCoder(coder);
  if (userId) coder.encodeObject(ns::Value(*userId), kUserIdKey);
}

bool DVACUserIdHistoryInfo::isEqual(const ns::Object& other) const {
  return DVACHistoryInfo::isEqual(other) && userId == static_cast<const DVACUserIdHistoryInfo&>(other).userId;
}
