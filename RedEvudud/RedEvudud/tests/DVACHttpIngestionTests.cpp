#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACHttpIngestion.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACErrors.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/tests/DVACHttpTestSupport.h"
#include "platform/foundation/TestSupport.h"

namespace {

using dvac_http_test::bytes;
using dvac_http_test::Completions;
using dvac_http_test::LogRecorder;

// Records what the ingestion hands over and answers with what the test says.
class FakeHttpClient : public DVACHttpClientProtocol {
 public:
  struct Request {
    ns::URL url;
    std::string method;
    DVACHttpHeaders headers;
    std::optional<ns::Data> data;
    std::vector<double> retryIntervals;
    bool compressionEnabled;
  };

  void sendAsync(const ns::URL& url, const std::string& method, const DVACHttpHeaders& headers,
                 const std::optional<ns::Data>& data, DVACHttpRequestCompletionHandler handler) override {
    sendAsync(url, method, headers, data, DVACHttpClientDefaultRetryIntervals(), true, std::move(handler));
  }
  void sendAsync(const ns::URL& url, const std::string& method, const DVACHttpHeaders& headers,
                 const std::optional<ns::Data>& data, const std::vector<double>& retryIntervals,
                 bool compressionEnabled, DVACHttpRequestCompletionHandler handler) override {
    requests.push_back({url, method, headers, data, retryIntervals, compressionEnabled});
    if (answer) answer(handler);
  }
  void pause() override {}
  void resume() override {}
  void setEnabled(bool) override {}
  std::shared_ptr<DVACHttpClientDelegate> delegate() const override { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<DVACHttpClientDelegate>& delegate) override { delegate_ = delegate; }

  std::vector<Request> requests;
  std::function<void(const DVACHttpRequestCompletionHandler&)> answer;

 private:
  std::weak_ptr<DVACHttpClientDelegate> delegate_;
};

// The smallest endpoint: fixed headers, the container's JSON as body.
class TestIngestion : public DVACHttpIngestion {
 public:
  static std::shared_ptr<TestIngestion> make(std::shared_ptr<DVACHttpClientProtocol> client, std::string baseUrl,
                                             DVACQueryStrings query = {{"api-version", "1.0.0"}}) {
    auto ingestion = std::shared_ptr<TestIngestion>(new TestIngestion(std::move(client), std::move(baseUrl), query));
    ingestion->attachToHttpClient();
    return ingestion;
  }
  std::string className() const override { return "TestIngestion"; }
  DVACHttpHeaders getHeadersWithData(const std::shared_ptr<DVACLogContainer>&,
                                     const std::optional<std::string>& eTag) override {
    auto headers = httpHeaders();
    if (eTag) headers["If-None-Match"] = *eTag;
    return headers;
  }
  std::optional<ns::Data> getPayloadWithData(const std::shared_ptr<DVACLogContainer>& data) override {
    auto json = data ? data->serializeLog() : std::nullopt;
    if (!json) return std::nullopt;
    return bytes(*json);
  }
  std::optional<std::string> obfuscateResponsePayload(const std::optional<std::string>& payload) override {
    if (!payload) return payload;
    return "masked(" + *payload + ")";
  }

