// The Crashes service in the test process: switching on and off, the
// previous launch's report, crash processing one second later, the user's
// confirmation and sending, handled errors and the send callbacks. The crash
// engine's object is made but (a debugger counting as attached) installs
// nothing here.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "LQCrashReporter/Source/DVLQCrashReporter.h"
#include "LQCrashReporter/Source/tests/ReportBuilder.h"
#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryClock.h"
#include "RedEvudud/RedEvudud/tests/DVACChannelTestSupport.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACWrapperCrashesHelper.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACHandledErrorLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACErrorLogFormatter.h"
#include "RedEvududCrashes/RedEvududCrashes/tests/DVACCrashesTestSupport.h"

namespace {

using namespace dvac_crashes_test;

ns::Data reportBytes(uint8_t uuidLast = 1, uint32_t processId = 4242) {
  lqtest::ReportBuilder builder;
  Lqcrash__CrashReport__ReportInfo info;
  lqcrash__crash_report__report_info__init(&info);
  info.has_uuid = true;
  info.uuid.len = 16;
  std::string uuid("\x4a\x2b\x6c\x1e\x00\x00\x40\x00\x80\x00\x00\x00\x00\x00\x00\x00", 16);
  uuid[15] = static_cast<char>(uuidLast);
  info.uuid.data = reinterpret_cast<uint8_t*>(builder.str(uuid));
  builder.report.report_info = &info;
  builder.process.process_id = processId;
  return builder.bytes();
}

std::string incident(uint8_t uuidLast) {
  char text[64];
  std::snprintf(text, sizeof text, "4A2B6C1E-0000-4000-8000-0000000000%02X", uuidLast);
  return text;
}

void writeFile(const std::string& path, const ns::Data& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

class Delegate : public DVACCrashesDelegate {
 public:
  std::set<std::string> implemented;
  bool shouldProcess = true;
  std::vector<std::shared_ptr<DVACErrorAttachmentLog>> attachments;
  std::vector<std::string> calls;

  bool respondsToSelector(const std::string& selector) const override { return implemented.count(selector) > 0; }
  bool crashesShouldProcessErrorReport(DVACCrashes&, const std::shared_ptr<DVACErrorReport>& report) override {
    calls.push_back("shouldProcess " + report->incidentIdentifier().value_or(""));
    return shouldProcess;
  }
  std::vector<std::shared_ptr<DVACErrorAttachmentLog>> attachmentsWithCrashes(
      DVACCrashes&, const std::shared_ptr<DVACErrorReport>&) override {
    calls.push_back("attachments");
    return attachments;
  }
  void crashesWillSendErrorReport(DVACCrashes&, const std::shared_ptr<DVACErrorReport>&) override {
    calls.push_back("willSend");
  }
  void crashesDidSucceedSendingErrorReport(DVACCrashes&, const std::shared_ptr<DVACErrorReport>&) override {
    calls.push_back("didSucceed");
  }
  void crashesDidFailSendingErrorReport(DVACCrashes&, const std::shared_ptr<DVACErrorReport>& report,
                                        const std::optional<ns::Error>& error) override {
    calls.push_back("didFail " + report->incidentIdentifier().value_or("") + " " +
                    std::to_string(error ? error->code : 0));
  }
};

class DVACCrashesServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DVACRedEvudud::configureWithAppSecret(std::string("secret"));
    group_ = std::make_shared<RecordingGroup>();
  }
  void TearDown() override { dispatch::Scheduler::shared().runUntilIdle(); }

  // Where the engine keeps the pending report of the previous launch.
  std::string pendingReportPath() const {
    return DVLQCrashReporter::initWithConfiguration(DVLQCrashReporterConfig::defaultConfiguration())->crashReportPath();
  }
  std::string crashesDirectory() const { return environment_.sdkPath("crashes"); }
  std::vector<std::string> crashesDirectoryNames() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(crashesDirectory(), ec)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::shared_ptr<DVACCrashes> start(std::shared_ptr<DVACChannelGroupProtocol> group = nullptr) {
    crashes_ = DVACCrashes::sharedInstance();
    crashes_->startWithChannelGroup(group ? group : group_, std::string("secret"), std::nullopt, true);
    return crashes_;
  }
  std::shared_ptr<RecordingUnit> crashesUnit() const { return group_->unit("Crashes"); }
  std::vector<std::string> enqueuedTypes() const {
    std::vector<std::string> types;
    for (const auto& e : crashesUnit()->enqueued()) types.push_back(e.log->type().value_or(""));
    return types;
  }
  void processCrashes() { dispatch::Scheduler::shared().advance(kDVACCrashProcessingDelayInSeconds); }

  CrashesEnvironment environment_;
  std::shared_ptr<RecordingGroup> group_;
  std::shared_ptr<DVACCrashes> crashes_;
};

