#include <gtest/gtest.h>

#include "app/previews/DockPreviewThumbnailButtonOverlay.h"
#include "app/previews/DockPreviewThumbnailLabel.h"
#include "app/previews/DockPreviewThumbnailPositionIndicatorOverlay.h"
#include "app/previews/DockPreviewThumbnailSnapButton.h"
#include "app/previews/DockPreviewThumbnailView.h"
#include "app/previews/tests/PreviewTestSupport.h"
#include "app/preferences/Preferences.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/UserDefaults.h"

namespace {

using previewtest::PreviewHarness;
using ButtonAction = DockPreviewThumbnailContent::ButtonAction;
using ScreenDisplayMode = DockPreviewThumbnailContent::ScreenDisplayMode;
using SpaceDisplayMode = DockPreviewThumbnailContent::SpaceDisplayMode;

// Symbol names and texts of a subtree, in tree order.
std::vector<std::string> glyphsAndTexts(const ui::Node& root) {
  std::vector<std::string> out;
  std::function<void(const ui::Node&)> walk = [&](const ui::Node& n) {
    if (n.kind == ui::NodeKind::symbol) out.push_back("[" + n.text() + "]");
    if (n.kind == ui::NodeKind::text) out.push_back(n.text());
    for (const auto& c : n.children) walk(*c);
  };
  walk(root);
  return out;
}

const ui::Node* firstOfKind(const ui::Node& root, ui::NodeKind kind) {
  return root.findFirst([kind](const ui::Node& n) { return n.kind == kind; });
}

std::shared_ptr<appkit::NSScreen> displayScreen(std::uint32_t id, double x) {
  return std::make_shared<appkit::NSScreen>(id, CGRect(x, 0, 1440, 900), CGRect(x, 0, 1440, 875), 1.0,
                                            "D" + std::to_string(id), true);
}

DockPreviewThumbnailContent located(ScreenDisplayMode screenMode, SpaceDisplayMode spaceMode,
                                    std::string title = "Notes") {
  return previewtest::thumbnail(1, std::move(title), {}, spaceMode, screenMode);
}

class ThumbnailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = ns::UserDefaults::standard();
    ns::UserDefaults::setStandard(ns::UserDefaults::inMemory());
  }
  void TearDown() override { ns::UserDefaults::setStandard(previous_); }
  dispatch::VirtualClockScope clock;
  dispatch::Scheduler& sched = dispatch::Scheduler::shared();

 private:
  std::shared_ptr<ns::UserDefaults> previous_;
};

}  // namespace

// ---- label ----

TEST(ThumbnailLabel, BadgeFollowsTheDisplayThenTheSpace) {
  struct Case {
    ScreenDisplayMode screen;
    SpaceDisplayMode space;
    std::vector<std::string> expected;
  } cases[] = {
      {ScreenDisplayMode::current, SpaceDisplayMode::normal, {"Notes"}},
      {ScreenDisplayMode::current, SpaceDisplayMode::otherSpace, {"[arrow.left.arrow.right.square.fill]", "Notes"}},
      {ScreenDisplayMode::current, SpaceDisplayMode::fullscreen, {"[arrow.left.arrow.right.square.fill]", "Notes"}},
      {ScreenDisplayMode::left, SpaceDisplayMode::otherSpace, {"[display]", "[chevron.left]", "Notes"}},
      {ScreenDisplayMode::right, SpaceDisplayMode::normal, {"[chevron.right]", "[display]", "Notes"}},
  };
  for (const auto& c : cases) {
    auto host = ui::Host::make(ui::View(DockPreviewThumbnailLabel{located(c.screen, c.space)}));
    EXPECT_EQ(glyphsAndTexts(*host->root()), c.expected) << toString(c.screen) << "/" << toString(c.space);
  }
}

