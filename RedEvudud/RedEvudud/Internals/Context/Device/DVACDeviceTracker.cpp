#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceTracker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>

#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryClock.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/appkit/NSScreen.h"
#include "platform/foundation/Utf16.h"
#include "platform/machcompat/Sysctl.h"

namespace {

// Everything the tracker keeps, instance and class level, under one lock.
struct TrackerState {
  std::recursive_mutex mutex;
  std::shared_ptr<DVACDeviceTracker> shared;
  std::shared_ptr<DVACWrapperSdk> wrapperSdk;
  std::optional<std::string> countryCode;
  bool deviceUpToDate = false;
  std::function<std::optional<CGSize>()> screenSizeProvider;
  std::optional<std::string> fileSystemRoot;
};

TrackerState& trackerState() {
  static TrackerState* state = new TrackerState();
  return *state;
}

using Lock = std::lock_guard<std::recursive_mutex>;

// ---- Reading the system -------------------------------------------------------

std::string systemPath(const std::string& absolutePath) {
  Lock lock(trackerState().mutex);
  return trackerState().fileSystemRoot ? *trackerState().fileSystemRoot + absolutePath : absolutePath;
}

// System files may pad their text with NULs as well as spaces.
std::string trimmedSystemText(std::string_view text) {
  auto isSpace = [](char c) { return c == '\0' || std::isspace(static_cast<unsigned char>(c)); };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// ---- Locales ----------------------------------------------------------------

struct LocaleParts {
  std::string language;
  std::string script;
  std::string country;
};

bool isAlpha(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
}

bool isDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

std::string lowercased(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

std::string uppercased(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

std::string titlecased(std::string_view text) {
  std::string result = lowercased(text);
  if (!result.empty()) result[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(result[0])));
  return result;
}

// A POSIX locale name ("sr_RS.UTF-8@latin") or a language tag ("zh-Hans-CN");
// nil for the C and POSIX locales and for anything without a language.
std::optional<LocaleParts> parseLocaleIdentifier(std::string_view identifier) {
  std::string_view modifier;
  if (const size_t at = identifier.find('@'); at != std::string_view::npos) {
    modifier = identifier.substr(at + 1);
    identifier = identifier.substr(0, at);
  }
  if (const size_t dot = identifier.find('.'); dot != std::string_view::npos) identifier = identifier.substr(0, dot);

  std::vector<std::string_view> pieces;
  size_t start = 0;
  while (start <= identifier.size()) {
    size_t end = identifier.find_first_of("_-", start);
    if (end == std::string_view::npos) end = identifier.size();
    pieces.push_back(identifier.substr(start, end - start));
    start = end + 1;
  }
  if (pieces.empty() || !isAlpha(pieces[0]) || pieces[0].size() < 2 || pieces[0].size() > 3) return std::nullopt;

  LocaleParts parts;
  parts.language = lowercased(pieces[0]);
  for (size_t i = 1; i < pieces.size(); ++i) {
    const std::string_view piece = pieces[i];
    if (parts.script.empty() && parts.country.empty() && piece.size() == 4 && isAlpha(piece)) {
      parts.script = titlecased(piece);
    } else if (parts.country.empty() && ((piece.size() == 2 && isAlpha(piece)) || (piece.size() == 3 && isDigits(piece)))) {
      parts.country = uppercased(piece);
    }
  }
  if (parts.script.empty()) {
    const std::string mod = lowercased(modifier);
    if (mod == "latin") parts.script = "Latn";
    else if (mod == "cyrillic") parts.script = "Cyrl";
    else if (mod == "devanagari") parts.script = "Deva";
  }
  return parts;
}

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

// ---- Connected displays -------------------------------------------------------

// The preferred mode ("1920x1080") of the first connected display.
std::optional<CGSize> connectedDisplaySize() {
  std::error_code error;
  const std::filesystem::path drm(systemPath("/sys/class/drm"));
  std::vector<std::filesystem::path> connectors;
  for (std::filesystem::directory_iterator it(drm, error), end; !error && it != end; it.increment(error)) {
    connectors.push_back(it->path());
  }
  std::sort(connectors.begin(), connectors.end());
  for (const auto& connector : connectors) {
    std::ifstream statusFile(connector / "status");
    std::string status;
    if (!std::getline(statusFile, status) || trimmedSystemText(status) != "connected") continue;
    std::ifstream modesFile(connector / "modes");
    std::string mode;
    if (!std::getline(modesFile, mode)) continue;
    unsigned width = 0;
    unsigned height = 0;
    char separator = 0;
    if (std::sscanf(mode.c_str(), "%u%c%u", &width, &separator, &height) == 3 && separator == 'x' && width > 0 &&
        height > 0) {
      return CGSize{static_cast<double>(width), static_cast<double>(height)};
    }
  }
  return std::nullopt;
}

double timestampOf(const std::shared_ptr<DVACDeviceHistoryInfo>& info) {
  return info->timestamp ? info->timestamp->timeIntervalSince1970() : -std::numeric_limits<double>::infinity();
}

}  // namespace

// ---- Shared instance --------------------------------------------------------

std::shared_ptr<DVACDeviceTracker> DVACDeviceTracker::sharedInstance() {
  Lock lock(trackerState().mutex);
  if (!trackerState().shared) trackerState().shared = std::shared_ptr<DVACDeviceTracker>(new DVACDeviceTracker());
  return trackerState().shared;
}

void DVACDeviceTracker::resetSharedInstance() {
  Lock lock(trackerState().mutex);
  trackerState().shared.reset();
  trackerState().wrapperSdk.reset();
  trackerState().countryCode.reset();
  trackerState().deviceUpToDate = false;
}

void DVACDeviceTracker::refreshDeviceNextTime() {
  Lock lock(trackerState().mutex);
  trackerState().deviceUpToDate = false;
}

DVACDeviceTracker::DVACDeviceTracker() {
  Lock lock(trackerState().mutex);
  auto stored = DVACRedEvududUserDefaults::shared()->objectForKey(kDVACPastDevicesKey);
  if (stored && stored->isData()) {
    auto history = DVACUtility::unarchiveKeyedData(*stored->data());
    if (history && history->isArray()) {
      for (const auto& element : *history->array()) {
        if (auto info = element.objectAs<DVACDeviceHistoryInfo>()) deviceHistory_.push_back(std::move(info));
      }
    }
  }
  // Lookups rely on the order; an edited or damaged store may not keep it.
  std::stable_sort(deviceHistory_.begin(), deviceHistory_.end(),
                   [](const auto& a, const auto& b) { return timestampOf(a) < timestampOf(b); });
  device();
}

// ---- Current and past devices -----------------------------------------------

std::shared_ptr<DVACDevice> DVACDeviceTracker::device() {
  Lock lock(trackerState().mutex);
  if (device_ && trackerState().deviceUpToDate) return device_;
  device_ = updatedDevice();

  auto info = std::make_shared<DVACDeviceHistoryInfo>(DVACHistoryClock::now(), device_);
  auto position = std::upper_bound(deviceHistory_.begin(), deviceHistory_.end(), info,
                                   [](const auto& a, const auto& b) { return timestampOf(a) < timestampOf(b); });
  deviceHistory_.insert(position, std::move(info));
  while (deviceHistory_.size() > kDVACMaxDevicesHistoryCount) deviceHistory_.erase(deviceHistory_.begin());
  persistHistory();
  return device_;
}

std::shared_ptr<DVACDevice> DVACDeviceTracker::deviceForTimestamp(const std::optional<ns::Date>& timestamp) {
  Lock lock(trackerState().mutex);
  if (!timestamp || deviceHistory_.empty()) return device();
  const double time = timestamp->timeIntervalSince1970();
  auto position = std::lower_bound(deviceHistory_.begin(), deviceHistory_.end(), time,
                                   [](const auto& info, double t) { return timestampOf(info) < t; });
  std::shared_ptr<DVACDeviceHistoryInfo> found;
  if (position == deviceHistory_.begin()) {
    found = deviceHistory_.front();
  } else if (position == deviceHistory_.end()) {
    found = deviceHistory_.back();
  } else {
    found = *std::prev(position);
  }
  // A stored record without a device is of no use: the current one serves.
  return found->device ? found->device : device();
}

void DVACDeviceTracker::clearDevices() {
  Lock lock(trackerState().mutex);
  if (deviceHistory_.size() >= 2) deviceHistory_.erase(deviceHistory_.begin(), std::prev(deviceHistory_.end()));
  persistHistory();
}

std::vector<DVACDeviceHistoryInfo> DVACDeviceTracker::deviceHistory() const {
  Lock lock(trackerState().mutex);
  std::vector<DVACDeviceHistoryInfo> history;
  history.reserve(deviceHistory_.size());
  for (const auto& info : deviceHistory_) history.push_back(*info);
  return history;
}

void DVACDeviceTracker::persistHistory() {
  ns::Array history;
  history.reserve(deviceHistory_.size());
  for (const auto& info : deviceHistory_) history.emplace_back(info);
  if (auto data = DVACUtility::archiveKeyedData(ns::Value(std::move(history)))) {
    DVACRedEvududUserDefaults::shared()->setObject(ns::Value(std::move(*data)), kDVACPastDevicesKey);
  }
}

// ---- Wrapper SDK and country code -------------------------------------------

void DVACDeviceTracker::setWrapperSdk(std::shared_ptr<DVACWrapperSdk> wrapperSdk) {
  Lock lock(trackerState().mutex);
  trackerState().wrapperSdk = std::move(wrapperSdk);
  trackerState().deviceUpToDate = false;
  // The newest record gives way to one that carries the wrapper.
  if (!deviceHistory_.empty()) deviceHistory_.pop_back();
  device();
}

std::shared_ptr<DVACWrapperSdk> DVACDeviceTracker::wrapperSdk() const {
  Lock lock(trackerState().mutex);
  return trackerState().wrapperSdk;
}

void DVACDeviceTracker::setCountryCode(std::optional<std::string> countryCode) {
  Lock lock(trackerState().mutex);
  trackerState().countryCode = std::move(countryCode);
  trackerState().deviceUpToDate = false;
}

std::optional<std::string> DVACDeviceTracker::countryCode() const {
  Lock lock(trackerState().mutex);
  return trackerState().countryCode;
}

// ---- Building a device ------------------------------------------------------

std::shared_ptr<DVACDevice> DVACDeviceTracker::updatedDevice() {
  Lock lock(trackerState().mutex);
  auto device = std::make_shared<DVACDevice>();
  const auto bundle = ns::Bundle::main();
  device->sdkName = DVACUtility::sdkName();
  device->sdkVersion = DVACUtility::sdkVersion();
  device->model = deviceModel();
  device->oemName = oemName();
  device->osName = osName();
  device->osVersion = osVersion();
  device->osBuild = osBuild();
  device->locale = locale();
  device->timeZoneOffset = timeZoneOffset();
  device->screenSize = screenSize();
  device->appVersion = appVersion(*bundle);
  device->carrierCountry = trackerState().countryCode;
  device->appBuild = appBuild(*bundle);
  device->appNamespace = appNamespace(*bundle);
  refreshWrapperSdk(*device);
  trackerState().deviceUpToDate = true;
  return device;
}

void DVACDeviceTracker::refreshWrapperSdk(DVACDevice& device) const {
  Lock lock(trackerState().mutex);
  const auto& wrapper = trackerState().wrapperSdk;
  if (!wrapper) return;
  device.wrapperSdkVersion = wrapper->wrapperSdkVersion;
  device.wrapperSdkName = wrapper->wrapperSdkName;
  device.wrapperRuntimeVersion = wrapper->wrapperRuntimeVersion;
  device.liveUpdateReleaseLabel = wrapper->liveUpdateReleaseLabel;
  device.liveUpdateDeploymentKey = wrapper->liveUpdateDeploymentKey;
  device.liveUpdatePackageHash = wrapper->liveUpdatePackageHash;
}

// The system's facts come from where the crash engine takes them too, so a
// crash log's device is the device of every other log.
std::string DVACDeviceTracker::deviceModel() { return mach::hardwareModel().value_or(kDVACDeviceUnknownValue); }

std::string DVACDeviceTracker::oemName() { return mach::hardwareVendor().value_or(kDVACDeviceUnknownValue); }

std::string DVACDeviceTracker::osName() { return mach::operatingSystemName(); }

std::optional<std::string> DVACDeviceTracker::osVersion() { return mach::operatingSystemVersionString(); }

std::string DVACDeviceTracker::osBuild() { return mach::operatingSystemBuild().value_or(kDVACDeviceUnknownValue); }

std::string DVACDeviceTracker::locale() {
  return localeFromPreferredLanguages(preferredLanguages(), currentLocaleIdentifier());
}

std::string DVACDeviceTracker::localeFromPreferredLanguages(const std::vector<std::string>& preferredLanguages,
                                                            const std::optional<std::string>& currentLocaleIdentifier) {
  std::optional<LocaleParts> preferred;
  for (const auto& language : preferredLanguages) {
    if ((preferred = parseLocaleIdentifier(language))) break;
  }
  if (!preferred) return "en_US";
  std::string country = preferred->country;
  if (country.empty() && currentLocaleIdentifier) {
    if (auto current = parseLocaleIdentifier(*currentLocaleIdentifier)) country = current->country;
  }
  std::string result = preferred->language;
  if (!preferred->script.empty()) result += "-" + preferred->script;
  if (!country.empty()) result += "_" + country;
  return result;
}

std::vector<std::string> DVACDeviceTracker::preferredLanguages() {
  std::vector<std::string> languages;
  if (auto list = environmentValue("LANGUAGE")) {
    size_t start = 0;
    while (start <= list->size()) {
      size_t end = list->find(':', start);
      if (end == std::string::npos) end = list->size();
      if (end > start) languages.push_back(list->substr(start, end - start));
      start = end + 1;
    }
  }
  if (auto current = currentLocaleIdentifier()) languages.push_back(*current);
  return languages;
}

std::optional<std::string> DVACDeviceTracker::currentLocaleIdentifier() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (auto value = environmentValue(name)) return value;
  }
  return std::nullopt;
}

