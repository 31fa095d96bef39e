#include "LQCrashReporter/Source/LQCrashReporterCore.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/machcompat/Dyld.h"
#include "platform/machcompat/MachThread.h"
#include "platform/machcompat/Signals.h"

const int lqcrash_monitored_signals[6] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};

namespace {

lqcrash_crash_context g_context;
lqcrash_client_callback g_client = {nullptr, nullptr};
lqcrash_async_image_list* g_imageList = nullptr;
std::atomic<uint32_t> g_uncaughtFlag{0};
void (*g_abort)() = std::abort;

void imageAdded(const mach_header* header, intptr_t) {
    const char* path = mach::dyldImagePath(header);
    if (!path) {
        std::fprintf(stderr, "[LQCrashReporter] %s: dladdr(%p, ...) failed\n", "image_add_callback",
                     static_cast<const void*>(header));
        return;
    }
    lqcrash_async_image_list_append(g_imageList, reinterpret_cast<uintptr_t>(header), path);
}

void imageRemoved(const mach_header* header, intptr_t) {
    lqcrash_async_image_list_remove(g_imageList, reinterpret_cast<uintptr_t>(header));
}

struct WriteRequest {
    lqcrash_crash_context* context;
    thread_t crashed;
    lqcrash_log_signal_info_t* siginfo;
};

lqcrash_error_t writeWithCapturedState(lqcrash_async_thread_state* state, void* ctx) {
    auto* request = static_cast<WriteRequest*>(ctx);
    return lqcrash_reporter_write_report(request->context, request->crashed, state, request->siginfo);
}

void resetMonitoredSignals() {
    for (int sig : lqcrash_monitored_signals) {
        struct sigaction sa;
        std::memset(&sa, 0, sizeof(sa));
        sa.sa_handler = SIG_DFL;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
}

int64_t monotonicMs() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

lqcrash_crash_context* lqcrash_shared_crash_context() { return &g_context; }
lqcrash_client_callback* lqcrash_shared_client_callback() { return &g_client; }
lqcrash_async_image_list* lqcrash_shared_image_list() { return g_imageList; }

void lqcrash_shared_image_list_setup() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_imageList = new lqcrash_async_image_list();
        lqcrash_image_list_init(g_imageList, mach_task_self());
        _dyld_register_func_for_add_image(imageAdded);
        _dyld_register_func_for_remove_image(imageRemoved);
    });
}

