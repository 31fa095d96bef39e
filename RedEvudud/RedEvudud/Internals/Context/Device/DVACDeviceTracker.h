#pragma once
// Builds the description of the machine, system, application and SDK that
// every log carries, caches it until something that goes into it changes,
// and keeps a short persisted history of the descriptions it handed out, so
// that a log about an earlier moment (a crash of the previous launch) gets
// the device as it was then.
//
// The history holds at most five records, oldest first, and is kept under
// "PastDevices" in the settings store. The history, the cached device and
// the class-level state (wrapper SDK, country code, up-to-date flag) are all
// read and written under one lock.
//
// On this platform the facts come from the running Linux system: the OS name
// and version from os-release, the build from the kernel release, the model
// and maker from the firmware's DMI table where readable, the locale from the
// locale environment, the screen size from the main screen.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceHistoryInfo.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "RedEvudud/RedEvudud/Model/DVACWrapperSdk.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Geometry.h"

inline constexpr size_t kDVACMaxDevicesHistoryCount = 5;
inline constexpr const char* kDVACDeviceUnknownValue = "Unknown";

class DVACDeviceTracker {
 public:
  // Made once; making it reads the history and builds the first device.
  static std::shared_ptr<DVACDeviceTracker> sharedInstance();
  // Forgets the shared instance, the wrapper SDK and the country code.
  static void resetSharedInstance();
  // The next device() builds a new description.
  static void refreshDeviceNextTime();

  // The current description; building a new one adds it to the history and
  // persists the history.
  std::shared_ptr<DVACDevice> device();
  // The device in effect at that time: the newest record stamped strictly
  // before it, or the oldest record when none is; the current device for no
  // time or an empty history.
  std::shared_ptr<DVACDevice> deviceForTimestamp(const std::optional<ns::Date>& timestamp);
  // Keeps only the newest record and persists the history.
  void clearDevices();

  // Replaces the newest record by one that carries the wrapper's fields.
  void setWrapperSdk(std::shared_ptr<DVACWrapperSdk> wrapperSdk);
  std::shared_ptr<DVACWrapperSdk> wrapperSdk() const;
  // Picked up by the next device() as the carrier country.
  void setCountryCode(std::optional<std::string> countryCode);
  std::optional<std::string> countryCode() const;

  // Copies of the records, oldest first.
  std::vector<DVACDeviceHistoryInfo> deviceHistory() const;

  // ---- Device facts --------------------------------------------------------
  std::shared_ptr<DVACDevice> updatedDevice();
  // Copies the registered wrapper SDK's fields onto the device, if any.
  void refreshWrapperSdk(DVACDevice& device) const;

  // The firmware's product name (or the device tree's model); "Unknown".
  static std::string deviceModel();
  // The firmware's system vendor; "Unknown".
  static std::string oemName();
  // The distribution's name from os-release, else the kernel's name.
  static std::string osName();
  // The distribution's version id from os-release, else the kernel's
  // version numbers.
  static std::optional<std::string> osVersion();
  // The kernel release; "Unknown".
  static std::string osBuild();
  // "<language>[-<script>]_<country>" of the first preferred language, the
  // country falling back to the current locale's; "en_US" without any
  // language.
  static std::string locale();
  static std::string localeFromPreferredLanguages(const std::vector<std::string>& preferredLanguages,
                                                  const std::optional<std::string>& currentLocaleIdentifier);
  // The user's preferred languages (LANGUAGE, then the message locale) and
  // current locale (LC_ALL, LC_MESSAGES, LANG) from the environment.
  static std::vector<std::string> preferredLanguages();
  static std::optional<std::string> currentLocaleIdentifier();
  // Minutes east of UTC of the local time zone now.
  static int64_t timeZoneOffset();
  // Seconds from GMT divided by 60, truncated toward zero.
  static int64_t timeZoneOffsetFromSecondsFromGMT(int64_t secondsFromGMT);
  // "<width>x<height>" of the main screen in points; nil without a screen.
  static std::optional<std::string> screenSize();
  static std::string screenSizeFromFrameSize(const CGSize& size);
  static std::optional<std::string> appVersion(const ns::Bundle& bundle);
  static std::optional<std::string> appBuild(const ns::Bundle& bundle);
  static std::optional<std::string> appNamespace(const ns::Bundle& bundle);

  // Replaces the main screen as the source of the screen size (tests). Without
  // one the desktop's main screen is used, and without a main screen the
  // first connected display's preferred mode.
  static void setMainScreenSizeProvider(std::function<std::optional<CGSize>()> provider);
  // Reads /etc, /usr/lib and /sys below this directory instead of "/" (tests).
  static void setFileSystemRootForTesting(std::optional<std::string> root);

  DVACDeviceTracker(const DVACDeviceTracker&) = delete;
  DVACDeviceTracker& operator=(const DVACDeviceTracker&) = delete;

 private:
  DVACDeviceTracker();
  void persistHistory();

  std::shared_ptr<DVACDevice> device_;
  std::vector<std::shared_ptr<DVACDeviceHistoryInfo>> deviceHistory_;
};
