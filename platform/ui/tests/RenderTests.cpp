#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/image/PNG.h"
#include "platform/ui/Host.h"
#include "platform/ui/Symbols.h"
#include "platform/ui/Text.h"

using namespace ui;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ui-render-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

img::Pixel at(const img::Bitmap& b, int x, int y) { return b.pixel(x, y); }

bool near(img::Pixel p, int r, int g, int b, int a = 255, int tolerance = 2) {
  return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance &&
         std::abs(p.a - a) <= tolerance;
}

}  // namespace

TEST(TextMetrics, UseTheBundledFont) { EXPECT_TRUE(usingBundledFonts()); }

TEST(TextMetrics, AreDeterministic) {
  Size a = measureText("Morvalent Settings", Font::body());
  Size b = measureText("Morvalent Settings", Font::body());
  EXPECT_EQ(a, b);
  // DejaVu Sans at 72 dpi without hinting: these are the font's own advances.
  EXPECT_NEAR(a.width, 122.578125, 1e-6);
  EXPECT_NEAR(lineHeight(Font::body()), 15.1328, 0.001);
  EXPECT_NEAR(lineHeight(Font::system(11)), 12.8047, 0.001);
  EXPECT_GT(measureText("Bold", Font::headline()).width, measureText("Bold", Font::body()).width);
  EXPECT_EQ(measureText("", Font::body()), (Size{0, 0}));
}

TEST(TextMetrics, WrapAndTruncateAgainstAWidth) {
  std::string text = "Snap windows by dragging them to the top or sides of screen";
  double line = lineHeight(Font::body());
  Size wrapped = measureText(text, Font::body(), 120.0);
  EXPECT_LE(wrapped.width, 120);
  EXPECT_GE(wrapped.height, 3 * line - 0.01);
  Size truncated = measureText(text, Font::body(), 120.0, 1);
  EXPECT_LE(truncated.width, 120);
  EXPECT_DOUBLE_EQ(truncated.height, line);
  Size twoLines = measureText(text, Font::body(), 120.0, 2);
  EXPECT_DOUBLE_EQ(twoLines.height, 2 * line);
  Size natural = measureText(text, Font::body());
  EXPECT_DOUBLE_EQ(natural.height, line);
  EXPECT_GT(natural.width, 300);
}

TEST(TextMetrics, LineBreaksStartNewLines) {
  Size two = measureText("Minimize Finder Windows\n(Prevents windows appearing)", Font::body());
  EXPECT_DOUBLE_EQ(two.height, 2 * lineHeight(Font::body()));
}

TEST(Symbols, TheNamesTheViewsUseAreKnown) {
  for (const char* name : {"rectangle.lefthalf.inset.filled", "rectangle.inset.filled", "rectangle.righthalf.inset.filled",
                           "display", "xmark", "ellipsis", "chevron.left", "chevron.right",
                           "arrow.left.arrow.right.square.fill", "checkmark.seal.fill", "play.fill", "pause.fill",
                           "backward.fill", "forward.fill"}) {
    EXPECT_TRUE(isKnownSymbol(name)) << name;
  }
  EXPECT_FALSE(isKnownSymbol("no.such.symbol"));
  EXPECT_EQ(symbolSize("xmark", Font::system(12)).height, 12);
  EXPECT_GT(symbolSize("display", Font::system(10)).width, symbolSize("chevron.left", Font::system(10)).width);
}

TEST(Rendering, FillsClipsAndCompositesAtTheRightPixels) {
  auto view = ZStack(Alignment::topLeading,
                     {View(Color::white()).frame(100, 60),
                      View(Color::red()).frame(40, 40).clipShape(Shape::circle()).padding(10),
                      View(Color::blue()).frame(20, 20).opacity(0.5).offset(70, 10)});
  auto host = Host::make(view);
  img::Bitmap b = host->render();
  ASSERT_EQ(b.pixelsWide(), 100);
  ASSERT_EQ(b.pixelsHigh(), 60);
  EXPECT_TRUE(near(at(b, 30, 30), 255, 59, 48)) << "circle centre is red";
  EXPECT_TRUE(near(at(b, 11, 11), 255, 255, 255)) << "outside the circle's corner stays white";
  EXPECT_TRUE(near(at(b, 80, 20), 128, 189, 255, 255, 3)) << "half blue over white";
  EXPECT_TRUE(near(at(b, 95, 55), 255, 255, 255));
}

TEST(Rendering, ScaleDoublesThePixels) {
  auto host = Host::make(View(Color::green()).frame(10, 5));
  img::Bitmap b = host->render(2.0);
  EXPECT_EQ(b.pixelsWide(), 20);
  EXPECT_EQ(b.pixelsHigh(), 10);
  EXPECT_TRUE(near(at(b, 19, 9), 52, 199, 89));
}

