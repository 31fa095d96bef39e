#pragma once
// The process's POSIX signal handling for the engine: one handler per signal
// on an alternate stack, the actions that were installed before it, and a
// chain of callbacks run when a signal arrives. The chain and the saved
// actions live in async lists that the handler walks without locks.

#include <signal.h>

#include "LQCrashReporter/Source/LQCrashAsyncList.h"

struct lqcrash_signal_handler_callback;

// A callback of the chain; returns true when it handled the signal. next,
// when given, lets it run the rest of the chain first.
typedef bool (*lqcrash_signal_handler_callback_func)(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                                     lqcrash_signal_handler_callback* next);

// The continuation: the iterator and the node whose successors still run.
struct lqcrash_signal_handler_callback {
    bool (*callback)(int signo, siginfo_t* info, ucontext_t* uap, void* next);
    void* next;
};

// Runs the rest of the chain.
bool lqcrash_signal_handler_callback_next(lqcrash_signal_handler_callback* next, int signo, siginfo_t* info,
                                          ucontext_t* uap);

struct lqcrash_signal_user_callback {
    lqcrash_signal_handler_callback_func callback;
    void* context;
    friend bool operator==(const lqcrash_signal_user_callback& a, const lqcrash_signal_user_callback& b) {
        return a.callback == b.callback && a.context == b.context;
    }
    friend bool operator!=(const lqcrash_signal_user_callback& a, const lqcrash_signal_user_callback& b) {
        return !(a == b);
    }
};

struct lqcrash_previous_action {
    int signo;
    struct sigaction action;
    friend bool operator==(const lqcrash_previous_action& a, const lqcrash_previous_action& b) {
        return a.signo == b.signo;
    }
    friend bool operator!=(const lqcrash_previous_action& a, const lqcrash_previous_action& b) { return !(a == b); }
};

lqcrash::DV::async::async_list<lqcrash_signal_user_callback>& lqcrash_signal_handler_callbacks();
lqcrash::DV::async::async_list<lqcrash_previous_action>& lqcrash_signal_handler_previous_actions();

// Installs the engine's handler for the signal once (see the signal handler
// object): sets the alternate stack for the calling thread (and has threads
// started from now on get their own, LQCrashAlternateStacks.h), adds the
// previous-action callback to the chain, and saves the replaced action.
// False with *error_number and *failure ("Could not initialize alternative
// signal stack" or "Failed to register signal handler") on failure.
bool lqcrash_signal_handler_register_signal(const stack_t* altstack, int signo, int* error_number,
                                            const char** failure);
// register_signal, then prepends {callback, context} to the chain.
bool lqcrash_signal_handler_register_callback(const stack_t* altstack, int signo,
                                              lqcrash_signal_handler_callback_func callback, void* context,
                                              int* error_number, const char** failure);
// Empties both lists; installed actions stay.
void lqcrash_signal_handler_reset();

// The callback that hands a signal to the action installed before the engine's.
bool lqcrash_signal_handler_previous_action_callback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                                     lqcrash_signal_handler_callback* next);
// The engine's signal handler (exposed for tests).
void lqcrash_signal_handler_dispatch(int signo, siginfo_t* info, void* uapVoid);
