#include <gtest/gtest.h>

#include <future>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClient.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpUtil.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACErrors.h"
#include "RedEvudud/RedEvudud/tests/DVACHttpTestSupport.h"

namespace {

using dvac_http_test::bodyOfSize;
using dvac_http_test::bytes;
using dvac_http_test::Completions;
using dvac_http_test::LogRecorder;
using dvac_http_test::Outcome;
using dvac_http_test::runMainUntil;
using dvac_http_test::startSink;
using dvac_http_test::urlOf;
using dvac_http_test::waitUntil;

// Short enough that a test never waits long, long enough to be measurable.
const std::vector<double> kShortIntervals = {0.02, 0.02, 0.02};

class RecordingHttpDelegate : public DVACHttpClientDelegate {
 public:
  void willSendHTTPRequestToURL(const ns::URL& url, const DVACHttpHeaders& headers) override {
    std::lock_guard lock(mutex);
    requests.emplace_back(url.absoluteString(), headers);
  }
  size_t count() {
    std::lock_guard lock(mutex);
    return requests.size();
  }
  std::mutex mutex;
  std::vector<std::pair<std::string, DVACHttpHeaders>> requests;
};

class DVACHttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { sink = startSink(); }
  void TearDown() override {
    net::ReachabilitySource::shared().reset();
    client.reset();
    dvac_http_test::drainMain();
  }

  // A client that ignores the machine's network state unless a test gives
  // it a reachability.
  std::shared_ptr<DVACHttpClient> makeClient(std::shared_ptr<DVAC_Reachability> reachability = nullptr,
                                             net::URLSessionConfiguration configuration = {}) {
    client = DVACHttpClient::initWithMaxHttpConnectionsPerHost(std::nullopt, std::move(reachability), configuration);
    return client;
  }

  ns::URL url(const std::string& path = "/upload") { return urlOf(sink->baseURL() + path); }

  void send(const std::optional<ns::Data>& body, Completions& completions, DVACHttpHeaders headers = {},
            const std::vector<double>& intervals = kShortIntervals, const std::string& path = "/upload") {
    client->sendAsync(url(path), "POST", headers, body, intervals, true, completions.handler());
  }

  std::unique_ptr<ingestion_sink::Sink> sink;
  std::shared_ptr<DVACHttpClient> client;
};

TEST_F(DVACHttpClientTest, RequestShapeOnTheWire) {
  makeClient();
  auto delegate = std::make_shared<RecordingHttpDelegate>();
  client->setDelegate(delegate);
  Completions completions;
  send(bodyOfSize(1399), completions, {{"Install-ID", "00000000-0000-0000-0000-000000000001"}});
  ASSERT_TRUE(completions.waitFor(1));
  send(bodyOfSize(1400), completions);
  ASSERT_TRUE(completions.waitFor(2));

  auto requests = sink->requests();
  ASSERT_EQ(requests.size(), 2u);
  const auto& plain = requests[0];
  EXPECT_EQ(plain.method, "POST");
  EXPECT_EQ(plain.path, "/upload");
  const ns::Data body1399 = bodyOfSize(1399);
  const ns::Data body1400 = bodyOfSize(1400);
  EXPECT_EQ(plain.body, std::string(body1399.begin(), body1399.end()));
  EXPECT_FALSE(plain.hasHeader("Content-Encoding"));
  EXPECT_EQ(plain.header("Content-Type"), "application/json");
  EXPECT_EQ(plain.header("Install-ID"), "00000000-0000-0000-0000-000000000001");
  for (const auto& request : requests) {
    EXPECT_FALSE(request.hasHeader("Cookie"));
    EXPECT_FALSE(request.hasHeader("Expect"));
  }

  const auto& gzipped = requests[1];
  EXPECT_EQ(gzipped.header("Content-Encoding"), "gzip");
  EXPECT_EQ(gzipped.header("Content-Type"), "application/json");
  EXPECT_LT(gzipped.body.size(), 1400u);
  ASSERT_TRUE(gzipped.inflatedBody) << gzipped.inflateError.value_or("");
  EXPECT_EQ(*gzipped.inflatedBody, std::string(body1400.begin(), body1400.end()));

  // The delegate hears of each request before it goes, with what is sent.
  ASSERT_EQ(delegate->count(), 2u);
  EXPECT_EQ(delegate->requests[0].first, sink->baseURL() + "/upload");
  EXPECT_EQ(delegate->requests[1].second.at("Content-Encoding"), "gzip");
}

