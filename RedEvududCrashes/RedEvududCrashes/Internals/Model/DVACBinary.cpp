#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACBinary.h"

#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACStackFrame.h"

namespace {

const bool kBinaryRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACBinary>("DVACBinary");
  return true;
}();

constexpr const char* kBinaryId = "id";
constexpr const char* kStartAddress = "startAddress";
constexpr const char* kEndAddress = "endAddress";
constexpr const char* kBinaryName = "name";
constexpr const char* kPath = "path";
constexpr const char* kBinaryArchitecture = "architecture";
constexpr const char* kBinaryPrimaryArchitectureId = "primaryArchitectureId";
constexpr const char* kBinaryArchitectureVariantId = "architectureVariantId";

}  // namespace

ns::Value DVACBinary::serializeToDictionary() const {
  ns::Value dict{ns::Dictionary{}};
  dvac::setJSONValue(dict, kBinaryId, binaryId);
  dvac::setJSONValue(dict, kStartAddress, startAddress);
  dvac::setJSONValue(dict, kEndAddress, endAddress);
  dvac::setJSONValue(dict, kBinaryName, name);
  dvac::setJSONValue(dict, kPath, path);
  dvac::setJSONValue(dict, kBinaryArchitecture, architecture);
  if (primaryArchitectureId) dvac::setJSONValue(dict, kBinaryPrimaryArchitectureId, ns::Value(*primaryArchitectureId));
  if (architectureVariantId) dvac::setJSONValue(dict, kBinaryArchitectureVariantId, ns::Value(*architectureVariantId));
  return dict;
}

bool DVACBinary::isValid() const {
  const std::pair<const std::optional<std::string>*, const char*> required[] = {{&binaryId, "binaryId"},
                                                                                {&startAddress, kStartAddress},
                                                                                {&endAddress, kEndAddress},
                                                                                {&name, kBinaryName},
                                                                                {&path, kPath}};
  for (const auto& [field, fieldName] : required) {
    if (!*field) {
      DVACLogInvalidField(className(), fieldName);
      return false;
    }
  }
  return true;
}

bool DVACBinary::isEqual(const ns::Object& other) const {
  const auto* binary = dynamic_cast<const DVACBinary*>(&other);
  return binary && binaryId == binary->binaryId && startAddress == binary->startAddress &&
         endAddress == binary->endAddress && name == binary->name && path == binary->path &&
         architecture == binary->architecture && primaryArchitectureId == binary->primaryArchitectureId &&
         architectureVariantId == binary->architectureVariantId;
}

std::string DVACBinary::description() const { return serializeToDictionary().description(); }

std::shared_ptr<DVACBinary> DVACBinary::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto binary = std::make_shared<DVACBinary>();
  binary->binaryId = coder.decodeString(kBinaryId);
  binary->startAddress = coder.decodeString(kStartAddress);
  binary->endAddress = coder.decodeString(kEndAddress);
  binary->name = coder.decodeString(kBinaryName);
  binary->path = coder.decodeString(kPath);
  binary->architecture = coder.decodeString(kBinaryArchitecture);
  binary->primaryArchitectureId = dvac::decodeUnsignedNumber(coder, kBinaryPrimaryArchitectureId);
  binary->architectureVariantId = dvac::decodeUnsignedNumber(coder, kBinaryArchitectureVariantId);
  return binary;
}

void DVACBinary::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, binaryId, kBinaryId);
  dvac::encodeString(coder, startAddress, kStartAddress);
  dvac::encodeString(coder, endAddress, kEndAddress);
  dvac::encodeString(coder, name, kBinaryName);
  dvac::encodeString(coder, path, kPath);
  dvac::encodeString(coder, architecture, kBinaryArchitecture);
  if (primaryArchitectureId) coder.encodeObject(ns::Value(*primaryArchitectureId), kBinaryPrimaryArchitectureId);
  if (architectureVariantId) coder.encodeObject(ns::Value(*architectureVariantId), kBinaryArchitectureVariantId);
}
