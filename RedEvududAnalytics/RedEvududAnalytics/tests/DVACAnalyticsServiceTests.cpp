// The analytics service inside a started SDK (virtual clock, store on disk,
// nothing sent unless a test moves time): what tracking puts on which unit,
// the flags, the switch, pause and resume, and the transmission interval.

#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitDefault.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStringTypedProperty.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Internals/Session/DVACSessionTracker.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACPageLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACStartSessionLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/tests/DVACAnalyticsTestSupport.h"

using namespace dvac_analytics_test;

namespace {

std::shared_ptr<DVACChannelUnitDefault> unitOf(const std::shared_ptr<DVACChannelUnitProtocol>& unit) {
  return std::dynamic_pointer_cast<DVACChannelUnitDefault>(unit);
}

class DVACAnalyticsServiceTests : public ::testing::Test {
 protected:
  std::shared_ptr<DVACAnalytics> analytics() { return DVACAnalytics::sharedInstance(); }
  std::shared_ptr<DVACChannelUnitDefault> defaultUnit() { return unitOf(analytics()->channelUnit()); }
  std::shared_ptr<DVACChannelUnitDefault> criticalUnit() { return unitOf(analytics()->criticalChannelUnit()); }

  AnalyticsEnvironment environment_;
  LogRecorder log_;
};

// ------------------------------------------------------------------- Start

TEST_F(DVACAnalyticsServiceTests, StartAddsBothUnitsAndOpensASession) {
  auto recorder = environment_.startSdk();
  ASSERT_TRUE(defaultUnit());
  ASSERT_TRUE(criticalUnit());
  EXPECT_EQ(defaultUnit()->configuration()->groupId(), "Analytics");
  EXPECT_EQ(criticalUnit()->configuration()->groupId(), "Analytics_critical");
  EXPECT_EQ(criticalUnit()->configuration()->batchSizeLimit(), 50u);
  EXPECT_TRUE(sdkGroup()->channelUnitForGroupId("Analytics/one"));
  EXPECT_TRUE(sdkGroup()->channelUnitForGroupId("Analytics_critical/one"));
  EXPECT_TRUE(analytics()->sessionTracker()->isStarted());
  EXPECT_TRUE(log_.contains("Started Analytics service.", DVACLogLevelVerbose));
  EXPECT_TRUE(log_.contains("Analytics service has been enabled.", DVACLogLevelInfo));
  // The start-session log is stored on the default unit.
  EXPECT_EQ(environment_.storedRows("Analytics"), 1);
  EXPECT_TRUE(DVACSessionContext::sharedInstance()->sessionId());
}

TEST_F(DVACAnalyticsServiceTests, TrackingBeforeStartIsRefusedWithTheBasesError) {
  DVACAnalytics::trackEvent("early");
  DVACAnalytics::trackPage("Early");
  EXPECT_EQ(log_.count("Analytics service hasn't been started. You need to call [DVACRedEvudud "
                       "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first.",
                       DVACLogLevelError),
            2u);
}

// ---------------------------------------------------------------- Tracking

TEST_F(DVACAnalyticsServiceTests, AnEventWithoutPropertiesHasNoTypedProperties) {
  auto recorder = environment_.startSdk();
  DVACAnalytics::trackEvent("plain");
  drain();
  auto events = recorder->preparedOf<DVACEventLog>("Analytics");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_FALSE(events[0]->typedProperties());
  EXPECT_FALSE(events[0]->serializeToDictionary().find("typedProperties"));
  EXPECT_EQ(events[0]->sid(), DVACSessionContext::sharedInstance()->sessionId());
  ASSERT_TRUE(events[0]->eventId());
  EXPECT_EQ(ns::UUID::fromString(*events[0]->eventId())->UUIDString(), *events[0]->eventId());
  EXPECT_EQ(environment_.storedRows("Analytics"), 2);
}

TEST_F(DVACAnalyticsServiceTests, StringPropertiesBecomeStringTypedPropertiesAndNoUserIdIsAttached) {
  auto recorder = environment_.startSdk();
  DVACRedEvudud::setUserId("alice");
  DVACAnalytics::trackEvent("windowSnapping_SnapLeft", DVACPropertiesDictionary{{"screen", "1"}, {"via", "drag"}});
  drain();
  auto events = recorder->preparedOf<DVACEventLog>();
  ASSERT_EQ(events.size(), 1u);
  ASSERT_TRUE(events[0]->typedProperties());
  EXPECT_EQ(events[0]->typedProperties()->count(), 2u);
  auto via = std::dynamic_pointer_cast<DVACStringTypedProperty>(events[0]->typedProperties()->propertyForKey("via"));
  ASSERT_TRUE(via);
  EXPECT_EQ(via->value, "drag");
  // Without a transmission target an event carries no user id.
  EXPECT_FALSE(events[0]->userId());
  EXPECT_FALSE(events[0]->transmissionTargetTokens());
}

TEST_F(DVACAnalyticsServiceTests, PropertiesThatAreNotTextAreDroppedBeforeTheEventIsBuilt) {
  auto recorder = environment_.startSdk();
  ns::Dictionary properties;
  properties.emplace("count", ns::Value(int64_t{4}));
  properties.emplace("on", ns::Value(true));
  analytics()->trackInstanceEvent("mixed", ns::Value(properties), nullptr, DVACLogFlagsNormal);
  drain();
  auto events = recorder->preparedOf<DVACEventLog>();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_FALSE(events[0]->typedProperties());
}

TEST_F(DVACAnalyticsServiceTests, FlagsPickTheUnitAndInvalidOnesAreSentAsNormal) {
  auto recorder = environment_.startSdk();
  DVACAnalytics::trackEvent("critical", std::nullopt, DVACLogFlagsCritical);
  DVACAnalytics::trackEvent("highBitsIgnored", std::nullopt, 0x101);
  DVACAnalytics::trackEvent("three", std::nullopt, 3);
  DVACAnalytics::trackEvent("zero", std::nullopt, 0);
  drain();
  const auto prepared = recorder->prepared();
  std::map<std::string, std::pair<std::string, DVACLogFlags>> byName;
  for (const auto& entry : prepared) {
    if (auto event = std::dynamic_pointer_cast<DVACEventLog>(entry.log)) {
      byName[*event->name()] = {entry.groupId, entry.flags};
    }
  }
  ASSERT_EQ(byName.size(), 4u);
  EXPECT_EQ(byName["critical"], std::make_pair(std::string("Analytics_critical"), DVACLogFlagsCritical));
  EXPECT_EQ(byName["highBitsIgnored"], std::make_pair(std::string("Analytics"), DVACLogFlagsNormal));
  EXPECT_EQ(byName["three"], std::make_pair(std::string("Analytics"), DVACLogFlagsNormal));
  EXPECT_EQ(byName["zero"], std::make_pair(std::string("Analytics"), DVACLogFlagsNormal));
  EXPECT_TRUE(log_.contains("Invalid flags (3) received, using normal as a default.", DVACLogLevelWarning));
  EXPECT_TRUE(log_.contains("Invalid flags (0) received, using normal as a default.", DVACLogLevelWarning));
  EXPECT_FALSE(log_.contains("Invalid flags (1)"));
  EXPECT_EQ(environment_.storedRows("Analytics_critical"), 1);
  EXPECT_EQ(environment_.storedRows("Analytics"), 4);
}

TEST_F(DVACAnalyticsServiceTests, AnEmptyNameReachesTheFilterAndIsNeverStored) {
  auto recorder = environment_.startSdk();
  DVACAnalytics::trackEvent("");
  DVACAnalytics::trackEvent(std::nullopt);
  drain();
  EXPECT_TRUE(log_.contains("event name cannot be null or empty", DVACLogLevelError));
  EXPECT_TRUE(log_.contains("Log is not valid.", DVACLogLevelWarning));
  EXPECT_EQ(recorder->preparedOf<DVACEventLog>().size(), 1u);
  EXPECT_EQ(environment_.storedRows("Analytics"), 1);
}

TEST_F(DVACAnalyticsServiceTests, PagesCarryTheirCleanedPropertiesOnTheDefaultUnit) {
  auto recorder = environment_.startSdk();
  DVACAnalytics::trackPage("Settings", DVACPropertiesDictionary{{"tab", "general"}});
  DVACAnalytics::trackPage("About");
  drain();
  auto pages = recorder->preparedOf<DVACPageLog>("Analytics");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0]->properties(), (DVACPropertiesDictionary{{"tab", "general"}}));
  // The filter gives a page without properties an empty set.
  EXPECT_TRUE(pages[1]->properties() && pages[1]->properties()->empty());
  EXPECT_EQ(pages[1]->sid(), DVACSessionContext::sharedInstance()->sessionId());
  EXPECT_EQ(environment_.storedRows("Analytics"), 3);
}

