// Arms the crash engine the way the reporter does when it is enabled, then
// crashes as asked:
//   lqcrash_arm64_crasher <kind> <directory>
// kind: segv, abort, cxx, mach (a fault in Mach mode), thread (a fault on a
// second thread), together and together-mach (two threads crash together,
// tests/HostileCrashes.h), overflow-thread and overflow-mach (a stack
// overflow on a thread started after enabling), overflow-main (the reporter
// enabled on another thread, the main thread overflows), slow-together
// (together with two dozen threads that can't be suspended) and frameless (a
// fault in a function without a frame record, called by one without unwind
// information).
// The report goes to <directory>/live_report.lqcrash; <directory>/expect.txt
// lists the address ranges of the functions the crashed thread's backtrace
// must contain ("name start end", hexadecimal); <directory>/callbacks gets
// one "x" per call of the client's crash callback.

#include <execinfo.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "LQCrashReporter/Source/LQCrashReporterCore.h"
#include "LQCrashReporter/Source/tests/HostileCrashes.h"
#include "platform/machcompat/MachThread.h"

// Each function the tests look for has a section of its own, so the linker's
// __start_/__stop_ symbols give its exact extent.
#define LQ_FUNCTION(name) __attribute__((noinline, used, section(#name)))

extern "C" {
extern char __start_lqcrash_fn_outer[], __stop_lqcrash_fn_outer[];
extern char __start_lqcrash_fn_segv[], __stop_lqcrash_fn_segv[];
extern char __start_lqcrash_fn_abort[], __stop_lqcrash_fn_abort[];
extern char __start_lqcrash_fn_cxx[], __stop_lqcrash_fn_cxx[];
extern char __start_lqcrash_fn_terminate[], __stop_lqcrash_fn_terminate[];
extern char __start_lqcrash_fn_thread[], __stop_lqcrash_fn_thread[];
extern char __start_lqcrash_fn_main[], __stop_lqcrash_fn_main[];
extern char __start_lqcrash_fn_idle[], __stop_lqcrash_fn_idle[];
extern char __start_lqcrash_fn_overflow[], __stop_lqcrash_fn_overflow[];
extern char __start_lqcrash_fn_nounwind[], __stop_lqcrash_fn_nounwind[];
// Calls its argument from a frame record without call-frame information.
void lqcrash_call_without_unwind_info(void (*function)());
}

#if defined(__x86_64__)
#define LQ_NOUNWIND_BODY "push %rbp\n mov %rsp, %rbp\n call *%rdi\n pop %rbp\n ret\n"
#elif defined(__aarch64__)
#define LQ_NOUNWIND_BODY "stp x29, x30, [sp, #-16]!\n mov x29, sp\n blr x0\n ldp x29, x30, [sp], #16\n ret\n"
#endif
asm(".pushsection lqcrash_fn_nounwind, \"ax\", %progbits\n .globl lqcrash_call_without_unwind_info\n"
    ".hidden lqcrash_call_without_unwind_info\n .type lqcrash_call_without_unwind_info, %function\n"
    "lqcrash_call_without_unwind_info:\n" LQ_NOUNWIND_BODY ".popsection\n");