TEST(ThumbnailLabel, SymbolSizesAndSpacing) {
  auto host = ui::Host::make(ui::View(DockPreviewThumbnailLabel{located(ScreenDisplayMode::right, SpaceDisplayMode::normal)}));
  auto display = PreviewHarness::symbols(*host->root(), "display");
  auto chevron = PreviewHarness::symbols(*host->root(), "chevron.right");
  ASSERT_EQ(display.size(), 1u);
  ASSERT_EQ(chevron.size(), 1u);
  EXPECT_EQ(display[0]->frame.height, 10);
  EXPECT_EQ(display[0]->env->font, ui::Font::system(10, ui::FontWeight::bold));
  // 4 points between the chevron and the display glyph.
  EXPECT_DOUBLE_EQ(display[0]->frame.x - chevron[0]->frame.maxX(), 4);
  auto spaceHost = ui::Host::make(
      ui::View(DockPreviewThumbnailLabel{located(ScreenDisplayMode::current, SpaceDisplayMode::otherSpace)}));
  auto badge = PreviewHarness::symbols(*spaceHost->root(), "arrow.left.arrow.right.square.fill");
  ASSERT_EQ(badge.size(), 1u);
  EXPECT_EQ(badge[0]->frame.height, 14);
}

TEST(ThumbnailLabel, EmptyTitleShowsNoTextAndALabelWithNothingIsEmpty) {
  auto host = ui::Host::make(ui::View(DockPreviewThumbnailLabel{located(ScreenDisplayMode::current, SpaceDisplayMode::normal, "")}));
  EXPECT_TRUE(glyphsAndTexts(*host->root()).empty());
  EXPECT_EQ(host->size(), (ui::Size{0, 0}));
  auto badgeOnly = ui::Host::make(
      ui::View(DockPreviewThumbnailLabel{located(ScreenDisplayMode::left, SpaceDisplayMode::normal, "")}));
  EXPECT_EQ(glyphsAndTexts(*badgeOnly->root()), (std::vector<std::string>{"[display]", "[chevron.left]"}));
}

TEST(ThumbnailLabel, LongTitleStaysOnOneLineWithAnEllipsis) {
  const std::string title = "A very long window title that cannot possibly fit in the thumbnail's width at all";
  auto host = ui::Host::make(ui::View(DockPreviewThumbnailLabel{located(ScreenDisplayMode::current, SpaceDisplayMode::normal, title)}));
  host->setProposedSize(ui::Size{210, 100});
  const ui::Node* text = firstOfKind(*host->root(), ui::NodeKind::text);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->env->lineLimit, 1);
  EXPECT_EQ(text->env->font, ui::Font::system(11));
  EXPECT_LE(text->frame.width, 210);
  EXPECT_LT(text->frame.height, 16) << "one line of 11-point text";
}

// ---- position indicator ----

TEST(PositionIndicator, NoBadgeOnTheCurrentDisplayAndSpace) {
  auto host = ui::Host::make(ui::View(
      DockPreviewThumbnailPositionIndicatorOverlay{located(ScreenDisplayMode::current, SpaceDisplayMode::normal), true}));
  EXPECT_EQ(host->size(), (ui::Size{0, 0}));
  EXPECT_EQ(firstOfKind(*host->root(), ui::NodeKind::padding), nullptr) << "no empty padded box";
}

TEST(PositionIndicator, ScreenBadgeWinsOverTheSpace) {
  auto glyphs = [](ScreenDisplayMode s, SpaceDisplayMode sp) {
    auto host = ui::Host::make(ui::View(DockPreviewThumbnailPositionIndicatorOverlay{located(s, sp), false}));
    return glyphsAndTexts(*host->root());
  };
  EXPECT_EQ(glyphs(ScreenDisplayMode::current, SpaceDisplayMode::otherSpace),
            (std::vector<std::string>{"[arrow.left.arrow.right.square.fill]"}));
  EXPECT_EQ(glyphs(ScreenDisplayMode::current, SpaceDisplayMode::fullscreen),
            (std::vector<std::string>{"[arrow.left.arrow.right.square.fill]"}));
  EXPECT_EQ(glyphs(ScreenDisplayMode::right, SpaceDisplayMode::otherSpace),
            (std::vector<std::string>{"[chevron.right]", "[display]"}));
  EXPECT_EQ(glyphs(ScreenDisplayMode::left, SpaceDisplayMode::fullscreen),
            (std::vector<std::string>{"[display]", "[chevron.left]"}));
}

