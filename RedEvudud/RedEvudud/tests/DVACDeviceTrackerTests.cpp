#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceTracker.h"
#include "RedEvudud/RedEvudud/tests/DVACModelTestSupport.h"
#include "platform/foundation/Bundle.h"
#include "platform/sim/Scenario.h"

namespace {

using dvac_model_test::FakeClock;
using dvac_model_test::IsolatedSettings;
using dvac_model_test::LogLines;
using dvac_test::writeFile;
using nlohmann::json;

// A machine described by files under a temporary root, an application bundle,
// a main screen and a fake clock.
class DVACDeviceTrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DVACDeviceTracker::resetSharedInstance();
    writeFile(root_.file("etc/os-release"),
              "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
              "NAME=\"Debian GNU/Linux\"\n"
              "VERSION_ID=\"12\"\n"
              "ID=debian\n");
    writeFile(root_.file("sys/class/dmi/id/product_name"), "ThinkPad X1 Carbon Gen 9\n");
    writeFile(root_.file("sys/class/dmi/id/sys_vendor"), "LENOVO\n");
    DVACDeviceTracker::setFileSystemRootForTesting(root_.path());
    DVACDeviceTracker::setMainScreenSizeProvider([this] { return screen_; });
    previousBundle_ = ns::Bundle::main();
    ns::Bundle::setMain(ns::Bundle::withInfoDictionary({{"CFBundleIdentifier", "com.example.app"},
                                                        {"CFBundleShortVersionString", "2.1"},
                                                        {"CFBundleVersion", "210"}}));
  }
  void TearDown() override {
    DVACDeviceTracker::resetSharedInstance();
    DVACDeviceTracker::setFileSystemRootForTesting(std::nullopt);
    DVACDeviceTracker::setMainScreenSizeProvider(nullptr);
    ns::Bundle::setMain(previousBundle_);
  }

  // The devices of the stored history, oldest first.
  std::vector<std::shared_ptr<DVACDeviceHistoryInfo>> storedHistory() {
    std::vector<std::shared_ptr<DVACDeviceHistoryInfo>> history;
    auto stored = settings_.storedArray(kDVACPastDevicesKey);
    if (!stored) return history;
    for (const auto& element : *stored) history.push_back(element.objectAs<DVACDeviceHistoryInfo>());
    return history;
  }

  // Builds a new device at the next second, distinguishable by its screen.
  std::shared_ptr<DVACDevice> rebuildAt(double seconds, double screenWidth) {
    clock_.advance(seconds);
    screen_ = CGSize{screenWidth, 900};
    DVACDeviceTracker::refreshDeviceNextTime();
    return DVACDeviceTracker::sharedInstance()->device();
  }

  ns::test::TemporaryDirectory root_{"device-root"};
  IsolatedSettings settings_;
  FakeClock clock_;
  std::optional<CGSize> screen_ = CGSize{1512.7, 982.2};
  std::shared_ptr<ns::Bundle> previousBundle_;
};

TEST_F(DVACDeviceTrackerTest, DescribesTheMachineItRunsOn) {
  auto device = DVACDeviceTracker::sharedInstance()->device();
  ASSERT_TRUE(device);
  EXPECT_EQ(device->sdkName, "redevudud.macos");
  EXPECT_EQ(device->sdkVersion, "4.4.3");
  EXPECT_EQ(device->model, "ThinkPad X1 Carbon Gen 9");
  EXPECT_EQ(device->oemName, "LENOVO");
  EXPECT_EQ(device->osName, "Debian GNU/Linux");
  EXPECT_EQ(device->osVersion, "12");
  ASSERT_TRUE(device->osBuild);
  EXPECT_EQ(*device->osBuild, DVACDeviceTracker::osBuild());
  EXPECT_EQ(device->locale, DVACDeviceTracker::locale());
  EXPECT_EQ(device->timeZoneOffset, DVACDeviceTracker::timeZoneOffset());
  EXPECT_EQ(device->screenSize, "1512x982");
  EXPECT_EQ(device->appVersion, "2.1");
  EXPECT_EQ(device->appBuild, "210");
  EXPECT_EQ(device->appNamespace, "com.example.app");
  EXPECT_EQ(device->carrierName, std::nullopt);
  EXPECT_EQ(device->carrierCountry, std::nullopt);
  EXPECT_EQ(device->wrapperSdkName, std::nullopt);
  LogLines lines;
  EXPECT_TRUE(device->isValid());
  // The same description until something changes.
  EXPECT_EQ(DVACDeviceTracker::sharedInstance()->device(), device);
}

