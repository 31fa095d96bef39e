#pragma once
// Hooks between the files of the Mach stand-in.

#include <time.h>

#include <atomic>
#include <cstdint>

#include "platform/machcompat/Mach.h"

namespace mach::detail {

// The word a futex call waits on or wakes: the atomic's own storage.
inline int* futexWord(std::atomic<int>* a) { return reinterpret_cast<int*>(a); }

// CLOCK_MONOTONIC in milliseconds (async-signal-safe).
inline int64_t monotonicMs() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool isFakeTask(task_t task);
bool isSelf(task_t task);

// Consumes an injected failure of the call, if one is due.
bool takeInjectedFailure(InjectedCall call, kern_return_t* kr);

// Rights on IPC ports (MachException.cpp).
kern_return_t ipcModRefs(mach_port_name_t name, mach_port_right_t right, mach_port_delta_t delta);
kern_return_t ipcDeallocate(mach_port_name_t name);

}  // namespace mach::detail
