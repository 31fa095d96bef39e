// Costs of the foundation paths that run on every log line, preference read
// or stored record.
#include <benchmark/benchmark.h>

#include "platform/foundation/Iso8601.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/TestSupport.h"
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

// A preferences file of 200,000 keys, as a user's long-lived file may grow.
constexpr int kLargePreferences = 200'000;

const std::string& largePreferencesFile() {
    static ns::test::TemporaryDirectory* dir = new ns::test::TemporaryDirectory;
    static const std::string path = [] {
        ns::Dictionary keys;
        for (int i = 0; i < kLargePreferences; ++i) {
            const std::string key = "com.example.key." + std::to_string(i);
            if (i % 2 == 0) {
                keys.emplace(key, ns::Value(int64_t{i}));
            } else {
                keys.emplace(key, ns::Value("value " + std::to_string(i)));
            }
        }
        const std::string file = dir->file("large.plist");
        auto data = ns::PropertyListSerialization::dataWithPropertyList(ns::Value(std::move(keys)),
                                                                        ns::PropertyListFormat::Binary);
        std::FILE* f = std::fopen(file.c_str(), "wb");
        std::fwrite(data->data(), 1, data->size(), f);
        std::fclose(f);
        return file;
    }();
    return path;
}

// Start-up reads the whole file once.
void BM_LargePreferencesLoad(benchmark::State& state) {
    const std::string& path = largePreferencesFile();
    for (auto _ : state) {
        auto d = ns::UserDefaults::persistent(path);
        if (d->persistentDomain().size() != kLargePreferences) state.SkipWithError("the file lost keys");
    }
}
BENCHMARK(BM_LargePreferencesLoad)->Unit(benchmark::kMillisecond);

// What a change costs the thread that makes it (the main thread, for the
// application's preferences); the file is written behind it.
void BM_LargePreferencesChange(benchmark::State& state) {
    auto d = ns::UserDefaults::persistent(largePreferencesFile());
    int64_t i = 0;
    for (auto _ : state) d->setInteger("openAtStartup", ++i % 2);
    if (!d->synchronize()) state.SkipWithError("the file was not written");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LargePreferencesChange)->Unit(benchmark::kMicrosecond);

// A burst of changes as at start-up, then a flush: the changes share writes.
void BM_LargePreferencesBurstThenSynchronize(benchmark::State& state) {
    auto d = ns::UserDefaults::persistent(largePreferencesFile());
    for (auto _ : state) {
        for (int64_t i = 0; i < state.range(0); ++i) d->setInteger("key." + std::to_string(i), i);
        if (!d->synchronize()) state.SkipWithError("the file was not written");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetLabel("items: changes");
}
BENCHMARK(BM_LargePreferencesBurstThenSynchronize)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
