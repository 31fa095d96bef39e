// Crashes that are not polite, in child processes: several threads crashing
// at once, stack overflows on threads other than the one that enabled the
// reporter, and a fault on the exception server's own thread.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "LQCrashReporter/Source/DVLQCrashMachExceptionServer.h"
#include "LQCrashReporter/Source/DVLQCrashReport.h"
#include "LQCrashReporter/Source/DVLQCrashReporter.h"
#include "LQCrashReporter/Source/tests/CrashTestSupport.h"
#include "LQCrashReporter/Source/tests/HostileCrashes.h"
#include "platform/foundation/TestSupport.h"
#include "platform/machcompat/MachThread.h"

namespace {

// Stores to an unmapped page (not null: the sanitizers would stop at that).
volatile uintptr_t g_unmapped = 16;
__attribute__((noinline)) void crashNow() {
    *reinterpret_cast<volatile int*>(g_unmapped) = 1;
}

const char* const kBaseVariable = "LQCRASH_HOSTILE_TEST_BASE";

// The directory a crashing child leaves its report in. A "threadsafe" death
// test runs the test again in a new process: that child finds the parent's
// directory in the environment instead of making one of its own.
class SharedDirectory {
public:
    SharedDirectory() {
        if (const char* inherited = std::getenv(kBaseVariable)) {
            path_ = inherited;
            return;
        }
        dir_ = std::make_unique<ns::test::TemporaryDirectory>("lqcrash-hostile");
        path_ = dir_->path();
        setenv(kBaseVariable, path_.c_str(), 1);
    }
    ~SharedDirectory() {
        if (dir_) unsetenv(kBaseVariable);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::unique_ptr<ns::test::TemporaryDirectory> dir_;
    std::string path_;
};

DVLQCrashReporter::Ptr reporterAt(const std::string& base, DVLQCrashReporterSignalHandlerType type) {
    return DVLQCrashReporter::initWithApplicationIdentifier(
        "com.example.hostile", "1", std::nullopt,
        DVLQCrashReporterConfig::initWithSignalHandlerType(type, DVLQCrashReporterSymbolicationStrategyNone, base));
}

// Enables a reporter in the child, as in a process of its own: no other
// fault handler (a sanitizer's) to hand a crash on to than the one given.
void enableInChild(const std::string& base, DVLQCrashReporterSignalHandlerType type,
                   const LQCrashReporterCallbacks* callbacks = nullptr, void (*faultHandler)(int) = SIG_DFL) {
    signal(SIGSEGV, faultHandler);
    static DVLQCrashReporter::Ptr reporter;
    reporter = reporterAt(base, type);
    if (callbacks) reporter->setCrashCallbacks(callbacks);
    ns::Error error;
    if (!reporter->enableCrashReporterAndReturnError(&error)) _exit(10);
}

DVLQCrashReport::Ptr pendingReport(const std::string& base) {
    auto reporter = reporterAt(base, DVLQCrashReporterSignalHandlerTypeBSD);
    if (!reporter->hasPendingCrashReport()) {
        ADD_FAILURE() << "no report";
        return nullptr;
    }
    ns::Error error;
    auto report = DVLQCrashReport::initWithData(*reporter->loadPendingCrashReportData(), &error);
    EXPECT_TRUE(report) << error.description();
    return report;
}

std::shared_ptr<DVLQCrashReportThreadInfo> onlyCrashedThread(const DVLQCrashReport& report) {
    std::shared_ptr<DVLQCrashReportThreadInfo> crashed;
    int count = 0;
    for (const auto& t : report.threads()) {
        if (!t->crashed()) continue;
        crashed = t;
        ++count;
    }
    EXPECT_EQ(1, count);
    return crashed;
}

// ---- Threads crashing together ------------------------------------------------------

class LQCrashTogether : public ::testing::TestWithParam<DVLQCrashReporterSignalHandlerType> {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }
};

TEST_P(LQCrashTogether, OneReportOneCrashedThreadAndOneCallback) {
    ns::test::TemporaryDirectory dir("lqcrash-together");
    std::string base = dir.path();
    lqtest::hostile::g_callbacks = dir.file("callbacks");
    std::string reportPath = reporterAt(base, DVLQCrashReporterSignalHandlerTypeBSD)->crashReportPath();
    DVLQCrashReporterSignalHandlerType type = GetParam();
    auto child = [&] {
        static const LQCrashReporterCallbacks callbacks = {0, nullptr, lqtest::hostile::countCallback};
        enableInChild(base, type, &callbacks, lqtest::hostile::holdUntilBothAreAnswered);
        mach::setSuspendTimeoutMilliseconds(50);  // the second crasher never answers
        lqtest::hostile::start(crashNow, reportPath);
        for (;;) pause();
    };
    EXPECT_EXIT(child(), ::testing::KilledBySignal(SIGSEGV), "");

    auto report = pendingReport(base);
    ASSERT_TRUE(report);
    EXPECT_EQ("SIGSEGV", report->signalInfo()->name());
    EXPECT_EQ(16u, report->signalInfo()->address());
    EXPECT_EQ(type == DVLQCrashReporterSignalHandlerTypeMach, report->machExceptionInfo() != nullptr);
    auto crashed = onlyCrashedThread(*report);
    ASSERT_TRUE(crashed);
    EXPECT_NE(0, crashed->threadNumber());  // one of the crashers, not the main thread
    EXPECT_FALSE(crashed->stackFrames().empty());
    EXPECT_EQ("x", lqtest::readText(lqtest::hostile::g_callbacks));
}

INSTANTIATE_TEST_SUITE_P(Modes, LQCrashTogether,
                         ::testing::Values(DVLQCrashReporterSignalHandlerTypeBSD, DVLQCrashReporterSignalHandlerTypeMach),
                         [](const auto& info) { return info.param == 0 ? std::string("Bsd") : std::string("Mach"); });

// ---- Stack overflows ---------------------------------------------------------------

volatile int g_never = -1;

__attribute__((noinline)) int overflow(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == g_never) return 0;
    int below = overflow(depth + 1);
    return below + frame[0];
}