TEST_F(DVACCrashesServiceTest, StartingAddsTheUnitsAndSwitchesOn) {
  LogRecorder recorder;
  auto crashes = start();
  ASSERT_TRUE(crashesUnit());
  auto configuration = crashesUnit()->configuration();
  EXPECT_EQ(2, configuration->priority());
  EXPECT_EQ(1u, configuration->flushInterval());
  EXPECT_EQ(1u, configuration->batchSizeLimit());
  EXPECT_EQ(3u, configuration->pendingBatchesLimit());
  auto buffer = group_->unit("CrashesBuffer");
  ASSERT_TRUE(buffer);
  EXPECT_EQ(50u, buffer->configuration()->batchSizeLimit());
  EXPECT_EQ(1u, buffer->configuration()->pendingBatchesLimit());
  EXPECT_EQ(999, crashes->initializationPriority());
  EXPECT_EQ("Crashes", DVACCrashes::serviceName());
  EXPECT_EQ("RedEvududCrashes", DVACCrashes::logTag());
  EXPECT_EQ("crashes/DVCrashes.analyzer", crashes->analyzerInProgressFilePathComponent());

  EXPECT_TRUE(crashes->lqCrashReporter());
  EXPECT_FALSE(crashes->exceptionHandler());
  EXPECT_TRUE(recorder.contains("Detecting crashes is NOT enabled due to running the app with a debugger attached.",
                                DVACLogLevelWarning));
  EXPECT_TRUE(recorder.contains("Crashes service has been enabled but the service cannot detect crashes due to "
                                "running the application with a debugger attached.",
                                DVACLogLevelInfo));
  EXPECT_TRUE(recorder.contains("Started crash service.", DVACLogLevelVerbose));
  EXPECT_FALSE(DVACCrashes::hasCrashedInLastSession());
  EXPECT_TRUE(crashes->memoryPressureSource());
  // Nothing to process: waiting for the processing does not block.
  EXPECT_TRUE(crashes->unprocessedCrashReports().empty());
}

TEST_F(DVACCrashesServiceTest, ThePreviousLaunchsReportIsSavedProcessedAndSent) {
  writeFile(pendingReportPath(), reportBytes(1));
  auto crashes = start();
  EXPECT_TRUE(DVACCrashes::hasCrashedInLastSession());
  EXPECT_FALSE(std::filesystem::exists(pendingReportPath()));
  auto names = crashesDirectoryNames();
  ASSERT_EQ(1u, names.size());
  EXPECT_TRUE(std::all_of(names[0].begin(), names[0].end(), ::isdigit)) << names[0];
  ASSERT_TRUE(DVACCrashes::lastSessionCrashReport());
  EXPECT_EQ(incident(1), *DVACCrashes::lastSessionCrashReport()->incidentIdentifier());
  EXPECT_EQ(1u, crashes->crashFiles().size());
  EXPECT_FALSE(crashes->unprocessedReports());

  // Nothing happens before the second has passed.
  dispatch::Scheduler::shared().advance(0.5);
  EXPECT_TRUE(crashesUnit()->enqueued().empty());
  dispatch::Scheduler::shared().advance(0.5);

  // No handler: sent at once, with critical flags.
  auto enqueued = crashesUnit()->enqueued();
  ASSERT_EQ(1u, enqueued.size());
  EXPECT_EQ(DVACLogFlagsCritical, enqueued[0].flags);
  auto log = std::dynamic_pointer_cast<DVACAppleErrorLog>(enqueued[0].log);
  ASSERT_TRUE(log);
  EXPECT_EQ(incident(1), *log->errorId);
  EXPECT_TRUE(crashes->unprocessedReports()->empty());
  EXPECT_TRUE(crashes->unprocessedCrashReports().empty());
  // The report goes once the store has the log.
  EXPECT_EQ(1u, crashesDirectoryNames().size());
  crashesUnit()->completeEnqueueing();
  EXPECT_TRUE(crashesDirectoryNames().empty());
  EXPECT_TRUE(crashes->crashFiles().empty());
}

// A process that ends between the send and the store keeps the crash: the
// next launch sends it, once.
TEST_F(DVACCrashesServiceTest, ASentCrashKeepsItsReportUntilTheStoreHasItsLog) {
  writeFile(crashesDirectory() + "/100", reportBytes(1));
  writeFile(crashesDirectory() + "/200", reportBytes(2));
  auto crashes = start();
  processCrashes();
  EXPECT_EQ((std::vector<std::string>{"appleError", "appleError"}), enqueuedTypes());
  EXPECT_EQ((std::vector<std::string>{"100", "200"}), crashesDirectoryNames());
  // Only the first reaches the store before the process ends.
  auto unit = crashesUnit();
  const auto first = unit->enqueued()[0];
  crashes->channelDidCompleteEnqueueingLogWithStoreResult(unit, first.log, first.internalId,
                                                          DVACLogStoreResult::stored);
  EXPECT_EQ(1u, crashes->crashFiles().size());

  DVACCrashes::resetSharedInstance();
  group_ = std::make_shared<RecordingGroup>();
  crashes = start();
  processCrashes();
  auto enqueued = crashesUnit()->enqueued();
  ASSERT_EQ(1u, enqueued.size());
  EXPECT_EQ(incident(2), *std::dynamic_pointer_cast<DVACAppleErrorLog>(enqueued[0].log)->errorId);
  crashesUnit()->completeEnqueueing();
  EXPECT_TRUE(crashesDirectoryNames().empty());
  EXPECT_TRUE(crashes->crashFiles().empty());
}

// The service on the SDK's own channel group and units, with the test's store and ingestion.
class DVACCrashesOnTheChannelGroupTest : public DVACCrashesServiceTest {
 protected:
  std::shared_ptr<dvac_channel_test::FakeStorage> storage_ = std::make_shared<dvac_channel_test::FakeStorage>();
  std::shared_ptr<dvac_channel_test::FakeIngestion> ingestion_ = std::make_shared<dvac_channel_test::FakeIngestion>();
  std::shared_ptr<DVACChannelGroupDefault> channelGroup_ =
      DVACChannelGroupDefault::initWithIngestion(ingestion_, storage_);
};

