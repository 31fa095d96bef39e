#pragma once
// Real crashes of the engine's crasher (arm64/Crasher.cpp): built for 64-bit
// ARM and run under qemu-user, or built for this host and run natively. The
// crasher writes the extents of its own functions to expect.txt; the tests
// hold the frames of the report it leaves against them.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "LQCrashReporter/Source/DVLQCrashReport.h"
#include "platform/foundation/TestSupport.h"

namespace lqtest {

struct Range {
    uint64_t start = 0;
    uint64_t end = 0;
    bool contains(uint64_t pc) const { return pc >= start && pc < end; }
};

struct CrasherTarget {
    const char* crasher;
    bool emulated;     // runs under qemu
    const char* qemu;
};

class LiveCrash : public ::testing::Test {
protected:
    explicit LiveCrash(CrasherTarget target) : target_(target) {}

    void SetUp() override {
        if (access(target_.crasher, X_OK) != 0 || (target_.emulated && access(target_.qemu, X_OK) != 0)) {
            GTEST_SKIP() << "no crasher for this target (" << target_.crasher << ")";
        }
    }

    // Runs the crasher; returns its wait status.
    int crash(const std::string& kind) {
        pid_t child = fork();
        if (child == 0) {
            freopen("/dev/null", "w", stderr);
            // As in a process of its own: a sanitizer's fault handlers stay
            // out of the engine's way.
            setenv("ASAN_OPTIONS", "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:detect_leaks=0", 1);
            if (target_.emulated) {
                execl(target_.qemu, target_.qemu, "-L", "/usr/aarch64-linux-gnu", target_.crasher, kind.c_str(),
                      dir_.path().c_str(), static_cast<char*>(nullptr));
            } else {
                execl(target_.crasher, target_.crasher, kind.c_str(), dir_.path().c_str(), static_cast<char*>(nullptr));
            }
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

    // Frames above the first hold return addresses: the call lies just
    // before them.
    static uint64_t callSite(const DVLQCrashReportThreadInfo& t, size_t index) {
        uint64_t pc = t.stackFrames()[index]->instructionPointer();
        return index == 0 ? pc : pc - 1;
    }

    // Index of the first frame inside range, or -1.
    static int frameIn(const DVLQCrashReportThreadInfo& t, const Range& range) {
        for (size_t i = 0; i < t.stackFrames().size(); ++i) {
            if (range.contains(callSite(t, i))) return static_cast<int>(i);
        }
        return -1;
    }

    // The thread's frames, one letter each: the crasher's own functions by
    // the letters below, X elsewhere in the executable, L in a library and
    // ? outside every image.
    std::string frameLetters(const DVLQCrashReport& r, const DVLQCrashReportThreadInfo& t) {
        static const std::map<std::string, char> kLetters = {{"segv", 's'},      {"abort", 'a'}, {"cxx", 'c'},
                                                             {"terminate", 'h'}, {"outer", 'o'}, {"thread", 't'},
                                                             {"main", 'm'},       {"idle", 'i'},  {"nounwind", 'u'}};
        const auto ranges = expected();
        const std::string executable = r.hasProcessInfo() && r.processInfo()->processPath()
                                           ? r.processInfo()->processPath()->c_str()
                                           : std::string();
        std::string letters;
        for (size_t i = 0; i < t.stackFrames().size(); ++i) {
            const uint64_t site = callSite(t, i);
            char letter = '?';
            for (const auto& [name, range] : ranges) {
                if (range.contains(site) && kLetters.count(name)) letter = kLetters.at(name);
            }
            for (const auto& image : r.images()) {
                if (letter != '?' || site < image->imageBaseAddress() ||
                    site >= image->imageBaseAddress() + image->imageSize()) {
                    continue;
                }
                letter = image->imageName() == executable ? 'X' : 'L';
            }
            letters += letter;
        }
        return letters;
    }

    CrasherTarget target_;
    ns::test::TemporaryDirectory dir_{"lqcrash-live"};
};

}  // namespace lqtest
