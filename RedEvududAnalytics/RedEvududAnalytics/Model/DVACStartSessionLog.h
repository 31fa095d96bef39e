#pragma once
// Announces a new session; its session id is the new one, which the session
// tracker sets itself and never overwrites.

#include <memory>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACAbstractLog.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACNoAutoAssignSessionIdLog.h"

class DVACStartSessionLog : public DVACAbstractLog, public DVACNoAutoAssignSessionIdLog {
 public:
  static constexpr const char* kLogType = "startSession";

  // Type "startSession".
  DVACStartSessionLog();

  static std::shared_ptr<DVACStartSessionLog> initWithCoder(ns::KeyedUnarchiver& coder);

  std::string className() const override { return "DVACStartSessionLog"; }
  std::vector<std::string> classHierarchy() const override {
    return {"DVACStartSessionLog", "DVACAbstractLog", "NSObject"};
  }
};
