#include "app/model/DiagnosticLogging.h"

#include <cxxabi.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <shared_mutex>
#include <typeindex>
#include <unordered_map>

#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"

namespace diagnostics {

namespace {

std::string plainName(std::string name) {
  if (auto lt = name.find('<'); lt != std::string::npos) name.erase(lt);
  if (auto colons = name.rfind("::"); colons != std::string::npos) name.erase(0, colons + 2);
  return name;
}

std::optional<std::vector<std::string>> loggingModules() {
  return ns::UserDefaults::standard()->stringArrayForKey(kLoggingModulesKey);
}

bool contains(const std::vector<std::string>& list, std::string_view name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

}  // namespace

std::string typeName(const std::type_info& type) {
  static std::shared_mutex mutex;
  static std::unordered_map<std::type_index, std::string> cache;
  {
    std::shared_lock lock(mutex);
    if (auto it = cache.find(type); it != cache.end()) return it->second;
  }
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                       &std::free);
  std::string name = plainName(status == 0 && demangled ? demangled.get() : type.name());
  std::unique_lock lock(mutex);
  return cache.emplace(type, std::move(name)).first->second;
}

bool isEnabled(std::string_view name) {
  auto list = loggingModules();
  return list && (contains(*list, "_all") || contains(*list, name));
}

bool isEnabled(const std::type_info& type) {
  auto list = loggingModules();
  if (!list || list->empty()) return false;
  return contains(*list, "_all") || contains(*list, typeName(type));
}

void write(const std::type_info& type, std::string_view message) {
  std::string line = typeName(type);
  line += ": ";
  line += message;
  ns::NSLog(line);
}

std::string text(bool value) { return value ? "true" : "false"; }

std::string text(double value) {
  char buffer[64];
  // Plain decimals between 1e-4 and 2^53; the shortest form alone would turn
  // 100000 into "1e+05".
  const double magnitude = std::fabs(value);
  const bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 0x1p53);
  auto [end, ec] = plain ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
                         : std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string out(buffer, ec == std::errc() ? end : buffer);
  // Whole numbers keep one digit after the point, as a Double's description does.
  if (out.find_first_of(".eEn") == std::string::npos) out += ".0";
  return out;
}

std::string text(const CGRect& rect) {
  return "(" + text(rect.origin.x) + ", " + text(rect.origin.y) + ", " + text(rect.size.width) + ", " +
         text(rect.size.height) + ")";
}

std::string text(const std::vector<CGRect>& rects) {
  std::string out = "[";
  for (std::size_t i = 0; i < rects.size(); ++i) {
    if (i) out += ", ";
    out += text(rects[i]);
  }
  return out + "]";
}

std::string text(const std::optional<ns::URL>& url) {
  return url ? "Optional(" + url->absoluteString() + ")" : "nil";
}

std::string textOrNil(const std::optional<std::string>& value) { return value ? *value : "nil"; }

namespace messages {

namespace {
std::string orUnknown(const std::optional<std::string>& bundleIdentifier) {
  return bundleIdentifier ? *bundleIdentifier : "unknown bundle identifier";
}
std::string titled(const std::optional<std::string>& title) { return "[" + (title ? *title : "Untitled") + "]"; }
}  // namespace

std::string updateElements(const std::optional<std::string>& b) { return "updateElements: " + orUnknown(b); }
std::string getApplicationSummary(const std::optional<std::string>& b) {
  return "getApplicationSummary: " + orUnknown(b);
}
std::string hoverState(std::string_view s) { return "hoverState:" + std::string(s); }
std::string hoveringDockIconApplicationDidChange(const std::optional<std::string>& b) {
  return "hoveringDockIconApplicationDidChange:" + textOrNil(b);
}
std::string enabled(bool value) { return "enabled:" + text(value); }
std::string presentedDockIconApplicationDidChange(const std::optional<std::string>& b) {
  return "presentedDockIconApplicationDidChange:" + textOrNil(b);
}
std::string presentedDockIconApplicationDidChangeDispatched(const std::optional<std::string>& b) {
  return "presentedDockIconApplicationDidChange (dispatched):" + textOrNil(b);
}
std::string presentedDockIconApplicationDidUpdate(const std::optional<std::string>& b) {
  return "presentedDockIconApplicationDidUpdate:" + textOrNil(b);
}
std::string presenting(std::string_view title) { return "presenting: " + std::string(title); }
std::string updating(std::string_view title) { return "updating: " + std::string(title); }
std::string hoverOnNewDockIcon(const std::optional<ns::URL>& url) { return "Hover on new dock icon:" + text(url); }
std::string hoverStateText(std::string_view caseName, const std::optional<ns::URL>& url) {
  if (caseName == "hoverOverDockIcon") {
    return "hoverOverDockIcon(bundleURL: " + (url ? url->absoluteString() : std::string()) + ")";
  }
  return std::string(caseName);
}
std::string trackingMode(std::string_view mode) { return "trackingMode:" + std::string(mode); }
std::string screenParametersDidChange(bool value) {
  return "Screen parameters did change. enabled:" + text(value);
}
std::string oldScreenRects(const std::vector<CGRect>& rects) { return "oldScreenRects: " + text(rects); }
std::string checkingWindowsFor(std::string_view title) { return "Checking windows for: " + std::string(title); }
std::string windowNoFrame(const std::optional<std::string>& title) { return titled(title) + " - No Frame"; }
std::string windowNoScreen(const std::optional<std::string>& title) { return titled(title) + " - No Screen"; }
std::string windowMoved(const std::optional<std::string>& title, const CGRect& oldFrame, const CGRect& newFrame) {
  return titled(title) + " - Old frame:" + text(oldFrame) + " New frame:" + text(newFrame);
}
std::string dragWindowSnappingEnabled(bool value) { return "dragWindowSnappingEnabled:" + text(value); }
std::string scrollWindowSnappingEnabled(bool value) { return "scrollWindowSnappingEnabled:" + text(value); }

}  // namespace messages
}  // namespace diagnostics