int64_t DVACDeviceTracker::timeZoneOffset() {
  const time_t now = std::time(nullptr);
  struct tm local {};
  if (!localtime_r(&now, &local)) return 0;
  return timeZoneOffsetFromSecondsFromGMT(local.tm_gmtoff);
}

int64_t DVACDeviceTracker::timeZoneOffsetFromSecondsFromGMT(int64_t secondsFromGMT) { return secondsFromGMT / 60; }

std::optional<std::string> DVACDeviceTracker::screenSize() {
  std::function<std::optional<CGSize>()> provider;
  {
    Lock lock(trackerState().mutex);
    provider = trackerState().screenSizeProvider;
  }
  std::optional<CGSize> size;
  if (provider) {
    size = provider();
  } else if (auto screen = appkit::NSScreen::mainScreen()) {
    size = screen->frame().size;
  } else {
    size = connectedDisplaySize();
  }
  if (!size) return std::nullopt;
  return screenSizeFromFrameSize(*size);
}

std::string DVACDeviceTracker::screenSizeFromFrameSize(const CGSize& size) {
  auto truncated = [](double value) -> long long {
    if (!(value > -9.0e18 && value < 9.0e18)) return 0;
    return static_cast<long long>(value);
  };
  return std::to_string(truncated(size.width)) + "x" + std::to_string(truncated(size.height));
}

std::optional<std::string> DVACDeviceTracker::appVersion(const ns::Bundle& bundle) { return bundle.version(); }

std::optional<std::string> DVACDeviceTracker::appBuild(const ns::Bundle& bundle) { return bundle.buildVersion(); }

std::optional<std::string> DVACDeviceTracker::appNamespace(const ns::Bundle& bundle) {
  return bundle.bundleIdentifier();
}

void DVACDeviceTracker::setMainScreenSizeProvider(std::function<std::optional<CGSize>()> provider) {
  Lock lock(trackerState().mutex);
  trackerState().screenSizeProvider = std::move(provider);
}

void DVACDeviceTracker::setFileSystemRootForTesting(std::optional<std::string> root) {
  Lock lock(trackerState().mutex);
  mach::setSystemFilesRootForTesting(root);
  trackerState().fileSystemRoot = std::move(root);
}