// Unless the store has a sent crash's log, its report and wrapper exception
// stay for the next launch; a handled error stays buffered when it was wanted
// but not stored. Each case: what happens, stored, buffered.
TEST_F(DVACCrashesOnTheChannelGroupTest, ASentCrashsReportGoesOnlyWhenTheStoreHasItsLog) {
  auto filtering = std::make_shared<dvac_channel_test::RecordingDelegate>();
  filtering->filter = true;
  const std::tuple<const char*, std::function<void()>, bool, bool> cases[] = {
      {"saved", [] {}, true, false},
      {"store refuses", [&] { storage_->refuseSaves = true; }, false, true},
      {"filtered by a delegate", [&] { channelGroup_->addDelegate(filtering); }, false, false},
      {"ingestion not ready", [&] { ingestion_->setReadyToSend(false); }, false, true},
      {"unit discarding logs", [&] { crashes_->channelUnit()->setEnabled(false, true); }, false, false},
  };
  for (const auto& [outcome, arrange, stored, buffered] : cases) {
    SCOPED_TRACE(outcome);
    DVACCrashes::resetSharedInstance();
    storage_ = std::make_shared<dvac_channel_test::FakeStorage>();
    ingestion_ = std::make_shared<dvac_channel_test::FakeIngestion>();
    channelGroup_ = DVACChannelGroupDefault::initWithIngestion(ingestion_, storage_);
    std::filesystem::remove_all(crashesDirectory());
    writeFile(crashesDirectory() + "/100", reportBytes(1));
    auto wrapper = std::make_shared<DVACWrapperException>();
    wrapper->processId = 4242;
    DVACWrapperExceptionManager::saveWrapperException(wrapper, incident(1));
    auto crashes = start(channelGroup_);
    arrange();
    dispatch::Scheduler::shared().runUntilIdle();
    processCrashes();
    DVACCrashes::trackError(ns::Error("com.morvalent.tests", 1), std::nullopt, {});
    dispatch::Scheduler::shared().runUntilIdle();

    EXPECT_EQ(buffered, !DVACCrashesBufferedLogIsFree(0));
    EXPECT_EQ(stored ? 2u : 0u, storage_->count("Crashes"));
    EXPECT_EQ(stored ? std::vector<std::string>{} : std::vector<std::string>{"100"}, crashesDirectoryNames());
    EXPECT_EQ(stored ? 0u : 1u, crashes->crashFiles().size());
    EXPECT_EQ(!stored, std::filesystem::exists(environment_.sdkPath("crasheswrapperexceptions/" + incident(1))));
  }
}

// A launch that ended between storing crash logs and deleting their reports:
// the next one only deletes those reports, whether their logs are still stored
// or were sent from the store before; another report is sent.
TEST_F(DVACCrashesOnTheChannelGroupTest, AReportWhoseLogIsAlreadyStoredIsOnlyDeleted) {
  auto crashLog = [](uint8_t n) {
    return DVACErrorLogFormatter::errorLogFromCrashReport(*DVLQCrashReport::initWithData(reportBytes(n), nullptr));
  };
  for (uint8_t n : {1, 2, 3}) writeFile(crashesDirectory() + "/" + std::to_string(n) + "00", reportBytes(n));
  ASSERT_TRUE(storage_->saveLog(crashLog(1), "Crashes", DVACLogFlagsCritical));
  DVACErrorReports asked;
  DVACCrashes::setUserConfirmationHandler([&](const DVACErrorReports& reports) {
    asked.insert(asked.end(), reports.begin(), reports.end());
    return false;
  });
  auto crashes = start(channelGroup_);
  crashes->channelDidSucceedSendingLog(crashes->channelUnit(), crashLog(2));
  processCrashes();
  dispatch::Scheduler::shared().runUntilIdle();

  ASSERT_EQ(1u, asked.size());
  EXPECT_EQ(incident(3), asked[0]->incidentIdentifier().value_or(""));
  EXPECT_EQ(2u, storage_->count("Crashes"));  // the first and the third
  EXPECT_TRUE(crashesDirectoryNames().empty());
  EXPECT_TRUE(crashes->crashFiles().empty());
}

// The report handed to the application and the log that is sent carry one
// id, also for a report without a UUID, whose id is made up.
TEST_F(DVACCrashesServiceTest, AReportWithoutAUUIDKeepsOneIdFromTheLastSessionReportToTheSentLog) {
  lqtest::ReportBuilder builder;
  writeFile(pendingReportPath(), builder.bytes());
  DVACErrorReports seen;
  DVACCrashes::setUserConfirmationHandler([&](const DVACErrorReports& reports) {
    seen = reports;
    return false;
  });
  start();
  auto last = DVACCrashes::lastSessionCrashReport();
  ASSERT_TRUE(last && last->incidentIdentifier());
  processCrashes();
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(*last->incidentIdentifier(), seen[0]->incidentIdentifier().value_or(""));
  auto enqueued = crashesUnit()->enqueued();
  ASSERT_EQ(1u, enqueued.size());
  EXPECT_EQ(*last->incidentIdentifier(), *std::dynamic_pointer_cast<DVACAppleErrorLog>(enqueued[0].log)->errorId);
}