TEST_F(DVACHttpClientTest, SuccessCompletesOnceWithTheResponse) {
  dvac_http_test::setScript(*sink, R"([{"status": 200, "body": "{\"ok\":true}",
                                         "headers": {"Content-Type": "application/json"}}, {"status": 204}])");
  makeClient();
  Completions completions;
  send(bytes("{}"), completions);
  send(bytes("{}"), completions);
  ASSERT_TRUE(completions.waitFor(2));
  std::set<int64_t> statuses = {completions.at(0).statusCode(), completions.at(1).statusCode()};
  EXPECT_EQ(statuses, (std::set<int64_t>{200, 204}));
  for (size_t i = 0; i < 2; ++i) EXPECT_FALSE(completions.at(i).error);
  EXPECT_TRUE(client->pendingCalls().empty());
  EXPECT_FALSE(client->isPaused());
  EXPECT_TRUE(client->isEnabled());
  EXPECT_EQ(sink->requestCount(), 2u);
}

class DVACHttpClientRecoverableTest : public DVACHttpClientTest, public ::testing::WithParamInterface<int> {};

TEST_P(DVACHttpClientRecoverableTest, RetriesAfterTheIntervalsThenPauses) {
  const int status = GetParam();
  dvac_http_test::setScript(*sink, R"({"responses": [], "default": {"status": )" + std::to_string(status) + "}}");
  LogRecorder log(DVACLogLevelWarning);
  makeClient();
  Completions completions;
  send(bytes("{\"batch\":1}"), completions);
  ASSERT_TRUE(completions.waitFor(1));

  // The first attempt and one per interval, then the answer of the last one.
  const auto requests = sink->requests();
  ASSERT_EQ(requests.size(), 4u);
  for (const auto& request : requests) EXPECT_EQ(request.body, "{\"batch\":1}");
  const Outcome outcome = completions.at(0);
  EXPECT_EQ(outcome.statusCode(), status);
  EXPECT_FALSE(outcome.error);
  EXPECT_TRUE(client->isPaused());
  EXPECT_TRUE(client->isEnabled());

  const auto warnings = log.messages(DVACLogLevelWarning);
  ASSERT_EQ(warnings.size(), 3u);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::string prefix = "Call attempt #" + std::to_string(attempt) +
                               " failed with status code: " + std::to_string(status) + ", it will be retried in ";
    ASSERT_EQ(warnings[attempt].rfind(prefix, 0), 0u) << warnings[attempt];
    const long delay = std::stol(warnings[attempt].substr(prefix.size()));
    EXPECT_GE(delay, 10);
    EXPECT_LT(delay, 20);
    // Each retry went out no earlier than its announced delay.
    EXPECT_GE(requests[attempt + 1].time - requests[attempt].time, delay / 1000.0 - 0.002);
  }

  // Paused: a new call waits in the set and goes out on resume.
  dvac_http_test::setScript(*sink, R"([{"status": 200}])");
  send(bytes("later"), completions);
  ASSERT_EQ(client->pendingCalls().size(), 1u);
  EXPECT_FALSE(client->pendingCalls()[0]->isInProgress());
  EXPECT_EQ(sink->requestCount(), 4u);
  client->resume();
  EXPECT_FALSE(client->isPaused());
  ASSERT_TRUE(completions.waitFor(2));
  EXPECT_EQ(completions.at(1).statusCode(), 200);
  EXPECT_EQ(sink->requests().back().body, "later");
}

INSTANTIATE_TEST_SUITE_P(Statuses, DVACHttpClientRecoverableTest, ::testing::Values(500, 503, 408, 429));

TEST_F(DVACHttpClientTest, ARetryThatSucceedsCompletesWithoutPausing) {
  dvac_http_test::setScript(*sink, R"([{"status": 500}, {"status": 503}, {"status": 201}])");
  makeClient();
  Completions completions;
  send(bytes("x"), completions);
  ASSERT_TRUE(completions.waitFor(1));
  EXPECT_EQ(completions.at(0).statusCode(), 201);
  EXPECT_EQ(sink->requestCount(), 3u);
  EXPECT_FALSE(client->isPaused());
  EXPECT_TRUE(client->pendingCalls().empty());
}

