// Crash-time machinery on 64-bit ARM Linux, run under qemu-user: memory
// reads, thread suspension, unwinding of real frames (through the C library
// too) and a crash in a child process that leaves a report.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "LQCrashReporter/Source/LQCrashFrameCursor.h"
#include "LQCrashReporter/Source/LQCrashReporterCore.h"
#include "platform/machcompat/MachThread.h"

#define LQ_FUNCTION(name) __attribute__((noinline, used, section(#name)))

extern "C" {
extern char __start_lqtest_inner[], __stop_lqtest_inner[];
extern char __start_lqtest_middle[], __stop_lqtest_middle[];
extern char __start_lqtest_outer[], __stop_lqtest_outer[];
extern char __start_lqtest_compare[], __stop_lqtest_compare[];
extern char __start_lqtest_sorter[], __stop_lqtest_sorter[];
}

namespace {

bool within(uint64_t pc, const char* start, const char* end) {
    return pc >= reinterpret_cast<uintptr_t>(start) && pc < reinterpret_cast<uintptr_t>(end);
}

std::vector<uint64_t> g_pcs;
volatile int g_sink = 0;

lqcrash_error_t collect(lqcrash_async_thread_state* state, void*) {
    g_pcs.clear();
    lqcrash_frame_cursor cursor;
    lqcrash_frame_cursor_init(&cursor, mach_task_self(), state, lqcrash_shared_image_list());
    while (lqcrash_frame_cursor_next(&cursor) == LQCRASH_FRAME_ESUCCESS && g_pcs.size() < 64) {
        uint64_t pc = 0;
        if (lqcrash_frame_cursor_get_reg(&cursor, LQCRASH_REG_IP, &pc) != LQCRASH_FRAME_ESUCCESS) break;
        g_pcs.push_back(pc);
    }
    lqcrash_frame_cursor_free(&cursor);
    return LQCRASH_ESUCCESS;
}

LQ_FUNCTION(lqtest_inner) void inner() {
    lqcrash_async_thread_state_current(collect, nullptr);
    g_sink = 1;
}
LQ_FUNCTION(lqtest_middle) void middle() {
    inner();
    g_sink = 2;
}
LQ_FUNCTION(lqtest_outer) void outer() {
    middle();
    g_sink = 3;
}

LQ_FUNCTION(lqtest_compare) int compare(const void* a, const void* b) {
    if (g_pcs.empty()) lqcrash_async_thread_state_current(collect, nullptr);
    return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}
LQ_FUNCTION(lqtest_sorter) void sortThroughLibc() {
    int values[] = {3, 1, 2};
    qsort(values, 3, sizeof(int), compare);
    g_sink = values[0];
}

size_t indexOf(const std::vector<uint64_t>& pcs, const char* start, const char* end) {
    for (size_t i = 0; i < pcs.size(); ++i) {
        if (within(pcs[i], start, end)) return i;
    }
    return SIZE_MAX;
}

class LQCrashArm64 : public ::testing::Test {
protected:
    static void SetUpTestSuite() { lqcrash_shared_image_list_setup(); }
};

TEST_F(LQCrashArm64, TaskMemoryReadsWorkWithoutProcessVmReadv) {
    uint64_t value = 0x0123456789abcdefull, out = 0;
    EXPECT_EQ(LQCRASH_ESUCCESS, DVlqcrash_async_task_memcpy(mach_task_self(), reinterpret_cast<uintptr_t>(&value), 0,
                                                            &out, sizeof(out)));
    EXPECT_EQ(value, out);
    EXPECT_EQ(LQCRASH_ENOTFOUND, DVlqcrash_async_task_memcpy(mach_task_self(), 16, 0, &out, sizeof(out)));
}

TEST_F(LQCrashArm64, TheCursorUnwindsRealFramesInOrder) {
    outer();
    ASSERT_GE(g_pcs.size(), 3u);
    size_t i = indexOf(g_pcs, __start_lqtest_inner, __stop_lqtest_inner);
    size_t m = indexOf(g_pcs, __start_lqtest_middle, __stop_lqtest_middle);
    size_t o = indexOf(g_pcs, __start_lqtest_outer, __stop_lqtest_outer);
    ASSERT_NE(SIZE_MAX, i);
    EXPECT_EQ(i + 1, m);
    EXPECT_EQ(m + 1, o);
}

TEST_F(LQCrashArm64, TheCursorUnwindsThroughTheCLibrary) {
    g_pcs.clear();
    sortThroughLibc();
    size_t c = indexOf(g_pcs, __start_lqtest_compare, __stop_lqtest_compare);
    size_t s = indexOf(g_pcs, __start_lqtest_sorter, __stop_lqtest_sorter);
    ASSERT_NE(SIZE_MAX, c);
    ASSERT_NE(SIZE_MAX, s);
    EXPECT_LT(c + 1, s);  // qsort's own frames lie between
}

TEST_F(LQCrashArm64, SuspendingEveryOtherThreadIsBounded) {
    std::atomic<bool> stop{false};
    std::atomic<thread_t> workerPort{MACH_PORT_NULL};
    std::thread worker([&] {
        workerPort = mach_thread_self();
        while (!stop.load()) g_sink = g_sink + 1;
    });
    while (workerPort.load() == MACH_PORT_NULL) std::this_thread::yield();
    mach::setSuspendTimeoutMilliseconds(2000);  // generous: a loaded machine answers late
    thread_act_array_t threads = nullptr;
    mach_msg_type_number_t count = 0;
    ASSERT_EQ(KERN_SUCCESS, task_threads(mach_task_self(), &threads, &count));
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    std::vector<bool> suspended(count, false);
    for (mach_msg_type_number_t k = 0; k < count; ++k) {
        if (threads[k] != pl_mach_thread_self()) suspended[k] = thread_suspend(threads[k]) == KERN_SUCCESS;
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    bool workerSuspended = false;
    for (mach_msg_type_number_t k = 0; k < count; ++k) {
        if (threads[k] == workerPort.load()) workerSuspended = suspended[k];
    }
    EXPECT_TRUE(workerSuspended);
    arm_unified_thread_state_t state;
    mach_msg_type_number_t n = ARM_UNIFIED_THREAD_STATE_COUNT;
    EXPECT_EQ(KERN_SUCCESS, thread_get_state(workerPort.load(), ARM_THREAD_STATE,
                                             reinterpret_cast<thread_state_t>(&state), &n));
    for (mach_msg_type_number_t k = 0; k < count; ++k) {
        if (suspended[k]) thread_resume(threads[k]);
    }
    vm_deallocate(mach_task_self(), reinterpret_cast<vm_address_t>(threads), count * sizeof(thread_t));
    double seconds = static_cast<double>(t1.tv_sec - t0.tv_sec) + static_cast<double>(t1.tv_nsec - t0.tv_nsec) / 1e9;
    EXPECT_LT(seconds, 10.0);  // at most one timeout per silent thread
    stop = true;
    worker.join();
    mach::setSuspendTimeoutMilliseconds(500);
}

TEST_F(LQCrashArm64, ACrashedChildLeavesAReportFile) {
    char dir[] = "/tmp/lqcrash-arm64-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    std::string path = std::string(dir) + "/live_report.lqcrash";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        lqcrash_crash_context* ctx = lqcrash_shared_crash_context();
        ctx->path = strdup(path.c_str());
        DVlqcrash_log_writer_init(&ctx->writer, "com.morvalent.test", "1", nullptr, 0, false);
        static stack_t altstack = {malloc(65536), 0, 65536};
        int errnum = 0;
        const char* failure = nullptr;
        for (int signo : lqcrash_monitored_signals) {
            lqcrash_signal_handler_register_callback(&altstack, signo, lqcrash_reporter_signal_callback, ctx, &errnum,
                                                     &failure);
        }
        raise(SIGBUS);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(SIGBUS, WTERMSIG(status));
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 100u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), "lqcrash\x01", 8));
    EXPECT_NE(std::string::npos, bytes.find("SIGBUS"));
    unlink(path.c_str());
    unlink((std::string(dir) + "/expect.txt").c_str());
    rmdir(dir);
}

}  // namespace