TEST(PositionIndicator, HighlightChangesOnlyTheBackground) {
  auto backgroundOf = [](bool highlighted) {
    auto host = ui::Host::make(ui::View(DockPreviewThumbnailPositionIndicatorOverlay{
        located(ScreenDisplayMode::left, SpaceDisplayMode::normal), highlighted}));
    const ui::Node* bg = firstOfKind(*host->root(), ui::NodeKind::background);
    EXPECT_NE(bg, nullptr);
    auto display = PreviewHarness::symbols(*host->root(), "display");
    EXPECT_EQ(display.at(0)->foreground(), ui::Color::white());
    EXPECT_EQ(display.at(0)->frame.height, 20);
    return std::make_pair(bg->children.at(1)->el().color, host->size());
  };
  auto [plain, plainSize] = backgroundOf(false);
  auto [lit, litSize] = backgroundOf(true);
  EXPECT_EQ(plain, ui::Color::black().opacity(0.5));
  EXPECT_EQ(lit, ui::Color::controlAccentColor().opacity(0.6));
  EXPECT_EQ(plainSize, litSize);
}

// ---- snap button ----

TEST(SnapButton, SymbolsOfTheActions) {
  auto s = displayScreen(1, 0);
  EXPECT_EQ(DockPreviewThumbnailSnapButton::symbolName(ButtonAction::snap(SnapAlignment::left, s)),
            "rectangle.lefthalf.inset.filled");
  EXPECT_EQ(DockPreviewThumbnailSnapButton::symbolName(ButtonAction::snap(SnapAlignment::maximized, s)),
            "rectangle.inset.filled");
  EXPECT_EQ(DockPreviewThumbnailSnapButton::symbolName(ButtonAction::snap(SnapAlignment::right, s)),
            "rectangle.righthalf.inset.filled");
  EXPECT_EQ(DockPreviewThumbnailSnapButton::symbolName(ButtonAction::screen(s)), "display");
  EXPECT_EQ(DockPreviewThumbnailSnapButton::symbolName(ButtonAction::close()), "xmark");
  EXPECT_EQ(DockPreviewThumbnailSnapButton::symbolName(ButtonAction::snap(SnapAlignment::snapBack, s)), "");
}

TEST(SnapButton, OnlyTheHighlightedScreensButtonIsHighlighted) {
  auto a = displayScreen(1, 0), b = displayScreen(2, 1440);
  auto lit = ButtonAction::snap(SnapAlignment::left, b);
  auto make = [&](ButtonAction action, std::optional<ButtonAction> highlighted) {
    return ui::View(DockPreviewThumbnailSnapButton{highlighted, action, ui::Binding<bool>::constant(true), false, {}, {}});
  };
  auto host = ui::Host::make(ui::HStack({make(ButtonAction::snap(SnapAlignment::left, a), lit).testId("a"),
                                         make(ButtonAction::snap(SnapAlignment::left, b), lit).testId("b"),
                                         make(ButtonAction::screen(a), std::nullopt).testId("none")}));
  auto glyphColor = [&](const char* id) {
    auto glyph = host->find(id)->findFirst([](const ui::Node& n) { return n.kind == ui::NodeKind::symbol; });
    return glyph->foreground();
  };
  auto scale = [&](const char* id) { return firstOfKind(*host->find(id), ui::NodeKind::scale)->el().scaleX; };
  EXPECT_EQ(glyphColor("a"), ui::Color::controlTextColor());
  EXPECT_EQ(scale("a"), 1.0);
  EXPECT_EQ(glyphColor("b"), ui::Color::controlAccentColor());
  EXPECT_EQ(scale("b"), 1.1);
  EXPECT_EQ(glyphColor("none"), ui::Color::controlTextColor());
  // 10-point glyph, 6 points of padding: 22 x 22 within a 30 x 30 frame.
  EXPECT_LE(host->frameOf("none")->width, 30);
}

