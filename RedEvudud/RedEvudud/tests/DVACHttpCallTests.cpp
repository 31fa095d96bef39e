#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACCompression.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpCall.h"
#include "RedEvudud/RedEvudud/tests/DVACHttpTestSupport.h"

namespace {

using dvac_http_test::bodyOfSize;
using dvac_http_test::LogRecorder;

const ns::URL kURL = *ns::URL::URLWithString("http://127.0.0.1:9/logs");

std::shared_ptr<DVACHttpCall> makeCall(std::optional<ns::Data> data, DVACHttpHeaders headers = {},
                                       bool compression = true, std::vector<double> intervals = {10, 300, 1200}) {
  return DVACHttpCall::initWithUrl(kURL, "POST", headers, data, intervals, compression, [](auto, auto, auto) {});
}

std::string text(const std::optional<ns::Data>& data) { return data ? std::string(data->begin(), data->end()) : ""; }

// The delay the warning line announced for the last retry.
std::optional<long> announcedDelay(const LogRecorder& log) {
  auto warnings = log.messages(DVACLogLevelWarning);
  if (warnings.empty()) return std::nullopt;
  const std::string& line = warnings.back();
  const auto at = line.find("retried in ");
  if (at == std::string::npos) return std::nullopt;
  return std::stol(line.substr(at + 11));
}

TEST(DVACHttpCallTest, CompressesFrom1400BytesOn) {
  auto plain = makeCall(bodyOfSize(1399));
  EXPECT_EQ(plain->data(), bodyOfSize(1399));
  EXPECT_FALSE(plain->headers().contains("Content-Encoding"));

  auto gzipped = makeCall(bodyOfSize(1400));
  EXPECT_EQ(gzipped->headers().at("Content-Encoding"), "gzip");
  ASSERT_TRUE(gzipped->data());
  EXPECT_LT(gzipped->data()->size(), 1400u);
  EXPECT_EQ(ingestion_sink::gunzip(text(gzipped->data())), text(bodyOfSize(1400)));

  auto uncompressed = makeCall(bodyOfSize(5000), {}, false);
  EXPECT_EQ(uncompressed->data(), bodyOfSize(5000));
  EXPECT_FALSE(uncompressed->headers().contains("Content-Encoding"));
}

TEST(DVACHttpCallTest, AFailedCompressionSendsTheBodyAsItIs) {
  LogRecorder log(DVACLogLevelError);
  DVACCompression::setFailsForTesting(true);
  auto call = makeCall(bodyOfSize(3000));
  DVACCompression::setFailsForTesting(false);
  EXPECT_EQ(call->data(), bodyOfSize(3000));
  EXPECT_FALSE(call->headers().contains("Content-Encoding"));
  EXPECT_EQ(call->headers().at("Content-Type"), "application/json");
  EXPECT_TRUE(log.contains("Compression failed with error:"));
}

TEST(DVACHttpCallTest, ContentTypeIsAddedOnlyToABodyWithoutOne) {
  EXPECT_EQ(makeCall(dvac_http_test::bytes("{}"))->headers().at("Content-Type"), "application/json");
  // An empty body is still a body; it is never compressed.
  auto empty = makeCall(ns::Data{});
  EXPECT_EQ(empty->headers().at("Content-Type"), "application/json");
  EXPECT_FALSE(empty->headers().contains("Content-Encoding"));
  EXPECT_EQ(empty->data(), ns::Data{});

  EXPECT_FALSE(makeCall(std::nullopt)->headers().contains("Content-Type"));

  auto own = makeCall(dvac_http_test::bytes("a"), {{"Content-Type", "text/plain"}, {"X-Other", "1"}});
  EXPECT_EQ(own->headers(), (DVACHttpHeaders{{"Content-Type", "text/plain"}, {"X-Other", "1"}}));
  auto lowerCase = makeCall(dvac_http_test::bytes("a"), {{"content-type", "text/csv"}});
  EXPECT_EQ(lowerCase->headers(), (DVACHttpHeaders{{"content-type", "text/csv"}}));
}

TEST(DVACHttpCallTest, JitteredDelaysLieBetweenHalfAndTheWholeInterval) {
  auto call = makeCall(std::nullopt);
  for (int i = 0; i < 200; ++i) {
    const uint32_t first = call->delayForRetryCount(0);
    EXPECT_GE(first, 5000u);
    EXPECT_LT(first, 10000u);
    const uint32_t second = call->delayForRetryCount(1);
    EXPECT_GE(second, 150000u);
    EXPECT_LT(second, 300000u);
    const uint32_t third = call->delayForRetryCount(2);
    EXPECT_GE(third, 600000u);
    EXPECT_LT(third, 1200000u);
  }
  EXPECT_EQ(call->delayForRetryCount(3), 0u);
  EXPECT_EQ(call->delayForRetryCount(-1), 0u);

  auto odd = makeCall(std::nullopt, {}, true, {-5, std::nan(""), 0.001, 1e12});
  EXPECT_EQ(odd->delayForRetryCount(0), 0u);
  EXPECT_EQ(odd->delayForRetryCount(1), 0u);
  EXPECT_EQ(odd->delayForRetryCount(2), 0u);  // half a millisecond truncates to nothing
  EXPECT_GE(odd->delayForRetryCount(3), UINT32_MAX / 2);
}

TEST(DVACHttpCallTest, TheServersDelayIsUsedOnlyFromZeroToOneHour) {
  LogRecorder log(DVACLogLevelWarning);
  auto call = makeCall(std::nullopt, {}, true, std::vector<double>(10, 10.0));
  auto start = [&](std::optional<double> retryAfter) {
    call->startRetryTimerWithStatusCode(503, retryAfter, [] {});
    return announcedDelay(log).value_or(-1);
  };
  EXPECT_EQ(start(2500), 2500);
  EXPECT_EQ(start(3600000), 3600000);
  EXPECT_EQ(start(0), 0);
  for (double outOfBounds : {3600000.5, 3600001.0, -1.0, std::nan(""), HUGE_VAL, 1e12}) {
    const long delay = start(outOfBounds);
    EXPECT_GE(delay, 5000) << outOfBounds;
    EXPECT_LT(delay, 10000) << outOfBounds;
  }
  EXPECT_EQ(log.messages(DVACLogLevelWarning).front(),
            "Call attempt #0 failed with status code: 503, it will be retried in 2500 ms.");
  EXPECT_EQ(call->retryCount(), 9);
  // The last delay is seconds long: its timer is still armed.
  EXPECT_TRUE(call->hasPendingRetryTimer());
  call->resetRetry();
  EXPECT_EQ(call->retryCount(), 0);
  EXPECT_FALSE(call->hasPendingRetryTimer());
}

TEST(DVACHttpCallTest, RetriesAreCountedUpToTheNumberOfIntervals) {
  LogRecorder log(DVACLogLevelWarning);
  auto fired = std::make_shared<std::atomic<int>>(0);
  auto call = makeCall(std::nullopt, {}, true, {0.002, 0.002});
  EXPECT_FALSE(call->hasReachedMaxRetries());
  call->startRetryTimerWithStatusCode(500, std::nullopt, [fired] { ++*fired; });
  ASSERT_TRUE(dvac_http_test::waitUntil([&] { return fired->load() == 1; }));
  EXPECT_FALSE(call->hasPendingRetryTimer());
  EXPECT_FALSE(call->hasReachedMaxRetries());
  call->startRetryTimerWithStatusCode(500, std::nullopt, [fired] { ++*fired; });
  ASSERT_TRUE(dvac_http_test::waitUntil([&] { return fired->load() == 2; }));
  EXPECT_TRUE(call->hasReachedMaxRetries());
  EXPECT_EQ(log.messages(DVACLogLevelWarning),
            (std::vector<std::string>{"Call attempt #0 failed with status code: 500, it will be retried in 1 ms.",
                                      "Call attempt #1 failed with status code: 500, it will be retried in 1 ms."}));
}

TEST(DVACHttpCallTest, AStoppedOrReplacedTimerNeverFires) {
  auto stopped = std::make_shared<std::atomic<int>>(0);
  auto replaced = std::make_shared<std::atomic<int>>(0);
  auto last = std::make_shared<std::atomic<int>>(0);
  auto call = makeCall(std::nullopt);
  call->startRetryTimerWithStatusCode(500, 20, [stopped] { ++*stopped; });
  call->resetRetry();
  call->startRetryTimerWithStatusCode(500, 30, [replaced] { ++*replaced; });
  // Replacing it cancels the earlier timer; only the latest one fires.
  call->startRetryTimerWithStatusCode(500, 60, [last] { ++*last; });
  ASSERT_TRUE(dvac_http_test::waitUntil([&] { return last->load() == 1; }));
  EXPECT_EQ(stopped->load(), 0);
  EXPECT_EQ(replaced->load(), 0);
}

TEST(DVACHttpCallTest, TheHandlerIsHandedOutOnce) {
  auto calls = std::make_shared<int>(0);
  auto call = DVACHttpCall::initWithUrl(kURL, "POST", {}, std::nullopt, {}, true,
                                        [calls](auto, auto, auto) { ++*calls; });
  auto handler = call->takeCompletionHandler();
  ASSERT_TRUE(handler);
  EXPECT_FALSE(call->takeCompletionHandler());
  handler(std::nullopt, nullptr, std::nullopt);
  EXPECT_EQ(*calls, 1);
  EXPECT_TRUE(call->hasReachedMaxRetries());  // no intervals, no retries
}

}  // namespace
