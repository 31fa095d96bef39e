// Costs of the foundation paths that run on every log line, preference read
// or stored record.
#include <benchmark/benchmark.h>

#include "platform/foundation/Iso8601.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Utf16.h"

namespace {

// The diagnostic gate reads "loggingModules" for every line.
void BM_StringArrayForKey(benchmark::State& state) {
    auto d = ns::UserDefaults::inMemory();
    d->setObject("loggingModules", ns::Array{"ScreenResizeCorrector", "SnapController"});
    for (auto _ : state) benchmark::DoNotOptimize(d->stringArrayForKey("loggingModules"));
}
BENCHMARK(BM_StringArrayForKey);

void BM_BoolForAbsentKeyWithRegisteredDefault(benchmark::State& state) {
    auto d = ns::UserDefaults::inMemory();
    d->registerDefaults({{"dockPreviewsEnabled", true}});
    for (auto _ : state) benchmark::DoNotOptimize(d->boolForKey("dockPreviewsEnabled"));
}
BENCHMARK(BM_BoolForAbsentKeyWithRegisteredDefault);

ns::Value sampleLog() {
    return ns::Value(ns::OrderedDictionary{
        {"type", "event"},
        {"timestamp", ns::iso8601::format(ns::Date(1700000000.123))},
        {"sid", ns::UUID::random().UUIDString()},
        {"name", "dockPreview_SelectWindow"},
        {"properties", ns::Dictionary{{"window_ScreenDisplayMode", "1"}, {"window_SpaceDisplayMode", "0"}}},
        {"device", ns::Dictionary{{"sdkName", "redevudud.macos"}, {"sdkVersion", "4.4.3"}, {"osName", "macOS"},
                                  {"model", "MacBookPro18,1"}, {"locale", "en_US"}, {"timeZoneOffset", 60}}},
    });
}

void BM_JsonWriteLog(benchmark::State& state) {
    const ns::Value log = sampleLog();
    for (auto _ : state) benchmark::DoNotOptimize(ns::json::write(log));
}
BENCHMARK(BM_JsonWriteLog);

void BM_ArchiveLog(benchmark::State& state) {
    const ns::Value log = sampleLog();
    for (auto _ : state) benchmark::DoNotOptimize(ns::KeyedArchiver::archivedDataWithRootObject(log));
}
BENCHMARK(BM_ArchiveLog);

void BM_UnarchiveLog(benchmark::State& state) {
    const auto data = ns::KeyedArchiver::archivedDataWithRootObject(sampleLog());
    for (auto _ : state) benchmark::DoNotOptimize(ns::KeyedUnarchiver::unarchivedObjectWithData(*data));
}
BENCHMARK(BM_UnarchiveLog);

void BM_Iso8601Format(benchmark::State& state) {
    const ns::Date d(1700000000.123);
    for (auto _ : state) benchmark::DoNotOptimize(ns::iso8601::format(d));
}
BENCHMARK(BM_Iso8601Format);

void BM_Utf16Prefix125(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < 100; ++i) text += "ab\U0001F600\u00e9";
    for (auto _ : state) benchmark::DoNotOptimize(ns::utf16Prefix(text, 125));
}
BENCHMARK(BM_Utf16Prefix125);

}  // namespace