void* overflowThread(void*) { return reinterpret_cast<void*>(static_cast<intptr_t>(overflow(0))); }

struct OverflowCase {
    const char* name;
    DVLQCrashReporterSignalHandlerType type;
    bool enableOnAnotherThread;
    bool overflowOnMain;
    const char* signal;  // a guard page's fault is a protection failure: SIGBUS as an exception
};

void PrintTo(const OverflowCase& c, std::ostream* os) { *os << c.name; }

class LQCrashStackOverflow : public ::testing::TestWithParam<OverflowCase> {
protected:
    // A new process for each case: the main thread has only what the engine
    // gives it.
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_P(LQCrashStackOverflow, IsReportedOnTheThreadThatOverflowed) {
    const OverflowCase c = GetParam();
    SharedDirectory dir;
    std::string base = dir.path();
    auto child = [&] {
        if (c.enableOnAnotherThread) {
            // It stays, as a queue's thread would: the sanitizers unmap the
            // alternate stack of a thread that ends, whoever's it is.
            std::atomic<bool> enabled{false};
            std::thread([&] {
                enableInChild(base, c.type);
                enabled = true;
                for (;;) pause();
            }).detach();
            while (!enabled) std::this_thread::yield();
        } else {
            enableInChild(base, c.type);
        }
        if (c.overflowOnMain) overflow(0);
        lqtest::hostile::runOnSmallStack(overflowThread);
        _exit(12);
    };
    EXPECT_EXIT(child(), ::testing::KilledBySignal(SIGSEGV), "");

    auto report = pendingReport(base);
    ASSERT_TRUE(report);
    EXPECT_EQ(c.signal, report->signalInfo()->name());
    auto crashed = onlyCrashedThread(*report);
    ASSERT_TRUE(crashed);
    EXPECT_EQ(c.overflowOnMain, crashed->threadNumber() == 0);
    EXPECT_GE(crashed->stackFrames().size(), 100u);  // deep in the recursion
}

INSTANTIATE_TEST_SUITE_P(Threads, LQCrashStackOverflow,
                         ::testing::Values(OverflowCase{"ThreadStartedAfterEnable", DVLQCrashReporterSignalHandlerTypeBSD,
                                                        false, false, "SIGSEGV"},
                                           OverflowCase{"MainThreadWhenEnabledElsewhere",
                                                        DVLQCrashReporterSignalHandlerTypeBSD, true, true, "SIGSEGV"},
                                           OverflowCase{"ThreadStartedAfterEnableInMachMode",
                                                        DVLQCrashReporterSignalHandlerTypeMach, false, false, "SIGBUS"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- A fault on the exception server's thread ----------------------------------------

kern_return_t faultingCallback(task_t, thread_t, exception_type_t, mach_exception_data_t, mach_msg_type_number_t,
                               void*) {
    crashNow();
    return KERN_FAILURE;
}

TEST(LQCrashMachServerFault, EndsTheProcessAtOnceWithTheDefaultAction) {
    GTEST_FLAG_SET(death_test_style, "fast");
    auto child = [] {
        signal(SIGSEGV, SIG_DFL);
        alarm(10);  // a hang ends here, with another signal
        ns::Error error;
        auto server = DVLQCrashMachExceptionServer::initWithCallBack(faultingCallback, nullptr, &error);
        if (!server) _exit(10);
        auto port = server->exceptionPortWithMask(EXC_MASK_BAD_ACCESS, &error);
        if (!port || !port->registerForTask(mach_task_self(), nullptr, &error)) _exit(11);
        crashNow();
        _exit(12);
    };
    EXPECT_EXIT(child(), ::testing::KilledBySignal(SIGSEGV), "");
}

}  // namespace
