#include "RedEvudud/RedEvudud/Internals/Model/DVACAbstractLog.h"

#include <cinttypes>
#include <cstdio>

#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACAppExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSExtensions.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACDeviceExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACLocExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACNetExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACOSExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACProtocolExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACSDKExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACUserExtension.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Json.h"

namespace {

const bool kAbstractLogRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACAbstractLog>("DVACAbstractLog");
  return true;
}();

constexpr const char* kLogType = "type";
constexpr const char* kLogTimestamp = "timestamp";
constexpr const char* kSid = "sid";
constexpr const char* kDistributionGroupId = "distributionGroupId";
constexpr const char* kUserId = "userId";
constexpr const char* kLogDevice = "device";

bool isNonEmpty(const std::optional<std::string>& text) { return text && !text->empty(); }

}  // namespace

// ---- Target tokens ----------------------------------------------------------

DVACTargetTokenSet DVACAbstractLog::transmissionTargetTokens() const {
  std::lock_guard<std::recursive_mutex> lock(tokensMutex_);
  return transmissionTargetTokens_;
}

void DVACAbstractLog::setTransmissionTargetTokens(DVACTargetTokenSet tokens) {
  std::lock_guard<std::recursive_mutex> lock(tokensMutex_);
  transmissionTargetTokens_ = std::move(tokens);
}

void DVACAbstractLog::addTransmissionTargetToken(const std::string& token) {
  std::lock_guard<std::recursive_mutex> lock(tokensMutex_);
  auto tokens = transmissionTargetTokens_ ? std::make_shared<std::set<std::string>>(*transmissionTargetTokens_)
                                          : std::make_shared<std::set<std::string>>();
  tokens->insert(token);
  transmissionTargetTokens_ = std::move(tokens);
}

// ---- JSON, validity, equality -----------------------------------------------

ns::Value DVACAbstractLog::serializeToDictionary() const {
  ns::Value dict{ns::Dictionary{}};
  dvac::setJSONValue(dict, kLogType, type_);
  if (timestamp_) dvac::setJSONValue(dict, kLogTimestamp, ns::Value(DVACUtility::dateToISO8601(*timestamp_)));
  dvac::setJSONValue(dict, kSid, sid_);
  dvac::setJSONValue(dict, kDistributionGroupId, distributionGroupId_);
  dvac::setJSONValue(dict, kUserId, userId_);
  if (device_) dvac::setJSONValue(dict, kLogDevice, device_->serializeToDictionary());
  return dict;
}

bool DVACAbstractLog::isValid() const {
  if (!type_) {
    DVACLogInvalidField(className(), kLogType);
    return false;
  }
  if (!timestamp_) {
    DVACLogInvalidField(className(), kLogTimestamp);
    return false;
  }
  if (!device_ || !device_->isValid()) {
    DVACLogInvalidField(className(), kLogDevice);
    return false;
  }
  return true;
}

bool DVACAbstractLog::isEqual(const ns::Object& other) const {
  const auto* log = dynamic_cast<const DVACAbstractLog*>(&other);
  if (!log) return false;
  return type_ == log->type_ && timestamp_ == log->timestamp_ && sid_ == log->sid_ &&
         distributionGroupId_ == log->distributionGroupId_ && userId_ == log->userId_ &&
         dvac::objectsEqual(device_, log->device_) && dvac::objectsEqual(tag_, log->tag_);
}

std::optional<std::string> DVACAbstractLog::serializeLogWithPrettyPrinting(bool prettyPrint) const {
  // The writer never escapes "/", so the text needs no un-escaping (which
  // would damage a backslash that precedes a slash in a value).
  ns::json::WriteOptions options;
  options.prettyPrinted = prettyPrint;
  return ns::json::write(serializeToDictionary(), options);
}

// ---- Keyed coding -----------------------------------------------------------

std::shared_ptr<DVACAbstractLog> DVACAbstractLog::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto log = std::make_shared<DVACAbstractLog>();
  log->decodeWithCoder(coder);
  return log;
}

void DVACAbstractLog::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  type_ = coder.decodeString(kLogType);
  timestamp_ = coder.decodeDate(kLogTimestamp);
  sid_ = coder.decodeString(kSid);
  distributionGroupId_ = coder.decodeString(kDistributionGroupId);
  userId_ = coder.decodeString(kUserId);
  device_ = coder.decodeObjectOfClass<DVACDevice>(kLogDevice);
}

void DVACAbstractLog::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, type_, kLogType);
  if (timestamp_) coder.encodeObject(ns::Value(*timestamp_), kLogTimestamp);
  dvac::encodeString(coder, sid_, kSid);
  dvac::encodeString(coder, distributionGroupId_, kDistributionGroupId);
  dvac::encodeString(coder, userId_, kUserId);
  if (device_) coder.encodeObject(ns::Value(device_), kLogDevice);
}

