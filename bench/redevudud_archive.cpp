// Keyed archiving of the telemetry client: the cost of storing and reading
// back one event log (what the log store does for every log) and one session
// history (what the session context does at every session change).

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionHistoryInfo.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/KeyedArchiver.h"

namespace {

// Stand-ins with the shape of the real records: a device record of sixteen
// fields, and an event log with its properties and typed properties.
class BenchDevice : public ns::Coding {
 public:
  std::vector<std::pair<std::string, std::string>> fields;
  int64_t timeZoneOffset = -60;

  std::string className() const override { return "BenchDevice"; }
  void encodeWithCoder(ns::KeyedArchiver& coder) const override {
    for (const auto& [key, value] : fields) coder.encodeObject(ns::Value(value), key);
    coder.encodeObject(ns::Value(timeZoneOffset), "timeZoneOffset");
  }
  static std::shared_ptr<BenchDevice> initWithCoder(ns::KeyedUnarchiver& coder) {
    auto device = std::make_shared<BenchDevice>();
    for (const char* key : kKeys) {
      if (auto value = coder.decodeString(key)) device->fields.emplace_back(key, *value);
    }
    device->timeZoneOffset = coder.decodeObject("timeZoneOffset").value_or(ns::Value(0)).asInt64().value_or(0);
    return device;
  }
  static constexpr const char* kKeys[] = {"sdkName",     "sdkVersion",     "model",          "oemName",
                                          "osName",      "osVersion",      "osBuild",        "locale",
                                          "screenSize",  "appVersion",     "appBuild",       "appNamespace",
                                          "carrierName", "carrierCountry", "wrapperSdkName", "wrapperSdkVersion"};
};

class BenchTypedProperty : public ns::Coding {
 public:
  std::string type, name;
  ns::Value value;
  std::string className() const override { return "BenchTypedProperty"; }
  void encodeWithCoder(ns::KeyedArchiver& coder) const override {
    coder.encodeObject(ns::Value(type), "type");
    coder.encodeObject(ns::Value(name), "name");
    coder.encodeObject(value, "value");
  }
  static std::shared_ptr<BenchTypedProperty> initWithCoder(ns::KeyedUnarchiver& coder) {
    auto property = std::make_shared<BenchTypedProperty>();
    property->type = coder.decodeString("type").value_or("");
    property->name = coder.decodeString("name").value_or("");
    property->value = coder.decodeObject("value").value_or(ns::Value());
    return property;
  }
};

class BenchEventLog : public ns::Coding {
 public:
  std::string type = "event", id, sid, name, userId;
  ns::Date timestamp;
  std::shared_ptr<BenchDevice> device;
  ns::Dictionary properties;
  ns::Array typedProperties;
  ns::Array transmissionTargetTokens;

