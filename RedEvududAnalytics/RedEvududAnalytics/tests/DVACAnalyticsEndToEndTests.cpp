// From the application's call to the ingestion: a started SDK sends to the
// local sink on 127.0.0.1, time is the virtual clock (the flush timers and
// the session time-out move only when the test moves it), and every wait is
// on a condition with a deadline.

#include <gtest/gtest.h>

#include <cctype>

#include "RedEvududAnalytics/RedEvududAnalytics/Internals/Session/DVACSessionTracker.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACPageLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/tests/DVACAnalyticsTestSupport.h"
#include "platform/appkit/NSApplicationActivation.h"
#include "platform/foundation/NotificationCenter.h"

using namespace dvac_analytics_test;

namespace {

// The logs of a request's JSON body.
std::vector<ns::Value> logsOf(const ingestion_sink::RecordedRequest& request) {
  auto body = ns::json::parse(request.content());
  const ns::Value* logs = body ? body->find("logs") : nullptr;
  return logs && logs->array() ? *logs->array() : std::vector<ns::Value>{};
}

std::string text(const ns::Value& log, const char* key) {
  const ns::Value* value = log.find(key);
  return value && value->string() ? *value->string() : std::string("(none)");
}

bool isUpperCaseUuid(const std::string& text) {
  auto uuid = ns::UUID::fromString(text);
  return uuid && uuid->UUIDString() == text;
}

// Every log the sink received, with the index of its request.
struct Received {
  size_t request;
  ns::Value log;
};

class SendRecorder : public DVACAnalyticsDelegate {
 public:
  void analyticsWillSendEventLog(DVACAnalytics&, const std::shared_ptr<DVACEventLog>& log) override {
    add("willSendEvent " + log->name().value_or(""));
  }
  void analyticsDidSucceedSendingEventLog(DVACAnalytics&, const std::shared_ptr<DVACEventLog>& log) override {
    add("didSendEvent " + log->name().value_or(""));
  }
  void analyticsWillSendPageLog(DVACAnalytics&, const std::shared_ptr<DVACPageLog>& log) override {
    add("willSendPage " + log->name().value_or(""));
  }
  void analyticsDidSucceedSendingPageLog(DVACAnalytics&, const std::shared_ptr<DVACPageLog>& log) override {
    add("didSendPage " + log->name().value_or(""));
  }
  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  void add(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

class DVACAnalyticsEndToEndTests : public ::testing::Test {
 protected:
  // Moves past every unit's flush interval and waits until the sink has
  // answered that many requests in all and the SDK has taken the answers.
  void flushAndWaitForRequests(size_t requests, size_t sentLogs) {
    dispatch::Scheduler::shared().advance(6.1);
    ASSERT_TRUE(dispatch::Scheduler::shared().runMainUntil(
        [&] { return environment_.sink().requestCount() >= requests && recorder_->sentCount() >= sentLogs; }, kWait))
        << environment_.sink().requestCount() << " requests, " << recorder_->sentCount() << " logs sent";
    drain();
  }

  std::vector<Received> received() {
    std::vector<Received> all;
    const auto requests = environment_.sink().requests();
    for (size_t i = 0; i < requests.size(); ++i) {
      for (auto& log : logsOf(requests[i])) all.push_back({i, std::move(log)});
    }
    return all;
  }

  std::optional<Received> find(const std::string& type, const std::string& name = "") {
    for (auto& entry : received()) {
      if (text(entry.log, "type") == type && (name.empty() || text(entry.log, "name") == name)) return entry;
    }
    return std::nullopt;
  }

  AnalyticsEnvironment environment_;
  LogRecorder log_;
  std::shared_ptr<RecordingDelegate> recorder_;
};

TEST_F(DVACAnalyticsEndToEndTests, EventsArriveInOneSessionWithTypedPropertiesAndCriticalOnesApart) {
  auto sendRecorder = std::make_shared<SendRecorder>();
  DVACAnalytics::setDelegate(sendRecorder);
  recorder_ = environment_.startSdk();
  DVACAnalytics::trackEvent("dockPreview_SelectWindow", DVACPropertiesDictionary{{"app", "Finder"}, {"windows", "3"}});
  DVACAnalytics::trackEvent("windowSnapping_SnapLeft", DVACPropertiesDictionary{{"via", "drag"}});
  DVACAnalytics::trackEvent("permissions_Failed", DVACPropertiesDictionary{{"reason", "denied"}}, DVACLogFlagsCritical);
  DVACAnalytics::trackPage("Settings");
  // start service, start session, two events, the critical event, the page
  flushAndWaitForRequests(3, 6);

  const auto requests = environment_.sink().requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& request : requests) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("App-Secret"), kSecret);
    EXPECT_TRUE(isUpperCaseUuid(request.header("Install-ID").value_or("")));
    EXPECT_EQ(request.answeredStatus, 200);
  }

  auto session = find("startSession");
  ASSERT_TRUE(session);
  const std::string sid = text(session->log, "sid");
  EXPECT_TRUE(isUpperCaseUuid(sid)) << sid;

