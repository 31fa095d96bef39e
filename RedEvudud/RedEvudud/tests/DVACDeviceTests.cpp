#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "RedEvudud/RedEvudud/Model/DVACWrapperSdk.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"

namespace {

using dvac_model_test::fullDevice;
using dvac_model_test::LogLines;
using dvac_model_test::minimalDevice;
using dvac_model_test::parsedJSON;
using nlohmann::json;

TEST(DVACDeviceTest, MinimalDeviceIsValidAndWritesExactlyTheRequiredKeys) {
  LogLines log;
  auto device = minimalDevice();
  EXPECT_TRUE(device->isValid());
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(parsedJSON(device->serializeToDictionary()),
            json({{"sdkName", "redevudud.macos"},
                  {"sdkVersion", "4.4.3"},
                  {"osName", "Debian GNU/Linux"},
                  {"osVersion", "12"},
                  {"locale", "en_US"},
                  {"timeZoneOffset", 60},
                  {"appVersion", "1.2"},
                  {"appBuild", "42"}}));
}

TEST(DVACDeviceTest, FullDeviceWritesEveryFieldWithNumbersAsNumbers) {
  const json expected = {{"sdkName", "redevudud.macos"},
                         {"sdkVersion", "4.4.3"},
                         {"model", "ThinkPad X1"},
                         {"oemName", "LENOVO"},
                         {"osName", "Debian GNU/Linux"},
                         {"osVersion", "12"},
                         {"osBuild", "6.1.0-18-amd64"},
                         {"osApiLevel", 33},
                         {"locale", "en_US"},
                         {"timeZoneOffset", -330},
                         {"screenSize", "1512x982"},
                         {"appVersion", "1.2"},
                         {"carrierName", "Carrier"},
                         {"carrierCountry", "fr"},
                         {"appBuild", "42"},
                         {"appNamespace", "com.morvalent.Morvalent"},
                         {"wrapperSdkVersion", "1.0"},
                         {"wrapperSdkName", "wrapper"},
                         {"wrapperRuntimeVersion", "rt"},
                         {"liveUpdateReleaseLabel", "label"},
                         {"liveUpdateDeploymentKey", "key"},
                         {"liveUpdatePackageHash", "hash"}};
  EXPECT_EQ(parsedJSON(fullDevice()->serializeToDictionary()), expected);
}

TEST(DVACDeviceTest, ZeroTimeZoneOffsetIsPresent) {
  auto device = minimalDevice();
  device->timeZoneOffset = 0;
  EXPECT_TRUE(device->isValid());
  EXPECT_EQ(parsedJSON(device->serializeToDictionary())["timeZoneOffset"], json(0));
}

TEST(DVACDeviceTest, ValidityNamesOnlyTheFirstMissingFieldInOrder) {
  struct Case {
    void (*clear)(DVACDevice&);
    const char* field;
  };
  const Case cases[] = {
      {[](DVACDevice& d) { d.sdkName.reset(); }, "sdkName"},
      {[](DVACDevice& d) { d.sdkVersion.reset(); }, "sdkVersion"},
      {[](DVACDevice& d) { d.osName.reset(); }, "osName"},
      {[](DVACDevice& d) { d.osVersion.reset(); }, "osVersion"},
      {[](DVACDevice& d) { d.locale.reset(); }, "locale"},
      {[](DVACDevice& d) { d.timeZoneOffset.reset(); }, "timeZoneOffset"},
      {[](DVACDevice& d) { d.appVersion.reset(); }, "appVersion"},
      {[](DVACDevice& d) { d.appBuild.reset(); }, "appBuild"},
  };
  for (const auto& c : cases) {
    LogLines log;
    auto device = minimalDevice();
    c.clear(*device);
    EXPECT_FALSE(device->isValid()) << c.field;
    EXPECT_EQ(log.at(DVACLogLevelVerbose), std::vector<std::string>{std::string("DVACDevice: \"") + c.field +
                                                                      "\" is not valid."});
  }

  // Missing locale, appVersion and appBuild: only the first is named.
  LogLines log;
  auto device = minimalDevice();
  device->locale.reset();
  device->appVersion.reset();
  device->appBuild.reset();
  EXPECT_FALSE(device->isValid());
  EXPECT_EQ(log.at(DVACLogLevelVerbose), std::vector<std::string>{"DVACDevice: \"locale\" is not valid."});
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].tag, "RedEvudud");

  // Empty strings are present.
  auto empty = minimalDevice();
  empty->locale = "";
  empty->sdkName = "";
  EXPECT_TRUE(empty->isValid());
}

