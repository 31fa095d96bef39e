#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClient.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRedEvududIngestion.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACErrors.h"
#include "RedEvudud/RedEvudud/tests/DVACHttpTestSupport.h"
#include "platform/foundation/TestSupport.h"

namespace {

using dvac_http_test::Completions;
using dvac_http_test::containerOf;
using dvac_http_test::LogRecorder;
using dvac_http_test::startSink;

const std::string kInstallId = "5A6B7C8D-0000-4E1F-8A2B-3C4D5E6F7A8B";
// 36 characters, like a real app secret.
const std::string kSecret = "1f2e3d4c-5b6a-4978-8695-a4b3c2d1e0f9";

class DVACRedEvududIngestionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sink = startSink();
    client = DVACHttpClient::initWithMaxHttpConnectionsPerHost(std::nullopt, nullptr);
    ingestion = DVACRedEvududIngestion::initWithHttpClient(client, sink->baseURL(), kInstallId);
  }
  void TearDown() override {
    ingestion.reset();
    client.reset();
    unsetenv(kDVACIngestionURLEnvironmentVariable);
    DVACIngestionDefaults::resetForTesting();
  }

  ns::test::ScopedStandardDefaults defaults;
  std::unique_ptr<ingestion_sink::Sink> sink;
  std::shared_ptr<DVACHttpClient> client;
  std::shared_ptr<DVACRedEvududIngestion> ingestion;
};

TEST_F(DVACRedEvududIngestionTest, OnePostPerBatchWithTheSecretInItsHeaderOnly) {
  ingestion->setAppSecret(kSecret);
  Completions completions;
  auto container = containerOf("batch-42", 3);
  ingestion->sendAsync(container, completions.sendHandler());
  ASSERT_TRUE(completions.waitFor(1));

  const auto outcome = completions.at(0);
  EXPECT_EQ(outcome.callId, "batch-42");
  EXPECT_EQ(outcome.statusCode(), 200);
  EXPECT_FALSE(outcome.error);

  const auto requests = sink->requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/logs?api-version=1.0.0");
  EXPECT_EQ(request.path.find(kSecret), std::string::npos);
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_EQ(request.header("Install-ID"), kInstallId);
  EXPECT_EQ(request.header("App-Secret"), kSecret);
  EXPECT_FALSE(request.hasHeader("Content-Encoding"));
  EXPECT_EQ(request.body, *container->serializeLog());
  const auto body = nlohmann::json::parse(request.body);
  ASSERT_EQ(body.size(), 1u);
  ASSERT_EQ(body["logs"].size(), 3u);
  EXPECT_EQ(body["logs"][0]["type"], "event");
  EXPECT_EQ(request.body.find("\\/"), std::string::npos);
}

TEST_F(DVACRedEvududIngestionTest, LargeBatchesAreGzipped) {
  ingestion->setAppSecret(kSecret);
  Completions completions;
  auto container = containerOf("big", 50, std::string(100, 'p'));
  ASSERT_GE(container->serializeLog()->size(), 1400u);
  ingestion->sendAsync(container, completions.sendHandler());
  ASSERT_TRUE(completions.waitFor(1));
  const auto request = sink->requests().at(0);
  EXPECT_EQ(request.header("Content-Encoding"), "gzip");
  ASSERT_TRUE(request.inflatedBody);
  EXPECT_EQ(*request.inflatedBody, *container->serializeLog());
}

