#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACTestSessionInfo.h"

namespace {

// Known to the unarchiver as soon as this file is linked in, which any use
// of the class brings about.
const bool kTestSessionInfoRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACTestSessionInfo>("DVACTestSessionInfo");
  return true;
}();

}  // namespace

std::shared_ptr<DVACTestSessionInfo> DVACTestSessionInfo::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto info = std::make_shared<DVACTestSessionInfo>();
  info->decodeWithCoder(coder);
  return info;
}

bool DVACTestSessionInfo::isEqual(const ns::Object& other) const {
  return DVACHistoryInfo::isEqual(other) && sessionId == static_cast<const DVACTestSessionInfo&>(other).sessionId;
}
