// Transmission targets inside a started SDK: the tree of enabled states,
// default properties and overrides on the Common Schema logs made for a
// token, pausing a token, and the authentication provider.

#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitDefault.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACAppExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSData.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCSExtensions.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACDeviceExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACProtocolExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACUserExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLongTypedProperty.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStringTypedProperty.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventLog.h"
#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACAnalyticsAuthenticationProvider.h"
#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACPropertyConfigurator.h"
#include "RedEvududAnalytics/RedEvududAnalytics/tests/DVACAnalyticsTestSupport.h"

using namespace dvac_analytics_test;

namespace {

constexpr const char* kParentToken = "parentkey-1111-2222";
constexpr const char* kChildToken = "childkey-3333-4444";
constexpr const char* kGrandchildToken = "grandkey-5555-6666";

std::string stringValue(const std::shared_ptr<DVACEventProperties>& set, const std::string& key) {
  auto property = std::dynamic_pointer_cast<DVACStringTypedProperty>(set ? set->propertyForKey(key) : nullptr);
  return property && property->value ? *property->value : std::string("(none)");
}

class DVACTransmissionTargetTests : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingDelegate> start(const std::optional<std::string>& secret = std::nullopt) {
    if (!secret) return environment_.startSdk();
    DVACRedEvudud::setLogUrl(environment_.sink().baseURL());
    DVACRedEvudud::start(secret, {DVACAnalytics::serviceClass()});
    auto recorder = std::make_shared<RecordingDelegate>();
    sdkGroup()->addDelegate(recorder);
    keep_.push_back(recorder);
    drain();
    return recorder;
  }

  AnalyticsEnvironment environment_;
  LogRecorder log_;
  std::vector<std::shared_ptr<RecordingDelegate>> keep_;
};

// ------------------------------------------------------------ Enabled state

TEST_F(DVACTransmissionTargetTests, AChildOfADisabledParentIsBornDisabledAndStaysSoUntilTheParentIsEnabled) {
  start();
  auto parent = DVACAnalytics::transmissionTargetForToken(kParentToken);
  EXPECT_EQ(DVACAnalytics::transmissionTargetForToken(kParentToken), parent);
  EXPECT_EQ(parent->isEnabledKey(), "AnalyticsIsEnabled/parentkey");
  parent->setEnabled(false);
  auto child = parent->transmissionTargetForToken(kChildToken);
  EXPECT_EQ(parent->transmissionTargetForToken(kChildToken), child);
  EXPECT_FALSE(child->isEnabled());
  EXPECT_EQ(DVACRedEvududUserDefaults::shared()->objectForKey("AnalyticsIsEnabled/childkey")->asBool(), false);

  child->setEnabled(true);
  EXPECT_TRUE(log_.contains("Can't enable; parent transmission target and/or Analytics service is disabled.",
                            DVACLogLevelWarning));
  EXPECT_FALSE(child->isEnabled());
  parent->setEnabled(true);
  EXPECT_TRUE(child->isEnabled());
}

TEST_F(DVACTransmissionTargetTests, TheParentsSwitchReachesEveryDescendant) {
  start();
  auto parent = DVACAnalytics::transmissionTargetForToken(kParentToken);
  auto child = parent->transmissionTargetForToken(kChildToken);
  auto grandchild = child->transmissionTargetForToken(kGrandchildToken);
  grandchild->setEnabled(false);
  EXPECT_TRUE(child->isEnabled());

  parent->setEnabled(false);
  EXPECT_FALSE(child->isEnabled());
  EXPECT_FALSE(grandchild->isEnabled());
  // Enabling again enables every descendant, also the one disabled alone.
  parent->setEnabled(true);
  EXPECT_TRUE(child->isEnabled());
  EXPECT_TRUE(grandchild->isEnabled());

  // The service's switch goes down the trees too.
  DVACAnalytics::setEnabled(false);
  EXPECT_FALSE(parent->isEnabled());
  EXPECT_FALSE(grandchild->isEnabled());
  DVACAnalytics::setEnabled(true);
  EXPECT_TRUE(grandchild->isEnabled());
}

