// The system version the program sees, as tests and scenarios set it.

#include <gtest/gtest.h>

#include "platform/appkit/NSProcessInfo.h"
#include "platform/sim/Scenario.h"

using appkit::NSOperatingSystemVersion;
using appkit::NSProcessInfo;

namespace {

class ProcessInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::World::shared().reset(); }
  void TearDown() override { sim::World::shared().reset(); }
  NSProcessInfo& info = NSProcessInfo::processInfo();
};

}  // namespace

TEST_F(ProcessInfoTest, TheDesktopIsACurrentSystemUnlessTold) {
  EXPECT_EQ(info.operatingSystemVersion(), (NSOperatingSystemVersion{14, 0, 0}));
  EXPECT_TRUE(info.isOperatingSystemAtLeastVersion({14, 0, 0}));
  EXPECT_FALSE(info.isOperatingSystemAtLeastVersion({14, 0, 1}));

  sim::World::shared().setOperatingSystemVersion({13, 6, 1});
  EXPECT_FALSE(info.isOperatingSystemAtLeastVersion({14, 0, 0}));
  EXPECT_TRUE(info.isOperatingSystemAtLeastVersion({13, 6, 1}));
  EXPECT_TRUE(info.isOperatingSystemAtLeastVersion({13, 5, 9}));
  EXPECT_FALSE(info.isOperatingSystemAtLeastVersion({13, 7, 0}));
  EXPECT_TRUE(info.isOperatingSystemAtLeastVersion({12, 99, 99}));

  sim::World::shared().reset();
  EXPECT_EQ(info.operatingSystemVersion(), (NSOperatingSystemVersion{14, 0, 0}));
}

TEST_F(ProcessInfoTest, AScenarioNamesTheSystemVersion) {
  {
    sim::ScopedScenario scenario(R"({"osVersion": "13.6.1"})");
    EXPECT_EQ(info.operatingSystemVersion(), (NSOperatingSystemVersion{13, 6, 1}));
  }
  EXPECT_EQ(info.operatingSystemVersion(), (NSOperatingSystemVersion{14, 0, 0}));
  {
    sim::ScopedScenario scenario(R"({"osVersion": "12"})");
    EXPECT_EQ(info.operatingSystemVersion(), (NSOperatingSystemVersion{12, 0, 0}));
  }
  {
    sim::ScopedScenario scenario(R"({"osVersion": "15.1"})");
    EXPECT_EQ(info.operatingSystemVersion(), (NSOperatingSystemVersion{15, 1, 0}));
  }
  // Without the key, the default.
  sim::World::shared().setOperatingSystemVersion({11, 0, 0});
  sim::ScopedScenario plain(R"({"permissions": {"accessibility": true}})");
  EXPECT_EQ(info.operatingSystemVersion(), (NSOperatingSystemVersion{14, 0, 0}));
}

TEST_F(ProcessInfoTest, AMalformedVersionRefusesTheScenario) {
  for (const char* value : {R"("")", R"("13.")", R"(".6")", R"("13..6")", R"("13.6.1.2")", R"("13.6b")", R"(" 13")",
                            R"("1234567")", R"("-13")", "13.6", "13", "null", R"(["13"])"}) {
    std::string error;
    const std::string text = std::string(R"({"osVersion": )") + value + "}";
    EXPECT_FALSE(sim::Scenario::parse(text, &error)) << value;
    EXPECT_EQ(error.rfind("osVersion: ", 0), 0u) << error;
  }
  EXPECT_TRUE(sim::Scenario::parse(R"({"osVersion": "999999.0.999999"})"));
}
