#pragma once
// The engine's POSIX signal handling: one handler per signal, run on an
// alternate stack, with a chain of callbacks (see LQCrashSignalHandlerCore.h).

#include <signal.h>

#include "LQCrashReporter/Source/LQCrashSignalHandlerCore.h"
#include "platform/foundation/Error.h"

class DVLQCrashSignalHandler {
public:
    // Created once; null if its alternate stack could not be allocated.
    static DVLQCrashSignalHandler* sharedHandler();

    bool registerHandlerForSignal(int signo, lqcrash_signal_handler_callback_func callback, void* context,
                                  ns::Error* error);
    bool registerHandlerWithSignal(int signo, ns::Error* error);
    // Empties the callback chain and the saved previous actions; the
    // installed handlers stay.
    static void resetHandlers();

    const stack_t& alternateStack() const { return _sigstk; }

private:
    DVLQCrashSignalHandler() = default;
    bool init();
    stack_t _sigstk{};
};
