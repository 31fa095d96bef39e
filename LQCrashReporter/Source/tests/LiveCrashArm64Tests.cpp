// Real crashes on 64-bit ARM Linux: the engine's crasher, built for that
// target, runs under qemu-user; what it leaves must decode with the crashed
// thread's backtrace running through the functions that crashed.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "LQCrashReporter/Source/DVLQCrashReport.h"
#include "LQCrashReporter/Source/DVLQCrashReportTextFormatter.h"
#include "platform/foundation/TestSupport.h"

namespace {

struct Range {
    uint64_t start = 0;
    uint64_t end = 0;
    bool contains(uint64_t pc) const { return pc >= start && pc < end; }
};

class LQCrashArm64Crash : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(LQCRASH_ARM64_CRASHER, X_OK) != 0 || access(LQCRASH_QEMU, X_OK) != 0) {
            GTEST_SKIP() << "no 64-bit ARM crasher or qemu-aarch64";
        }
    }

    // Runs the crasher; returns its wait status.
    int crash(const std::string& kind) {
        pid_t child = fork();
        if (child == 0) {
            freopen("/dev/null", "w", stderr);
            execl(LQCRASH_QEMU, LQCRASH_QEMU, "-L", "/usr/aarch64-linux-gnu", LQCRASH_ARM64_CRASHER, kind.c_str(),
                  dir_.path().c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return status;
    }

    std::map<std::string, Range> expected() {
        std::map<std::string, Range> ranges;
        std::ifstream in(dir_.file("expect.txt"));
        std::string name;
        std::string start, end;
        while (in >> name >> start >> end) ranges[name] = {std::stoull(start, nullptr, 16), std::stoull(end, nullptr, 16)};
        return ranges;
    }

    DVLQCrashReport::Ptr report() {
        std::ifstream in(dir_.file("live_report.lqcrash"), std::ios::binary);
        ns::Data data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ns::Error error;
        auto report = DVLQCrashReport::initWithData(data, &error);
        EXPECT_TRUE(report) << error.description();
        return report;
    }

    static std::shared_ptr<DVLQCrashReportThreadInfo> crashedThread(const DVLQCrashReport& r) {
        for (const auto& t : r.threads()) {
            if (t->crashed()) return t;
        }
        return nullptr;
    }

    // Index of the first frame inside range, or -1. Frames above the first
    // hold return addresses: the call lies just before them.
    static int frameIn(const DVLQCrashReportThreadInfo& t, const Range& range) {
        for (size_t i = 0; i < t.stackFrames().size(); ++i) {
            uint64_t pc = t.stackFrames()[i]->instructionPointer();
            if (range.contains(i == 0 ? pc : pc - 1)) return static_cast<int>(i);
        }
        return -1;
    }

    ns::test::TemporaryDirectory dir_{"lqcrash-arm64"};
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
