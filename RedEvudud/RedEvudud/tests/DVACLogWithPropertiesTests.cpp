#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"

namespace {

using dvac_model_test::parsedJSON;
using nlohmann::json;

const ns::Date kPropertiesLogWhen = ns::Date::fromTimeIntervalSince1970(1'700'000'000);

TEST(DVACLogWithPropertiesTest, WritesPropertiesOnlyWhenThereAreSome) {
  DVACLogWithProperties log;
  log.setType("event");
  log.setTimestamp(kPropertiesLogWhen);
  EXPECT_EQ(parsedJSON(log.serializeToDictionary()), json({{"type", "event"}, {"timestamp", "2023-11-14T22:13:20.000Z"}}));
  log.setProperties(DVACPropertiesDictionary{});
  EXPECT_FALSE(parsedJSON(log.serializeToDictionary()).contains("properties"));
  log.setProperties(DVACPropertiesDictionary{{"k", "v"}, {"url", "a/b"}});
  EXPECT_EQ(parsedJSON(log.serializeToDictionary())["properties"], json({{"k", "v"}, {"url", "a/b"}}));
}

TEST(DVACLogWithPropertiesTest, EqualityComparesBaseAndProperties) {
  DVACLogWithProperties a;
  DVACLogWithProperties b;
  EXPECT_TRUE(a.isEqual(b));
  a.setProperties(DVACPropertiesDictionary{{"k", "v"}});
  EXPECT_FALSE(a.isEqual(b));
  b.setProperties(DVACPropertiesDictionary{{"k", "v"}});
  EXPECT_TRUE(a.isEqual(b));
  b.setProperties(DVACPropertiesDictionary{});
  EXPECT_FALSE(a.isEqual(b));
  b.setProperties(a.properties());
  b.setSid("s");
  EXPECT_FALSE(a.isEqual(b));
  // A plain log is not a log with properties.
  EXPECT_FALSE(DVACLogWithProperties().isEqual(DVACAbstractLog()));
}

TEST(DVACLogWithPropertiesTest, RoundTripsBaseFieldsAndProperties) {
  auto log = std::make_shared<DVACLogWithProperties>();
  log->setType("event");
  log->setTimestamp(kPropertiesLogWhen);
  log->setUserId("u");
  log->setDevice(dvac_model_test::fullDevice());
  log->setProperties(DVACPropertiesDictionary{{"k", "v"}, {"empty", ""}});
  auto restored = dvac_model_test::roundTrip(log);
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->className(), "DVACLogWithProperties");
  EXPECT_TRUE(restored->isEqual(*log));
  EXPECT_EQ(restored->properties(), log->properties());

  auto bare = dvac_model_test::roundTrip(std::make_shared<DVACLogWithProperties>());
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->properties());
}

}  // namespace
