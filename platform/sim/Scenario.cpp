#include "platform/sim/Scenario.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>

#include "platform/foundation/Json.h"

namespace sim {

namespace {

using json = nlohmann::ordered_json;

// The first problem found, with its place in the document.
struct Failure {
  std::string message;
};

class Reader {
 public:
  explicit Reader(std::string path) : path_(std::move(path)) {}

  [[noreturn]] void fail(const std::string& what) const { throw Failure{(path_.empty() ? "scenario" : path_) + ": " + what}; }

  Reader child(std::string_view key) const { return Reader(path_.empty() ? std::string(key) : path_ + "." + std::string(key)); }
  Reader element(std::size_t index) const { return Reader(path_ + "[" + std::to_string(index) + "]"); }

  // Only the listed keys (and "_"-prefixed comments) may appear.
  void allowKeys(const json& object, std::initializer_list<std::string_view> keys) const {
    if (!object.is_object()) fail("expected an object");
    for (const auto& [key, value] : object.items()) {
      if (!key.empty() && key[0] == '_') continue;
      bool known = false;
      for (auto k : keys) known = known || key == k;
      if (!known) fail("unknown key \"" + key + "\"");
    }
  }

  bool boolean(const json& v) const {
    if (!v.is_boolean()) fail("expected true or false");
    return v.get<bool>();
  }
  double number(const json& v) const {
    if (!v.is_number()) fail("expected a number");
    const double d = v.get<double>();
    if (!std::isfinite(d)) fail("expected a finite number");
    return d;
  }
  double nonNegative(const json& v) const {
    const double d = number(v);
    if (d < 0) fail("expected a number of at least 0");
    return d;
  }
  std::uint64_t unsignedInteger(const json& v, std::uint64_t max = UINT64_MAX) const {
    std::uint64_t u = 0;
    if (v.is_number_unsigned()) {
      u = v.get<std::uint64_t>();
    } else if (v.is_number_integer() && v.get<std::int64_t>() >= 0) {
      u = static_cast<std::uint64_t>(v.get<std::int64_t>());
    } else {
      fail("expected a non-negative integer");
    }
    if (u > max) fail("number out of range");
    return u;
  }
  std::uint64_t positiveInteger(const json& v, std::uint64_t max = UINT64_MAX) const {
    const auto u = unsignedInteger(v, max);
    if (u == 0) fail("expected a positive integer");
    return u;
  }
  std::int64_t integer(const json& v) const {
    if (v.is_number_unsigned()) {
      if (v.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) fail("number out of range");
      return static_cast<std::int64_t>(v.get<std::uint64_t>());
    }
    if (!v.is_number_integer()) fail("expected an integer");
    return v.get<std::int64_t>();
  }
  std::string string(const json& v) const {
    if (!v.is_string()) fail("expected a string");
    return v.get<std::string>();
  }
  std::optional<std::string> optionalString(const json& v) const {
    if (v.is_null()) return std::nullopt;
    return string(v);
  }
  std::string url(const json& v) const {
    const std::string text = string(v);
    if (!ns::URL::URLWithString(text)) fail("not a valid URL: \"" + text + "\"");
    return text;
  }

  std::vector<double> numbers(const json& v, std::initializer_list<const char*> names) const {
    std::vector<double> out;
    if (v.is_array()) {
      if (v.size() != names.size()) fail("expected " + std::to_string(names.size()) + " numbers");
      for (std::size_t i = 0; i < v.size(); ++i) out.push_back(element(i).number(v[i]));
      return out;
    }
    if (v.is_object()) {
      for (const auto& [key, value] : v.items()) {
        if (!key.empty() && key[0] == '_') continue;
        bool known = false;
        for (auto n : names) known = known || key == n;
        if (!known) fail("unknown key \"" + key + "\"");
      }
      for (auto n : names) {
        if (!v.contains(n)) fail(std::string("missing \"") + n + "\"");
        out.push_back(child(n).number(v[n]));
      }
      return out;
    }
    fail("expected an array or an object of numbers");
  }
  // "MAJOR", "MAJOR.MINOR" or "MAJOR.MINOR.PATCH", each part at most six digits.
  OperatingSystemVersion osVersion(const json& v) const {
    const std::string text = string(v);
    long parts[3] = {0, 0, 0};
    std::size_t part = 0, digits = 0;
    bool wellFormed = !text.empty();
    for (char c : text) {
      if (c == '.' && digits > 0 && part < 2) {
        ++part;
        digits = 0;
      } else if (c >= '0' && c <= '9' && digits < 6) {
        parts[part] = parts[part] * 10 + (c - '0');
        ++digits;
      } else {
        wellFormed = false;
      }
    }
    if (!wellFormed || digits == 0) fail("expected a version such as \"13.6\" or \"14.2.1\", not \"" + text + "\"");
    return OperatingSystemVersion{parts[0], parts[1], parts[2]};
  }
  CGRect rect(const json& v) const {
    auto n = numbers(v, {"x", "y", "width", "height"});
    if (n[2] < 0 || n[3] < 0) fail("width and height must not be negative");
    return CGRect(n[0], n[1], n[2], n[3]);
  }
  CGSize size(const json& v) const {
    auto n = numbers(v, {"width", "height"});
    if (n[0] < 0 || n[1] < 0) fail("width and height must not be negative");
    return CGSize{n[0], n[1]};
  }
  CGPoint point(const json& v) const {
    auto n = numbers(v, {"x", "y"});
    return CGPoint{n[0], n[1]};
  }

