#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/net/URLSession.h"
#include "tools/ingestion-sink/IngestionSink.h"
#include "tools/ingestion-sink/tests/SinkTestSupport.h"

namespace {

using ingestion_sink::Script;
using ingestion_sink::ScriptedResponse;
using sinktest::gzip;

constexpr double kWait = 20.0;  // generous bound for anything that should happen promptly

struct Outcome {
  std::optional<ns::Data> data;
  std::shared_ptr<const net::HTTPURLResponse> response;
  std::optional<ns::Error> error;
  bool onDelegateQueue = false;
};

// Collects the completions of tasks, from whatever thread they arrive on.
class Recorder {
 public:
  net::DataTaskCompletionHandler handler(std::shared_ptr<dispatch::Queue> queue) {
    return [this, queue](std::optional<ns::Data> data, std::shared_ptr<const net::HTTPURLResponse> response,
                         std::optional<ns::Error> error) {
      std::lock_guard lock(mutex_);
      outcomes_.push_back({std::move(data), std::move(response), std::move(error), queue->isCurrent()});
      count_.fetch_add(1);
    };
  }
  bool waitFor(std::size_t n) {
    return dispatch::Scheduler::shared().runMainUntil([&] { return count_.load() >= n; }, kWait);
  }
  std::size_t count() const { return count_.load(); }
  Outcome at(std::size_t i) {
    std::lock_guard lock(mutex_);
    return outcomes_.at(i);
  }

 private:
  std::mutex mutex_;
  std::vector<Outcome> outcomes_;
  std::atomic<std::size_t> count_{0};
};

ns::URL url(const std::string& text) {
  auto u = ns::URL::URLWithString(text);
  EXPECT_TRUE(u.has_value()) << text;
  return *u;
}

ns::Data bytes(std::string_view s) { return ns::Data(s.begin(), s.end()); }

std::string text(const std::optional<ns::Data>& d) { return d ? std::string(d->begin(), d->end()) : std::string(); }

ScriptedResponse answer(int status, ingestion_sink::HeaderList headers = {}, std::string body = {},
                        std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
  ScriptedResponse r;
  r.status = status;
  r.headers = std::move(headers);
  r.body = std::move(body);
  r.delay = delay;
  return r;
}

// Accepts one connection on 127.0.0.1, reads the request head, writes
// `reply` (possibly nothing) and closes: for answers no real server gives.
class OneShotServer {
 public:
  explicit OneShotServer(std::string reply) : reply_(std::move(reply)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd_, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      std::string head;
      char buffer[1024];
      while (head.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        head.append(buffer, static_cast<std::size_t>(n));
      }
      if (!reply_.empty()) (void)!::write(client, reply_.data(), reply_.size());
      ::close(client);
    });
  }
  ~OneShotServer() {
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/logs"; }

 private:
  std::string reply_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

class URLSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sink_ = sinktest::startSink();
    ASSERT_TRUE(sink_->isRunning());
    queue_ = dispatch::Queue::makeSerial("test.net.delegate");
    session_ =
        net::URLSession::sessionWithConfiguration(net::URLSessionConfiguration::defaultSessionConfiguration(), queue_);
  }
  void TearDown() override {
    if (session_) session_->invalidateAndCancel();
    session_.reset();
    // Completions still queued refer to the recorder, which dies with the fixture.
    drainDelegateQueue();
    sink_->stop();
  }

  std::string base() const { return sink_->baseURL(); }

  std::shared_ptr<net::URLSessionDataTask> start(const net::URLRequest& request) {
    auto task = session_->dataTaskWithRequest(request, recorder_.handler(queue_));
    task->resume();
    return task;
  }

  Outcome perform(const net::URLRequest& request) {
    const std::size_t before = recorder_.count();
    start(request);
    EXPECT_TRUE(recorder_.waitFor(before + 1));
    return recorder_.at(before);
  }

  // Everything already queued on the delegate queue has run once this returns.
  void drainDelegateQueue() {
    std::atomic<bool> done{false};
    queue_->async([&] { done = true; });
    ASSERT_TRUE(dispatch::Scheduler::shared().runMainUntil([&] { return done.load(); }, kWait));
  }

  std::unique_ptr<ingestion_sink::Sink> sink_;
  std::shared_ptr<dispatch::Queue> queue_;
  std::shared_ptr<net::URLSession> session_;
  Recorder recorder_;
};

