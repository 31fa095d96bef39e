#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACAbstractLog.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"
#include "platform/foundation/Bundle.h"

namespace {

using dvac_model_test::fullDevice;
using dvac_model_test::LogLines;
using dvac_model_test::minimalDevice;
using dvac_model_test::parsedJSON;
using nlohmann::json;

const ns::Date kAbstractLogWhen = ns::Date::fromTimeIntervalSince1970(1'700'000'000.123);  // 2023-11-14T22:13:20.123Z

// An object to use as a tag.
class Marker : public ns::Object {
 public:
  explicit Marker(int id) : id(id) {}
  int id;
  std::string className() const override { return "Marker"; }
  bool isEqual(const ns::Object& other) const override {
    auto* marker = dynamic_cast<const Marker*>(&other);
    return marker && marker->id == id;
  }
};

std::shared_ptr<DVACAbstractLog> completeLog() {
  auto log = std::make_shared<DVACAbstractLog>();
  log->setType("event");
  log->setTimestamp(kAbstractLogWhen);
  log->setSid("5F2C0B6A-3E40-4E7B-9A59-4C6A1B2F3D4E");
  log->setDistributionGroupId("group");
  log->setUserId("alice");
  log->setDevice(fullDevice());
  return log;
}

TEST(DVACAbstractLogTest, SerializesOnlyTheFieldsThatAreSet) {
  DVACAbstractLog log;
  log.setType("startService");
  log.setTimestamp(kAbstractLogWhen);
  log.setTag(std::make_shared<Marker>(1));
  log.addTransmissionTargetToken("abc-def");
  EXPECT_EQ(parsedJSON(log.serializeToDictionary()),
            json({{"type", "startService"}, {"timestamp", "2023-11-14T22:13:20.123Z"}}));
}

TEST(DVACAbstractLogTest, SerializesEveryFieldWithTheDeviceNested) {
  auto log = completeLog();
  const json expected = {{"type", "event"},
                         {"timestamp", "2023-11-14T22:13:20.123Z"},
                         {"sid", "5F2C0B6A-3E40-4E7B-9A59-4C6A1B2F3D4E"},
                         {"distributionGroupId", "group"},
                         {"userId", "alice"},
                         {"device", parsedJSON(fullDevice()->serializeToDictionary())}};
  EXPECT_EQ(parsedJSON(log->serializeToDictionary()), expected);

  auto text = log->serializeLogWithPrettyPrinting(false);
  ASSERT_TRUE(text);
  EXPECT_EQ(json::parse(*text), expected);
  auto pretty = log->serializeLogWithPrettyPrinting(true);
  ASSERT_TRUE(pretty);
  EXPECT_NE(pretty->find('\n'), std::string::npos);
  EXPECT_EQ(json::parse(*pretty), expected);
}

TEST(DVACAbstractLogTest, JsonTextKeepsSlashesAndBackslashesIntact) {
  DVACAbstractLog log;
  log.setType("event");
  log.setUserId("https://example.test/a\\/b");
  auto text = log.serializeLogWithPrettyPrinting(false);
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("https://example.test/a"), std::string::npos);
  EXPECT_EQ(text->find("\\/b\""), text->find("\\\\/b\"") + 1);  // the backslash stays escaped
  EXPECT_EQ(json::parse(*text)["userId"], "https://example.test/a\\/b");
}

TEST(DVACAbstractLogTest, ValidityNamesTheFirstMissingField) {
  {
    LogLines log;
    DVACAbstractLog empty;
    EXPECT_FALSE(empty.isValid());
    EXPECT_EQ(log.at(DVACLogLevelVerbose), std::vector<std::string>{"DVACAbstractLog: \"type\" is not valid."});
  }
  {
    LogLines log;
    DVACAbstractLog typed;
    typed.setType("event");
    EXPECT_FALSE(typed.isValid());
    EXPECT_EQ(log.at(DVACLogLevelVerbose), std::vector<std::string>{"DVACAbstractLog: \"timestamp\" is not valid."});
  }
  {
    LogLines log;
    DVACAbstractLog noDevice;
    noDevice.setType("event");
    noDevice.setTimestamp(kAbstractLogWhen);
    EXPECT_FALSE(noDevice.isValid());
    EXPECT_EQ(log.at(DVACLogLevelVerbose), std::vector<std::string>{"DVACAbstractLog: \"device\" is not valid."});
  }
  {
    // The device names its own missing field first.
    LogLines log;
    auto device = minimalDevice();
    device->appBuild.reset();
    auto withBadDevice = completeLog();
    withBadDevice->setDevice(device);
    EXPECT_FALSE(withBadDevice->isValid());
    EXPECT_EQ(log.at(DVACLogLevelVerbose), (std::vector<std::string>{"DVACDevice: \"appBuild\" is not valid.",
                                                                      "DVACAbstractLog: \"device\" is not valid."}));
  }
  LogLines log;
  EXPECT_TRUE(completeLog()->isValid());
  EXPECT_TRUE(log.lines().empty());
}

TEST(DVACAbstractLogTest, EqualityComparesFieldsAndTagButNotTokens) {
  auto a = completeLog();
  auto b = completeLog();
  EXPECT_TRUE(a->isEqual(*b));

  a->addTransmissionTargetToken("one-token");
  EXPECT_TRUE(a->isEqual(*b));

  a->setTag(std::make_shared<Marker>(1));
  EXPECT_FALSE(a->isEqual(*b));
  b->setTag(std::make_shared<Marker>(1));
  EXPECT_TRUE(a->isEqual(*b));
  b->setTag(std::make_shared<Marker>(2));
  EXPECT_FALSE(a->isEqual(*b));

  b = completeLog();
  b->setTag(a->tag());
  b->setTimestamp(kAbstractLogWhen.addingTimeInterval(0.001));
  EXPECT_FALSE(a->isEqual(*b));

  b = completeLog();
  b->setTag(a->tag());
  auto device = fullDevice();
  device->model = "Other";
  b->setDevice(device);
  EXPECT_FALSE(a->isEqual(*b));

  b->setDevice(nullptr);
  EXPECT_FALSE(a->isEqual(*b));
  EXPECT_TRUE(DVACAbstractLog().isEqual(DVACAbstractLog()));
  EXPECT_FALSE(DVACAbstractLog().isEqual(Marker(1)));
}

TEST(DVACAbstractLogTest, ArchivingRestoresTheCodedFieldsOnly) {
  auto log = completeLog();
  log->setTag(std::make_shared<Marker>(7));
  log->addTransmissionTargetToken("abc-def");
  auto restored = dvac_model_test::roundTrip(log);
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->className(), "DVACAbstractLog");
  EXPECT_EQ(restored->type(), "event");
  EXPECT_EQ(restored->timestamp(), kAbstractLogWhen);
  EXPECT_EQ(restored->sid(), log->sid());
  EXPECT_EQ(restored->distributionGroupId(), "group");
  EXPECT_EQ(restored->userId(), "alice");
  ASSERT_TRUE(restored->device());
  EXPECT_TRUE(restored->device()->isEqual(*log->device()));
  EXPECT_EQ(restored->tag(), nullptr);
  EXPECT_EQ(restored->transmissionTargetTokens(), nullptr);
  log->setTag(nullptr);
  EXPECT_TRUE(restored->isEqual(*log));

