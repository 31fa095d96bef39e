#pragma once
// An exception a wrapper SDK reported before it crashed the process: its
// exception record, its own opaque data and the id of the process.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvududCrashes/RedEvududCrashes/Model/DVACExceptionModel.h"

class DVACWrapperException : public DVACSerializableObject {
 public:
  std::shared_ptr<DVACExceptionModel> modelException;
  std::optional<ns::Data> exceptionData;
  std::optional<uint64_t> processId;

  // "modelException", "processId" and "exceptionData" (the data itself).
  ns::Value serializeToDictionary() const override;
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACWrapperException> initWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACWrapperException"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACWrapperException", "NSObject"}; }
};