// Every name the next few seconds could give a saved report is taken: the
// new report still gets a file of its own.
TEST_F(DVACCrashesServiceTest, AReportSavedInTheSameSecondAsAnotherKeepsItsOwnFile) {
  const double now = ns::Date::now().timeIntervalSinceReferenceDate();
  for (int second = -1; second <= 5; ++second) {
    char name[32];
    std::snprintf(name, sizeof name, "%.0f", now + second);
    writeFile(crashesDirectory() + "/" + name, reportBytes(2));
  }
  writeFile(pendingReportPath(), reportBytes(1));
  auto crashes = start();
  EXPECT_FALSE(std::filesystem::exists(pendingReportPath()));
  EXPECT_EQ(8u, crashesDirectoryNames().size());
  EXPECT_EQ(8u, crashes->crashFiles().size());
  size_t newReports = 0;
  for (const auto& name : crashesDirectoryNames()) {
    std::ifstream in(crashesDirectory() + "/" + name, std::ios::binary);
    const ns::Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    newReports += bytes == reportBytes(1);
  }
  EXPECT_EQ(1u, newReports);
}

// A report the engine kept that cannot be saved stays with the engine: it is
// the only copy.
TEST_F(DVACCrashesServiceTest, AReportThatCannotBeSavedStaysForTheNextLaunch) {
  writeFile(pendingReportPath(), reportBytes(1));
  std::filesystem::remove_all(crashesDirectory());
  writeFile(crashesDirectory(), ns::Data{'x'});  // no directory can be made there
  LogRecorder recorder;
  start();
  EXPECT_TRUE(DVACCrashes::hasCrashedInLastSession());
  EXPECT_TRUE(recorder.contains("Couldn't save the crash report; it is kept for the next launch.", DVACLogLevelError));
  EXPECT_TRUE(std::filesystem::exists(pendingReportPath()));
  ASSERT_TRUE(DVACCrashes::lastSessionCrashReport());

  // The next launch saves, processes and sends it.
  std::filesystem::remove(crashesDirectory());
  DVACCrashes::resetSharedInstance();
  group_ = std::make_shared<RecordingGroup>();
  start();
  EXPECT_FALSE(std::filesystem::exists(pendingReportPath()));
  EXPECT_EQ(1u, crashesDirectoryNames().size());
  processCrashes();
  EXPECT_EQ((std::vector<std::string>{"appleError"}), enqueuedTypes());
}

TEST_F(DVACCrashesServiceTest, ALeftoverAnalyzerMarkerPurgesTheReportUndecoded) {
  LogRecorder recorder;
  writeFile(pendingReportPath(), reportBytes(1));
  writeFile(environment_.sdkPath("crashes/DVCrashes.analyzer"), {});
  auto crashes = start();
  EXPECT_TRUE(recorder.contains("Error on loading the crash report, it will be purged.", DVACLogLevelError));
  EXPECT_FALSE(std::filesystem::exists(pendingReportPath()));
  EXPECT_TRUE(crashesDirectoryNames().empty());
  EXPECT_FALSE(DVACCrashes::lastSessionCrashReport());
}

TEST_F(DVACCrashesServiceTest, TheListingSkipsWhatIsNoReportAndKeepsCorruptReports) {
  LogRecorder recorder;
  writeFile(crashesDirectory() + "/100", reportBytes(1));
  writeFile(crashesDirectory() + "/101", ns::Data{'n', 'o', 'p', 'e'});
  writeFile(crashesDirectory() + "/102", {});
  writeFile(crashesDirectory() + "/old.plist", reportBytes(2));
  std::filesystem::create_directories(crashesDirectory() + "/sub");
  auto crashes = start();
  auto files = crashes->crashFiles();
  std::vector<std::string> names;
  for (const auto& url : files) names.push_back(url.lastPathComponent());
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"100", "101"}), names);
  processCrashes();
  EXPECT_TRUE(recorder.contains("Crash report found but couldn't parse it, discard the crash report: ",
                                DVACLogLevelWarning));
  EXPECT_EQ(1u, crashesUnit()->enqueued().size());
  crashesUnit()->completeEnqueueing();
  // The corrupt one stays for the next launch.
  EXPECT_TRUE(std::filesystem::exists(crashesDirectory() + "/101"));
  EXPECT_EQ(1u, crashes->crashFiles().size());
}

TEST_F(DVACCrashesServiceTest, TheDelegateCanDiscardAReport) {
  auto delegate = std::make_shared<Delegate>();
  delegate->implemented = {kDVACCrashesShouldProcessErrorReportSelector};
  delegate->shouldProcess = false;
  DVACCrashes::setDelegate(delegate);
  bool handlerCalled = false;
  DVACCrashes::setUserConfirmationHandler([&](const DVACErrorReports&) { return handlerCalled = true; });
  writeFile(crashesDirectory() + "/100", reportBytes(1));
  start();
  processCrashes();
  EXPECT_EQ((std::vector<std::string>{"shouldProcess " + incident(1)}), delegate->calls);
  EXPECT_FALSE(handlerCalled);
  EXPECT_TRUE(crashesUnit()->enqueued().empty());
  EXPECT_TRUE(crashesDirectoryNames().empty());
}