TEST_F(DVACDeviceTrackerTest, FallsBackWhereTheSystemHasNoValue) {
  std::filesystem::remove_all(root_.file("sys"));
  std::filesystem::remove(root_.file("etc/os-release"));
  screen_.reset();
  auto device = DVACDeviceTracker::sharedInstance()->device();
  EXPECT_EQ(device->model, "Unknown");
  EXPECT_EQ(device->oemName, "Unknown");
  ASSERT_TRUE(device->osName);
  EXPECT_FALSE(device->osName->empty());  // the kernel's name
  ASSERT_TRUE(device->osVersion);
  EXPECT_EQ(device->osVersion->find_first_not_of("0123456789."), std::string::npos);
  EXPECT_EQ(device->screenSize, std::nullopt);
}

TEST_F(DVACDeviceTrackerTest, ReadsOsReleaseQuotingAndTheUsrLibCopy) {
  std::filesystem::remove(root_.file("etc/os-release"));
  writeFile(root_.file("usr/lib/os-release"), "NAME='Arch Linux'\nVERSION_ID=\"2024.\\\"1\\\"\"\n");
  EXPECT_EQ(DVACDeviceTracker::osName(), "Arch Linux");
  EXPECT_EQ(DVACDeviceTracker::osVersion(), "2024.\"1\"");
  writeFile(root_.file("etc/os-release"), "NAME=Fedora\n VERSION_ID = 40\n");
  EXPECT_EQ(DVACDeviceTracker::osName(), "Fedora");
  EXPECT_EQ(DVACDeviceTracker::osVersion(), " 40");
}

TEST_F(DVACDeviceTrackerTest, ModelComesFromTheDeviceTreeAndRejectsBadText) {
  std::filesystem::remove(root_.file("sys/class/dmi/id/product_name"));
  writeFile(root_.file("proc/device-tree/model"), std::string("Raspberry Pi 4 Model B\0", 24));
  EXPECT_EQ(DVACDeviceTracker::deviceModel(), "Raspberry Pi 4 Model B");
  writeFile(root_.file("sys/class/dmi/id/sys_vendor"), "\xff\xfe\n");
  EXPECT_EQ(DVACDeviceTracker::oemName(), "Unknown");
  writeFile(root_.file("sys/class/dmi/id/sys_vendor"), "   \n");
  EXPECT_EQ(DVACDeviceTracker::oemName(), "Unknown");
}

TEST_F(DVACDeviceTrackerTest, ScreenSizeIsTheDesktopsMainScreen) {
  DVACDeviceTracker::setMainScreenSizeProvider(nullptr);
  sim::ScopedScenario desktop(R"({
    "displays": [{"id": 1, "frame": [0, 0, 1512, 982]}, {"id": 2, "frame": [1512, 0, 2560.6, 1440.9]}],
    "applications": [{"pid": 501, "windows": [{"id": 7, "frame": [1600, 100, 300, 200], "focused": true}]}],
    "frontmost": 501
  })");
  // The main screen is the one with the focused window.
  EXPECT_EQ(DVACDeviceTracker::screenSize(), "2560x1440");
  EXPECT_EQ(DVACDeviceTracker::sharedInstance()->device()->screenSize, "2560x1440");
  desktop.world().reset();
  EXPECT_EQ(DVACDeviceTracker::screenSize(), std::nullopt);  // no screen, no connected display
}

