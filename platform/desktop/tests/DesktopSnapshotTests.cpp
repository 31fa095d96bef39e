#include <gtest/gtest.h>

#include "platform/appkit/NSWindow.h"
#include "platform/desktop/DesktopSnapshot.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/TestSupport.h"
#include "platform/image/PNG.h"
#include "platform/sim/World.h"
#include "platform/ui/View.h"

namespace {

class DesktopSnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world.reset();
    sim::DisplaySpec display;
    display.name = "Main";
    display.frame = CGRect(0, 0, 800, 600);
    mainDisplay = world.addDisplay(display);
    sim::ApplicationSpec app;
    app.bundleIdentifier = "com.example.Notes";
    app.name = "Notes";
    sim::WindowSpec window;
    window.title = "Groceries";
    window.frame = CGRect(100, 100, 300, 200);  // top-left
    window.color = img::Pixel{200, 30, 40, 255};
    app.windows.push_back(window);
    pid = world.launchApplication(app);
  }
  void TearDown() override { world.reset(); }

  static img::Pixel at(const img::Bitmap& b, int x, int y) { return b.pixel(x, y); }

  dispatch::VirtualClockScope clock;
  sim::World& world = sim::World::shared();
  sim::DisplayID mainDisplay = 0;
  pid_t pid = 0;
};

}  // namespace

TEST_F(DesktopSnapshotTest, WindowsAreDrawnWhereTheyStandWithTheirColour) {
  const auto picture = desktop::snapshot();
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->pixelsWide(), 800);
  EXPECT_EQ(picture->pixelsHigh(), 600);
  // Top-left (250, 250) is inside the window's content, below its title bar.
  EXPECT_EQ(at(*picture, 250, 250), (img::Pixel{200, 30, 40, 255}));
  // Outside it the wallpaper shows.
  EXPECT_NE(at(*picture, 50, 400), (img::Pixel{200, 30, 40, 255}));
  // The title bar is light.
  const img::Pixel bar = at(*picture, 380, 108);
  EXPECT_GT(bar.r, 200);
  EXPECT_GT(bar.g, 200);
  // As tall as the one the desktop grabs windows by.
  const int contentTop = 100 + static_cast<int>(sim::kTitleBarHeight);
  EXPECT_GT(at(*picture, 380, contentTop - 1).g, 200);
  EXPECT_EQ(at(*picture, 380, contentTop), (img::Pixel{200, 30, 40, 255}));
}

TEST_F(DesktopSnapshotTest, WindowsOffTheCurrentSpaceOrMinimizedAreNotDrawn) {
  const auto app = world.application(pid);
  ASSERT_TRUE(app);
  ASSERT_EQ(app->windows.size(), 1u);
  world.setWindowMinimized(app->windows.front(), true);
  const auto picture = desktop::snapshot();
  ASSERT_TRUE(picture);
  EXPECT_NE(at(*picture, 250, 250), (img::Pixel{200, 30, 40, 255}));
}

TEST_F(DesktopSnapshotTest, OwnWindowsAreDrawnOnTopWithTheirContent) {
  // A window of ours over the other application's window, filled green.
  auto window = appkit::NSWindow::make(CGRect(200, 250, 100, 100), 0);
  window->setContentView(appkit::NSHostingView::make(ui::Color(0, 1, 0)));
  window->orderFront();
  const auto picture = desktop::snapshot();
  window->orderOut();
  ASSERT_TRUE(picture);
  // Bottom-left (250, 300) is top-left (250, 300) on a 600-point display.
  EXPECT_EQ(at(*picture, 250, 300), (img::Pixel{0, 255, 0, 255}));
}

TEST_F(DesktopSnapshotTest, ScaleMultipliesThePixels) {
  const auto picture = desktop::snapshot(2.0);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->pixelsWide(), 1600);
  EXPECT_EQ(at(*picture, 500, 500), (img::Pixel{200, 30, 40, 255}));
}

TEST_F(DesktopSnapshotTest, NothingWithoutDisplaysOrWithABadScale) {
  EXPECT_FALSE(desktop::snapshot(0));
  EXPECT_FALSE(desktop::snapshot(-1));
  world.reset();
  EXPECT_FALSE(desktop::snapshot());
}

TEST_F(DesktopSnapshotTest, WritesAPngThatReadsBack) {
  ns::test::TemporaryDirectory dir;
  const std::string path = dir.path() + "/desktop.png";
  ASSERT_TRUE(desktop::writeSnapshotPNG(path));
  const auto loaded = img::loadPNG(path);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->pixelsWide(), 800);
}
