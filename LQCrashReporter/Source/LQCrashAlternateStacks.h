#pragma once
// Alternate signal stacks for the threads a crash can happen on. A handler
// for a stack overflow can only run on another stack, and an alternate
// stack belongs to one thread and can only be set by that thread. So:
//   - the main thread gets one when the engine is loaded;
//   - the thread that registers a signal with the engine gets the handler's
//     (LQCrashSignalHandlerCore.h);
//   - once a signal is registered, every thread started from then on gets
//     one of its own for its lifetime: the engine wraps pthread_create, and
//     the new thread sets its stack before its start routine runs.
// Threads that were already running at registration, other than those two,
// keep whatever they had.

#include <cstddef>

inline constexpr size_t LQCRASH_ALTERNATE_STACK_SIZE = 65536;

// Threads started from now on get an alternate stack.
void lqcrash_alternate_stacks_cover_new_threads();
bool lqcrash_alternate_stacks_covering_new_threads();
