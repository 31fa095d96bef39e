// A channel unit from enqueue to stored, with the real log store, against
// plain prepared inserts of the same logs into a write-ahead-log file in the
// same run (interleaved, so both see the same disk). The unit's work runs on the logs queue's thread,
// so processor time is the whole process's.

#include <benchmark/benchmark.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitDefault.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "bench/BenchSupport.h"

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
  bench::StoreEnvironment environment;
  const int64_t logsPerRound = state.range(0);
  auto storage = DVACLogDBStorage::create();
  auto queue = dispatch::Queue::makeSerial("com.diruriduv.redevudud.ChannelGroupQueue");
  auto unit = DVACChannelUnitDefault::initWithIngestion(
      std::make_shared<OfflineIngestion>(), storage,
      DVACChannelUnitConfiguration::initWithGroupId("Analytics", 1, 6, 1'000'000, 3), queue);
  bench::PlainInserts plain(*storage);

  bench::SideBySide laps(CLOCK_PROCESS_CPUTIME_ID);
  int64_t total = 0;
  int64_t next = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<std::shared_ptr<DVACLog>> logs;
    std::vector<std::string> texts;
    for (int64_t k = 0; k < logsPerRound; ++k) {
      logs.push_back(makeLog(++next));
      texts.push_back(bench::archivedText(makeLog(next)));
    }
    state.ResumeTiming();

    laps.start();
    for (const auto& log : logs) unit->enqueueItem(log, DVACLogFlagsNormal);
    queue->sync([] {});  // every log of the round is stored
    laps.split();
    for (const auto& text : texts) plain.insert(text);
    laps.stop();
    total += logsPerRound;

    state.PauseTiming();
    plain.clear();
    storage->executeNonSelectionQuery("DELETE FROM \"logs\"");
    state.ResumeTiming();
  }
  unit->setEnabled(false, false);
  queue->sync([] {});

  laps.report(state, static_cast<double>(total), "channel_logs_per_s", "channel_cpu_us_per_log");
}
BENCHMARK(BM_ChannelEnqueueToStoredVsPlainInsert)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace
