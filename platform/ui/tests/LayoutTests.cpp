#include <gtest/gtest.h>

#include "platform/image/Bitmap.h"
#include "platform/image/Image.h"
#include "platform/ui/Host.h"
#include "platform/ui/Text.h"

using namespace ui;

namespace {

View box(double w, double h, std::string id) { return View(Color::red()).frame(w, h).testId(std::move(id)); }

Rect frameIn(const std::shared_ptr<Host>& host, const std::string& id) {
  auto f = host->frameOf(id);
  EXPECT_TRUE(f.has_value()) << id;
  return f.value_or(Rect{});
}

std::shared_ptr<Host> hosted(View v, std::optional<Size> size = std::nullopt) {
  auto host = Host::make(std::move(v));
  host->setProposedSize(size);
  return host;
}

img::Image imageOfSize(int w, int h) {
  return img::Image::withBitmap(*img::Bitmap::filled(w, h, img::Pixel{0, 0, 255, 255}));
}

}  // namespace

TEST(StackLayout, VStackSumsHeightsAndCentresNarrowerChildren) {
  auto host = hosted(VStack(HorizontalAlignment::center, 10, {box(50, 20, "a"), box(30, 40, "b")}));
  EXPECT_EQ(host->size(), (Size{50, 70}));
  EXPECT_EQ(frameIn(host, "a"), (Rect{0, 0, 50, 20}));
  EXPECT_EQ(frameIn(host, "b"), (Rect{10, 30, 30, 40}));
}

TEST(StackLayout, AlignmentsPlaceChildrenOnTheCrossAxis) {
  auto lead = hosted(VStack(HorizontalAlignment::leading, 0, {box(50, 20, "a"), box(30, 40, "b")}));
  EXPECT_EQ(frameIn(lead, "b").x, 0);
  auto trail = hosted(VStack(HorizontalAlignment::trailing, 0, {box(50, 20, "a"), box(30, 40, "b")}));
  EXPECT_EQ(frameIn(trail, "b").x, 20);
  auto top = hosted(HStack(VerticalAlignment::top, 0, {box(10, 20, "a"), box(10, 40, "b")}));
  EXPECT_EQ(frameIn(top, "a").y, 0);
  auto bottom = hosted(HStack(VerticalAlignment::bottom, 0, {box(10, 20, "a"), box(10, 40, "b")}));
  EXPECT_EQ(frameIn(bottom, "a").y, 20);
}

TEST(StackLayout, DefaultSpacingIsEightPoints) {
  auto host = hosted(HStack({box(10, 10, "a"), box(10, 10, "b"), box(10, 10, "c")}));
  EXPECT_EQ(frameIn(host, "c").x, 36);
  EXPECT_EQ(host->size().width, 46);
}

TEST(StackLayout, SpacerTakesWhatIsLeftAlongTheAxisOnly) {
  auto host = hosted(HStack({box(50, 20, "a"), Spacer().testId("s"), box(30, 20, "b")}), Size{200, 100});
  EXPECT_EQ(frameIn(host, "a").x, 0);
  EXPECT_EQ(frameIn(host, "s").width, 200 - 50 - 30 - 16);
  EXPECT_EQ(frameIn(host, "s").height, 0);  // a spacer in a row does not grow the row
  EXPECT_EQ(frameIn(host, "b").x, 170);
  EXPECT_EQ(host->size(), (Size{200, 20}));
}

TEST(StackLayout, SpacerWithoutProposalKeepsItsMinimumLength) {
  auto host = hosted(VStack(HorizontalAlignment::center, 0, {box(10, 10, "a"), Spacer(), Spacer(3).testId("s3")}));
  EXPECT_EQ(host->size().height, 10 + 8 + 3);
  EXPECT_EQ(frameIn(host, "s3").height, 3);
}

TEST(StackLayout, FlexibleChildrenShareAfterRigidOnesAreServed) {
  // Two flexible colours and one fixed box share 200 points.
  auto host = hosted(HStack(VerticalAlignment::center, 0,
                            {View(Color::blue()).testId("l"), box(40, 10, "fixed"), View(Color::blue()).testId("r")}),
                     Size{200, 50});
  EXPECT_EQ(frameIn(host, "fixed").width, 40);
  EXPECT_EQ(frameIn(host, "l").width, 80);
  EXPECT_EQ(frameIn(host, "r").width, 80);
  EXPECT_EQ(frameIn(host, "r").x, 120);
}

