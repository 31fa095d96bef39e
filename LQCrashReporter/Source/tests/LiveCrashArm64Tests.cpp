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

TEST_F(LQCrashArm64Crash, FramelessFaultUnderCodeWithoutUnwindInformationIsWalkedToStart) {
    crash("frameless");
    auto r = report();
    auto t = r ? crashedThread(*r) : nullptr;
    ASSERT_TRUE(t);
    EXPECT_EQ("sumLLX", frameLetters(*r, *t));
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
    EXPECT_EQ("sotXLL", frameLetters(*r, *t));  // out through the engine's thread start to the C library's
    int crashedCount = 0;
    for (const auto& th : r->threads()) crashedCount += th->crashed() ? 1 : 0;
    EXPECT_EQ(1, crashedCount);

    std::string text = DVLQCrashReportTextFormatter::stringValueForCrashReport(*r, DVLQCrashReportTextFormatiOS);
    EXPECT_NE(std::string::npos, text.find("Code Type:       ARM-64\n"));
    EXPECT_NE(std::string::npos, text.find("Crashed Thread:  " + std::to_string(t->threadNumber()) + "\n"));
    EXPECT_NE(std::string::npos, text.find("crashed with ARM-64 Thread State:"));
    EXPECT_NE(std::string::npos, text.find("lqcrash_arm64_crasher"));
}

}  // namespace
