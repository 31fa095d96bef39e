// A real crash from start to upload: a small application crashes with the
// Crashes service on (a segmentation fault, an uncaught CXX exception), then
// launches again on the same data and reports the crash to a local ingestion
// sink, or discards it.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Json.h"
#include "platform/foundation/TestSupport.h"
#include "tools/ingestion-sink/IngestionSink.h"

namespace {

// Runs the crasher with these arguments; the wait status. Everything is
// made before the fork: the child of a process with other threads may not
// allocate before it execs.
int runCrasher(const std::vector<std::string>& arguments) {
  std::string program = DVAC_CRASHES_CRASHER;
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv;
  argv.push_back(program.data());
  for (auto& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

std::string readText(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every log of every request the sink got.
std::vector<ns::Value> uploadedLogs(const ingestion_sink::Sink& sink) {
  std::vector<ns::Value> logs;
  for (const auto& request : sink.requests()) {
    auto body = ns::json::parse(request.inflatedBody ? *request.inflatedBody : request.body);
    if (!body) continue;
    if (const auto* array = body->find("logs"); array && array->array()) {
      for (const auto& log : *array->array()) logs.push_back(log);
    }
  }
  return logs;
}

std::vector<ns::Value> logsOfType(const std::vector<ns::Value>& logs, const std::string& type) {
  std::vector<ns::Value> found;
  for (const auto& log : logs) {
    const auto* t = log.find("type");
    if (t && t->string() && *t->string() == type) found.push_back(log);
  }
  return found;
}

size_t filesUnder(const std::string& directory) {
  std::error_code ec;
  if (!std::filesystem::exists(directory, ec)) return 0;
  size_t count = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory, ec)) {
    count += entry.is_regular_file() ? 1 : 0;
  }
  return count;
}

class CrashesEndToEnd : public ::testing::Test {
 protected:
  std::string sdkDirectory() const {
    return root_.path() + "/ApplicationSupport/com.morvalent.crasher/com.diruriduv.redevudud";
  }
  std::string engineReport() const {
    return root_.path() + "/Caches/com.lqcrash.crashreporter.data/com.morvalent.crasher/live_report.lqcrash";
  }
  ns::Value result() const {
    auto value = ns::json::parse(readText(resultFile()));
    return value ? *value : ns::Value();
  }
  std::string resultFile() const { return root_.file("result.json"); }

  void crash(const std::string& mode, int expectedSignal) {
    int status = runCrasher({"crash", root_.path(), mode});
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(expectedSignal, WTERMSIG(status));
    ASSERT_TRUE(std::filesystem::exists(engineReport()));
  }

  ns::test::TemporaryDirectory root_{"dvac-crashes-e2e"};
};

TEST_F(CrashesEndToEnd, ASegmentationFaultIsReportedWithTheBufferedLogsWhenTheUserAlwaysSends) {
  crash("segv", SIGSEGV);

  ingestion_sink::Options options;
  options.maxSeconds = 120;
  ingestion_sink::Sink sink(options);
  ASSERT_TRUE(sink.start());
  int status = runCrasher({"report", root_.path(), sink.baseURL(), "always", resultFile()});
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(0, WEXITSTATUS(status)) << readText(resultFile());

  auto seen = result();
  EXPECT_EQ(ns::Value(true), *seen.find("hasCrashedInLastSession"));
  EXPECT_EQ(ns::Value(1), *seen.find("handlerCalls"));
  EXPECT_EQ(ns::Value(true), *seen.find("alwaysSendStored"));
  EXPECT_EQ(ns::Value(0), *seen.find("crashFilesLeft"));
  const auto* reports = seen.find("handlerReports");
  ASSERT_TRUE(reports && reports->count() == 1);
  EXPECT_EQ(ns::Value("SIGSEGV"), *reports->at(0)->find("signal"));

  const auto logs = uploadedLogs(sink);
  const auto crashes = logsOfType(logs, "appleError");
  ASSERT_EQ(1u, crashes.size());
  const auto& crashLog = crashes[0];
  EXPECT_EQ(ns::Value("SIGSEGV"), *crashLog.find("osExceptionType"));
  EXPECT_EQ(ns::Value("SEGV_MAPERR"), *crashLog.find("osExceptionCode"));
  EXPECT_EQ(ns::Value("0x10"), *crashLog.find("osExceptionAddress"));
  EXPECT_EQ(ns::Value(true), *crashLog.find("fatal"));
  EXPECT_EQ(*reports->at(0)->find("incidentIdentifier"), *crashLog.find("id"));
  EXPECT_TRUE(crashLog.find("sid") == nullptr || crashLog.find("sid")->isString());

  // The crashed thread's frames, the first one in the crasher itself.
  const auto* threads = crashLog.find("threads");
  ASSERT_TRUE(threads && threads->count() >= 1);
  const ns::Value* crashedThread = nullptr;
  for (size_t i = 0; i < threads->count(); ++i) {
    if (*threads->at(i)->find("id") == *crashLog.find("errorThreadId")) crashedThread = threads->at(i);
  }
  ASSERT_NE(nullptr, crashedThread);
  const auto* frames = crashedThread->find("frames");
  ASSERT_TRUE(frames && frames->count() >= 1);
  const std::string firstAddress = *frames->at(0)->find("address")->string();
  EXPECT_EQ(18u, firstAddress.size()) << firstAddress;

  // The binaries hold the crasher, and the first frame lies inside it.
  const auto* binaries = crashLog.find("binaries");
  ASSERT_TRUE(binaries && binaries->count() >= 1);
  bool crasherListed = false;
  const uint64_t pc = std::stoull(firstAddress, nullptr, 16);
  for (size_t i = 0; i < binaries->count(); ++i) {
    const auto& binary = *binaries->at(i);
    if (*binary.find("name") != ns::Value("redevudud_crashes_crasher")) continue;
    crasherListed = true;
    const uint64_t start = std::stoull(*binary.find("startAddress")->string(), nullptr, 16);
    const uint64_t end = std::stoull(*binary.find("endAddress")->string(), nullptr, 16);
    EXPECT_LE(start, pc);
    EXPECT_LE(pc, end);
  }
  EXPECT_TRUE(crasherListed);

  // The two handled errors that were only in the crash-time buffer.
  const auto handled = logsOfType(logs, "handledError");
  ASSERT_EQ(2u, handled.size());
  std::set<std::string> before;
  for (const auto& log : handled) before.insert(*log.find("properties")->find("before")->string());
  EXPECT_EQ((std::set<std::string>{"crash-1", "crash-2"}), before);

  // Nothing is left to send again.
  EXPECT_FALSE(std::filesystem::exists(engineReport()));
  EXPECT_EQ(0u, filesUnder(sdkDirectory() + "/crashes"));
}

TEST_F(CrashesEndToEnd, AnUncaughtCXXExceptionIsReportedWithItsTypeMessageAndThrowSite) {
  crash("cxx", SIGABRT);

  ingestion_sink::Options options;
  options.maxSeconds = 120;
  ingestion_sink::Sink sink(options);
  ASSERT_TRUE(sink.start());
  int status = runCrasher({"report", root_.path(), sink.baseURL(), "send", resultFile()});
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(0, WEXITSTATUS(status)) << readText(resultFile());
  EXPECT_EQ(ns::Value(false), *result().find("alwaysSendStored"));

  const auto crashes = logsOfType(uploadedLogs(sink), "appleError");
  ASSERT_EQ(1u, crashes.size());
  const auto& crashLog = crashes[0];
  EXPECT_EQ(ns::Value("SIGABRT"), *crashLog.find("osExceptionType"));
  EXPECT_EQ(ns::Value("std::runtime_error"), *crashLog.find("exceptionType"));
  EXPECT_EQ(ns::Value("boom"), *crashLog.find("exceptionReason"));

  // The crashed thread carries the exception with its throw-site frames.
  const auto* threads = crashLog.find("threads");
  ASSERT_NE(nullptr, threads);
  const ns::Value* exception = nullptr;
  for (size_t i = 0; i < threads->count(); ++i) {
    if (const auto* e = threads->at(i)->find("exception")) exception = e;
  }
  ASSERT_NE(nullptr, exception);
  EXPECT_EQ(ns::Value("std::runtime_error"), *exception->find("type"));
  EXPECT_EQ(ns::Value("boom"), *exception->find("message"));
  ASSERT_TRUE(exception->find("frames") && exception->find("frames")->count() >= 2);
}

TEST_F(CrashesEndToEnd, DontSendUploadsNothingOfTheCrashAndCleansUp) {
  crash("segv", SIGSEGV);

  ingestion_sink::Options options;
  options.maxSeconds = 120;
  ingestion_sink::Sink sink(options);
  ASSERT_TRUE(sink.start());
  int status = runCrasher({"report", root_.path(), sink.baseURL(), "dontsend", resultFile()});
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(0, WEXITSTATUS(status)) << readText(resultFile());

  auto seen = result();
  EXPECT_EQ(ns::Value(true), *seen.find("hasCrashedInLastSession"));
  EXPECT_EQ(ns::Value(1), *seen.find("handlerCalls"));
  EXPECT_EQ(ns::Value(0), *seen.find("sentAppleError"));
  EXPECT_EQ(ns::Value(false), *seen.find("alwaysSendStored"));
  EXPECT_EQ(ns::Value(0), *seen.find("crashFilesLeft"));
  // The child has exited: whatever it sent has arrived.
  EXPECT_TRUE(logsOfType(uploadedLogs(sink), "appleError").empty());
  EXPECT_TRUE(logsOfType(uploadedLogs(sink), "errorAttachment").empty());
  EXPECT_FALSE(std::filesystem::exists(engineReport()));
  EXPECT_EQ(0u, filesUnder(sdkDirectory() + "/crashes"));
}

}  // namespace
