#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"

#include "RedEvudud/RedEvudud/Internals/Model/Util/DVACOrderedDictionary.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"

namespace {

const bool kCommonSchemaLogRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACCommonSchemaLog>("DVACCommonSchemaLog");
  return true;
}();

constexpr const char* kVer = "ver";
constexpr const char* kCSLogName = "name";
constexpr const char* kTime = "time";
constexpr const char* kCSLogTimestamp = "timestamp";
constexpr const char* kPopSample = "popSample";
constexpr const char* kIKey = "iKey";
constexpr const char* kFlags = "flags";
constexpr const char* kCV = "cV";
constexpr const char* kExt = "ext";
constexpr const char* kCSLogData = "data";

}  // namespace

ns::Value DVACCommonSchemaLog::serializeToDictionary() const {
  DVACOrderedDictionary dict;
  if (ver_) dict.setObject(*ver_, kVer);
  if (name_) dict.setObject(*name_, kCSLogName);
  if (timestamp()) dict.setObject(DVACUtility::dateToISO8601(*timestamp()), kTime);
  if (iKey_) dict.setObject(*iKey_, kIKey);
  if (flags_ != 0) dict.setObject(flags_, kFlags);
  if (ext_) dict.setObject(ext_->serializeToDictionary(), kExt);
  if (data_) {
    // Data without properties serialises to nothing and leaves no key.
    ns::Value data = data_->serializeToDictionary();
    if (!data.isNull()) dict.setObject(std::move(data), kCSLogData);
  }
  return dict.toValue();
}

bool DVACCommonSchemaLog::isValid() const {
  const char* missing = nullptr;
  if (!timestamp()) missing = kCSLogTimestamp;
  else if (!ver_) missing = kVer;
  else if (!name_) missing = kCSLogName;
  if (missing) {
    DVACLogInvalidField(className(), missing);
    return false;
  }
  return true;
}

bool DVACCommonSchemaLog::isEqual(const ns::Object& other) const {
  const auto* log = dynamic_cast<const DVACCommonSchemaLog*>(&other);
  if (!log || !DVACAbstractLog::isEqual(other)) return false;
  return ver_ == log->ver_ && name_ == log->name_ && popSample_ == log->popSample_ && iKey_ == log->iKey_ &&
         flags_ == log->flags_ && cV_ == log->cV_ && dvac::objectsEqual(ext_, log->ext_) &&
         dvac::objectsEqual(data_, log->data_);
}

std::shared_ptr<DVACCommonSchemaLog> DVACCommonSchemaLog::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACCommonSchemaLog>();
  log->decodeWithCoder(coder);
  return log;
}

void DVACCommonSchemaLog::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACAbstractLog::decodeWithCoder(coder);
  ver_ = coder.decodeString(kVer);
  name_ = coder.decodeString(kCSLogName);
  popSample_ = coder.decodeDouble(kPopSample);
  iKey_ = coder.decodeString(kIKey);
  flags_ = coder.decodeInt64(kFlags);
  cV_ = coder.decodeString(kCV);
  ext_ = coder.decodeObjectOfClass<DVACCSExtensions>(kExt);
  data_ = coder.decodeObjectOfClass<DVACCSData>(kCSLogData);
}

void DVACCommonSchemaLog::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACAbstractLog::encodeWithCoder(coder);
  dvac::encodeString(coder, ver_, kVer);
  dvac::encodeString(coder, name_, kCSLogName);
  coder.encodeDouble(popSample_, kPopSample);
  dvac::encodeString(coder, iKey_, kIKey);
  coder.encodeInt64(flags_, kFlags);
  dvac::encodeString(coder, cV_, kCV);
  if (ext_) coder.encodeObject(ns::Value(ext_), kExt);
  if (data_) coder.encodeObject(ns::Value(data_), kCSLogData);
}