TEST(SnapButton, ReportsOnlyChangesAndNothingWhileDisabled) {
  bool enabled = false;
  std::vector<std::string> reports;
  auto action = ButtonAction::screen(displayScreen(1, 0));
  auto host = ui::Host::make(ui::HStack(
      {ui::View(DockPreviewThumbnailSnapButton{std::nullopt, action,
                                               ui::Binding<bool>([&] { return enabled; }, [&](bool v) { enabled = v; }),
                                               false,
                                               [&](const ButtonAction& a, bool h) {
                                                 reports.push_back(std::string(a == action ? "action " : "other ") +
                                                                   (h ? "in" : "out"));
                                               },
                                               {}})
           .testId("button"),
       ui::Spacer(100)}));
  auto f = *host->frameOf("button");
  auto inside = ui::Point{f.midX(), f.midY()}, outside = ui::Point{f.maxX() + 50, f.midY()};
  host->mouseMoved(inside);
  host->mouseMoved(outside);
  EXPECT_TRUE(reports.empty()) << "hover reports are off";
  enabled = true;
  host->mouseMoved(inside);
  host->mouseMoved({inside.x + 1, inside.y});
  host->mouseMoved(outside);
  host->mouseMoved(inside);
  EXPECT_EQ(reports, (std::vector<std::string>{"action in", "action out", "action in"}));
  // Turned off while inside: the exit goes unreported and the stored value stays,
  // so the next enter after it turns on again is not reported either.
  enabled = false;
  host->mouseMoved(outside);
  enabled = true;
  host->mouseMoved(inside);
  EXPECT_EQ(reports.size(), 3u);
  host->mouseMoved(outside);
  EXPECT_EQ(reports.back(), "action out");
}

TEST(SnapButton, AClickReportsItsOwnActionWhateverTheHighlight) {
  auto a = displayScreen(1, 0);
  std::vector<ButtonAction> clicks;
  auto action = ButtonAction::snap(SnapAlignment::right, a);
  auto host = ui::Host::make(ui::View(DockPreviewThumbnailSnapButton{
      ButtonAction::snap(SnapAlignment::left, a), action, ui::Binding<bool>::constant(true), false, {},
      [&](const ButtonAction& clicked) { clicks.push_back(clicked); }}));
  ASSERT_TRUE(host->click("rectangle.righthalf.inset.filled"));
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(clicks[0], action);
}

// ---- thumbnail view ----

TEST(ThumbnailView, CornerRadiusFromTheCaptureSize) {
  EXPECT_EQ(DockPreviewThumbnailView::cornerRadius(1280, 800), 9);
  EXPECT_EQ(DockPreviewThumbnailView::cornerRadius(2560, 1440), 1);
  EXPECT_EQ(DockPreviewThumbnailView::cornerRadius(1900, 800), 5);
  EXPECT_EQ(DockPreviewThumbnailView::cornerRadius(1899.5, 2000), 3);
  EXPECT_EQ(DockPreviewThumbnailView::cornerRadius(1899, 1023), 9);
}

