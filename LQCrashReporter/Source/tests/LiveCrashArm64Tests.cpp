// Real crashes on 64-bit ARM Linux: the engine's crasher, built for that
// target, runs under qemu-user; what it leaves must decode with the crashed
// thread's backtrace running through the functions that crashed.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "LQCrashReporter/Source/DVLQCrashReportTextFormatter.h"
#include "LQCrashReporter/Source/tests/LiveCrashSupport.h"

namespace {

class LQCrashArm64Crash : public lqtest::LiveCrash {
protected:
    LQCrashArm64Crash() : LiveCrash({LQCRASH_ARM64_CRASHER, true, LQCRASH_QEMU}) {}
};

TEST_F(LQCrashArm64Crash, SegmentationFaultBacktraceRunsThroughTheFaultingFunction) {
    int status = crash("segv");
    ASSERT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 139) << status;
    auto r = report();
    ASSERT_TRUE(r);
    auto ranges = expected();
    EXPECT_EQ("SIGSEGV", r->signalInfo()->name());
    EXPECT_EQ("SEGV_MAPERR", r->signalInfo()->code());
    EXPECT_EQ(0u, r->signalInfo()->address());
    EXPECT_FALSE(r->machExceptionInfo());
    auto t = crashedThread(*r);
    ASSERT_TRUE(t);
    EXPECT_EQ(0, frameIn(*t, ranges["segv"]));  // the faulting instruction itself
    EXPECT_EQ(1, frameIn(*t, ranges["outer"]));
    EXPECT_EQ("somLLX", frameLetters(*r, *t));  // out to _start, which ends the stack
    EXPECT_EQ(34u, t->registers().size());
    EXPECT_EQ("pc", t->registers()[0]->registerName());
    EXPECT_GE(r->threads().size(), 2u);
    EXPECT_EQ("com.morvalent.crasher", r->applicationInfo()->applicationIdentifier());
    ASSERT_TRUE(r->hasProcessInfo());
    EXPECT_NE(std::string::npos, r->processInfo()->processPath()->find("lqcrash_arm64_crasher"));
    EXPECT_EQ(0x100000Cu, r->machineInfo()->processorInfo()->type());
    EXPECT_EQ(6, r->systemInfo()->architecture());
}

TEST_F(LQCrashArm64Crash, AbortBacktraceRunsThroughTheCLibraryIntoTheCaller) {
    crash("abort");
    auto r = report();
    ASSERT_TRUE(r);
    auto ranges = expected();
    EXPECT_EQ("SIGABRT", r->signalInfo()->name());
    EXPECT_EQ("#0", r->signalInfo()->code());
    EXPECT_EQ(0u, r->signalInfo()->address());  // a signal the process sent itself has no address
    auto t = crashedThread(*r);
    ASSERT_TRUE(t);
    int a = frameIn(*t, ranges["abort"]);
    int o = frameIn(*t, ranges["outer"]);
    ASSERT_GT(a, 0);  // below abort's own frames in the C library
    EXPECT_EQ(a + 1, o);
    EXPECT_EQ("LLLaomLLX", frameLetters(*r, *t));
    EXPECT_FALSE(r->hasExceptionInfo());
    // The crasher asks for symbols: the C library's frame is named from its
    // dynamic symbols, the platform's way.
    auto libcFrame = t->stackFrames()[static_cast<size_t>(a - 1)];
    ASSERT_TRUE(libcFrame->symbolInfo());
    EXPECT_EQ("_abort", libcFrame->symbolInfo()->symbolName());
    EXPECT_LE(libcFrame->symbolInfo()->startAddress(), libcFrame->instructionPointer());
}

TEST_F(LQCrashArm64Crash, UncaughtCxxExceptionIsRecordedWithItsThrowSite) {
    crash("cxx");
    auto r = report();
    ASSERT_TRUE(r);
    auto ranges = expected();
    EXPECT_EQ("SIGABRT", r->signalInfo()->name());
    ASSERT_TRUE(r->hasExceptionInfo());
    EXPECT_EQ("boom", r->exceptionInfo()->exceptionReason());
    EXPECT_NE(std::string::npos, r->exceptionInfo()->exceptionName().find("runtime_error"));
    ASSERT_TRUE(r->exceptionInfo()->stackFrames());
    bool throwSite = false;
    for (const auto& f : *r->exceptionInfo()->stackFrames()) throwSite |= ranges["cxx"].contains(f->instructionPointer() - 1);
    EXPECT_TRUE(throwSite);
    auto t = crashedThread(*r);
    ASSERT_TRUE(t);
    EXPECT_GE(frameIn(*t, ranges["cxx"]), 0);  // the throw never unwound the stack
    EXPECT_GE(frameIn(*t, ranges["outer"]), 0);
    EXPECT_TRUE(std::regex_match(frameLetters(*r, *t), std::regex("LLLX?hLLLcomLLX"))) << frameLetters(*r, *t);
}