TEST_F(DVACDeviceTrackerTest, ScreenSizeFromAConnectedDisplayWithoutAScreen) {
  DVACDeviceTracker::setMainScreenSizeProvider(nullptr);
  writeFile(root_.file("sys/class/drm/card0-DP-1/status"), "disconnected\n");
  writeFile(root_.file("sys/class/drm/card0-DP-1/modes"), "800x600\n");
  writeFile(root_.file("sys/class/drm/card0-HDMI-A-1/status"), "connected\n");
  writeFile(root_.file("sys/class/drm/card0-HDMI-A-1/modes"), "2560x1440\n1920x1080\n");
  EXPECT_EQ(DVACDeviceTracker::screenSize(), "2560x1440");
  std::filesystem::remove_all(root_.file("sys/class/drm"));
  EXPECT_EQ(DVACDeviceTracker::screenSize(), std::nullopt);
}

TEST_F(DVACDeviceTrackerTest, FreshInstallHoldsOneRecordAndWritesPastDevices) {
  auto tracker = DVACDeviceTracker::sharedInstance();
  ASSERT_EQ(tracker->deviceHistory().size(), 1u);
  EXPECT_EQ(tracker->deviceHistory()[0].timestamp, clock_.now());
  auto stored = storedHistory();
  ASSERT_EQ(stored.size(), 1u);
  ASSERT_TRUE(stored[0]);
  EXPECT_TRUE(stored[0]->device->isEqual(*tracker->device()));
}

TEST_F(DVACDeviceTrackerTest, SixRebuildsKeepTheFiveNewest) {
  for (int i = 1; i <= 6; ++i) rebuildAt(1, 1000 + i);
  auto tracker = DVACDeviceTracker::sharedInstance();
  const auto history = tracker->deviceHistory();
  ASSERT_EQ(history.size(), 5u);
  for (size_t i = 0; i < history.size(); ++i) {
    EXPECT_EQ(history[i].device->screenSize, std::to_string(1002 + i) + "x900");
  }
  const auto stored = storedHistory();
  ASSERT_EQ(stored.size(), 5u);
  EXPECT_EQ(stored.front()->device->screenSize, "1002x900");
  EXPECT_EQ(stored.back()->device->screenSize, "1006x900");
}

TEST_F(DVACDeviceTrackerTest, LooksUpTheDeviceInEffectAtATime) {
  auto tracker = DVACDeviceTracker::sharedInstance();  // record 0 at t0
  const ns::Date t0 = clock_.now();
  auto first = tracker->device();
  auto second = rebuildAt(10, 2000);  // t0 + 10
  const ns::Date t1 = clock_.now();
  auto third = rebuildAt(10, 3000);  // t0 + 20
  const ns::Date t2 = clock_.now();

  EXPECT_EQ(tracker->deviceForTimestamp(t0.addingTimeInterval(-100)), first);  // before every record
  EXPECT_EQ(tracker->deviceForTimestamp(t0), first);
  EXPECT_EQ(tracker->deviceForTimestamp(t0.addingTimeInterval(5)), first);
  EXPECT_EQ(tracker->deviceForTimestamp(t1), first);  // equal to the second record's time
  EXPECT_EQ(tracker->deviceForTimestamp(t1.addingTimeInterval(0.001)), second);
  EXPECT_EQ(tracker->deviceForTimestamp(t2), second);
  EXPECT_EQ(tracker->deviceForTimestamp(t2.addingTimeInterval(1000)), third);  // after every record
  EXPECT_EQ(tracker->deviceForTimestamp(std::nullopt), third);
}

TEST_F(DVACDeviceTrackerTest, LookupsUseTheStoredHistoryOfEarlierLaunches) {
  auto before = DVACDeviceTracker::sharedInstance()->device();
  const ns::Date crashTime = clock_.now().addingTimeInterval(1);
  clock_.advance(100);
  screen_ = CGSize{640, 480};
  DVACDeviceTracker::resetSharedInstance();
  auto tracker = DVACDeviceTracker::sharedInstance();
  ASSERT_EQ(tracker->deviceHistory().size(), 2u);
  auto then = tracker->deviceForTimestamp(crashTime);
  ASSERT_TRUE(then);
  EXPECT_TRUE(then->isEqual(*before));
  EXPECT_EQ(then->screenSize, "1512x982");
  EXPECT_EQ(tracker->device()->screenSize, "640x480");
}