namespace {

volatile int* g_null = nullptr;
volatile int g_sink = 0;
std::atomic<bool> g_idling{false};

// The store must fault, even in a build that checks for null pointers.
LQ_FUNCTION(lqcrash_fn_segv) __attribute__((no_sanitize_undefined)) void crashSegv() {
    *g_null = 42;
    g_sink = 1;
}

LQ_FUNCTION(lqcrash_fn_abort) void crashAbort() {
    std::abort();
    g_sink = 2;
}

LQ_FUNCTION(lqcrash_fn_cxx) void crashCxx() {
    throw std::runtime_error("boom");
}

LQ_FUNCTION(lqcrash_fn_outer) void crashVia(void (*crash)()) {
    crash();
    g_sink = 3;  // keeps this frame from becoming a tail call
}

volatile int g_never = -1;

// Frames of most of a page keep an overflowed stack short (fewer frames to
// walk under emulation) while no frame can step over the guard page below
// the stack, whatever it touches first.
LQ_FUNCTION(lqcrash_fn_overflow) int overflow(int depth) {
    volatile char frame[3072];
    for (size_t at = sizeof(frame); at > 0; at -= 1024) frame[at - 1] = static_cast<char>(depth);
    if (depth == g_never) return 0;
    int below = overflow(depth + 1);
    return below + frame[0];
}

void* overflowThread(void*) { return reinterpret_cast<void*>(static_cast<intptr_t>(overflow(0))); }

// Like the crash reporting service: an escaping C++ exception is handed to
// the uncaught-exception handler as an exception object with the stack of
// the terminate (which still holds the throwing function).
LQ_FUNCTION(lqcrash_fn_terminate) void terminateHandler() {
    std::string name = "std::exception";
    std::string reason;
    try {
        std::rethrow_exception(std::current_exception());
    } catch (const std::exception& e) {
        name = typeid(e).name();
        reason = e.what();
    } catch (...) {
    }
    void* frames[64];
    int n = backtrace(frames, 64);
    std::vector<uint64_t> stack;
    for (int i = 1; i < n; ++i) stack.push_back(reinterpret_cast<uint64_t>(frames[i]));
    ns::NSException exception(name, reason, stack);
    if (auto handler = ns::NSGetUncaughtExceptionHandler()) handler(exception);
    std::abort();
}

void writeExpect(const std::string& dir) {
    FILE* f = std::fopen((dir + "/expect.txt").c_str(), "w");
    if (!f) std::exit(3);
    auto line = [&](const char* name, const char* start, const char* end) {
        std::fprintf(f, "%s %llx %llx\n", name, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(start)),
                     static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(end)));
    };
    line("outer", __start_lqcrash_fn_outer, __stop_lqcrash_fn_outer);
    line("segv", __start_lqcrash_fn_segv, __stop_lqcrash_fn_segv);
    line("abort", __start_lqcrash_fn_abort, __stop_lqcrash_fn_abort);
    line("cxx", __start_lqcrash_fn_cxx, __stop_lqcrash_fn_cxx);
    line("terminate", __start_lqcrash_fn_terminate, __stop_lqcrash_fn_terminate);
    line("thread", __start_lqcrash_fn_thread, __stop_lqcrash_fn_thread);
    line("main", __start_lqcrash_fn_main, __stop_lqcrash_fn_main);
    line("idle", __start_lqcrash_fn_idle, __stop_lqcrash_fn_idle);
    line("overflow", __start_lqcrash_fn_overflow, __stop_lqcrash_fn_overflow);
    line("nounwind", __start_lqcrash_fn_nounwind, __stop_lqcrash_fn_nounwind);
    std::fclose(f);
}

void enableBsd(lqcrash_crash_context* ctx) {
    static stack_t altstack = {std::malloc(65536), 0, 65536};
    for (int signo : lqcrash_monitored_signals) {
        int errnum = 0;
        const char* failure = nullptr;
        if (!lqcrash_signal_handler_register_callback(&altstack, signo, lqcrash_reporter_signal_callback, ctx, &errnum,
                                                      &failure)) {
            std::fprintf(stderr, "%s: %s\n", failure, std::strerror(errnum));
            std::exit(4);
        }
    }
}

void enableMach(lqcrash_crash_context* ctx) {
    static stack_t altstack = {std::malloc(65536), 0, 65536};
    int errnum = 0;
    const char* failure = nullptr;
    if (!lqcrash_signal_handler_register_callback(&altstack, SIGABRT, lqcrash_reporter_signal_callback, ctx, &errnum,
                                                  &failure)) {
        std::exit(4);
    }
    lqcrash_exception_server_failure serverFailure;
    lqcrash_exception_server_context* server =
        lqcrash_exception_server_start(lqcrash_reporter_mach_callback, ctx, &serverFailure);
    if (!server) {
        std::fprintf(stderr, "%s\n", serverFailure.text);
        std::exit(5);
    }
    mach_port_t port = server->server_port;
    mach_port_insert_right(mach_task_self(), port, port, MACH_MSG_TYPE_MAKE_SEND);
    lqcrash_mach_exception_port_set& previous = ctx->port_set;
    previous.count = EXC_TYPES_COUNT;
    if (task_swap_exception_ports(mach_task_self(), EXC_MASK_BAD_ACCESS | EXC_MASK_BAD_INSTRUCTION |
                                                        EXC_MASK_ARITHMETIC | EXC_MASK_SOFTWARE | EXC_MASK_BREAKPOINT,
                                  port, EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES, ARM_THREAD_STATE, previous.masks,
                                  &previous.count, previous.ports, previous.behaviors,
                                  previous.flavors) != KERN_SUCCESS) {
        std::exit(6);
    }
}

