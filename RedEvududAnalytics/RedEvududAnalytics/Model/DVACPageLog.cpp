#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACPageLog.h"

namespace {

const bool kPageLogRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACPageLog>("DVACPageLog");
  return true;
}();

}  // namespace

DVACPageLog::DVACPageLog() { setType(std::string(kLogType)); }

bool DVACPageLog::isEqual(const ns::Object& other) const {
  return dynamic_cast<const DVACPageLog*>(&other) && DVACLogWithNameAndProperties::isEqual(other);
}

std::shared_ptr<DVACPageLog> DVACPageLog::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACPageLog>();
  log->decodeWithCoder(coder);
  return log;
}
