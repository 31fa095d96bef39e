#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <thread>

#include "RedEvudud/RedEvudud/Internals/Model/Util/DVACOrderedDictionary.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACDispatcherUtil.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/appkit/NSApplication.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/sim/World.h"

namespace {

using Opt = std::optional<std::string>;

TEST(DVACUtilityIdentityTest, NamesTheSdk) {
  EXPECT_EQ(DVACUtility::sdkName(), "redevudud.macos");
  EXPECT_EQ(DVACUtility::sdkVersion(), "4.4.3");
  EXPECT_EQ(DVACUtility::currentAppEnvironment(), 99);
  EXPECT_FALSE(DVACUtility::isAppStoreReceiptSandbox());
  EXPECT_FALSE(DVACUtility::hasEmbeddedMobileProvision());
}

// ---- Dates -----------------------------------------------------------------

TEST(DVACUtilityDateTest, FormatsInUtcWithMillisecondsWhateverTheTimeZone) {
  const char* oldTz = getenv("TZ");
  std::optional<std::string> saved = oldTz ? std::optional<std::string>(oldTz) : std::nullopt;
  setenv("TZ", "Pacific/Kiritimati", 1);
  tzset();
  EXPECT_EQ(DVACUtility::dateToISO8601(ns::Date::fromTimeIntervalSince1970(0)), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(DVACUtility::dateToISO8601(ns::Date::fromTimeIntervalSince1970(1'700'000'000.1234)),
            "2023-11-14T22:13:20.123Z");
  EXPECT_EQ(DVACUtility::dateToISO8601(ns::Date::fromTimeIntervalSince1970(951'782'400.999)),
            "2000-02-29T00:00:00.999Z");
  if (saved) {
    setenv("TZ", saved->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(DVACUtilityDateTest, ParsesOnlyTheWireForm) {
  auto date = DVACUtility::dateFromISO8601("2023-11-14T22:13:20.123Z");
  ASSERT_TRUE(date);
  EXPECT_NEAR(date->timeIntervalSince1970(), 1'700'000'000.123, 1e-6);
  EXPECT_EQ(DVACUtility::dateToISO8601(*date), "2023-11-14T22:13:20.123Z");
  for (const char* bad : {"", "2023-11-14", "2023-11-14T22:13:20Z", "2023-11-14T22:13:20.123+01:00",
                          "2023-02-30T00:00:00.000Z", "2023-11-14T24:00:00.000Z", "garbage"}) {
    EXPECT_FALSE(DVACUtility::dateFromISO8601(bad)) << bad;
  }
}

TEST(DVACUtilityDateTest, SharedFormatterIsMadeOnceUntilReset) {
  auto first = DVACUtility::ISO8601DateFormatter();
  EXPECT_EQ(first, DVACUtility::ISO8601DateFormatter());
  EXPECT_EQ(first->dateFormat(), "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'");
  EXPECT_EQ(first->timeZone(), "UTC");
  DVACUtility::resetDateFormatterInstance();
  auto second = DVACUtility::ISO8601DateFormatter();
  EXPECT_NE(first, second);
  EXPECT_EQ(second->stringFromDate(ns::Date(0)), "1970-01-01T00:00:00.000Z");
}

TEST(DVACUtilityDateTest, NowInMillisecondsIsNotRounded) {
  double before = ns::Date::now().timeIntervalSince1970() * 1000.0;
  double now = DVACUtility::nowInMilliseconds();
  double after = ns::Date::now().timeIntervalSince1970() * 1000.0;
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
}

// ---- Configuration strings ---------------------------------------------------

struct SecretCase {
  Opt input;
  Opt appSecret;
  Opt targetToken;
};

TEST(DVACUtilityConfigurationStringTest, ParsesSecretsAndTargetTokens) {
  const SecretCase cases[] = {
      {std::nullopt, std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {";;", std::nullopt, std::nullopt},
      {"abc-123", "abc-123", std::nullopt},
      {"abc-123;", "abc-123", std::nullopt},
      {"appsecret=abc-123", "abc-123", std::nullopt},
      {"appsecret=", std::nullopt, std::nullopt},
      {"target=tok-1", std::nullopt, "tok-1"},
      {"target=", std::nullopt, std::nullopt},
      {"target=;target=tok-2", std::nullopt, "tok-2"},
      {"abc-123;target=tok-1", "abc-123", "tok-1"},
      {"target=tok-1;appsecret=abc", "abc", "tok-1"},
      {"appsecret=abc;macos=mac-secret", "mac-secret", std::nullopt},
      {"macos=mac-secret;appsecret=abc", "mac-secret", std::nullopt},
      {"ios=i-secret;macos=mac-secret;target=tok", "mac-secret", "tok"},
      {"ios=i-secret;target=tok", "ios=i-secret", "tok"},  // another key=value form comes back whole
      {"macos=", std::nullopt, std::nullopt},
      {"bare;macos=m", "m", std::nullopt},  // once platforms are named, only the platform's part counts
      {"first;second", "first", std::nullopt},
      {";appsecret=;second", "second", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.value_or("<nil>"));
    EXPECT_EQ(DVACUtility::appSecretFrom(c.input), c.appSecret);
    EXPECT_EQ(DVACUtility::transmissionTargetTokenFrom(c.input), c.targetToken);
  }
}

TEST(DVACUtilityConfigurationStringTest, TargetAndInstrumentationKeys) {
  EXPECT_EQ(DVACUtility::targetKeyFromTargetToken("abc-def-1"), Opt("abc"));
  EXPECT_EQ(DVACUtility::targetKeyFromTargetToken("nodash"), Opt("nodash"));
  EXPECT_EQ(DVACUtility::targetKeyFromTargetToken("-abc"), std::nullopt);
  EXPECT_EQ(DVACUtility::targetKeyFromTargetToken(""), std::nullopt);
  EXPECT_EQ(DVACUtility::targetKeyFromTargetToken(std::nullopt), std::nullopt);
  EXPECT_EQ(DVACUtility::iKeyFromTargetToken("abc-def"), Opt("o:abc"));
  EXPECT_EQ(DVACUtility::iKeyFromTargetToken("-abc"), std::nullopt);
}

TEST(DVACUtilityStringTest, Sha256OfUtf8Bytes) {
  EXPECT_EQ(DVACUtility::sha256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(DVACUtility::sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Non-ASCII text hashes its UTF-8 bytes.
  EXPECT_EQ(DVACUtility::sha256("\xC3\xA9"), "4a99557e4033c3539de2eb65472017cad5f9557f7a0625a09f1c3f6e2ba69c4c");
  EXPECT_EQ(DVACUtility::sha256("\xE6\x97\xA5\xE6\x9C\xAC"),
            "cf2abf0c5be326cb922a70f8163f91079c4d9aa8655c60ead89ad545c9de2e92");
  EXPECT_NE(DVACUtility::sha256("\xC3\xA9"), DVACUtility::sha256("\xE9"));
}

TEST(DVACUtilityStringTest, PrettyPrintsJsonAndPassesOtherTextThrough) {
  auto data = [](std::string_view s) { return std::optional<ns::Data>(ns::Data(s.begin(), s.end())); };
  EXPECT_EQ(DVACUtility::prettyPrintJson(std::nullopt), std::nullopt);
  EXPECT_EQ(DVACUtility::prettyPrintJson(data("not json {")), Opt("not json {"));
  EXPECT_EQ(DVACUtility::prettyPrintJson(data("")), Opt(""));
  EXPECT_EQ(DVACUtility::prettyPrintJson(data("\xFF\xFE")), std::nullopt);
  auto pretty = DVACUtility::prettyPrintJson(data(R"({"url":"https:\/\/x.example\/a","n":[1,2]})"));
  ASSERT_TRUE(pretty);
  EXPECT_NE(pretty->find("\n"), std::string::npos);
  EXPECT_NE(pretty->find("https://x.example/a"), std::string::npos);
  EXPECT_EQ(pretty->find("\\/"), std::string::npos);
}

TEST(DVACUtilityStringTest, ObfuscatesCaseInsensitivelyWithCaptureReferences) {
  ns::LogCapture capture;
  DVACLogger::resetForTesting();
  EXPECT_EQ(DVACUtility::obfuscateString(std::nullopt, "x", "y"), std::nullopt);
  EXPECT_EQ(DVACUtility::obfuscateString(Opt("Token: abc; TOKEN: def"), "(token): \\w+", "$1: ***"),
            Opt("Token: ***; TOKEN: ***"));
  EXPECT_EQ(DVACUtility::obfuscateString(Opt("a1b22"), "[0-9]+", "<\\$$0>"), Opt("a<$1>b<$22>"));
  EXPECT_EQ(DVACUtility::obfuscateString(Opt("abc"), "x*", "-"), Opt("-a-b-c-"));
  // The ingestion's response masking, on a payload far larger than any stack.
  const std::string tokenPattern = R"("token"\s*:\s*"[^"]+")";
  std::string payload = R"({"TOKEN" :  ")" + std::string(2'000'000, 'z') + R"(", "token":"", "n": 1})";
  EXPECT_EQ(DVACUtility::obfuscateString(payload, tokenPattern, R"("token" : "***")"),
            Opt(R"({"token" : "***", "token":"", "n": 1})"));
  DVACLogger::setCurrentLogLevel(DVACLogLevelError);
  EXPECT_EQ(DVACUtility::obfuscateString(Opt("abc"), "([", "x"), std::nullopt);
  EXPECT_EQ(capture.countContaining("Couldn't create regular expression with pattern\"([\": "), 1u);
  DVACLogger::resetForTesting();
}

// ---- Property validation -----------------------------------------------------

class DVACPropertyValidationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DVACLogger::resetForTesting();
    DVACLogger::setCurrentLogLevel(DVACLogLevelWarning);
  }
  void TearDown() override { DVACLogger::resetForTesting(); }
  ns::LogCapture capture_;
};

TEST_F(DVACPropertyValidationTest, KeepsTwentyInEnumerationOrder) {
  ns::OrderedDictionary input;
  for (int i = 0; i < 25; ++i) input.set("k" + std::to_string(100 - i), ns::Value("v" + std::to_string(i)));
  auto valid = DVACUtility::validateProperties(ns::Value(input), "myEvent", "Event");
  ASSERT_EQ(valid.size(), 20u);
  EXPECT_EQ(valid.count("k100"), 1u);
  EXPECT_EQ(valid.count("k81"), 1u);
  EXPECT_EQ(valid.count("k80"), 0u);
  EXPECT_EQ(capture_.count(), 1u);
  EXPECT_TRUE(
      capture_.contains("Event 'myEvent' : properties cannot contain more than 20 items. Skipping other properties."));

  // Exactly twenty: no warning.
  capture_.clear();
  ns::Dictionary twenty;
  for (int i = 0; i < 20; ++i) twenty["k" + std::to_string(i)] = ns::Value("v");
  EXPECT_EQ(DVACUtility::validateProperties(ns::Value(twenty), "e", "Event").size(), 20u);
  EXPECT_EQ(capture_.count(), 0u);
}

TEST_F(DVACPropertyValidationTest, CutsKeysAndValuesAtTheBoundary) {
  const std::string k124(124, 'k'), k125(125, 'k'), k126(126, 'k'), k200(200, 'k');
  const std::string v125(125, 'v'), v200(200, 'v');
  auto valid = DVACUtility::validateProperties(DVACPropertiesDictionary{{k124, "a"}, {k125, v125}}, "e", "Event");
  EXPECT_EQ(valid.size(), 2u);
  EXPECT_EQ(valid.at(k125), v125);
  EXPECT_EQ(capture_.count(), 0u);

  valid = DVACUtility::validateProperties(DVACPropertiesDictionary{{k200, v200}}, "e", "Event");
  ASSERT_EQ(valid.size(), 1u);
  EXPECT_EQ(valid.begin()->first, k125);
  EXPECT_EQ(valid.begin()->second, std::string(125, 'v'));
  EXPECT_EQ(capture_.count(), 2u);
  EXPECT_TRUE(capture_.contains("Event 'e' : property " + k200 +
                                " : property key length cannot be longer than 125 characters. "
                                "Property key will be truncated."));
  EXPECT_TRUE(capture_.contains("Event 'e' : property '" + k125 +
                                "' : property value cannot be longer than 125 characters. "
                                "Property value will be truncated."));

  // Two keys equal once cut: the later one wins.
  valid = DVACUtility::validateProperties(DVACPropertiesDictionary{{k126 + "a", "first"}, {k126 + "b", "second"}}, "e",
                                          "Event");
  ASSERT_EQ(valid.size(), 1u);
  EXPECT_EQ(valid.at(k125), "second");
}

TEST_F(DVACPropertyValidationTest, CountsUtf16UnitsAndNeverSplitsASurrogatePair) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
  std::string value(124, 'a');
  value += emoji;  // 126 units: the pair straddles the limit
  std::string key(62, 'b');
  for (int i = 0; i < 31; ++i) key += emoji;  // 62 + 62 = 124 units: no cut
  auto valid = DVACUtility::validateProperties(DVACPropertiesDictionary{{key, value}}, "e", "Event");
  ASSERT_EQ(valid.size(), 1u);
  EXPECT_EQ(valid.begin()->first, key);
  EXPECT_EQ(valid.begin()->second, std::string(124, 'a'));
  EXPECT_EQ(capture_.count(), 1u);

  // 125 "é" (one unit, two bytes each) are not cut.
  std::string accents;
  for (int i = 0; i < 125; ++i) accents += "\xC3\xA9";
  valid = DVACUtility::validateProperties(DVACPropertiesDictionary{{"k", accents}}, "e", "Event");
  EXPECT_EQ(valid.at("k"), accents);
}

TEST_F(DVACPropertyValidationTest, SkipsEmptyKeysWithAWarningAndNonStringsSilently) {
  ns::OrderedDictionary input{{"", ns::Value("x")},
                              {"number", ns::Value(42)},
                              {"list", ns::Value(ns::Array{ns::Value("a")})},
                              {"null", ns::Value::null()},
                              {"ok", ns::Value("yes")}};
  auto valid = DVACUtility::validateProperties(ns::Value(input), "e", "Event");
  EXPECT_EQ(valid, (DVACPropertiesDictionary{{"ok", "yes"}}));
  EXPECT_EQ(capture_.count(), 1u);
  EXPECT_TRUE(capture_.contains("Event 'e' : a property key cannot be null or empty. Property will be skipped."));
}

TEST_F(DVACPropertyValidationTest, AbsentOrNonDictionaryInputGivesAnEmptyDictionary) {
  EXPECT_TRUE(DVACUtility::validateProperties(ns::Value::null(), "e", "Event").empty());
  EXPECT_TRUE(DVACUtility::validateProperties(ns::Value("text"), "e", "Event").empty());
  EXPECT_EQ(capture_.count(), 0u);
}

// ---- Ordered dictionary --------------------------------------------------------

TEST(DVACOrderedDictionaryTest, KeepsFirstInsertionOrder) {
  DVACOrderedDictionary dictionary(4);
  dictionary.setObject(ns::Value(1), "b");
  dictionary.setObject(ns::Value(2), "a");
  dictionary.setObject(ns::Value(3), "b");
  EXPECT_EQ(dictionary.keyEnumerator(), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(dictionary.count(), 2u);
  ASSERT_NE(dictionary.objectForKey("b"), nullptr);
  EXPECT_EQ(*dictionary.objectForKey("b"), ns::Value(3));
  EXPECT_EQ(dictionary.objectForKey("c"), nullptr);

  DVACOrderedDictionary copy = dictionary.mutableCopy();
  copy.setObject(ns::Value(4), "c");
  EXPECT_EQ(dictionary.count(), 2u);
  EXPECT_EQ(copy.count(), 3u);

  dictionary.removeAllObjects();
  EXPECT_EQ(dictionary.count(), 0u);
  EXPECT_TRUE(dictionary.keyEnumerator().empty());
}

TEST(DVACOrderedDictionaryTest, EqualityNeedsTheSameOrder) {
  DVACOrderedDictionary ab, ba, ab2;
  ab.setObject(ns::Value(1), "a");
  ab.setObject(ns::Value(2), "b");
  ab2 = ab.mutableCopy();
  ba.setObject(ns::Value(2), "b");
  ba.setObject(ns::Value(1), "a");
  EXPECT_TRUE(ab.isEqualToDictionary(ab2));
  EXPECT_FALSE(ab.isEqualToDictionary(ba));
  EXPECT_TRUE(ab.isEqualToDictionary(ab.toValue()));
  // A plain dictionary with the same entries is not an ordered one.
  EXPECT_FALSE(ab.isEqualToDictionary(ns::Value(ns::Dictionary{{"a", ns::Value(1)}, {"b", ns::Value(2)}})));
}

// ---- Dispatcher --------------------------------------------------------------

TEST(DVACDispatcherUtilTest, MainThreadBlocksRunOnALaterTurn) {
  dispatch::VirtualClockScope clock;
  int runs = 0;
  DVACDispatcherUtil::performBlockOnMainThread([&] { ++runs; });
  EXPECT_EQ(runs, 0);
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_EQ(runs, 1);
}

TEST(DVACDispatcherUtilTest, SyncWithTimeoutWaitsForTheBlockOrGivesUp) {
  auto queue = dispatch::Queue::makeSerial("com.morvalent.tests.dispatcher");
  std::atomic<int> runs{0};
  EXPECT_TRUE(DVACDispatcherUtil::dispatchSyncWithTimeout(10, queue, [&] { ++runs; }));
  EXPECT_EQ(runs.load(), 1);

  // A blocked queue: the wait ends, and the block still runs afterwards.
  auto gate = std::make_shared<dispatch::Semaphore>(0);
  queue->async([gate] { gate->wait(); });
  EXPECT_FALSE(DVACDispatcherUtil::dispatchSyncWithTimeout(0.01, queue, [&] { ++runs; }));
  gate->signal();
  queue->sync([] {});
  EXPECT_EQ(runs.load(), 2);
}

TEST(DVACUtilityApplicationTest, StateFollowsTheThreadAndTheSharedApplication) {
  dispatch::VirtualClockScope clock;
  sim::World& world = sim::World::shared();
  world.reset();
  std::optional<DVACApplicationState> onMain;
  dispatch::Queue::main()->async([&] { onMain = DVACUtility::applicationState(); });
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_EQ(onMain, DVACApplicationStateActive);
  world.setApplicationHidden(world.selfPid(), true);
  dispatch::Queue::main()->async([&] { onMain = DVACUtility::sharedAppState(); });
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_EQ(onMain, DVACApplicationStateBackground);

  DVACApplicationState offMain = DVACApplicationStateActive;
  std::thread([&] { offMain = DVACUtility::sharedAppState(); }).join();
  EXPECT_EQ(offMain, DVACApplicationStateUnknown);
  world.reset();
}

TEST(DVACUtilityApplicationTest, TheSharedApplicationItsDelegateAndOpeningAUrl) {
  dispatch::VirtualClockScope clock;
  sim::World& world = sim::World::shared();
  world.reset();
  sim::ApplicationSpec mail;
  mail.bundleURL = "file:///Applications/Mail.app/";
  const pid_t pid = world.launchApplication(mail);
  struct Delegate : appkit::NSApplicationDelegate {};
  auto delegate = std::make_shared<Delegate>();
  appkit::NSApplication::shared().storeDelegate(delegate);
  EXPECT_EQ(&DVACUtility::sharedApp(), &appkit::NSApplication::shared());
  EXPECT_EQ(DVACUtility::sharedAppDelegate(), delegate);

  std::vector<bool> results;
  for (const char* url : {"file:///Applications/Mail.app/", "file:///Applications/None.app/"}) {
    DVACUtility::sharedAppOpenUrl(*ns::URL::URLWithString(url), {}, [&](bool opened) { results.push_back(opened); });
  }
  EXPECT_TRUE(results.empty());  // on a later turn of the main queue
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_EQ(results, (std::vector<bool>{true, false}));
  EXPECT_EQ(world.frontmostApplication(), pid);
  EXPECT_EQ(world.openedURLs().size(), 2u);
  appkit::NSApplication::shared().resetForTesting();
  world.reset();
}

}  // namespace
