#include "LQCrashReporter/Source/DVLQCrashSignalHandler.h"

#include <cstdlib>
#include <mutex>

#include "LQCrashReporter/Source/LQCrashErrors.h"

namespace {
constexpr size_t kAlternateStackSize = 65536;
}

DVLQCrashSignalHandler* DVLQCrashSignalHandler::sharedHandler() {
    static DVLQCrashSignalHandler* shared = [] {
        auto* handler = new DVLQCrashSignalHandler();
        if (!handler->init()) {
            delete handler;
            return static_cast<DVLQCrashSignalHandler*>(nullptr);
        }
        return handler;
    }();
    return shared;
}

bool DVLQCrashSignalHandler::init() {
    _sigstk.ss_size = kAlternateStackSize;
    _sigstk.ss_flags = 0;
    _sigstk.ss_sp = std::malloc(kAlternateStackSize);
    return _sigstk.ss_sp != nullptr;
}

bool DVLQCrashSignalHandler::registerHandlerWithSignal(int signo, ns::Error* error) {
    int errnum = 0;
    const char* failure = nullptr;
    if (!lqcrash_signal_handler_register_signal(&_sigstk, signo, &errnum, &failure)) {
        lqcrash_populate_posix_error(error, errnum, failure);
        return false;
    }
    return true;
}

bool DVLQCrashSignalHandler::registerHandlerForSignal(int signo, lqcrash_signal_handler_callback_func callback,
                                                      void* context, ns::Error* error) {
    int errnum = 0;
    const char* failure = nullptr;
    if (!lqcrash_signal_handler_register_callback(&_sigstk, signo, callback, context, &errnum, &failure)) {
        lqcrash_populate_posix_error(error, errnum, failure);
        return false;
    }
    return true;
}

void DVLQCrashSignalHandler::resetHandlers() { lqcrash_signal_handler_reset(); }