  std::int32_t axError(const json& v) const {
    if (v.is_string()) {
      if (auto code = axerr::fromName(v.get<std::string>())) return *code;
      fail("unknown Accessibility error \"" + v.get<std::string>() + "\"");
    }
    const std::int64_t code = integer(v);
    if (code < INT32_MIN || code > INT32_MAX) fail("error code out of range");
    return static_cast<std::int32_t>(code);
  }

  img::Pixel color(const json& v) const {
    const std::string text = string(v);
    auto hex = [&](std::size_t at) -> std::uint8_t {
      const std::string part = text.substr(at, 2);
      // Digits only: strtol alone would take a sign or a blank.
      const auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
      if (part.size() != 2 || !std::all_of(part.begin(), part.end(), isHex)) {
        fail("expected a colour \"#RRGGBB\" or \"#RRGGBBAA\"");
      }
      return static_cast<std::uint8_t>(std::strtol(part.c_str(), nullptr, 16));
    };
    if ((text.size() != 7 && text.size() != 9) || text[0] != '#') fail("expected a colour \"#RRGGBB\" or \"#RRGGBBAA\"");
    return img::Pixel{hex(1), hex(3), hex(5), text.size() == 9 ? hex(7) : std::uint8_t{0xFF}};
  }

  AttributeFault attributeFault(const json& v) const {
    allowKeys(v, {"error", "value", "type"});
    AttributeFault fault;
    if (v.contains("error") == v.contains("value")) fail("give exactly one of \"error\" and \"value\"");
    if (v.contains("error")) {
      if (v.contains("type")) fail("\"type\" goes with \"value\"");
      fault.error = child("error").axError(v["error"]);
      return fault;
    }
    const std::string type = v.contains("type") ? child("type").string(v["type"]) : "json";
    const json& value = v["value"];
    const Reader r = child("value");
    if (type == "json") {
      ns::Error error;
      auto converted = ns::json::fromJson(value, {}, &error);
      if (!converted) r.fail(error.localizedDescription());
      fault.value = std::move(*converted);
    } else if (type == "string") {
      fault.value = ns::Value(r.string(value));
    } else if (type == "number") {
      fault.value = ns::Value(r.number(value));
    } else if (type == "bool") {
      fault.value = ns::Value(r.boolean(value));
    } else if (type == "point") {
      fault.value = pointValue(r.point(value));
    } else if (type == "size") {
      fault.value = sizeValue(r.size(value));
    } else if (type == "rect") {
      fault.value = ns::Value(std::make_shared<AXValueObject>(r.rect(value)));
    } else if (type == "url") {
      fault.value = urlValue(*ns::URL::URLWithString(r.url(value)));
    } else {
      child("type").fail("unknown value type \"" + type + "\"");
    }
    return fault;
  }

  std::map<std::string, AttributeFault, std::less<>> attributeFaults(const json& v) const {
    if (!v.is_object()) fail("expected an object of attribute names");
    std::map<std::string, AttributeFault, std::less<>> out;
    for (const auto& [key, value] : v.items()) out[key] = child(key).attributeFault(value);
    return out;
  }