  std::string className() const override { return "BenchEventLog"; }
  void encodeWithCoder(ns::KeyedArchiver& coder) const override {
    coder.encodeObject(ns::Value(type), "type");
    coder.encodeObject(ns::Value(timestamp), "timestamp");
    coder.encodeObject(ns::Value(id), "id");
    coder.encodeObject(ns::Value(sid), "sid");
    coder.encodeObject(ns::Value(name), "name");
    coder.encodeObject(ns::Value(userId), "userId");
    coder.encodeObject(std::static_pointer_cast<const ns::Coding>(device), "device");
    coder.encodeObject(ns::Value(properties), "properties");
    coder.encodeObject(ns::Value(typedProperties), "typedProperties");
    coder.encodeObject(ns::Value(transmissionTargetTokens), "transmissionTargetTokens");
  }
  static std::shared_ptr<BenchEventLog> initWithCoder(ns::KeyedUnarchiver& coder) {
    auto log = std::make_shared<BenchEventLog>();
    log->type = coder.decodeString("type").value_or("");
    log->timestamp = coder.decodeDate("timestamp").value_or(ns::Date());
    log->id = coder.decodeString("id").value_or("");
    log->sid = coder.decodeString("sid").value_or("");
    log->name = coder.decodeString("name").value_or("");
    log->userId = coder.decodeString("userId").value_or("");
    log->device = coder.decodeObjectOfClass<BenchDevice>("device");
    log->properties = coder.decodeDictionary("properties").value_or(ns::Dictionary{});
    log->typedProperties = coder.decodeArray("typedProperties").value_or(ns::Array{});
    log->transmissionTargetTokens = coder.decodeArray("transmissionTargetTokens").value_or(ns::Array{});
    return log;
  }
};

void registerClasses() {
  static const bool registered = [] {
    ns::KeyedUnarchiver::registerClass<BenchDevice>("BenchDevice");
    ns::KeyedUnarchiver::registerClass<BenchTypedProperty>("BenchTypedProperty");
    ns::KeyedUnarchiver::registerClass<BenchEventLog>("BenchEventLog");
    return true;
  }();
  (void)registered;
}

ns::Value typicalEventLog() {
  registerClasses();
  auto device = std::make_shared<BenchDevice>();
  const char* values[] = {"redevudud.macos",
                          "4.4.3",
                          "Mac14,2",
                          "Apple",
                          "macOS",
                          "13.4.1",
                          "22F82",
                          "en_US",
                          "2560x1600",
                          "1.8.2",
                          "182",
                          "com.morvalent.Morvalent",
                          "",
                          "",
                          "",
                          ""};
  for (size_t i = 0; i < std::size(BenchDevice::kKeys); ++i) {
    if (*values[i]) device->fields.emplace_back(BenchDevice::kKeys[i], values[i]);
  }
  auto log = std::make_shared<BenchEventLog>();
  log->timestamp = ns::Date::fromTimeIntervalSince1970(1'700'000'000.125);
  log->id = "5B5E8A0C-6D3E-4F7A-9C1B-2E4D6F8A0B1C";
  log->sid = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9";
  log->name = "dockPreview_SelectWindow";
  log->userId = "c:user-1";
  log->device = device;
  log->properties = {{"window_ScreenDisplayMode", ns::Value("1")},
                     {"window_SpaceDisplayMode", ns::Value("2")},
                     {"source", ns::Value("dock")},
                     {"count", ns::Value("3")},
                     {"theme", ns::Value("dark")}};
  const char* names[] = {"window_ScreenDisplayMode", "window_SpaceDisplayMode", "source", "count", "theme"};
  for (const char* name : names) {
    auto property = std::make_shared<BenchTypedProperty>();
    property->type = "string";
    property->name = name;
    property->value = ns::Value(std::string(name) + "-value");
    log->typedProperties.push_back(ns::Value(property));
  }
  log->transmissionTargetTokens = {ns::Value("abcdef0123456789-target-token")};
  return ns::Value(log);
}

ns::Value sessionHistory() {
  ns::Array history;
  for (int i = 0; i < 5; ++i) {
    history.push_back(ns::Value(
        std::make_shared<DVACSessionHistoryInfo>(ns::Date::fromTimeIntervalSince1970(1'700'000'000 + 60.0 * i),
                                                 "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F" + std::to_string(i))));
  }
  return ns::Value(history);
}

void BM_ArchiveEventLog(benchmark::State& state) {
  const ns::Value log = typicalEventLog();
  size_t bytes = 0;
  for (auto _ : state) {
    auto data = DVACUtility::archiveKeyedData(log);
    bytes = data->size();
    benchmark::DoNotOptimize(data);
  }
  state.counters["archive_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ArchiveEventLog);

void BM_UnarchiveEventLog(benchmark::State& state) {
  const auto data = DVACUtility::archiveKeyedData(typicalEventLog());
  for (auto _ : state) {
    auto value = DVACUtility::unarchiveKeyedData(data);
    if (!value) state.SkipWithError("unarchiving failed");
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_UnarchiveEventLog);

void BM_RoundTripEventLog(benchmark::State& state) {
  const ns::Value log = typicalEventLog();
  for (auto _ : state) {
    auto value = DVACUtility::unarchiveKeyedData(DVACUtility::archiveKeyedData(log));
    if (!value) state.SkipWithError("round trip failed");
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_RoundTripEventLog);

void BM_RoundTripSessionHistory(benchmark::State& state) {
  const ns::Value history = sessionHistory();
  for (auto _ : state) {
    auto value = DVACUtility::unarchiveKeyedData(DVACUtility::archiveKeyedData(history));
    if (!value) state.SkipWithError("round trip failed");
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_RoundTripSessionHistory);

}  // namespace
