#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACSDKExtension.h"

namespace {

const bool kSDKExtensionRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACSDKExtension>("DVACSDKExtension");
  return true;
}();

constexpr const char* kLibVerKey = "libVer";
constexpr const char* kEpochKey = "epoch";
constexpr const char* kSeqKey = "seq";
constexpr const char* kInstallIdKey = "installId";

}  // namespace

ns::Value DVACSDKExtension::serializeToDictionary() const {
  ns::Value dict;
  dvac::setJSONValue(dict, kLibVerKey, libVer);
  dvac::setJSONValue(dict, kEpochKey, epoch);
  if (installId) dvac::setJSONValue(dict, kInstallIdKey, ns::Value(installId->UUIDString()));
  if (seq != 0) dvac::setJSONValue(dict, kSeqKey, ns::Value(seq));
  return dict;
}

bool DVACSDKExtension::isEqual(const ns::Object& other) const {
  const auto* ext = dynamic_cast<const DVACSDKExtension*>(&other);
  if (!ext) return false;
  return libVer == ext->libVer && epoch == ext->epoch && seq == ext->seq && installId == ext->installId;
}

std::shared_ptr<DVACSDKExtension> DVACSDKExtension::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto ext = std::make_shared<DVACSDKExtension>();
  ext->decodeWithCoder(coder);
  return ext;
}

void DVACSDKExtension::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  libVer = coder.decodeString(kLibVerKey);
  epoch = coder.decodeString(kEpochKey);
  seq = coder.decodeUInt64(kSeqKey);
  installId = coder.decodeUUID(kInstallIdKey);
}

void DVACSDKExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, libVer, kLibVerKey);
  dvac::encodeString(coder, epoch, kEpochKey);
  coder.encodeUInt64(seq, kSeqKey);
  if (installId) coder.encodeObject(ns::Value(*installId), kInstallIdKey);
}
