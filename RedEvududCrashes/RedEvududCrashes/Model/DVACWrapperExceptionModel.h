#pragma once
// An exception as a wrapper SDK describes it: the exception record plus the
// wrapper's name and the exceptions it wraps.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvududCrashes/RedEvududCrashes/Model/DVACExceptionModel.h"

class DVACWrapperExceptionModel : public DVACExceptionModel {
 public:
  std::optional<std::string> wrapperSdkName;
  std::optional<std::vector<std::shared_ptr<DVACWrapperExceptionModel>>> innerExceptions;

  // The record's keys plus "wrapperSdkName" and "innerExceptions".
  ns::Value serializeToDictionary() const override;
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACWrapperExceptionModel> initWithCoder(ns::KeyedUnarchiver& coder);
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override;
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACWrapperExceptionModel"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACWrapperExceptionModel", "DVACExceptionModel", "NSObject"};
  }
};
