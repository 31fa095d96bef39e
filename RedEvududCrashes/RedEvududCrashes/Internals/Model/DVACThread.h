#pragma once
// One thread of a crash: its number in the report, its frames (innermost
// first) and, on the crashed thread, the uncaught exception.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACStackFrame.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACExceptionModel.h"

class DVACThread : public DVACSerializableObject, public DVACModel {
 public:
  // With an empty frame list; a decoded thread gets only what was archived.
  DVACThread() : frames(DVACStackFrames{}) {}

  std::optional<int64_t> threadId;
  std::optional<std::string> name;
  std::optional<DVACStackFrames> frames;
  std::shared_ptr<DVACExceptionModel> exception;

  // "id", "name", "frames" ([] when empty), "exception".
  ns::Value serializeToDictionary() const override;
  // An id and at least one frame.
  bool isValid() const override;
  bool isEqual(const ns::Object& other) const override;
  std::string description() const override;

  static std::shared_ptr<DVACThread> initWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACThread"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACThread", "NSObject"}; }
};