TEST_F(DVACHttpClientTest, TheServersRetryDelayWinsWithinItsBounds) {
  // Intervals of ten minutes: only the header can bring the retry this close.
  dvac_http_test::setScript(*sink, R"([{"status": 503, "headers": {"x-dv-retry-after-ms": "150"}}, {"status": 200}])");
  LogRecorder log(DVACLogLevelWarning);
  makeClient();
  Completions completions;
  send(bytes("x"), completions, {}, {600, 600});
  ASSERT_TRUE(completions.waitFor(1));
  EXPECT_EQ(completions.at(0).statusCode(), 200);
  EXPECT_EQ(log.messages(DVACLogLevelWarning),
            std::vector<std::string>{"Call attempt #0 failed with status code: 503, it will be retried in 150 ms."});
  const auto requests = sink->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_GE(requests[1].time - requests[0].time, 0.148);
}

TEST_F(DVACHttpClientTest, AnUnusableRetryHeaderFallsBackToTheJitteredDelay) {
  dvac_http_test::setScript(*sink, R"([
      {"status": 503, "headers": {"x-dv-retry-after-ms": "3600001"}},
      {"status": 503, "headers": {"x-dv-retry-after-ms": "-5"}},
      {"status": 503, "headers": {"x-dv-retry-after-ms": "soon"}},
      {"status": 200}])");
  LogRecorder log(DVACLogLevelWarning);
  makeClient();
  Completions completions;
  send(bytes("x"), completions, {}, kShortIntervals);
  ASSERT_TRUE(completions.waitFor(1));
  EXPECT_EQ(completions.at(0).statusCode(), 200);
  const auto warnings = log.messages(DVACLogLevelWarning);
  ASSERT_EQ(warnings.size(), 3u);
  for (const auto& warning : warnings) {
    const long delay = std::stol(warning.substr(warning.find("retried in ") + 11));
    EXPECT_GE(delay, 10) << warning;
    EXPECT_LT(delay, 20) << warning;
  }
}

TEST_F(DVACHttpClientTest, ANonRecoverableStatusDisablesTheClientAndFailsPendingCalls) {
  // The first call waits a minute for its retry; the second is refused.
  dvac_http_test::setScript(*sink, R"([{"status": 503, "headers": {"x-dv-retry-after-ms": "60000"}},
                                        {"status": 404, "body": "no such endpoint"}])");
  LogRecorder log(DVACLogLevelVerbose);
  makeClient();
  Completions waiting;
  Completions refused;
  send(bytes("first"), waiting, {}, {600});
  ASSERT_TRUE(waitUntil([&] {
    auto calls = client->pendingCalls();
    return calls.size() == 1 && calls[0]->hasPendingRetryTimer();
  }));
  send(bytes("second"), refused, {}, {600});
  ASSERT_TRUE(refused.waitFor(1));
  ASSERT_TRUE(waiting.waitFor(1));

  EXPECT_EQ(refused.at(0).statusCode(), 404);
  EXPECT_EQ(refused.at(0).body(), "no such endpoint");
  EXPECT_FALSE(refused.at(0).error);
  ASSERT_TRUE(waiting.at(0).error);
  EXPECT_EQ(waiting.at(0).error->domain, kDVACRedEvududErrorDomain);
  EXPECT_EQ(waiting.at(0).errorCode(), DVACCanceledErrorCode);
  EXPECT_EQ(waiting.at(0).error->localizedDescription(), "The operation was canceled.");
  EXPECT_FALSE(waiting.at(0).response);
  EXPECT_FALSE(client->isEnabled());
  EXPECT_TRUE(client->pendingCalls().empty());
  EXPECT_FALSE(client->session());

  // Every later send fails at once, before sendAsync returns.
  Completions later;
  send(bytes("third"), later);
  ASSERT_EQ(later.count(), 1u);
  ASSERT_EQ(later.at(0).errorCode(), DVACDisabledErrorCode);
  EXPECT_EQ(later.at(0).error->localizedDescription(), "The service is disabled.");
  EXPECT_EQ(later.at(0).thread, std::this_thread::get_id());

  // resume() on a disabled client does nothing.
  client->resume();
  EXPECT_TRUE(client->isPaused());

  // Enabled again, it sends with a new session.
  dvac_http_test::setScript(*sink, R"([{"status": 200}])");
  client->setEnabled(true, false);
  EXPECT_FALSE(client->isPaused());
  Completions again;
  send(bytes("fourth"), again);
  ASSERT_TRUE(again.waitFor(1));
  EXPECT_EQ(again.at(0).statusCode(), 200);
  EXPECT_EQ(sink->requestCount(), 3u);
}

