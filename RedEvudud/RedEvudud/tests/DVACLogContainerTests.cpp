#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLogContainer.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStartServiceLog.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"

namespace {

using dvac_model_test::LogLines;
using nlohmann::json;

const ns::Date kContainerWhen = ns::Date::fromTimeIntervalSince1970(1'700'000'000);

std::shared_ptr<DVACLogWithProperties> validLog(const std::string& url) {
  auto log = std::make_shared<DVACLogWithProperties>();
  log->setType("event");
  log->setTimestamp(kContainerWhen);
  log->setDevice(dvac_model_test::minimalDevice());
  log->setProperties(DVACPropertiesDictionary{{"url", url}});
  return log;
}

TEST(DVACLogContainerTest, SerializesTheLogsUnderOneKeyWithoutEscapingSlashes) {
  DVACLogContainer container("batch", {validLog("https://example.test/a/b"), validLog("/c")});
  auto text = container.serializeLog();
  ASSERT_TRUE(text);
  EXPECT_EQ(text->find("\\/"), std::string::npos);
  EXPECT_NE(text->find("https://example.test/a/b"), std::string::npos);
  const auto parsed = json::parse(*text);
  ASSERT_EQ(parsed.size(), 1u);
  ASSERT_EQ(parsed["logs"].size(), 2u);
  EXPECT_EQ(parsed["logs"][0], dvac_model_test::parsedJSON(validLog("https://example.test/a/b")->serializeToDictionary()));
  EXPECT_EQ(parsed["logs"][1]["properties"]["url"], "/c");

  auto pretty = container.serializeLogWithPrettyPrinting(true);
  ASSERT_TRUE(pretty);
  EXPECT_NE(pretty->find('\n'), std::string::npos);
  EXPECT_EQ(json::parse(*pretty), parsed);

  EXPECT_EQ(json::parse(*DVACLogContainer().serializeLog()), json({{"logs", json::array()}}));
}

TEST(DVACLogContainerTest, AnUnwritableLogGivesNothingAndAnError) {
  LogLines lines;
  DVACLogContainer container("batch", {validLog("/a"), std::make_shared<dvac_test::UnwritableLog>()});
  EXPECT_FALSE(container.serializeLog());
  const auto errors = lines.at(DVACLogLevelError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Couldn't serialize log container to json: ", 0), 0u);
}

TEST(DVACLogContainerTest, ValidityNeedsLogsAndStopsAtTheFirstInvalidOne) {
  {
    LogLines lines;
    EXPECT_FALSE(DVACLogContainer("batch", {}).isValid());
    EXPECT_EQ(lines.at(DVACLogLevelVerbose),
              std::vector<std::string>{"DVACLogContainer: there are no logs in container."});
  }
  {
    LogLines lines;
    auto noType = validLog("/a");
    noType->setType(std::nullopt);
    auto noTimestamp = validLog("/b");
    noTimestamp->setTimestamp(std::nullopt);
    DVACLogContainer container("batch", {validLog("/ok"), noType, noTimestamp});
    EXPECT_FALSE(container.isValid());
    EXPECT_EQ(lines.at(DVACLogLevelVerbose),
              std::vector<std::string>{"DVACLogWithProperties: \"type\" is not valid."});
  }
  LogLines lines;
  EXPECT_TRUE(DVACLogContainer("batch", {validLog("/a"), validLog("/b")}).isValid());
  EXPECT_TRUE(lines.lines().empty());
}

TEST(DVACLogContainerTest, RoundTripsWithItsLogsInOrder) {
  auto start = std::make_shared<DVACStartServiceLog>();
  start->setTimestamp(kContainerWhen);
  start->setServices(std::vector<std::string>{"Analytics"});
  auto container = std::make_shared<DVACLogContainer>(
      "8D2F4E10-0000-4000-8000-000000000001", std::vector<std::shared_ptr<DVACLog>>{validLog("/a"), start});
  auto restored = dvac_model_test::roundTrip(container);
  ASSERT_TRUE(restored);
  EXPECT_TRUE(restored->isEqual(*container));
  ASSERT_EQ(restored->logs.size(), 2u);
  EXPECT_EQ(restored->logs[1]->className(), "DVACStartServiceLog");

  DVACLogContainer reordered(container->batchId, {container->logs[1], container->logs[0]});
  EXPECT_FALSE(reordered.isEqual(*container));
  DVACLogContainer otherBatch("other", container->logs);
  EXPECT_FALSE(otherBatch.isEqual(*container));
}

}  // namespace
