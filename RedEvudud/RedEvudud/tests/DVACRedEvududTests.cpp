// The SDK entry end to end: start-up against the local ingestion sink, the
// store on disk, fatal and recoverable answers, a process killed before it
// could send, and the switches of the entry itself.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <thread>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClient.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRedEvududIngestion.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStartServiceLog.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACErrors.h"
#include "RedEvudud/RedEvudud/tests/DVACChannelTestSupport.h"
#include "RedEvudud/RedEvudud/tests/DVACHttpTestSupport.h"
#include "RedEvudud/RedEvudud/tests/DVACSdkTestSupport.h"
#include "platform/foundation/Json.h"

using namespace dvac_sdk_test;
using dvac_channel_test::numberedLog;
using dvac_channel_test::RecordingDelegate;

namespace {

// The start-service log waits for the core unit's 6 second timer.
constexpr double kFlushWait = 30.0;

// Sets an environment variable for the life of the object.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnvironmentVariable() {
    if (previous_) {
      ::setenv(name_, previous_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// The logs of a request's JSON body.
std::vector<ns::Value> logsOf(const ingestion_sink::RecordedRequest& request) {
  auto body = ns::json::parse(request.content());
  if (!body) return {};
  const ns::Value* logs = body->find("logs");
  if (!logs || !logs->array()) return {};
  return *logs->array();
}

std::optional<std::string> stringAt(const ns::Value& dictionary, const std::string& key) {
  const ns::Value* value = dictionary.find(key);
  if (!value || !value->string()) return std::nullopt;
  return *value->string();
}

// The "n" property of every "testEvent" log of the requests.
std::vector<int> eventNumbers(const std::vector<ingestion_sink::RecordedRequest>& requests) {
  std::vector<int> numbers;
  for (const auto& request : requests) {
    for (const auto& log : logsOf(request)) {
      if (stringAt(log, "type") != "testEvent") continue;
      const ns::Value* properties = log.find("properties");
      if (!properties) continue;
      if (auto n = stringAt(*properties, "n")) numbers.push_back(std::stoi(*n));
    }
  }
  return numbers;
}

std::shared_ptr<const DVACChannelUnitConfiguration> batchOf(const std::string& groupId, uint64_t batchSize,
                                                            uint64_t pendingBatches) {
  return DVACChannelUnitConfiguration::initWithGroupId(groupId, 1, 6, batchSize, pendingBatches);
}

class DVACRedEvududTests : public ::testing::Test {
 protected:
  // Starts with the sink as log URL and waits until the start-service log
  // has been delivered, so the tests after it own the sink's script.
  void startAndDeliverStartServiceLog(const std::vector<DVACServiceClass>& services) {
    DVACRedEvudud::setLogUrl(sink_->baseURL());
    DVACRedEvudud::start(kAppSecret, services);
    recorder_ = std::make_shared<RecordingDelegate>();
    sdkGroup()->addDelegate(recorder_);
    ASSERT_TRUE(sink_->waitForRequests(1, kFlushWait));
    ASSERT_TRUE(recorder_->waitFor("didSucceed", 1));
    syncLogsQueue();
    recorder_->clear();
  }

  SdkEnvironment environment_;
  dvac_http_test::LogRecorder log_{DVACLogLevelDebug};
  std::unique_ptr<ingestion_sink::Sink> sink_ = dvac_http_test::startSink("[]");
  std::shared_ptr<RecordingDelegate> recorder_;
};

// ------------------------------------------------------------ End to end

TEST_F(DVACRedEvududTests, StartUploadsOneStartServiceLogAndEmptiesTheStore) {
  ScopedEnvironmentVariable url("MORVALENT_INGESTION_URL", sink_->baseURL());
  DVACIngestionDefaults::resetForTesting();
  auto alpha = serviceClass("Alpha", 999);
  auto beta = serviceClass("Beta");
  DVACRedEvudud::start(kAppSecret, {beta, alpha});
  auto recorder = std::make_shared<RecordingDelegate>();
  sdkGroup()->addDelegate(recorder);

  ASSERT_TRUE(sink_->waitForRequests(1, kFlushWait));
  ASSERT_TRUE(recorder->waitFor("didSucceed", 1));
  syncLogsQueue();

  const auto requests = sink_->requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/logs?api-version=1.0.0");
  EXPECT_EQ(request.header("App-Secret"), kAppSecret);
  EXPECT_EQ(request.header("Install-ID"), DVACRedEvudud::installId().UUIDString());
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_EQ(request.answeredStatus, 200);
  const auto logs = logsOf(request);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(stringAt(logs[0], "type"), "startService");
  const ns::Value* services = logs[0].find("services");
  ASSERT_TRUE(services && services->array());
  ASSERT_EQ(services->count(), 2u);
  // Higher priority first.
  EXPECT_EQ(services->at(0)->asString(), "Alpha");
  EXPECT_EQ(services->at(1)->asString(), "Beta");
  EXPECT_EQ(environment_.storedRows(), 0);
  EXPECT_EQ(sink_->requestCount(), 1u);
}

TEST_F(DVACRedEvududTests, FatalAnswerSwitchesTheUnitOffAndDeletesItsLogs) {
  auto beta = serviceClass("Beta", 500, batchOf("Beta", 2, 1));
  startAndDeliverStartServiceLog({beta});
  dvac_http_test::setScript(*sink_, R"([{"status": 400}])");
  auto unit = beta->service()->channelUnit();
  for (int n = 0; n < 4; ++n) unit->enqueueItem(numberedLog(n), DVACLogFlagsNormal);

  ASSERT_TRUE(recorder_->waitFor("didFail", 4));
  syncLogsQueue();
  ASSERT_TRUE(log_.contains("Fatal error encountered; shutting down channel unit with group ID Beta"));
  const auto requests = sink_->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].answeredStatus, 400);
  EXPECT_EQ(eventNumbers({requests[1]}), (std::vector<int>{0, 1}));
  EXPECT_EQ(environment_.storedRows("Beta"), 0);
  // The logs that never left fail with "Canceled, connection paused with log deletion."
  for (const auto& event : recorder_->events()) {
    if (event.name != "didFail") continue;
    const int n = *dvac_channel_test::numberOf(event.log);
    if (n < 2) continue;
    ASSERT_TRUE(event.error) << n;
    EXPECT_EQ(event.error->code, DVACConnectionPausedErrorCode) << n;
  }
  EXPECT_FALSE(unit->isEnabled());
  // New logs are refused the same way and nothing is stored.
  unit->enqueueItem(numberedLog(9), DVACLogFlagsNormal);
  ASSERT_TRUE(recorder_->waitFor("didFail", 5));
  syncLogsQueue();
  EXPECT_EQ(environment_.storedRows("Beta"), 0);
}

TEST_F(DVACRedEvududTests, LogsEnqueuedWhileTheSinkIsDownGoOutOnceItAnswers) {
  auto beta = serviceClass("Beta", 500, batchOf("Beta", 2, 3));
  startAndDeliverStartServiceLog({beta});
  // Retries within milliseconds instead of 10, 300 and 1200 seconds.
  sdkGroup()->redEvududIngestion()->setCallsRetryIntervals({0.02, 0.02, 0.02});
  dvac_http_test::setScript(*sink_, R"({"responses": [{"status": 503}, {"status": 503}], "default": {"status": 200}})");
  auto unit = beta->service()->channelUnit();
  unit->enqueueItem(numberedLog(0), DVACLogFlagsNormal);
  unit->enqueueItem(numberedLog(1), DVACLogFlagsNormal);

  ASSERT_TRUE(recorder_->waitFor("didSucceed", 2));
  syncLogsQueue();
  const auto requests = sink_->requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1].answeredStatus, 503);
  EXPECT_EQ(requests[2].answeredStatus, 503);
  EXPECT_EQ(requests[3].answeredStatus, 200);
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(eventNumbers({requests[i]}), (std::vector<int>{0, 1})) << i;
  EXPECT_EQ(recorder_->count("didFail"), 0u);
  EXPECT_EQ(environment_.storedRows("Beta"), 0);
}