TEST_F(DVACDeviceTrackerTest, StoredHistoryOutOfOrderIsSortedOnLoad) {
  auto late = dvac_model_test::minimalDevice();
  late->model = "late";
  auto early = dvac_model_test::minimalDevice();
  early->model = "early";
  const ns::Date t = clock_.now().addingTimeInterval(-100);
  ns::Array history{ns::Value(std::make_shared<DVACDeviceHistoryInfo>(t.addingTimeInterval(50), late)),
                    ns::Value(std::make_shared<DVACDeviceHistoryInfo>(t, early))};
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(*DVACUtility::archiveKeyedData(ns::Value(history))),
                                                 kDVACPastDevicesKey);
  auto tracker = DVACDeviceTracker::sharedInstance();
  const auto loaded = tracker->deviceHistory();
  ASSERT_EQ(loaded.size(), 3u);
  EXPECT_EQ(loaded[0].device->model, "early");
  EXPECT_EQ(loaded[1].device->model, "late");
  EXPECT_EQ(tracker->deviceForTimestamp(t.addingTimeInterval(10))->model, "early");
  EXPECT_EQ(tracker->deviceForTimestamp(t.addingTimeInterval(60))->model, "late");
}

TEST_F(DVACDeviceTrackerTest, UnreadablePastDevicesStartAFreshHistory) {
  LogLines lines;
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(ns::Data{0xde, 0xad}), kDVACPastDevicesKey);
  auto tracker = DVACDeviceTracker::sharedInstance();
  EXPECT_EQ(tracker->deviceHistory().size(), 1u);
  EXPECT_EQ(lines.count("Unarchiving NSData failed with error: "), 1u);
  EXPECT_EQ(storedHistory().size(), 1u);
}

TEST_F(DVACDeviceTrackerTest, ClearingKeepsTheNewestRecordAndRewritesTheStore) {
  auto tracker = DVACDeviceTracker::sharedInstance();
  // One record: kept, and the store is still written.
  DVACRedEvududUserDefaults::shared()->removeObjectForKey(kDVACPastDevicesKey);
  tracker->clearDevices();
  EXPECT_EQ(tracker->deviceHistory().size(), 1u);
  EXPECT_EQ(storedHistory().size(), 1u);

  rebuildAt(1, 1001);
  auto newest = rebuildAt(1, 1002);
  ASSERT_EQ(tracker->deviceHistory().size(), 3u);
  tracker->clearDevices();
  const auto history = tracker->deviceHistory();
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].device, newest);
  EXPECT_EQ(storedHistory().size(), 1u);
}

TEST_F(DVACDeviceTrackerTest, WrapperSdkReplacesTheNewestRecord) {
  auto tracker = DVACDeviceTracker::sharedInstance();
  rebuildAt(1, 1001);
  ASSERT_EQ(tracker->deviceHistory().size(), 2u);
  clock_.advance(1);
  auto wrapper = std::make_shared<DVACWrapperSdk>("1.0", "flutter", "3.1", "label", "key", "hash");
  tracker->setWrapperSdk(wrapper);
  EXPECT_EQ(tracker->wrapperSdk(), wrapper);
  const auto history = tracker->deviceHistory();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[1].timestamp, clock_.now());
  EXPECT_EQ(history[1].device->wrapperSdkName, "flutter");
  EXPECT_EQ(history[1].device->liveUpdatePackageHash, "hash");
  EXPECT_EQ(history[0].device->wrapperSdkName, std::nullopt);
  EXPECT_EQ(tracker->device()->wrapperRuntimeVersion, "3.1");
}

TEST_F(DVACDeviceTrackerTest, CountryCodeIsPickedUpByTheNextDevice) {
  auto tracker = DVACDeviceTracker::sharedInstance();
  auto before = tracker->device();
  tracker->setCountryCode("fr");
  EXPECT_EQ(tracker->countryCode(), "fr");
  EXPECT_EQ(before->carrierCountry, std::nullopt);
  auto after = tracker->device();
  EXPECT_NE(after, before);
  EXPECT_EQ(after->carrierCountry, "fr");
  EXPECT_EQ(tracker->deviceHistory().size(), 2u);

  DVACDeviceTracker::resetSharedInstance();
  EXPECT_EQ(DVACDeviceTracker::sharedInstance()->countryCode(), std::nullopt);
  EXPECT_EQ(DVACDeviceTracker::sharedInstance()->wrapperSdk(), nullptr);
}

