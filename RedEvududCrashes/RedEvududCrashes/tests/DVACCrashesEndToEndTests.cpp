// A real crash from start to upload: a small application crashes with the
// Crashes service on (a segmentation fault, abort(), an uncaught CXX
// exception), then launches again on the same data and reports the crash to
// a local ingestion sink, or discards it; and launches that die while they
// send the crash don't lose it or send it twice.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "RedEvududCrashes/RedEvududCrashes/tests/DVACCrashesTestSupport.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/TestSupport.h"
#include "tools/ingestion-sink/IngestionSink.h"

namespace {

using dvac_crashes_test::readText;

// Starts the crasher with these arguments; its process id. Everything is made
// before the fork: the child of a process with other threads may not
// allocate before it execs.
pid_t startCrasher(const std::vector<std::string>& arguments) {
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
  return pid;
}

// Runs the crasher to its end; the wait status.
int runCrasher(const std::vector<std::string>& arguments) {
  const pid_t pid = startCrasher(arguments);
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// Every log of the requests the sink got, from the given one on.
std::vector<ns::Value> uploadedLogs(const ingestion_sink::Sink& sink, size_t fromRequest = 0,
                                    std::optional<int> answeredStatus = std::nullopt) {
  std::vector<ns::Value> logs;
  const auto requests = sink.requests();
  for (size_t i = fromRequest; i < requests.size(); ++i) {
    if (answeredStatus && requests[i].answeredStatus != *answeredStatus) continue;
    auto body = ns::json::parse(requests[i].content());
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

// How often each crash log id was uploaded.
std::map<std::string, int> crashLogIds(const std::vector<ns::Value>& logs) {
  std::map<std::string, int> ids;
  for (const auto& log : logsOfType(logs, "appleError")) ++ids[*log.find("id")->string()];
  return ids;
}

size_t filesUnder(const std::string& directory, bool nonEmptyOnly = false) {
  std::error_code ec;
  if (!std::filesystem::exists(directory, ec)) return 0;
  size_t count = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory, ec)) {
    count += entry.is_regular_file() && (!nonEmptyOnly || entry.file_size() > 0) ? 1 : 0;
  }
  return count;
}

// Runs one statement on a database file, as another program would.
void execute(const std::string& database, const std::string& statement) {
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(database.c_str(), &db)) << database;
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr)) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

uint64_t hexValue(const ns::Value& value) { return std::stoull(*value.string(), nullptr, 16); }

// Where the crasher's crashing functions and their caller lie.
struct CrashSites {
  uint64_t site[2] = {0, 0};
  uint64_t caller[2] = {0, 0};
  bool inSite(uint64_t a) const { return site[0] <= a && a <= site[1]; }
  bool inCaller(uint64_t a) const { return caller[0] <= a && a <= caller[1]; }
};

// The frames of a crash: the crashing function followed by its caller, each
// frame once, and every frame inside one of the crash's binaries.
void expectTrueFrames(const ns::Value& frames, const ns::Value& crashLog, const CrashSites& sites,
                      const std::string& what) {
  std::vector<uint64_t> addresses;
  for (size_t i = 0; i < frames.count(); ++i) addresses.push_back(hexValue(*frames.at(i)->find("address")));
  std::ostringstream shown;
  for (size_t i = 0; i < addresses.size() && i < 12; ++i) shown << std::hex << " " << addresses[i];
  shown << (addresses.size() > 12 ? " ..." : "") << " (" << std::dec << addresses.size() << " frames)";
  bool siteThenCaller = false;
  for (size_t i = 0; i + 1 < addresses.size(); ++i) {
    siteThenCaller = siteThenCaller || (sites.inSite(addresses[i]) && sites.inCaller(addresses[i + 1]));
  }
  EXPECT_TRUE(siteThenCaller) << what << ": no crashing function followed by its caller:" << shown.str();
  EXPECT_EQ(addresses.size(), std::set<uint64_t>(addresses.begin(), addresses.end()).size())
      << what << ": repeated frames:" << shown.str();
  const auto* binaries = crashLog.find("binaries");
  ASSERT_TRUE(binaries);
  size_t outside = 0;
  for (uint64_t a : addresses) {
    bool inside = false;
    for (size_t b = 0; b < binaries->count(); ++b) {
      const auto& binary = *binaries->at(b);
      inside = inside || (hexValue(*binary.find("startAddress")) <= a && a <= hexValue(*binary.find("endAddress")));
    }
    outside += inside ? 0 : 1;
  }
  EXPECT_EQ(0u, outside) << what << ": frames outside every binary:" << shown.str();
}

