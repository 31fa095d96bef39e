#pragma once
// NSException stand-in: a named exception with a reason and the return
// addresses of the stack it was raised on, plus the process's uncaught-
// exception handler. Kept free of the rest of Foundation so that the crash
// engine's crash-time code, which records such exceptions, builds alone.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ns {

class NSException {
public:
    // Without return addresses the exception takes those of the stack it is
    // made on, innermost (its maker) first: every exception here is raised
    // where it is made, by `throw NSException(...)`.
    NSException(std::string name, std::optional<std::string> reason,
                std::vector<uint64_t> callStackReturnAddresses = {});
    virtual ~NSException();

    const std::string& name() const { return name_; }
    const std::optional<std::string>& reason() const { return reason_; }
    // Subclasses may answer with addresses of their own.
    virtual std::vector<uint64_t> callStackReturnAddresses() const { return callStack_; }

private:
    std::string name_;
    std::optional<std::string> reason_;
    std::vector<uint64_t> callStack_;
};

using NSUncaughtExceptionHandler = void (*)(const NSException& exception);

void NSSetUncaughtExceptionHandler(NSUncaughtExceptionHandler handler);
NSUncaughtExceptionHandler NSGetUncaughtExceptionHandler();

}  // namespace ns