// ---- Common Schema conversion -----------------------------------------------

std::optional<std::vector<std::shared_ptr<DVACCommonSchemaLog>>> DVACAbstractLog::toCommonSchemaLogsWithFlags(
    DVACLogFlags flags) const {
  const DVACTargetTokenSet tokens = transmissionTargetTokens();
  if (!tokens) return std::nullopt;
  std::vector<std::shared_ptr<DVACCommonSchemaLog>> logs;
  for (const auto& token : *tokens) {
    if (auto log = toCommonSchemaLogForTargetToken(token, flags)) logs.push_back(std::move(log));
  }
  if (logs.empty()) return std::nullopt;
  return logs;
}

std::shared_ptr<DVACCommonSchemaLog> DVACAbstractLog::toCommonSchemaLogForTargetToken(const std::string& token,
                                                                                        DVACLogFlags flags) const {
  // A log without a device converts with every device-derived field unset.
  static const DVACDevice kNoDevice;
  const DVACDevice& device = device_ ? *device_ : kNoDevice;

  auto csLog = std::make_shared<DVACCommonSchemaLog>();
  csLog->setTransmissionTargetTokens(std::make_shared<const std::set<std::string>>(std::set<std::string>{token}));
  csLog->setVer("3.0");
  csLog->setTimestamp(timestamp_);
  csLog->setIKey(DVACUtility::iKeyFromTargetToken(token));
  csLog->setFlags(static_cast<int64_t>(flags));

  auto ext = std::make_shared<DVACCSExtensions>();

  auto protocolExt = std::make_shared<DVACProtocolExtension>();
  protocolExt->devMake = device.oemName;
  protocolExt->devModel = device.model;
  ext->protocolExt = protocolExt;

  auto userExt = std::make_shared<DVACUserExtension>();
  userExt->localId = DVACUserIdContext::prefixedUserIdFromUserId(userId_);
  if (device.locale) {
    std::string locale = *device.locale;
    for (char& c : locale) {
      if (c == '_') c = '-';
    }
    userExt->locale = locale;
  }
  ext->userExt = userExt;

  auto osExt = std::make_shared<DVACOSExtension>();
  osExt->name = device.osName;
  osExt->ver = combineOsVersion(device.osVersion, device.osBuild);
  ext->osExt = osExt;

  auto appExt = std::make_shared<DVACAppExtension>();
  if (device.appNamespace) appExt->appId = "I:" + *device.appNamespace;
  appExt->ver = device.appVersion;
  const auto localizations = ns::Bundle::main()->preferredLocalizations();
  if (!localizations.empty()) appExt->locale = localizations.front();
  ext->appExt = appExt;

  auto netExt = std::make_shared<DVACNetExtension>();
  netExt->provider = device.carrierName;
  ext->netExt = netExt;

  auto sdkExt = std::make_shared<DVACSDKExtension>();
  sdkExt->libVer = combineSDKLibVer(device.sdkName, device.sdkVersion);
  ext->sdkExt = sdkExt;

  auto locExt = std::make_shared<DVACLocExtension>();
  if (device.timeZoneOffset) locExt->tz = convertTimeZoneOffsetToISO8601(*device.timeZoneOffset);
  ext->locExt = locExt;

  ext->deviceExt = std::make_shared<DVACDeviceExtension>();

  csLog->setExt(ext);
  return csLog;
}

// ---- Formatting -------------------------------------------------------------

std::optional<std::string> DVACAbstractLog::combineOsVersion(const std::optional<std::string>& version,
                                                             const std::optional<std::string>& build) {
  std::optional<std::string> combined;
  if (isNonEmpty(version)) combined = "Version " + *version;
  if (isNonEmpty(build)) {
    const std::string buildText = "(Build " + *build + ")";
    combined = combined ? *combined + " " + buildText : buildText;
  }
  return combined;
}

std::optional<std::string> DVACAbstractLog::combineSDKLibVer(const std::optional<std::string>& name,
                                                             const std::optional<std::string>& version) {
  if (!isNonEmpty(name) || !isNonEmpty(version)) return std::nullopt;
  return *name + "-" + *version;
}

std::string DVACAbstractLog::convertTimeZoneOffsetToISO8601(int64_t offsetInMinutes) {
  // The sign comes from the offset itself, so "-00:30" keeps its minus.
  const bool negative = offsetInMinutes < 0;
  const uint64_t magnitude =
      negative ? static_cast<uint64_t>(-(offsetInMinutes + 1)) + 1 : static_cast<uint64_t>(offsetInMinutes);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%c%02" PRIu64 ":%02" PRIu64, negative ? '-' : '+', magnitude / 60,
                magnitude % 60);
  return buffer;
}
