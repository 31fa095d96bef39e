#pragma once
// An uncaught CXX exception dressed as the platform's exception, so that the
// crash engine's uncaught-exception handler records its type, message and
// throw-site frames like those of any uncaught exception.

#include <cstdint>
#include <vector>

#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesUncaughtCXXExceptionHandlerManager.h"
#include "platform/machcompat/NSException.h"

class DVACCrashesCXXExceptionWrapperException : public ns::NSException {
 public:
  // Name: the demangled type name (the raw one when it does not demangle, ""
  // for none); reason: the message or "". The record is not copied: it must
  // outlive the wrapper.
  explicit DVACCrashesCXXExceptionWrapperException(const DVACCrashesUncaughtCXXExceptionInfo* info);

  // The record's frames, in order.
  std::vector<uint64_t> callStackReturnAddresses() const override;
  const DVACCrashesUncaughtCXXExceptionInfo* info() const { return info_; }

  static std::string demangledTypeName(const char* typeName);

 private:
  const DVACCrashesUncaughtCXXExceptionInfo* info_;
};

// The Crashes service's CXX handler: passes the wrapped exception to the
// installed uncaught-exception handler, then aborts.
[[noreturn]] void DVACCrashesUncaughtCXXExceptionHandler(const DVACCrashesUncaughtCXXExceptionInfo* info);
