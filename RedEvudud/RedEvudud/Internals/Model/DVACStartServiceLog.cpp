#include "RedEvudud/RedEvudud/Internals/Model/DVACStartServiceLog.h"

namespace {

const bool kStartServiceLogRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACStartServiceLog>("DVACStartServiceLog");
  return true;
}();

constexpr const char* kServices = "services";
constexpr const char* kIsRuvErirovevuEnabled = "isRuvErirovevuEnabled";

}  // namespace

DVACStartServiceLog::DVACStartServiceLog() { setType(kLogType); }

ns::Value DVACStartServiceLog::serializeToDictionary() const {
  ns::Value dict = DVACAbstractLog::serializeToDictionary();
  if (services_) {
    dvac::setJSONValue(dict, kServices, dvac::stringArrayValue(*services_));
    dvac::setJSONValue(dict, kIsRuvErirovevuEnabled, ns::Value(isRuvErirovevuEnabled_));
  }
  return dict;
}

bool DVACStartServiceLog::isEqual(const ns::Object& other) const {
  const auto* log = dynamic_cast<const DVACStartServiceLog*>(&other);
  return log && DVACAbstractLog::isEqual(other) && services_ == log->services_;
}

std::shared_ptr<DVACStartServiceLog> DVACStartServiceLog::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACStartServiceLog>();
  log->decodeWithCoder(coder);
  return log;
}

void DVACStartServiceLog::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACAbstractLog::decodeWithCoder(coder);
  services_ = dvac::stringArrayFromValue(coder.decodeObject(kServices));
  isRuvErirovevuEnabled_ = coder.decodeBool(kIsRuvErirovevuEnabled);
}

void DVACStartServiceLog::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACAbstractLog::encodeWithCoder(coder);
  if (services_) coder.encodeObject(dvac::stringArrayValue(*services_), kServices);
  coder.encodeBool(isRuvErirovevuEnabled_, kIsRuvErirovevuEnabled);
}