// ------------------------------------------------------------ request shape

TEST_F(URLSessionTest, RequestReachesTheServerAsBuilt) {
  net::URLRequest request(url(base() + "/logs?api-version=1.0.0"),
                          net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, 0);
  request.setHTTPMethod("POST");
  request.setValue("application/json", "Content-Type");
  request.setValue("F3B1C0DE-0000-4000-8000-000000000001", "Install-ID");
  request.setValue("secret-value", "App-Secret");
  request.setHTTPShouldHandleCookies(false);
  request.setHTTPBody(bytes(R"({"logs":[]})"));

  Outcome outcome = perform(request);
  ASSERT_FALSE(outcome.error) << outcome.error->description();
  ASSERT_EQ(sink_->requestCount(), 1u);
  auto seen = sink_->requests().front();
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.path, "/logs?api-version=1.0.0");
  EXPECT_EQ(seen.header("content-type"), "application/json");
  EXPECT_EQ(seen.header("Install-ID"), "F3B1C0DE-0000-4000-8000-000000000001");
  EXPECT_EQ(seen.header("App-Secret"), "secret-value");
  EXPECT_EQ(seen.header("Content-Length"), "11");
  EXPECT_EQ(seen.body, R"({"logs":[]})");
  EXPECT_FALSE(seen.hasHeader("Cookie"));
  EXPECT_FALSE(seen.hasHeader("Expect"));
}

TEST_F(URLSessionTest, LargeBodyIsSentWholeWithoutExpectContinue) {
  std::string big(2u << 20, 'x');
  for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>('a' + (i / 4096) % 26);
  net::URLRequest request(url(base() + "/big"));
  request.setHTTPMethod("PUT");
  request.setValue("application/octet-stream", "Content-Type");
  request.setHTTPBody(bytes(big));

  Outcome outcome = perform(request);
  ASSERT_FALSE(outcome.error) << outcome.error->description();
  auto seen = sink_->requests().front();
  EXPECT_EQ(seen.method, "PUT");
  EXPECT_FALSE(seen.hasHeader("Expect"));
  EXPECT_EQ(seen.header("Content-Type"), "application/octet-stream");
  EXPECT_TRUE(seen.body == big);
}

TEST_F(URLSessionTest, BodyWithoutContentTypeGetsNoneAndReservedFieldsAreIgnored) {
  net::URLRequest request(url(base() + "/plain"));
  request.setHTTPMethod("post");
  request.setValue("999", "Content-Length");
  request.setValue("100-continue", "Expect");
  request.setHTTPBody(bytes("abc"));

  Outcome outcome = perform(request);
  ASSERT_FALSE(outcome.error) << outcome.error->description();
  auto seen = sink_->requests().front();
  EXPECT_EQ(seen.method, "POST");
  EXPECT_FALSE(seen.hasHeader("Content-Type"));
  EXPECT_FALSE(seen.hasHeader("Expect"));
  EXPECT_EQ(seen.header("Content-Length"), "3");
  EXPECT_EQ(seen.body, "abc");
}

TEST_F(URLSessionTest, GzipBodyArrivesAsSentAndTheSinkInflatesIt) {
  const std::string json = R"({"logs":[{"type":"event","name":"launch"}]})";
  const std::string packed = gzip(json);
  net::URLRequest request(url(base() + "/logs"));
  request.setHTTPMethod("POST");
  request.setValue("application/json", "Content-Type");
  request.setValue("gzip", "Content-Encoding");
  request.setHTTPBody(bytes(packed));

  Outcome outcome = perform(request);
  ASSERT_FALSE(outcome.error) << outcome.error->description();
  auto seen = sink_->requests().front();
  EXPECT_EQ(seen.header("Content-Encoding"), "gzip");
  EXPECT_TRUE(seen.body == packed);
  ASSERT_TRUE(seen.inflatedBody.has_value()) << seen.inflateError.value_or("");
  EXPECT_EQ(*seen.inflatedBody, json);
}

