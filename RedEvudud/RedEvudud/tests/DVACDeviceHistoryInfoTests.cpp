#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceHistoryInfo.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"

namespace {

TEST(DVACDeviceHistoryInfoTest, RoundTripsItsTimestampAndDevice) {
  auto info = std::make_shared<DVACDeviceHistoryInfo>(ns::Date(1'700'000'000.5), dvac_model_test::fullDevice());
  auto restored = dvac_model_test::roundTrip(info);
  ASSERT_TRUE(restored);
  EXPECT_TRUE(restored->isEqual(*info));
  EXPECT_EQ(restored->timestamp, info->timestamp);
  ASSERT_TRUE(restored->device);
  EXPECT_TRUE(restored->device->isEqual(*info->device));

  auto withoutDevice = dvac_model_test::roundTrip(std::make_shared<DVACDeviceHistoryInfo>(ns::Date(1), nullptr));
  ASSERT_TRUE(withoutDevice);
  EXPECT_EQ(withoutDevice->device, nullptr);
  EXPECT_FALSE(withoutDevice->isEqual(*info));
}

// What an earlier release archived under its own class names.
class LegacyDeviceHistoryInfo : public ns::Coding {
 public:
  std::string className() const override { return "DVDeviceHistoryInfo"; }
  void encodeWithCoder(ns::KeyedArchiver& coder) const override {
    coder.encodeObject(ns::Value(ns::Date(5)), "timestampKey");
    auto device = dvac_model_test::minimalDevice();
    coder.encodeObject(ns::Value(device), "deviceKey");
  }
};

TEST(DVACDeviceHistoryInfoTest, OldClassNameDecodesThroughTheMigrations) {
  DVACUtility::addMigrationClasses(DVACUtility::redEvududMigrationClasses());
  auto data = ns::KeyedArchiver::archivedDataWithRootObject(ns::Value(std::make_shared<LegacyDeviceHistoryInfo>()));
  auto value = DVACUtility::unarchiveKeyedData(data);
  DVACUtility::removeMigrationClassesForTesting();
  ASSERT_TRUE(value);
  auto info = value->objectAs<DVACDeviceHistoryInfo>();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->timestamp, ns::Date(5));
  ASSERT_TRUE(info->device);
  EXPECT_TRUE(info->device->isEqual(*dvac_model_test::minimalDevice()));
}

}  // namespace