// A 3xx the session could not follow fails the call once with its reason; the client stays on.
TEST_F(DVACHttpClientTest, RedirectsThatCannotBeFollowedFailTheCallAndKeepTheClientOn) {
  makeClient();
  for (const auto& [answer, reason] : std::vector<std::pair<std::string, std::string>>{
           {R"({"status": 302})", "302 to a POST without a usable Location header."},
           {R"({"status": 308})", "308 to a POST without a usable Location header."},
           {R"({"status": 300, "headers": {"Location": "/elsewhere"}})", "300 to a POST, a status never followed."},
           {R"({"status": 304})", "304 to a POST, a status never followed."}}) {
    // Then 200 for a retry, which would complete the call.
    dvac_http_test::setScript(*sink, "[" + answer + "]");
    Completions completions;
    send(bytes("upload"), completions);
    ASSERT_TRUE(completions.waitFor(1)) << answer;
    const Outcome outcome = completions.at(0);
    ASSERT_TRUE(outcome.error && !outcome.response) << answer;
    EXPECT_EQ(outcome.error->domain, ns::NSURLErrorDomain);
    EXPECT_EQ(outcome.errorCode(), ns::NSURLErrorBadServerResponse);
    EXPECT_EQ(outcome.error->localizedDescription(), "Redirect not followed: the server answered " + reason);
    EXPECT_TRUE(client->isEnabled() && !client->isPaused()) << answer;
  }
}

TEST_F(DVACHttpClientTest, AnAnswerAfterDisablingWithDeletionIsIgnored) {
  dvac_http_test::setScript(*sink, R"([{"status": 200, "delayMs": 10000}])");
  LogRecorder log(DVACLogLevelDebug);
  makeClient();
  Completions completions;
  send(bytes("slow"), completions);
  ASSERT_TRUE(sink->waitForRequests(1, dvac_http_test::kWait));
  client->setEnabled(false, true);
  ASSERT_EQ(completions.count(), 1u);
  EXPECT_EQ(completions.at(0).errorCode(), DVACCanceledErrorCode);
  ASSERT_TRUE(log.waitForCount("HTTP call was canceled; do not process further.", 1));
  EXPECT_EQ(completions.count(), 1u);
}

