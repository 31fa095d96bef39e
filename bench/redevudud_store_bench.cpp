// The log store: saves through the store against plain prepared inserts into
// a write-ahead-log file laid out as the store's (interleaved in one run, so
// both see the same disk), and loading batches of 50 logs.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <time.h>

#include <memory>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Model/DVACAbstractLog.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACEncrypter.h"
#include "bench/BenchSupport.h"

namespace {

// A usage event of a typical size.
class BenchLog : public DVACAbstractLog {
 public:
  explicit BenchLog(std::string name = {}) : name(std::move(name)) {
    setType("event");
    setTimestamp(ns::Date(1700000000));
    setSid("0F7C3E24-6D43-4B0C-9A3B-1C2D3E4F5A6B");
  }
  std::string className() const override { return "DVACBenchLog"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACBenchLog", "DVACAbstractLog", "NSObject"}; }
  void encodeWithCoder(ns::KeyedArchiver& coder) const override {
    DVACAbstractLog::encodeWithCoder(coder);
    coder.encodeObject(ns::Value(name), "name");
    coder.encodeObject(ns::Value(ns::Dictionary{{"screen", ns::Value("settings")}, {"mode", ns::Value("dock")}}),
                       "properties");
  }
  void decodeWithCoder(ns::KeyedUnarchiver& coder) override {
    DVACAbstractLog::decodeWithCoder(coder);
    name = coder.decodeString("name").value_or("");
    coder.decodeDictionary("properties");
  }
  std::string name;
};

// The store's environment, with the benchmark's log class known to the
// unarchiver.
struct Environment : bench::StoreEnvironment {
  Environment() {
    ns::KeyedUnarchiver::registerClass("DVACBenchLog", [](ns::KeyedUnarchiver& coder) -> std::shared_ptr<ns::Coding> {
      auto log = std::make_shared<BenchLog>();
      log->decodeWithCoder(coder);
      return log;
    });
  }
};

std::shared_ptr<DVACLog> makeLog(int64_t i) {
  return std::make_shared<BenchLog>("dockPreview_SelectWindow_" + std::to_string(i));
}

void BM_StoreSaveVsPlainInsert(benchmark::State& state) {
  Environment environment;
  auto storage = DVACLogDBStorage::create();
  const std::string text = bench::archivedText(makeLog(0));
  bench::PlainInserts plain(*storage);

  bench::SideBySide laps(CLOCK_THREAD_CPUTIME_ID);
  int64_t i = 0;
  for (auto _ : state) {
    auto log = makeLog(++i);
    laps.start();
    benchmark::DoNotOptimize(storage->saveLog(log, "Analytics", DVACLogFlagsNormal));
    laps.split();
    plain.insert(text);
    laps.stop();
    if (i % 1000 == 0) {
      state.PauseTiming();
      plain.clear();
      storage->executeNonSelectionQuery("DELETE FROM \"logs\"");
      state.ResumeTiming();
    }
  }

  // The processor time shows the store's own work beyond the insert:
  // archiving, Base64 and the statement's round trip.
  laps.report(state, static_cast<double>(i), "store_saves_per_s", "store_cpu_us_per_save");
}
BENCHMARK(BM_StoreSaveVsPlainInsert)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The per-log cost of a Common Schema log's target token: encrypted before
// it is stored.
void BM_EncryptTargetToken(benchmark::State& state) {
  Environment environment;
  DVACEncrypter encrypter;
  const std::string token = "0a1b2c3d4e5f4a6b8c7d9e0f1a2b3c4d-5e6f7a8b-9c0d-4e1f-a2b3-c4d5e6f7a8b9-7001";
  for (auto _ : state) benchmark::DoNotOptimize(encrypter.encryptString(token));
}
BENCHMARK(BM_EncryptTargetToken);

void BM_LoadBatchesOf50(benchmark::State& state) {
  Environment environment;
  constexpr int kLogs = 5000;
  {
    auto storage = DVACLogDBStorage::create();
    sqlite3* db = nullptr;
    sqlite3_open_v2(storage->dbFileURL()->path().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") VALUES ('Analytics', ?, ?)", -1,
                       &insert, nullptr);
    for (int i = 0; i < kLogs; ++i) {
      const std::string text = bench::archivedText(makeLog(i));
      sqlite3_bind_text(insert, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      sqlite3_bind_int64(insert, 2, 1 + i % 2);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
  }
  // Pending batches live in the store object: a fresh one hands every log out
  // again. Three pending batches at most, as a channel unit keeps them.
  auto storage = DVACLogDBStorage::create();
  int batches = 0;
  int64_t logs = 0;
  for (auto _ : state) {
    if (batches == 3) {
      state.PauseTiming();
      storage = DVACLogDBStorage::create();
      batches = 0;
      state.ResumeTiming();
    }
    storage->loadLogsWithGroupId("Analytics", 50, std::nullopt,
                                 [&](const DVACStorageLogArray& loaded, const std::optional<std::string>&) {
                                   logs += static_cast<int64_t>(loaded.size());
                                 });
    ++batches;
  }
  state.counters["batches_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["logs_per_s"] = benchmark::Counter(static_cast<double>(logs), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadBatchesOf50)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