TEST_F(DVACCrashesServiceTest, DontSendDeletesTheReportsAndClearsTheHistories) {
  writeFile(crashesDirectory() + "/100", reportBytes(1));
  writeFile(crashesDirectory() + "/200", reportBytes(2));
  DVACErrorReports seen;
  DVACCrashes::setUserConfirmationHandler([&](const DVACErrorReports& reports) {
    seen = reports;
    return true;
  });
  auto crashes = start();
  processCrashes();
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ(2u, crashes->unprocessedReports()->size());
  EXPECT_TRUE(crashesUnit()->enqueued().empty());
  DVACSessionContext::sharedInstance()->setSessionId(std::string("later"));
  DVACCrashes::notifyWithUserConfirmation(DVACUserConfirmationDontSend);
  EXPECT_TRUE(crashesUnit()->enqueued().empty());
  EXPECT_TRUE(crashesDirectoryNames().empty());
  EXPECT_TRUE(crashes->crashFiles().empty());
  EXPECT_TRUE(crashes->unprocessedReports()->empty());
  EXPECT_EQ(1u, DVACSessionContext::sharedInstance()->sessionHistory().size());
  EXPECT_FALSE(crashes->shouldAlwaysSend());
}

TEST_F(DVACCrashesServiceTest, APostponedConfirmationKeepsTheReportsForTheNextLaunch) {
  writeFile(crashesDirectory() + "/100", reportBytes(1));
  int handlerCalls = 0;
  const auto ask = [&](const DVACErrorReports&) {
    ++handlerCalls;
    return true;
  };
  DVACCrashes::setUserConfirmationHandler(ask);
  auto crashes = start();
  processCrashes();
  ASSERT_EQ(1u, crashes->unprocessedReports()->size());
  const size_t sessions = DVACSessionContext::sharedInstance()->sessionHistory().size();
  DVACCrashes::postponeUserConfirmation();
  // No longer waiting, nothing sent, nothing deleted or forgotten.
  EXPECT_TRUE(crashes->unprocessedReports()->empty());
  EXPECT_TRUE(crashesUnit()->enqueued().empty());
  EXPECT_EQ((std::vector<std::string>{"100"}), crashesDirectoryNames());
  EXPECT_EQ(sessions, DVACSessionContext::sharedInstance()->sessionHistory().size());

  // The next launch asks again, and the answer then applies.
  DVACCrashes::resetSharedInstance();
  group_ = std::make_shared<RecordingGroup>();
  DVACCrashes::setUserConfirmationHandler(ask);
  crashes = start();
  processCrashes();
  EXPECT_EQ(2, handlerCalls);
  DVACCrashes::notifyWithUserConfirmation(DVACUserConfirmationSend);
  EXPECT_EQ((std::vector<std::string>{"appleError"}), enqueuedTypes());
  crashesUnit()->completeEnqueueing();
  EXPECT_TRUE(crashesDirectoryNames().empty());
}

TEST_F(DVACCrashesServiceTest, AlwaysSendIsStoredAndThenNeverAsksAgain) {
  writeFile(crashesDirectory() + "/100", reportBytes(1));
  int handlerCalls = 0;
  DVACCrashes::setUserConfirmationHandler([&](const DVACErrorReports&) {
    ++handlerCalls;
    return true;
  });
  auto crashes = start();
  processCrashes();
  EXPECT_EQ(1, handlerCalls);
  DVACCrashes::notifyWithUserConfirmation(DVACUserConfirmationAlways);
  EXPECT_TRUE(crashes->shouldAlwaysSend());
  EXPECT_EQ((std::vector<std::string>{"appleError"}), enqueuedTypes());
  crashesUnit()->completeEnqueueing();

  // The next launch sends without asking.
  DVACCrashes::resetSharedInstance();
  group_ = std::make_shared<RecordingGroup>();
  writeFile(crashesDirectory() + "/300", reportBytes(3));
  crashes = start();
  processCrashes();
  EXPECT_EQ(1, handlerCalls);
  EXPECT_EQ((std::vector<std::string>{"appleError"}), enqueuedTypes());
  EXPECT_TRUE(crashes->sendCrashReportsOrAwaitUserConfirmation());
}

TEST_F(DVACCrashesServiceTest, AnAnswerGivenInsideTheHandlerSendsOnce) {
  writeFile(crashesDirectory() + "/100", reportBytes(1));
  DVACCrashes::setUserConfirmationHandler([&](const DVACErrorReports&) {
    DVACCrashes::notifyWithUserConfirmation(DVACUserConfirmationSend);
    return false;
  });
  start();
  processCrashes();
  EXPECT_EQ((std::vector<std::string>{"appleError"}), enqueuedTypes());
  crashesUnit()->completeEnqueueing();
  EXPECT_TRUE(crashesDirectoryNames().empty());
}

TEST_F(DVACCrashesServiceTest, NotifyingBeforeProcessingWithoutAHandlerIsOnlyLogged) {
  LogRecorder recorder;
  auto crashes = start();
  DVACCrashes::notifyWithUserConfirmation(DVACUserConfirmationSend);
  EXPECT_TRUE(recorder.contains("Incorrect usage of notifyWithUserConfirmation: it should only be called from "
                                "userConfirmationHandler. For more information refer to the documentation.",
                                DVACLogLevelError));
  EXPECT_FALSE(crashes->unprocessedReports());
}