TEST_F(LQCrashArm64Crash, MachModeReportsTheExceptionFromTheServerThread) {
    crash("mach");
    auto r = report();
    ASSERT_TRUE(r);
    auto ranges = expected();
    EXPECT_EQ("SIGSEGV", r->signalInfo()->name());
    ASSERT_TRUE(r->machExceptionInfo());
    EXPECT_EQ(1u, r->machExceptionInfo()->type());  // EXC_BAD_ACCESS
    ASSERT_EQ(2u, r->machExceptionInfo()->codes().size());
    EXPECT_EQ(1u, r->machExceptionInfo()->codes()[0]);  // KERN_INVALID_ADDRESS
    auto t = crashedThread(*r);
    ASSERT_TRUE(t);
    EXPECT_EQ(0, frameIn(*t, ranges["segv"]));
    EXPECT_EQ(1, frameIn(*t, ranges["outer"]));
    EXPECT_EQ(34u, t->registers().size());  // read from the parked faulting thread
}

TEST_F(LQCrashArm64Crash, CrashOnASecondaryThreadMarksThatThread) {
    crash("thread");
    auto r = report();
    ASSERT_TRUE(r);
    auto ranges = expected();
    auto t = crashedThread(*r);
    ASSERT_TRUE(t);
    EXPECT_NE(0, t->threadNumber());
    EXPECT_EQ(0, frameIn(*t, ranges["segv"]));
    EXPECT_EQ("sotLL", frameLetters(*r, *t));  // out to the C library's thread start
    int crashedCount = 0;
    for (const auto& th : r->threads()) crashedCount += th->crashed() ? 1 : 0;
    EXPECT_EQ(1, crashedCount);

    std::string text = DVLQCrashReportTextFormatter::stringValueForCrashReport(*r, DVLQCrashReportTextFormatiOS);
    EXPECT_NE(std::string::npos, text.find("Code Type:       ARM-64\n"));
    EXPECT_NE(std::string::npos, text.find("Crashed Thread:  " + std::to_string(t->threadNumber()) + "\n"));
    EXPECT_NE(std::string::npos, text.find("crashed with ARM-64 Thread State:"));
    EXPECT_NE(std::string::npos, text.find("lqcrash_arm64_crasher"));
}

struct HostileCase {
    const char* kind;
    const char* function;  // where the crashed thread's first frame lies
    bool mach;
    bool onMain;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.kind; }

class LQCrashArm64Hostile : public LQCrashArm64Crash, public ::testing::WithParamInterface<HostileCase> {};

// Crashes that are not polite: several threads faulting at once leave one
// report with one crashed thread (and one client callback); a stack overflow
// on a thread started after enabling, or on the main thread when another
// thread enabled the reporter, is reported on that thread.
TEST_P(LQCrashArm64Hostile, LeaveOneReportOnTheThreadThatCrashed) {
    const HostileCase c = GetParam();
    int status = crash(c.kind);
    EXPECT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == SIGSEGV : WEXITSTATUS(status) == 139) << status;
    auto r = report();
    ASSERT_TRUE(r);
    EXPECT_EQ("SIGSEGV", r->signalInfo()->name());
    EXPECT_EQ(c.mach, r->machExceptionInfo() != nullptr);
    int crashedCount = 0;
    for (const auto& th : r->threads()) crashedCount += th->crashed() ? 1 : 0;
    EXPECT_EQ(1, crashedCount);
    auto t = crashedThread(*r);
    ASSERT_TRUE(t);
    EXPECT_EQ(c.onMain, t->threadNumber() == 0);
    EXPECT_EQ(0, frameIn(*t, expected()[c.function]));
    std::ifstream in(dir_.file("callbacks"));
    std::string callbacks((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ("x", callbacks);
}

INSTANTIATE_TEST_SUITE_P(Crashes, LQCrashArm64Hostile,
                         ::testing::Values(HostileCase{"together", "segv", false, false},
                                           HostileCase{"together-mach", "segv", true, false},
                                           HostileCase{"overflow-thread", "overflow", false, false},
                                           HostileCase{"overflow-main", "overflow", false, true}),
                         [](const auto& info) {
                             std::string name = info.param.kind;
                             for (char& ch : name) ch = ch == '-' ? '_' : ch;
                             return name;
                         });

}  // namespace
