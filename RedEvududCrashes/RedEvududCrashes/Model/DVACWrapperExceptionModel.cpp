#include "RedEvududCrashes/RedEvududCrashes/Model/DVACWrapperExceptionModel.h"

namespace {

const bool kWrapperExceptionModelRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACWrapperExceptionModel>("DVACWrapperExceptionModel");
  return true;
}();

constexpr const char* kExceptionWrapperSdkName = "wrapperSdkName";
constexpr const char* kInnerExceptions = "innerExceptions";

}  // namespace

ns::Value DVACWrapperExceptionModel::serializeToDictionary() const {
  ns::Value dict = DVACExceptionModel::serializeToDictionary();
  dvac::setJSONValue(dict, kExceptionWrapperSdkName, wrapperSdkName);
  if (innerExceptions) dvac::setJSONValue(dict, kInnerExceptions, dvac::serializedArray(*innerExceptions));
  return dict;
}

bool DVACWrapperExceptionModel::isEqual(const ns::Object& other) const {
  const auto* model = dynamic_cast<const DVACWrapperExceptionModel*>(&other);
  return model && DVACExceptionModel::isEqual(other) && wrapperSdkName == model->wrapperSdkName &&
         dvac::objectArraysEqual(innerExceptions, model->innerExceptions);
}

std::shared_ptr<DVACWrapperExceptionModel> DVACWrapperExceptionModel::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto model = std::make_shared<DVACWrapperExceptionModel>();
  model->decodeWithCoder(coder);
  return model;
}

void DVACWrapperExceptionModel::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  DVACExceptionModel::decodeWithCoder(coder);
  innerExceptions = dvac::decodeObjectArray<DVACWrapperExceptionModel>(coder, kInnerExceptions);
  wrapperSdkName = coder.decodeString(kExceptionWrapperSdkName);
}

void DVACWrapperExceptionModel::encodeWithCoder(ns::KeyedArchiver& coder) const {
  DVACExceptionModel::encodeWithCoder(coder);
  if (innerExceptions) coder.encodeObject(dvac::objectArray(*innerExceptions), kInnerExceptions);
  dvac::encodeString(coder, wrapperSdkName, kExceptionWrapperSdkName);
}
