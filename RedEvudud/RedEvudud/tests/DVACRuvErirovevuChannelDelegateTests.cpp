// Twin units, Common Schema conversion, epochs and sequence numbers, name
// validation, and the Ruv Erirovevu request's headers and body.

#include <gtest/gtest.h>

#include <thread>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupDefault.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRuvErirovevuChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACTicketCache.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/tests/DVACChannelTestSupport.h"
#include "RedEvudud/RedEvudud/tests/DVACHttpTestSupport.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/TestSupport.h"

using namespace dvac_channel_test;

namespace {

// Records requests; never answers.
class RecordingHttpClient : public DVACHttpClientProtocol {
 public:
  struct Request {
    ns::URL url;
    DVACHttpHeaders headers;
    std::string body;
  };
  void sendAsync(const ns::URL& url, const std::string& method, const DVACHttpHeaders& headers,
                 const std::optional<ns::Data>& data, DVACHttpRequestCompletionHandler handler) override {
    sendAsync(url, method, headers, data, {}, true, std::move(handler));
  }
  void sendAsync(const ns::URL& url, const std::string&, const DVACHttpHeaders& headers,
                 const std::optional<ns::Data>& data, const std::vector<double>&, bool,
                 DVACHttpRequestCompletionHandler) override {
    std::lock_guard lock(mutex_);
    requests.push_back({url, headers, data ? std::string(data->begin(), data->end()) : std::string()});
  }
  void pause() override {}
  void resume() override {}
  void setEnabled(bool) override {}
  std::shared_ptr<DVACHttpClientDelegate> delegate() const override { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<DVACHttpClientDelegate>& delegate) override { delegate_ = delegate; }

  std::vector<Request> requests;

 private:
  std::mutex mutex_;
  std::weak_ptr<DVACHttpClientDelegate> delegate_;
};

// A log whose Common Schema form carries a name (and optionally ticket keys).
class NamedLog : public DVACLogWithProperties {
 public:
  std::shared_ptr<DVACCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                       DVACLogFlags flags) const override {
    auto csLog = DVACLogWithProperties::toCommonSchemaLogForTargetToken(token, flags);
    csLog->setName("test.event");
    if (!ticketKeys.empty()) csLog->ext()->protocolExt->ticketKeys = ticketKeys;
    return csLog;
  }
  std::vector<std::string> ticketKeys;
};

