#pragma once
// Crashes that are not polite, for the live crash tests (native, and the
// 64-bit ARM crasher under emulation).
//
// Two threads that crash together: the first crashes as soon as both are
// ready; the second once the first crash's report file exists, while it is
// being written, and it blocks the signal that suspends threads so that the
// writer can't hold it still meanwhile. holdUntilBothAreAnswered is meant as
// the application's own fault handler: in Mach mode a crash reaches it after
// the exception server answered, and it holds each crasher there until both
// got that far, so each crash has been through the server before the process
// ends. countCallback counts the client's crash callbacks.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "platform/machcompat/MachThread.h"

namespace lqtest::hostile {

inline constexpr int kCrashers = 2;
inline std::atomic<int> g_ready{0};
inline std::atomic<int> g_answered{0};
inline std::string g_report;
inline void (*g_crash)() = nullptr;

inline void* crashFirst(void*) {
    g_ready.fetch_add(1);
    while (g_ready.load() < kCrashers) {
    }
    g_crash();
    return nullptr;
}

inline void* crashWhileTheFirstWrites(void*) {
    sigset_t suspend;
    sigemptyset(&suspend);
    sigaddset(&suspend, mach::suspendSignal());
    pthread_sigmask(SIG_BLOCK, &suspend, nullptr);
    g_ready.fetch_add(1);
    while (access(g_report.c_str(), F_OK) != 0) {
    }
    g_crash();
    return nullptr;
}

inline void holdUntilBothAreAnswered(int sig) {
    g_answered.fetch_add(1);
    for (int i = 0; i < 5000 && g_answered.load() < kCrashers; ++i) {
        struct timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
    signal(sig, SIG_DFL);
}

// The client's crash callback, counted: one "x" per call in g_callbacks.
inline std::string g_callbacks;
inline void countCallback(siginfo_t*, ucontext_t*, void*) {
    int fd = open(g_callbacks.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    ssize_t n = write(fd, "x", 1);
    (void)n;
    close(fd);
}

// Starts count threads deaf to every signal from their start: none can be
// suspended, and a writer that waits for one at a time waits a timeout each.
inline void startDeafThreads(int count) {
    sigset_t all, mask;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &mask);
    for (pthread_t thread; count-- > 0;) {
        pthread_create(&thread, nullptr, [](void*) -> void* { for (;;) pause(); }, nullptr);
    }
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
}

// Starts both; crash faults, report is where the first crash's report goes.
inline void start(void (*crash)(), const std::string& report) {
    g_crash = crash;
    g_report = report;
    pthread_t first, second;
    pthread_create(&first, nullptr, crashFirst, nullptr);
    pthread_create(&second, nullptr, crashWhileTheFirstWrites, nullptr);
}

// Runs routine on a new thread with a small stack (it overflows sooner) and
// waits for it.
inline void runOnSmallStack(void* (*routine)(void*)) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    pthread_create(&thread, &attr, routine, nullptr);
    pthread_join(thread, nullptr);
}

}  // namespace lqtest::hostile
