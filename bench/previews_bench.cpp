// The Dock preview's main-thread costs: choosing the column count of a
// seven-window preview (up to four off-screen layouts), the re-render that
// follows each move of the pointer from one thumbnail to another, and the
// whole way from resting the pointer on the Dock icon of an application with
// very many windows to its laid-out panel, with the memory it takes.

#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <string>

#include "app/model/ApplicationRepository.h"
#include "app/nowplaying/NowPlayingCoordinator.h"
#include "app/previews/DockPreviewCoordinator.h"
#include "app/previews/DockPreviewPresenter.h"
#include "app/previews/DockPreviewView.h"
#include "app/snapping/ScreenResizeCorrector.h"
#include "app/snapping/SnapController.h"
#include "platform/accessibility/AXUIElement.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/TestSupport.h"
#include "platform/image/Bitmap.h"
#include "platform/sim/InputDriver.h"
#include "platform/sim/Scenario.h"
#include "platform/ui/Host.h"

namespace {

DockPreviewContent makeContent(int windows) {
  DockPreviewContent content;
  content.title = "Bench";
  for (int i = 0; i < windows; ++i) {
    auto bitmap = img::Bitmap::filled(320, 200, img::Pixel{static_cast<uint8_t>(40 * i), 90, 200, 255});
    auto image = img::Image::withBitmap(std::move(*bitmap));
    image.setSize(img::Size{1280, 800});
    auto element = std::make_shared<ax::AXUIElement>(sim::ElementID{501, sim::ElementKind::Window,
                                                                    static_cast<std::uint64_t>(i + 1)});
    content.windows.push_back(DockPreviewThumbnailContent{AXUIElementWrapper(element),
                                                          "Window " + std::to_string(i + 1),
                                                          image,
                                                          DockPreviewThumbnailContent::SpaceDisplayMode::normal,
                                                          ScreenSummary{},
                                                          DockPreviewThumbnailContent::ScreenDisplayMode::current,
                                                          "1",
                                                          false,
                                                          false,
                                                          {},
                                                          true});
  }
  content.numberOfColumns = std::min(windows, 5);
  return content;
}

void BM_MeasureSevenWindows(benchmark::State& state) {
  dispatch::VirtualClockScope clock;
  const DockPreviewContent content = makeContent(7);
  for (auto _ : state) {
    DockPreviewContent c = content;
    CGSize size{};
    DockPreviewPresenter::measureContent(c, 5, size, 1440);
    benchmark::DoNotOptimize(size);
    dispatch::Scheduler::shared().runUntilIdle();
  }
}
BENCHMARK(BM_MeasureSevenWindows)->Unit(benchmark::kMillisecond);

void BM_HoverFromThumbnailToThumbnail(benchmark::State& state) {
  dispatch::VirtualClockScope clock;
  auto container = std::make_shared<DockPreviewContentContainer>(makeContent(static_cast<int>(state.range(0))));
  auto delegate = std::make_shared<DockPreviewViewDelegateContainer>();
  auto host = ui::Host::make(ui::View(DockPreviewView{}).environmentObject(container).environmentObject(delegate));
  host->layoutIfNeeded();
  std::vector<ui::Point> centres;
  host->root()->findFirst([&](const ui::Node& n) {
    if (n.typeName == "DockPreviewThumbnailView") centres.push_back({n.frame.midX(), n.frame.midY()});
    return false;
  });
  std::size_t i = 0;
  for (auto _ : state) {
    host->mouseMoved(centres[i++ % centres.size()]);
    host->layoutIfNeeded();
    dispatch::Scheduler::shared().runUntilIdle();
  }
}
BENCHMARK(BM_HoverFromThumbnailToThumbnail)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// One 1440 x 900 display with the Dock along its bottom and Mail's icon on it.
const char* const kDockDesk = R"({
  "displays": [
    {"id": 1, "uuid": "11111111-1111-4111-8111-111111111111", "frame": [0, 0, 1440, 900],
     "visibleFrame": [0, 70, 1440, 805], "spaces": [{"id": 1}, {"id": 2}], "currentSpace": 1}
  ],
  "self": {"pid": 100, "bundleIdentifier": "com.morvalent.Morvalent", "name": "Morvalent"},
  "dock": {"pid": 90, "frame": [300, 830, 840, 70], "items": [
    {"title": "Mail", "url": "file:///System/Applications/Mail.app/", "frame": [310, 839, 52, 52]}
  ]},
  "applications": [
    {"pid": 502, "bundleIdentifier": "com.apple.mail", "bundleURL": "file:///System/Applications/Mail.app/",
     "name": "Mail"}
  ],
  "frontmost": 502,
  "mouse": [1300, 700]
})";

