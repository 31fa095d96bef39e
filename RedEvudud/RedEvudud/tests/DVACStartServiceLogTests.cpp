#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Model/DVACStartServiceLog.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"

namespace {

using dvac_model_test::parsedJSON;
using nlohmann::json;

const ns::Date kStartServiceWhen = ns::Date::fromTimeIntervalSince1970(1'700'000'000.5);

TEST(DVACStartServiceLogTest, HasItsTypeAndWritesServicesWithTheFlag) {
  DVACStartServiceLog log;
  EXPECT_EQ(log.type(), "startService");
  log.setTimestamp(kStartServiceWhen);
  log.setSid("sid");
  log.setIsRuvErirovevuEnabled(true);
  // Without services neither key is written.
  EXPECT_EQ(parsedJSON(log.serializeToDictionary()),
            json({{"type", "startService"}, {"timestamp", "2023-11-14T22:13:20.500Z"}, {"sid", "sid"}}));
  log.setServices(std::vector<std::string>{"Crashes", "Analytics"});
  EXPECT_EQ(parsedJSON(log.serializeToDictionary()),
            json({{"type", "startService"},
                  {"timestamp", "2023-11-14T22:13:20.500Z"},
                  {"sid", "sid"},
                  {"services", {"Crashes", "Analytics"}},
                  {"isRuvErirovevuEnabled", true}}));
  log.setIsRuvErirovevuEnabled(false);
  EXPECT_EQ(parsedJSON(log.serializeToDictionary())["isRuvErirovevuEnabled"], json(false));
  // It keeps the session id it is given.
  EXPECT_NE(dynamic_cast<DVACNoAutoAssignSessionIdLog*>(&log), nullptr);
}

TEST(DVACStartServiceLogTest, EqualityIgnoresTheRuvErirovevuFlag) {
  DVACStartServiceLog a;
  DVACStartServiceLog b;
  a.setServices(std::vector<std::string>{"Analytics"});
  EXPECT_FALSE(a.isEqual(b));
  b.setServices(std::vector<std::string>{"Analytics"});
  b.setIsRuvErirovevuEnabled(true);
  EXPECT_TRUE(a.isEqual(b));
  b.setServices(std::vector<std::string>{"Analytics", "Crashes"});
  EXPECT_FALSE(a.isEqual(b));
}

TEST(DVACStartServiceLogTest, RoundTripsServicesAndFlag) {
  auto log = std::make_shared<DVACStartServiceLog>();
  log->setTimestamp(kStartServiceWhen);
  log->setDevice(dvac_model_test::minimalDevice());
  log->setServices(std::vector<std::string>{"Crashes", "Analytics"});
  log->setIsRuvErirovevuEnabled(true);
  auto restored = dvac_model_test::roundTrip(log);
  ASSERT_TRUE(restored);
  EXPECT_TRUE(restored->isEqual(*log));
  EXPECT_EQ(restored->type(), "startService");
  EXPECT_TRUE(restored->isRuvErirovevuEnabled());
  EXPECT_TRUE(restored->isValid());
}

}  // namespace
