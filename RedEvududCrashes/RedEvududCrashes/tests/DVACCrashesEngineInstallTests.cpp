// What switching the service on installs in a process of its own: the crash
// engine with its uncaught-exception handler, the CXX handler and the
// application forwarder; and the forwarder's switches. Installing cases run
// in child processes, which share the test's temporary root.

#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "LQCrashReporter/Source/DVLQCrashReport.h"
#include "LQCrashReporter/Source/DVLQCrashReporter.h"
#include "RedEvudud/RedEvudud/Internals/DelegateForwarder/DVACDelegateForwarder.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACApplicationForwarder.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesUncaughtCXXExceptionHandlerManager.h"
#include "RedEvududCrashes/RedEvududCrashes/tests/DVACCrashesTestSupport.h"

namespace {

using namespace dvac_crashes_test;

// The application object's two methods, as the application registers them.
struct FakeApplication {
  std::vector<std::string> reported;
  bool throwOnEvent = false;
  void install() {
    DVACMethodTable::removeAllForTesting();
    DVACApplicationForwarder::resetForTesting();
    DVACMethodTable::addMethod(kDVACApplicationForwarderClassName, kDVACReportExceptionSelector,
                               [this](DVACInvocation& invocation) {
                                 auto object = invocation.arguments.at(0).objectAs<DVACNSExceptionObject>();
                                 reported.push_back(object->exception->name());
                               });
    DVACMethodTable::addMethod(kDVACApplicationForwarderClassName, kDVACSendEventSelector, [this](DVACInvocation&) {
      if (throwOnEvent) throw ns::NSException("NSInternalInconsistencyException", std::string("bad event"));
    });
  }
  void sendEvent() {
    DVACInvocation invocation{kDVACSendEventSelector, {ns::Value("event")}, {}};
    DVACMethodTable::invoke(kDVACApplicationForwarderClassName, invocation);
  }
};

class DVACApplicationForwarderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    DVACMethodTable::removeAllForTesting();
    DVACApplicationForwarder::resetForTesting();
  }
  CrashesEnvironment environment_;
  FakeApplication application_;
};

TEST_F(DVACApplicationForwarderTest, NothingIsReplacedWithoutTheUserDefault) {
  application_.install();
  LogRecorder recorder;
  DVACApplicationForwarder::registerForwarding();
  EXPECT_FALSE(DVACApplicationForwarder::isReportExceptionReplaced());
  EXPECT_FALSE(DVACApplicationForwarder::isSendEventReplaced());
  EXPECT_TRUE(recorder.contains("Application forwarder for info.plist key 'RedEvududApplicationForwarderEnabled' "
                                "enabled. It may use swizzling.",
                                DVACLogLevelDebug));
  EXPECT_TRUE(recorder.contains("Catching uncaught exceptions thrown on the main thread disabled. Set "
                                "`NSApplicationCrashOnExceptions` flag before SDK initialization",
                                DVACLogLevelInfo));
}

TEST_F(DVACApplicationForwarderTest, TheInfoPlistCanTurnItOff) {
  application_.install();
  ns::UserDefaults::standard()->setBool(kDVACApplicationCrashOnExceptionsKey, true);
  ns::Bundle::setMain(ns::Bundle::withInfoDictionary({{kDVACApplicationForwarderEnabledKey, ns::Value(false)}}));
  LogRecorder recorder;
  DVACApplicationForwarder::registerForwarding();
  EXPECT_FALSE(DVACApplicationForwarder::isReportExceptionReplaced());
  EXPECT_TRUE(recorder.contains("Application forwarder for info.plist key 'RedEvududApplicationForwarderEnabled' "
                                "disabled. It won't use swizzling."));
}

TEST_F(DVACApplicationForwarderTest, AnExceptionEscapingSendEventIsReportedAndTheLoopGoesOn) {
  application_.install();
  ns::UserDefaults::standard()->setBool(kDVACApplicationCrashOnExceptionsKey, true);
  LogRecorder recorder;
  DVACApplicationForwarder::registerForwarding();
  DVACApplicationForwarder::registerForwarding();
  EXPECT_TRUE(DVACApplicationForwarder::isReportExceptionReplaced());
  EXPECT_TRUE(DVACApplicationForwarder::isSendEventReplaced());
  EXPECT_EQ(1u, recorder.count("Selector 'sendEvent:' of class 'NSApplication' is swizzled."));
  application_.throwOnEvent = true;
  EXPECT_NO_THROW(application_.sendEvent());
  EXPECT_EQ((std::vector<std::string>{"NSInternalInconsistencyException"}), application_.reported);
}