// Listeners rely on "did complete enqueueing" meaning the store has the log:
// another connection already sees it then.
TEST_F(DVACRedEvududTests, CompletedEnqueueingMeansTheLogIsStored) {
  struct Witness : DVACChannelDelegate {
    void channelDidCompleteEnqueueingLog(const std::shared_ptr<DVACChannelProtocol>&, const std::shared_ptr<DVACLog>&,
                                         const std::string&) override {
      seen.push_back(dvac_test::storedRows("Beta"));
    }
    std::vector<int64_t> seen;
  };
  auto beta = serviceClass("Beta", 500, batchOf("Beta", 50, 3));
  DVACRedEvudud::setLogUrl(sink_->baseURL());
  DVACRedEvudud::start(kAppSecret, {beta});
  auto witness = std::make_shared<Witness>();
  auto unit = beta->service()->channelUnit();
  unit->addDelegate(witness);
  for (int n = 0; n < 3; ++n) unit->enqueueItem(numberedLog(n), DVACLogFlagsNormal);
  syncLogsQueue();
  EXPECT_EQ(witness->seen, (std::vector<int64_t>{1, 2, 3}));
}

// The other half of LogsSurviveAProcessKilledBeforeSending: run as a child
// process of that test, never on its own.
TEST(DVACRedEvududRestartChild, EnqueueAndWaitToBeKilled) {
  const char* root = std::getenv("DVAC_RESTART_CHILD_ROOT");
  const char* url = std::getenv("DVAC_RESTART_CHILD_URL");
  if (!ns::test::ChildTest::isChild() || !root || !url) {
    GTEST_SKIP() << "runs only as the child of LogsSurviveAProcessKilledBeforeSending";
  }
  SdkEnvironment environment(root);
  auto beta = serviceClass("Beta");
  DVACRedEvudud::setLogUrl(url);
  DVACRedEvudud::start(kAppSecret, {beta});
  auto recorder = std::make_shared<RecordingDelegate>();
  sdkGroup()->addDelegate(recorder);
  for (int n = 0; n < 20; ++n) beta->service()->channelUnit()->enqueueItem(numberedLog(n), DVACLogFlagsNormal);
  ASSERT_TRUE(recorder->waitFor("didCompleteEnqueueing", 20));
  syncLogsQueue();
  ns::test::ChildTest::report("ready " + DVACRedEvudud::installId().UUIDString());
  ns::test::ChildTest::holdUntilKilled();
}