TEST(DVACDeviceTest, EqualityComparesEveryFieldIncludingTheWrapper) {
  EXPECT_TRUE(DVACDevice().isEqual(DVACDevice()));
  EXPECT_TRUE(fullDevice()->isEqual(*fullDevice()));

  auto other = fullDevice();
  other->liveUpdatePackageHash = "other";
  EXPECT_FALSE(fullDevice()->isEqual(*other));

  other = fullDevice();
  other->osApiLevel.reset();
  EXPECT_FALSE(fullDevice()->isEqual(*other));

  other = fullDevice();
  other->timeZoneOffset = 330;
  EXPECT_FALSE(fullDevice()->isEqual(*other));

  other = fullDevice();
  other->appNamespace.reset();
  EXPECT_FALSE(other->isEqual(*fullDevice()));

  // A wrapper record is not a device.
  DVACWrapperSdk wrapper;
  EXPECT_FALSE(DVACDevice().isEqual(wrapper));
}

TEST(DVACDeviceTest, ArchivedDeviceComesBackEqualWithNegativeOffset) {
  auto device = fullDevice();
  auto restored = dvac_model_test::roundTrip(device);
  ASSERT_TRUE(restored);
  EXPECT_TRUE(restored->isEqual(*device));
  EXPECT_EQ(restored->timeZoneOffset, -330);
  EXPECT_EQ(restored->osApiLevel, 33);
  EXPECT_EQ(restored->liveUpdatePackageHash, "hash");

  auto empty = dvac_model_test::roundTrip(std::make_shared<DVACDevice>());
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->isEqual(DVACDevice()));
}

TEST(DVACDeviceTest, DescriptionIsTheDictionaryDescription) {
  auto device = minimalDevice();
  EXPECT_EQ(device->description(), device->serializeToDictionary().description());
  EXPECT_NE(device->description().find("redevudud.macos"), std::string::npos);
}

// What an earlier release archived under the old class name.
class LegacyDevice : public ns::Coding {
 public:
  std::string className() const override { return "DVDevice"; }
  void encodeWithCoder(ns::KeyedArchiver& coder) const override {
    coder.encodeObject(ns::Value("redevudud.macos"), "sdkName");
    coder.encodeObject(ns::Value(int64_t{-300}), "timeZoneOffset");
    coder.encodeObject(ns::Value("react-native"), "wrapperSdkName");
  }
};

TEST(DVACDeviceTest, OldClassNameDecodesOnceMigrationsAreRegistered) {
  DVACUtility::removeMigrationClassesForTesting();
  auto data = ns::KeyedArchiver::archivedDataWithRootObject(ns::Value(std::make_shared<LegacyDevice>()));
  ASSERT_TRUE(data);
  {
    LogLines log;
    EXPECT_FALSE(DVACUtility::unarchiveKeyedData(data));
    EXPECT_EQ(log.count("Unarchiving NSData failed with error: "), 1u);
  }
  DVACUtility::addMigrationClasses(DVACUtility::redEvududMigrationClasses());
  auto value = DVACUtility::unarchiveKeyedData(data);
  DVACUtility::removeMigrationClassesForTesting();
  ASSERT_TRUE(value);
  auto device = value->objectAs<DVACDevice>();
  ASSERT_TRUE(device);
  EXPECT_EQ(device->sdkName, "redevudud.macos");
  EXPECT_EQ(device->timeZoneOffset, -300);
  EXPECT_EQ(device->wrapperSdkName, "react-native");
}

TEST(DVACWrapperSdkTest, SerializesSetFieldsAndEmptyWhenNone) {
  EXPECT_EQ(parsedJSON(DVACWrapperSdk().serializeToDictionary()), json::object());
  DVACWrapperSdk wrapper("1.0", "flutter", std::nullopt, "label", std::nullopt, "hash");
  EXPECT_EQ(parsedJSON(wrapper.serializeToDictionary()),
            json({{"wrapperSdkVersion", "1.0"},
                  {"wrapperSdkName", "flutter"},
                  {"liveUpdateReleaseLabel", "label"},
                  {"liveUpdatePackageHash", "hash"}}));
  EXPECT_TRUE(wrapper.isValid());
}

TEST(DVACWrapperSdkTest, EqualityAndArchivingCoverTheSixFields) {
  auto wrapper = std::make_shared<DVACWrapperSdk>("1.0", "flutter", "3.1", "label", "key", "hash");
  auto restored = dvac_model_test::roundTrip(wrapper);
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->className(), "DVACWrapperSdk");
  EXPECT_TRUE(restored->isEqual(*wrapper));
  restored->wrapperRuntimeVersion = "3.2";
  EXPECT_FALSE(restored->isEqual(*wrapper));
  EXPECT_TRUE(DVACWrapperSdk().isEqual(DVACWrapperSdk()));
}

}  // namespace