TEST(Rendering, TextAndSymbolsDrawInTheForegroundColour) {
  auto host = Host::make(HStack(VerticalAlignment::center, 0,
                                {Text("WWW").font(Font::system(20, FontWeight::bold)),
                                 SystemImage("rectangle.inset.filled").font(Font::system(20))})
                             .foregroundColor(Color::black())
                             .background(Color::white()));
  img::Bitmap b = host->render();
  int dark = 0;
  for (int y = 0; y < b.pixelsHigh(); ++y) {
    for (int x = 0; x < b.pixelsWide(); ++x) dark += at(b, x, y).r < 64 ? 1 : 0;
  }
  EXPECT_GT(dark, 100);
  // The inset rectangle's centre is filled.
  const Node* sym = host->find("rectangle.inset.filled");
  ASSERT_NE(sym, nullptr);
  EXPECT_LT(at(b, static_cast<int>(sym->frame.midX()), static_cast<int>(sym->frame.midY())).r, 64);
}

TEST(Rendering, ShadowsSpreadOutsideTheirContent) {
  auto host = Host::make(View(Color::white())
                             .frame(20, 20)
                             .shadow(Color::black(), 5)
                             .padding(15)
                             .background(Color::white()));
  img::Bitmap b = host->render();
  EXPECT_TRUE(near(at(b, 25, 25), 255, 255, 255)) << "content";
  EXPECT_LT(at(b, 13, 25).r, 250) << "shadow just outside the content";
  EXPECT_TRUE(near(at(b, 1, 1), 255, 255, 255, 255, 3)) << "far corner untouched";
}

TEST(Rendering, OnlyDisabledControlsAreDimmed) {
  auto control = [](bool disabled) {
    return Button([] {}, View(Color::black()).frame(20, 20)).buttonStyle(ButtonStyle::plain).disabled(disabled);
  };
  auto host = Host::make(HStack(VerticalAlignment::center, 0, {control(false), control(true)}));
  img::Bitmap b = host->render();
  EXPECT_TRUE(near(at(b, 10, 10), 0, 0, 0, 255)) << "enabled: drawn as it is";
  EXPECT_TRUE(near(at(b, 30, 10), 0, 0, 0, 102)) << "disabled: at 40 %";
}

namespace {

// One frame of a small preview-like panel: the highlight ring and a title
// follow the step, one cell leaves and comes back, one is drawn at half size.
View panelFrame(int step) {
  static const std::vector<img::Image> images = [] {
    std::vector<img::Image> out;
    for (int i = 0; i < 6; ++i) {
      out.push_back(img::Image::withBitmap(
          *img::Bitmap::filled(30 + i, 20, img::Pixel{static_cast<uint8_t>(40 * i), 90, 200, 255})));
    }
    return out;
  }();
  std::vector<View> cells;
  for (int i = 0; i < 6; ++i) {
    if (step % 2 == 1 && i == 4) continue;
    const bool lit = i == step % 6;
    View picture = Image(images[static_cast<std::size_t>(i)])
                       .resizable()
                       .clipShape(Shape::roundedRectangle(4))
                       .shadow(Color::black().opacity(0.3), 3)
                       .overlay(RoundedRectangle(4).stroke(lit ? Color::controlAccentColor() : Color::clear(), 2));
    View cell = VStack({picture.frame(60, 40), Text("Cell " + std::to_string(i) + (lit ? " 11" : " 22")).font(Font::system(11)).frame(70, 14)})
                    .padding(6)
                    .opacity(i == 2 ? 0.5 : 1);
    if (i == 5) cell = cell.scaledLayout(0.5);
    cells.push_back(cell.id("c" + std::to_string(i)));
  }
  return LazyVGrid(std::vector<GridItem>(3, GridItem::fixed(80)), HorizontalAlignment::center, 0, cells)
      .padding(10)
      .background(VisualEffect(Material::popover, BlendingMode::behindWindow, VisualEffectState::active))
      .clipShape(Shape::roundedRectangle(10));
}

}  // namespace

TEST(Rendering, TheBackingStoreRedrawsChangesAsAFullRenderDrawsThem) {
  auto host = Host::make(panelFrame(0));
  for (double scale : {2.0, 1.0}) {
    for (int step = 0; step < 8; ++step) {
      SCOPED_TRACE("scale " + std::to_string(scale) + ", step " + std::to_string(step));
      host->setRootView(panelFrame(step));
      const img::Bitmap& kept = host->draw(scale);
      EXPECT_TRUE(kept.samePixels(host->render(scale)));
      // Drawing again with nothing changed keeps every pixel.
      EXPECT_TRUE(host->draw(scale).samePixels(host->render(scale)));
    }
  }
}

TEST(Rendering, RenderToPngWritesAReadableFile) {
  TempDir dir;
  std::string path = dir.file("view.png");
  ASSERT_TRUE(renderToPng(View(Color::blue()).frame(30, 20), std::nullopt, path));
  auto loaded = img::loadPNG(path);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->pixelsWide(), 30);
  EXPECT_TRUE(near(loaded->pixel(15, 10), 0, 122, 255));
  EXPECT_FALSE(renderToPng(View(Color::blue()), Size{10, 10}, dir.file("missing/dir/view.png")));
}

TEST(Rendering, EmptyTreesRenderOneTransparentPixel) {
  auto host = Host::make(EmptyView());
  img::Bitmap b = host->render();
  EXPECT_EQ(b.pixelsWide(), 1);
  EXPECT_EQ(at(b, 0, 0).a, 0);
}
