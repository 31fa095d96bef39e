#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryInfo.h"

#include <typeinfo>

namespace {

// Known to the unarchiver as soon as this file is linked in, which any use
// of the class brings about.
const bool kHistoryInfoRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACHistoryInfo>("DVACHistoryInfo");
  return true;
}();

}  // namespace

std::shared_ptr<DVACHistoryInfo> DVACHistoryInfo::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto info = std::make_shared<DVACHistoryInfo>();
  info->decodeWithCoder(coder);
  return info;
}

void DVACHistoryInfo::decodeWithCoder(ns::KeyedUnarchiver& coder) { timestamp = coder.decodeDate(kTimestampKey); }

void DVACHistoryInfo::encodeWithCoder(ns::KeyedArchiver& coder) const {
  if (timestamp) coder.encodeObject(ns::Value(*timestamp), kTimestampKey);
}

std::vector<std::string> DVACHistoryInfo::classHierarchy() const {
  std::vector<std::string> classes{className()};
  if (className() != "DVACHistoryInfo") classes.push_back("DVACHistoryInfo");
  classes.push_back("NSObject");
  return classes;
}

bool DVACHistoryInfo::isEqual(const ns::Object& other) const {
  if (typeid(*this) != typeid(other)) return false;
  return timestamp == static_cast<const DVACHistoryInfo&>(other).timestamp;
}