TEST(StackLayout, LayoutPriorityServesTheHigherPriorityFirst) {
  auto host = hosted(HStack(VerticalAlignment::center, 0,
                            {View(Color::blue()).frame(FlexFrame{.maxWidth = 150}).testId("low"),
                             View(Color::blue()).frame(FlexFrame{.maxWidth = 150}).layoutPriority(1).testId("high")}),
                     Size{200, 50});
  EXPECT_EQ(frameIn(host, "high").width, 150);
  EXPECT_EQ(frameIn(host, "low").width, 50);
}

TEST(StackLayout, GroupsAndForEachAreFlattenedIntoTheStack) {
  std::vector<int> items{1, 2};
  auto host = hosted(VStack(HorizontalAlignment::leading, 5,
                            {Group({box(10, 10, "g1"), box(10, 10, "g2")}),
                             ForEach(items, [](int i) { return std::to_string(i); },
                                     [](int i) { return box(10, 10, "f" + std::to_string(i)); }),
                             EmptyView(), If(false, box(10, 10, "never")), box(10, 10, "last")}));
  // Five views, four gaps; the empty view and the false branch take no space and no spacing.
  EXPECT_EQ(frameIn(host, "g2").y, 15);
  EXPECT_EQ(frameIn(host, "f2").y, 45);
  EXPECT_EQ(frameIn(host, "last").y, 60);
  EXPECT_EQ(host->size().height, 70);
  EXPECT_EQ(host->find("never"), nullptr);
}

TEST(StackLayout, ZStackTakesTheLargestChildAndAlignsTheOthers) {
  auto host = hosted(ZStack(Alignment::bottomTrailing, {box(100, 50, "big"), box(10, 10, "small")}));
  EXPECT_EQ(host->size(), (Size{100, 50}));
  EXPECT_EQ(frameIn(host, "small"), (Rect{90, 40, 10, 10}));
}

TEST(GridLayout, FixedColumnsRowsAndSpacing) {
  std::vector<View> cells;
  for (int i = 0; i < 7; ++i) cells.push_back(View(Color::red()).frame(std::nullopt, 50).testId("c" + std::to_string(i)));
  auto host = hosted(LazyVGrid({GridItem::fixed(100), GridItem::fixed(100), GridItem::fixed(100)},
                               HorizontalAlignment::center, 0, cells));
  EXPECT_EQ(host->size(), (Size{316, 150}));
  EXPECT_EQ(frameIn(host, "c0"), (Rect{0, 0, 100, 50}));
  EXPECT_EQ(frameIn(host, "c4"), (Rect{108, 50, 100, 50}));
  EXPECT_EQ(frameIn(host, "c6"), (Rect{0, 100, 100, 50}));
}

TEST(GridLayout, RowHeightIsTheTallestCellAndCellsAreCentred) {
  // An item's spacing is the space to the next column.
  auto host = hosted(LazyVGrid({GridItem::fixed(100, 20), GridItem::fixed(100)}, HorizontalAlignment::center, 10,
                               {box(40, 20, "short"), box(60, 60, "tall"), box(10, 10, "next")}));
  EXPECT_EQ(host->size(), (Size{220, 60 + 10 + 10}));
  EXPECT_EQ(frameIn(host, "short"), (Rect{30, 20, 40, 20}));
  EXPECT_EQ(frameIn(host, "tall"), (Rect{140, 0, 60, 60}));
  EXPECT_EQ(frameIn(host, "next"), (Rect{45, 70, 10, 10}));
}

TEST(GridLayout, ZeroColumnsLayOutNothing) {
  auto host = hosted(VStack(HorizontalAlignment::center, 0,
                            {LazyVGrid({}, HorizontalAlignment::center, 0, {box(40, 20, "a"), box(40, 20, "b")}).testId("g"),
                             box(10, 10, "after")}));
  EXPECT_EQ(frameIn(host, "g").width, 0);
  EXPECT_EQ(frameIn(host, "g").height, 0);
  const Node* a = host->find("a");
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->collapsed);
  EXPECT_FALSE(host->centerOf(*a).has_value());
  EXPECT_EQ(host->size(), (Size{10, 10}));
}

