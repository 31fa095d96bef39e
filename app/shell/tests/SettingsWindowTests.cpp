#include "app/shell/AnalyticsModeView.h"
#include "app/shell/PreferencesViewCoordinator.h"
#include "app/shell/tests/ShellTestSupport.h"
#include "platform/ui/Host.h"

using namespace shelltest;
using Mode = AnalyticsManager::Mode;
namespace k = preferencekeys;

namespace {

const char* const kNowPlaying = "Show Now Playing screen for Apple Music and Spotify";
const char* const kPreviewSnapping = "Snap windows by swiping or scrolling on the Dock Previews";
const char* const kHideAll = "Hide all windows when Morvalent icon is clicked";
const char* const kFinder = "Minimize Finder Windows\n(Prevents windows appearing when Desktop is clicked)";

class SettingsWindowTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    coordinator = PreferencesViewCoordinator::make();
  }

  std::shared_ptr<appkit::NSWindow> window() const { return coordinator->windowController()->window(); }
  std::shared_ptr<ui::Host> host() const {
    auto h = window()->contentHost();
    h->layoutIfNeeded();
    return h;
  }
  const ui::Node& control(const std::string& label) const {
    const ui::Node* node = host()->find(label);
    EXPECT_NE(node, nullptr) << label;
    static const ui::Node none;
    return node ? *node : none;
  }
  // What a toggle shows, and whether it can be used.
  bool shownOn(const std::string& label) const {
    const auto& node = control(label);
    return node.element && node.el().boolBinding && node.el().boolBinding->get();
  }
  bool enabled(const std::string& label) const { return control(label).isEnabled(); }
  std::shared_ptr<appkit::NSWindow> sheet() const {
    host();
    return window()->attachedSheet();
  }
  bool flag(const char* key) const { return defaults().defaults().boolForKey(key); }

  std::shared_ptr<PreferencesViewCoordinator> coordinator;
};

}  // namespace

TEST_F(SettingsWindowTest, ShowBuildsTheWindowOnceAndBringsItBack) {
  coordinator->show();
  auto w = window();
  EXPECT_EQ(w->title(), "Morvalent Settings");
  EXPECT_EQ(w->styleMask(), 3u);
  EXPECT_EQ(w->level(), 101);
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(w->isKeyWindow());
  EXPECT_EQ(w->contentRect().size.width, 700);
  EXPECT_GE(w->contentRect().size.height, 600);

  auto other = appkit::NSWindow::make(appkit::NSMakeRect(0, 0, 100, 100), appkit::NSWindowStyleMaskTitled);
  other->makeKeyAndOrderFront();
  coordinator->show();
  EXPECT_EQ(window(), w);
  EXPECT_TRUE(w->isKeyWindow());
  EXPECT_EQ(appkit::WindowList::allWindows().size(), 2u);
}

TEST_F(SettingsWindowTest, EveryClosingEndsTheOnboardingAndRunsTheHandler) {
  int handled = 0;
  coordinator->setPreferencesSuccessHandler([&handled] { ++handled; });
  coordinator->show();
  ASSERT_TRUE(defaults().preferencesOnboardingRequired());
  window()->performClose();
  EXPECT_FALSE(window()->isVisible());
  EXPECT_FALSE(defaults().preferencesOnboardingRequired());
  EXPECT_EQ(handled, 1);
  // The mode rule now applies the stored mode.
  manager->applyAnalyticsMode();
  EXPECT_EQ(manager->mode(), Mode::automaticAnalytics);

  coordinator->show();
  window()->close();
  EXPECT_EQ(handled, 2);
  EXPECT_FALSE(defaults().preferencesOnboardingRequired());
}

