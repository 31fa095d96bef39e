#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACProtocolExtension.h"

namespace {

const bool kProtocolExtensionRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACProtocolExtension>("DVACProtocolExtension");
  return true;
}();

constexpr const char* kTicketKeysKey = "ticketKeys";
constexpr const char* kDevMakeKey = "devMake";
constexpr const char* kDevModelKey = "devModel";

}  // namespace

ns::Value DVACProtocolExtension::serializeToDictionary() const {
  ns::Value dict;
  if (ticketKeys) dvac::setJSONValue(dict, kTicketKeysKey, dvac::stringArrayValue(*ticketKeys));
  dvac::setJSONValue(dict, kDevMakeKey, devMake);
  dvac::setJSONValue(dict, kDevModelKey, devModel);
  return dict;
}

bool DVACProtocolExtension::isEqual(const ns::Object& other) const {
  const auto* ext = dynamic_cast<const DVACProtocolExtension*>(&other);
  if (!ext) return false;
  return ticketKeys == ext->ticketKeys && devMake == ext->devMake && devModel == ext->devModel;
}

std::shared_ptr<DVACProtocolExtension> DVACProtocolExtension::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto ext = std::make_shared<DVACProtocolExtension>();
  ext->decodeWithCoder(coder);
  return ext;
}

void DVACProtocolExtension::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  ticketKeys = dvac::stringArrayFromValue(coder.decodeObject(kTicketKeysKey));
  devMake = coder.decodeString(kDevMakeKey);
  devModel = coder.decodeString(kDevModelKey);
}

void DVACProtocolExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  if (ticketKeys) coder.encodeObject(dvac::stringArrayValue(*ticketKeys), kTicketKeysKey);
  dvac::encodeString(coder, devMake, kDevMakeKey);
  dvac::encodeString(coder, devModel, kDevModelKey);
}
