// Exceptions saved by a wrapper SDK: saving, loading, correlation with the
// crash report of the same process, and deletion.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "LQCrashReporter/Source/DVLQCrashReporter.h"
#include "LQCrashReporter/Source/tests/ReportBuilder.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACWrapperExceptionManager.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACErrorLogFormatter.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACWrapperExceptionModel.h"
#include "RedEvududCrashes/RedEvududCrashes/tests/DVACCrashesTestSupport.h"

namespace {

using namespace dvac_crashes_test;

std::shared_ptr<DVACWrapperException> wrapperException(uint64_t processId, const std::string& type) {
  auto model = std::make_shared<DVACWrapperExceptionModel>();
  model->type = type;
  model->wrapperSdkName = "wrapper";
  auto exception = std::make_shared<DVACWrapperException>();
  exception->modelException = model;
  exception->processId = processId;
  exception->exceptionData = ns::Data{1, 2, 3};
  return exception;
}

std::shared_ptr<DVACErrorReport> report(const std::string& id, uint64_t processId) {
  return std::make_shared<DVACErrorReport>(id, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                           std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                           std::nullopt, nullptr, processId);
}

class DVACWrapperExceptionManagerTest : public ::testing::Test {
 protected:
  std::string file(const std::string& name) const {
    return environment_.sdkPath("crasheswrapperexceptions/" + name);
  }
  CrashesEnvironment environment_;
};

TEST_F(DVACWrapperExceptionManagerTest, TheLastSavedExceptionGoesToTheReportOfItsProcess) {
  DVACWrapperExceptionManager::saveWrapperException(wrapperException(20, "Managed"));
  ASSERT_TRUE(std::filesystem::exists(file("last_saved_wrapper_exception")));
  DVACWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({report("A", 10), report("B", 20)});
  EXPECT_FALSE(std::filesystem::exists(file("last_saved_wrapper_exception")));
  EXPECT_FALSE(std::filesystem::exists(file("A")));
  ASSERT_TRUE(std::filesystem::exists(file("B")));
  auto cached = DVACWrapperExceptionManager::loadWrapperExceptionWithUUIDString(std::string("B"));
  ASSERT_TRUE(cached);
  EXPECT_EQ("Managed", *cached->modelException->type);
  // Read back from the file by a later launch.
  DVACWrapperExceptionManager::resetForTesting();
  auto loaded = DVACWrapperExceptionManager::loadWrapperExceptionWithUUIDString(std::string("B"));
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(loaded->isEqual(*cached));
}

TEST_F(DVACWrapperExceptionManagerTest, WithoutAMatchTheExceptionIsDropped) {
  DVACWrapperExceptionManager::saveWrapperException(wrapperException(99, "Managed"));
  DVACWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({report("A", 10)});
  EXPECT_FALSE(std::filesystem::exists(file("last_saved_wrapper_exception")));
  EXPECT_FALSE(DVACWrapperExceptionManager::cachedWrapperExceptionWithUUIDString(std::string("A")));
}

TEST_F(DVACWrapperExceptionManagerTest, MissingAndUnreadableFilesGiveNothing) {
  LogRecorder recorder;
  EXPECT_FALSE(DVACWrapperExceptionManager::loadWrapperExceptionWithUUIDString(std::string("nothing")));
  EXPECT_TRUE(recorder.contains("Exception data report doesn't exist on disk. File name: nothing", DVACLogLevelError));
  std::filesystem::create_directories(file(""));
  std::ofstream(file("broken")) << "garbage";
  EXPECT_FALSE(DVACWrapperExceptionManager::loadWrapperExceptionWithUUIDString(std::string("broken")));
  EXPECT_TRUE(recorder.contains("Could not read exception data stored on disk with file name broken"));
  EXPECT_FALSE(std::filesystem::exists(file("broken")));
  // Names that are no plain file names are refused.
  DVACWrapperExceptionManager::saveWrapperException(wrapperException(1, "x"), "../escape");
  EXPECT_FALSE(std::filesystem::exists(environment_.sdkPath("escape")));
  EXPECT_TRUE(recorder.contains("Refusing the wrapper exception file name \"../escape\"."));
}

TEST_F(DVACWrapperExceptionManagerTest, DeletingAllRemovesTheDirectoryAndSavingMakesItAgain) {
  DVACWrapperExceptionManager::saveWrapperException(wrapperException(1, "x"), "one");
  DVACWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(std::string("one"));
  EXPECT_FALSE(std::filesystem::exists(file("one")));
  DVACWrapperExceptionManager::saveWrapperException(wrapperException(1, "x"), "two");
  DVACWrapperExceptionManager::deleteAllWrapperExceptions();
  EXPECT_FALSE(std::filesystem::exists(file("")));
  DVACWrapperExceptionManager::saveWrapperException(wrapperException(1, "x"));
  EXPECT_TRUE(std::filesystem::exists(file("last_saved_wrapper_exception")));
}

TEST_F(DVACWrapperExceptionManagerTest, ACrashLogCarriesItsWrapperException) {
  lqtest::ReportBuilder builder;
  Lqcrash__CrashReport__ReportInfo info;
  lqcrash__crash_report__report_info__init(&info);
  info.has_uuid = true;
  info.uuid.len = 16;
  info.uuid.data = reinterpret_cast<uint8_t*>(builder.str(std::string(16, '\x11')));
  builder.report.report_info = &info;
  auto decoded = DVLQCrashReport::initWithData(builder.bytes(), nullptr);
  ASSERT_TRUE(decoded);

  LogRecorder recorder;
  auto plain = DVACErrorLogFormatter::errorLogFromCrashReport(*decoded);
  EXPECT_FALSE(plain->exception);
  EXPECT_EQ(1u, recorder.count("Exception data report doesn't exist on disk. File name: " + *plain->errorId));

  DVACWrapperExceptionManager::saveWrapperException(wrapperException(1, "Managed"), *plain->errorId);
  auto withWrapper = DVACErrorLogFormatter::errorLogFromCrashReport(*decoded);
  ASSERT_TRUE(withWrapper->exception);
  EXPECT_EQ("Managed", *withWrapper->exception->type);
}

TEST_F(DVACWrapperExceptionManagerTest, SavingWithACrashReportNeedsTheEngine) {
  LogRecorder recorder;
  DVACWrapperExceptionManager::saveWrapperExceptionAndCrashReport(wrapperException(1, "x"));
  EXPECT_TRUE(recorder.contains("Failed to save the crash report. CrashReporter wasn't initialized."));
  auto reporter = DVLQCrashReporter::initWithConfiguration(DVLQCrashReporterConfig::defaultConfiguration());
  DVACWrapperExceptionManager::setCrashReporter(reporter);
  DVACWrapperExceptionManager::saveWrapperExceptionAndCrashReport(wrapperException(1, "x"));
  EXPECT_TRUE(reporter->hasPendingCrashReport());
  EXPECT_TRUE(std::filesystem::exists(file("last_saved_wrapper_exception")));
  EXPECT_TRUE(recorder.contains("Crash report was saved successfully at path " + reporter->crashReportPath()));
  EXPECT_TRUE(DVLQCrashReport::initWithData(*reporter->loadPendingCrashReportData(), nullptr));
}

}  // namespace
