// The cost of the Accessibility model's work over the simulated desktop.
//
// Round trips run under the virtual clock: the time measured is the work
// (queueing, the hops between the main queue and the Accessibility queue, the
// attribute reads), never a wait.

#include <benchmark/benchmark.h>

#include "app/model/AXUIElementWrapper.h"
#include "platform/accessibility/AXUIElement.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/World.h"

namespace {

// `count` windows of one application on one display, scattered so that none
// covers the point (5, 5) except the backmost.
std::vector<AXUIElementWrapper> makeWindows(int count) {
  sim::World& world = sim::World::shared();
  world.reset();
  sim::DisplaySpec display;
  display.frame = CGRect(0, 0, 2560, 1440);
  world.addDisplay(display);
  sim::ApplicationSpec app;
  app.pid = 501;
  app.name = "Many";
  for (int i = 0; i < count; ++i) {
    sim::WindowSpec w;
    w.id = static_cast<sim::WindowID>(i + 1);
    w.title = "Window " + std::to_string(i);
    w.frame = CGRect(40 + (i * 37) % 1800, 40 + (i * 53) % 1000, 400, 300);
    app.windows.push_back(w);
  }
  sim::WindowSpec back;
  back.id = static_cast<sim::WindowID>(count + 1);
  back.frame = CGRect(0, 0, 2560, 1440);
  app.windows.push_back(back);
  world.launchApplication(app);
  std::vector<AXUIElementWrapper> out;
  for (int i = 0; i < count; ++i) {
    out.emplace_back(std::make_shared<ax::AXUIElement>(
        sim::ElementID{501, sim::ElementKind::Window, static_cast<std::uint64_t>(i + 1)}));
  }
  return out;
}

void BM_GetDataRoundTrips(benchmark::State& state) {
  dispatch::VirtualClockScope clock;
  const auto windows = makeWindows(static_cast<int>(state.range(0)));
  std::size_t complete = 0;
  for (auto _ : state) {
    complete = 0;
    conc::spawnOnMain([&windows, &complete]() -> conc::Task<void> {
      for (const auto& w : windows) {
        auto read = w.getData();
        auto data = co_await std::move(read);
        if (data.frame) ++complete;
      }
    });
    dispatch::Scheduler::shared().runUntilIdle();
  }
  if (complete != windows.size()) state.SkipWithError("a snapshot came back incomplete");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
  state.SetLabel("items: snapshots");
  sim::World::shared().reset();
}
BENCHMARK(BM_GetDataRoundTrips)->Arg(1000)->Unit(benchmark::kMillisecond);

// The snapshot alone, on the calling thread: the part of a round trip that is
// the attribute reads.
void BM_SnapshotOnTheQueueThread(benchmark::State& state) {
  const auto windows = makeWindows(1000);
  std::size_t i = 0;
  for (auto _ : state) {
    auto data = AXUIElementController(windows[i++ % windows.size()].element).data();
    benchmark::DoNotOptimize(data);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  sim::World::shared().reset();
}
BENCHMARK(BM_SnapshotOnTheQueueThread);

void BM_HitTestAmongWindows(benchmark::State& state) {
  makeWindows(static_cast<int>(state.range(0)));
  const auto systemWide = ax::AXUIElementCreateSystemWide();
  for (auto _ : state) {
    ax::AXUIElementRef found;
    const ax::AXError error = ax::AXUIElementCopyElementAtPosition(systemWide, 5.f, 5.f, &found);
    benchmark::DoNotOptimize(error);
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  sim::World::shared().reset();
}
BENCHMARK(BM_HitTestAmongWindows)->Arg(500);

// A scenario of `count` applications with one window each, as `morvalent
// --scenario` loads it: parsing, then building the world.
std::string manyApplicationsScenario(int count) {
  nlohmann::ordered_json apps = nlohmann::ordered_json::array();
  for (int i = 0; i < count; ++i) {
    apps.push_back({{"pid", 1000 + i},
                    {"bundleIdentifier", "com.example.app" + std::to_string(i)},
                    {"name", "App " + std::to_string(i)},
                    {"windows", {{{"id", i + 1}, {"title", "Window"}, {"frame", {(i * 7) % 2000, (i * 3) % 1000, 400, 300}}}}}});
  }
  nlohmann::ordered_json doc = {{"displays", {{{"id", 1}, {"frame", {0, 0, 2560, 1440}}}}}, {"applications", apps}};
  return doc.dump();
}

void BM_LoadManyApplications(benchmark::State& state) {
  const std::string json = manyApplicationsScenario(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto scenario = sim::Scenario::parse(json);
    if (!scenario) {
      state.SkipWithError("the scenario was refused");
      break;
    }
    scenario->apply();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
  state.SetLabel("items: applications");
  sim::World::shared().reset();
}
BENCHMARK(BM_LoadManyApplications)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