TEST_F(DVACRedEvududIngestionTest, TheSecretIsMaskedInEveryLogLine) {
  LogRecorder log(DVACLogLevelVerbose);
  // A server that echoes the secret must not get it into the log either.
  dvac_http_test::setScript(*sink, R"([{"status": 200, "body": "{\"echo\":\")" + kSecret +
                                       R"(\"}", "headers": {"Content-Type": "application/json"}}])");
  ingestion->setAppSecret(kSecret);
  Completions completions;
  ingestion->sendAsync(containerOf("b", 1), completions.sendHandler());
  ASSERT_TRUE(completions.waitFor(1));

  const std::string masked = std::string(28, '*') + kSecret.substr(28);
  EXPECT_TRUE(log.contains("URL: " + sink->baseURL() + "/logs?api-version=1.0.0"));
  const auto verbose = log.messages(DVACLogLevelVerbose);
  auto headersLine = std::find_if(verbose.begin(), verbose.end(),
                                  [](const std::string& line) { return line.rfind("Headers: ", 0) == 0; });
  ASSERT_NE(headersLine, verbose.end());
  EXPECT_EQ(*headersLine, "Headers: App-Secret = " + masked +
                              ", Content-Type = application/json, Install-ID = " + kInstallId);
  EXPECT_TRUE(log.contains("HTTP response received with status code: 200"));
  for (const auto& line : log.lines()) EXPECT_EQ(line.message.find(kSecret), std::string::npos) << line.message;
}

TEST_F(DVACRedEvududIngestionTest, InvalidContainersAreRefusedUnderTheirBatchId) {
  LogRecorder log(DVACLogLevelError);
  ingestion->setAppSecret(kSecret);
  Completions completions;
  ingestion->sendAsync(std::make_shared<DVACLogContainer>("empty", std::vector<std::shared_ptr<DVACLog>>{}),
                       completions.sendHandler());
  auto mixed = containerOf("mixed", 1);
  auto invalid = dvac_http_test::validLog();
  invalid->setTimestamp(std::nullopt);
  mixed->logs.push_back(invalid);
  ingestion->sendAsync(mixed, completions.sendHandler());
  ingestion->sendAsync(nullptr, completions.sendHandler());

  ASSERT_EQ(completions.count(), 3u);
  EXPECT_EQ(completions.at(0).callId, "empty");
  EXPECT_EQ(completions.at(1).callId, "mixed");
  EXPECT_FALSE(completions.at(2).callId);
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(completions.at(i).error);
    EXPECT_EQ(completions.at(i).error->domain, kDVACRedEvududErrorDomain);
    EXPECT_EQ(completions.at(i).errorCode(), 1);
    EXPECT_EQ(completions.at(i).error->localizedDescription(), "Invalid log container.");
  }
  EXPECT_EQ(log.messages(DVACLogLevelError), std::vector<std::string>(3, "Invalid log container."));
  EXPECT_EQ(sink->requestCount(), 0u);
}

TEST_F(DVACRedEvududIngestionTest, ABatchThatCannotBeWrittenFailsWithoutASend) {
  LogRecorder log(DVACLogLevelError);
  ingestion->setAppSecret(kSecret);
  auto container = containerOf("unwritable", 2);
  container->logs.push_back(std::make_shared<dvac_test::UnwritableLog>());
  ASSERT_TRUE(container->isValid());

  Completions completions;
  ingestion->sendAsync(container, completions.sendHandler());
  ASSERT_TRUE(completions.waitFor(1));
  EXPECT_EQ(completions.at(0).callId, "unwritable");
  EXPECT_FALSE(completions.at(0).response);
  EXPECT_EQ(completions.at(0).errorCode(), DVACLogInvalidContainerErrorCode);
  EXPECT_EQ(sink->requestCount(), 0u);
  EXPECT_TRUE(log.contains("Couldn't serialize log container to json: "));
  EXPECT_TRUE(
      log.contains("DVACRedEvududIngestion did not send batch unwritable: its logs could not be written as "
                   "JSON; they stay stored."));
}