TEST_F(DVACDeviceTrackerTest, ConcurrentReadersAndRebuildersAgree) {
  auto tracker = DVACDeviceTracker::sharedInstance();
  const ns::Date start = clock_.now();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        if (t == 0) {
          clock_.advance(1);
          DVACDeviceTracker::refreshDeviceNextTime();
          tracker->device();
        } else {
          auto device = tracker->deviceForTimestamp(start.addingTimeInterval(i));
          ASSERT_TRUE(device);
          ASSERT_TRUE(device->sdkName);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(tracker->deviceHistory().size(), kDVACMaxDevicesHistoryCount);
}

TEST(DVACDeviceTrackerFactsTest, LocaleFromPreferredLanguages) {
  auto locale = DVACDeviceTracker::localeFromPreferredLanguages;
  EXPECT_EQ(locale({"en_US.UTF-8"}, std::nullopt), "en_US");
  EXPECT_EQ(locale({"zh-Hans-CN"}, std::nullopt), "zh-Hans_CN");
  EXPECT_EQ(locale({"sr_RS@latin"}, std::nullopt), "sr-Latn_RS");
  EXPECT_EQ(locale({"de"}, "fr_CH.UTF-8"), "de_CH");  // the country of the current locale
  EXPECT_EQ(locale({"C", "pt_BR"}, std::nullopt), "pt_BR");  // C is no language
  EXPECT_EQ(locale({"es_419"}, std::nullopt), "es_419");
  EXPECT_EQ(locale({"fr"}, std::nullopt), "fr");
  EXPECT_EQ(locale({"C.UTF-8"}, "POSIX"), "en_US");
  EXPECT_EQ(locale({}, std::nullopt), "en_US");
}

TEST(DVACDeviceTrackerFactsTest, LocaleFollowsTheEnvironment) {
  struct SavedVariable {
    explicit SavedVariable(const char* name) : name(name) {
      if (const char* value = std::getenv(name)) saved = value;
    }
    ~SavedVariable() {
      if (saved) setenv(name, saved->c_str(), 1);
      else unsetenv(name);
    }
    const char* name;
    std::optional<std::string> saved;
  };
  SavedVariable language("LANGUAGE"), all("LC_ALL"), messages("LC_MESSAGES"), lang("LANG");
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", "en_GB.UTF-8", 1);
  setenv("LANGUAGE", "nl:en", 1);
  EXPECT_EQ(DVACDeviceTracker::preferredLanguages(), (std::vector<std::string>{"nl", "en", "en_GB.UTF-8"}));
  EXPECT_EQ(DVACDeviceTracker::locale(), "nl_GB");
  setenv("LC_ALL", "ja_JP.UTF-8", 1);
  unsetenv("LANGUAGE");
  EXPECT_EQ(DVACDeviceTracker::locale(), "ja_JP");
}

TEST(DVACDeviceTrackerFactsTest, TimeZoneOffsetsInMinutes) {
  EXPECT_EQ(DVACDeviceTracker::timeZoneOffsetFromSecondsFromGMT(-5 * 3600), -300);
  EXPECT_EQ(DVACDeviceTracker::timeZoneOffsetFromSecondsFromGMT(5 * 3600 + 1800), 330);
  EXPECT_EQ(DVACDeviceTracker::timeZoneOffsetFromSecondsFromGMT(0), 0);
  EXPECT_EQ(DVACDeviceTracker::timeZoneOffsetFromSecondsFromGMT(-90), -1);  // toward zero
  EXPECT_EQ(DVACDeviceTracker::timeZoneOffsetFromSecondsFromGMT(119), 1);
}

TEST(DVACDeviceTrackerFactsTest, ScreenSizeText) {
  EXPECT_EQ(DVACDeviceTracker::screenSizeFromFrameSize({1512, 982}), "1512x982");
  EXPECT_EQ(DVACDeviceTracker::screenSizeFromFrameSize({1440.9, 900.5}), "1440x900");
  EXPECT_EQ(DVACDeviceTracker::screenSizeFromFrameSize({0, 0}), "0x0");
}

}  // namespace