TEST_F(DVACTransmissionTargetTests, ATargetMadeBeforeTheServiceStartedIsDisabled) {
  auto early = DVACAnalyticsTransmissionTarget::initWithTransmissionTargetToken(kParentToken, nullptr, nullptr);
  EXPECT_FALSE(early->isEnabled());
  EXPECT_TRUE(log_.contains("Analytics service hasn't been started."));
}

// ---------------------------------------------------------------- Tracking

TEST_F(DVACTransmissionTargetTests, EventsCarryTheNearestDefaultsUnderTheCallersProperties) {
  auto recorder = start();
  auto parent = DVACAnalytics::transmissionTargetForToken(kParentToken);
  auto child = parent->transmissionTargetForToken(kChildToken);
  parent->propertyConfigurator()->setEventPropertyString("parent", "shared");
  parent->propertyConfigurator()->setEventPropertyString("parent", "parentOnly");
  child->propertyConfigurator()->setEventPropertyString("child", "shared");
  child->propertyConfigurator()->setEventPropertyInt64(3, "childOnly");
  child->propertyConfigurator()->setEventPropertyString("gone", "removed");
  child->propertyConfigurator()->removeEventPropertyForKey("removed");
  child->propertyConfigurator()->removeEventPropertyForKey(std::nullopt);
  EXPECT_TRUE(log_.contains("Event property key to remove cannot be nil.", DVACLogLevelError));

  DVACRedEvudud::setUserId("alice");
  child->trackEvent("checkout", DVACPropertiesDictionary{{"childOnly", "caller"}});
  drain();
  auto events = recorder->preparedOf<DVACEventLog>("Analytics");
  ASSERT_EQ(events.size(), 1u);
  auto& event = events[0];
  EXPECT_EQ(stringValue(event->typedProperties(), "shared"), "child");
  EXPECT_EQ(stringValue(event->typedProperties(), "parentOnly"), "parent");
  EXPECT_EQ(stringValue(event->typedProperties(), "childOnly"), "caller");
  EXPECT_FALSE(event->typedProperties()->propertyForKey("removed"));
  ASSERT_TRUE(event->transmissionTargetTokens());
  EXPECT_EQ(*event->transmissionTargetTokens(), std::set<std::string>{kChildToken});
  EXPECT_EQ(event->tag(), std::shared_ptr<ns::Object>(child));
  // Only the default target's events carry the user id.
  EXPECT_FALSE(event->userId());
  // Target events take the Common Schema road only.
  EXPECT_EQ(environment_.storedRows("Analytics"), 1);
  EXPECT_EQ(environment_.storedRows("Analytics/one"), 1);
}

TEST_F(DVACTransmissionTargetTests, TheDefaultTargetsEventsCarryTheUserId) {
  auto recorder = start(std::string(kSecret) + ";target=" + kParentToken);
  auto target = DVACAnalytics::sharedInstance()->defaultTransmissionTarget();
  ASSERT_TRUE(target);
  EXPECT_EQ(target->transmissionTargetToken(), kParentToken);
  DVACRedEvudud::setUserId("alice");
  DVACAnalytics::trackEvent("viaDefault", DVACPropertiesDictionary{{"k", "v"}});
  drain();
  auto events = recorder->preparedOf<DVACEventLog>("Analytics");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->userId(), "alice");
  EXPECT_EQ(events[0]->tag(), std::shared_ptr<ns::Object>(target));
}

TEST_F(DVACTransmissionTargetTests, EventsForADisabledTargetAreDiscarded) {
  auto recorder = start();
  auto target = DVACAnalytics::transmissionTargetForToken(kParentToken);
  target->setEnabled(false);
  target->trackEvent("dropped");
  drain();
  EXPECT_TRUE(log_.contains("This transmission target is disabled.", DVACLogLevelError));
  EXPECT_TRUE(recorder->preparedOf<DVACEventLog>().empty());
  target->pause();
  EXPECT_EQ(log_.count("This transmission target is disabled."), 2u);
}

