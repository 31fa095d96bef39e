#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACBinary.h"

#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACStackFrame.h"

namespace {

const bool kRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACBinary>("DVACBinary");
  return true;
}();

constexpr const char* kId = "id";
constexpr const char* kStartAddress = "startAddress";
constexpr const char* kEndAddress = "endAddress";
constexpr const char* kName = "name";
constexpr const char* kPath = "path";
constexpr const char* kArchitecture = "architecture";
constexpr const char* kPrimaryArchitectureId = "primaryArchitectureId";
constexpr const char* kArchitectureVariantId = "architectureVariantId";

}  // namespace

ns::Value DVACBinary::serializeToDictionary() const {
  ns::Value dict{ns::Dictionary{}};
  dvac::setJSONValue(dict, kId, binaryId);
  dvac::setJSONValue(dict, kStartAddress, startAddress);
  dvac::setJSONValue(dict, kEndAddress, endAddress);
  dvac::setJSONValue(dict, kName, name);
  dvac::setJSONValue(dict, kPath, path);
  dvac::setJSONValue(dict, kArchitecture, architecture);
  if (primaryArchitectureId) dvac::setJSONValue(dict, kPrimaryArchitectureId, ns::Value(*primaryArchitectureId));
  if (architectureVariantId) dvac::setJSONValue(dict, kArchitectureVariantId, ns::Value(*architectureVariantId));
  return dict;
}

bool DVACBinary::isValid() const {
  const std::pair<const std::optional<std::string>*, const char*> required[] = {
      {&binaryId, "binaryId"}, {&startAddress, kStartAddress}, {&endAddress, kEndAddress},
      {&name, kName},          {&path, kPath}};
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
  binary->binaryId = coder.decodeString(kId);
  binary->startAddress = coder.decodeString(kStartAddress);
  binary->endAddress = coder.decodeString(kEndAddress);
  binary->name = coder.decodeString(kName);
  binary->path = coder.decodeString(kPath);
  binary->architecture = coder.decodeString(kArchitecture);
  binary->primaryArchitectureId = dvac::decodeUnsignedNumber(coder, kPrimaryArchitectureId);
  binary->architectureVariantId = dvac::decodeUnsignedNumber(coder, kArchitectureVariantId);
  return binary;
}

void DVACBinary::encodeWithCoder(ns::KeyedArchiver& coder) const {
  dvac::encodeString(coder, binaryId, kId);
  dvac::encodeString(coder, startAddress, kStartAddress);
  dvac::encodeString(coder, endAddress, kEndAddress);
  dvac::encodeString(coder, name, kName);
  dvac::encodeString(coder, path, kPath);
  dvac::encodeString(coder, architecture, kArchitecture);
  if (primaryArchitectureId) coder.encodeObject(ns::Value(*primaryArchitectureId), kPrimaryArchitectureId);
  if (architectureVariantId) coder.encodeObject(ns::Value(*architectureVariantId), kArchitectureVariantId);
}