TEST_F(DVACRedEvududTests, LogsSurviveAProcessKilledBeforeSending) {
  ns::test::TemporaryDirectory root("dvac-restart");
  // The first process's sink never answers in time: nothing it sends can be
  // confirmed before it dies.
  auto holdingSink = dvac_http_test::startSink(R"({"responses": [], "default": {"status": 200, "delayMs": 120000}})");
  ns::test::ChildTest child(
      "DVACRedEvududRestartChild.EnqueueAndWaitToBeKilled",
      {"DVAC_RESTART_CHILD_ROOT=" + root.path(), "DVAC_RESTART_CHILD_URL=" + holdingSink->baseURL()});
  const std::string line = child.readLine(60).value_or("");
  const int status = child.kill();
  ASSERT_TRUE(line.starts_with("ready ")) << "child said: '" << line << "'";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  const std::string childInstallId = line.substr(6);
  holdingSink->stop();

  // A new process on the same files: here, with fresh shared instances.
  environment_.shutdown();
  {
    SdkEnvironment second(root.path());
    auto beta = serviceClass("Beta");
    DVACRedEvudud::setLogUrl(sink_->baseURL());
    DVACRedEvudud::start(kAppSecret, {beta});
    auto recorder = std::make_shared<RecordingDelegate>();
    sdkGroup()->addDelegate(recorder);
    ASSERT_TRUE(recorder->waitFor("didSucceed", 20, kFlushWait));
    syncLogsQueue();
    const auto requests = sink_->requests();
    auto numbers = eventNumbers(requests);
    std::sort(numbers.begin(), numbers.end());
    std::vector<int> expected(20);
    for (int n = 0; n < 20; ++n) expected[static_cast<size_t>(n)] = n;
    EXPECT_EQ(numbers, expected);
    for (const auto& request : requests) {
      EXPECT_EQ(request.header("Install-ID"), childInstallId);
      EXPECT_EQ(request.answeredStatus, 200);
    }
    EXPECT_EQ(second.storedRows("Beta"), 0) << second.logsDatabasePath();
  }
}

