// Crashes that are not polite, by the engine's crasher natively and under
// qemu: two threads crashing together leave one report with one crashed
// thread (and one client callback), also among two dozen threads that can't
// be suspended; a stack overflow on a thread started after enabling, or on
// the main thread when another thread enabled the reporter, is reported on
// the thread that overflowed.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "LQCrashReporter/Source/tests/LiveCrashSupport.h"

namespace {

struct HostileCase {
    const char* kind;      // of the crasher (arm64/Crasher.cpp)
    bool emulated;         // the 64-bit ARM crasher under qemu, else the host's
    const char* function;  // where the crashed thread's first frame lies
    const char* signal;    // a guard page's fault is a protection failure: SIGBUS as an exception
    bool mach;
    bool onMain;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.kind << (c.emulated ? " (qemu)" : ""); }

class LQCrashHostile : public lqtest::LiveCrash, public ::testing::WithParamInterface<HostileCase> {
protected:
    LQCrashHostile()
        : LiveCrash(GetParam().emulated ? lqtest::CrasherTarget{LQCRASH_ARM64_CRASHER, true, LQCRASH_QEMU}
                                        : lqtest::CrasherTarget{LQCRASH_NATIVE_CRASHER, false, ""}) {}
};

TEST_P(LQCrashHostile, LeaveOneReportOnTheThreadThatCrashed) {
    const HostileCase c = GetParam();
    int status = crash(c.kind);
    EXPECT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == SIGSEGV : WEXITSTATUS(status) == 139) << status;
    auto r = report();
    ASSERT_TRUE(r);
    EXPECT_EQ(c.signal, r->signalInfo()->name());
    EXPECT_EQ(c.mach, r->machExceptionInfo() != nullptr);
    int crashedCount = 0;
    for (const auto& t : r->threads()) crashedCount += t->crashed() ? 1 : 0;
    EXPECT_EQ(1, crashedCount);
    auto t = crashedThread(*r);
    ASSERT_TRUE(t);
    EXPECT_EQ(c.onMain, t->threadNumber() == 0);
    EXPECT_EQ(0, frameIn(*t, expected()[c.function]));
    std::ifstream in(dir_.file("callbacks"));
    EXPECT_EQ("x", std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

INSTANTIATE_TEST_SUITE_P(
    Crashes, LQCrashHostile,
    ::testing::Values(HostileCase{"together", false, "segv", "SIGSEGV", false, false},
                      HostileCase{"together-mach", false, "segv", "SIGSEGV", true, false},
                      HostileCase{"slow-together", false, "segv", "SIGSEGV", false, false},
                      HostileCase{"overflow-thread", false, "overflow", "SIGSEGV", false, false},
                      HostileCase{"overflow-main", false, "overflow", "SIGSEGV", false, true},
                      HostileCase{"overflow-mach", false, "overflow", "SIGBUS", true, false},
                      HostileCase{"together", true, "segv", "SIGSEGV", false, false},
                      HostileCase{"together-mach", true, "segv", "SIGSEGV", true, false},
                      HostileCase{"slow-together", true, "segv", "SIGSEGV", false, false},
                      HostileCase{"overflow-thread", true, "overflow", "SIGSEGV", false, false},
                      HostileCase{"overflow-main", true, "overflow", "SIGSEGV", false, true}),
    [](const auto& info) {
        std::string name = info.param.kind;
        for (char& ch : name) ch = ch == '-' ? '_' : ch;
        return name + (info.param.emulated ? "_qemu" : "");
    });

}  // namespace