TEST_F(SettingsWindowTest, AReopenedWindowShowsValuesChangedMeanwhile) {
  coordinator->show();
  auto w = window();
  const auto origin = w->frame().origin;
  ASSERT_TRUE(shownOn("Open at Startup"));
  w->close();
  defaults().setOpenAtStartup(false);
  defaults().setAnalyticsMode(Mode::minimalAnalytics);
  w->setFrameOrigin(appkit::NSMakePoint(origin.x + 30, origin.y + 20));
  coordinator->show();
  EXPECT_EQ(window(), w);
  EXPECT_EQ(w->frame().origin.x, origin.x + 30);
  EXPECT_FALSE(shownOn("Open at Startup"));
  EXPECT_NE(host()->find("Minimal"), nullptr);
}

TEST_F(SettingsWindowTest, TogglesWriteTheirKeys) {
  coordinator->show();
  struct Case {
    const char* label;
    const char* key;
    bool before;
  };
  const Case cases[] = {
      {"Enabled", k::dockPreviewsEnabled, true},
      {"Snap windows by dragging them to the top or sides of screen", k::dragWindowSnappingEnabled, true},
      {"Snap windows by swiping or scrolling on the window title bar", k::scrollWindowSnappingEnabled, false},
      {"Maintain maximized windows when switching to external monitor", k::screenResizeCorrectionEnabled, true},
      {"Automatically check for updates", k::automaticUpdateChecks, true},
      {"Open at Startup", k::openAtStartup, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(flag(c.key), c.before) << c.label;
    ASSERT_TRUE(host()->click(c.label)) << c.label;
    EXPECT_EQ(flag(c.key), !c.before) << c.label;
    EXPECT_EQ(shownOn(c.label), !c.before) << c.label;
    ASSERT_TRUE(host()->click(c.label)) << c.label;
    EXPECT_EQ(flag(c.key), c.before) << c.label;
  }
  for (const char* label : {kNowPlaying, kPreviewSnapping, kHideAll}) {
    ASSERT_TRUE(host()->click(label)) << label;
  }
  EXPECT_FALSE(flag(k::showNowPlaying));
  EXPECT_FALSE(flag(k::scrollPreviewSnappingEnabled));
  EXPECT_FALSE(flag(k::showDesktopEnabled));
  // Stored under "minimizeFinderWindows" (no "Enabled"); needs show desktop on.
  ASSERT_TRUE(host()->click(kHideAll));
  ASSERT_TRUE(host()->click(kFinder));
  EXPECT_TRUE(flag(k::minimizeFinderWindowsEnabled));
  EXPECT_TRUE(defaults().minimizeFinderWindowsEnabled());
  EXPECT_FALSE(defaults().defaults().object("minimizeFinderWindowsEnabled").has_value());
}

TEST_F(SettingsWindowTest, TheIconPickerWritesTheMode) {
  coordinator->show();
  EXPECT_FALSE(defaults().defaults().object(k::applicationIconMode).has_value());
  ASSERT_TRUE(host()->click("Dock Icon"));
  EXPECT_EQ(defaults().defaults().integerForKey(k::applicationIconMode), 1);
  EXPECT_EQ(defaults().applicationIconMode(), ApplicationIconMode::statusItem);
  EXPECT_NE(host()->find("Menu Bar Icon"), nullptr);
  ASSERT_TRUE(host()->click("Menu Bar Icon"));
  EXPECT_EQ(defaults().defaults().integerForKey(k::applicationIconMode), 0);
}

TEST_F(SettingsWindowTest, PreviewsOffGreysOutTheirDependentsWithoutTouchingThem) {
  coordinator->show();
  ASSERT_TRUE(shownOn(kNowPlaying));
  ASSERT_TRUE(shownOn(kPreviewSnapping));
  ASSERT_TRUE(host()->click("Enabled"));
  EXPECT_FALSE(enabled(kNowPlaying));
  EXPECT_FALSE(enabled(kPreviewSnapping));
  EXPECT_FALSE(shownOn(kNowPlaying));
  EXPECT_FALSE(shownOn(kPreviewSnapping));
  host()->click(kNowPlaying);
  EXPECT_TRUE(flag(k::showNowPlaying));
  EXPECT_TRUE(flag(k::scrollPreviewSnappingEnabled));
  // The others stay usable.
  EXPECT_TRUE(enabled("Snap windows by swiping or scrolling on the window title bar"));

  defaults().setShowNowPlaying(false);
  ASSERT_TRUE(host()->click("Enabled"));
  EXPECT_TRUE(enabled(kNowPlaying));
  EXPECT_FALSE(shownOn(kNowPlaying));
  EXPECT_TRUE(shownOn(kPreviewSnapping));
}

TEST_F(SettingsWindowTest, TheMenuBarIconGreysOutShowDesktopAndFinder) {
  coordinator->show();
  ASSERT_TRUE(enabled(kHideAll));
  ASSERT_TRUE(enabled(kFinder));
  defaults().setMinimizeFinderWindowsEnabled(true);
  ASSERT_TRUE(host()->click("Dock Icon"));
  EXPECT_FALSE(enabled(kHideAll));
  EXPECT_FALSE(enabled(kFinder));
  EXPECT_FALSE(shownOn(kHideAll));
  EXPECT_FALSE(shownOn(kFinder));
  EXPECT_TRUE(flag(k::showDesktopEnabled));
  EXPECT_TRUE(flag(k::minimizeFinderWindowsEnabled));

  // Dock icon with show desktop off: only the Finder toggle is greyed out.
  ASSERT_TRUE(host()->click("Menu Bar Icon"));
  ASSERT_TRUE(host()->click(kHideAll));
  EXPECT_TRUE(enabled(kHideAll));
  EXPECT_FALSE(enabled(kFinder));
  EXPECT_FALSE(shownOn(kFinder));
  // Changed elsewhere, the form follows.
  defaults().setShowDesktopEnabled(true);
  EXPECT_TRUE(enabled(kFinder));
  EXPECT_TRUE(shownOn(kFinder));
}

TEST_F(SettingsWindowTest, StoredValuesOutsideTheModesShowTheFallback) {
  defaults().defaults().setInteger(k::applicationIconMode, 5);
  defaults().defaults().setInteger(k::analyticsMode, 7);
  coordinator->show();
  EXPECT_NE(host()->find("Dock Icon"), nullptr);
  EXPECT_NE(host()->find("Manual"), nullptr);
  EXPECT_TRUE(enabled(kHideAll));
}

TEST_F(SettingsWindowTest, TheAnalyticsRowOpensTheSheetAndFollowsTheChoice) {
  coordinator->show();
  EXPECT_NE(host()->find("Automatic"), nullptr);
  EXPECT_EQ(sheet(), nullptr);
  ASSERT_TRUE(host()->click("Change..."));
  auto s = sheet();
  ASSERT_NE(s, nullptr);
  auto sheetHost = s->contentHost();
  sheetHost->layoutIfNeeded();
  // The stored (registered) mode is selected.
  const ui::Node* picker = sheetHost->root()->findFirst([](const ui::Node& n) { return n.kind == ui::NodeKind::picker; });
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(picker->el().intBinding->get(), 2);

  ASSERT_TRUE(sheetHost->click("Manual Reporting Only"));
  EXPECT_EQ(defaults().defaults().integerForKey(k::analyticsMode), 0);
  EXPECT_NE(host()->find("Manual"), nullptr);
  EXPECT_EQ(host()->find("Automatic"), nullptr);
  EXPECT_EQ(sheet(), s);  // still open

  ASSERT_TRUE(sheetHost->click("Minimal Analytics"));
  EXPECT_EQ(defaults().analyticsMode(), Mode::minimalAnalytics);
  // Return closes the sheet, like "Close"; the choice stays.
  EXPECT_TRUE(appkit::WindowList::dispatchKeyDown(ui::Key::returnKey));
  EXPECT_EQ(sheet(), nullptr);
  EXPECT_EQ(defaults().analyticsMode(), Mode::minimalAnalytics);
  EXPECT_NE(host()->find("Minimal"), nullptr);

  ASSERT_TRUE(host()->click("Change..."));
  ASSERT_NE(sheet(), nullptr);
  ASSERT_TRUE(sheet()->contentHost()->click("Close"));
  EXPECT_EQ(sheet(), nullptr);
}

TEST_F(SettingsWindowTest, TheFormIsLaidOutOnTheGrid) {
  coordinator->show();
  auto h = host();
  EXPECT_DOUBLE_EQ(h->size().width, 700);
  EXPECT_GE(h->size().height, 600);
  // Every row, down to the last toggle, lies inside the window's content.
  EXPECT_LE(h->frameOf("Open at Startup")->maxY() + 40, h->size().height + 0.01);
  EXPECT_DOUBLE_EQ(window()->contentRect().size.height, h->size().height);
  // Labels end at the column's edge, controls start after it.
  for (const char* label : {"Dock Previews:", "Window Snapping:", "Morvalent Icon:", "Analytics:", "Updates:"}) {
    auto f = h->frameOf(label);
    ASSERT_TRUE(f.has_value()) << label;
    EXPECT_DOUBLE_EQ(f->maxX(), 40 + 150) << label;
  }
  const double column = h->frameOf("Enabled")->x;
  EXPECT_DOUBLE_EQ(column, 40 + 150 + 8);
  // Row 6's label is a single space: its toggle stands in the same column.
  EXPECT_DOUBLE_EQ(h->frameOf("Open at Startup")->x, column);
  EXPECT_GT(h->frameOf("Open at Startup")->y, h->frameOf("Automatically check for updates")->y);
  // The Finder toggle's two-line label wraps inside the window.
  auto finder = h->frameOf(kFinder);
  ASSERT_TRUE(finder.has_value());
  EXPECT_LE(finder->maxX(), 700);
  EXPECT_GT(finder->height, 2 * 13);
  // The analytics row: the short name beside its button.
  auto name = h->frameOf("Automatic");
  auto change = h->frameOf("Change...");
  ASSERT_TRUE(name && change);
  EXPECT_LT(name->maxX(), change->x);
  EXPECT_NEAR(name->midY(), change->midY(), 0.5);
}

TEST(AnalyticsModeSheet, OffersTheThreeModesTopToBottomWithinSixHundredPoints) {
  ns::test::ScopedStandardDefaults defaults;
  MorvalentDefaults::standard().registerDefaults();
  ui::State<bool> showing{true};
  auto host = ui::Host::make(ui::View(AnalyticsModeView(showing.binding(), analyticsModeStorage(Mode::automaticAnalytics))));
  host->layoutIfNeeded();
  EXPECT_DOUBLE_EQ(host->size().width, 600);
  auto automatic = host->frameOf("Automatic Analytics");
  auto minimal = host->frameOf("Minimal Analytics");
  auto manual = host->frameOf("Manual Reporting Only");
  ASSERT_TRUE(automatic && minimal && manual);
  EXPECT_LT(automatic->y, minimal->y);
  EXPECT_LT(minimal->y, manual->y);
  auto explanation = host->frameOf(analyticsModeExplanation(Mode::automaticAnalytics));
  ASSERT_TRUE(explanation.has_value());
  EXPECT_LE(explanation->maxX(), 600 - 20);
  EXPECT_EQ(analyticsModeExplanation(Mode::manualReportingOnly),
            "No analytics are collected. You will given the option to submit crash reports.");
  ASSERT_TRUE(host->click("Close"));
  EXPECT_FALSE(showing.get());
}

TEST(AnalyticsModeSheet, AStoredValueThatIsNoModeReadsAsTheFallback) {
  ns::test::ScopedStandardDefaults defaults;
  defaults->setInteger(k::analyticsMode, 9);
  EXPECT_EQ(analyticsModeStorage(Mode::minimalAnalytics).get(), Mode::minimalAnalytics);
  defaults->setObject(k::analyticsMode, ns::Value("2"));
  EXPECT_EQ(analyticsModeStorage(Mode::minimalAnalytics).get(), Mode::minimalAnalytics);
  defaults->setInteger(k::analyticsMode, 0);
  EXPECT_EQ(analyticsModeStorage(Mode::minimalAnalytics).get(), Mode::manualReportingOnly);
}
