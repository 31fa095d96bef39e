#include "LQCrashReporter/Source/LQCrashErrors.h"

#include <cstring>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"

void lqcrash_populate_error(ns::Error* error, int64_t code, const std::string& description,
                            const ns::Error* underlying) {
    if (!error) return;
    ns::Error e = ns::Error::withDescription(LQCrashReporterErrorDomain, code, description);
    if (underlying) e.setUnderlyingError(*underlying);
    *error = e;
}

void lqcrash_populate_posix_error(ns::Error* error, int errnum, const std::string& description) {
    if (!error) return;
    ns::Error cause = ns::Error::withDescription(ns::NSPOSIXErrorDomain, errnum, std::strerror(errnum));
    lqcrash_populate_error(error, LQCrashReporterErrorOperatingSystem, description, &cause);
}

void lqcrash_populate_mach_error(ns::Error* error, kern_return_t kr, const std::string& description) {
    if (!error) return;
    ns::Error cause = ns::Error::withDescription(NSMachErrorDomain, kr, mach_error_string(kr));
    lqcrash_populate_error(error, LQCrashReporterErrorOperatingSystem, description, &cause);
}

std::string lqcrash_localized(const std::string& text) { return ns::Bundle::main()->localizedString(text, ""); }

void lqcrash_log(const std::string& line) { ns::NSLog(line); }