TEST_F(DVACCrashesServiceTest, CrashLogsGetTheSessionAndUserOfTheCrashTimeAndTheirAttachments) {
  auto delegate = std::make_shared<Delegate>();
  delegate->implemented = {kDVACAttachmentsWithCrashesSelector};
  auto exact = DVACErrorAttachmentLog::attachmentWithBinary(ns::Data(kDVACMaxAttachmentSize, 1), std::string("exact"),
                                                            std::string("application/octet-stream"));
  auto tooBig = DVACErrorAttachmentLog::attachmentWithBinary(ns::Data(kDVACMaxAttachmentSize + 1, 1),
                                                             std::string("big.bin"), std::string("a/b"));
  auto noType = DVACErrorAttachmentLog::attachmentWithBinary(ns::Data{1}, std::nullopt, std::nullopt);
  auto empty = DVACErrorAttachmentLog::attachmentWithBinary(ns::Data{}, std::nullopt, std::string("a/b"));
  delegate->attachments = {exact, tooBig, noType, empty};
  DVACCrashes::setDelegate(delegate);
  writeFile(crashesDirectory() + "/100", reportBytes(1));
  LogRecorder recorder;
  start();
  processCrashes();
  auto enqueued = crashesUnit()->enqueued();
  ASSERT_EQ(2u, enqueued.size());
  EXPECT_EQ("appleError", *enqueued[0].log->type());
  EXPECT_EQ(exact, enqueued[1].log);
  EXPECT_EQ(DVACLogFlagsNormal, enqueued[1].flags);
  EXPECT_EQ(incident(1), *exact->errorId);
  // The attachment got the device of the crashed launch.
  EXPECT_TRUE(exact->device()->isEqual(*enqueued[0].log->device()));
  EXPECT_EQ(1u, recorder.count("Discarding attachment with size above 7340032 bytes: size=7340033, fileName=big.bin.",
                               DVACLogLevelError));
  EXPECT_EQ(2u, recorder.count("Not all required fields are present in DVACErrorAttachmentLog.", DVACLogLevelError));
}

// The crash log goes out under the session and user of its crash time, taken
// from the histories of earlier launches, not under those of this launch.
TEST_F(DVACCrashesServiceTest, CrashLogsGetTheSessionAndUserOfTheCrashTime) {
  double historyNow = 1699999000;  // before the report's crash time
  DVACHistoryClock::setNowProvider([&historyNow] { return ns::Date(historyNow); });
  DVACSessionContext::resetSharedInstance();
  DVACUserIdContext::resetSharedInstance();
  DVACSessionContext::sharedInstance()->setSessionId(std::string("crashed-session"));
  DVACUserIdContext::sharedInstance()->setUserId(std::string("crashed-user"));
  historyNow = 1700000500;  // this launch, after the crash
  DVACSessionContext::resetSharedInstance();
  DVACUserIdContext::resetSharedInstance();
  DVACSessionContext::sharedInstance()->setSessionId(std::string("this-session"));
  DVACUserIdContext::sharedInstance()->setUserId(std::string("this-user"));

  writeFile(crashesDirectory() + "/100", reportBytes(1));
  start();
  processCrashes();
  DVACHistoryClock::setNowProvider(nullptr);
  auto enqueued = crashesUnit()->enqueued();
  ASSERT_EQ(1u, enqueued.size());
  EXPECT_EQ("crashed-session", enqueued[0].log->sid().value_or(""));
  EXPECT_EQ("crashed-user", enqueued[0].log->userId().value_or(""));
  // Nothing is left to look up: the histories keep only this launch.
  EXPECT_EQ(1u, DVACSessionContext::sharedInstance()->sessionHistory().size());
  EXPECT_EQ(1u, DVACUserIdContext::sharedInstance()->userIdHistory().size());
}

// The engine is configured once, with the Mach exception server unless that
// was turned off before, and the wrapper's set-up delegate has its say.
TEST_F(DVACCrashesServiceTest, TheEngineIsConfiguredOnceAsTheServiceSaysAtTheFirstSwitchOn) {
  auto crashes = start();
  auto reporter = crashes->lqCrashReporter();
  ASSERT_TRUE(reporter);
  EXPECT_EQ(DVLQCrashReporterSignalHandlerTypeMach, reporter->config()->signalHandlerType());
  EXPECT_EQ(DVLQCrashReporterSymbolicationStrategyNone, reporter->config()->symbolicationStrategy());
  EXPECT_TRUE(reporter->config()->shouldRegisterUncaughtExceptionHandler());
  DVACCrashes::disableMachExceptionHandler();
  crashes->setEnabled(false);
  crashes->setEnabled(true);
  EXPECT_EQ(reporter, crashes->lqCrashReporter());
  EXPECT_EQ(DVLQCrashReporterSignalHandlerTypeMach, crashes->lqCrashReporter()->config()->signalHandlerType());

  class SetupDelegate : public DVACCrashHandlerSetupDelegate {
   public:
    std::vector<std::string> calls;
    bool respondsToSelector(const std::string&) const override { return true; }
    bool shouldEnableUncaughtExceptionHandler() override {
      calls.push_back("should");
      return false;
    }
    void willSetUpCrashHandlers() override { calls.push_back("will"); }
    void didSetUpCrashHandlers() override { calls.push_back("did"); }
  };
  DVACCrashes::resetSharedInstance();
  auto setupDelegate = std::make_shared<SetupDelegate>();
  DVACWrapperCrashesHelper::setCrashHandlerSetupDelegate(setupDelegate);
  DVACCrashes::disableMachExceptionHandler();
  group_ = std::make_shared<RecordingGroup>();
  LogRecorder recorder;
  crashes = start();
  DVACWrapperCrashesHelper::setCrashHandlerSetupDelegate(nullptr);
  EXPECT_EQ((std::vector<std::string>{"should", "will", "did"}), setupDelegate->calls);
  EXPECT_EQ(DVLQCrashReporterSignalHandlerTypeBSD, crashes->lqCrashReporter()->config()->signalHandlerType());
  EXPECT_FALSE(crashes->lqCrashReporter()->config()->shouldRegisterUncaughtExceptionHandler());
  EXPECT_TRUE(recorder.contains("EnableUncaughtExceptionHandler is set to NO, we're running in a wrapper runtime.",
                                DVACLogLevelDebug));
  EXPECT_FALSE(recorder.contains("Enabled Mach exception handler."));
}

TEST_F(DVACCrashesServiceTest, FilteredIdsThatMatchNothingDeleteEveryPendingCrash) {
  DVACWrapperCrashesHelper::setAutomaticProcessing(false);
  writeFile(crashesDirectory() + "/100", reportBytes(1));
  writeFile(crashesDirectory() + "/200", reportBytes(2));
  LogRecorder recorder;
  auto crashes = start();
  processCrashes();
  EXPECT_TRUE(recorder.contains("Automatic crash processing is disabled, storing the crash report for later processing"));
  EXPECT_EQ(2u, DVACWrapperCrashesHelper::unprocessedCrashReports().size());
  EXPECT_TRUE(crashesUnit()->enqueued().empty());

  EXPECT_FALSE(DVACWrapperCrashesHelper::sendCrashReportsOrAwaitUserConfirmationForFilteredIds({incident(2)}));
  EXPECT_EQ(1u, crashes->unprocessedReports()->size());
  EXPECT_EQ(1u, crashesDirectoryNames().size());
  EXPECT_TRUE(recorder.contains("Automatic crash processing is disabled and \"AlwaysSend\" is false. Awaiting user "
                                "confirmation."));
  DVACWrapperCrashesHelper::sendCrashReportsOrAwaitUserConfirmationForFilteredIds({"nothing"});
  EXPECT_TRUE(crashes->unprocessedReports()->empty());
  EXPECT_TRUE(crashesDirectoryNames().empty());
  EXPECT_TRUE(crashesUnit()->enqueued().empty());
}

TEST_F(DVACCrashesServiceTest, SwitchingOffDuringTheDelayDiscardsEverything) {
  writeFile(crashesDirectory() + "/100", reportBytes(1));
  auto crashes = start();
  crashes->setEnabled(false);
  // The delayed processing finds the service off.
  LogRecorder recorder;
  processCrashes();
  EXPECT_FALSE(std::filesystem::exists(crashesDirectory()));
  EXPECT_TRUE(crashesUnit()->enqueued().empty());
}

TEST_F(DVACCrashesServiceTest, ProcessingRunsOncePerProcess) {
  writeFile(crashesDirectory() + "/100", reportBytes(1));
  int handlerCalls = 0;
  DVACCrashes::setUserConfirmationHandler([&](const DVACErrorReports&) {
    ++handlerCalls;
    return true;
  });
  auto crashes = start();
  processCrashes();
  crashes->startDelayedCrashProcessing();
  crashes->applicationWillEnterForeground();
  processCrashes();
  EXPECT_EQ(1, handlerCalls);
}

TEST_F(DVACCrashesServiceTest, SwitchingOffCleansUpAndSwitchingOnAgainInstallsNothingTwice) {
  auto crashes = start();
  auto source = crashes->memoryPressureSource();
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(true), kDVACCrashesUserConfirmationKey);
  crashes->didReceiveMemoryWarning();
  writeFile(environment_.sdkPath("crasheslogbuffer/3.dvcrasheslogbuffer"), ns::Data{1, 2, 3});
  writeFile(environment_.sdkPath("crasheswrapperexceptions/x"), ns::Data{1});
  writeFile(crashesDirectory() + "/100", reportBytes(1));

  LogRecorder recorder;
  crashes->setEnabled(false);
  EXPECT_TRUE(source->isCancelled());
  EXPECT_FALSE(crashes->memoryPressureSource());
  EXPECT_FALSE(std::filesystem::exists(crashesDirectory()));
  EXPECT_FALSE(std::filesystem::exists(environment_.sdkPath("crasheswrapperexceptions")));
  EXPECT_EQ(0u, std::filesystem::file_size(environment_.sdkPath("crasheslogbuffer/3.dvcrasheslogbuffer")));
  EXPECT_TRUE(crashes->shouldAlwaysSend());
  EXPECT_FALSE(DVACRedEvududUserDefaults::shared()->objectForKey(kDVACAppDidReceiveMemoryWarningKey));
  EXPECT_TRUE(recorder.contains("Crashes service has been disabled.", DVACLogLevelInfo));
  EXPECT_EQ((std::pair<bool, bool>(false, true)), crashesUnit()->enableCalls().back());

  recorder.clear();
  crashes->setEnabled(true);
  EXPECT_TRUE(recorder.contains("Already configured LQCrashReporter.", DVACLogLevelDebug));
  EXPECT_TRUE(crashes->memoryPressureSource());
  EXPECT_NE(source, crashes->memoryPressureSource());
}

