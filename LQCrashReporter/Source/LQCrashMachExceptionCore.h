#pragma once
// The crash-time half of the Mach exception handling: the async-safe copy of
// exception ports, forwarding an exception to ports installed before ours,
// mapping an exception to a signal, and the exception server's thread.

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "LQCrashReporter/Source/LQCrashAsyncSupport.h"
#include "platform/machcompat/MachException.h"

struct lqcrash_mach_exception_port_set {
    uint32_t count;
    exception_mask_t masks[EXC_TYPES_COUNT];
    mach_port_t ports[EXC_TYPES_COUNT];
    exception_behavior_t behaviors[EXC_TYPES_COUNT];
    thread_state_flavor_t flavors[EXC_TYPES_COUNT];
};

typedef kern_return_t (*DVLQCrashMachExceptionHandlerCallback)(task_t task, thread_t thread,
                                                               exception_type_t exception_type,
                                                               mach_exception_data_t code,
                                                               mach_msg_type_number_t code_count, void* context);

// Forwards to the first port of the set whose mask has the exception's bit;
// KERN_FAILURE when none does.
kern_return_t lqcrash_exception_forward_mach_exception(task_t task, thread_t thread, exception_type_t exception_type,
                                                       mach_exception_data_t code, mach_msg_type_number_t code_count,
                                                       const lqcrash_mach_exception_port_set* port_set);

// The signal (the platform's numbering), code and address for an exception;
// false when it maps to none.
bool lqcrash_exception_to_signal(exception_type_t exception_type, const mach_exception_data_type_t* code,
                                 mach_msg_type_number_t code_count, int* signo, int* si_code, uint64_t* address);

// The exception server's state.
struct lqcrash_exception_server_context {
    thread_t server_thread;
    mach_port_t server_port;
    mach_port_t notify_port;
    mach_port_t port_set;
    DVLQCrashMachExceptionHandlerCallback callback;
    void* callback_context;
    pthread_mutex_t lock;
    pthread_cond_t server_cond;
    std::atomic<bool> server_should_stop;
    bool server_stopped;
};

inline constexpr mach_msg_id_t LQCRASH_EXCEPTION_SERVER_STOP_ID = static_cast<mach_msg_id_t>(0xDEADBEEF);

// Starts a server; false with the failing step's text, and *kr or
// *error_number (whichever applies, the other 0), leaving nothing running.
// The server runs once its thread has its receive buffer: a thread that
// can't get one fails the start. A server whose thread ends later on its
// own takes its port out of the task's exception ports and answers what
// reached it with a failure, so that no crash waits on it.
struct lqcrash_exception_server_failure {
    const char* text;
    kern_return_t kr;
    int error_number;
};
lqcrash_exception_server_context* lqcrash_exception_server_start(DVLQCrashMachExceptionHandlerCallback callback,
                                                                 void* context,
                                                                 lqcrash_exception_server_failure* failure);
// Stops the server thread and frees the context; false (context kept) when
// the stop message can't be sent.
bool lqcrash_exception_server_stop(lqcrash_exception_server_context* context, kern_return_t* kr);