TEST_F(URLSessionTest, AdditionalHeadersFillInWithoutOverriding) {
  net::URLSessionConfiguration config;
  config.HTTPAdditionalHeaders.set("X-Session", "s");
  config.HTTPAdditionalHeaders.set("X-Both", "session");
  session_ = net::URLSession::sessionWithConfiguration(config, queue_);
  net::URLRequest request(url(base() + "/h"));
  request.setValue("request", "x-both");

  Outcome outcome = perform(request);
  ASSERT_FALSE(outcome.error);
  auto seen = sink_->requests().front();
  EXPECT_EQ(seen.method, "GET");
  EXPECT_EQ(seen.header("X-Session"), "s");
  EXPECT_EQ(seen.header("X-Both"), "request");
}

// ------------------------------------------------------------------ answers

TEST_F(URLSessionTest, SuccessAndServerErrorBothCompleteWithStatusAndHeaders) {
  Script script;
  script.responses.push_back(
      answer(202, {{"ETag", "\"v1\""}, {"Content-Type", "application/json"}}, R"({"accepted":true})"));
  script.responses.push_back(answer(500, {{"x-dv-retry-after-ms", "2500"}}, "busy"));
  sink_->setScript(script);

  net::URLRequest request(url(base() + "/logs"));
  request.setHTTPMethod("POST");
  request.setHTTPBody(bytes("{}"));

  Outcome ok = perform(request);
  ASSERT_FALSE(ok.error) << ok.error->description();
  ASSERT_TRUE(ok.response);
  EXPECT_EQ(ok.response->statusCode(), 202);
  EXPECT_EQ(ok.response->valueForHTTPHeaderField("etag"), "\"v1\"");
  EXPECT_EQ(ok.response->MIMEType(), "application/json");
  EXPECT_EQ(text(ok.data), R"({"accepted":true})");
  EXPECT_EQ(ok.response->url(), request.url());
  EXPECT_TRUE(ok.onDelegateQueue);

  Outcome failed = perform(request);
  ASSERT_FALSE(failed.error) << "an HTTP status is not a transport error";
  ASSERT_TRUE(failed.response);
  EXPECT_EQ(failed.response->statusCode(), 500);
  EXPECT_EQ(failed.response->valueForHTTPHeaderField("X-DV-Retry-After-Ms"), "2500");
  EXPECT_EQ(text(failed.data), "busy");
}

TEST_F(URLSessionTest, RedirectIsFollowedAndTheResponseNamesTheFinalURL) {
  Script script;
  script.responses.push_back(answer(302, {{"Location", "/final?x=1"}}));
  script.fallback = answer(200, {}, "here");
  sink_->setScript(script);

  Outcome outcome = perform(net::URLRequest(url(base() + "/start")));
  ASSERT_FALSE(outcome.error);
  EXPECT_EQ(outcome.response->statusCode(), 200);
  EXPECT_EQ(outcome.response->url().absoluteString(), base() + "/final?x=1");
  EXPECT_EQ(text(outcome.data), "here");
  ASSERT_EQ(sink_->requestCount(), 2u);
  EXPECT_EQ(sink_->requests()[1].path, "/final?x=1");
}