TEST_F(ThumbnailTest, HighlightShowsTheRingBadgeAndButtonsWithoutMovingTheImage) {
  auto entry = located(ScreenDisplayMode::right, SpaceDisplayMode::normal);
  entry.snapButtonActions = {ButtonAction::screen(displayScreen(1, 0))};
  auto make = [&](bool highlighted) {
    return ui::View(DockPreviewThumbnailView{ui::AppStorage<bool>("scrollPreviewSnappingEnabled", true), false,
                                             highlighted, std::nullopt, entry, {}})
        .frame(240, std::nullopt);
  };
  auto host = ui::Host::make(make(false));
  auto imageFrame = [&] { return firstOfKind(*host->root(), ui::NodeKind::image)->frame; };
  auto ring = [&] {
    return host->root()->findFirst([](const ui::Node& n) { return n.kind == ui::NodeKind::shape && n.el().stroke; });
  };
  const ui::Rect before = imageFrame();
  EXPECT_EQ(ring()->el().strokeColor, ui::Color::clear());
  EXPECT_EQ(ring()->el().stroke->lineWidth, 4);
  EXPECT_TRUE(PreviewHarness::symbols(*host->root(), "xmark").empty());
  EXPECT_TRUE(PreviewHarness::symbols(*host->root(), "chevron.right").size() == 1) << "only the label's";

  host->setRootView(make(true));
  EXPECT_EQ(imageFrame(), before);
  EXPECT_EQ(ring()->el().strokeColor, ui::Color::controlAccentColor().opacity(0.6));
  EXPECT_EQ(PreviewHarness::symbols(*host->root(), "xmark").size(), 1u);
  EXPECT_EQ(PreviewHarness::symbols(*host->root(), "ellipsis").size(), 1u);
  EXPECT_EQ(PreviewHarness::symbols(*host->root(), "chevron.right").size(), 2u) << "label and badge";
  // The image sits 15 points in from the thumbnail's edge, 5 more at the top.
  EXPECT_DOUBLE_EQ(before.x, 15);
  EXPECT_DOUBLE_EQ(before.y, 20);
  EXPECT_DOUBLE_EQ(before.width, 210);
  EXPECT_DOUBLE_EQ(before.height, 210 * 800.0 / 1280);
}

TEST_F(ThumbnailTest, NowPlayingEntryIsLaidOutAt200By200) {
  auto entry = located(ScreenDisplayMode::current, SpaceDisplayMode::normal, "");
  entry.isNowPlaying = true;
  entry.thumbnailImage = previewtest::capture(600, 600);
  auto host = ui::Host::make(ui::View(DockPreviewThumbnailView{ui::AppStorage<bool>("k", true), false, false,
                                                               std::nullopt, entry, {}})
                                 .frame(240, std::nullopt));
  const ui::Node* frame = host->root()->findFirst(
      [](const ui::Node& n) { return n.kind == ui::NodeKind::frame && n.el().width == 200.0 && n.el().height == 200.0; });
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->frame.width, 200);
  EXPECT_EQ(frame->frame.height, 200);
  EXPECT_EQ(firstOfKind(*host->root(), ui::NodeKind::text), nullptr) << "the showcase entry has no title";
}

// ---- button overlay ----

TEST(AccessoryButton, GrowsAndTakesTheAccentColourUnderThePointer) {
  int clicks = 0;
  auto host = ui::Host::make(ui::HStack(
      {ui::View(DockPreviewThumbnailAccessoryButton{"xmark", [&] { ++clicks; }}).testId("close"), ui::Spacer(100)}));
  auto glyph = [&] {
    return host->find("close")->findFirst([](const ui::Node& n) { return n.kind == ui::NodeKind::symbol; });
  };
  auto scale = [&] { return firstOfKind(*host->find("close"), ui::NodeKind::scale)->el().scaleX; };
  EXPECT_EQ(glyph()->foreground(), ui::Color::controlTextColor());
  EXPECT_EQ(scale(), 1.0);
  EXPECT_EQ(glyph()->env->font, ui::Font::system(12, ui::FontWeight::bold));
  const auto f = *host->frameOf("close");
  EXPECT_EQ(f.width, 20);
  EXPECT_EQ(f.height, 20);

  host->mouseMoved({f.midX(), f.midY()});
  host->layoutIfNeeded();
  EXPECT_EQ(glyph()->foreground(), ui::Color::controlAccentColor());
  EXPECT_EQ(scale(), 1.1);
  host->mouseMoved({f.maxX() + 50, f.midY()});
  host->layoutIfNeeded();
  EXPECT_EQ(glyph()->foreground(), ui::Color::controlTextColor());
  EXPECT_EQ(scale(), 1.0);

  host->click(ui::Point{f.midX(), f.midY()});
  EXPECT_EQ(clicks, 1);
}
