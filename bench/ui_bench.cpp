// Layout and drawing of a preview-like grid: 50 thumbnail cells in five
// 240-point columns, each with an image, a label and two buttons, the
// hovered one ringed. A frame (evaluate, lay out, draw into the host's
// backing store) is measured against the 16.7 ms of one display refresh at
// 60 Hz; so is a full repaint into a new bitmap, as a snapshot takes it.

#include <benchmark/benchmark.h>

#include <chrono>

#include "platform/image/Bitmap.h"
#include "platform/image/Image.h"
#include "platform/ui/Host.h"

namespace {

constexpr double kBudgetMs = 16.7;

img::Image capture(int seed) {
  auto bitmap = img::Bitmap::create(320, 200);
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 320; ++x) {
      bitmap->setPixel(x, y, img::Pixel{static_cast<uint8_t>((x + seed * 37) % 256), static_cast<uint8_t>(y % 256),
                                        static_cast<uint8_t>((x + y) % 256), 255});
    }
  }
  return img::Image::withBitmap(std::move(*bitmap));
}

ui::View accessoryButton(const char* symbol) {
  return ui::Button([] {}, ui::SystemImage(symbol)
                               .font(ui::Font::system(12, ui::FontWeight::bold))
                               .foregroundColor(ui::Color::controlTextColor())
                               .frame(20, 20)
                               .background(ui::Color::controlBackgroundColor())
                               .clipShape(ui::Shape::circle()))
      .buttonStyle(ui::ButtonStyle::plain)
      .shadow(ui::Color::black().opacity(0.3), 5);
}

struct Cell {
  std::string title;
  img::Image image;
  bool highlighted = false;
  ui::State<bool> hovering{false};

  ui::View body() const {
    auto self = *this;
    ui::View picture = ui::Image(image)
                           .resizable()
                           .clipShape(ui::Shape::roundedRectangle(9, ui::RoundedCornerStyle::continuous))
                           .scaledToFit()
                           .overlay(ui::RoundedRectangle(9, ui::RoundedCornerStyle::continuous)
                                        .stroke(highlighted || hovering.get()
                                                    ? ui::Color::controlAccentColor().opacity(0.6)
                                                    : ui::Color::clear(),
                                                4))
                           .padding(ui::EdgeInsets{5, 0, 0, 0});
    ui::View buttons = ui::VStack(
        {ui::HStack(ui::VerticalAlignment::top, std::nullopt,
                    {accessoryButton("xmark"), ui::View(ui::Color::clear()).frame(ui::FlexFrame{.maxWidth = ui::infinity}),
                     accessoryButton("ellipsis")})
             .padding(ui::EdgeInsets{0, 14, 0, 14}),
         ui::Spacer(0)});
    ui::View label = ui::HStack(ui::VerticalAlignment::center, 4,
                                {ui::Text(title).lineLimit(1).font(ui::Font::system(11)).opacity(0.8)});
    return ui::Button([] {}, ui::VStack({picture.overlay(buttons), label}))
        .buttonStyle(ui::ButtonStyle::plain)
        .padding(15)
        .clipShape(ui::Shape::roundedRectangle(7, ui::RoundedCornerStyle::continuous))
        .trackingArea([self](bool in) { self.hovering.set(in); })
        .frame(240, std::nullopt)
        .frame(ui::FlexFrame{.maxHeight = 240});
  }
};

ui::View grid(const std::vector<img::Image>& images, int generation) {
  std::vector<ui::View> cells;
  for (int i = 0; i < 50; ++i) {
    cells.push_back(ui::View(Cell{"Window " + std::to_string(i + 1) + " — document " + std::to_string(generation % 7),
                                  images[static_cast<std::size_t>(i % images.size())], i == generation % 50}));
  }
  std::vector<ui::GridItem> columns(5, ui::GridItem::fixed(240));
  return ui::VStack(ui::HorizontalAlignment::center, 0,
                    {ui::LazyVGrid(columns, ui::HorizontalAlignment::center, 0, cells)})
      .padding(ui::Edge::horizontal, 10)
      .background(ui::VisualEffect(ui::Material::popover, ui::BlendingMode::behindWindow, ui::VisualEffectState::active))
      .clipShape(ui::Shape::roundedRectangle(10, ui::RoundedCornerStyle::continuous));
}

std::vector<img::Image> images() {
  std::vector<img::Image> out;
  for (int i = 0; i < 5; ++i) out.push_back(capture(i));
  return out;
}

void report(benchmark::State& state, double totalMs) {
  double perFrame = state.iterations() ? totalMs / static_cast<double>(state.iterations()) : 0;
  state.counters["frame_ms"] = perFrame;
  state.counters["budget_ms"] = kBudgetMs;
  state.counters["budget_used_pct"] = 100.0 * perFrame / kBudgetMs;
}

// Evaluating bodies and laying out (a content change).
void BM_Grid50_Layout(benchmark::State& state) {
  auto imgs = images();
  auto host = ui::Host::make(grid(imgs, 0));
  host->layoutIfNeeded();
  int generation = 0;
  double total = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    host->setRootView(grid(imgs, ++generation));
    host->layoutIfNeeded();
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
  report(state, total);
}

// Drawing the whole laid-out tree into a new bitmap at 1x or 2x.
void BM_Grid50_Render(benchmark::State& state) {
  auto imgs = images();
  auto host = ui::Host::make(grid(imgs, 0));
  host->layoutIfNeeded();
  double scale = static_cast<double>(state.range(0));
  double total = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    auto bitmap = host->render(scale);
    benchmark::DoNotOptimize(bitmap);
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
  report(state, total);
}

// A whole frame: new content (every title and the ringed cell change),
// layout, and drawing into the backing store.
void BM_Grid50_Frame(benchmark::State& state) {
  auto imgs = images();
  auto host = ui::Host::make(grid(imgs, 0));
  double scale = static_cast<double>(state.range(0));
  benchmark::DoNotOptimize(host->draw(scale));
  int generation = 0;
  double total = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    host->setRootView(grid(imgs, ++generation));
    benchmark::DoNotOptimize(host->draw(scale));
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
  report(state, total);
}

// A hover: the pointer enters or leaves a cell, whose ring turns on or off;
// the tree is evaluated, laid out and drawn again at 2x.
void BM_Grid50_HoverUpdate(benchmark::State& state) {
  auto imgs = images();
  auto host = ui::Host::make(grid(imgs, 0));
  benchmark::DoNotOptimize(host->draw(2));
  double total = 0;
  bool inside = false;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    inside = !inside;
    host->mouseMoved(inside ? ui::Point{130, 100} : ui::Point{-10, -10});
    benchmark::DoNotOptimize(host->draw(2));
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
  report(state, total);
}

}  // namespace

BENCHMARK(BM_Grid50_Layout)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grid50_Render)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grid50_Frame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grid50_HoverUpdate)->Unit(benchmark::kMillisecond);
