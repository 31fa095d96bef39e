#pragma once
// The signal and signal-code name tables written into reports. Linear scans;
// async-signal-safe.

#include <cstdint>

// The first name for the number ("SIGABRT" for 6), or null.
const char* lqcrash_async_signal_signame(int signal);
// The name of a code of a signal ("SEGV_MAPERR" for 11, 1), or null.
const char* lqcrash_async_signal_sigcode(int signal, int code);
