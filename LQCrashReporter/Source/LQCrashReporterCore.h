#pragma once
// The process-wide crash state and the crash-time driver: the writer record,
// the report path and the previous exception ports, prepared when the
// reporter is enabled and only read at crash time; the reporter's signal and
// Mach callbacks; the uncaught-exception path.

#include <signal.h>

#include <atomic>

#include "LQCrashReporter/Source/LQCrashAsyncImageList.h"
#include "LQCrashReporter/Source/LQCrashLogWriter.h"
#include "LQCrashReporter/Source/LQCrashMachExceptionCore.h"
#include "LQCrashReporter/Source/LQCrashSignalHandlerCore.h"
#include "platform/machcompat/NSException.h"

// Called after a report was written: the signal, the user context and the
// client's context pointer. In the Mach path the user context's machine
// context is all zeros.
typedef void (*LQCrashReporterPostCrashSignalCallback)(siginfo_t* info, ucontext_t* uap, void* context);

// Lets one crash write the report: the first crashing thread takes it, and
// threads that crash while it writes wait for the process to end. Plain
// words used atomically, so a zeroed context has a free latch.
struct lqcrash_crash_latch {
    thread_t owner;     // the thread writing the report, MACH_PORT_NULL before any crash
    int32_t done;       // its report is written
    uint32_t progress;  // changes while the report moves on
};

struct lqcrash_crash_context {
    lqcrash_log_writer_t writer;
    char* path;
    lqcrash_mach_exception_port_set port_set;
    lqcrash_crash_latch latch;
};

enum lqcrash_crash_turn {
    LQCRASH_CRASH_FIRST,      // the calling thread writes the report
    LQCRASH_CRASH_AGAIN,      // it already took the latch: a crash while writing, or a later exception
    LQCRASH_CRASH_LATER,      // another thread has it
};
lqcrash_crash_turn lqcrash_crash_latch_take(lqcrash_crash_latch* latch);
void lqcrash_crash_latch_release_done(lqcrash_crash_latch* latch);
// Waits for the thread that took the latch to end the process: as long as
// its report moves on, then a grace once it is written. A writer that
// stands still for the whole wait is given up on.
void lqcrash_crash_latch_wait(lqcrash_crash_latch* latch);
// The longest a later crasher waits while the report does not move on.
inline constexpr int LQCRASH_LATER_CRASH_WAIT_MS = 10000;
// And then for the process to end, once the report is written.
inline constexpr int LQCRASH_LATER_CRASH_GRACE_MS = 1000;

// What a waiting crasher has seen of the report (times in monotonic
// milliseconds): the wait as a rule of the time, apart from the clock.
struct lqcrash_crash_latch_watch {
    uint32_t progress;
    int64_t deadline;
    bool done;
};
void lqcrash_crash_latch_watch_start(const lqcrash_crash_latch* latch, lqcrash_crash_latch_watch* watch, int64_t now);
// Whether to go on waiting at now.
bool lqcrash_crash_latch_watch_waiting(const lqcrash_crash_latch* latch, lqcrash_crash_latch_watch* watch,
                                       int64_t now);

struct lqcrash_client_callback {
    void* context;
    LQCrashReporterPostCrashSignalCallback handleSignal;
};

// The process-wide state.
lqcrash_crash_context* lqcrash_shared_crash_context();
lqcrash_client_callback* lqcrash_shared_client_callback();
lqcrash_async_image_list* lqcrash_shared_image_list();
// Creates the loaded-image list once and registers the loader callbacks.
void lqcrash_shared_image_list_setup();

// The six crash signals of BSD mode, in registration order.
extern const int lqcrash_monitored_signals[6];

lqcrash_error_t lqcrash_reporter_write_report(lqcrash_crash_context* context, thread_t crashed_thread,
                                              const lqcrash_async_thread_state* thread_state,
                                              lqcrash_log_signal_info_t* siginfo);

// The reporter's signal callback (context: the crash context).
bool lqcrash_reporter_signal_callback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                      lqcrash_signal_handler_callback* next);
// The reporter's Mach callback (context: the crash context).
kern_return_t lqcrash_reporter_mach_callback(task_t task, thread_t thread, exception_type_t exception_type,
                                             mach_exception_data_t code, mach_msg_type_number_t code_count,
                                             void* context);

// The uncaught-exception handler: records the first exception of the process
// in the shared writer and aborts; later calls return at once.
void lqcrash_uncaught_exception_handler(const ns::NSException& exception);
// For tests: whether an uncaught exception was taken, and re-arming the flag.
bool lqcrash_uncaught_exception_taken();
void lqcrash_uncaught_exception_reset_for_testing();
// What the handler does after recording (abort by default; tests replace it).
void lqcrash_set_uncaught_exception_abort(void (*abortFunction)());
