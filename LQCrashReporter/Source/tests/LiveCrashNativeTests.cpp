// Real crashes on this machine (x86-64): the crasher built for the host runs
// natively, and each thread of its report must hold the frames a debugger
// shows, through the C and C++ libraries (which have no frame pointers) and
// out to the thread's first function, with the host's own registers.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "LQCrashReporter/Source/tests/LiveCrashSupport.h"

namespace {

struct NativeCase {
    const char* kind;
    // The crashed thread's frames (see frameLetters): the crasher's functions
    // exactly, the libraries' frames between and around them.
    const char* frames;
    const char* signal;
    // A crasher function (by its letter) and the library function it called.
    char caller;
    const char* callee;
};

void PrintTo(const NativeCase& c, std::ostream* os) { *os << c.kind; }

class LQCrashNativeCrash : public lqtest::LiveCrash, public ::testing::WithParamInterface<NativeCase> {
protected:
    LQCrashNativeCrash() : LiveCrash({LQCRASH_NATIVE_CRASHER, false, ""}) {}
};

TEST_P(LQCrashNativeCrash, EveryThreadHasTheFramesADebuggerShows) {
#if !defined(__x86_64__)
    GTEST_SKIP() << "the expected frames are those of x86-64";
#endif
    const NativeCase& c = GetParam();
    crash(c.kind);
    auto r = report();
    ASSERT_TRUE(r);
    EXPECT_EQ(c.signal, r->signalInfo()->name());
    EXPECT_EQ(std::string(c.kind) == "mach", r->machExceptionInfo() != nullptr);
    EXPECT_EQ(1, r->systemInfo()->architecture());  // X86_64
    EXPECT_EQ(0x01000007u, r->machineInfo()->processorInfo()->type());

    auto crashed = crashedThread(*r);
    ASSERT_TRUE(crashed);
    std::string letters = frameLetters(*r, *crashed);
    EXPECT_TRUE(std::regex_match(letters, std::regex(c.frames))) << letters;
    if (c.caller) {
        size_t caller = letters.find(c.caller);
        ASSERT_NE(std::string::npos, caller);
        ASSERT_GT(caller, 0u);
        auto frame = crashed->stackFrames()[caller - 1];
        ASSERT_TRUE(frame->symbolInfo()) << letters;
        EXPECT_EQ(c.callee, frame->symbolInfo()->symbolName());
    }

    // The registers are the host's, under their own names.
    const auto& registers = crashed->registers();
    ASSERT_EQ(21u, registers.size());
    const char* const names[] = {"rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx", "rdi", "rsi", "r8", "r9",
                                 "r10", "r11", "r12", "r13", "r14", "r15", "rflags", "cs", "fs", "gs"};
    for (size_t i = 0; i < registers.size(); ++i) EXPECT_EQ(names[i], registers[i]->registerName());
    EXPECT_EQ(crashed->stackFrames()[0]->instructionPointer(), registers[0]->registerValue());
    EXPECT_NE(0u, registers[2]->registerValue());

    // Every other thread too ends at its first function, with no frame
    // outside every image and none repeated; the idle one waits in pause().
    // A thread started after enabling begins in the engine's thread start
    // (X), which gives it its alternate signal stack.
    int idle = 0;
    for (const auto& t : r->threads()) {
        std::string l = frameLetters(*r, *t);
        if (l.find('i') != std::string::npos) {
            ++idle;
            EXPECT_TRUE(std::regex_match(l, std::regex("L?iXLL"))) << l;
        }
        EXPECT_EQ(std::string::npos, l.find('?')) << t->threadNumber() << ": " << l;
        for (size_t i = 1; i < t->stackFrames().size(); ++i) {
            EXPECT_NE(t->stackFrames()[i - 1]->instructionPointer(), t->stackFrames()[i]->instructionPointer())
                << t->threadNumber() << ": " << l;
        }
        EXPECT_LT(t->stackFrames().size(), 16u) << t->threadNumber() << ": " << l;
    }
    EXPECT_EQ(1, idle);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, LQCrashNativeCrash,
    ::testing::Values(
        // segv, crashVia, main, then the C library's start-up and _start.
        NativeCase{"segv", "somLLX", "SIGSEGV", 0, ""},
        // pthread_kill, raise and abort of the C library.
        NativeCase{"abort", "LLLaomLLX", "SIGABRT", 'a', "_abort"},
        // abort from the terminate handler (the engine's uncaught-exception
        // handler may call it as a tail call), then the C++ library's
        // terminate and throw.
        NativeCase{"cxx", "LLLX?hLLLcomLLX", "SIGABRT", 'c', "___cxa_throw"},
        NativeCase{"mach", "somLLX", "SIGSEGV", 0, ""},
        // A frameless fault under a caller without unwind information.
        NativeCase{"frameless", "sumLLX", "SIGSEGV", 0, ""},
        // A thread's own stack ends in the engine's thread start, then the
        // C library's.
        NativeCase{"thread", "sotXLL", "SIGSEGV", 0, ""}),
    [](const auto& info) { return std::string(info.param.kind); });

}  // namespace