TEST_F(DVACCrashesServiceTest, AMemoryWarningIsReportedByTheNextLaunch) {
  auto crashes = start();
  EXPECT_FALSE(DVACCrashes::hasReceivedMemoryWarningInLastSession());
  dispatch::MemoryPressureSource::notifyMemoryPressure(dispatch::DISPATCH_MEMORYPRESSURE_NORMAL);
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_FALSE(DVACRedEvududUserDefaults::shared()->objectForKey(kDVACAppDidReceiveMemoryWarningKey));
  dispatch::MemoryPressureSource::notifyMemoryPressure(dispatch::DISPATCH_MEMORYPRESSURE_WARN);
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_TRUE(DVACRedEvududUserDefaults::shared()->objectForKey(kDVACAppDidReceiveMemoryWarningKey));

  DVACCrashes::resetSharedInstance();
  group_ = std::make_shared<RecordingGroup>();
  start();
  EXPECT_TRUE(DVACCrashes::hasReceivedMemoryWarningInLastSession());
  EXPECT_FALSE(DVACRedEvududUserDefaults::shared()->objectForKey(kDVACAppDidReceiveMemoryWarningKey));

  DVACCrashes::resetSharedInstance();
  group_ = std::make_shared<RecordingGroup>();
  start();
  EXPECT_FALSE(DVACCrashes::hasReceivedMemoryWarningInLastSession());
}

TEST_F(DVACCrashesServiceTest, HandledErrorsGoToTheCrashesUnitBeforeTheirAttachments) {
  EXPECT_FALSE(DVACCrashes::trackError(ns::Error("d", 1), std::nullopt, {}));  // not started
  start();
  auto attachment = DVACErrorAttachmentLog::attachmentWithText(std::string("context"), std::string("c.txt"));
  auto id = DVACCrashes::trackError(ns::Error("com.example", 3), DVACPropertiesDictionary{}, {attachment});
  ASSERT_TRUE(id);
  EXPECT_EQ(36u, id->size());
  auto enqueued = crashesUnit()->enqueued();
  ASSERT_EQ(2u, enqueued.size());
  auto handled = std::dynamic_pointer_cast<DVACHandledErrorLog>(enqueued[0].log);
  ASSERT_TRUE(handled);
  EXPECT_EQ(*id, *handled->errorId);
  EXPECT_FALSE(handled->properties());
  EXPECT_EQ("com.example", *handled->exception->type);
  EXPECT_EQ(DVACLogFlagsNormal, enqueued[0].flags);
  EXPECT_EQ(attachment, enqueued[1].log);
  EXPECT_EQ(*id, *attachment->errorId);

  LogRecorder recorder;
  DVACCrashes::trackException(DVACExceptionModel::initWithType("T", "m", std::nullopt),
                              DVACPropertiesDictionary{{"", "dropped"}, {"k", "v"}}, {});
  handled = std::dynamic_pointer_cast<DVACHandledErrorLog>(crashesUnit()->enqueued().back().log);
  EXPECT_EQ((DVACPropertiesDictionary{{"k", "v"}}), *handled->properties());

  DVACCrashes::serviceClass()->sharedInstance()->setEnabled(false);
  EXPECT_FALSE(DVACCrashes::trackError(ns::Error("d", 1), std::nullopt, {}));
}

TEST_F(DVACCrashesServiceTest, HandledErrorReportsCarryTheServiceStartAndTheCurrentDevice) {
  auto crashes = start();
  auto report = DVACWrapperCrashesHelper::buildHandledErrorReportWithErrorID("H-1");
  EXPECT_EQ("H-1", *report->incidentIdentifier());
  EXPECT_EQ(crashes->appStartTime(), *report->appStartTime());
  EXPECT_TRUE(report->appErrorTime());
  EXPECT_TRUE(report->device());
  EXPECT_EQ(0u, report->appProcessIdentifier());
  EXPECT_FALSE(report->signal());
}

TEST_F(DVACCrashesServiceTest, OnlyCrashLogsReachTheDelegateAndOnlyWhatItImplements) {
  auto delegate = std::make_shared<Delegate>();
  delegate->implemented = {kDVACCrashesDidFailSendingErrorReportSelector};
  DVACCrashes::setDelegate(delegate);
  auto crashes = start();
  lqtest::ReportBuilder builder;
  auto crashLog = DVACErrorLogFormatter::errorLogFromCrashReport(*DVLQCrashReport::initWithData(reportBytes(9), nullptr));
  auto handled = std::make_shared<DVACHandledErrorLog>();
  auto attachment = DVACErrorAttachmentLog::attachmentWithText(std::string("x"), std::nullopt);
  auto unit = crashesUnit();
  for (const auto& log : std::vector<std::shared_ptr<DVACLog>>{crashLog, handled, attachment}) {
    crashes->channelWillSendLog(unit, log);
    crashes->channelDidSucceedSendingLog(unit, log);
    crashes->channelDidFailSendingLog(unit, log, ns::Error("e", 5));
  }
  // Always later, on the main queue.
  EXPECT_TRUE(delegate->calls.empty());
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_EQ((std::vector<std::string>{"didFail " + incident(9) + " 5"}), delegate->calls);
}

}  // namespace