std::shared_ptr<NamedLog> namedLog(std::vector<std::string> tokens) {
  auto log = std::make_shared<NamedLog>();
  log->setType("testEvent");
  log->setTimestamp(ns::Date::fromTimeIntervalSince1970(1'700'000'000));
  log->setDevice(testDevice());
  for (const auto& token : tokens) log->addTransmissionTargetToken(token);
  return log;
}

std::shared_ptr<DVACCommonSchemaLog> csLog(const std::optional<std::string>& iKey, const std::string& name = "abcd") {
  auto log = std::make_shared<DVACCommonSchemaLog>();
  log->setVer("3.0");
  log->setName(name);
  log->setIKey(iKey);
  log->setTimestamp(ns::Date::fromTimeIntervalSince1970(1'700'000'000));
  log->setDevice(testDevice());
  log->addTransmissionTargetToken((iKey ? iKey->substr(2) : std::string("nokey")) + "-token");
  return log;
}

class DVACRuvErirovevuChannelDelegateTests : public ::testing::Test {
 protected:
  void SetUp() override {
    DVACRedEvududUserDefaults::resetSharedInstance();
    DVACTicketCache::resetSharedInstance();
    group_ = DVACChannelGroupDefault::initWithIngestion(ingestion_, storage_);
    ruv_ = DVACRuvErirovevuChannelDelegate::initWithHttpClient(httpClient_, installId_, "http://127.0.0.1:9");
    group_->addDelegate(ruv_);
    group_->addDelegate(recorder_);
  }
  void TearDown() override {
    DVACRedEvududUserDefaults::resetSharedInstance();
    DVACTicketCache::resetSharedInstance();
  }
  std::shared_ptr<DVACChannelUnitProtocol> add(const std::string& groupId, uint64_t interval = 6) {
    return group_->addChannelUnitWithConfiguration(
        DVACChannelUnitConfiguration::initDefaultConfigurationWithGroupId(groupId, interval));
  }
  void drain() { dispatch::Scheduler::shared().runUntilIdle(); }
  std::vector<std::shared_ptr<DVACCommonSchemaLog>> storedOnTwin(const std::string& groupId) {
    std::vector<std::shared_ptr<DVACCommonSchemaLog>> out;
    for (const auto& event : recorder_->events()) {
      if (event.name != "didCompleteEnqueueing") continue;
      auto unit = std::dynamic_pointer_cast<DVACChannelUnitProtocol>(event.channel);
      if (unit && unit->configuration()->groupId() == groupId) {
        out.push_back(std::dynamic_pointer_cast<DVACCommonSchemaLog>(event.log));
      }
    }
    return out;
  }

  dispatch::VirtualClockScope clock_;
  ns::test::ScopedStandardDefaults defaults_;
  dvac_http_test::LogRecorder log_{DVACLogLevelVerbose};
  ns::UUID installId_ = ns::UUID::random();
  std::shared_ptr<RecordingHttpClient> httpClient_ = std::make_shared<RecordingHttpClient>();
  std::shared_ptr<FakeStorage> storage_ = std::make_shared<FakeStorage>();
  std::shared_ptr<FakeIngestion> ingestion_ = std::make_shared<FakeIngestion>();
  std::shared_ptr<RecordingDelegate> recorder_ = std::make_shared<RecordingDelegate>();
  std::shared_ptr<DVACChannelGroupDefault> group_;
  std::shared_ptr<DVACRuvErirovevuChannelDelegate> ruv_;
};

TEST_F(DVACRuvErirovevuChannelDelegateTests, EachOrdinaryUnitGetsOneTwin) {
  add("Analytics", 3);
  auto twin = group_->channelUnitForGroupId("Analytics/one");
  ASSERT_TRUE(twin);
  EXPECT_EQ(twin->configuration()->flushInterval(), 3u);
  EXPECT_EQ(twin->configuration()->batchSizeLimit(), 50u);
  EXPECT_EQ(ruv_->ruvErirovevuChannelForGroupId("Analytics"), twin);
  EXPECT_EQ(group_->channelUnitForGroupId("Analytics/one/one"), nullptr);
  EXPECT_EQ(group_->channels().size(), 2u);
  auto defaultTwin = std::dynamic_pointer_cast<DVACChannelUnitDefault>(twin);
  EXPECT_EQ(defaultTwin->ingestion(), ruv_->ruvErirovevuIngestion());
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, ALogWithTargetsTravelsAsCommonSchemaLogsOnTheTwinOnly) {
  auto unit = add("Analytics");
  unit->enqueueItem(namedLog({"keyA-tokenA", "keyB-tokenB"}), DVACLogFlagsCritical);
  drain();
  EXPECT_EQ(storage_->count("Analytics"), 0u);
  EXPECT_EQ(storage_->count("Analytics/one"), 2u);
  const auto twinLogs = storedOnTwin("Analytics/one");
  ASSERT_EQ(twinLogs.size(), 2u);
  std::set<std::string> iKeys;
  for (const auto& log : twinLogs) {
    ASSERT_TRUE(log);
    iKeys.insert(*log->iKey());
    EXPECT_EQ(log->flags(), DVACLogFlagsCritical);
    EXPECT_EQ(log->ext()->sdkExt->seq, 1u);
    EXPECT_EQ(log->ext()->sdkExt->installId, installId_);
  }
  EXPECT_EQ(iKeys, (std::set<std::string>{"o:keyA", "o:keyB"}));
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, SequenceNumbersRunPerKeyWithoutGaps) {
  auto unit = add("Analytics");
  // Enqueued on the ordinary unit, passed on to the twin: stamped once.
  unit->enqueueItem(csLog("o:one"), DVACLogFlagsNormal);
  unit->enqueueItem(csLog("o:one"), DVACLogFlagsNormal);
  unit->enqueueItem(csLog("o:two"), DVACLogFlagsNormal);
  drain();
  const auto logs = storedOnTwin("Analytics/one");
  ASSERT_EQ(logs.size(), 3u);
  EXPECT_EQ(logs[0]->ext()->sdkExt->seq, 1u);
  EXPECT_EQ(logs[1]->ext()->sdkExt->seq, 2u);
  EXPECT_EQ(logs[0]->ext()->sdkExt->epoch, logs[1]->ext()->sdkExt->epoch);
  EXPECT_EQ(logs[2]->ext()->sdkExt->seq, 1u);
  EXPECT_NE(logs[2]->ext()->sdkExt->epoch, logs[0]->ext()->sdkExt->epoch);
  EXPECT_EQ(ruv_->epochAndSeqForIKey("o:one")->seq, 2u);
  // The ordinary unit kept none of them.
  EXPECT_EQ(storage_->count("Analytics"), 0u);
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, SequenceNumbersStayUniqueAcrossThreads) {
  add("Analytics");
  auto twin = group_->channelUnitForGroupId("Analytics/one");
  std::vector<std::shared_ptr<DVACCommonSchemaLog>> logs(400);
  for (auto& log : logs) log = csLog("o:shared");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < 400; i += 4) ruv_->channelPrepareLog(twin, logs[static_cast<size_t>(i)]);
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<uint64_t> seqs;
  for (const auto& log : logs) seqs.insert(log->ext()->sdkExt->seq);
  EXPECT_EQ(seqs.size(), 400u);
  EXPECT_EQ(*seqs.rbegin(), 400u);
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, ALogWithoutInstrumentationKeyGetsNoRecord) {
  add("Analytics");
  auto twin = group_->channelUnitForGroupId("Analytics/one");
  auto log = csLog(std::nullopt);
  ruv_->channelPrepareLog(twin, log);
  EXPECT_FALSE(log->ext() && log->ext()->sdkExt && log->ext()->sdkExt->seq != 0);
  EXPECT_FALSE(ruv_->epochAndSeqForIKey(""));
  ruv_->channelPrepareLog(twin, csLog("o:k"));
  EXPECT_EQ(ruv_->epochAndSeqForIKey("o:k")->seq, 1u);
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, DisablingTheGroupWithDeletionForgetsEpochs) {
  add("Analytics");
  auto twin = group_->channelUnitForGroupId("Analytics/one");
  ruv_->channelPrepareLog(twin, csLog("o:k"));
  group_->setEnabled(false, false);
  EXPECT_TRUE(ruv_->epochAndSeqForIKey("o:k"));
  group_->setEnabled(false, true);
  EXPECT_FALSE(ruv_->epochAndSeqForIKey("o:k"));
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, LogNamesAreValidated) {
  EXPECT_FALSE(DVACRuvErirovevuChannelDelegate::validateLogName(std::nullopt));
  EXPECT_FALSE(DVACRuvErirovevuChannelDelegate::validateLogName(""));
  EXPECT_FALSE(DVACRuvErirovevuChannelDelegate::validateLogName("abc"));
  EXPECT_FALSE(DVACRuvErirovevuChannelDelegate::validateLogName("abcd."));
  EXPECT_FALSE(DVACRuvErirovevuChannelDelegate::validateLogName("ab..cd"));
  EXPECT_FALSE(DVACRuvErirovevuChannelDelegate::validateLogName("_abcd"));
  EXPECT_FALSE(DVACRuvErirovevuChannelDelegate::validateLogName(std::string(101, 'a')));
  EXPECT_TRUE(DVACRuvErirovevuChannelDelegate::validateLogName("abcd"));
  EXPECT_TRUE(DVACRuvErirovevuChannelDelegate::validateLogName("a.b_c"));
  EXPECT_TRUE(DVACRuvErirovevuChannelDelegate::validateLogName(std::string(100, 'a')));
  EXPECT_TRUE(log_.contains("Log validation failed. Name must not be nil or empty."));
  EXPECT_TRUE(log_.contains("Log validation failed. Name must match '"));
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, BadlyNamedLogIsDroppedByItsTwin) {
  auto unit = add("Analytics");
  unit->enqueueItem(csLog("o:k", "a..b"), DVACLogFlagsNormal);
  drain();
  EXPECT_EQ(storage_->countLogs(), 0u);
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, PausingAndEnablingAreMirroredOnTheTwin) {
  auto unit = add("Analytics");
  auto twin = std::dynamic_pointer_cast<DVACChannelUnitDefault>(group_->channelUnitForGroupId("Analytics/one"));
  auto holder = std::make_shared<int>(0);
  unit->pauseWithIdentifyingObject(holder);
  drain();
  bool paused = false;
  group_->logsDispatchQueue()->async([&] { paused = twin->isPaused(); });
  drain();
  EXPECT_TRUE(paused);
  unit->resumeWithIdentifyingObject(holder);
  unit->setEnabled(false, true);
  drain();
  bool enabled = true;
  group_->logsDispatchQueue()->async([&] { enabled = twin->isEnabled(); });
  drain();
  EXPECT_FALSE(enabled);
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, TheTwinPostsJsonLinesWithTheTargetHeaders) {
  DVACTicketCache::sharedInstance()->setTicket("ticket-value", "ticketKey1");
  auto unit = add("Analytics", 3);
  for (int i = 0; i < 3; ++i) {
    auto log = namedLog({i == 2 ? "keyB-tokenB" : "keyA-tokenA"});
    log->ticketKeys = {"ticketKey1", "missingKey"};
    unit->enqueueItem(log, DVACLogFlagsNormal);
  }
  drain();
  dispatch::Scheduler::shared().advance(3.1);
  ASSERT_EQ(httpClient_->requests.size(), 1u);
  const auto& request = httpClient_->requests[0];
  EXPECT_EQ(request.url.absoluteString(), "http://127.0.0.1:9/RuvErirovevu/1.0");
  EXPECT_EQ(request.headers.at("Content-Type"), "application/x-json-stream; charset=utf-8");
  EXPECT_EQ(request.headers.at("Client-Version"), "ACS-iOS-ObjectiveC-no-4.4.3-no");
  EXPECT_EQ(request.headers.at("apikey"), "keyA-tokenA,keyB-tokenB");
  EXPECT_FALSE(request.headers.at("Upload-Time").empty());
  EXPECT_EQ(request.headers.at("Tickets"), R"({"ticketKey1":"ticket-value"})");
  // Three lines, each ending in a line feed, each a JSON object.
  ASSERT_FALSE(request.body.empty());
  EXPECT_EQ(request.body.back(), '\n');
  EXPECT_EQ(std::count(request.body.begin(), request.body.end(), '\n'), 3);
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const size_t end = request.body.find('\n', start);
    auto line = ns::json::parse(request.body.substr(start, end - start));
    ASSERT_TRUE(line && line->dictionary());
    start = end + 1;
  }
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, NoTicketsNoTicketsHeader) {
  auto ingestion = ruv_->ruvErirovevuIngestion();
  auto log = csLog("o:k");
  auto container = std::make_shared<DVACLogContainer>("batch", std::vector<std::shared_ptr<DVACLog>>{log});
  EXPECT_FALSE(ingestion->getHeadersWithData(container, std::nullopt).count("Tickets"));
  log->ext() ? void() : log->setExt(std::make_shared<DVACCSExtensions>());
  log->ext()->protocolExt = std::make_shared<DVACProtocolExtension>();
  log->ext()->protocolExt->ticketKeys = std::vector<std::string>{"unknown"};
  EXPECT_FALSE(ingestion->getHeadersWithData(container, std::nullopt).count("Tickets"));
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, InvalidContainerIsRefusedUnderItsBatchId) {
  auto ingestion = ruv_->ruvErirovevuIngestion();
  dvac_http_test::Completions completions;
  ingestion->sendAsync(std::make_shared<DVACLogContainer>("batch-7", std::vector<std::shared_ptr<DVACLog>>{}),
                       completions.sendHandler());
  ASSERT_TRUE(completions.waitFor(1));
  EXPECT_EQ(completions.at(0).callId, "batch-7");
  EXPECT_EQ(completions.at(0).errorCode(), 1);
  EXPECT_TRUE(httpClient_->requests.empty());
}

TEST_F(DVACRuvErirovevuChannelDelegateTests, MaskingForLogLines) {
  EXPECT_EQ(DVACRuvErirovevuIngestion::obfuscateTargetTokens("abcdefghijkl,short"), "****efghijkl,*****");
  EXPECT_EQ(DVACRuvErirovevuIngestion::obfuscateTickets(R"({"k1":"d:secret1","k2":"p:secret2"})"),
            R"({"k1":"d:***","k2":"p:***"})");
  EXPECT_EQ(ruv_->ruvErirovevuIngestion()->obfuscateResponsePayload(std::string(R"({"TOKEN" : "abc"})")),
            R"({"token" : "***"})");
}

TEST(DVACTicketCacheTests, SetReadRemoveAndClear) {
  DVACTicketCache::resetSharedInstance();
  auto cache = DVACTicketCache::sharedInstance();
  EXPECT_EQ(cache, DVACTicketCache::sharedInstance());
  cache->setTicket("t1", "k1");
  cache->setTicket("t2", "k1");
  EXPECT_EQ(cache->ticketFor("k1"), "t2");
  cache->setTicket(std::nullopt, "k1");
  EXPECT_FALSE(cache->ticketFor("k1"));
  cache->setTicket("t3", "k3");
  cache->clearCache();
  EXPECT_TRUE(cache->tickets().empty());
  DVACTicketCache::resetSharedInstance();
}

}  // namespace
