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

// A later crasher waits as long as the report's writes move it on, gives up
// on a writer that stands still for the whole bound, and waits a grace once done.
TEST(LQCrashLatch, ALaterCrashWaitsWhileTheReportMovesOn) {
    constexpr int64_t kWait = LQCRASH_LATER_CRASH_WAIT_MS, kGrace = LQCRASH_LATER_CRASH_GRACE_MS;
    // At ms after the wait began, having just moved on ('+'), finished ('d') or neither.
    struct Step { int64_t at; char before; bool waiting; };
    const std::vector<Step> cases[] = {
        {{kWait - 1, ' ', true}, {kWait, ' ', false}},
        {{kWait / 2, '+', true}, {kWait - 1, '+', true}, {2 * kWait - 2, ' ', true}, {2 * kWait - 1, ' ', false}},
        {{kWait - 1, '+', true}, {kWait, 'd', true}, {kWait + kGrace - 1, '+', true}, {kWait + kGrace, ' ', false}},
    };
    for (const std::vector<Step>& steps : cases) {
        lqcrash_crash_latch latch{};
        lqcrash_crash_latch_watch watch;
        lqcrash_crash_latch_watch_start(&latch, &watch, 0);
        for (const Step& step : steps) {
            latch.progress += step.before == '+';
            latch.done |= step.before == 'd';
            EXPECT_EQ(step.waiting, lqcrash_crash_latch_watch_waiting(&latch, &watch, step.at))
                << "case " << &steps - cases << " at " << step.at;
        }
    }

    char devNull[] = "/dev/null";  // the report's writes move it on
    lqcrash_crash_context context{};
    context.path = devNull;
    ASSERT_EQ(LQCRASH_ESUCCESS, DVlqcrash_log_writer_init(&context.writer, "id", "1", nullptr, 0, false));
    lqcrash_log_bsd_signal_info_t bsd = {11, 1, 0x10};
    lqcrash_log_signal_info_t siginfo = {&bsd, nullptr};
    EXPECT_EQ(LQCRASH_ESUCCESS, lqcrash_reporter_write_report(&context, pl_mach_thread_self(), nullptr, &siginfo));
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

// A report file that fails only as it is closed (a network file system's late write error).
const lqcrash_async_file_ops kCloseFailsLate = {[](int fd, const void* data, size_t n) { return ::write(fd, data, n); },
                                                [](int fd) { ::close(fd); errno = EIO; return -1; }};

// A live report whose file can't be written whole is a failure, whether the
// writing stops in the middle or only its last buffered bytes are refused.
TEST_F(LQCrashReporterInChild, ALiveReportThatCannotBeWrittenWholeFails) {
    std::string tmp = dir_.path();
    auto child = [&] {
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of ending the process
        setenv("TMPDIR", tmp.c_str(), 1);
        auto r = DVLQCrashReporter::initWithApplicationIdentifier("app", "1", std::nullopt, nullptr);
        rlim_t limits[] = {RLIM_INFINITY, 0, 64, RLIM_INFINITY};
        size_t whole = 0;
        for (int i = 0; i < 4; ++i) {
            if (i == 3) lqcrash_async_file_set_ops(&kCloseFailsLate);  // or only the close fails
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

// An enable that fails (no directory; in Mach mode, no receive buffer for the
// exception server's thread) can't be retried.
TEST_F(LQCrashReporterInChild, AFailedEnableCannotBeRetried) {
    std::string base = dir_.path() + "/file";
    std::ofstream(base) << "not a directory";
    auto inMachMode = DVLQCrashReporterConfig::initWithSignalHandlerType(
        DVLQCrashReporterSignalHandlerTypeMach, DVLQCrashReporterSymbolicationStrategyNone, dir_.path());
    for (const auto& config : {DVLQCrashReporterConfig::initWithBasePath(base), inMachMode}) {
        auto child = [&]() {
            auto r = DVLQCrashReporter::initWithApplicationIdentifier("app", "1", std::nullopt, config);
            mach::injectFailure(mach::InjectedCall::vmAllocate, KERN_RESOURCE_SHORTAGE);
            ns::Error error;
            if (r->enableCrashReporterAndReturnError(&error)) _exit(10);
            const char* serverFailure = "Failed to instantiate the Mach exception server.";
            if (config == inMachMode && (error.code != 1 || error.localizedDescription() != serverFailure)) _exit(11);
            if (r->enableCrashReporterAndReturnError(&error) || error.code != 3) _exit(12);
            _exit(0);
        };
        EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "") << (config == inMachMode ? "Mach" : "BSD");
    }
}

std::string g_marker;
void onCrash(siginfo_t* info, ucontext_t*, void*) {
    std::ofstream(g_marker) << (info ? info->si_signo : -1);
}

// The fault handler installed before the engine's: with the reporter at the
// head of the chain it must never run.
void previousFaultHandler(int) { _exit(42); }

// With a report file that fails to close, the client is not told of the report.
class LQCrashCrashingChild
    : public LQCrashReporterInChild,
      public ::testing::WithParamInterface<std::tuple<DVLQCrashReporterSignalHandlerType, bool>> {};

TEST_P(LQCrashCrashingChild, ASegmentationFaultLeavesAPendingReport) {
    std::string base = dir_.path();
    g_marker = dir_.file("callback");
    const auto [type, closeFails] = GetParam();
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
                         ::testing::Combine(::testing::Values(DVLQCrashReporterSignalHandlerTypeBSD,
                                                              DVLQCrashReporterSignalHandlerTypeMach),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == 0 ? "Bsd" : "Mach") +
                                    (std::get<1>(info.param) ? "CloseFails" : "");
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