TEST(GridLayout, FiveColumnsOfThumbnailsWithPadding) {
  std::vector<View> cells;
  for (int i = 0; i < 5; ++i) cells.push_back(View(Color::red()).frame(FlexFrame{.maxHeight = 240}).frame(240, std::nullopt));
  std::vector<GridItem> cols(5, GridItem::fixed(240));
  auto host = hosted(VStack(HorizontalAlignment::center, 0, {LazyVGrid(cols, HorizontalAlignment::center, 0, cells)})
                         .padding(Edge::horizontal, 10));
  EXPECT_EQ(host->size().width, 5 * 240 + 4 * 8 + 20);
}

TEST(FrameLayout, FixedFrameReplacesTheProposalAndAlignsTheChild) {
  auto host = hosted(box(20, 10, "in").frame(100, 50, Alignment::topLeading).testId("outer"), Size{300, 300});
  EXPECT_EQ(frameIn(host, "outer"), (Rect{0, 0, 100, 50}));
  EXPECT_EQ(frameIn(host, "in"), (Rect{0, 0, 20, 10}));
  auto centred = hosted(box(20, 10, "in").frame(100, std::nullopt), Size{300, 300});
  EXPECT_EQ(centred->size(), (Size{100, 10}));
  EXPECT_EQ(frameIn(centred, "in").x, 40);
}

TEST(FrameLayout, FlexibleFrameClampsBetweenMinimumAndMaximum) {
  auto wide = hosted(box(20, 10, "in").frame(FlexFrame{.maxWidth = infinity}).testId("f"), Size{300, 300});
  EXPECT_EQ(frameIn(wide, "f").width, 300);
  EXPECT_EQ(frameIn(wide, "f").height, 10);
  auto capped = hosted(View(Color::red()).frame(FlexFrame{.maxWidth = 240, .maxHeight = 240}).testId("f"), Size{500, 100});
  EXPECT_EQ(frameIn(capped, "f"), (Rect{0, 0, 240, 100}));
  auto least = hosted(box(10, 10, "in").frame(FlexFrame{.minWidth = 50}).testId("f"), Size{20, 20});
  EXPECT_EQ(frameIn(least, "f").width, 50);
  // Nothing proposed: the child's own size, raised to the minimum.
  auto ideal = hosted(box(10, 10, "in").frame(FlexFrame{.minWidth = 50, .maxHeight = 240}).testId("f"));
  EXPECT_EQ(frameIn(ideal, "f"), (Rect{0, 0, 50, 10}));
  // Nothing proposed and a child taller than the maximum: the child is
  // proposed the maximum and fits inside the frame (a portrait image here).
  auto tall = hosted(Image(imageOfSize(300, 780)).resizable().scaledToFit().testId("img").frame(200, std::nullopt)
                         .frame(FlexFrame{.maxHeight = 240}).testId("f"));
  EXPECT_NEAR(frameIn(tall, "f").height, 240, 1e-9);
  const Rect image = frameIn(tall, "img");
  EXPECT_NEAR(image.height, 240, 1e-9);
  EXPECT_NEAR(image.width, 240 * 300.0 / 780, 1e-9);
  EXPECT_NEAR(image.y, 0, 1e-9);
}


TEST(PaddingLayout, InsetsGrowTheSizeAndOffsetTheChild) {
  auto host = hosted(box(40, 20, "in").padding(10).testId("p"));
  EXPECT_EQ(host->size(), (Size{60, 40}));
  EXPECT_EQ(frameIn(host, "in"), (Rect{10, 10, 40, 20}));
  auto edges = hosted(box(40, 20, "in").padding(Edge::horizontal, 10).padding(EdgeInsets{5, 0, 0, 0}));
  EXPECT_EQ(edges->size(), (Size{60, 25}));
  EXPECT_EQ(frameIn(edges, "in"), (Rect{10, 5, 40, 20}));
}

TEST(PaddingLayout, ProposalShrinksByTheInsets) {
  auto host = hosted(View(Color::red()).testId("c").padding(15), Size{100, 80});
  EXPECT_EQ(frameIn(host, "c"), (Rect{15, 15, 70, 50}));
}

