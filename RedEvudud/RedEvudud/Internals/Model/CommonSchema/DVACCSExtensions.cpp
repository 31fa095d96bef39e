#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSExtensions.h"

namespace {

const bool kCSExtensionsRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACCSExtensions>("DVACCSExtensions");
  return true;
}();

constexpr const char* kMetadata = "metadata";
constexpr const char* kProtocol = "protocol";
constexpr const char* kUser = "user";
constexpr const char* kExtensionDevice = "device";
constexpr const char* kOs = "os";
constexpr const char* kApp = "app";
constexpr const char* kNet = "net";
constexpr const char* kSdk = "sdk";
constexpr const char* kLoc = "loc";

template <typename T>
void addExtension(ns::Value& dict, const char* key, const std::shared_ptr<T>& ext) {
  if (!ext) return;
  ns::Value value = ext->serializeToDictionary();
  if (!value.isNull()) dvac::setJSONValue(dict, key, std::move(value));
}

template <typename T>
void encodeExtension(ns::KeyedArchiver& coder, const char* key, const std::shared_ptr<T>& ext) {
  if (ext) coder.encodeObject(ns::Value(ext), key);
}

}  // namespace

ns::Value DVACCSExtensions::serializeToDictionary() const {
  ns::Value dict{ns::Dictionary{}};
  addExtension(dict, kMetadata, metadataExt);
  addExtension(dict, kProtocol, protocolExt);
  addExtension(dict, kUser, userExt);
  addExtension(dict, kExtensionDevice, deviceExt);
  addExtension(dict, kOs, osExt);
  addExtension(dict, kApp, appExt);
  addExtension(dict, kNet, netExt);
  addExtension(dict, kSdk, sdkExt);
  addExtension(dict, kLoc, locExt);
  return dict;
}

bool DVACCSExtensions::isValid() const {
  const std::pair<const char*, const DVACModel*> extensions[] = {
      {"metadataExt", metadataExt.get()}, {"protocolExt", protocolExt.get()}, {"userExt", userExt.get()},
      {"deviceExt", deviceExt.get()},     {"osExt", osExt.get()},             {"appExt", appExt.get()},
      {"netExt", netExt.get()},           {"sdkExt", sdkExt.get()},           {"locExt", locExt.get()},
  };
  for (const auto& [name, ext] : extensions) {
    if (ext && !ext->isValid()) {
      DVACLogInvalidField(className(), name);
      return false;
    }
  }
  return true;
}

bool DVACCSExtensions::isEqual(const ns::Object& other) const {
  const auto* ext = dynamic_cast<const DVACCSExtensions*>(&other);
  if (!ext) return false;
  return dvac::objectsEqual(protocolExt, ext->protocolExt) && dvac::objectsEqual(metadataExt, ext->metadataExt) &&
         dvac::objectsEqual(userExt, ext->userExt) && dvac::objectsEqual(deviceExt, ext->deviceExt) &&
         dvac::objectsEqual(osExt, ext->osExt) && dvac::objectsEqual(appExt, ext->appExt) &&
         dvac::objectsEqual(netExt, ext->netExt) && dvac::objectsEqual(sdkExt, ext->sdkExt) &&
         dvac::objectsEqual(locExt, ext->locExt);
}

std::shared_ptr<DVACCSExtensions> DVACCSExtensions::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto ext = std::make_shared<DVACCSExtensions>();
  ext->decodeWithCoder(coder);
  return ext;
}

void DVACCSExtensions::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  metadataExt = coder.decodeObjectOfClass<DVACMetadataExtension>(kMetadata);
  protocolExt = coder.decodeObjectOfClass<DVACProtocolExtension>(kProtocol);
  userExt = coder.decodeObjectOfClass<DVACUserExtension>(kUser);
  deviceExt = coder.decodeObjectOfClass<DVACDeviceExtension>(kExtensionDevice);
  osExt = coder.decodeObjectOfClass<DVACOSExtension>(kOs);
  appExt = coder.decodeObjectOfClass<DVACAppExtension>(kApp);
  netExt = coder.decodeObjectOfClass<DVACNetExtension>(kNet);
  sdkExt = coder.decodeObjectOfClass<DVACSDKExtension>(kSdk);
  locExt = coder.decodeObjectOfClass<DVACLocExtension>(kLoc);
}

void DVACCSExtensions::encodeWithCoder(ns::KeyedArchiver& coder) const {
  encodeExtension(coder, kMetadata, metadataExt);
  encodeExtension(coder, kProtocol, protocolExt);
  encodeExtension(coder, kUser, userExt);
  encodeExtension(coder, kExtensionDevice, deviceExt);
  encodeExtension(coder, kOs, osExt);
  encodeExtension(coder, kApp, appExt);
  encodeExtension(coder, kNet, netExt);
  encodeExtension(coder, kSdk, sdkExt);
  encodeExtension(coder, kLoc, locExt);
}