  ApplicationFaults applicationFaults(const json& v) const {
    allowKeys(v, {"unresponsive", "timeout", "responseDelay", "attributes", "windowAttributes", "observerCreateError",
                  "notificationErrors"});
    ApplicationFaults f;
    if (v.contains("unresponsive")) f.unresponsive = child("unresponsive").boolean(v["unresponsive"]);
    if (v.contains("timeout")) f.timeout = child("timeout").nonNegative(v["timeout"]);
    if (v.contains("responseDelay")) f.responseDelay = child("responseDelay").nonNegative(v["responseDelay"]);
    if (v.contains("attributes")) f.applicationAttributes = child("attributes").attributeFaults(v["attributes"]);
    if (v.contains("windowAttributes")) f.windowAttributes = child("windowAttributes").attributeFaults(v["windowAttributes"]);
    if (v.contains("observerCreateError")) f.observerCreateError = child("observerCreateError").axError(v["observerCreateError"]);
    if (v.contains("notificationErrors")) {
      const json& n = v["notificationErrors"];
      const Reader r = child("notificationErrors");
      if (!n.is_object()) r.fail("expected an object of notification names");
      for (const auto& [key, value] : n.items()) f.notificationErrors[key] = r.child(key).axError(value);
    }
    return f;
  }

  ActivationPolicy policy(const json& v) const {
    const std::string text = string(v);
    if (text == "regular") return ActivationPolicy::Regular;
    if (text == "accessory") return ActivationPolicy::Accessory;
    if (text == "prohibited") return ActivationPolicy::Prohibited;
    fail("expected \"regular\", \"accessory\" or \"prohibited\"");
  }

