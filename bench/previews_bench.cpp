// The Dock preview's main-thread costs: choosing the column count of a
// seven-window preview (up to four off-screen layouts), the re-render that
// follows each move of the pointer from one thumbnail to another (in a bare
// host, and in the panel of an application with 1,000 windows), the whole way
// from resting the pointer on the Dock icon of an application with very many
// windows to its laid-out panel, with the memory it takes, and how long the
// main thread stays blocked once a panel of 10,000 windows is up.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/model/ApplicationRepository.h"
#include "app/nowplaying/NowPlayingCoordinator.h"
#include "app/previews/DockPreviewCoordinator.h"
#include "app/previews/DockPreviewPresentationViewController.h"
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

// An application with `windows` windows on the desk above, Morvalent's
// preview coordinator running over it, the input driver on the virtual clock.
class PanelDesk {
 public:
  explicit PanelDesk(int windows) : scenario_(kDockDesk) {
    for (int i = 0; i < windows; ++i) {
      const double x = 20 + (i * 37) % 600, y = 40 + (i * 23) % 300;
      scenario_.world().createWindow(502, sim::WindowSpec{.title = "Message " + std::to_string(i + 1),
                                                          .frame = CGRect(x, y, 800 + (i % 5) * 120, 600),
                                                          .spaces = {1}});
    }
    driver().setPump([this](double seconds) { scheduler().advance(seconds); });
    appkit::connectInputToSimulatedDesktop();
    repository_ = ApplicationRepository::make();
    coordinator_ = DockPreviewCoordinator::make(repository_, SnapController::make(),
                                                ScreenResizeCorrector::make(repository_),
                                                std::make_shared<NowPlayingCoordinator>());
    repository_->setUp();
    scheduler().runUntilIdle();
    coordinator_->setEnabled(true);
    scheduler().runUntilIdle();
  }
  ~PanelDesk() {
    coordinator_->setEnabled(false);
    scheduler().advance(60);
    driver().setPump(nullptr);
    driver().reset();
    appkit::WindowList::resetForTesting();
  }
  PanelDesk(const PanelDesk&) = delete;
  PanelDesk& operator=(const PanelDesk&) = delete;

  static dispatch::Scheduler& scheduler() { return dispatch::Scheduler::shared(); }
  static sim::InputDriver& driver() { return sim::InputDriver::shared(); }
  std::shared_ptr<appkit::NSWindow> panel() const { return coordinator_->presenter->dockWindowController()->window(); }
  std::size_t shownWindows() const {
    auto content =
        coordinator_->presenter->dockWindowController()->viewController()->contentContainer()->value.get();
    return panel()->isVisible() && content ? content->windows.size() : 0;
  }

  // Rests the pointer on Mail's Dock icon until the panel shows.
  void restOnIcon() {
    driver().moveTo({336, 865});
    scheduler().runUntilIdle();
    scheduler().advance(DockPreviewCoordinator::kShowDelay + 0.05);
  }
  // Away from the Dock and the panel: the panel hides and fades out.
  void leave() {
    driver().moveTo({5, 5});  // off the panel, which takes most of the screen
    scheduler().advance(3);
  }

  // The centres of the panel's thumbnails on the screen (top-left).
  std::vector<CGPoint> thumbnailCentres() const {
    std::vector<CGPoint> out;
    auto host = panel()->contentHost();
    if (!host) return out;
    const CGRect f = panel()->frame();
    const double top = scenario_.world().referenceHeight() - (f.origin.y + f.size.height);
    std::vector<const ui::Node*> nodes;
    host->root()->findFirst([&](const ui::Node& n) {
      if (n.typeName == "DockPreviewThumbnailView") nodes.push_back(&n);
      return false;
    });
    for (const ui::Node* n : nodes) {
      if (auto c = host->centerOf(*n)) out.push_back(CGPoint{f.origin.x + c->x, top + c->y});
    }
    return out;
  }

 private:
  dispatch::VirtualClockScope clock_;
  ns::test::ScopedStandardDefaults defaults_;
  sim::ScopedScenario scenario_;
  std::shared_ptr<ApplicationRepository> repository_;
  std::shared_ptr<DockPreviewCoordinator> coordinator_;
};

double threadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void BM_HoverToLaidOutPanel(benchmark::State& state) {
  const int windows = static_cast<int>(state.range(0));
  PanelDesk desk(windows);
  auto panel = desk.panel();
  double peak = 0, before = 0;
  std::size_t shown = 0;
  for (auto _ : state) {
    before = residentMiB("VmRSS");
    resetPeakResident();
    const auto start = std::chrono::steady_clock::now();
    desk.restOnIcon();
    if (auto host = panel->contentHost()) host->layoutIfNeeded();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    peak = std::max(peak, residentMiB("VmHWM"));
    shown = desk.shownWindows();
    desk.leave();
  }
  if (shown != static_cast<std::size_t>(windows)) state.SkipWithError("the panel did not show every window");
  state.counters["resident_before_mib"] = before;
  state.counters["peak_resident_mib"] = peak;
  state.SetLabel("from the pointer resting on the icon to the laid-out panel");
}
BENCHMARK(BM_HoverToLaidOutPanel)->Arg(1000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The pointer moving from one thumbnail to the next in a shown panel: all the
// main thread does for it (the panel's re-render, the coordinator's hover
// handling). Goal: within a frame (16.7 ms) at 1,000 windows.
void BM_HoverInLargePanel(benchmark::State& state) {
  const int windows = static_cast<int>(state.range(0));
  PanelDesk desk(windows);
  desk.restOnIcon();
  PanelDesk::scheduler().advance(1);  // the presentation's animation settles
  const auto centres = desk.thumbnailCentres();
  if (centres.size() != static_cast<std::size_t>(windows)) {
    state.SkipWithError("the panel did not show every window");
    return;
  }
  std::size_t i = 0;
  double cpu = 0;
  for (auto _ : state) {
    // Every other thumbnail in panel order: from one thumbnail to another.
    const CGPoint p = centres[(i++ * 2) % centres.size()];
    const double c0 = threadCpuSeconds();
    PanelDesk::driver().moveTo(p);
    PanelDesk::scheduler().runUntilIdle();
    cpu += threadCpuSeconds() - c0;
  }
  state.counters["main_thread_cpu_ms_per_hover"] = cpu / static_cast<double>(state.iterations()) * 1e3;
  state.SetLabel("one hover update, pointer from one thumbnail to another");
}
BENCHMARK(BM_HoverInLargePanel)->Arg(1000)->Iterations(20)->Unit(benchmark::kMillisecond);

// The worst stall of the main thread from the moment the panel is ordered
// front until its presentation animation has settled: the longest the main
// queue was held by one piece of work, measured between the beats of a 1 ms
// timer. Presents `presentations` times; returns the worst, in seconds, and
// the number of windows the panel showed the last time.
std::pair<double, std::size_t> worstStallAfterPresenting(int windows, int presentations) {
  PanelDesk desk(windows);
  auto panel = desk.panel();
  using Clock = std::chrono::steady_clock;
  bool armed = false;
  Clock::time_point last;
  double longest = 0;
  std::size_t shown = 0;
  auto observation = appkit::WindowList::observe([&] {
    if (!armed && panel->isVisible()) {
      armed = true;
      last = Clock::now();
    }
  });
  auto beat = dispatch::TimerSource::make(dispatch::Queue::main());
  beat->setTimer(dispatch::after(0.001), dispatch::kNanosPerSecond / 1000);
  beat->setEventHandler([&] {
    const auto now = Clock::now();
    if (armed) longest = std::max(longest, std::chrono::duration<double>(now - last).count());
    last = now;
  });
  beat->resume();
  for (int i = 0; i < presentations; ++i) {
    armed = false;
    desk.restOnIcon();
    PanelDesk::scheduler().advance(DockPreviewPresentationViewController::kAnimationSettleDelay + 0.5);
    shown = desk.shownWindows();
    armed = false;
    desk.leave();
  }
  beat->cancel();
  return {longest, shown};
}

// Set in the process that the benchmark below starts: where it writes what it measured.
constexpr const char* kHugePanelResult = "MORVALENT_BENCH_HUGE_PANEL_RESULT";

// A panel of very many windows, in a process of its own (this program again,
// running only this benchmark), so that its peak resident memory (ru_maxrss)
// is the whole program's for that panel: the worst main-thread stall after
// presenting (three presentations) and the peak. Goals at 10,000 windows: no
// stall over 1 s, a peak under 600 MB.
void BM_PresentHugePanel(benchmark::State& state) {
  const int windows = static_cast<int>(state.range(0));
  if (const char* out = std::getenv(kHugePanelResult)) {
    for (auto _ : state) {
      const auto [stall, shown] = worstStallAfterPresenting(windows, 3);
      rusage usage{};
      getrusage(RUSAGE_SELF, &usage);
      std::ofstream(out) << stall << " " << static_cast<double>(usage.ru_maxrss) / 1024.0 << " " << shown << "\n";
      state.SetIterationTime(stall);
    }
    return;
  }
  const std::string result = std::filesystem::temp_directory_path() /
                             ("morvalent-huge-panel-" + std::to_string(getpid()) + ".txt");
  double stall = 0, peak = 0;
  std::size_t shown = 0;
  for (auto _ : state) {
    const std::string filter = "--benchmark_filter=^BM_PresentHugePanel/" + std::to_string(windows) + "/";
    const pid_t child = fork();
    if (child == 0) {
      setenv(kHugePanelResult, result.c_str(), 1);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      execl("/proc/self/exe", "bench_previews", filter.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::ifstream in(result);
    if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0 && (in >> stall >> peak >> shown))) {
      state.SkipWithError("the benchmark's own process failed");
      return;
    }
    state.SetIterationTime(stall);
  }
  std::remove(result.c_str());
  if (shown != static_cast<std::size_t>(windows)) state.SkipWithError("the panel did not show every window");
  state.counters["longest_stall_after_present_ms"] = stall * 1e3;
  state.counters["peak_resident_mib"] = peak;
  state.SetLabel("worst main-thread stall after presenting; the process's peak memory");
}
BENCHMARK(BM_PresentHugePanel)->Arg(10000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