// The process's resident memory in MiB: "VmRSS" now, or "VmHWM" (the peak
// since the last reset).
double residentMiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::stod(line.substr(key.size())) / 1024.0;  // kB
  }
  return 0;
}

// Starts a new peak of resident memory at the present size.
void resetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

void BM_HoverToLaidOutPanel(benchmark::State& state) {
  const int windows = static_cast<int>(state.range(0));
  dispatch::VirtualClockScope clock;
  auto& scheduler = dispatch::Scheduler::shared();
  ns::test::ScopedStandardDefaults defaults;
  sim::ScopedScenario scenario(kDockDesk);
  for (int i = 0; i < windows; ++i) {
    const double x = 20 + (i * 37) % 600, y = 40 + (i * 23) % 300;
    scenario.world().createWindow(502, sim::WindowSpec{.title = "Message " + std::to_string(i + 1),
                                                       .frame = CGRect(x, y, 800 + (i % 5) * 120, 600),
                                                       .spaces = {1}});
  }
  auto& driver = sim::InputDriver::shared();
  driver.setPump([&scheduler](double seconds) { scheduler.advance(seconds); });
  appkit::connectInputToSimulatedDesktop();
  auto repository = ApplicationRepository::make();
  auto coordinator = DockPreviewCoordinator::make(repository, SnapController::make(),
                                                  ScreenResizeCorrector::make(repository),
                                                  std::make_shared<NowPlayingCoordinator>());
  repository->setUp();
  scheduler.runUntilIdle();
  coordinator->setEnabled(true);
  scheduler.runUntilIdle();
  auto panel = coordinator->presenter->dockWindowController()->window();

  double peak = 0, before = 0;
  std::size_t shown = 0;
  for (auto _ : state) {
    before = residentMiB("VmRSS");
    resetPeakResident();
    const auto start = std::chrono::steady_clock::now();
    driver.moveTo({336, 865});
    scheduler.runUntilIdle();
    scheduler.advance(DockPreviewCoordinator::kShowDelay + 0.05);
    if (auto host = panel->contentHost()) host->layoutIfNeeded();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    peak = std::max(peak, residentMiB("VmHWM"));
    auto content = coordinator->presenter->dockWindowController()->viewController()->contentContainer()->value.get();
    shown = panel->isVisible() && content ? content->windows.size() : 0;
    // Away from the Dock: the panel hides and fades out before the next hover.
    driver.moveTo({5, 5});  // off the panel, which takes most of the screen
    scheduler.advance(3);
  }
  if (shown != static_cast<std::size_t>(windows)) state.SkipWithError("the panel did not show every window");
  state.counters["resident_before_mib"] = before;
  state.counters["peak_resident_mib"] = peak;
  state.SetLabel("from the pointer resting on the icon to the laid-out panel");
  coordinator->setEnabled(false);
  scheduler.advance(60);
  driver.setPump(nullptr);
  driver.reset();
  appkit::WindowList::resetForTesting();
}
BENCHMARK(BM_HoverToLaidOutPanel)->Arg(1000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
