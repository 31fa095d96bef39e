// The crash engine's report at crash time, for a process of 20 threads 64
// frames deep with 300 loaded images: the time to write one whole report
// (list and suspend the threads, unwind each, encode, write the file) and the
// heap allocations that takes once the reporter is enabled, which must be
// none. The allocations are counted by this program's own malloc family,
// which every allocation (operator new included) goes through.

#include <benchmark/benchmark.h>
#include <errno.h>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "LQCrashReporter/Source/DVLQCrashReporter.h"
#include "LQCrashReporter/Source/LQCrashReporterCore.h"
#include "LQCrashReporter/Source/tests/SyntheticMachO.h"
#include "platform/foundation/TestSupport.h"
#include "platform/machcompat/Dyld.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<uint64_t> g_allocations{0};

void count() {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

extern "C" {
void* malloc(size_t size) {
    count();
    return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
    count();
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t size) {
    count();
    return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    count();
    void* p = __libc_memalign(alignment, size);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
void free(void* p) { __libc_free(p); }
}

namespace {

constexpr int kThreads = 20;
constexpr int kDepth = 64;
constexpr int kImages = 300;

// Threads standing kDepth frames deep until the process ends, each blocked
// in a bare futex wait so that its frame records lead through all of them.
class DeepThreads {
public:
    DeepThreads() {
        for (int i = 0; i < kThreads; ++i) std::thread(&DeepThreads::descend, this, kDepth).detach();
        while (standing_.load() < kThreads) std::this_thread::yield();
    }

private:
    __attribute__((noinline)) void descend(int depth) {
        if (depth > 0) {
            descend(depth - 1);
            asm volatile("" ::: "memory");
            return;
        }
        standing_.fetch_add(1);
        while (released_.load() == 0) {
            syscall(SYS_futex, reinterpret_cast<int*>(&released_), FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
        }
    }

    std::atomic<int> standing_{0};
    std::atomic<int> released_{0};  // never set: they stand until the process ends
};

// An enabled reporter in a process shaped as above.
struct CrashingProcess {
    CrashingProcess() {
        int existing = static_cast<int>(_dyld_image_count());
        for (int i = existing; i < kImages; ++i) {
            // Mapped as a program maps one.
            images.push_back(lqtest::syntheticMachO());
            names.push_back("/Library/Frameworks/Bench" + std::to_string(i) +
                            ".framework/Versions/A/Bench" + std::to_string(i));
            intptr_t slide = reinterpret_cast<intptr_t>(images.back().data()) -
                             static_cast<intptr_t>(lqtest::kSyntheticTextVmaddr);
            mach::dyldAddImage(images.back().data(), slide, names.back().c_str());
        }
        // Removed at exit; the process itself stays up until then.
        static ns::test::TemporaryDirectory dir("lqcrash-bench");
        reporter = DVLQCrashReporter::initWithApplicationIdentifier(
            "com.morvalent.bench", "1", std::string("1.0"),
            DVLQCrashReporterConfig::initWithSignalHandlerType(DVLQCrashReporterSignalHandlerTypeBSD,
                                                               DVLQCrashReporterSymbolicationStrategyNone, dir.path()));
        ns::Error error;
        enabled = reporter->enableCrashReporterAndReturnError(&error);
    }

    std::vector<std::vector<uint8_t>> images;
    std::vector<std::string> names;
    DeepThreads threads;
    DVLQCrashReporter::Ptr reporter;
    bool enabled = false;
};

CrashingProcess& process() {
    static CrashingProcess* shared = new CrashingProcess();
    return *shared;
}

lqcrash_error_t writeReport(lqcrash_async_thread_state* state, void*) {
    lqcrash_log_bsd_signal_info_t bsd = {11, 1, 0x10};
    lqcrash_log_signal_info_t siginfo = {&bsd, nullptr};
    return lqcrash_reporter_write_report(lqcrash_shared_crash_context(), pl_mach_thread_self(), state, &siginfo);
}

// Arg: the symbolication strategy (0 none, as the crash service asks; 1 the
// symbol table).
void BM_CrashReport20Threads300Images(benchmark::State& state) {
    CrashingProcess& p = process();
    if (!p.enabled) {
        state.SkipWithError("the reporter could not be enabled");
        return;
    }
    lqcrash_shared_crash_context()->writer.symbol_strategy = static_cast<uint32_t>(state.range(0));
    // The hook sees what operator new allocates.
    g_allocations.store(0);
    g_counting.store(true);
    delete new volatile int(1);
    g_counting.store(false);
    if (g_allocations.load() != 1) {
        state.SkipWithError("the allocation hook is not in effect");
        return;
    }
    g_allocations.store(0);
    lqcrash_error_t result = LQCRASH_ESUCCESS;
    g_counting.store(true);
    for (auto _ : state) {
        lqcrash_error_t err = lqcrash_async_thread_state_current(writeReport, nullptr);
        if (err != LQCRASH_ESUCCESS) result = err;
    }
    g_counting.store(false);
    if (result != LQCRASH_ESUCCESS) state.SkipWithError("a report failed");
    auto report = p.reporter->loadPendingCrashReportData();
    state.counters["report_bytes"] = report ? static_cast<double>(report->size()) : 0;
    state.counters["heap_allocations"] = static_cast<double>(g_allocations.load());
    state.counters["heap_allocations_per_report"] =
        benchmark::Counter(static_cast<double>(g_allocations.load()), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_CrashReport20Threads300Images)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
