// The reporter object and its configuration: directories, pending reports,
// enabling once per process, crashes in child processes caught by signals
// and by the Mach exception server, and the uncaught-exception path.

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "LQCrashReporter/Source/DVLQCrashReport.h"
#include "LQCrashReporter/Source/DVLQCrashReporter.h"
#include "LQCrashReporter/Source/LQCrashErrors.h"
#include "LQCrashReporter/Source/LQCrashLogWriter.h"
#include "LQCrashReporter/Source/LQCrashReporterCore.h"
#include "LQCrashReporter/Source/tests/CrashTestSupport.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestSupport.h"

namespace {

TEST(LQCrashReporterConfig, InitialisersForwardTheirDefaults) {
    auto d = DVLQCrashReporterConfig::defaultConfiguration();
    EXPECT_EQ(DVLQCrashReporterSignalHandlerTypeBSD, d->signalHandlerType());
    EXPECT_EQ(DVLQCrashReporterSymbolicationStrategyNone, d->symbolicationStrategy());
    EXPECT_TRUE(d->shouldRegisterUncaughtExceptionHandler());
    EXPECT_FALSE(d->basePath());
    auto b = DVLQCrashReporterConfig::initWithBasePath("/tmp/x");
    EXPECT_EQ("/tmp/x", *b->basePath());
    auto m = DVLQCrashReporterConfig::initWithSignalHandlerType(DVLQCrashReporterSignalHandlerTypeMach,
                                                                DVLQCrashReporterSymbolicationStrategyAll, false);
    EXPECT_EQ(DVLQCrashReporterSignalHandlerTypeMach, m->signalHandlerType());
    EXPECT_FALSE(m->shouldRegisterUncaughtExceptionHandler());
    EXPECT_FALSE(m->basePath());
}

TEST(LQCrashReporter, DirectoriesComeFromTheBasePathAndTheIdentifier) {
    auto config = DVLQCrashReporterConfig::initWithSignalHandlerType(0, 0, std::string("/base"));
    auto reporter = DVLQCrashReporter::initWithApplicationIdentifier("com/example/app", "1", std::nullopt, config);
    EXPECT_EQ("/base/com.lqcrash.crashreporter.data/com_example_app", reporter->crashReportDirectory());
    EXPECT_EQ("/base/com.lqcrash.crashreporter.data/com_example_app/live_report.lqcrash", reporter->crashReportPath());
    EXPECT_EQ("/base/com.lqcrash.crashreporter.data/com_example_app/queued_reports",
              reporter->queuedCrashReportDirectory());
    EXPECT_EQ(3u, reporter->mapToAsyncSymbolicationStrategy(DVLQCrashReporterSymbolicationStrategyAll));
    EXPECT_EQ(0u, reporter->mapToAsyncSymbolicationStrategy(0));

    ns::test::ScopedPathsRoot root;
    auto cached = DVLQCrashReporter::initWithApplicationIdentifier("app", "1", std::nullopt,
                                                                   DVLQCrashReporterConfig::defaultConfiguration());
    EXPECT_EQ(ns::paths::appendingPathComponent(ns::paths::cachesDirectory(), "com.lqcrash.crashreporter.data/app"),
              cached->crashReportDirectory());
}

TEST(LQCrashReporter, TheBundleGivesIdentifierAndVersions) {
    auto bundle = ns::Bundle::withInfoDictionary(
        {{"CFBundleIdentifier", ns::Value("com.example.b")}, {"CFBundleVersion", ns::Value("77")},
         {"CFBundleShortVersionString", ns::Value("7.7")}});
    auto r = DVLQCrashReporter::initWithBundle(bundle, nullptr);
    EXPECT_EQ("com.example.b", r->applicationIdentifier());
    EXPECT_EQ("77", r->applicationVersion());
    EXPECT_EQ("7.7", *r->applicationMarketingVersion());

    ns::LogCapture log;
    auto nameless = DVLQCrashReporter::initWithBundle(ns::Bundle::withInfoDictionary({}), nullptr);
    EXPECT_FALSE(nameless->applicationIdentifier().empty());  // the process name
    EXPECT_EQ("", nameless->applicationVersion());
    EXPECT_TRUE(log.contains("[LQCrashReporter] Warning -- bundle identifier, using process name "));
    EXPECT_TRUE(log.contains("[LQCrashReporter] Warning -- bundle version unavailable"));
}

TEST(LQCrashReporter, PendingReportsAreLoadedAndPurged) {
    ns::test::TemporaryDirectory dir;
    auto r = DVLQCrashReporter::initWithApplicationIdentifier(
        "app", "1", std::nullopt, DVLQCrashReporterConfig::initWithBasePath(dir.path()));
    ns::Error error;
    EXPECT_FALSE(r->hasPendingCrashReport());
    EXPECT_FALSE(r->loadPendingCrashReportDataAndReturnError(&error));
    EXPECT_EQ(ns::NSFileReadNoSuchFileError, error.code);
    // The directories are 0755 whatever the umask takes away.
    mode_t umaskBefore = umask(077);
    bool populated = r->populateCrashReportDirectoryAndReturnError(&error);
    umask(umaskBefore);
    ASSERT_TRUE(populated) << error.description();
    struct stat st;
    ASSERT_EQ(0, stat(r->crashReportDirectory().c_str(), &st));
    EXPECT_EQ(0755u, st.st_mode & 0777);
    ASSERT_EQ(0, stat(r->queuedCrashReportDirectory().c_str(), &st));
    EXPECT_EQ(0755u, st.st_mode & 0777);
    std::ofstream(r->crashReportPath()) << "lqcrash";
    EXPECT_TRUE(r->hasPendingCrashReport());
    EXPECT_EQ(7u, r->loadPendingCrashReportData()->size());
    EXPECT_TRUE(r->purgePendingCrashReport());
    EXPECT_FALSE(r->hasPendingCrashReport());
    EXPECT_FALSE(r->purgePendingCrashReportAndReturnError(&error));
}

TEST(LQCrashReporter, LiveReportsLeaveNoTemporaryFile) {
    ns::test::TemporaryDirectory tmp;
    const char* old = getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", tmp.path().c_str(), 1);
    auto r = DVLQCrashReporter::initWithApplicationIdentifier("app", "1", std::nullopt, nullptr);
    auto data = r->generateLiveReport();
    if (old) {
        setenv("TMPDIR", saved.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    ASSERT_TRUE(data);
    DIR* d = opendir(tmp.path().c_str());
    int entries = 0;
    while (dirent* e = readdir(d)) entries += e->d_name[0] != '.';
    closedir(d);
    EXPECT_EQ(0, entries);
}

void crashNow() {
    lqtest::storeToUnmappedPage();
}

int g_uncaughtAborts = 0;
void countAbort() { ++g_uncaughtAborts; }

TEST(LQCrashReporter, OnlyTheFirstUncaughtExceptionIsRecorded) {
    lqcrash_set_uncaught_exception_abort(countAbort);
    lqcrash_uncaught_exception_reset_for_testing();
    lqcrash_uncaught_exception_handler(ns::NSException("First", std::string("one")));
    lqcrash_uncaught_exception_handler(ns::NSException("Second", std::string("two")));
    EXPECT_EQ(1, g_uncaughtAborts);
    EXPECT_TRUE(lqcrash_uncaught_exception_taken());
    EXPECT_STREQ("First", lqcrash_shared_crash_context()->writer.uncaught_exception.name);
    lqcrash_set_uncaught_exception_abort(nullptr);
    lqcrash_uncaught_exception_reset_for_testing();
    DVlqcrash_log_writer_free(&lqcrash_shared_crash_context()->writer);
}

// A crash on another thread waits for the report as long as it moves on,
// gives up on a writer that stands still for the whole bound, and gives the
// process a grace to end once the report is written.
TEST(LQCrashLatch, ALaterCrashWaitsWhileTheReportMovesOn) {
    constexpr int64_t kWait = LQCRASH_LATER_CRASH_WAIT_MS;
    constexpr int64_t kGrace = LQCRASH_LATER_CRASH_GRACE_MS;
    struct Step {
        int64_t at;  // ms after the wait began
        bool moves;  // the writer moved on just before
        bool done;   // the report was written just before
        bool waiting;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"a writer that stands still", {{kWait - 1, false, false, true}, {kWait, false, false, false}}},
        {"a writer that moves on, then stops",
         {{kWait / 2, true, false, true},
          {kWait - 1, true, false, true},
          {2 * kWait - 2, false, false, true},
          {2 * kWait - 1, false, false, false}}},
        {"a report that is written",
         {{kWait - 1, true, false, true},
          {kWait, false, true, true},
          {kWait + kGrace - 1, true, false, true},
          {kWait + kGrace, false, false, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lqcrash_crash_latch latch{};
        lqcrash_crash_latch_watch watch;
        lqcrash_crash_latch_watch_start(&latch, &watch, 0);
        for (const Step& step : c.steps) {
            if (step.moves) ++latch.progress;
            if (step.done) latch.done = 1;
            EXPECT_EQ(step.waiting, lqcrash_crash_latch_watch_waiting(&latch, &watch, step.at)) << step.at;
        }
    }

    // A report being written is what moves it on.
    ns::test::TemporaryDirectory dir;
    std::string path = dir.file("report");
    lqcrash_crash_context context{};
    context.path = path.data();
    ASSERT_EQ(LQCRASH_ESUCCESS, DVlqcrash_log_writer_init(&context.writer, "id", "1", nullptr, 0, false));
    auto write = [](lqcrash_async_thread_state* state, void* arg) {
        lqcrash_log_bsd_signal_info_t bsd = {11, 1, 0x10};
        lqcrash_log_signal_info_t siginfo = {&bsd, nullptr};
        return lqcrash_reporter_write_report(static_cast<lqcrash_crash_context*>(arg), pl_mach_thread_self(), state,
                                             &siginfo);
    };
    EXPECT_EQ(LQCRASH_ESUCCESS, lqcrash_async_thread_state_current(write, &context));
    EXPECT_GT(context.latch.progress, 10u);
    DVlqcrash_log_writer_free(&context.writer);
}

// The children fork from here ("fast" death tests), so they share the
// parent's temporary directory; enabling happens in them only.
class LQCrashReporterInChild : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }
    ns::test::TemporaryDirectory dir_{"lqcrash-reporter"};
};

// A live report under a file size limit of rlimit bytes, from one call site
// so that every report is the same size.
__attribute__((noinline)) std::optional<ns::Data> liveReportLimitedTo(DVLQCrashReporter& reporter, rlim_t limit,
                                                                      ns::Error* error) {
    struct rlimit fsize = {limit, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &fsize);
    return reporter.generateLiveReportAndReturnError(error);
}

// A report file that fails only when it is closed, as a network file system
// tells of a write error that came late.
const lqcrash_async_file_ops kCloseFailsLate = {
    [](int fd, const void* data, size_t length) { return ::write(fd, data, length); },
    [](int fd) {
        ::close(fd);
        errno = EIO;
        return -1;
    }};

// A live report whose file can't be written whole is a failure, whether the
// writing stops in the middle, only its last buffered bytes are refused or
// only the close fails.
TEST_F(LQCrashReporterInChild, ALiveReportThatCannotBeWrittenWholeFails) {
    std::string tmp = dir_.path();
    auto child = [&] {
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of ending the process
        setenv("TMPDIR", tmp.c_str(), 1);
        auto r = DVLQCrashReporter::initWithApplicationIdentifier("app", "1", std::nullopt, nullptr);
        rlim_t limits[] = {RLIM_INFINITY, 0, 64, RLIM_INFINITY};
        size_t whole = 0;
        for (int i = 0; i < 4; ++i) {
            if (i == 3) lqcrash_async_file_set_ops(&kCloseFailsLate);
            ns::Error error;
            std::optional<ns::Data> data = liveReportLimitedTo(*r, i == 1 ? whole - 1 : limits[i], &error);
            if (i == 0) {
                if (!data) _exit(10);
                whole = data->size();
            } else if (data || error.code != 0 || error.localizedDescription() != "Failed to write the crash report to disk") {
                _exit(11 + i);
            }
        }
        _exit(0);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

TEST_F(LQCrashReporterInChild, EnablingTwiceFailsWithCodeThree) {
    std::string base = dir_.path();
    auto child = [&]() {
            auto config = DVLQCrashReporterConfig::initWithBasePath(base);
            auto first = DVLQCrashReporter::initWithApplicationIdentifier("app", "1", std::nullopt, config);
            ns::Error error;
            if (!first->enableCrashReporterAndReturnError(&error)) _exit(10);
            bool raised = false;
            LQCrashReporterCallbacks callbacks = {0, nullptr, nullptr};
            try {
                first->setCrashCallbacks(&callbacks);
            } catch (const ns::NSException& e) {
                raised = e.name() == "LQCrashReporterException";
            }
            if (!raised) _exit(11);
            auto second = DVLQCrashReporter::initWithApplicationIdentifier("app2", "1", std::nullopt, config);
            if (second->enableCrashReporterAndReturnError(&error)) _exit(12);
            if (error.code != 3 || error.localizedDescription() != "A LQCrashReporter instance has already been enabled") {
                _exit(13);
            }
            _exit(0);
        };
    EXPECT_EXIT(child(),
        ::testing::ExitedWithCode(0), "");
}

// An enable fails when its directory can't be made, or in Mach mode when the
// exception server's thread can't get its receive buffer; it can't be
// retried.
TEST_F(LQCrashReporterInChild, AFailedEnableCannotBeRetried) {
    std::string file = dir_.path() + "/file";
    std::ofstream(file) << "not a directory";
    struct Case {
        const char* name;
        DVLQCrashReporterSignalHandlerType type;
        std::string base;
        const char* failure;  // the first one's text, when it is the engine's own
    };
    const Case cases[] = {
        {"no directory", DVLQCrashReporterSignalHandlerTypeBSD, file, nullptr},
        {"no exception server", DVLQCrashReporterSignalHandlerTypeMach, dir_.path(),
         "Failed to instantiate the Mach exception server."}};
    for (const Case& c : cases) {
        auto child = [&]() {
            auto r = DVLQCrashReporter::initWithApplicationIdentifier(
                "app", "1", std::nullopt,
                DVLQCrashReporterConfig::initWithSignalHandlerType(c.type, DVLQCrashReporterSymbolicationStrategyNone,
                                                                   c.base));
            mach::injectFailure(mach::InjectedCall::vmAllocate, KERN_RESOURCE_SHORTAGE);
            ns::Error error;
            if (r->enableCrashReporterAndReturnError(&error)) _exit(10);
            if (c.failure && (error.code != 1 || error.localizedDescription() != c.failure)) _exit(11);
            if (r->enableCrashReporterAndReturnError(&error) || error.code != 3) _exit(12);
            _exit(0);
        };
        EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "") << c.name;
    }
}

std::string g_marker;
void onCrash(siginfo_t* info, ucontext_t*, void*) {
    std::ofstream(g_marker) << (info ? info->si_signo : -1);
}

// The fault handler installed before the engine's: with the reporter at the
// head of the chain it must never run.
void previousFaultHandler(int) { _exit(42); }

struct CrashingChildCase {
    DVLQCrashReporterSignalHandlerType type;
    bool closeFails;  // the report is written, but its file fails to close: no callback
};

class LQCrashCrashingChild : public LQCrashReporterInChild, public ::testing::WithParamInterface<CrashingChildCase> {};

TEST_P(LQCrashCrashingChild, ASegmentationFaultLeavesAPendingReport) {
    std::string base = dir_.path();
    g_marker = dir_.file("callback");
    DVLQCrashReporterSignalHandlerType type = GetParam().type;
    bool closeFails = GetParam().closeFails;
    auto child = [&]() {
            // As in a process of its own: no other fault handler (a
            // sanitizer's) to hand the signal on to. In BSD mode a handler of
            // the application's own comes before the engine's.
            signal(SIGSEGV, type == DVLQCrashReporterSignalHandlerTypeBSD ? previousFaultHandler : SIG_DFL);
            auto r = DVLQCrashReporter::initWithApplicationIdentifier(
                "com.example.crashy", "3", std::string("3.0"),
                DVLQCrashReporterConfig::initWithSignalHandlerType(type, DVLQCrashReporterSymbolicationStrategyNone,
                                                                   base));
            LQCrashReporterCallbacks callbacks = {0, nullptr, onCrash};
            r->setCrashCallbacks(&callbacks);
            r->setCustomData(ns::Data{9});
            ns::Error error;
            if (!r->enableCrashReporterAndReturnError(&error)) _exit(10);
            if (closeFails) lqcrash_async_file_set_ops(&kCloseFailsLate);
            crashNow();
            _exit(11);
        };
    EXPECT_EXIT(child(),
        ::testing::KilledBySignal(SIGSEGV), "");

    auto r = DVLQCrashReporter::initWithApplicationIdentifier("com.example.crashy", "3", std::string("3.0"),
                                                              DVLQCrashReporterConfig::initWithBasePath(base));
    ASSERT_TRUE(r->hasPendingCrashReport());
    ns::Error error;
    auto report = DVLQCrashReport::initWithData(*r->loadPendingCrashReportData(), &error);
    ASSERT_TRUE(report) << error.description();
    EXPECT_EQ("SIGSEGV", report->signalInfo()->name());
    EXPECT_EQ("SEGV_MAPERR", report->signalInfo()->code());
    EXPECT_EQ(type == DVLQCrashReporterSignalHandlerTypeMach, report->machExceptionInfo() != nullptr);
    EXPECT_EQ(ns::Data{9}, *report->customData());
    EXPECT_EQ("3.0", *report->applicationInfo()->applicationMarketingVersion());
    int crashed = 0;
    for (const auto& t : report->threads()) crashed += t->crashed();
    EXPECT_EQ(1, crashed);
    EXPECT_EQ(closeFails ? "" : "11", lqtest::readText(g_marker));
}

INSTANTIATE_TEST_SUITE_P(Modes, LQCrashCrashingChild,
                         ::testing::Values(CrashingChildCase{DVLQCrashReporterSignalHandlerTypeBSD, false},
                                           CrashingChildCase{DVLQCrashReporterSignalHandlerTypeMach, false},
                                           CrashingChildCase{DVLQCrashReporterSignalHandlerTypeBSD, true}),
                         [](const auto& info) {
                             return std::string(info.param.type == 0 ? "Bsd" : "Mach") +
                                    (info.param.closeFails ? "CloseFails" : "");
                         });

TEST_F(LQCrashReporterInChild, AnUncaughtExceptionIsWrittenWithTheAbort) {
    std::string base = dir_.path();
    auto child = [&]() {
            auto r = DVLQCrashReporter::initWithApplicationIdentifier("app", "1", std::nullopt,
                                                                      DVLQCrashReporterConfig::initWithBasePath(base));
            ns::Error error;
            if (!r->enableCrashReporterAndReturnError(&error)) _exit(10);
            auto handler = ns::NSGetUncaughtExceptionHandler();
            if (!handler) _exit(11);
            handler(ns::NSException("NSGenericException", std::string("went wrong"), {0x1234, 0x5678}));
            _exit(12);
        };
    EXPECT_EXIT(child(),
        ::testing::KilledBySignal(SIGABRT), "");
    auto r = DVLQCrashReporter::initWithApplicationIdentifier("app", "1", std::nullopt,
                                                              DVLQCrashReporterConfig::initWithBasePath(base));
    ASSERT_TRUE(r->hasPendingCrashReport());
    auto report = DVLQCrashReport::initWithData(*r->loadPendingCrashReportData(), nullptr);
    ASSERT_TRUE(report);
    EXPECT_EQ("SIGABRT", report->signalInfo()->name());
    ASSERT_TRUE(report->hasExceptionInfo());
    EXPECT_EQ("NSGenericException", report->exceptionInfo()->exceptionName());
    EXPECT_EQ("went wrong", report->exceptionInfo()->exceptionReason());
    ASSERT_TRUE(report->exceptionInfo()->stackFrames());
    ASSERT_EQ(2u, report->exceptionInfo()->stackFrames()->size());
    EXPECT_EQ(0x5678u, (*report->exceptionInfo()->stackFrames())[1]->instructionPointer());
}

}  // namespace