  auto empty = dvac_model_test::roundTrip(std::make_shared<DVACAbstractLog>());
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->isEqual(DVACAbstractLog()));
}

TEST(DVACAbstractLogTest, TokensAreASetReplacedNotMutated) {
  DVACAbstractLog log;
  EXPECT_EQ(log.transmissionTargetTokens(), nullptr);
  log.addTransmissionTargetToken("t1");
  auto snapshot = log.transmissionTargetTokens();
  log.addTransmissionTargetToken("t1");
  log.addTransmissionTargetToken("t2");
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(*snapshot, std::set<std::string>{"t1"});
  EXPECT_EQ(*log.transmissionTargetTokens(), (std::set<std::string>{"t1", "t2"}));
  log.setTransmissionTargetTokens(nullptr);
  EXPECT_EQ(log.transmissionTargetTokens(), nullptr);
}

TEST(DVACAbstractLogTest, ConversionWithoutTokensGivesNothing) {
  auto log = completeLog();
  EXPECT_FALSE(log->toCommonSchemaLogsWithFlags(DVACLogFlagsNormal));
  log->setTransmissionTargetTokens(std::make_shared<const std::set<std::string>>());
  EXPECT_FALSE(log->toCommonSchemaLogsWithFlags(DVACLogFlagsNormal));
}

TEST(DVACAbstractLogTest, ConversionMakesOneCommonSchemaLogPerTarget) {
  auto bundle = ns::Bundle::withInfoDictionary({{"CFBundleIdentifier", "com.example.app"}});
  bundle->setPreferredLocalizations({"fr", "en"});
  auto previous = ns::Bundle::main();
  ns::Bundle::setMain(bundle);

  auto log = completeLog();
  log->addTransmissionTargetToken("abc-def-123");
  log->addTransmissionTargetToken("xyz-1");
  auto csLogs = log->toCommonSchemaLogsWithFlags(DVACLogFlagsCritical);
  ns::Bundle::setMain(previous);
  ASSERT_TRUE(csLogs);
  ASSERT_EQ(csLogs->size(), 2u);

  const auto& first = (*csLogs)[0];
  EXPECT_EQ(*first->transmissionTargetTokens(), std::set<std::string>{"abc-def-123"});
  EXPECT_EQ(first->iKey(), "o:abc");
  EXPECT_EQ(*(*csLogs)[1]->transmissionTargetTokens(), std::set<std::string>{"xyz-1"});
  EXPECT_EQ((*csLogs)[1]->iKey(), "o:xyz");

  const json expected = {{"ver", "3.0"},
                         {"time", "2023-11-14T22:13:20.123Z"},
                         {"iKey", "o:abc"},
                         {"flags", 2},
                         {"ext",
                          {{"protocol", {{"devMake", "LENOVO"}, {"devModel", "ThinkPad X1"}}},
                           {"user", {{"localId", "c:alice"}, {"locale", "en-US"}}},
                           {"os", {{"name", "Debian GNU/Linux"}, {"ver", "Version 12 (Build 6.1.0-18-amd64)"}}},
                           {"app", {{"id", "I:com.morvalent.Morvalent"}, {"ver", "1.2"}, {"locale", "fr"}}},
                           {"net", {{"provider", "Carrier"}}},
                           {"sdk", {{"libVer", "redevudud.macos-4.4.3"}}},
                           {"loc", {{"tz", "-05:30"}}}}}};
  EXPECT_EQ(parsedJSON(first->serializeToDictionary()), expected);
  // The device extension is there, empty, and so left out of the JSON.
  ASSERT_TRUE(first->ext()->deviceExt);
  EXPECT_FALSE(first->ext()->deviceExt->localId);
  EXPECT_FALSE(first->name());
  EXPECT_FALSE(first->data());
  EXPECT_EQ(first->ext()->sdkExt->seq, 0u);
  EXPECT_FALSE(first->ext()->metadataExt);
  // Not valid until a name is given (the event log's conversion adds it).
  LogLines lines;
  EXPECT_FALSE(first->isValid());
  EXPECT_EQ(lines.at(DVACLogLevelVerbose), std::vector<std::string>{"DVACCommonSchemaLog: \"name\" is not valid."});
}

