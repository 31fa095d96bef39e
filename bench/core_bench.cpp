// The runtime core: the logging gate while diagnostics are off, main-queue
// throughput, and a coroutine hop to a serial queue and back.

#include <benchmark/benchmark.h>

#include "app/model/DiagnosticLogging.h"
#include "platform/concurrency/Task.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/UserDefaults.h"

namespace {

struct ScreenResizeCorrector : DiagnosticLogging {
  void note(int i) const {
    log([i] { return "window " + std::to_string(i); });
  }
};

// Diagnostics off, with "loggingModules" absent: one defaults read, no text built.
void BM_LoggingGateOffAbsent(benchmark::State& state) {
  ns::UserDefaults::setStandard(ns::UserDefaults::inMemory());
  ScreenResizeCorrector corrector;
  int i = 0;
  for (auto _ : state) corrector.note(++i);
}
BENCHMARK(BM_LoggingGateOffAbsent);

// Diagnostics off for this type, with other types listed: one read, two searches.
void BM_LoggingGateOffOtherTypes(benchmark::State& state) {
  auto defaults = ns::UserDefaults::inMemory();
  defaults->setObject("loggingModules",
                      ns::Value(ns::Array{ns::Value("ApplicationController"), ns::Value("SnapController")}));
  ns::UserDefaults::setStandard(defaults);
  ScreenResizeCorrector corrector;
  int i = 0;
  for (auto _ : state) corrector.note(++i);
  ns::UserDefaults::setStandard(ns::UserDefaults::inMemory());
}
BENCHMARK(BM_LoggingGateOffOtherTypes);

void BM_MainQueuePostAndRun(benchmark::State& state) {
  dispatch::VirtualClockScope clock;
  auto main = dispatch::Queue::main();
  const int batch = static_cast<int>(state.range(0));
  std::int64_t ran = 0;
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) main->async([&ran] { ++ran; });
    dispatch::Scheduler::shared().runUntilIdle();
  }
  state.SetItemsProcessed(ran);
}
BENCHMARK(BM_MainQueuePostAndRun)->Arg(1000);

conc::Task<int> hop(std::shared_ptr<dispatch::Queue> queue, int value) {
  auto work = conc::runOn(queue, [value] { return value + 1; });
  co_return co_await work;
}

// Virtual clock: the cost of the hop itself (two posts, a suspension and a resumption).
void BM_CoroutineHopVirtual(benchmark::State& state) {
  dispatch::VirtualClockScope clock;
  auto queue = dispatch::Queue::makeSerial("bench.hop");
  int result = 0;
  for (auto _ : state) {
    conc::spawnOnMain([queue, &result]() -> conc::Task<void> { result = co_await hop(queue, result); });
    dispatch::Scheduler::shared().runUntilIdle();
  }
  benchmark::DoNotOptimize(result);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CoroutineHopVirtual);

// Real threads: main to a worker thread and back, including the wake-ups.
void BM_CoroutineHopRealThreads(benchmark::State& state) {
  auto queue = dispatch::Queue::makeSerial("bench.hop.real");
  int result = 0;
  for (auto _ : state) {
    const int expected = result + 1;
    conc::spawnOnMain([queue, &result]() -> conc::Task<void> { result = co_await hop(queue, result); });
    dispatch::Scheduler::shared().runMainUntil([&] { return result == expected; }, 10.0);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CoroutineHopRealThreads)->UseRealTime();

}  // namespace