TEST_F(DVACRedEvududIngestionTest, WithoutASecretASendFailsAtOnce) {
  LogRecorder log(DVACLogLevelError);
  EXPECT_FALSE(ingestion->isReadyToSend());
  Completions completions;
  ingestion->sendAsync(containerOf("b1", 1), completions.sendHandler());
  ASSERT_EQ(completions.count(), 1u);
  EXPECT_EQ(completions.at(0).callId, "b1");
  EXPECT_FALSE(completions.at(0).response);
  EXPECT_EQ(completions.at(0).errorCode(), DVACDisabledErrorCode);
  EXPECT_TRUE(log.contains("RedEvudud ingestion is used without app secret."));
  ingestion->setAppSecret("");
  EXPECT_FALSE(ingestion->isReadyToSend());

  // The same instance sends as soon as it has one.
  ingestion->setAppSecret(kSecret);
  EXPECT_TRUE(ingestion->isReadyToSend());
  ingestion->sendAsync(containerOf("b2", 1), completions.sendHandler());
  ASSERT_TRUE(completions.waitFor(2));
  EXPECT_EQ(completions.at(1).statusCode(), 200);
  ASSERT_EQ(sink->requestCount(), 1u);
  EXPECT_EQ(sink->requests()[0].header("App-Secret"), kSecret);
}

TEST_F(DVACRedEvududIngestionTest, AFatalStatusReachesTheHandlerAndDisablesTheClient) {
  dvac_http_test::setScript(*sink, R"([{"status": 401}])");
  ingestion->setAppSecret(kSecret);
  Completions completions;
  ingestion->sendAsync(containerOf("b", 1), completions.sendHandler());
  ASSERT_TRUE(completions.waitFor(1));
  EXPECT_EQ(completions.at(0).statusCode(), 401);
  EXPECT_EQ(completions.at(0).callId, "b");
  EXPECT_FALSE(client->isEnabled());

  ingestion->sendAsync(containerOf("after", 1), completions.sendHandler());
  ASSERT_EQ(completions.count(), 2u);
  EXPECT_EQ(completions.at(1).callId, "after");
  EXPECT_EQ(completions.at(1).errorCode(), DVACDisabledErrorCode);
}

TEST_F(DVACRedEvududIngestionTest, TheDefaultEndpointComesFromTheEnvironmentOrTheBuild) {
  setenv(kDVACIngestionURLEnvironmentVariable, (sink->baseURL() + "/").c_str(), 1);
  DVACIngestionDefaults::resetForTesting();
  EXPECT_EQ(DVACIngestionDefaults::defaultLogUrl(), sink->baseURL());
  // Read once: a later change of the environment needs a new start.
  setenv(kDVACIngestionURLEnvironmentVariable, "http://127.0.0.1:1", 1);
  EXPECT_EQ(DVACIngestionDefaults::defaultLogUrl(), sink->baseURL());

  auto defaultIngestion = DVACRedEvududIngestion::initWithHttpClient(client, std::nullopt, kInstallId);
  defaultIngestion->setAppSecret(kSecret);
  Completions completions;
  defaultIngestion->sendAsync(containerOf("b", 1), completions.sendHandler());
  ASSERT_TRUE(completions.waitFor(1));
  EXPECT_EQ(completions.at(0).statusCode(), 200);
  EXPECT_EQ(sink->requestCount(), 1u);

  LogRecorder log(DVACLogLevelWarning);
  setenv(kDVACIngestionURLEnvironmentVariable, "ftp://elsewhere", 1);
  DVACIngestionDefaults::resetForTesting();
  EXPECT_EQ(DVACIngestionDefaults::defaultLogUrl(), DVACIngestionDefaults::buildDefaultLogUrl());
  EXPECT_TRUE(log.contains("MORVALENT_INGESTION_URL is not an http(s) URL"));
  unsetenv(kDVACIngestionURLEnvironmentVariable);
  DVACIngestionDefaults::resetForTesting();
  EXPECT_EQ(DVACIngestionDefaults::defaultLogUrl(), DVACIngestionDefaults::buildDefaultLogUrl());
  EXPECT_TRUE(ns::URL::URLWithString(DVACIngestionDefaults::buildDefaultLogUrl()));
}

}  // namespace
