// The Dock preview's main-thread costs: choosing the column count of a
// seven-window preview (up to four off-screen layouts), and the re-render
// that follows each move of the pointer from one thumbnail to another.

#include <benchmark/benchmark.h>

#include "app/previews/DockPreviewPresenter.h"
#include "app/previews/DockPreviewView.h"
#include "platform/accessibility/AXUIElement.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/image/Bitmap.h"
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
