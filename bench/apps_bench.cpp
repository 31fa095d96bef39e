// The cost of the window model's bulk operations over the simulated desktop:
// collecting every application's windows across Spaces, and one application's
// summary with a thumbnail per window.
//
// Everything runs under the virtual clock: the time measured is the work
// (the hops between the main queue and the Accessibility queue, the attribute
// reads, the window-server calls and the captures), never a wait.

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <optional>

#include "app/model/ApplicationController.h"
#include "app/model/ApplicationRepository.h"
#include "platform/appkit/NSRunningApplication.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/sim/World.h"

namespace {

// Two displays with three Spaces: the left display has Spaces 1 (current) and
// 2, the right one Space 10. Windows are spread over the three Spaces.
void makeDesk(int applications, int windowsEach, CGSize windowSize) {
  sim::World& world = sim::World::shared();
  world.reset();
  sim::DisplaySpec left;
  left.id = 1;
  left.frame = CGRect(0, 0, 2560, 1440);
  left.spaces = {sim::SpaceSpec{1}, sim::SpaceSpec{2}};
  world.addDisplay(left);
  sim::DisplaySpec right;
  right.id = 2;
  right.frame = CGRect(2560, 0, 1920, 1080);
  right.spaces = {sim::SpaceSpec{10}};
  world.addDisplay(right);
  const sim::SpaceID spaces[] = {1, 2, 10};
  sim::WindowID next = 1;
  for (int a = 0; a < applications; ++a) {
    sim::ApplicationSpec app;
    app.pid = 1000 + a;
    app.bundleIdentifier = "com.example.app" + std::to_string(a);
    app.name = "App " + std::to_string(a);
    for (int w = 0; w < windowsEach; ++w) {
      sim::WindowSpec window;
      window.id = next++;
      window.title = "Window " + std::to_string(w);
      const sim::SpaceID space = spaces[w % 3];
      const double x = space == 10 ? 2600 + (w * 31) % 1000 : 40 + (w * 37) % 1800;
      window.frame = CGRect(x, 400 + (w * 23) % 500, windowSize.width, windowSize.height);
      window.spaces = {space};
      app.windows.push_back(window);
    }
    world.launchApplication(app);
  }
}

void drain() { dispatch::Scheduler::shared().runUntilIdle(); }

void BM_CollectElementsInAllSpaces(benchmark::State& state) {
  dispatch::VirtualClockScope clock;
  const int applications = static_cast<int>(state.range(0));
  const int windowsEach = static_cast<int>(state.range(1));
  makeDesk(applications, windowsEach, CGSize{400, 300});
  auto repository = ApplicationRepository::make();
  repository->setUp();
  drain();  // the start-up collection: every controller knows its windows

  auto calls = std::make_shared<std::atomic<std::int64_t>>(0);
  sim::World::shared().setAccessibilityCallHook([calls](const sim::AccessibilityCall&) { ++*calls; });
  const std::int64_t before = *calls;
  auto once = std::make_shared<bool>(false);
  conc::spawnOnMain([repository, once]() -> conc::Task<void> {
    auto collect = repository->collectElementsInAllSpaces();
    co_await std::move(collect);
    *once = true;
  });
  drain();
  const std::int64_t callsPerCollection = *calls - before;
  sim::World::shared().setAccessibilityCallHook(nullptr);

  std::size_t known = 0;
  for (auto _ : state) {
    conc::spawnOnMain([repository]() -> conc::Task<void> {
      auto collect = repository->collectElementsInAllSpaces();
      co_await std::move(collect);
    });
    drain();
  }
  for (const auto& c : repository->applicationControllers) known += c->allWindowElements.size();
  if (!*once || known != static_cast<std::size_t>(applications * windowsEach)) {
    state.SkipWithError("the collection did not learn every window");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * applications * windowsEach);
  state.counters["ax_calls"] = static_cast<double>(callsPerCollection);
  state.counters["ax_calls_per_window"] =
      static_cast<double>(callsPerCollection) / static_cast<double>(applications * windowsEach);
  state.SetLabel("items: windows");
  repository.reset();
  drain();
  sim::World::shared().reset();
}
BENCHMARK(BM_CollectElementsInAllSpaces)->Args({30, 20})->Unit(benchmark::kMillisecond);

void BM_GetApplicationSummary(benchmark::State& state) {
  dispatch::VirtualClockScope clock;
  const int windows = static_cast<int>(state.range(0));
  makeDesk(1, windows, CGSize{400, 300});
  auto controller = ApplicationController::make(appkit::NSRunningApplication::runningApplicationWithProcessIdentifier(1000));
  // Learn the windows of every Space once, as the start-up collection does.
  for (sim::SpaceID space : {2, 1}) {
    sim::World::shared().switchToSpace(space);
    conc::spawnOnMain([controller]() -> conc::Task<void> {
      auto update = controller->updateElements();
      co_await std::move(update);
    });
    drain();
  }

  std::size_t shown = 0;
  std::size_t thumbnails = 0;
  for (auto _ : state) {
    auto summary = std::make_shared<std::optional<ApplicationSummary>>();
    conc::spawnOnMain([controller, summary]() -> conc::Task<void> {
      auto read = controller->getApplicationSummary();
      *summary = co_await std::move(read);
    });
    drain();
    shown = 0;
    thumbnails = 0;
    if (*summary) {
      for (const auto& w : (*summary)->allWindows()) {
        ++shown;
        if (w.thumbnailImage) ++thumbnails;
      }
    }
  }
  if (shown != static_cast<std::size_t>(windows) || thumbnails != shown) {
    state.SkipWithError("the summary is missing windows or thumbnails");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * windows);
  state.SetLabel("items: windows with thumbnails (400x300)");
  controller.reset();
  drain();
  sim::World::shared().reset();
}
BENCHMARK(BM_GetApplicationSummary)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