// ------------------------------------------------------------------ Switch

TEST_F(DVACAnalyticsServiceTests, DisablingDeletesBothUnitsLogsAndStopsTheSession) {
  auto recorder = environment_.startSdk();
  DVACAnalytics::trackEvent("normal");
  DVACAnalytics::trackEvent("critical", std::nullopt, DVACLogFlagsCritical);
  drain();
  ASSERT_EQ(environment_.storedRows("Analytics"), 2);
  ASSERT_EQ(environment_.storedRows("Analytics_critical"), 1);

  DVACAnalytics::setEnabled(false);
  drain();
  EXPECT_EQ(environment_.storedRows("Analytics"), 0);
  EXPECT_EQ(environment_.storedRows("Analytics_critical"), 0);
  EXPECT_FALSE(defaultUnit()->isEnabled());
  EXPECT_FALSE(criticalUnit()->isEnabled());
  EXPECT_FALSE(analytics()->sessionTracker()->isStarted());
  EXPECT_FALSE(DVACSessionContext::sharedInstance()->sessionId());
  EXPECT_TRUE(DVACSessionContext::sharedInstance()->sessionHistory().empty());
  EXPECT_FALSE(DVACAnalytics::serviceClass()->isEnabled());
  EXPECT_EQ(DVACRedEvududUserDefaults::shared()->objectForKey("AnalyticsIsEnabled")->asBool(), false);

  // Tracking while disabled does nothing and says nothing.
  log_.clear();
  recorder->clear();
  DVACAnalytics::trackEvent("ignored");
  DVACAnalytics::trackPage("Ignored");
  drain();
  EXPECT_TRUE(log_.lines().empty());
  EXPECT_TRUE(recorder->prepared().empty());

  // On again: the units take logs again and a new session begins.
  DVACAnalytics::setEnabled(true);
  drain();
  EXPECT_TRUE(defaultUnit()->isEnabled());
  EXPECT_TRUE(criticalUnit()->isEnabled());
  ASSERT_EQ(recorder->preparedOf<DVACStartSessionLog>().size(), 1u);
  DVACAnalytics::trackEvent("again", std::nullopt, DVACLogFlagsCritical);
  drain();
  EXPECT_EQ(environment_.storedRows("Analytics_critical"), 1);
  EXPECT_EQ(recorder->preparedOf<DVACEventLog>()[0]->sid(), DVACSessionContext::sharedInstance()->sessionId());
}