  auto select = find("event", "dockPreview_SelectWindow");
  auto snap = find("event", "windowSnapping_SnapLeft");
  auto critical = find("event", "permissions_Failed");
  auto page = find("page", "Settings");
  ASSERT_TRUE(select && snap && critical && page);
  for (const auto* entry : {&*select, &*snap, &*critical, &*page}) {
    EXPECT_EQ(text(entry->log, "sid"), sid);
    EXPECT_TRUE(entry->log.find("device"));
    EXPECT_FALSE(entry->log.find("userId"));
  }
  for (const auto* entry : {&*select, &*snap, &*critical}) EXPECT_TRUE(isUpperCaseUuid(text(entry->log, "id")));
  EXPECT_NE(text(select->log, "id"), text(snap->log, "id"));

  // Typed properties, every one a string.
  const ns::Value* typed = select->log.find("typedProperties");
  ASSERT_TRUE(typed && typed->array());
  ASSERT_EQ(typed->count(), 2u);
  EXPECT_EQ(text(*typed->at(0), "type"), "string");
  EXPECT_EQ(text(*typed->at(0), "name"), "app");
  EXPECT_EQ(text(*typed->at(0), "value"), "Finder");
  EXPECT_EQ(text(*typed->at(1), "name"), "windows");
  EXPECT_EQ(text(*typed->at(1), "value"), "3");
  EXPECT_FALSE(select->log.find("properties"));

  // The session, the normal events and the page travel together; the
  // critical event has a request of its own.
  EXPECT_EQ(select->request, session->request);
  EXPECT_EQ(snap->request, session->request);
  EXPECT_EQ(page->request, session->request);
  EXPECT_NE(critical->request, session->request);
  EXPECT_EQ(logsOf(requests[critical->request]).size(), 1u);
  EXPECT_EQ(environment_.storedRows(), 0);

  const auto calls = sendRecorder->calls();
  for (const char* call : {"willSendEvent dockPreview_SelectWindow", "didSendEvent dockPreview_SelectWindow",
                           "didSendEvent permissions_Failed", "willSendPage Settings", "didSendPage Settings"}) {
    EXPECT_NE(std::find(calls.begin(), calls.end(), call), calls.end()) << call;
  }
}

TEST_F(DVACAnalyticsEndToEndTests, DisablingDeletesWhatWaitsAndANewSessionFollowsTwentySecondsInTheBackground) {
  recorder_ = environment_.startSdk();
  flushAndWaitForRequests(2, 2);  // start service, start session
  const std::string firstSession = *DVACSessionContext::sharedInstance()->sessionId();

  DVACAnalytics::trackEvent("deletedNormal", DVACPropertiesDictionary{{"k", "v"}});
  DVACAnalytics::trackEvent("deletedCritical", std::nullopt, DVACLogFlagsCritical);
  drain();
  ASSERT_EQ(environment_.storedRows("Analytics"), 1);
  ASSERT_EQ(environment_.storedRows("Analytics_critical"), 1);

  DVACAnalytics::setEnabled(false);
  drain();
  EXPECT_EQ(environment_.storedRows("Analytics"), 0);
  EXPECT_EQ(environment_.storedRows("Analytics_critical"), 0);
  EXPECT_FALSE(DVACAnalytics::sharedInstance()->sessionTracker()->isStarted());
  EXPECT_FALSE(DVACSessionContext::sharedInstance()->sessionId());
  DVACAnalytics::trackEvent("whileDisabled");
  drain();
  EXPECT_EQ(environment_.storedRows(), 0);

  // On again while active: a new session at once.
  DVACAnalytics::setEnabled(true);
  drain();
  const std::string secondSession = *DVACSessionContext::sharedInstance()->sessionId();
  EXPECT_NE(secondSession, firstSession);
  flushAndWaitForRequests(3, 3);

  // 25 s in the background with nothing tracked: the next activation opens
  // a new session, and what follows belongs to it.
  auto center = ns::NotificationCenter::defaultCenter();
  center->post(appkit::NSApplicationDidResignActiveNotification);
  dispatch::Scheduler::shared().advance(25);
  center->post(appkit::NSApplicationWillBecomeActiveNotification);
  const std::string thirdSession = *DVACSessionContext::sharedInstance()->sessionId();
  EXPECT_NE(thirdSession, secondSession);
  DVACAnalytics::trackEvent("afterBackground", DVACPropertiesDictionary{{"k", "v"}});
  flushAndWaitForRequests(4, 5);

  auto after = find("event", "afterBackground");
  ASSERT_TRUE(after);
  EXPECT_EQ(text(after->log, "sid"), thirdSession);
  std::vector<std::string> sessions;
  for (const auto& entry : received()) {
    if (text(entry.log, "type") == "startSession") sessions.push_back(text(entry.log, "sid"));
    EXPECT_NE(text(entry.log, "name"), "deletedNormal");
    EXPECT_NE(text(entry.log, "name"), "deletedCritical");
    EXPECT_NE(text(entry.log, "name"), "whileDisabled");
  }
  EXPECT_EQ(sessions, (std::vector<std::string>{firstSession, secondSession, thirdSession}));
  EXPECT_EQ(environment_.storedRows(), 0);
}

}  // namespace