 private:
  TestIngestion(std::shared_ptr<DVACHttpClientProtocol> client, std::string baseUrl, DVACQueryStrings query)
      : DVACHttpIngestion(std::move(client), std::move(baseUrl), "/logs", {{"X-Fixed", "1"}}, std::move(query)) {}
};

std::shared_ptr<net::HTTPURLResponse> response(int status, net::HTTPHeaderFields headers = {}) {
  return std::make_shared<net::HTTPURLResponse>(*ns::URL::URLWithString("https://in.example/logs"), status,
                                                "HTTP/1.1", std::move(headers));
}

class DVACHttpIngestionTest : public ::testing::Test {
 protected:
  void TearDown() override { DVACHttpIngestion::setNetworkRequestsAllowedProvider(nullptr); }
  ns::test::ScopedStandardDefaults defaults;
  std::shared_ptr<FakeHttpClient> client = std::make_shared<FakeHttpClient>();
};

TEST_F(DVACHttpIngestionTest, BuildsTheSendURL) {
  auto url = [](const std::string& base, const DVACQueryStrings& query) {
    auto built = DVACHttpIngestion::buildURLWithBaseURL(base, "/logs", query);
    return built ? built->absoluteString() : std::string("(null)");
  };
  EXPECT_EQ(url("https://in.example", {}), "https://in.example/logs");
  EXPECT_EQ(url("https://in.example", {{"api-version", "1.0.0"}}), "https://in.example/logs?api-version=1.0.0");
  EXPECT_EQ(url("https://in.example", {{"a", "1"}, {"b", "x y"}}), "https://in.example/logs?a=1&b=x%20y");
  EXPECT_EQ(url("https://in.example", {{"q", "50%"}}), "https://in.example/logs?q=50%25");
  EXPECT_EQ(url("not a url", {}), "(null)");
}

TEST_F(DVACHttpIngestionTest, MakesItselfTheClientsDelegateAndKeepsItsSettings) {
  auto ingestion = TestIngestion::make(client, "https://in.example");
  EXPECT_EQ(client->delegate(), ingestion);
  EXPECT_EQ(ingestion->sendURL()->absoluteString(), "https://in.example/logs?api-version=1.0.0");
  EXPECT_EQ(ingestion->callsRetryIntervals(), (std::vector<double>{10, 300, 1200}));
  EXPECT_EQ(ingestion->maxNumberOfConnections(), 4);
  EXPECT_EQ(ingestion->getHttpMethod(), "POST");
  EXPECT_TRUE(ingestion->isReadyToSend());
  EXPECT_TRUE(ingestion->isEnabled());
}

TEST_F(DVACHttpIngestionTest, RetargetingKeepsTheQueryAndThePath) {
  LogRecorder log(DVACLogLevelInfo);
  auto ingestion = TestIngestion::make(client, "https://in.example");
  ingestion->setBaseURL("http://127.0.0.1:8080/prefix");
  EXPECT_EQ(ingestion->sendURL()->absoluteString(), "http://127.0.0.1:8080/prefix/logs?api-version=1.0.0");
  EXPECT_EQ(ingestion->baseURL(), "http://127.0.0.1:8080/prefix");

  ingestion->setBaseURL("https://user:pw@other.example:9443");
  EXPECT_EQ(ingestion->sendURL()->absoluteString(), "https://user:pw@other.example:9443/logs?api-version=1.0.0");

  ingestion->setBaseURL("not a url");
  EXPECT_EQ(ingestion->baseURL(), "not a url");
  EXPECT_EQ(ingestion->sendURL()->absoluteString(), "https://user:pw@other.example:9443/logs?api-version=1.0.0");
  EXPECT_EQ(log.messages(DVACLogLevelInfo),
            std::vector<std::string>{
                "Failed to update HTTP URL https://user:pw@other.example:9443/logs?api-version=1.0.0 with not a url"});
}

TEST_F(DVACHttpIngestionTest, AnInvalidFirstBaseURLCanBeReplacedAndFailsSendsMeanwhile) {
  auto ingestion = TestIngestion::make(client, "no url at all");
  EXPECT_FALSE(ingestion->sendURL());
  Completions completions;
  ingestion->sendAsync(dvac_http_test::containerOf("b", 1), completions.sendHandler());
  ASSERT_EQ(completions.count(), 1u);
  ASSERT_TRUE(completions.at(0).error);
  EXPECT_EQ(completions.at(0).error->domain, ns::NSURLErrorDomain);
  EXPECT_EQ(completions.at(0).errorCode(), ns::NSURLErrorBadURL);
  EXPECT_TRUE(client->requests.empty());

  ingestion->setBaseURL("https://in.example");
  ASSERT_TRUE(ingestion->sendURL());
  EXPECT_EQ(ingestion->sendURL()->absoluteString(), "https://in.example/logs?api-version=1.0.0");
}

TEST_F(DVACHttpIngestionTest, SendsThroughTheClientAndReportsUnderTheCallId) {
  auto ingestion = TestIngestion::make(client, "https://in.example");
  client->answer = [](const DVACHttpRequestCompletionHandler& handler) {
    handler(bytes("{}"), response(200), std::nullopt);
  };
  Completions completions;
  auto container = dvac_http_test::containerOf("batch-1", 2);
  ingestion->sendAsync(container, std::optional<std::string>("etag-1"), completions.sendHandler());

  ASSERT_EQ(client->requests.size(), 1u);
  const auto& request = client->requests[0];
  EXPECT_EQ(request.url.absoluteString(), "https://in.example/logs?api-version=1.0.0");
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.headers, (DVACHttpHeaders{{"If-None-Match", "etag-1"}, {"X-Fixed", "1"}}));
  EXPECT_EQ(request.data, bytes(*container->serializeLog()));
  EXPECT_EQ(request.retryIntervals, (std::vector<double>{10, 300, 1200}));
  EXPECT_TRUE(request.compressionEnabled);

  ASSERT_EQ(completions.count(), 1u);
  const auto outcome = completions.at(0);
  ASSERT_TRUE(outcome.callId);
  EXPECT_TRUE(ns::UUID::fromString(*outcome.callId)) << *outcome.callId;
  EXPECT_EQ(outcome.statusCode(), 200);
  EXPECT_EQ(outcome.body(), "{}");