TEST(URLSessionRedirect, EachHopKeepsOrDropsMethodBodyAndFields) {
  net::URLRequest post(url("https://ingest.example/logs"));
  post.setHTTPMethod("POST");
  post.setHTTPBody(bytes("{}"));
  post.setValue("application/json", "Content-Type");
  post.setValue("gzip", "Content-Encoding");
  post.setValue("secret", "App-Secret");
  post.setValue("install", "Install-ID");
  struct Case {
    int64_t status;
    std::string location;
    int64_t errorCode;  // 0: followed, or not a redirect when `method` is empty
    std::string method;
    bool body;
    std::vector<std::string> fields;
  };
  const std::vector<std::string> all{"Content-Type", "Content-Encoding", "App-Secret", "Install-ID"};
  const std::vector<Case> cases{
      {307, "https://ingest.example/v2", 0, "POST", true, all},
      {308, "https://ingest.example:443/v2", 0, "POST", true, all},
      {307, "https://other.example/v2", 0, "POST", true, {"Content-Type", "Content-Encoding"}},
      {307, "https://ingest.example:8443/v2", 0, "POST", true, {"Content-Type", "Content-Encoding"}},
      {302, "https://ingest.example/v2", ns::NSURLErrorBadServerResponse, "", false, {}},
      {303, "https://other.example/", ns::NSURLErrorBadServerResponse, "", false, {}},
      {301, "https://other.example/", ns::NSURLErrorBadServerResponse, "", false, {}},
      {307, "http://ingest.example/v2", ns::NSURLErrorAppTransportSecurityRequiresSecureConnection, "", false, {}},
      {308, "ftp://ingest.example/v2", ns::NSURLErrorUnsupportedURL, "", false, {}},
      {200, "https://ingest.example/v2", 0, "", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.location);
    const auto outcome = net::redirectedRequest(post, post, c.status, url(c.location));
    EXPECT_EQ(outcome.errorCode, c.errorCode);
    ASSERT_EQ(outcome.request.has_value(), !c.method.empty());
    if (!outcome.request) continue;
    EXPECT_EQ(outcome.request->url().absoluteString(), c.location);
    EXPECT_EQ(outcome.request->HTTPMethod(), c.method);
    EXPECT_EQ(outcome.request->HTTPBody().has_value(), c.body);
    std::vector<std::string> names;
    for (const auto& [name, value] : outcome.request->allHTTPHeaderFields()) names.push_back(name);
    EXPECT_EQ(names, c.fields);
  }

  // GET and HEAD go on as themselves after any redirect, other methods only
  // after 307 and 308; without a body, no field describes one.
  for (const std::string method : {"GET", "HEAD", "PUT"}) {
    net::URLRequest request(url("https://ingest.example/logs"));
    request.setHTTPMethod(method);
    request.setValue("application/json", "Content-Type");
    for (const int64_t code : {301, 302, 303, 307, 308}) {
      SCOPED_TRACE(method + " " + std::to_string(code));
      const auto outcome = net::redirectedRequest(request, request, code, url("https://ingest.example/v2"));
      ASSERT_EQ(outcome.request.has_value(), method != "PUT" || code >= 307);
      if (!outcome.request) continue;
      EXPECT_EQ(outcome.request->HTTPMethod(), method);
      EXPECT_TRUE(outcome.request->allHTTPHeaderFields().empty());
    }
  }

  // Plain http may move up to https; a hop back to the original origin gets
  // the caller's fields again.
  net::URLRequest plain(url("http://ingest.example/logs"));
  plain.setValue("secret", "App-Secret");
  auto up = net::redirectedRequest(plain, plain, 301, url("https://elsewhere.example/logs"));
  ASSERT_TRUE(up.request);
  EXPECT_FALSE(up.request->valueForHTTPHeaderField("App-Secret"));
  auto back = net::redirectedRequest(plain, *up.request, 307, url("http://ingest.example/logs"));
  ASSERT_FALSE(back.request) << "https to http";
  auto home = net::redirectedRequest(plain, plain, 307, url("http://ingest.example/v2"));
  ASSERT_TRUE(home.request);
  EXPECT_EQ(home.request->valueForHTTPHeaderField("App-Secret"), "secret");
}

