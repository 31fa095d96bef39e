// Events from DVACAnalytics::trackEvent (string properties, as the
// application sends them) to stored in Logs.sqlite, through a started SDK
// with the real store, against plain prepared inserts of the same archived
// logs into a write-ahead-log file in the same run (interleaved, so both see
// the same disk). Network requests are switched off, so nothing is ever sent. The
// storing runs on the logs queue's thread; processor time is the process's.

#include <benchmark/benchmark.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupDefault.h"
#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceTracker.h"
#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionContext.h"
#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACEventLog.h"
#include "bench/BenchSupport.h"

namespace {

void resetSharedInstances() {
  DVACAnalytics::resetSharedInstance();
  DVACRedEvudud::resetSharedInstance();
  DVACDeviceTracker::resetSharedInstance();
  DVACSessionContext::resetSharedInstance();
  DVACUserIdContext::resetSharedInstance();
  DVACRedEvududUserDefaults::resetSharedInstance();
  DVACUtility::resetRedEvududDirectoryForTesting();
}

// The store's environment, and the SDK started with the analytics service.
struct Environment : bench::StoreEnvironment {
  Environment() {
    resetSharedInstances();
    // Stored, never sent.
    DVACRedEvududUserDefaults::shared()->setObject(ns::Value(false), kDVACNetworkRequestsAllowedKey);
    DVACRedEvudud::setLogUrl("http://127.0.0.1:9");
    DVACAnalytics::setTransmissionInterval(86400);
    DVACRedEvudud::start("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d", {DVACAnalytics::serviceClass()});
    group = std::dynamic_pointer_cast<DVACChannelGroupDefault>(DVACRedEvudud::sharedInstance()->channelGroup());
    storage = std::dynamic_pointer_cast<DVACLogDBStorage>(group->storage());
  }
  ~Environment() {
    group->pauseWithIdentifyingObject(stopper);
    group->logsDispatchQueue()->sync([] {});
    resetSharedInstances();
  }
  std::shared_ptr<DVACChannelGroupDefault> group;
  std::shared_ptr<DVACLogDBStorage> storage;
  std::shared_ptr<int> stopper = std::make_shared<int>(0);
};

DVACPropertiesDictionary propertiesFor(int64_t i) {
  return {{"window_ScreenDisplayMode", "single"}, {"n", std::to_string(i)}};
}

// The archive of the event log the service would store for event i.
std::string archivedEvent(int64_t i) {
  static const auto device = DVACDeviceTracker::sharedInstance()->device();
  auto log = std::make_shared<DVACEventLog>();
  log->setTimestamp(ns::Date(1700000000 + static_cast<double>(i)));
  log->setSid("0F7C3E24-6D43-4B0C-9A3B-1C2D3E4F5A6B");
  log->setDevice(device);
  log->setName("dockPreview_SelectWindow");
  log->setEventId(ns::UUID::random().UUIDString());
  log->setTypedProperties(DVACEventProperties::initWithStringDictionary(propertiesFor(i)));
  return bench::archivedText(log);
}

void BM_TrackEventToStoredVsPlainInsert(benchmark::State& state) {
  Environment environment;
  const int64_t eventsPerRound = state.range(0);
  auto queue = environment.group->logsDispatchQueue();
  queue->sync([] {});

  bench::PlainInserts plain(*environment.storage);

  bench::SideBySide laps(CLOCK_PROCESS_CPUTIME_ID);
  int64_t total = 0;
  int64_t next = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<DVACPropertiesDictionary> properties;
    std::vector<std::string> texts;
    for (int64_t k = 0; k < eventsPerRound; ++k) {
      properties.push_back(propertiesFor(++next));
      texts.push_back(archivedEvent(next));
    }
    state.ResumeTiming();

    laps.start();
    for (const auto& eventProperties : properties) {
      DVACAnalytics::trackEvent("dockPreview_SelectWindow", eventProperties);
    }
    queue->sync([] {});  // every event of the round is stored
    laps.split();
    for (const auto& text : texts) plain.insert(text);
    laps.stop();
    total += eventsPerRound;

    state.PauseTiming();
    plain.clear();
    queue->sync([&] { environment.storage->executeNonSelectionQuery("DELETE FROM \"logs\""); });
    state.ResumeTiming();
  }

  laps.report(state, static_cast<double>(total), "events_per_s", "event_cpu_us");
}
BENCHMARK(BM_TrackEventToStoredVsPlainInsert)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace
