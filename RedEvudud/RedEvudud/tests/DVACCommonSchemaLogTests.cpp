#include <gtest/gtest.h>

#include <limits>

#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"

namespace {

using dvac_model_test::keyOrder;
using dvac_model_test::LogLines;
using dvac_model_test::parsedJSON;
using nlohmann::json;

const ns::Date kCSLogWhen = ns::Date::fromTimeIntervalSince1970(1'600'000'000.5);  // 2020-09-13T12:26:40.500Z

std::shared_ptr<DVACCommonSchemaLog> fullLog() {
  auto log = std::make_shared<DVACCommonSchemaLog>();
  log->setVer("3.0");
  log->setName("dockPreview_SelectWindow");
  log->setTimestamp(kCSLogWhen);
  log->setIKey("o:abc");
  log->setFlags(2);
  log->setPopSample(100.0);
  log->setCV("correlation");
  auto ext = std::make_shared<DVACCSExtensions>();
  ext->appExt = std::make_shared<DVACAppExtension>();
  ext->appExt->appId = "I:com.morvalent.Morvalent";
  ext->sdkExt = std::make_shared<DVACSDKExtension>();
  ext->sdkExt->libVer = "redevudud.macos-4.4.3";
  ext->sdkExt->epoch = "0C2A5B8E-2D0D-4C8F-8F1A-0D8D2B3E4F50";
  ext->sdkExt->seq = 7;
  ext->sdkExt->installId = ns::UUID::fromString("d1f0c6a2-5b3e-4a7c-9e2f-1a2b3c4d5e6f");
  log->setExt(ext);
  auto data = std::make_shared<DVACCSData>();
  data->setProperties(ns::Dictionary{{"a", 1}, {"baseType", "type"}, {"baseData", ns::Dictionary{{"x", true}}}});
  log->setData(data);
  // Base fields that the Common Schema JSON leaves out.
  log->setType("ignored");
  log->setSid("sid");
  log->setUserId("user");
  log->setDevice(dvac_model_test::fullDevice());
  return log;
}

TEST(DVACCommonSchemaLogTest, WritesItsKeysInTheFixedOrder) {
  auto log = fullLog();
  auto text = log->serializeLogWithPrettyPrinting(false);
  ASSERT_TRUE(text);
  EXPECT_EQ(keyOrder(*text), (std::vector<std::string>{"ver", "name", "time", "iKey", "flags", "ext", "data"}));
  const json expected = {
      {"ver", "3.0"},
      {"name", "dockPreview_SelectWindow"},
      {"time", "2020-09-13T12:26:40.500Z"},
      {"iKey", "o:abc"},
      {"flags", 2},
      {"ext",
       {{"app", {{"id", "I:com.morvalent.Morvalent"}}},
        {"sdk",
         {{"libVer", "redevudud.macos-4.4.3"},
          {"epoch", "0C2A5B8E-2D0D-4C8F-8F1A-0D8D2B3E4F50"},
          {"installId", "D1F0C6A2-5B3E-4A7C-9E2F-1A2B3C4D5E6F"},
          {"seq", 7}}}}},
      {"data", {{"baseType", "type"}, {"baseData", {{"x", true}}}, {"a", 1}}}};
  EXPECT_EQ(json::parse(*text), expected);
  // "baseType" and "baseData" lead the data object.
  auto dataText = ns::json::write(log->data()->serializeToDictionary());
  ASSERT_TRUE(dataText);
  EXPECT_EQ(keyOrder(*dataText), (std::vector<std::string>{"baseType", "baseData", "a"}));
}

TEST(DVACCommonSchemaLogTest, ZeroFlagsAndMissingFieldsWriteNoKey) {
  DVACCommonSchemaLog log;
  log.setVer("3.0");
  log.setName("n");
  log.setPopSample(50);
  log.setCV("cv");
  EXPECT_EQ(*ns::json::write(log.serializeToDictionary()), R"({"ver":"3.0","name":"n"})");
  log.setFlags(-1);
  log.setData(std::make_shared<DVACCSData>());  // no properties: nothing
  EXPECT_EQ(*ns::json::write(log.serializeToDictionary()), R"({"ver":"3.0","name":"n","flags":-1})");
  EXPECT_EQ(*ns::json::write(DVACCommonSchemaLog().serializeToDictionary()), "{}");
}

TEST(DVACCommonSchemaLogTest, ValidityNeedsTimestampVerAndNameInOrder) {
  {
    LogLines lines;
    DVACCommonSchemaLog log;
    log.setVer("3.0");
    log.setName("n");
    EXPECT_FALSE(log.isValid());
    EXPECT_EQ(lines.at(DVACLogLevelVerbose),
              std::vector<std::string>{"DVACCommonSchemaLog: \"timestamp\" is not valid."});
  }
  {
    LogLines lines;
    DVACCommonSchemaLog log;
    log.setTimestamp(kCSLogWhen);
    EXPECT_FALSE(log.isValid());
    EXPECT_EQ(lines.at(DVACLogLevelVerbose), std::vector<std::string>{"DVACCommonSchemaLog: \"ver\" is not valid."});
  }
  {
    LogLines lines;
    DVACCommonSchemaLog log;
    log.setTimestamp(kCSLogWhen);
    log.setVer("3.0");
    EXPECT_FALSE(log.isValid());
    EXPECT_EQ(lines.at(DVACLogLevelVerbose), std::vector<std::string>{"DVACCommonSchemaLog: \"name\" is not valid."});
  }
  // No type, device or iKey needed.
  LogLines lines;
  DVACCommonSchemaLog log;
  log.setTimestamp(kCSLogWhen);
  log.setVer("3.0");
  log.setName("n");
  EXPECT_TRUE(log.isValid());
  EXPECT_TRUE(lines.lines().empty());
}

TEST(DVACCommonSchemaLogTest, EqualityCoversEveryFieldIncludingUnserialisedOnes) {
  EXPECT_TRUE(fullLog()->isEqual(*fullLog()));
  auto other = fullLog();
  other->setPopSample(99.0);
  EXPECT_FALSE(fullLog()->isEqual(*other));
  other = fullLog();
  other->setCV("other");
  EXPECT_FALSE(fullLog()->isEqual(*other));
  other = fullLog();
  other->ext()->sdkExt->seq = 8;
  EXPECT_FALSE(fullLog()->isEqual(*other));
  other = fullLog();
  other->setData(nullptr);
  EXPECT_FALSE(fullLog()->isEqual(*other));
  other = fullLog();
  other->setUserId("someone else");  // a base field
  EXPECT_FALSE(fullLog()->isEqual(*other));
  other = fullLog();
  other->addTransmissionTargetToken("abc-1");
  EXPECT_TRUE(fullLog()->isEqual(*other));
  // A plain log is not a Common Schema log.
  EXPECT_FALSE(DVACCommonSchemaLog().isEqual(DVACAbstractLog()));
}

TEST(DVACCommonSchemaLogTest, ArchivingKeepsEverythingIncludingExtremeNumbers) {
  auto log = fullLog();
  log->setFlags(std::numeric_limits<int64_t>::min());
  log->setPopSample(-0.25);
  log->ext()->sdkExt->seq = std::numeric_limits<uint64_t>::max();
  auto metadata = std::make_shared<DVACMetadataExtension>();
  metadata->setMetadata(ns::Dictionary{{"f", ns::Dictionary{{"n", int64_t{4}}}}});
  log->ext()->metadataExt = metadata;
  log->ext()->protocolExt = std::make_shared<DVACProtocolExtension>();
  log->ext()->protocolExt->ticketKeys = std::vector<std::string>{"t1", "t2"};
  log->ext()->locExt = std::make_shared<DVACLocExtension>();
  log->ext()->locExt->tz = "-00:30";

  auto restored = dvac_model_test::roundTrip(log);
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->className(), "DVACCommonSchemaLog");
  EXPECT_TRUE(restored->isEqual(*log));
  EXPECT_EQ(restored->flags(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(restored->popSample(), -0.25);
  EXPECT_EQ(restored->cV(), "correlation");
  EXPECT_EQ(restored->ext()->sdkExt->seq, std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(restored->type(), "ignored");
  EXPECT_TRUE(restored->device()->isEqual(*log->device()));
  auto json = parsedJSON(restored->serializeToDictionary());
  EXPECT_EQ(json["ext"]["sdk"]["seq"], json::number_unsigned_t{std::numeric_limits<uint64_t>::max()});
  EXPECT_EQ(json["flags"], std::numeric_limits<int64_t>::min());

  auto empty = dvac_model_test::roundTrip(std::make_shared<DVACCommonSchemaLog>());
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->isEqual(DVACCommonSchemaLog()));
}

}  // namespace
