// A channel unit from enqueue to stored, with the real log store, against
// plain prepared inserts into the same file in the same run (interleaved, so
// both see the same disk). The unit's work runs on the logs queue's thread,
// so processor time is the whole process's.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitDefault.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/TestSupport.h"
#include "platform/security/Keychain.h"

namespace {

// Ready, but offline: the unit stores and arms its timer, and a flush finds
// nothing to send through.
class OfflineIngestion : public DVACIngestionProtocol {
 public:
  void setEnabled(bool, bool) override {}
  bool isEnabled() const override { return false; }
  bool isReadyToSend() const override { return true; }
  void sendAsync(const std::shared_ptr<DVACLogContainer>&, DVACSendAsyncCompletionHandler) override {}
};

struct Environment {
  Environment() {
    DVACLogger::setCurrentLogLevel(DVACLogLevelNone);
    sec::setCurrentKeychain(std::make_shared<sec::MemoryKeychainStore>());
    DVACUtility::resetRedEvududDirectoryForTesting();
    DVACRedEvududUserDefaults::resetSharedInstance();
  }
  ~Environment() {
    DVACUtility::resetRedEvududDirectoryForTesting();
    DVACRedEvududUserDefaults::resetSharedInstance();
    sec::setCurrentKeychain(nullptr);
  }
  ns::test::ScopedPathsRoot root;
  ns::test::ScopedStandardDefaults defaults;
};

double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A usage event of a typical size, with its device already stamped.
std::shared_ptr<DVACLog> makeLog(int64_t i) {
  static const auto device = [] {
    auto d = std::make_shared<DVACDevice>();
    d->sdkName = "redevudud.macos";
    d->sdkVersion = "4.4.3";
    d->osName = "Debian GNU/Linux";
    d->osVersion = "12";
    d->locale = "en_US";
    d->timeZoneOffset = 60;
    d->appVersion = "1.0";
    d->appBuild = "1";
    return d;
  }();
  auto log = std::make_shared<DVACLogWithProperties>();
  log->setType("event");
  log->setTimestamp(ns::Date(1700000000 + static_cast<double>(i)));
  log->setSid("0F7C3E24-6D43-4B0C-9A3B-1C2D3E4F5A6B");
  log->setDevice(device);
  log->setProperties(DVACPropertiesDictionary{{"window_ScreenDisplayMode", "single"}, {"n", std::to_string(i)}});
  return log;
}

void BM_ChannelEnqueueToStoredVsPlainInsert(benchmark::State& state) {
  Environment environment;
  const int64_t logsPerRound = state.range(0);
  auto storage = DVACLogDBStorage::create();
  auto queue = dispatch::Queue::makeSerial("com.diruriduv.redevudud.ChannelGroupQueue");
  auto unit = DVACChannelUnitDefault::initWithIngestion(
      std::make_shared<OfflineIngestion>(), storage,
      DVACChannelUnitConfiguration::initWithGroupId("Analytics", 1, 6, 1'000'000, 3), queue);

  const std::string path = storage->dbFileURL()->path();
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_exec(db,
               ("PRAGMA max_page_count = " + std::to_string(storage->maxSizeInBytes() / storage->pageSize())).c_str(),
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") VALUES (?, ?, ?)", -1, &insert,
                     nullptr);

  using Clock = std::chrono::steady_clock;
  Clock::duration channelTime{};
  Clock::duration plainTime{};
  double channelCpu = 0;
  double plainCpu = 0;
  int64_t total = 0;
  int64_t next = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<std::shared_ptr<DVACLog>> logs;
    std::vector<std::string> texts;
    for (int64_t k = 0; k < logsPerRound; ++k) {
      logs.push_back(makeLog(++next));
      texts.push_back(ns::base64Encode(*DVACUtility::archiveKeyedData(ns::Value(makeLog(next)))));
    }
    state.ResumeTiming();

    const double c0 = processCpuSeconds();
    const auto t0 = Clock::now();
    for (const auto& log : logs) unit->enqueueItem(log, DVACLogFlagsNormal);
    queue->sync([] {});  // every log of the round is stored
    const auto t1 = Clock::now();
    const double c1 = processCpuSeconds();
    for (const auto& text : texts) {
      sqlite3_bind_text(insert, 1, "Analytics", -1, SQLITE_STATIC);
      sqlite3_bind_text(insert, 2, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
      sqlite3_bind_int64(insert, 3, 1);
      benchmark::DoNotOptimize(sqlite3_step(insert));
      sqlite3_reset(insert);
    }
    const auto t2 = Clock::now();
    const double c2 = processCpuSeconds();
    channelTime += t1 - t0;
    plainTime += t2 - t1;
    channelCpu += c1 - c0;
    plainCpu += c2 - c1;
    total += logsPerRound;

    state.PauseTiming();
    sqlite3_exec(db, "DELETE FROM \"logs\"", nullptr, nullptr, nullptr);
    state.ResumeTiming();
  }
  sqlite3_finalize(insert);
  sqlite3_close_v2(db);
  unit->setEnabled(false, false);
  queue->sync([] {});

  const double channelSeconds = std::chrono::duration<double>(channelTime).count();
  const double plainSeconds = std::chrono::duration<double>(plainTime).count();
  const double n = static_cast<double>(total);
  state.counters["channel_logs_per_s"] = n / channelSeconds;
  state.counters["plain_inserts_per_s"] = n / plainSeconds;
  // Plain insert throughput relative to the channel's: how many times
  // slower enqueue-to-stored is than a bare insert.
  state.counters["channel_to_plain_time_ratio"] = channelSeconds / plainSeconds;
  state.counters["channel_cpu_us_per_log"] = channelCpu / n * 1e6;
  state.counters["plain_cpu_us_per_insert"] = plainCpu / n * 1e6;
}
BENCHMARK(BM_ChannelEnqueueToStoredVsPlainInsert)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace
