#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionHistoryInfo.h"

namespace {

// Known to the unarchiver as soon as this file is linked in, which any use
// of the class brings about.
const bool kSessionHistoryInfoRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACSessionHistoryInfo>("DVACSessionHistoryInfo");
  return true;
}();

}  // namespace

std::shared_ptr<DVACSessionHistoryInfo> DVACSessionHistoryInfo::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto info = std::make_shared<DVACSessionHistoryInfo>();
  info->decodeWithCoder(coder);
  return info;
}

void DVACSessionHistoryInfo::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACHistoryInfo::decodeWithCoder(coder);
  sessionId = coder.decodeString(kSessionIdKey);
}

void DVACSessionHistoryInfo::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACHistoryInfo::encodeWithCoder(coder);
  if (sessionId) coder.encodeObject(ns::Value(*sessionId), kSessionIdKey);
}

bool DVACSessionHistoryInfo::isEqual(const ns::Object& other) const {
  return DVACHistoryInfo::isEqual(other) && sessionId == static_cast<const DVACSessionHistoryInfo&>(other).sessionId;
}