TEST_F(URLSessionTest, ACrossOriginRedirectCarriesNoCallerFieldsAndLoopsEnd) {
  auto other = sinktest::startSink();
  Script script;
  script.responses.push_back(answer(307, {{"Location", base() + "/same"}}));
  script.responses.push_back(answer(307, {{"Location", other->baseURL() + "/elsewhere"}}));
  sink_->setScript(script);

  net::URLRequest request(url(base() + "/logs"));
  request.setHTTPMethod("POST");
  request.setHTTPBody(bytes("{\"logs\":[]}"));
  request.setValue("application/json", "Content-Type");
  request.setValue("secret-value", "App-Secret");
  request.setValue("install-value", "Install-ID");
  Outcome outcome = perform(request);
  ASSERT_FALSE(outcome.error) << outcome.error->description();
  EXPECT_EQ(outcome.response->statusCode(), 200);
  EXPECT_EQ(outcome.response->url().absoluteString(), other->baseURL() + "/elsewhere");

  const auto home = sink_->requests();
  ASSERT_EQ(home.size(), 2u);
  for (const auto& hop : home) {
    EXPECT_EQ(hop.header("App-Secret"), "secret-value") << hop.path;
    EXPECT_EQ(hop.header("Install-ID"), "install-value") << hop.path;
  }
  const auto away = other->requests();
  ASSERT_EQ(away.size(), 1u);
  EXPECT_EQ(away[0].method, "POST");
  EXPECT_EQ(away[0].body, "{\"logs\":[]}");
  EXPECT_EQ(away[0].header("Content-Type"), "application/json");
  EXPECT_FALSE(away[0].hasHeader("App-Secret"));
  EXPECT_FALSE(away[0].hasHeader("Install-ID"));

  // A server that redirects to itself for ever ends the task after 16 hops.
  Script loop;
  loop.fallback = answer(302, {{"Location", "/again"}});
  sink_->setScript(loop);
  Outcome looped = perform(net::URLRequest(url(base() + "/again")));
  ASSERT_TRUE(looped.error);
  EXPECT_EQ(looped.error->code, ns::NSURLErrorHTTPTooManyRedirects);
  EXPECT_EQ(sink_->requestCount(), 2u + 17u);
  // The session's idle connection to the other sink would hold up its stop.
  session_->invalidateAndCancel();
  session_.reset();
}

// ------------------------------------------------------------------ failures

TEST_F(URLSessionTest, RefusedConnectionIsCannotConnectToHost) {
  // A bound socket that never listens refuses every connection, and holding
  // it keeps the port from going to anyone else meanwhile.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int port = ntohs(address.sin_port);

  Outcome outcome = perform(net::URLRequest(url("http://127.0.0.1:" + std::to_string(port) + "/logs")));
  ::close(fd);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->domain, ns::NSURLErrorDomain);
  EXPECT_EQ(outcome.error->code, ns::NSURLErrorCannotConnectToHost);
  EXPECT_FALSE(outcome.data);
  EXPECT_FALSE(outcome.response);
  auto failing = outcome.error->userInfo.find(ns::NSURLErrorFailingURLStringErrorKey);
  ASSERT_NE(failing, outcome.error->userInfo.end());
  EXPECT_EQ(failing->second.asString(), "http://127.0.0.1:" + std::to_string(port) + "/logs");
}

TEST_F(URLSessionTest, TLSToAPlainHTTPServerIsSecureConnectionFailed) {
  const std::string https = "https://127.0.0.1:" + std::to_string(sink_->port()) + "/logs";
  Outcome outcome = perform(net::URLRequest(url(https)));
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->domain, ns::NSURLErrorDomain);
  EXPECT_EQ(outcome.error->code, ns::NSURLErrorSecureConnectionFailed) << outcome.error->description();
  // The range the telemetry client treats as "no secure connection".
  EXPECT_LE(outcome.error->code, -1200);
  EXPECT_GE(outcome.error->code, -2000);
}

TEST_F(URLSessionTest, ConnectionClosedWithoutAnswerIsNetworkConnectionLost) {
  OneShotServer server("");
  Outcome outcome = perform(net::URLRequest(url(server.url())));
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, ns::NSURLErrorNetworkConnectionLost);
}

TEST_F(URLSessionTest, AnswerWithoutStatusLineIsBadServerResponse) {
  OneShotServer server("this is not HTTP\r\n\r\n");
  Outcome outcome = perform(net::URLRequest(url(server.url())));
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, ns::NSURLErrorBadServerResponse) << outcome.error->description();
}