TEST(OverlayLayout, OverlayAndBackgroundTakeThePrimarySize) {
  auto host = hosted(box(100, 50, "base")
                         .overlay(box(20, 20, "badge"), Alignment::topTrailing)
                         .background(View(Color::blue()).testId("bg")));
  EXPECT_EQ(host->size(), (Size{100, 50}));
  EXPECT_EQ(frameIn(host, "badge"), (Rect{80, 0, 20, 20}));
  EXPECT_EQ(frameIn(host, "bg"), (Rect{0, 0, 100, 50}));
}

TEST(OverlayLayout, FlexibleOverlayContentIsProposedExactlyThePrimarySize) {
  auto host = hosted(box(100, 50, "base").overlay(VStack({box(10, 10, "top"), Spacer(0)})));
  EXPECT_EQ(frameIn(host, "top"), (Rect{45, 0, 10, 10}));
}

TEST(AspectRatioLayout, FitAndFillAgainstASquare) {
  auto fit = hosted(Image(imageOfSize(200, 100)).resizable().scaledToFit().testId("img").frame(100, 100));
  EXPECT_EQ(frameIn(fit, "img"), (Rect{0, 25, 100, 50}));
  auto fill = hosted(Image(imageOfSize(200, 100)).resizable().scaledToFill().testId("img").frame(100, 100));
  EXPECT_EQ(frameIn(fill, "img"), (Rect{-50, 0, 200, 100}));
  auto ratio = hosted(View(Color::red()).aspectRatio(1.0, ContentMode::fit).testId("sq"), Size{300, 100});
  EXPECT_EQ(frameIn(ratio, "sq").width, 100);
  EXPECT_EQ(frameIn(ratio, "sq").height, 100);
}

TEST(AspectRatioLayout, ImageWithoutResizableKeepsItsSize) {
  auto host = hosted(Image(imageOfSize(40, 30)).testId("img").frame(100, 100));
  EXPECT_EQ(frameIn(host, "img"), (Rect{30, 35, 40, 30}));
}

TEST(FixedSizeLayout, FixedSizeIgnoresTheProposedWidth) {
  std::string text = "A fairly long label that wraps";
  auto wrapped = hosted(Text(text).testId("t").frame(60, std::nullopt));
  auto fixed = hosted(Text(text).fixedSize().testId("t").frame(60, std::nullopt));
  EXPECT_LE(frameIn(wrapped, "t").width, 60);
  EXPECT_GT(frameIn(wrapped, "t").height, lineHeight(Font::body()));
  EXPECT_EQ(frameIn(fixed, "t").width, measureText(text, Font::body()).width);
  EXPECT_EQ(frameIn(fixed, "t").height, lineHeight(Font::body()));
  // Vertical only: the width follows the proposal, the height the full text.
  auto vertical = hosted(Text(text).fixedSize(false, true).testId("t").frame(60, 10));
  EXPECT_LE(frameIn(vertical, "t").width, 60);
  EXPECT_GT(frameIn(vertical, "t").height, 10);
}

TEST(OffsetLayout, OffsetMovesTheContentButNotItsSlot) {
  auto host = hosted(HStack(VerticalAlignment::top, 0, {box(10, 10, "a").offset(5, 7), box(10, 10, "b")}));
  EXPECT_EQ(frameIn(host, "a"), (Rect{5, 7, 10, 10}));
  EXPECT_EQ(frameIn(host, "b").x, 10);
}

TEST(ControlLayout, BorderedButtonPadsItsLabelAndPlainDoesNot) {
  Size label = measureText("Change...", Font::body());
  auto bordered = hosted(Button("Change...", [] {}).testId("b"));
  EXPECT_EQ(frameIn(bordered, "b").width, label.width + 20);
  EXPECT_EQ(frameIn(bordered, "b").height, label.height + 6);
  auto plain = hosted(Button("Change...", [] {}).testId("b").buttonStyle(ButtonStyle::plain));
  EXPECT_EQ(frameIn(plain, "b").width, label.width);
}

