#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACStartSessionLog.h"

namespace {

const bool kStartSessionLogRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACStartSessionLog>("DVACStartSessionLog");
  return true;
}();

}  // namespace

DVACStartSessionLog::DVACStartSessionLog() { setType(std::string(kLogType)); }

std::shared_ptr<DVACStartSessionLog> DVACStartSessionLog::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACStartSessionLog>();
  log->decodeWithCoder(coder);
  return log;
}
