#pragma once
// The engine's errors outside crash time: NSError values in
// "LQCrashReporterErrorDomain", and the engine's log lines.

#include <string>

#include "platform/foundation/Error.h"
#include "platform/machcompat/Mach.h"

inline constexpr const char* LQCrashReporterErrorDomain = "LQCrashReporterErrorDomain";
inline constexpr const char* NSMachErrorDomain = "NSMachErrorDomain";
inline constexpr const char* LQCrashReporterException = "LQCrashReporterException";

enum DVLQCrashReporterError : int64_t {
    LQCrashReporterErrorUnknown = 0,
    LQCrashReporterErrorOperatingSystem = 1,
    LQCrashReporterErrorCrashReportInvalid = 2,
    LQCrashReporterErrorResourceBusy = 3,
};

// Does nothing without an out pointer; otherwise the error with the text
// under the localized-description key and, when given, the cause.
void lqcrash_populate_error(ns::Error* error, int64_t code, const std::string& description,
                            const ns::Error* underlying = nullptr);
// Code 1 with an NSPOSIXErrorDomain (errno) or NSMachErrorDomain cause.
void lqcrash_populate_posix_error(ns::Error* error, int errnum, const std::string& description);
void lqcrash_populate_mach_error(ns::Error* error, kern_return_t kr, const std::string& description);

// The text through the main bundle's string table (itself when absent).
std::string lqcrash_localized(const std::string& text);

// A diagnostic line ("[LQCrashReporter] ..." by convention) to the system log.
void lqcrash_log(const std::string& line);