// ---- In a process of its own --------------------------------------------------

// Configures the SDK and starts the service on a recording group.
std::shared_ptr<DVACCrashes> startInChild() {
  signal(SIGSEGV, SIG_DFL);
  DVACCrashes::setDebuggerAttachedProviderForTesting(nullptr);
  DVACRedEvudud::configureWithAppSecret(std::string("secret"));
  auto crashes = DVACCrashes::sharedInstance();
  static auto group = std::make_shared<RecordingGroup>();
  crashes->startWithChannelGroup(group, std::string("secret"), std::nullopt, true);
  return crashes;
}

class DVACCrashesInstallTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }
  std::shared_ptr<DVLQCrashReport> pendingReport() const {
    auto reporter = DVLQCrashReporter::initWithConfiguration(DVLQCrashReporterConfig::defaultConfiguration());
    auto data = reporter->loadPendingCrashReportData();
    return data ? DVLQCrashReport::initWithData(*data, nullptr) : nullptr;
  }
  CrashesEnvironment environment_;
};

void installAndCheck() {
  auto crashes = startInChild();
  if (!crashes->exceptionHandler()) _exit(2);
  if (crashes->exceptionHandler() != ns::NSGetUncaughtExceptionHandler()) _exit(3);
  if (!DVACCrashesUncaughtCXXExceptionHandlerManager::isInstalled()) _exit(4);
  if (DVACCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler() != 1) _exit(5);
  // A second switch-on installs nothing again.
  crashes->setEnabled(false);
  crashes->setEnabled(true);
  if (DVACCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler() != 1) _exit(6);
  _exit(0);
}

TEST_F(DVACCrashesInstallTest, SwitchingOnInstallsTheEngineAndTheHandlersOnce) {
  EXPECT_EXIT(installAndCheck(), ::testing::ExitedWithCode(0), "");
}

void reportThroughTheApplication() {
  FakeApplication application;
  application.install();
  application.throwOnEvent = true;
  ns::UserDefaults::standard()->setBool(kDVACApplicationCrashOnExceptionsKey, true);
  startInChild();
  application.sendEvent();
  _exit(7);
}

TEST_F(DVACCrashesInstallTest, AnExceptionTheApplicationReportsEndsInACrashReport) {
  EXPECT_EXIT(reportThroughTheApplication(), ::testing::KilledBySignal(SIGABRT), "");
  auto report = pendingReport();
  ASSERT_TRUE(report);
  ASSERT_TRUE(report->hasExceptionInfo());
  EXPECT_EQ("NSInternalInconsistencyException", report->exceptionInfo()->exceptionName());
  EXPECT_EQ("bad event", report->exceptionInfo()->exceptionReason());
}

void crashForTesting() {
  startInChild();
  DVACCrashes::generateTestCrash();
  _exit(7);
}

TEST_F(DVACCrashesInstallTest, ATestCrashIsRecorded) {
  EXPECT_EXIT(crashForTesting(), [](int status) { return WIFSIGNALED(status); }, "");
  auto report = pendingReport();
  ASSERT_TRUE(report);
  EXPECT_TRUE(report->signalInfo()->name() == "SIGILL" || report->signalInfo()->name() == "SIGTRAP")
      << report->signalInfo()->name();
}

void switchOnTraced() {
  if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(9);
  DVACCrashes::setDebuggerAttachedProviderForTesting(nullptr);
  if (!DVACCrashes::isDebuggerAttached()) _exit(2);
  DVACRedEvudud::configureWithAppSecret(std::string("secret"));
  auto crashes = DVACCrashes::sharedInstance();
  crashes->startWithChannelGroup(std::make_shared<RecordingGroup>(), std::string("secret"), std::nullopt, true);
  if (!crashes->lqCrashReporter() || crashes->exceptionHandler()) _exit(3);
  if (DVACCrashesUncaughtCXXExceptionHandlerManager::isInstalled()) _exit(4);
  _exit(0);
}

// A tracer shows in the kernel's record of the process.
TEST_F(DVACCrashesInstallTest, UnderATracerNothingIsInstalled) {
  EXPECT_EXIT(switchOnTraced(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
