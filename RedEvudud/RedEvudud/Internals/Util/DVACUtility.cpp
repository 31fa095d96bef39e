#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"

#include <mutex>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Iso8601.h"

namespace {

// Guards the shared date formatter's creation.
std::mutex gFormatterMutex;
std::shared_ptr<const DVACISO8601DateFormatter> gFormatter;

}  // namespace

std::string DVACISO8601DateFormatter::stringFromDate(const ns::Date& date) const { return ns::iso8601::format(date); }

std::optional<ns::Date> DVACISO8601DateFormatter::dateFromString(std::string_view text) const {
  return ns::iso8601::parse(text);
}

std::string DVACUtility::sdkName() { return "redevudud.macos"; }

std::string DVACUtility::sdkVersion() { return "4.4.3"; }

double DVACUtility::nowInMilliseconds() { return ns::Date::now().timeIntervalSince1970() * 1000.0; }

std::shared_ptr<const DVACISO8601DateFormatter> DVACUtility::ISO8601DateFormatter() {
  std::lock_guard<std::mutex> lock(gFormatterMutex);
  if (!gFormatter) gFormatter = std::make_shared<const DVACISO8601DateFormatter>();
  return gFormatter;
}

void DVACUtility::resetDateFormatterInstance() {
  std::lock_guard<std::mutex> lock(gFormatterMutex);
  gFormatter.reset();
}

std::string DVACUtility::dateToISO8601(const ns::Date& date) { return ISO8601DateFormatter()->stringFromDate(date); }

std::optional<ns::Date> DVACUtility::dateFromISO8601(std::string_view text) {
  return ISO8601DateFormatter()->dateFromString(text);
}

DVACApplicationState DVACUtility::applicationState() {
  if (ns::Bundle::main()->executablePath().find(".appex/") != std::string::npos) return DVACApplicationStateUnknown;
  return sharedAppState();
}

DVACApplicationState DVACUtility::sharedAppState() {
  if (!dispatch::isMainThread()) return DVACApplicationStateUnknown;
  return sharedApp().isHidden() ? DVACApplicationStateBackground : DVACApplicationStateActive;
}

appkit::NSApplication& DVACUtility::sharedApp() { return appkit::NSApplication::shared(); }

std::shared_ptr<appkit::NSApplicationDelegate> DVACUtility::sharedAppDelegate() { return sharedApp().delegate(); }

void DVACUtility::sharedAppOpenUrl(const ns::URL& url, const ns::Dictionary&,
                                   std::function<void(bool)> completionHandler) {
  dispatch::Queue::main()->async([url, completionHandler = std::move(completionHandler)] {
    const bool opened = appkit::NSWorkspace::sharedWorkspace()->openURL(url);
    if (completionHandler) completionHandler(opened);
  });
}

int DVACUtility::currentAppEnvironment() { return DVACEnvironmentOther; }

bool DVACUtility::hasEmbeddedMobileProvision() {
  return ns::Bundle::main()->pathForResource("embedded", "mobileprovision").has_value();
}

bool DVACUtility::isAppStoreReceiptSandbox() {
  // No application store on this platform, hence no receipt.
  return false;
}