 private:
  std::string path_;
};

int spaceType(const Reader& r, const json& v) {
  if (v.is_string()) {
    const std::string t = v.get<std::string>();
    if (t == "user") return kSpaceTypeUser;
    if (t == "fullscreen") return kSpaceTypeFullscreen;
    if (t == "system") return kSpaceTypeSystem;
    r.fail("expected \"user\", \"fullscreen\", \"system\" or a number");
  }
  const std::int64_t n = r.integer(v);
  if (n < INT32_MIN || n > INT32_MAX) r.fail("number out of range");
  return static_cast<int>(n);
}

DisplaySpec readDisplay(const Reader& r, const json& v, std::set<SpaceID>& spaceIDs) {
  r.allowKeys(v, {"id", "uuid", "name", "frame", "visibleFrame", "scale", "spaces", "currentSpace", "uuidUnavailable",
                  "screenNumberUnavailable", "windowServerIdentifier"});
  DisplaySpec d;
  if (!v.contains("id")) r.fail("missing \"id\"");
  d.id = static_cast<DisplayID>(r.child("id").positiveInteger(v["id"], UINT32_MAX));
  if (v.contains("uuid")) {
    d.uuid = r.child("uuid").string(v["uuid"]);
    if (!ns::UUID::fromString(*d.uuid)) r.child("uuid").fail("not a UUID");
  }
  if (v.contains("name")) d.name = r.child("name").string(v["name"]);
  if (!v.contains("frame")) r.fail("missing \"frame\"");
  d.frame = r.child("frame").rect(v["frame"]);
  if (d.frame.size.width <= 0 || d.frame.size.height <= 0) r.child("frame").fail("a display needs a size");
  if (v.contains("visibleFrame")) {
    d.visibleFrame = r.child("visibleFrame").rect(v["visibleFrame"]);
    if (!d.frame.contains(*d.visibleFrame)) r.child("visibleFrame").fail("must lie inside the frame");
  }
  if (v.contains("scale")) {
    d.scale = r.child("scale").number(v["scale"]);
    if (d.scale <= 0) r.child("scale").fail("expected a positive number");
  }
  if (v.contains("spaces")) {
    const json& spaces = v["spaces"];
    const Reader sr = r.child("spaces");
    if (!spaces.is_array()) sr.fail("expected an array");
    for (std::size_t i = 0; i < spaces.size(); ++i) {
      const Reader er = sr.element(i);
      er.allowKeys(spaces[i], {"id", "type"});
      SpaceSpec s;
      if (!spaces[i].contains("id")) er.fail("missing \"id\"");
      s.id = er.child("id").positiveInteger(spaces[i]["id"]);
      if (spaces[i].contains("type")) s.type = spaceType(er.child("type"), spaces[i]["type"]);
      if (!spaceIDs.insert(s.id).second) er.child("id").fail("Space " + std::to_string(s.id) + " is listed twice");
      d.spaces.push_back(s);
    }
  }
  if (v.contains("currentSpace")) {
    d.currentSpace = r.child("currentSpace").positiveInteger(v["currentSpace"]);
    bool found = false;
    for (const auto& s : d.spaces) found = found || s.id == *d.currentSpace;
    if (!found) r.child("currentSpace").fail("not one of the display's Spaces");
  }
  if (v.contains("uuidUnavailable")) d.uuidUnavailable = r.child("uuidUnavailable").boolean(v["uuidUnavailable"]);
  if (v.contains("screenNumberUnavailable")) {
    d.screenNumberUnavailable = r.child("screenNumberUnavailable").boolean(v["screenNumberUnavailable"]);
  }
  if (v.contains("windowServerIdentifier")) {
    d.windowServerIdentifier = r.child("windowServerIdentifier").string(v["windowServerIdentifier"]);
  }
  return d;
}

WindowSpec readWindow(const Reader& r, const json& v, const std::set<SpaceID>& spaceIDs, std::set<WindowID>& windowIDs) {
  r.allowKeys(v, {"id", "title", "role", "subrole", "frame", "spaces", "minimized", "resizable", "movable", "minSize",
                  "maxSize", "closeButton", "minimizeButton", "zoomButton", "color", "focused", "main", "faults"});
  WindowSpec w;
  if (!v.contains("id")) r.fail("missing \"id\"");
  w.id = static_cast<WindowID>(r.child("id").positiveInteger(v["id"], UINT32_MAX));
  if (!windowIDs.insert(*w.id).second) r.child("id").fail("window " + std::to_string(*w.id) + " is listed twice");
  if (v.contains("title")) w.title = r.child("title").optionalString(v["title"]);
  if (v.contains("role")) w.role = r.child("role").string(v["role"]);
  if (v.contains("subrole")) w.subrole = r.child("subrole").string(v["subrole"]);
  if (v.contains("frame")) w.frame = r.child("frame").rect(v["frame"]);
  if (v.contains("spaces")) {
    const json& s = v["spaces"];
    const Reader sr = r.child("spaces");
    if (s.is_string() && s.get<std::string>() == "all") {
      w.onAllSpaces = true;
    } else if (s.is_array()) {
      for (std::size_t i = 0; i < s.size(); ++i) {
        const SpaceID id = sr.element(i).positiveInteger(s[i]);
        if (!spaceIDs.count(id)) sr.element(i).fail("no Space " + std::to_string(id));
        w.spaces.push_back(id);
      }
    } else {
      sr.fail("expected an array of Space ids or \"all\"");
    }
  }
  auto flag = [&](const char* key, bool& out) {
    if (v.contains(key)) out = r.child(key).boolean(v[key]);
  };
  flag("minimized", w.minimized);
  flag("resizable", w.resizable);
  flag("movable", w.movable);
  flag("closeButton", w.closeButton);
  flag("minimizeButton", w.minimizeButton);
  flag("zoomButton", w.zoomButton);
  flag("focused", w.focused);
  flag("main", w.main);
  if (v.contains("minSize")) w.minSize = r.child("minSize").size(v["minSize"]);
  if (v.contains("maxSize")) w.maxSize = r.child("maxSize").size(v["maxSize"]);
  if (w.minSize && w.maxSize && (w.minSize->width > w.maxSize->width || w.minSize->height > w.maxSize->height)) {
    r.fail("minSize is larger than maxSize");
  }
  if (v.contains("color")) w.color = r.child("color").color(v["color"]);
  if (v.contains("faults")) {
    const json& f = v["faults"];
    const Reader fr = r.child("faults");
    fr.allowKeys(f, {"attributes", "windowIDUnavailable", "captureFails"});
    if (f.contains("attributes")) w.attributeFaults = fr.child("attributes").attributeFaults(f["attributes"]);
    if (f.contains("windowIDUnavailable")) {
      w.windowIDUnavailable = fr.child("windowIDUnavailable").boolean(f["windowIDUnavailable"]);
    }
    if (f.contains("captureFails")) w.captureFails = fr.child("captureFails").boolean(f["captureFails"]);
  }
  return w;
}

void readApplicationIdentity(const Reader& r, const json& v, ApplicationSpec& a) {
  if (v.contains("pid")) {
    const std::int64_t pid = r.child("pid").integer(v["pid"]);
    if (pid <= 0 || pid > INT32_MAX) r.child("pid").fail("expected a positive process id");
    a.pid = static_cast<pid_t>(pid);
  }
  if (v.contains("bundleIdentifier")) a.bundleIdentifier = r.child("bundleIdentifier").optionalString(v["bundleIdentifier"]);
  if (v.contains("bundleURL") && !v["bundleURL"].is_null()) a.bundleURL = r.child("bundleURL").url(v["bundleURL"]);
  if (v.contains("name")) a.name = r.child("name").optionalString(v["name"]);
  if (v.contains("activationPolicy")) a.activationPolicy = r.child("activationPolicy").policy(v["activationPolicy"]);
}

Scenario read(const json& root) {
  const Reader r("");
  r.allowKeys(root, {"version", "osVersion", "permissions", "displays", "windowServerDisplayOrder", "self", "dock",
                     "applications", "frontmost", "zOrder", "mouse", "faults", "script", "snapshots", "players",
                     "preferences"});
  Scenario s;
  if (root.contains("version")) {
    const std::int64_t version = r.child("version").integer(root["version"]);
    if (version != 1) r.child("version").fail("unsupported version " + std::to_string(version));
  }
  if (root.contains("osVersion")) s.osVersion = r.child("osVersion").osVersion(root["osVersion"]);
  if (root.contains("permissions")) {
    const json& p = root["permissions"];
    const Reader pr = r.child("permissions");
    pr.allowKeys(p, {"accessibility", "screenCapture"});
    if (p.contains("accessibility")) s.accessibilityTrusted = pr.child("accessibility").boolean(p["accessibility"]);
    if (p.contains("screenCapture")) s.screenCaptureAllowed = pr.child("screenCapture").boolean(p["screenCapture"]);
  }

  std::set<SpaceID> spaceIDs;
  std::set<DisplayID> displayIDs;
  if (root.contains("displays")) {
    const json& displays = root["displays"];
    const Reader dr = r.child("displays");
    if (!displays.is_array()) dr.fail("expected an array");
    for (std::size_t i = 0; i < displays.size(); ++i) {
      DisplaySpec d = readDisplay(dr.element(i), displays[i], spaceIDs);
      if (!displayIDs.insert(*d.id).second) dr.element(i).child("id").fail("display " + std::to_string(*d.id) + " is listed twice");
      s.displays.push_back(std::move(d));
    }
  }
  if (root.contains("windowServerDisplayOrder")) {
    const json& order = root["windowServerDisplayOrder"];
    const Reader orr = r.child("windowServerDisplayOrder");
    if (!order.is_array()) orr.fail("expected an array of display ids");
    std::set<DisplayID> seen;
    for (std::size_t i = 0; i < order.size(); ++i) {
      const auto id = static_cast<DisplayID>(orr.element(i).positiveInteger(order[i], UINT32_MAX));
      if (!displayIDs.count(id)) orr.element(i).fail("no display " + std::to_string(id));
      if (!seen.insert(id).second) orr.element(i).fail("display " + std::to_string(id) + " is listed twice");
      s.windowServerDisplayOrder.push_back(id);
    }
  }

  std::set<pid_t> pids;
  if (root.contains("self")) {
    const json& v = root["self"];
    const Reader sr = r.child("self");
    sr.allowKeys(v, {"pid", "bundleIdentifier", "bundleURL", "name", "activationPolicy"});
    ApplicationSpec self;
    self.activationPolicy = ActivationPolicy::Accessory;
    readApplicationIdentity(sr, v, self);
    s.self = std::move(self);
  }
  const pid_t selfPid = s.self && s.self->pid ? *s.self->pid : 100;
  pids.insert(selfPid);

  std::set<WindowID> windowIDs;
  if (root.contains("dock")) {
    const json& v = root["dock"];
    const Reader dr = r.child("dock");
    dr.allowKeys(v, {"pid", "bundleIdentifier", "bundleURL", "name", "frame", "items", "faults"});
    DockSpec dock;
    if (v.contains("pid")) {
      const std::int64_t pid = dr.child("pid").integer(v["pid"]);
      if (pid <= 0 || pid > INT32_MAX) dr.child("pid").fail("expected a positive process id");
      dock.pid = static_cast<pid_t>(pid);
      if (!pids.insert(*dock.pid).second) dr.child("pid").fail("process " + std::to_string(pid) + " is listed twice");
    }
    if (v.contains("bundleIdentifier")) dock.bundleIdentifier = dr.child("bundleIdentifier").string(v["bundleIdentifier"]);
    if (v.contains("bundleURL")) dock.bundleURL = dr.child("bundleURL").url(v["bundleURL"]);
    if (v.contains("name")) dock.name = dr.child("name").string(v["name"]);
    if (!v.contains("frame")) dr.fail("missing \"frame\"");
    dock.frame = dr.child("frame").rect(v["frame"]);
    if (v.contains("items")) {
      const json& items = v["items"];
      const Reader ir = dr.child("items");
      if (!items.is_array()) ir.fail("expected an array");
      for (std::size_t i = 0; i < items.size(); ++i) {
        const Reader er = ir.element(i);
        er.allowKeys(items[i], {"subrole", "title", "url", "frame"});
        DockItemSpec item;
        if (items[i].contains("subrole")) item.subrole = er.child("subrole").string(items[i]["subrole"]);
        if (items[i].contains("title")) item.title = er.child("title").optionalString(items[i]["title"]);
        if (items[i].contains("url") && !items[i]["url"].is_null()) item.url = er.child("url").url(items[i]["url"]);
        if (!items[i].contains("frame")) er.fail("missing \"frame\"");
        item.frame = er.child("frame").rect(items[i]["frame"]);
        dock.items.push_back(std::move(item));
      }
    }
    if (v.contains("faults")) dock.faults = dr.child("faults").applicationFaults(v["faults"]);
    s.dock = std::move(dock);
  }

  if (root.contains("applications")) {
    const json& apps = root["applications"];
    const Reader ar = r.child("applications");
    if (!apps.is_array()) ar.fail("expected an array");
    for (std::size_t i = 0; i < apps.size(); ++i) {
      const Reader er = ar.element(i);
      const json& v = apps[i];
      er.allowKeys(v, {"pid", "bundleIdentifier", "bundleURL", "name", "activationPolicy", "hidden", "windows", "faults"});
      ApplicationSpec a;
      readApplicationIdentity(er, v, a);
      if (!a.pid) er.fail("missing \"pid\"");
      if (!pids.insert(*a.pid).second) er.child("pid").fail("process " + std::to_string(*a.pid) + " is listed twice");
      if (v.contains("hidden")) a.hidden = er.child("hidden").boolean(v["hidden"]);
      if (v.contains("windows")) {
        const json& windows = v["windows"];
        const Reader wr = er.child("windows");
        if (!windows.is_array()) wr.fail("expected an array");
        for (std::size_t w = 0; w < windows.size(); ++w) {
          a.windows.push_back(readWindow(wr.element(w), windows[w], spaceIDs, windowIDs));
        }
      }
      if (v.contains("faults")) a.faults = er.child("faults").applicationFaults(v["faults"]);
      s.applications.push_back(std::move(a));
    }
  }

  if (root.contains("frontmost") && !root["frontmost"].is_null()) {
    const std::int64_t pid = r.child("frontmost").integer(root["frontmost"]);
    if (pid <= 0 || pid > INT32_MAX || !pids.count(static_cast<pid_t>(pid))) {
      r.child("frontmost").fail("no process " + std::to_string(pid));
    }
    s.frontmost = static_cast<pid_t>(pid);
  }
  if (root.contains("zOrder")) {
    const json& z = root["zOrder"];
    const Reader zr = r.child("zOrder");
    if (!z.is_array()) zr.fail("expected an array of window ids");
    std::set<WindowID> seen;
    for (std::size_t i = 0; i < z.size(); ++i) {
      const auto id = static_cast<WindowID>(zr.element(i).positiveInteger(z[i], UINT32_MAX));
      if (!windowIDs.count(id)) zr.element(i).fail("no window " + std::to_string(id));
      if (!seen.insert(id).second) zr.element(i).fail("window " + std::to_string(id) + " is listed twice");
      s.zOrder.push_back(id);
    }
  }
  if (root.contains("mouse")) s.mouse = r.child("mouse").point(root["mouse"]);
  if (root.contains("faults")) {
    const json& f = root["faults"];
    const Reader fr = r.child("faults");
    fr.allowKeys(f, {"hashBuckets", "copySpacesFails", "managedDisplaySpacesFails", "managedDisplaySpacesExtra"});
    if (f.contains("hashBuckets")) s.hashBuckets = fr.child("hashBuckets").positiveInteger(f["hashBuckets"]);
    if (f.contains("copySpacesFails")) s.copySpacesFails = fr.child("copySpacesFails").boolean(f["copySpacesFails"]);
    if (f.contains("managedDisplaySpacesFails")) {
      s.managedDisplaySpacesFails = fr.child("managedDisplaySpacesFails").boolean(f["managedDisplaySpacesFails"]);
    }
    if (f.contains("managedDisplaySpacesExtra")) {
      const json& extra = f["managedDisplaySpacesExtra"];
      const Reader er = fr.child("managedDisplaySpacesExtra");
      if (!extra.is_array()) er.fail("expected an array");
      for (std::size_t i = 0; i < extra.size(); ++i) {
        ns::Error error;
        auto value = ns::json::fromJson(extra[i], {}, &error);
        if (!value) er.element(i).fail(error.localizedDescription());
        s.managedDisplaySpacesExtra.push_back(std::move(*value));
      }
    }
  }
  if (root.contains("script")) s.script = root["script"];
  if (root.contains("snapshots")) s.snapshots = root["snapshots"];
  if (root.contains("players")) {
    if (!root["players"].is_object()) r.child("players").fail("expected an object");
    s.players = root["players"];
  }
  if (root.contains("preferences")) {
    if (!root["preferences"].is_object()) r.child("preferences").fail("expected an object");
    s.preferences = root["preferences"];
  }
  return s;
}

}  // namespace

std::optional<Scenario> Scenario::parse(std::string_view text, std::string* error) {
  json root;
  try {
    root = json::parse(text.begin(), text.end());
  } catch (const json::parse_error& e) {
    if (error) *error = std::string("scenario: not valid JSON: ") + e.what();
    return std::nullopt;
  }
  try {
    return read(root);
  } catch (const Failure& f) {
    if (error) *error = f.message;
    return std::nullopt;
  }
}

std::optional<Scenario> Scenario::load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path + ": cannot be read";
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    if (error) *error = path + ": cannot be read";
    return std::nullopt;
  }
  auto scenario = parse(text.str(), error);
  if (!scenario && error) *error = path + ": " + *error;
  return scenario;
}