TEST_F(DVACHttpClientTest, HandlersNeverRunUnderTheClientsLock) {
  dvac_http_test::setScript(*sink, R"([{"status": 400}])");
  makeClient();
  // From inside each handler, another thread must be able to use the client.
  auto otherThreadCanUseClient = [this] {
    auto future = std::async(std::launch::async, [client = client] { return client->isEnabled(); });
    return future.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  };
  std::promise<bool> refusedHandler;
  client->sendAsync(url(), "POST", {}, bytes("x"), kShortIntervals, true,
                    [&](auto, auto, auto) { refusedHandler.set_value(otherThreadCanUseClient()); });
  std::promise<bool> pendingHandler;
  // Two calls: the first gets 400, the other is failed by the disabling.
  client->pause();
  client->sendAsync(url(), "POST", {}, bytes("y"), kShortIntervals, true,
                    [&](auto, auto, auto) { pendingHandler.set_value(otherThreadCanUseClient()); });
  client->resume();
  auto refusedFuture = refusedHandler.get_future();
  auto pendingFuture = pendingHandler.get_future();
  ASSERT_EQ(refusedFuture.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  ASSERT_EQ(pendingFuture.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_TRUE(refusedFuture.get());
  EXPECT_TRUE(pendingFuture.get());

  // The refused send on a disabled client: the handler runs on the caller's
  // thread, with the lock already released.
  std::promise<bool> disabledHandler;
  client->sendAsync(url(), "POST", {}, bytes("z"), kShortIntervals, true,
                    [&](auto, auto, auto) { disabledHandler.set_value(otherThreadCanUseClient()); });
  EXPECT_TRUE(disabledHandler.get_future().get());
}

TEST_F(DVACHttpClientTest, ARefusedConnectionCompletesWithTheError) {
  int closedPort = 0;
  {
    auto closed = startSink();
    closedPort = closed->port();
    closed->stop();
  }
  LogRecorder log(DVACLogLevelWarning);
  makeClient();
  auto sends = std::make_shared<RecordingHttpDelegate>();
  client->setDelegate(sends);
  Completions completions;
  client->sendAsync(urlOf("http://127.0.0.1:" + std::to_string(closedPort) + "/upload"), "POST", {}, bytes("x"),
                    kShortIntervals, true, completions.handler());
  ASSERT_TRUE(completions.waitFor(1));
  // Retried as status 0: the first attempt and one per interval, then a pause.
  EXPECT_EQ(sends->count(), 4u);
  EXPECT_EQ(log.count("failed with status code: 0, it will be retried in "), 3u);
  const Outcome outcome = completions.at(0);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->domain, ns::NSURLErrorDomain);
  EXPECT_EQ(outcome.error->code, ns::NSURLErrorCannotConnectToHost);
  EXPECT_FALSE(outcome.response);
  EXPECT_TRUE(log.contains("HTTP request error with code: -1004, domain: NSURLErrorDomain, description: "));
  EXPECT_TRUE(client->isEnabled());
  EXPECT_TRUE(client->isPaused());
  EXPECT_TRUE(client->pendingCalls().empty());
}

TEST_F(DVACHttpClientTest, NetworkDownPausesAndNetworkUpSendsWhatWaited) {
  LogRecorder log(DVACLogLevelInfo);
  makeClient(DVAC_Reachability::reachabilityForInternetConnection());
  // The notifier tells the client the present state right after it starts.
  ASSERT_TRUE(runMainUntil([&] { return log.contains("Internet connection is up."); }));
  EXPECT_FALSE(client->isPaused());

  net::ReachabilitySource::shared().setReachable(false);
  ASSERT_TRUE(runMainUntil([&] { return client->isPaused(); }));
  EXPECT_TRUE(log.contains("Internet connection is down."));
  EXPECT_TRUE(log.contains("Pause HTTP client."));

  Completions completions;
  send(bytes("while offline"), completions);
  ASSERT_EQ(client->pendingCalls().size(), 1u);
  EXPECT_FALSE(client->pendingCalls()[0]->isInProgress());

  net::ReachabilitySource::shared().setReachable(true);
  ASSERT_TRUE(runMainUntil([&] { return completions.count() == 1; }));
  EXPECT_EQ(completions.at(0).statusCode(), 200);
  EXPECT_TRUE(log.contains("Resume HTTP client."));
  ASSERT_EQ(sink->requestCount(), 1u);
  EXPECT_EQ(sink->requests()[0].body, "while offline");
}

TEST_F(DVACHttpClientTest, AZeroRequestTimeoutStillTimesOut) {
  dvac_http_test::setScript(*sink, R"({"responses": [], "default": {"status": 200, "delayMs": 5000}})");
  LogRecorder log(DVACLogLevelWarning);
  net::URLSessionConfiguration configuration;
  configuration.timeoutIntervalForRequest = 0.3;
  makeClient(nullptr, configuration);
  Completions completions;
  send(bytes("x"), completions);
  ASSERT_TRUE(completions.waitFor(1));
  ASSERT_TRUE(completions.at(0).error);
  EXPECT_EQ(completions.at(0).errorCode(), ns::NSURLErrorTimedOut);
  // Retried as status 0 too.
  EXPECT_EQ(sink->requestCount(), 4u);
  EXPECT_EQ(log.count("failed with status code: 0, it will be retried in "), 3u);
  EXPECT_TRUE(client->isPaused());
}

TEST_F(DVACHttpClientTest, ACallStillPendingWhenTheClientGoesIsCompleted) {
  makeClient();
  client->pause();
  Completions completions;
  client->sendAsync(url(), "POST", {}, bytes("x"), completions.handler());
  ASSERT_EQ(client->pendingCalls().size(), 1u);
  // The short form: default intervals, compression on.
  EXPECT_EQ(client->pendingCalls()[0]->retryIntervals(), (std::vector<double>{10, 300, 1200}));
  client.reset();
  ASSERT_EQ(completions.count(), 1u);
  EXPECT_EQ(completions.at(0).errorCode(), DVACCanceledErrorCode);
}

// ------------------------------------------------ schedules, on the virtual clock

// The default intervals (10, 300, 1200 s) and back-offs in virtual time; the
// sink answers in real time. Attempts are counted as the client makes them:
// libcurl itself may send a request again on a fresh connection when a
// reused one closes without an answer.
class DVACHttpClientScheduleTest : public DVACHttpClientTest {
 protected:
  void SetUp() override {
    DVACHttpClientTest::SetUp();
    makeClient(DVAC_Reachability::reachabilityForInternetConnection());
    client->setDelegate(sends);
    ASSERT_TRUE(settle([&] { return log.contains("Internet connection is up."); }));
  }
  void TearDown() override {
    DVACHttpClientTest::TearDown();
    dispatch::Scheduler::shared().runUntilIdle();
  }
  bool settle(const std::function<bool()>& condition) { return runMainUntil(condition); }
  void advance(double seconds) { dispatch::Scheduler::shared().advance(seconds); }
  void post(const std::string& body, Completions& completions) {
    client->sendAsync(url(), "POST", {}, bytes(body), DVACHttpClientDefaultRetryIntervals(), true,
                      completions.handler());
  }
  // The client has made this many attempts and has its answers.
  bool answered(size_t attempts) {
    return settle([&] {
      auto calls = client->pendingCalls();
      const bool quiet = std::none_of(calls.begin(), calls.end(), [](const auto& c) { return c->isInProgress(); });
      return sends->count() == attempts && quiet;
    });
  }
  // The announced back-offs, in seconds.
  std::vector<int> backOffs() const {
    std::vector<int> seconds;
    for (const auto& line : log.messages(DVACLogLevelInfo)) {
      if (line.starts_with("HTTP client resumes in ")) seconds.push_back(std::stoi(line.substr(23)));
    }
    return seconds;
  }

  dispatch::VirtualClockScope clock;
  LogRecorder log{DVACLogLevelInfo};
  std::shared_ptr<RecordingHttpDelegate> sends = std::make_shared<RecordingHttpDelegate>();
};

TEST_F(DVACHttpClientScheduleTest, CallsThatFindNoServerAreHeldWithARetryTimer) {
  // No secure connection (TLS to a plain port), and a connection closed
  // without an answer.
  dvac_http_test::setScript(*sink, R"({"responses": [], "default": {"drop": true}})");
  const std::vector<std::pair<std::string, std::string>> cases{
      {"https://127.0.0.1:" + std::to_string(sink->port()) + "/upload",
       "HTTP call failed with error: Could not establish secure connection."},
      {sink->baseURL() + "/upload", "HTTP call failed with error: Internet connection is down."}};
  for (const auto& [target, held] : cases) {
    SCOPED_TRACE(target);
    Completions completions;
    client->sendAsync(urlOf(target), "POST", {}, bytes("x"), DVACHttpClientDefaultRetryIntervals(), true,
                      completions.handler());
    ASSERT_TRUE(settle([&] { return log.count(held) == 1 && !client->pendingCalls().at(0)->isInProgress(); }));
    const auto call = client->pendingCalls().at(0);
    EXPECT_TRUE(call->isHeldForNetwork());
    EXPECT_TRUE(call->hasPendingRetryTimer());
    EXPECT_EQ(call->retryCount(), 1);
    EXPECT_EQ(completions.count(), 0u);
    EXPECT_FALSE(client->isPaused());
    client->setEnabled(false, true);
    ASSERT_EQ(completions.count(), 1u);
    EXPECT_EQ(completions.at(0).errorCode(), DVACCanceledErrorCode);
    client->setEnabled(true, false);
  }
}

TEST_F(DVACHttpClientScheduleTest, AHeldCallGoesOutOnItsScheduleAndWhenTheNetworkReturns) {
  dvac_http_test::setScript(*sink, R"({"responses": [], "default": {"drop": true}})");
  Completions completions;
  post("held", completions);
  ASSERT_TRUE(answered(1));
  advance(10);  // the first retry waits 5 to 10 s
  ASSERT_TRUE(answered(2));
  EXPECT_EQ(client->pendingCalls().at(0)->retryCount(), 2);

  // The second retry would wait minutes; a network-up notification without a pause sends it now.
  auto another = DVAC_Reachability::reachabilityForInternetConnection();
  another->startNotifier();
  ASSERT_TRUE(answered(3));
  EXPECT_EQ(client->pendingCalls().at(0)->retryCount(), 3);

  // The network going away and coming back sends it again too.
  net::ReachabilitySource::shared().setReachable(false);
  ASSERT_TRUE(settle([&] { return client->isPaused(); }));
  net::ReachabilitySource::shared().setReachable(true);
  ASSERT_TRUE(answered(4));
  EXPECT_FALSE(client->isPaused());
  dvac_http_test::setScript(*sink, R"([])");
  advance(10);
  ASSERT_TRUE(settle([&] { return completions.count() == 1; }));
  EXPECT_EQ(completions.at(0).statusCode(), 200);
  EXPECT_EQ(sends->count(), 5u);
  for (const auto& request : sink->requests()) EXPECT_EQ(request.body, "held");
}

TEST_F(DVACHttpClientScheduleTest, SpentRetriesPauseTheClientOnlyUntilItsBackOff) {
  // Four 503s spend a call's retries, and four dropped connections another's.
  dvac_http_test::setScript(*sink, R"({"responses": [], "default": {"status": 503}})");
  Completions burst;
  post("burst", burst);
  ASSERT_TRUE(answered(1));
  size_t requests = 1;
  for (int retry = 0; retry < 3; ++retry) {
    EXPECT_FALSE(client->isPaused());
    advance(dvac_http_test::announcedRetryDelay(log));
    ASSERT_TRUE(answered(++requests));
  }
  ASSERT_TRUE(settle([&] { return burst.count() == 1; }));
  EXPECT_EQ(burst.at(0).statusCode(), 503);
  EXPECT_TRUE(client->isPaused());
  ASSERT_EQ(backOffs().size(), 1u);
  EXPECT_GE(backOffs()[0], 150);
  EXPECT_LE(backOffs()[0], 300);

  // Paused, a new call waits; the back-off resumes the client.
  dvac_http_test::setScript(*sink, R"({"responses": [], "default": {"drop": true}})");
  Completions dropped;
  post("dropped", dropped);
  advance(100);
  EXPECT_EQ(sends->count(), 4u);
  advance(200);
  ASSERT_TRUE(answered(++requests));
  EXPECT_FALSE(client->isPaused());
  for (int retry = 0; retry < 3; ++retry) {
    advance(dvac_http_test::announcedRetryDelay(log));
    ASSERT_TRUE(answered(++requests));
  }
  // Held calls never complete on their own: the client pauses again, for
  // twice as long, and only while the network is up does the back-off end it.
  EXPECT_EQ(dropped.count(), 0u);
  EXPECT_TRUE(client->isPaused());
  ASSERT_EQ(backOffs().size(), 2u);
  EXPECT_GE(backOffs()[1], 300);
  EXPECT_LE(backOffs()[1], 600);
  net::ReachabilitySource::shared().setReachable(false);
  ASSERT_TRUE(settle([&] { return log.contains("Internet connection is down."); }));
  advance(600);
  EXPECT_TRUE(client->isPaused());
  EXPECT_EQ(sends->count(), 8u);
  dvac_http_test::setScript(*sink, R"([])");
  net::ReachabilitySource::shared().setReachable(true);
  ASSERT_TRUE(settle([&] { return dropped.count() == 1; }));
  EXPECT_EQ(dropped.at(0).statusCode(), 200);
  EXPECT_FALSE(client->isPaused());

  // That success started the back-off over: the next pause is as short as the first.
  dvac_http_test::setScript(*sink, R"({"responses": [], "default": {"status": 503}})");
  requests = sends->count();
  Completions again;
  post("again", again);
  for (int retry = 0; retry < 3; ++retry) {
    ASSERT_TRUE(answered(++requests));
    advance(dvac_http_test::announcedRetryDelay(log));
  }
  ASSERT_TRUE(settle([&] { return again.count() == 1 && client->isPaused(); }));
  ASSERT_EQ(backOffs().size(), 3u);
  EXPECT_TRUE(backOffs()[2] >= 150 && backOffs()[2] <= 300) << backOffs()[2];
}

}  // namespace
