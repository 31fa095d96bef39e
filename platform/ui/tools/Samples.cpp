#include "platform/ui/tools/Samples.h"

#include <cmath>

#include "platform/image/Bitmap.h"
#include "platform/image/Image.h"
#include "platform/ui/Symbols.h"

namespace ui::samples {
namespace {

// A window capture stand-in: a title bar over a diagonal gradient.
img::Image fakeCapture(int w, int h, int seed) {
  auto bitmap = img::Bitmap::create(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      double t = (x + y) / static_cast<double>(w + h);
      auto c = static_cast<uint8_t>(120 + 100 * t);
      img::Pixel p{static_cast<uint8_t>((c + seed * 40) % 256), static_cast<uint8_t>((c + seed * 90) % 256),
                   static_cast<uint8_t>(230 - c / 3), 255};
      if (y < h / 10) p = {235, 235, 235, 255};
      bitmap->setPixel(x, y, p);
    }
  }
  return img::Image::withBitmap(std::move(*bitmap));
}

View thumbnail(const std::string& title, int seed, bool highlighted) {
  View image = Image(fakeCapture(160, 100, seed))
                   .resizable()
                   .clipShape(Shape::roundedRectangle(9, RoundedCornerStyle::continuous))
                   .scaledToFit()
                   .shadow(Color::black().opacity(0.3), 5)
                   .overlay(RoundedRectangle(9, RoundedCornerStyle::continuous)
                                .stroke(highlighted ? Color::controlAccentColor().opacity(0.6) : Color::clear(), 4))
                   .padding(EdgeInsets{5, 0, 0, 0});
  View buttons = VStack({HStack(VerticalAlignment::top, std::nullopt,
                                {Button([] {}, SystemImage("xmark")
                                                   .font(Font::system(12, FontWeight::bold))
                                                   .foregroundColor(Color::controlTextColor())
                                                   .frame(20, 20)
                                                   .background(Color::controlBackgroundColor())
                                                   .clipShape(Shape::circle()))
                                     .buttonStyle(ButtonStyle::plain)
                                     .shadow(Color::black().opacity(0.3), 5),
                                 View(Color::clear()).frame(FlexFrame{.maxWidth = infinity}),
                                 Button([] {}, SystemImage("ellipsis")
                                                   .font(Font::system(12, FontWeight::bold))
                                                   .foregroundColor(Color::controlTextColor())
                                                   .frame(20, 20)
                                                   .background(Color::controlBackgroundColor())
                                                   .clipShape(Shape::circle()))
                                     .buttonStyle(ButtonStyle::plain)
                                     .shadow(Color::black().opacity(0.3), 5)})
                             .padding(EdgeInsets{0, 14, 0, 14}),
                         Spacer(0)});
  View label = HStack(VerticalAlignment::center, 4,
                      {Text(title).lineLimit(1).font(Font::system(11)).opacity(0.8)});
  return Button([] {}, VStack({image.overlay(If(highlighted, buttons)), label}))
      .buttonStyle(ButtonStyle::plain)
      .padding(15)
      .clipShape(Shape::roundedRectangle(7, RoundedCornerStyle::continuous))
      .frame(240, std::nullopt)
      .frame(FlexFrame{.maxHeight = 240});
}

View toolkit() {
  std::vector<View> cells;
  const char* titles[] = {"Inbox — Mail", "Project plan.txt", "Terminal — zsh", "A very long window title that is cut"};
  for (int i = 0; i < 4; ++i) cells.push_back(thumbnail(titles[i], i, i == 1));
  View grid = LazyVGrid({GridItem::fixed(240), GridItem::fixed(240)}, HorizontalAlignment::center, 0, cells);
  std::vector<View> symbols;
  for (const auto& name : knownSymbols()) {
    symbols.push_back(SystemImage(name).font(Font::system(16, FontWeight::bold)).foregroundColor(Color::labelColor()));
  }
  View controls =
      VStack(HorizontalAlignment::leading, std::nullopt,
             {Toggle("Enabled", Binding<bool>::constant(true)),
              Toggle("Show Now Playing screen", Binding<bool>::constant(false)).disabled(true),
              HStack({Text("Automatic").font(Font::headline()), Button("Change...", [] {})}),
              Picker("", Binding<int>::constant(0), {{0, Text("Dock Icon")}, {1, Text("Menu Bar Icon")}})});
  return VStack(HorizontalAlignment::center, 0,
                {grid, HStack(symbols).padding(10), controls.padding(10).frame(FlexFrame{.maxWidth = infinity, .alignment = Alignment::leading})})
      .padding(Edge::horizontal, 10)
      .background(VisualEffect(Material::popover, BlendingMode::behindWindow, VisualEffectState::active))
      .clipShape(Shape::roundedRectangle(10, RoundedCornerStyle::continuous));
}

View grid50() {
  std::vector<View> cells;
  for (int i = 0; i < 50; ++i) cells.push_back(thumbnail("Window " + std::to_string(i + 1), i % 5, i == 7));
  std::vector<GridItem> cols(5, GridItem::fixed(240));
  return LazyVGrid(cols, HorizontalAlignment::center, 0, cells).padding(Edge::horizontal, 10).background(Color::white());
}

View symbolsSheet() {
  std::vector<View> rows;
  for (const auto& name : knownSymbols()) {
    rows.push_back(HStack({SystemImage(name).font(Font::system(20, FontWeight::bold)).frame(36, 24),
                           Text(name).font(Font::system(12))}));
  }
  return VStack(HorizontalAlignment::leading, 6, rows).padding(12).background(Color::white());
}

View textSample() {
  return VStack(HorizontalAlignment::leading, std::nullopt,
                {Text("Headline").font(Font::headline()), Text("Body text in DejaVu Sans at 13 points."),
                 Text("A wrapping paragraph that is longer than its frame and so continues on the next line.")
                     .frame(FlexFrame{.maxWidth = 220, .alignment = Alignment::leading}),
                 Text("One line that ends in an ellipsis because it is too long").lineLimit(1).frame(220, std::nullopt)})
      .padding(12)
      .background(Color::white());
}

}  // namespace

static std::vector<Sample>& registry() {
  static std::vector<Sample> samples = {
      {"toolkit", "thumbnails, symbols and controls on a popover material", std::nullopt, &toolkit},
      {"grid50", "a 5-column grid of 50 thumbnail cells", std::nullopt, &grid50},
      {"symbols", "every symbol of the registry", std::nullopt, &symbolsSheet},
      {"text", "text styles, wrapping and truncation", std::nullopt, &textSample},
  };
  return samples;
}

const std::vector<Sample>& all() { return registry(); }

bool add(Sample sample) {
  if (named(sample.name)) return false;
  registry().push_back(std::move(sample));
  return true;
}

const Sample* named(const std::string& name) {
  for (const auto& s : all()) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

}  // namespace ui::samples