// ------------------------------------------- delivery through a flaky server

// The whole client on the virtual clock (retry intervals of 10, 300 and 1200
// s, back-offs, flush timers) against the sink, which answers in real time.
class DVACDeliveryTest : public ::testing::Test {
 protected:
  // The client goes with the work still queued for it, and then its
  // connections, which would otherwise hold up the sink's stop.
  void TearDown() override {
    recorder.reset();
    environment.reset();
    dispatch::Scheduler::shared().runUntilIdle();
  }
  void launch(const std::vector<DVACServiceClass>& services) {
    DVACRedEvudud::setLogUrl(sink->baseURL());
    DVACRedEvudud::start(kAppSecret, services);
    recorder = std::make_shared<RecordingDelegate>();
    sdkGroup()->addDelegate(recorder);
  }
  std::shared_ptr<DVACHttpClient> client() const {
    return std::dynamic_pointer_cast<DVACHttpClient>(sdkGroup()->redEvududIngestion()->httpClient());
  }
  // Every call has its answer and the logs queue has taken them in.
  bool settle(const std::function<bool()>& condition) {
    return dispatch::Scheduler::shared().runMainUntil(
        [&] {
          auto calls = client()->pendingCalls();
          return condition() &&
                 std::none_of(calls.begin(), calls.end(), [](const auto& call) { return call->isInProgress(); });
        },
        20);
  }
  void advance(double seconds) { dispatch::Scheduler::shared().advance(seconds); }
  static void enqueue(const std::shared_ptr<TestServiceClass>& service, int from, int to) {
    auto unit = service->service()->channelUnit();
    for (int n = from; n < to; ++n) unit->enqueueItem(numberedLog(n), DVACLogFlagsNormal);
  }
  void answer(const std::string& script) { dvac_http_test::setScript(*sink, script); }
  // The numbered logs of every batch the sink accepted.
  std::vector<int> accepted() const {
    std::vector<ingestion_sink::RecordedRequest> requests;
    for (const auto& request : sink->requests()) {
      if (request.answeredStatus >= 200 && request.answeredStatus < 300) requests.push_back(request);
    }
    auto numbers = eventNumbers(requests);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
  }
  // The numbers from..to-1 of each pair, in order.
  static std::vector<int> ranges(std::initializer_list<std::pair<int, int>> spans) {
    std::vector<int> numbers;
    for (auto [from, to] : spans) {
      for (int n = from; n < to; ++n) numbers.push_back(n);
    }
    return numbers;
  }

  dispatch::VirtualClockScope clock;
  ns::test::TemporaryDirectory root{"dvac-delivery"};
  std::unique_ptr<ingestion_sink::Sink> sink =
      dvac_http_test::startSink(R"({"responses": [], "default": {"drop": true}})");
  std::optional<SdkEnvironment> environment{std::in_place, root.path()};
  std::shared_ptr<RecordingDelegate> recorder;
};