lqcrash_crash_turn lqcrash_crash_latch_take(lqcrash_crash_latch* latch) {
    thread_t self = pl_mach_thread_self();
    thread_t expected = MACH_PORT_NULL;
    if (__atomic_compare_exchange_n(&latch->owner, &expected, self, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
        return LQCRASH_CRASH_FIRST;
    }
    return expected == self ? LQCRASH_CRASH_AGAIN : LQCRASH_CRASH_LATER;
}

void lqcrash_crash_latch_release_done(lqcrash_crash_latch* latch) { __atomic_store_n(&latch->done, 1, __ATOMIC_SEQ_CST); }

void lqcrash_crash_latch_watch_start(const lqcrash_crash_latch* latch, lqcrash_crash_latch_watch* watch, int64_t now) {
    watch->progress = __atomic_load_n(&latch->progress, __ATOMIC_SEQ_CST);
    watch->deadline = now + LQCRASH_LATER_CRASH_WAIT_MS;
    watch->done = false;
}

bool lqcrash_crash_latch_watch_waiting(const lqcrash_crash_latch* latch, lqcrash_crash_latch_watch* watch,
                                       int64_t now) {
    if (!watch->done) {
        if (__atomic_load_n(&latch->done, __ATOMIC_SEQ_CST)) {
            watch->done = true;
            watch->deadline = now + LQCRASH_LATER_CRASH_GRACE_MS;
        } else {
            uint32_t progress = __atomic_load_n(&latch->progress, __ATOMIC_SEQ_CST);
            if (progress != watch->progress) {
                // Still writing: ending the process now would cut the report.
                watch->progress = progress;
                watch->deadline = now + LQCRASH_LATER_CRASH_WAIT_MS;
            }
        }
    }
    return now < watch->deadline;
}

void lqcrash_crash_latch_wait(lqcrash_crash_latch* latch) {
    lqcrash_crash_latch_watch watch;
    lqcrash_crash_latch_watch_start(latch, &watch, monotonicMs());
    while (lqcrash_crash_latch_watch_waiting(latch, &watch, monotonicMs())) {
        struct timespec pause = {0, 1000000};
        ::nanosleep(&pause, nullptr);
    }
}

lqcrash_error_t lqcrash_reporter_write_report(lqcrash_crash_context* context, thread_t crashed_thread,
                                              const lqcrash_async_thread_state* thread_state,
                                              lqcrash_log_signal_info_t* siginfo) {
    int fd = ::open(context->path, O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return LQCRASH_EINTERNAL;
    lqcrash_async_file_t file;
    DVlqcrash_async_file_init(&file, fd, LQCRASH_REPORT_MAX_BYTES);
    file.progress = &context->latch.progress;
    lqcrash_async_image_list* images = g_imageList;
    lqcrash_async_image_list empty;
    if (!images) {
        empty.task = mach_task_self();
        images = &empty;
    }
    lqcrash_error_t err = DVlqcrash_log_writer_write(&context->writer, crashed_thread, images, &file, siginfo,
                                                     thread_state);
    DVlqcrash_log_writer_close(&context->writer);
    bool flushed = DVlqcrash_async_file_flush(&file);
    bool closed = DVlqcrash_async_file_close(&file);
    if (!flushed || !closed) return LQCRASH_EINTERNAL;
    return err;
}

bool lqcrash_reporter_signal_callback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                      lqcrash_signal_handler_callback*) {
    auto* crashContext = static_cast<lqcrash_crash_context*>(context);
    // The handlers stay while the report is written, so that a crash on
    // another thread meanwhile waits here instead of ending the process
    // half-way through the file; they go back to the default action after,
    // so the re-raised signal ends it.
    switch (lqcrash_crash_latch_take(&crashContext->latch)) {
        case LQCRASH_CRASH_FIRST:
            break;
        case LQCRASH_CRASH_LATER:
            lqcrash_crash_latch_wait(&crashContext->latch);
            resetMonitoredSignals();
            return false;
        case LQCRASH_CRASH_AGAIN:
            resetMonitoredSignals();
            return false;
    }
    darwin_mcontext64_t mctx;
    mach::darwinMcontextFromLinux(uap, &mctx);
    lqcrash_async_thread_state state;
    lqcrash_async_thread_state_host_mcontext_init(&state, &mctx);

    lqcrash_log_bsd_signal_info_t bsd;
    bsd.signo = mach::darwinSignalFromLinux(signo);
    bsd.code = info ? mach::darwinSignalCodeFromLinux(signo, info->si_code) : 0;
    // Only a fault carries an address; a signal a process sent itself holds
    // the sender's id there.
    bsd.address = info && info->si_code > 0 ? reinterpret_cast<uint64_t>(info->si_addr) : 0;
    lqcrash_log_signal_info_t siginfo = {&bsd, nullptr};

    lqcrash_error_t err = lqcrash_reporter_write_report(crashContext, pl_mach_thread_self(), &state, &siginfo);
    if (err == LQCRASH_ESUCCESS && g_client.handleSignal) g_client.handleSignal(info, uap, g_client.context);
    resetMonitoredSignals();
    lqcrash_crash_latch_release_done(&crashContext->latch);
    return false;
}

kern_return_t lqcrash_reporter_mach_callback(task_t task, thread_t thread, exception_type_t exception_type,
                                             mach_exception_data_t code, mach_msg_type_number_t code_count,
                                             void* context) {
    auto* crashContext = static_cast<lqcrash_crash_context*>(context);
    if (lqcrash_exception_forward_mach_exception(task, thread, exception_type, code, code_count,
                                                 &crashContext->port_set) == KERN_SUCCESS) {
        return KERN_SUCCESS;
    }
    int signo = 0, siCode = 0;
    uint64_t address = 0;
    if (!lqcrash_exception_to_signal(exception_type, code, code_count, &signo, &siCode, &address)) return KERN_FAILURE;

    switch (lqcrash_crash_latch_take(&crashContext->latch)) {
        case LQCRASH_CRASH_FIRST:
            break;
        case LQCRASH_CRASH_LATER:
            lqcrash_crash_latch_wait(&crashContext->latch);
            return KERN_FAILURE;
        case LQCRASH_CRASH_AGAIN:
            return KERN_FAILURE;  // the report of an earlier exception stands
    }

    lqcrash_log_bsd_signal_info_t bsd = {signo, siCode, address};
    lqcrash_log_mach_signal_info_t mach = {exception_type, code, code_count};
    lqcrash_log_signal_info_t siginfo = {&bsd, &mach};
    WriteRequest request = {crashContext, thread, &siginfo};
    lqcrash_error_t err = lqcrash_async_thread_state_current(writeWithCapturedState, &request);

    if (err == LQCRASH_ESUCCESS && g_client.handleSignal) {
        siginfo_t info;
        std::memset(&info, 0, sizeof(info));
        info.si_signo = mach::linuxSignalFromDarwin(signo);
        info.si_code = siCode;
        info.si_addr = reinterpret_cast<void*>(static_cast<uintptr_t>(address));
        ucontext_t uc;
        std::memset(&uc, 0, sizeof(uc));
        g_client.handleSignal(&info, &uc, g_client.context);
    }
    lqcrash_crash_latch_release_done(&crashContext->latch);
    return KERN_FAILURE;
}

void lqcrash_uncaught_exception_handler(const ns::NSException& exception) {
    uint32_t expected = 0;
    if (!g_uncaughtFlag.compare_exchange_strong(expected, 1)) return;
    DVlqcrash_log_writer_set_exception(&g_context.writer, exception);
    g_abort();
}

bool lqcrash_uncaught_exception_taken() { return g_uncaughtFlag.load() != 0; }
void lqcrash_uncaught_exception_reset_for_testing() { g_uncaughtFlag.store(0); }
void lqcrash_set_uncaught_exception_abort(void (*abortFunction)()) { g_abort = abortFunction ? abortFunction : std::abort; }