TEST(DVACAbstractLogTest, ConversionSkipsTokensWithoutTargetKeyOnlyInTheIKey) {
  auto log = completeLog();
  log->setUserId("c:bob");
  log->addTransmissionTargetToken("-starts-with-dash");
  auto csLogs = log->toCommonSchemaLogsWithFlags(DVACLogFlagsNormal);
  ASSERT_TRUE(csLogs);
  ASSERT_EQ(csLogs->size(), 1u);
  EXPECT_FALSE((*csLogs)[0]->iKey());
  EXPECT_EQ((*csLogs)[0]->flags(), 1);
  EXPECT_EQ((*csLogs)[0]->ext()->userExt->localId, "c:bob");
}

TEST(DVACAbstractLogTest, ConversionOfALogWithoutDeviceOrUserLeavesThoseFieldsOut) {
  DVACAbstractLog log;
  log.setType("event");
  log.setTimestamp(kAbstractLogWhen);
  log.addTransmissionTargetToken("abc-1");
  auto csLogs = log.toCommonSchemaLogsWithFlags(DVACLogFlagsNone);
  ASSERT_TRUE(csLogs);
  const auto json = parsedJSON((*csLogs)[0]->serializeToDictionary());
  EXPECT_FALSE(json.contains("flags"));
  // Only the application's locale is known.
  EXPECT_EQ(json["ext"], nlohmann::json({{"app", {{"locale", "en"}}}}));
}

TEST(DVACAbstractLogTest, CombinesOsVersionAndBuild) {
  EXPECT_EQ(DVACAbstractLog::combineOsVersion("12.6.1", "21G217"), "Version 12.6.1 (Build 21G217)");
  EXPECT_EQ(DVACAbstractLog::combineOsVersion("13.0", ""), "Version 13.0");
  EXPECT_EQ(DVACAbstractLog::combineOsVersion("13.0", std::nullopt), "Version 13.0");
  EXPECT_EQ(DVACAbstractLog::combineOsVersion("", ""), std::nullopt);
  EXPECT_EQ(DVACAbstractLog::combineOsVersion(std::nullopt, std::nullopt), std::nullopt);
  EXPECT_EQ(DVACAbstractLog::combineOsVersion(std::nullopt, "21G217"), "(Build 21G217)");
}

TEST(DVACAbstractLogTest, CombinesSdkNameAndVersion) {
  EXPECT_EQ(DVACAbstractLog::combineSDKLibVer("redevudud.macos", "4.4.3"), "redevudud.macos-4.4.3");
  EXPECT_EQ(DVACAbstractLog::combineSDKLibVer("redevudud.macos", ""), std::nullopt);
  EXPECT_EQ(DVACAbstractLog::combineSDKLibVer(std::nullopt, "4.4.3"), std::nullopt);
}

TEST(DVACAbstractLogTest, FormatsTimeZoneOffsetsWithTheirSign) {
  EXPECT_EQ(DVACAbstractLog::convertTimeZoneOffsetToISO8601(120), "+02:00");
  EXPECT_EQ(DVACAbstractLog::convertTimeZoneOffsetToISO8601(-330), "-05:30");
  EXPECT_EQ(DVACAbstractLog::convertTimeZoneOffsetToISO8601(345), "+05:45");
  EXPECT_EQ(DVACAbstractLog::convertTimeZoneOffsetToISO8601(0), "+00:00");
  // Less than an hour west of UTC keeps its minus.
  EXPECT_EQ(DVACAbstractLog::convertTimeZoneOffsetToISO8601(-30), "-00:30");
  EXPECT_EQ(DVACAbstractLog::convertTimeZoneOffsetToISO8601(-1), "-00:01");
  EXPECT_EQ(DVACAbstractLog::convertTimeZoneOffsetToISO8601(-59), "-00:59");
  EXPECT_EQ(DVACAbstractLog::convertTimeZoneOffsetToISO8601(-60), "-01:00");
  EXPECT_EQ(DVACAbstractLog::convertTimeZoneOffsetToISO8601(840), "+14:00");
  EXPECT_EQ(DVACAbstractLog::convertTimeZoneOffsetToISO8601(std::numeric_limits<int64_t>::min()),
            "-153722867280912930:08");
}

}  // namespace