TEST_F(DVACDeliveryTest, EveryLogArrivesOnceThroughDropsBurstsAndARestart) {
  auto beta = serviceClass("Beta", 500, batchOf("Beta", 10, 3));
  launch({beta});
  auto held = [&] {
    auto calls = client()->pendingCalls();
    return std::count_if(calls.begin(), calls.end(), [](const auto& c) { return c->isHeldForNetwork(); });
  };

  // Three full batches go out at once and every connection drops: the calls
  // are held, each with its retry timer.
  enqueue(beta, 0, 30);
  ASSERT_TRUE(settle([&] { return held() == 3; }));
  // A burst of 503s answers the first retries; the network going away and
  // coming back sends the calls again at once, into the burst.
  answer(R"({"responses": [], "default": {"status": 503}})");
  advance(10);
  ASSERT_TRUE(settle([&] { return held() == 0 && client()->pendingCalls().size() >= 3; }));
  net::ScopedReachabilityFlags offline(0);
  ASSERT_TRUE(settle([&] { return client()->isPaused(); }));
  net::ReachabilitySource::shared().reset();
  ASSERT_TRUE(settle([&] { return !client()->isPaused(); }));
  // The server comes back.
  answer("[]");
  advance(10);
  ASSERT_TRUE(settle([&] { return accepted() == ranges({{0, 30}}); }));

  // A burst longer than the retries: the batch fails and waits in the store,
  // the client pauses and resumes after its back-off.
  answer(R"({"responses": [], "default": {"status": 503}})");
  dvac_http_test::LogRecorder retries(DVACLogLevelWarning);
  enqueue(beta, 30, 40);
  for (size_t retry = 1; retry <= 3; ++retry) {
    ASSERT_TRUE(settle([&] { return retries.count("it will be retried in") == retry; }));
    advance(dvac_http_test::announcedRetryDelay(retries));
  }
  ASSERT_TRUE(settle([&] { return recorder->numbers("didFail").size() >= 10 && client()->isPaused(); }));
  answer("[]");
  advance(kDVACFirstPauseBackOffSeconds);
  ASSERT_TRUE(settle([&] { return !client()->isPaused(); }));
  enqueue(beta, 40, 50);
  ASSERT_TRUE(settle([&] { return accepted() == ranges({{0, 30}, {40, 50}}); }));
  EXPECT_EQ(environment->storedRows("Beta"), 10);

  // The next launch sends what was left.
  environment.reset();
  environment.emplace(root.path());
  auto again = serviceClass("Beta", 500, batchOf("Beta", 10, 3));
  launch({again});
  advance(6);
  ASSERT_TRUE(settle([&] { return accepted() == ranges({{0, 50}}); })) << ::testing::PrintToString(accepted());
  advance(3600);
  ASSERT_TRUE(settle([] { return true; }));
  EXPECT_EQ(accepted(), ranges({{0, 50}}));
  EXPECT_EQ(environment->storedRows("Beta"), 0);
}

// Batches answered 302 to a second server, 307 there, and 302 without a Location: only the 307 takes its body there;
// the others fail and stay stored, and the group goes on sending.
TEST_F(DVACDeliveryTest, ARedirectedUploadArrivesOnceWithItsBodyOrStaysStored) {
  auto second = dvac_http_test::startSink("[]");
  const std::string moved = second->baseURL() + "/moved";
  dvac_http_test::LogRecorder errors(DVACLogLevelError);
  auto beta = serviceClass("Beta", 500, batchOf("Beta", 10, 3));
  launch({beta});
  const std::string to = R"(, "headers": {"Location": ")" + moved + R"("}}])";
  const std::vector<std::string> scripts{R"([{"status": 302)" + to, R"([{"status": 307)" + to, R"([{"status": 302}])",
                                         "[]"};
  for (int batch = 0; batch < 4; ++batch) {
    answer(scripts[batch]);
    enqueue(beta, 10 * batch, 10 * batch + 10);
    ASSERT_TRUE(settle([&] { return recorder->count("didFail") + recorder->count("didSucceed") == 10u * batch + 10; }));
  }
  EXPECT_EQ(recorder->count("didFail"), 20u);
  EXPECT_TRUE(errors.contains("Redirect of a POST refused: a 302 to " + moved));
  EXPECT_TRUE(errors.contains("Redirect not followed: the server answered 302 to a POST without a usable Location"));
  EXPECT_EQ(accepted(), ranges({{30, 40}}));
  EXPECT_EQ(environment->storedRows("Beta"), 20);
  const auto first = sink->requests();
  ASSERT_EQ(first.size(), 4u);
  EXPECT_EQ(first[1].answeredStatus, 307);
  const auto forwarded = second->requests();
  ASSERT_EQ(forwarded.size(), 1u);
  EXPECT_EQ(forwarded[0].method, "POST");
  EXPECT_EQ(forwarded[0].body, first[1].body);
  EXPECT_EQ(eventNumbers(forwarded), ranges({{10, 20}}));
  // Its connection to the second server would hold up that one's stop.
  environment.reset();
  dispatch::Scheduler::shared().runUntilIdle();
}

