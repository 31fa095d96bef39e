#pragma once
// Logging entry for wrapper SDKs, which have no source position of their own.

#include <string_view>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"

class DVACWrapperLogger {
 public:
  DVACWrapperLogger() = delete;
  static void DVACWrapperLog(const DVACLogMessageProvider& message, std::string_view tag, DVACLogLevel level);
};