TEST_F(DVACTransmissionTargetTests, CommonSchemaLogsGetTheOverridesOfTheirTarget) {
  auto recorder = start();
  auto parent = DVACAnalytics::transmissionTargetForToken(kParentToken);
  auto child = parent->transmissionTargetForToken(kChildToken);
  parent->propertyConfigurator()->setAppVersion("9.9");
  parent->propertyConfigurator()->setAppName("Parent");
  child->propertyConfigurator()->setAppName("Child");
  child->propertyConfigurator()->setAppLocale("fr-FR");
  child->propertyConfigurator()->setUserId("bob");
  parent->propertyConfigurator()->setUserId("x:refused");
  parent->propertyConfigurator()->setUserId("");
  EXPECT_FALSE(parent->propertyConfigurator()->userId());
  child->propertyConfigurator()->collectDeviceId();
  parent->propertyConfigurator()->collectDeviceId();

  child->trackEvent("child_Event", DVACPropertiesDictionary{{"a.b", "c"}});
  drain();
  auto csLogs = recorder->preparedOf<DVACCommonSchemaLog>("Analytics/one");
  ASSERT_EQ(csLogs.size(), 1u);
  auto cs = csLogs[0];
  EXPECT_EQ(cs->name(), "child_Event");
  EXPECT_EQ(cs->iKey(), "o:childkey");
  ASSERT_TRUE(cs->ext() && cs->ext()->appExt && cs->ext()->userExt && cs->ext()->deviceExt);
  EXPECT_EQ(cs->ext()->appExt->ver, "9.9");
  EXPECT_EQ(cs->ext()->appExt->name, "Child");
  EXPECT_EQ(cs->ext()->appExt->locale, "fr-FR");
  EXPECT_EQ(cs->ext()->userExt->localId, "c:bob");
  EXPECT_EQ(cs->ext()->deviceExt->localId, DVACPropertyConfigurator::getDeviceIdentifier());
  EXPECT_EQ(cs->ext()->deviceExt->localId->rfind("u:", 0), 0u);
  ASSERT_TRUE(cs->data());
  EXPECT_EQ(cs->data()->properties()->find("a")->find("b")->asString(), "c");
  // No provider: no ticket.
  EXPECT_FALSE(cs->ext()->protocolExt && cs->ext()->protocolExt->ticketKeys);
}

TEST_F(DVACTransmissionTargetTests, PausingATargetHoldsItsTokenOnBothTwins) {
  start();
  auto target = DVACAnalytics::transmissionTargetForToken(kParentToken);
  target->pause();
  drain();
  auto twin = std::dynamic_pointer_cast<DVACChannelUnitDefault>(sdkGroup()->channelUnitForGroupId("Analytics/one"));
  auto criticalTwin =
      std::dynamic_pointer_cast<DVACChannelUnitDefault>(sdkGroup()->channelUnitForGroupId("Analytics_critical/one"));
  ASSERT_TRUE(twin && criticalTwin);
  EXPECT_TRUE(twin->pausedTargetKeys().count("parentkey"));
  EXPECT_TRUE(criticalTwin->pausedTargetKeys().count("parentkey"));
  target->resume();
  drain();
  EXPECT_TRUE(twin->pausedTargetKeys().empty());
  EXPECT_TRUE(criticalTwin->pausedTargetKeys().empty());
}

// ------------------------------------------------------------ Authentication

class TokenDelegate : public DVACAnalyticsAuthenticationProviderDelegate {
 public:
  void authenticationProviderAcquireTokenWithCompletionHandler(DVACAnalyticsAuthenticationProvider&,
                                                               DVACAuthenticationCompletionHandler handler) override {
    handlers.push_back(std::move(handler));
  }
  std::vector<DVACAuthenticationCompletionHandler> handlers;
};

class DVACAuthenticationProviderTests : public DVACTransmissionTargetTests {
 protected:
  ns::Date now() const { return ns::Date(dispatch::wallNow()); }
  std::optional<std::string> ticket() const {
    return DVACTicketCache::sharedInstance()->ticketFor(DVACUtility::sha256("ticket-key"));
  }

  std::shared_ptr<TokenDelegate> delegate_ = std::make_shared<TokenDelegate>();
  std::shared_ptr<DVACAnalyticsAuthenticationProvider> provider_ =
      DVACAnalyticsAuthenticationProvider::initWithAuthenticationType(DVACAnalyticsAuthenticationTypeDelegate,
                                                                      "ticket-key", delegate_);
};