TEST_F(DVACRedEvududTests, DisableVariableKeepsNamedServicesFromStarting) {
  ScopedEnvironmentVariable disable("RED_EVUDUD_DISABLE", " Alpha , Unknown ");
  DVACRedEvudud::setLogUrl(sink_->baseURL());
  DVACRedEvudud::configureWithAppSecret(kAppSecret);
  auto recorder = std::make_shared<RecordingDelegate>();
  sdkGroup()->addDelegate(recorder);
  auto alpha = serviceClass("Alpha", 999);
  auto beta = serviceClass("Beta");
  auto sdk = DVACRedEvudud::sharedInstance();
  sdk->startServices({alpha, beta}, sdk->appSecret(), std::nullopt, true);

  EXPECT_FALSE(alpha->service()->isStarted());
  EXPECT_TRUE(beta->service()->isStarted());
  EXPECT_EQ(sdkGroup()->channelUnitForGroupId("Alpha"), nullptr);
  EXPECT_TRUE(log_.contains("Environment variable to disable service has been set; not starting service DVACAlpha"));
  ASSERT_TRUE(recorder->waitFor("didCompleteEnqueueing", 1));
  std::shared_ptr<DVACStartServiceLog> startLog;
  for (const auto& event : recorder->events()) {
    if (auto log = std::dynamic_pointer_cast<DVACStartServiceLog>(event.log)) startLog = log;
  }
  ASSERT_TRUE(startLog);
  EXPECT_EQ(startLog->services(), (std::vector<std::string>{"Beta"}));
}

TEST_F(DVACRedEvududTests, DisableAllStartsNothing) {
  ScopedEnvironmentVariable disable("RED_EVUDUD_DISABLE", "All");
  auto alpha = serviceClass("Alpha", 999);
  DVACRedEvudud::setLogUrl(sink_->baseURL());
  DVACRedEvudud::start(kAppSecret, {alpha, serviceClass("Beta")});
  EXPECT_FALSE(alpha->service()->isStarted());
  EXPECT_TRUE(DVACRedEvudud::sharedInstance()->services().empty());
  EXPECT_TRUE(log_.contains("No services have been started."));
}

// ------------------------------------------------------------ The switches

TEST(DVACRedEvududSwitches, ShouldDisableParsesTheVariable) {
  {
    ScopedEnvironmentVariable disable("RED_EVUDUD_DISABLE", std::nullopt);
    EXPECT_FALSE(DVACRedEvudud::shouldDisable("Crashes"));
  }
  ScopedEnvironmentVariable disable("RED_EVUDUD_DISABLE", "Crashes , Bogus");
  EXPECT_TRUE(DVACRedEvudud::shouldDisable("Crashes"));
  EXPECT_FALSE(DVACRedEvudud::shouldDisable("Analytics"));
  EXPECT_FALSE(DVACRedEvudud::shouldDisable("crashes"));
  ScopedEnvironmentVariable all("RED_EVUDUD_DISABLE", "all");
  EXPECT_FALSE(DVACRedEvudud::shouldDisable("Analytics"));
}

TEST(DVACRedEvududSwitches, RunningInTestCloudOnlyForOne) {
  {
    ScopedEnvironmentVariable variable("RUNNING_IN_RED_EVUDUD", "1");
    EXPECT_TRUE(DVACRedEvudud::isRunningInRedEvududTestCloud());
  }
  ScopedEnvironmentVariable variable("RUNNING_IN_RED_EVUDUD", "true");
  EXPECT_FALSE(DVACRedEvudud::isRunningInRedEvududTestCloud());
}

TEST(DVACRedEvududSwitches, ServicesAreSortedByDescendingPriorityKeepingTheirOrder) {
  auto a = serviceClass("A", 500);
  auto b = serviceClass("B", 999);
  auto c = serviceClass("C", 500);
  auto d = serviceClass("D", 999);
  const auto sorted = DVACRedEvudud::sortServices({a, b, c, nullptr, d});
  std::vector<std::string> names;
  for (const auto& service : sorted) names.push_back(service ? service->serviceName() : "null");
  EXPECT_EQ(names, (std::vector<std::string>{"B", "D", "A", "C", "null"}));
}

class DVACRedEvududEntryTests : public ::testing::Test {
 protected:
  void SetUp() override { DVACRedEvudud::setLogUrl("http://127.0.0.1:9"); }
  SdkEnvironment environment_;
  dvac_http_test::LogRecorder log_{DVACLogLevelVerbose};
};