const ns::Value* crashedThread(const ns::Value& crashLog) {
  const auto* threads = crashLog.find("threads");
  if (!threads) return nullptr;
  for (size_t i = 0; i < threads->count(); ++i) {
    if (*threads->at(i)->find("id") == *crashLog.find("errorThreadId")) return threads->at(i);
  }
  return nullptr;
}

class CrashesEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ingestion_sink::Options options;
    options.maxSeconds = 120;
    sink_ = std::make_unique<ingestion_sink::Sink>(options);
    ASSERT_TRUE(sink_->start());
  }

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
  CrashSites sites() const {
    CrashSites sites;
    std::istringstream(readText(root_.file("sites"))) >> std::hex >> sites.site[0] >> sites.site[1] >>
        sites.caller[0] >> sites.caller[1];
    return sites;
  }

  void crash(const std::string& mode, int expectedSignal) {
    int status = runCrasher({"crash", root_.path(), mode});
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(expectedSignal, WTERMSIG(status));
    ASSERT_TRUE(std::filesystem::exists(engineReport()));
  }
  // The next launch, answering the confirmation; it succeeds.
  void report(const std::string& answer, const std::string& then = "") {
    std::vector<std::string> arguments = {"report", root_.path(), sink_->baseURL(), answer, resultFile()};
    if (!then.empty()) arguments.push_back(then);
    int status = runCrasher(arguments);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(0, WEXITSTATUS(status)) << readText(resultFile());
  }
  // The one crash log the sink got.
  ns::Value onlyCrashLog() const {
    const auto crashes = logsOfType(uploadedLogs(*sink_), "appleError");
    EXPECT_EQ(1u, crashes.size());
    return crashes.empty() ? ns::Value() : crashes[0];
  }

  ns::test::TemporaryDirectory root_{"dvac-crashes-e2e"};
  std::unique_ptr<ingestion_sink::Sink> sink_;
};

TEST_F(CrashesEndToEnd, ASegmentationFaultIsReportedWithTheBufferedLogsWhenTheUserAlwaysSends) {
  crash("segv", SIGSEGV);
  report("always");

  auto seen = result();
  EXPECT_EQ(ns::Value(true), *seen.find("hasCrashedInLastSession"));
  EXPECT_EQ(ns::Value(1), *seen.find("handlerCalls"));
  EXPECT_EQ(ns::Value(true), *seen.find("alwaysSendStored"));
  EXPECT_EQ(ns::Value(0), *seen.find("crashFilesLeft"));
  const auto* reports = seen.find("handlerReports");
  ASSERT_TRUE(reports && reports->count() == 1);
  EXPECT_EQ(ns::Value("SIGSEGV"), *reports->at(0)->find("signal"));

  const auto crashLog = onlyCrashLog();
  ASSERT_TRUE(crashLog.find("id"));
  EXPECT_EQ(ns::Value("SIGSEGV"), *crashLog.find("osExceptionType"));
  EXPECT_EQ(ns::Value("SEGV_MAPERR"), *crashLog.find("osExceptionCode"));
  EXPECT_EQ(ns::Value("0x10"), *crashLog.find("osExceptionAddress"));
  EXPECT_EQ(ns::Value(true), *crashLog.find("fatal"));
  EXPECT_EQ(*reports->at(0)->find("incidentIdentifier"), *crashLog.find("id"));
  EXPECT_TRUE(crashLog.find("sid") == nullptr || crashLog.find("sid")->isString());
  const auto* thread = crashedThread(crashLog);
  ASSERT_NE(nullptr, thread);
  expectTrueFrames(*thread->find("frames"), crashLog, sites(), "crashed thread");

  // The two handled errors that were only in the crash-time buffer, made on
  // the same system as the crash.
  const auto handled = logsOfType(uploadedLogs(*sink_), "handledError");
  ASSERT_EQ(2u, handled.size());
  std::set<std::string> before;
  for (const auto& log : handled) {
    before.insert(*log.find("properties")->find("before")->string());
    EXPECT_EQ(ns::json::write(*log.find("device")), ns::json::write(*crashLog.find("device")));
  }
  EXPECT_EQ((std::set<std::string>{"crash-1", "crash-2"}), before);

  // Nothing is left to send again.
  EXPECT_FALSE(std::filesystem::exists(engineReport()));
  EXPECT_EQ(0u, filesUnder(sdkDirectory() + "/crashes"));
}