TEST_F(DVACAuthenticationProviderTests, TheAnswerBecomesATicketAndASecondRequestWaits) {
  EXPECT_EQ(provider_->ticketKeyHash(), DVACUtility::sha256("ticket-key"));
  DVACAnalyticsTransmissionTarget::addAuthenticationProvider(provider_);
  ASSERT_EQ(delegate_->handlers.size(), 1u);
  provider_->acquireTokenAsync();
  EXPECT_EQ(delegate_->handlers.size(), 1u);

  delegate_->handlers[0]("tok", now().addingTimeInterval(3600));
  EXPECT_EQ(ticket(), "d:tok");
  EXPECT_FALSE(provider_->completionHandler());
  EXPECT_TRUE(log_.contains("Got result back from DVAcquireTokenCompletionBlock.", DVACLogLevelDebug));
  // A repeated answer to the same request changes nothing.
  delegate_->handlers[0]("other", now().addingTimeInterval(3600));
  EXPECT_EQ(ticket(), "d:tok");
}

TEST_F(DVACAuthenticationProviderTests, ALateAnswerToAnEarlierRequestIsIgnored) {
  provider_->acquireTokenAsync();
  delegate_->handlers[0]("first", now().addingTimeInterval(100));  // expires soon: refresh due
  provider_->checkTokenExpiry();
  ASSERT_EQ(delegate_->handlers.size(), 2u);
  // The first request's handler answers again while the second is out.
  delegate_->handlers[0]("stale", now().addingTimeInterval(9999));
  EXPECT_EQ(ticket(), "d:first");
  EXPECT_TRUE(provider_->completionHandler());
  delegate_->handlers[1]("second", now().addingTimeInterval(9999));
  EXPECT_EQ(ticket(), "d:second");
  EXPECT_FALSE(provider_->completionHandler());
}

TEST_F(DVACAuthenticationProviderTests, TokensAreRefreshedTenMinutesBeforeTheyExpire) {
  provider_->acquireTokenAsync();
  delegate_->handlers[0]("t", now().addingTimeInterval(601));
  provider_->checkTokenExpiry();
  EXPECT_EQ(delegate_->handlers.size(), 1u);
  dispatch::Scheduler::shared().advance(1);
  provider_->checkTokenExpiry();
  EXPECT_EQ(delegate_->handlers.size(), 2u);
}

TEST_F(DVACAuthenticationProviderTests, BadAnswersAndAbsentValuesAreReported) {
  DVACAnalyticsTransmissionTarget::addAuthenticationProvider(nullptr);
  EXPECT_TRUE(log_.contains("Authentication provider may not be null.", DVACLogLevelError));
  auto orphan = DVACAnalyticsAuthenticationProvider::initWithAuthenticationType(
      DVACAnalyticsAuthenticationTypeCompact, "k", nullptr);
  orphan->acquireTokenAsync();
  EXPECT_TRUE(log_.contains("No completionhandler to acquire token has been set.", DVACLogLevelError));

  provider_->acquireTokenAsync();
  delegate_->handlers[0](std::nullopt, now());
  EXPECT_TRUE(log_.contains("Token must not be null", DVACLogLevelError));
  provider_->acquireTokenAsync();
  delegate_->handlers[1]("t", std::nullopt);
  EXPECT_TRUE(log_.contains("Date must not be null", DVACLogLevelError));
  EXPECT_FALSE(ticket());
  EXPECT_FALSE(provider_->expiryDate());
}

TEST_F(DVACAuthenticationProviderTests, TargetLogsCarryTheTicketKey) {
  auto recorder = start();
  DVACAnalyticsTransmissionTarget::addAuthenticationProvider(provider_);
  delegate_->handlers[0]("tok", now().addingTimeInterval(3600));
  auto target = DVACAnalytics::transmissionTargetForToken(kParentToken);
  target->trackEvent("with_Ticket");
  drain();
  auto csLogs = recorder->preparedOf<DVACCommonSchemaLog>("Analytics/one");
  ASSERT_EQ(csLogs.size(), 1u);
  ASSERT_TRUE(csLogs[0]->ext()->protocolExt);
  EXPECT_EQ(csLogs[0]->ext()->protocolExt->ticketKeys, std::vector<std::string>{DVACUtility::sha256("ticket-key")});
  EXPECT_EQ(delegate_->handlers.size(), 1u);
}

}  // namespace