TEST_F(DVACRedEvududEntryTests, ASecondStartFromTheApplicationFailsButStartServiceStillWorks) {
  auto alpha = serviceClass("Alpha");
  auto beta = serviceClass("Beta");
  DVACRedEvudud::start(kAppSecret, {alpha});
  DVACRedEvudud::start(kAppSecret, {beta});
  EXPECT_TRUE(log_.contains("Red Evudud SDK has already been configured."));
  EXPECT_TRUE(log_.contains("Red Evudud SDK configuration failed."));
  EXPECT_FALSE(beta->service()->isStarted());
  DVACRedEvudud::startService(beta);
  EXPECT_TRUE(beta->service()->isStarted());
  EXPECT_EQ(beta->service()->appSecret(), kAppSecret);
  EXPECT_TRUE(DVACRedEvudud::isConfigured());
}

TEST_F(DVACRedEvududEntryTests, StartServiceBeforeConfigurationAndInvalidServices) {
  DVACRedEvudud::startService(serviceClass("Alpha"));
  EXPECT_FALSE(DVACRedEvudud::isConfigured());
  DVACRedEvudud::configureWithAppSecret(kAppSecret);
  DVACRedEvudud::startService(nullptr);
  EXPECT_TRUE(log_.contains("Cannot start service (null). Provided value is nil or invalid."));
}

TEST_F(DVACRedEvududEntryTests, StorageSizeIsCheckedAndAcceptedOnce) {
  std::vector<bool> results;
  auto record = [&](bool ok) { results.push_back(ok); };
  DVACRedEvudud::setMaxStorageSize(24575, record);
  EXPECT_TRUE(log_.contains("Cannot set storage size to 24575 bytes, minimum value is 24576 bytes"));
  DVACRedEvudud::setMaxStorageSize(24576, record);
  DVACRedEvudud::setMaxStorageSize(40960, record);
  EXPECT_TRUE(log_.contains("setMaxStorageSize:completionHandler: may only be called once per app launch"));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results, (std::vector<bool>{false, false}));
  // The accepted size is applied when the group is made.
  DVACRedEvudud::start(kAppSecret, {});
  syncLogsQueue();
  ASSERT_EQ(results.size(), 3u);
  EXPECT_TRUE(results.back());
}

TEST_F(DVACRedEvududEntryTests, StorageSizeAfterConfigurationIsRefused) {
  DVACRedEvudud::start(kAppSecret, {});
  std::optional<bool> result;
  DVACRedEvudud::setMaxStorageSize(40960, [&](bool ok) { result = ok; });
  EXPECT_EQ(result, false);
  EXPECT_TRUE(log_.contains("Unable to set storage size after the application has configured Red Evudud"));
}

TEST_F(DVACRedEvududEntryTests, InstallIdIsMadeOnceAndAnUnreadableOneReplaced) {
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value("not-a-uuid"), "InstallId");
  const ns::UUID installId = DVACRedEvudud::installId();
  EXPECT_EQ(DVACRedEvudud::installId(), installId);
  EXPECT_EQ(DVACRedEvududUserDefaults::shared()->objectForKey("InstallId")->asString(), installId.UUIDString());
  DVACRedEvudud::resetSharedInstance();
  EXPECT_EQ(DVACRedEvudud::installId(), installId);
}

TEST_F(DVACRedEvududEntryTests, StartingWhileDisabledHoldsTheNamesUntilEnabled) {
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(false), "RedEvududIsEnabled");
  auto alpha = serviceClass("Alpha");
  DVACRedEvudud::start(kAppSecret, {alpha});
  EXPECT_EQ(DVACRedEvudud::sharedInstance()->startedServiceNames(), (std::vector<std::string>{"Alpha"}));
  EXPECT_FALSE(alpha->service()->isEnabled());
  auto recorder = std::make_shared<RecordingDelegate>();
  sdkGroup()->addDelegate(recorder);
  DVACRedEvudud::setEnabled(true);
  EXPECT_FALSE(DVACRedEvudud::sharedInstance()->startedServiceNames());
  ASSERT_TRUE(recorder->waitFor("didCompleteEnqueueing", 1));
  std::shared_ptr<DVACStartServiceLog> startLog;
  for (const auto& event : recorder->events()) {
    if (auto log = std::dynamic_pointer_cast<DVACStartServiceLog>(event.log)) startLog = log;
  }
  ASSERT_TRUE(startLog);
  EXPECT_EQ(startLog->services(), (std::vector<std::string>{"Alpha"}));
  EXPECT_TRUE(alpha->service()->isEnabled());
  EXPECT_TRUE(log_.contains("Red Evudud SDK enabled."));
}