  ingestion->sendAsync(container, completions.sendHandler());
  ASSERT_EQ(completions.count(), 2u);
  EXPECT_NE(completions.at(1).callId, outcome.callId);
  ingestion->sendAsync(container, std::nullopt, "my-call", completions.sendHandler());
  EXPECT_EQ(completions.at(2).callId, "my-call");
}

TEST_F(DVACHttpIngestionTest, DisabledOrForbiddenSendsFailAtOnce) {
  LogRecorder log(DVACLogLevelWarning);
  auto ingestion = TestIngestion::make(client, "https://in.example");
  Completions completions;

  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(false), kDVACNetworkRequestsAllowedKey);
  EXPECT_FALSE(ingestion->isEnabled());
  ingestion->sendAsync(dvac_http_test::containerOf("b", 1), std::nullopt, "c1", completions.sendHandler());
  DVACRedEvududUserDefaults::shared()->removeObjectForKey(kDVACNetworkRequestsAllowedKey);
  EXPECT_TRUE(ingestion->isEnabled());

  ingestion->setEnabled(false, true);
  ingestion->sendAsync(dvac_http_test::containerOf("b", 1), std::nullopt, "c2", completions.sendHandler());
  ingestion->setEnabled(true, false);

  DVACHttpIngestion::setNetworkRequestsAllowedProvider([] { return false; });
  ingestion->sendAsync(dvac_http_test::containerOf("b", 1), std::nullopt, "c3", completions.sendHandler());

  EXPECT_TRUE(client->requests.empty());
  ASSERT_EQ(completions.count(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const auto outcome = completions.at(i);
    EXPECT_EQ(outcome.callId, "c" + std::to_string(i + 1));
    EXPECT_FALSE(outcome.response);
    EXPECT_FALSE(outcome.data);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, "com.Diruriduv.RedEvudud.ErrorDomain");
    EXPECT_EQ(outcome.error->code, 3);
    EXPECT_EQ(outcome.error->localizedDescription(), "The service is disabled.");
  }
  EXPECT_EQ(log.messages(DVACLogLevelWarning), std::vector<std::string>(3, "TestIngestion is disabled."));
}

TEST_F(DVACHttpIngestionTest, LogsResponsesByContentTypeOnlyAtVerbose) {
  auto ingestion = TestIngestion::make(client, "https://in.example");
  const ns::Data json = bytes("{\"b\":1,\"a\":\"x/y\"}");
  {
    LogRecorder log(DVACLogLevelDebug);
    ingestion->printResponse(response(200, {{"Content-Type", "application/json"}}), json, std::nullopt);
    EXPECT_TRUE(log.lines().empty());
    ingestion->printResponse(nullptr, std::nullopt, ns::Error(ns::NSURLErrorDomain, -1004));
    EXPECT_EQ(log.messages(DVACLogLevelDebug),
              std::vector<std::string>{"HTTP request error with code: -1004, domain: NSURLErrorDomain, description: "
                                       "The operation couldn’t be completed. (NSURLErrorDomain error -1004.)"});
  }
  LogRecorder log(DVACLogLevelVerbose);
  ingestion->printResponse(response(200, {{"Content-Type", "application/json; charset=utf-8"}}), json, std::nullopt);
  ingestion->printResponse(response(200, {{"Content-Type", "image/png"}}), bytes("\x89PNG"), std::nullopt);
  ingestion->printResponse(response(201), bytes("plain words"), std::nullopt);
  ingestion->printResponse(response(204), std::nullopt, std::nullopt);
  const auto lines = log.messages(DVACLogLevelVerbose);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "HTTP response received with status code: 200, payload:\nmasked(" +
                          *DVACUtility::prettyPrintJson(json) + ")");
  EXPECT_NE(lines[0].find("\n  "), std::string::npos);
  EXPECT_EQ(lines[1], "HTTP response received with status code: 200, payload:\n<binary>");
  EXPECT_EQ(lines[2], "HTTP response received with status code: 201, payload:\nmasked(plain words)");
  EXPECT_EQ(lines[3], "HTTP response received with status code: 204, payload:\n(null)");
}

TEST_F(DVACHttpIngestionTest, FindsTheETagWhateverItsCase) {
  EXPECT_EQ(DVACHttpIngestion::eTagFromResponse(response(200, {{"ETAG", "\"v1\""}})), "\"v1\"");
  EXPECT_EQ(DVACHttpIngestion::eTagFromResponse(response(200, {{"etag", "w"}})), "w");
  EXPECT_FALSE(DVACHttpIngestion::eTagFromResponse(response(200, {{"X-ETag-Other", "w"}})));
  EXPECT_FALSE(DVACHttpIngestion::eTagFromResponse(nullptr));
}

}  // namespace