TEST_F(URLSessionTest, AnswerSlowerThanTheTimeoutIsTimedOut) {
  Script script;
  script.fallback = answer(200, {}, "late", std::chrono::milliseconds(30'000));
  sink_->setScript(script);
  net::URLRequest request(url(base() + "/slow"));
  request.setTimeoutInterval(0.3);

  Outcome outcome = perform(request);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, ns::NSURLErrorTimedOut);
  EXPECT_EQ(sink_->requestCount(), 1u);
}

TEST_F(URLSessionTest, ZeroTimeoutMeansTheSessionDefaultNotForever) {
  net::URLSessionConfiguration config;
  config.timeoutIntervalForRequest = 0.3;
  session_ = net::URLSession::sessionWithConfiguration(config, queue_);
  Script script;
  script.fallback = answer(200, {}, "late", std::chrono::milliseconds(30'000));
  sink_->setScript(script);
  net::URLRequest request(url(base() + "/slow"), net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, 0);

  Outcome outcome = perform(request);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, ns::NSURLErrorTimedOut);
}

TEST_F(URLSessionTest, ABodyPastTheTasksMaximumFailsAsItArrives) {
  constexpr int64_t kMaximum = int64_t{1} << 20;
  Script script;
  script.fallback = answer(200, {}, std::string(4 * kMaximum, 'x'));
  sink_->setScript(script);
  const net::URLRequest request(url(base() + "/big"));
  auto capped = session_->dataTaskWithRequest(request, recorder_.handler(queue_));
  capped->setMaximumResponseBytes(kMaximum);
  capped->resume();
  ASSERT_TRUE(recorder_.waitFor(1));
  ASSERT_TRUE(recorder_.at(0).error);
  EXPECT_EQ(recorder_.at(0).error->code, ns::NSURLErrorDataLengthExceedsMaximum);
  EXPECT_FALSE(recorder_.at(0).data);
  // It stopped at the piece that went past the maximum (libcurl hands at most 16 KiB at a time).
  EXPECT_GT(capped->countOfBytesReceived(), kMaximum);
  EXPECT_LE(capped->countOfBytesReceived(), kMaximum + 16 * 1024);

  // Without a maximum of its own a task takes it all.
  auto whole = session_->dataTaskWithRequest(request, recorder_.handler(queue_));
  whole->resume();
  ASSERT_TRUE(recorder_.waitFor(2));
  EXPECT_EQ(text(recorder_.at(1).data).size(), 4 * kMaximum);
  EXPECT_EQ(whole->countOfBytesReceived(), 4 * kMaximum);
}

TEST_F(URLSessionTest, UnsupportedSchemeAndBadHeaderFailWithoutSending) {
  Outcome ftp = perform(net::URLRequest(url("ftp://127.0.0.1/file")));
  ASSERT_TRUE(ftp.error);
  EXPECT_EQ(ftp.error->code, ns::NSURLErrorUnsupportedURL);

  net::URLRequest injected(url(base() + "/x"));
  injected.setValue("a\r\nX-Injected: 1", "X-Value");
  Outcome bad = perform(injected);
  ASSERT_TRUE(bad.error);
  EXPECT_EQ(bad.error->domain, ns::NSURLErrorDomain);
  EXPECT_EQ(sink_->requestCount(), 0u);
}

// ---------------------------------------------------------------- cancelling

TEST_F(URLSessionTest, CancelInFlightCompletesOnceWithCancelled) {
  Script script;
  script.fallback = answer(200, {}, "late", std::chrono::milliseconds(30'000));
  sink_->setScript(script);

  auto task = start(net::URLRequest(url(base() + "/slow")));
  ASSERT_TRUE(sink_->waitForRequests(1, kWait));
  EXPECT_EQ(task->state(), net::URLSessionTaskState::Running);
  task->cancel();
  task->cancel();
  ASSERT_TRUE(recorder_.waitFor(1));
  drainDelegateQueue();
  EXPECT_EQ(recorder_.count(), 1u);
  Outcome outcome = recorder_.at(0);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, ns::NSURLErrorCancelled);
  EXPECT_EQ(task->state(), net::URLSessionTaskState::Completed);
  EXPECT_EQ(task->error()->code, ns::NSURLErrorCancelled);
}

TEST_F(URLSessionTest, CancelBeforeResumeCompletesAndResumeThenDoesNothing) {
  auto task = session_->dataTaskWithRequest(net::URLRequest(url(base() + "/never")), recorder_.handler(queue_));
  EXPECT_EQ(task->state(), net::URLSessionTaskState::Suspended);
  task->cancel();
  task->resume();
  ASSERT_TRUE(recorder_.waitFor(1));
  drainDelegateQueue();
  EXPECT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.at(0).error->code, ns::NSURLErrorCancelled);
  EXPECT_EQ(sink_->requestCount(), 0u);
}

TEST_F(URLSessionTest, CancelAfterCompletionChangesNothing) {
  Outcome outcome = perform(net::URLRequest(url(base() + "/quick")));
  ASSERT_FALSE(outcome.error);
  // The task is complete; a late cancel must not produce a second completion.
  auto task = start(net::URLRequest(url(base() + "/quick")));
  ASSERT_TRUE(recorder_.waitFor(2));
  task->cancel();
  drainDelegateQueue();
  EXPECT_EQ(recorder_.count(), 2u);
  EXPECT_FALSE(recorder_.at(1).error);
}

// --------------------------------------------------------------- invalidation

TEST_F(URLSessionTest, InvalidateAndCancelCancelsOutstandingTasks) {
  Script script;
  script.fallback = answer(200, {}, "late", std::chrono::milliseconds(30'000));
  sink_->setScript(script);
  auto running = start(net::URLRequest(url(base() + "/slow")));
  auto suspended = session_->dataTaskWithRequest(net::URLRequest(url(base() + "/later")), recorder_.handler(queue_));
  ASSERT_TRUE(sink_->waitForRequests(1, kWait));
  EXPECT_EQ(session_->outstandingTaskCount(), 2u);

  session_->invalidateAndCancel();
  ASSERT_TRUE(recorder_.waitFor(2));
  EXPECT_EQ(recorder_.at(0).error->code, ns::NSURLErrorCancelled);
  EXPECT_EQ(recorder_.at(1).error->code, ns::NSURLErrorCancelled);
  EXPECT_EQ(session_->outstandingTaskCount(), 0u);
  EXPECT_TRUE(session_->isInvalidated());

  // Nothing new starts on an invalidated session.
  auto late = start(net::URLRequest(url(base() + "/after")));
  ASSERT_TRUE(recorder_.waitFor(3));
  EXPECT_EQ(recorder_.at(2).error->code, ns::NSURLErrorCancelled);
  drainDelegateQueue();
  EXPECT_EQ(recorder_.count(), 3u);
  EXPECT_EQ(sink_->requestCount(), 1u);
}

TEST_F(URLSessionTest, FinishTasksAndInvalidateLetsRunningTasksFinish) {
  Script script;
  script.fallback = answer(201, {}, "done", std::chrono::milliseconds(200));
  sink_->setScript(script);
  start(net::URLRequest(url(base() + "/a")));
  ASSERT_TRUE(sink_->waitForRequests(1, kWait));
  session_->finishTasksAndInvalidate();
  ASSERT_TRUE(recorder_.waitFor(1));
  Outcome outcome = recorder_.at(0);
  ASSERT_FALSE(outcome.error) << outcome.error->description();
  EXPECT_EQ(outcome.response->statusCode(), 201);
}

TEST_F(URLSessionTest, DroppingTheSessionStillCompletesTasksInFlight) {
  Script script;
  script.fallback = answer(200, {}, "done", std::chrono::milliseconds(200));
  sink_->setScript(script);
  start(net::URLRequest(url(base() + "/a")));
  ASSERT_TRUE(sink_->waitForRequests(1, kWait));
  session_.reset();
  ASSERT_TRUE(recorder_.waitFor(1));
  EXPECT_FALSE(recorder_.at(0).error);
  EXPECT_EQ(text(recorder_.at(0).data), "done");
}

TEST_F(URLSessionTest, CompletionsArriveOnTheMainQueueUnderTheVirtualClock) {
  dispatch::VirtualClockScope clock;
  auto session = net::URLSession::sessionWithConfiguration({}, dispatch::Queue::main());
  std::atomic<int> calls{0};
  bool onMain = false;
  auto task = session->dataTaskWithRequest(
      net::URLRequest(url(base() + "/v")),
      [&](std::optional<ns::Data>, std::shared_ptr<const net::HTTPURLResponse> r, std::optional<ns::Error> e) {
        onMain = dispatch::isMainThread();
        EXPECT_FALSE(e);
        EXPECT_EQ(r->statusCode(), 200);
        calls.fetch_add(1);
      });
  task->resume();
  ASSERT_TRUE(dispatch::Scheduler::shared().runMainUntil([&] { return calls.load() == 1; }, kWait));
  EXPECT_TRUE(onMain);
}

}  // namespace