TEST_F(DVACAnalyticsServiceTests, TheSwitchIsRefusedWhileTheWholeSdkIsDisabled) {
  environment_.startSdk();
  DVACRedEvudud::setEnabled(false);
  drain();
  EXPECT_FALSE(analytics()->isEnabled());
  EXPECT_FALSE(criticalUnit()->isEnabled());
  DVACAnalytics::setEnabled(true);
  EXPECT_TRUE(log_.contains("The SDK is disabled. Re-enable the whole SDK from RedEvudud first before enabling "
                            "Analytics service.",
                            DVACLogLevelError));
  EXPECT_FALSE(analytics()->isEnabled());
  DVACRedEvudud::setEnabled(true);
  drain();
  EXPECT_TRUE(analytics()->isEnabled());
  EXPECT_TRUE(criticalUnit()->isEnabled());
}

TEST_F(DVACAnalyticsServiceTests, PauseAndResumeReachBothUnits) {
  environment_.startSdk();
  DVACAnalytics::pause();
  drain();
  EXPECT_TRUE(defaultUnit()->isPaused());
  EXPECT_TRUE(criticalUnit()->isPaused());
  DVACAnalytics::resume();
  drain();
  EXPECT_FALSE(defaultUnit()->isPaused());
  EXPECT_FALSE(criticalUnit()->isPaused());
}

// --------------------------------------------------- Transmission interval

TEST_F(DVACAnalyticsServiceTests, TheTransmissionIntervalIsTakenOnlyInRangeAndBeforeStart) {
  DVACAnalytics::setTransmissionInterval(5);
  DVACAnalytics::setTransmissionInterval(86401);
  EXPECT_EQ(log_.count("The transmission interval is not valid, it should be between 6 second(s) and 86400 "
                       "second(s) (1 day).",
                       DVACLogLevelError),
            2u);
  EXPECT_EQ(DVACAnalytics::transmissionInterval(), 6u);
  DVACAnalytics::setTransmissionInterval(86400);
  EXPECT_EQ(DVACAnalytics::transmissionInterval(), 86400u);
  EXPECT_TRUE(log_.contains("Transmission interval set to 86400 second(s)", DVACLogLevelDebug));
  DVACAnalytics::setTransmissionInterval(6);
  DVACAnalytics::setTransmissionInterval(60);

  environment_.startSdk();
  EXPECT_EQ(defaultUnit()->configuration()->flushInterval(), 60u);
  EXPECT_EQ(criticalUnit()->configuration()->flushInterval(), 6u);
  DVACAnalytics::setTransmissionInterval(120);
  EXPECT_TRUE(log_.contains("The transmission interval should be set before the DVACAnalytics service is started."));
  EXPECT_EQ(DVACAnalytics::transmissionInterval(), 60u);
}

// ----------------------------------------------------------------- Reset

TEST_F(DVACAnalyticsServiceTests, ResetForgetsTheInstanceAndStopsItsSession) {
  environment_.startSdk();
  auto first = analytics();
  DVACAnalytics::resetSharedInstance();
  EXPECT_FALSE(first->sessionTracker()->isStarted());
  EXPECT_NE(analytics(), first);
  EXPECT_FALSE(analytics()->isStarted());
  EXPECT_FALSE(DVACAnalytics::isAutoPageTrackingEnabled());
  EXPECT_EQ(DVACAnalytics::transmissionInterval(), 6u);
}

}  // namespace