TEST(ControlLayout, ToggleLabelWrapsInsideTheOfferedWidth) {
  auto host = hosted(Toggle("Hide all windows when the icon is clicked", Binding<bool>::constant(true))
                         .fixedSize(false, true)
                         .frame(120, std::nullopt, Alignment::leading)
                         .testId("t"));
  const Node* toggle = host->root()->findFirst([](const Node& n) { return n.kind == NodeKind::toggle; });
  ASSERT_NE(toggle, nullptr);
  EXPECT_LE(toggle->frame.width, 120);
  EXPECT_GT(toggle->frame.height, 2 * lineHeight(Font::body()) - 1);
}

TEST(HostLayout, FittingSizeIsTheIdealSize) {
  auto host = Host::make(VStack({box(30, 20, "a"), box(50, 10, "b")}).padding(5));
  EXPECT_EQ(host->fittingSize(), (Size{60, 48}));
  EXPECT_EQ(host->sizeThatFits({100.0, 100.0}), (Size{60, 48}));
}

TEST(HostLayout, FlattenedGroupsGetTheUnionOfTheirChildrensFrames) {
  auto host = hosted(VStack(HorizontalAlignment::leading, 0,
                            {box(10, 10, "a"), Group({box(30, 10, "b"), box(20, 10, "c")}).testId("group")}));
  EXPECT_EQ(frameIn(host, "group"), (Rect{0, 10, 30, 20}));
}

TEST(HostLayout, NonsenseSizesNeitherCrashNorPoisonTheLayout) {
  double nan = std::numeric_limits<double>::quiet_NaN();
  auto host = hosted(VStack({box(-10, 20, "neg"), View(Color::red()).frame(nan, 10).testId("nan"),
                             box(1e12, 1, "huge"), Text("ok").testId("ok")})
                         .padding(-5));
  const Node* ok = host->find("ok");
  ASSERT_NE(ok, nullptr);
  img::Bitmap b = host->render();
  EXPECT_GE(b.pixelsWide(), 1);
  EXPECT_LE(b.pixelsWide(), 16384);
  auto empty = hosted(View(Color::red()), Size{0, 0});
  EXPECT_EQ(empty->size(), (Size{0, 0}));
  EXPECT_EQ(empty->render().pixelsWide(), 1);
}

TEST(HostLayout, ANonsenseLengthDoesNotMoveTheViewsAroundIt) {
  double nan = std::numeric_limits<double>::quiet_NaN();
  double inf = std::numeric_limits<double>::infinity();
  auto host = hosted(VStack(HorizontalAlignment::leading, 0,
                            {HStack(VerticalAlignment::top, 0,
                                    {box(10, 10, "a"), View(Color::red()).frame(nan, 10), box(-4, 10, "neg"),
                                     box(10, 10, "b")}),
                             HStack(VerticalAlignment::top, nan, {box(10, 10, "c"), box(10, 10, "d")}),
                             LazyVGrid({GridItem::fixed(nan), GridItem::fixed(20, inf)}, HorizontalAlignment::center, nan,
                                       {box(10, 10, "g1"), box(10, 10, "g2")}),
                             box(10, 10, "e").padding(EdgeInsets{nan, inf, 0, 0})}));
  EXPECT_EQ(frameIn(host, "b"), (Rect{10, 0, 10, 10}));
  EXPECT_EQ(frameIn(host, "neg").width, 0);
  EXPECT_EQ(frameIn(host, "d"), (Rect{18, 10, 10, 10}));  // the default spacing
  EXPECT_EQ(frameIn(host, "g2"), (Rect{13, 20, 10, 10}));  // a zero-wide first column, then 8 points
  EXPECT_EQ(frameIn(host, "e"), (Rect{0, 30, 10, 10}));
  EXPECT_EQ(host->size(), (Size{28, 40}));
  // The views still take clicks.
  bool clicked = false;
  auto buttons = hosted(HStack(VerticalAlignment::top, 0,
                               {View(Color::red()).frame(nan, 10), Button([&] { clicked = true; }, Text("Go"))}));
  EXPECT_TRUE(buttons->click("Go"));
  EXPECT_TRUE(clicked);
}

TEST(HostLayout, ANewProposedSizeRelaysOutWithoutNewState) {
  auto host = hosted(View(Color::red()).testId("c").padding(10), Size{100, 100});
  EXPECT_EQ(frameIn(host, "c").width, 80);
  host->setProposedSize(Size{200, 50});
  EXPECT_EQ(frameIn(host, "c"), (Rect{10, 10, 180, 30}));
}