TEST_F(CrashesEndToEnd, AnAbortIsReportedWithTheFunctionThatCalledIt) {
  crash("abort", SIGABRT);
  report("send");
  const auto crashLog = onlyCrashLog();
  ASSERT_TRUE(crashLog.find("id"));
  EXPECT_EQ(ns::Value("SIGABRT"), *crashLog.find("osExceptionType"));
  EXPECT_EQ(nullptr, crashLog.find("exceptionType"));
  const auto* thread = crashedThread(crashLog);
  ASSERT_NE(nullptr, thread);
  expectTrueFrames(*thread->find("frames"), crashLog, sites(), "crashed thread");
}

TEST_F(CrashesEndToEnd, AnUncaughtCXXExceptionIsReportedWithItsTypeMessageAndThrowSite) {
  crash("cxx", SIGABRT);
  report("send");
  EXPECT_EQ(ns::Value(false), *result().find("alwaysSendStored"));

  const auto crashLog = onlyCrashLog();
  ASSERT_TRUE(crashLog.find("id"));
  EXPECT_EQ(ns::Value("SIGABRT"), *crashLog.find("osExceptionType"));
  EXPECT_EQ(ns::Value("std::runtime_error"), *crashLog.find("exceptionType"));
  EXPECT_EQ(ns::Value("boom"), *crashLog.find("exceptionReason"));

  // The crashed thread carries the exception with its throw-site frames.
  const auto* thread = crashedThread(crashLog);
  ASSERT_NE(nullptr, thread);
  expectTrueFrames(*thread->find("frames"), crashLog, sites(), "crashed thread");
  const auto* exception = thread->find("exception");
  ASSERT_NE(nullptr, exception);
  EXPECT_EQ(ns::Value("std::runtime_error"), *exception->find("type"));
  EXPECT_EQ(ns::Value("boom"), *exception->find("message"));
  expectTrueFrames(*exception->find("frames"), crashLog, sites(), "throw site");
}

TEST_F(CrashesEndToEnd, DontSendUploadsNothingOfTheCrashAndCleansUp) {
  crash("segv", SIGSEGV);
  report("dontsend");

  auto seen = result();
  EXPECT_EQ(ns::Value(true), *seen.find("hasCrashedInLastSession"));
  EXPECT_EQ(ns::Value(1), *seen.find("handlerCalls"));
  EXPECT_EQ(ns::Value(0), *seen.find("sentAppleError"));
  EXPECT_EQ(ns::Value(false), *seen.find("alwaysSendStored"));
  EXPECT_EQ(ns::Value(0), *seen.find("crashFilesLeft"));
  // The child has exited: whatever it sent has arrived.
  EXPECT_TRUE(logsOfType(uploadedLogs(*sink_), "appleError").empty());
  EXPECT_TRUE(logsOfType(uploadedLogs(*sink_), "errorAttachment").empty());
  EXPECT_FALSE(std::filesystem::exists(engineReport()));
  EXPECT_EQ(0u, filesUnder(sdkDirectory() + "/crashes"));
}