void Scenario::apply(World& world) const {
  world.reset();
  world.setEventsSuppressed(true);
  world.setAccessibilityTrusted(accessibilityTrusted);
  world.setScreenCaptureAllowed(screenCaptureAllowed);
  if (osVersion) world.setOperatingSystemVersion(*osVersion);
  if (self) world.setSelf(*self);
  for (const auto& d : displays) world.addDisplay(d);
  world.setWindowServerDisplayOrder(windowServerDisplayOrder);
  if (dock) world.setDock(*dock);
  std::vector<WindowID> fileOrder;
  for (const auto& a : applications) {
    world.launchApplication(a);
    for (const auto& w : a.windows) fileOrder.push_back(*w.id);
  }
  std::vector<WindowID> order = zOrder;
  order.insert(order.end(), fileOrder.begin(), fileOrder.end());
  world.setZOrder(order);
  world.setFrontmostApplication(frontmost);
  if (mouse) {
    world.setMouseLocationTopLeft(*mouse);
  } else if (!displays.empty()) {
    const CGRect& f = displays.front().frame;
    world.setMouseLocationTopLeft(world.flippedPoint(CGPoint{f.midX(), f.midY()}));
  }
  world.setHashBuckets(hashBuckets);
  world.setCopySpacesFails(copySpacesFails);
  world.setManagedDisplaySpacesFails(managedDisplaySpacesFails);
  if (!managedDisplaySpacesExtra.empty()) {
    ns::Array extra = managedDisplaySpacesExtra;
    world.setManagedDisplaySpacesTransform([extra](ns::Value list) {
      if (auto* a = list.array()) a->insert(a->end(), extra.begin(), extra.end());
      return list;
    });
  }
  world.setEventsSuppressed(false);
}

ScopedScenario::ScopedScenario(std::string_view json) {
  std::string error;
  auto scenario = Scenario::parse(json, &error);
  if (!scenario) {
    std::fprintf(stderr, "ScopedScenario: %s\n", error.c_str());
    std::abort();
  }
  scenario->apply();
}

ScopedScenario::~ScopedScenario() { World::shared().reset(); }

}  // namespace sim