TEST_F(DVACRedEvududEntryTests, NetworkSwitchPersistsAndPausesTheGroup) {
  DVACRedEvudud::setNetworkRequestsAllowed(false);
  EXPECT_FALSE(DVACRedEvudud::isNetworkRequestsAllowed());
  EXPECT_TRUE(log_.contains("Red Evudud SDK network requests are forbidden."));
  DVACRedEvudud::start(kAppSecret, {});
  auto ingestion = sdkGroup()->redEvududIngestion();
  EXPECT_FALSE(ingestion->isEnabled());
  DVACRedEvudud::setNetworkRequestsAllowed(true);
  EXPECT_TRUE(ingestion->isEnabled());
  EXPECT_EQ(ns::UserDefaults::standard()->objectForKey("DVRedEvududNetworkRequestsAllowed")->asBool(), true);
}

// The ingestion asks whether network requests are allowed while it holds its
// own lock, and the SDK calls into the ingestion while holding the
// instance's: the question must not need the instance's lock.
TEST_F(DVACRedEvududEntryTests, NetworkPermissionIsReadWithoutTheInstanceLock) {
  DVACRedEvudud::start(kAppSecret, {});
  auto ingestion = sdkGroup()->redEvududIngestion();
  std::atomic<bool> answered{false};
  std::atomic<bool> askedInTime{false};
  DVACLogger::setLogHandler([&](const DVACLogMessageProvider& provider, DVACLogLevel, const std::string&, const char*,
                                const char*, unsigned int) {
    // Runs on this thread with the SDK's instance lock held.
    if (provider().find("network requests are") == std::string::npos) return;
    std::thread other([&] {
      (void)ingestion->isEnabled();
      (void)DVACRedEvudud::isNetworkRequestsAllowed();
      answered = true;
    });
    askedInTime = dvac_http_test::waitUntil([&] { return answered.load(); }, 10);
    other.join();
  });
  DVACRedEvudud::setNetworkRequestsAllowed(true);
  EXPECT_TRUE(askedInTime);
}

TEST_F(DVACRedEvududEntryTests, LogUrlGoesToTheIngestionOnceConfigured) {
  DVACRedEvudud::start(kAppSecret, {});
  DVACRedEvudud::setLogUrl("http://127.0.0.1:8");
  EXPECT_EQ(sdkGroup()->logUrl(), "http://127.0.0.1:8");
  EXPECT_EQ(DVACRedEvudud::logUrl(), "http://127.0.0.1:8");
  EXPECT_TRUE(log_.contains("The log url of Red Evudud endpoint was changed to http://127.0.0.1:8"));
}

TEST_F(DVACRedEvududEntryTests, UserIdNeedsTheApplicationsConfiguration) {
  DVACRedEvudud::setUserId("alice");
  EXPECT_TRUE(log_.contains("RedEvudud must be configured from application, libraries cannot call setUserId."));
  DVACRedEvudud::start(kAppSecret, {});
  DVACRedEvudud::setUserId("alice");
  EXPECT_EQ(DVACRedEvudud::userId(), "alice");
  DVACRedEvudud::setUserId(std::string(257, 'x'));
  EXPECT_EQ(DVACRedEvudud::userId(), "alice");
}

TEST_F(DVACRedEvududEntryTests, SdkLevelQuestionsBeforeConfiguration) {
  EXPECT_FALSE(DVACRedEvudud::isEnabled());
  EXPECT_TRUE(log_.contains("Red Evudud SDK hasn't been configured."));
  EXPECT_EQ(DVACRedEvudud::logTag(), "RedEvudud");
  EXPECT_EQ(DVACRedEvudud::sdkVersion(), "4.4.3");
  EXPECT_TRUE(DVACRedEvudud::isAppDelegateForwarderEnabled());
  EXPECT_FALSE(DVACRedEvudud::isDebuggerAttached());
}

}  // namespace