// The launch after a crash has a store that refuses every save: the crash and the logs only in the crash-time buffer
// stay; the launch after that, with a working store, sends each of them once.
TEST_F(CrashesEndToEnd, ALaunchWhoseStoreRefusesSavesKeepsTheCrashAndTheBufferedLogs) {
  crash("segv", SIGSEGV);
  const std::string database = sdkDirectory() + "/Logs.sqlite";
  const std::string buffer = sdkDirectory() + "/crasheslogbuffer";
  execute(database, "CREATE TRIGGER refuse BEFORE INSERT ON logs BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  report("send", "not-stored");
  EXPECT_TRUE(uploadedLogs(*sink_).empty());
  // The two handled errors, and the start-up log when the crash came first.
  EXPECT_GE(filesUnder(buffer, true), 2u);
  EXPECT_EQ(1u, filesUnder(sdkDirectory() + "/crashes"));

  execute(database, "DROP TRIGGER refuse;");
  report("send");
  const auto logs = uploadedLogs(*sink_);
  EXPECT_EQ(1u, logsOfType(logs, "appleError").size());
  std::multiset<std::string> before;
  for (const auto& log : logsOfType(logs, "handledError")) {
    before.insert(*log.find("properties")->find("before")->string());
  }
  EXPECT_EQ((std::multiset<std::string>{"crash-1", "crash-2"}), before);
  EXPECT_EQ(0u, filesUnder(buffer, true));
  EXPECT_EQ(0u, filesUnder(sdkDirectory() + "/crashes"));
}

// The launch that sends a crash crashes itself before the store has the
// crash log; the next one sends both crashes, the server fails them with 500
// and the process is killed before it retries, after the store got the logs
// (their reports are put back, as if it died before deleting them); the one
// after that sends each crash once, from the store.
TEST_F(CrashesEndToEnd, LaunchesThatDieWhileSendingACrashNeitherLoseItNorSendItTwice) {
  crash("segv", SIGSEGV);
  int status = runCrasher({"report", root_.path(), sink_->baseURL(), "send", resultFile(), "crash-when-sent"});
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(SIGSEGV, WTERMSIG(status));
  EXPECT_EQ(1u, filesUnder(sdkDirectory() + "/crashes"));  // the first crash, still to send
  ASSERT_TRUE(std::filesystem::exists(engineReport()));    // the second
  const std::string kept = root_.file("kept");
  std::filesystem::copy(sdkDirectory() + "/crashes", kept);
  std::filesystem::copy(engineReport(), kept + "/1");

  ingestion_sink::Script failing;
  failing.fallback.status = 500;
  sink_->setScript(failing);
  const pid_t sending = startCrasher({"report", root_.path(), sink_->baseURL(), "send", resultFile(), "until-killed"});
  for (size_t seen = 1; crashLogIds(uploadedLogs(*sink_)).size() < 2 && sink_->waitForRequests(seen, 15); ++seen) {
  }
  kill(sending, SIGKILL);
  waitpid(sending, &status, 0);
  const auto failed = crashLogIds(uploadedLogs(*sink_));
  ASSERT_EQ(2u, failed.size());
  EXPECT_EQ(0u, filesUnder(sdkDirectory() + "/crashes"));

  std::filesystem::copy(kept, sdkDirectory() + "/crashes",
                        std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
  sink_->setScript(ingestion_sink::Script{});
  const size_t before = sink_->requestCount();
  report("send", "stored=2");
  EXPECT_EQ(ns::Value(0), *result().find("handlerCalls"));
  EXPECT_EQ(0u, filesUnder(sdkDirectory() + "/crashes"));
  std::map<std::string, int> once;
  for (const auto& [id, count] : failed) once[id] = 1;
  EXPECT_EQ(once, crashLogIds(uploadedLogs(*sink_, before)));
  EXPECT_EQ(once, crashLogIds(uploadedLogs(*sink_, 0, 200)));
}

}  // namespace
