#pragma once
// Lets exceptions that the application object catches while it dispatches an
// event reach the Crashes service before the application reports them.
//
// The application object's methods live in the process's method table
// (DVACMethodTable) under the class "NSApplication": "reportException:"
// (arguments[0] a DVACNSExceptionObject) and "sendEvent:" (which may let an
// ns::NSException escape). The forwarder replaces both, once, when the
// Info.plist allows it ("RedEvududApplicationForwarderEnabled", absent =
// enabled) and the user default "NSApplicationCrashOnExceptions" is YES.

#include <memory>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/machcompat/NSException.h"

inline constexpr const char* kDVACApplicationForwarderEnabledKey = "RedEvududApplicationForwarderEnabled";
inline constexpr const char* kDVACApplicationCrashOnExceptionsKey = "NSApplicationCrashOnExceptions";
inline constexpr const char* kDVACApplicationForwarderClassName = "NSApplication";
inline constexpr const char* kDVACReportExceptionSelector = "reportException:";
inline constexpr const char* kDVACSendEventSelector = "sendEvent:";

// An exception carried as a method argument.
class DVACNSExceptionObject : public ns::Object {
 public:
  explicit DVACNSExceptionObject(std::shared_ptr<const ns::NSException> exception)
      : exception(std::move(exception)) {}
  std::string className() const override { return "NSException"; }
  std::shared_ptr<const ns::NSException> exception;
};

class DVACApplicationForwarder {
 public:
  DVACApplicationForwarder() = delete;

  static void registerForwarding();
  // Whether each replacement is in place.
  static bool isReportExceptionReplaced();
  static bool isSendEventReplaced();
  // Forgets the replacements (the table is not restored); for tests that
  // reset the method table.
  static void resetForTesting();
};