LQ_FUNCTION(lqcrash_fn_thread) void* threadCrash(void*) {
    crashVia(crashSegv);
    return nullptr;
}

LQ_FUNCTION(lqcrash_fn_idle) void* idle(void*) {
    g_idling = true;
    for (;;) pause();
    return nullptr;
}

}  // namespace

__attribute__((section("lqcrash_fn_main"))) int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <kind> <directory>\n", argv[0]);
        return 2;
    }
    std::string kind = argv[1];
    std::string dir = argv[2];
    writeExpect(dir);
    lqtest::hostile::g_callbacks = dir + "/callbacks";

    lqcrash_shared_image_list_setup();
    lqcrash_crash_context* ctx = lqcrash_shared_crash_context();
    std::string report = dir + "/live_report.lqcrash";
    ctx->path = strdup(report.c_str());
    DVlqcrash_log_writer_init(&ctx->writer, "com.morvalent.crasher", "7", "1.2", 1 /* symbol table */, false);
    lqcrash_shared_client_callback()->handleSignal = lqtest::hostile::countCallback;
    mach::installThreadSuspension();
    mach::reservePageCache(LQCRASH_PAGE_CACHE_PAGES);
    if (kind == "together" || kind == "together-mach") {
        signal(SIGSEGV, lqtest::hostile::holdUntilBothAreAnswered);
        mach::setSuspendTimeoutMilliseconds(100);  // the second crasher never answers
    }
    if (kind == "mach" || kind == "together-mach" || kind == "overflow-mach") {
        enableMach(ctx);
    } else if (kind == "overflow-main") {
        // Enabled on a thread that stays, as a queue's would (the sanitizers
        // unmap the alternate stack of a thread that ends, whoever's it is).
        static std::atomic<bool> enabled{false};
        pthread_t enabling;
        pthread_create(&enabling, nullptr, [](void* c) -> void* {
            enableBsd(static_cast<lqcrash_crash_context*>(c));
            enabled = true;
            for (;;) pause();
        }, ctx);
        while (!enabled) sched_yield();
    } else {
        enableBsd(ctx);
    }
    ns::NSSetUncaughtExceptionHandler(lqcrash_uncaught_exception_handler);
    std::set_terminate(terminateHandler);

    // Another thread, so reports hold more than the crashed one.
    pthread_t other;
    pthread_create(&other, nullptr, idle, nullptr);
    while (!g_idling) sched_yield();  // its stack runs through idle() when the crash comes

    if (kind == "segv" || kind == "mach") crashVia(crashSegv);
    if (kind == "frameless") lqcrash_call_without_unwind_info(crashSegv);
    if (kind == "abort") crashVia(crashAbort);
    if (kind == "cxx") crashVia(crashCxx);
    if (kind == "thread") {
        pthread_t t;
        pthread_create(&t, nullptr, threadCrash, nullptr);
        pthread_join(t, nullptr);
    }
    if (kind == "together" || kind == "together-mach" || kind == "slow-together") {
        if (kind == "slow-together") lqtest::hostile::startDeafThreads(24);
        lqtest::hostile::start([] { crashVia(crashSegv); }, report);
        for (;;) pause();
    }
    if (kind == "overflow-main") overflow(0);
    if (kind == "overflow-thread" || kind == "overflow-mach") lqtest::hostile::runOnSmallStack(overflowThread);
    return 1;
}
