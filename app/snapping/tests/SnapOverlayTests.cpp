#include <gtest/gtest.h>

#include "app/snapping/SnapPreviewView.h"
#include "app/snapping/SnapPreviewWindowController.h"
#include "app/snapping/tests/SnapTestSupport.h"
#include "platform/appkit/NSColor.h"

namespace {

using namespace snaptest;

TEST_F(SnapTest, TheOverlayWindowIsBuiltOnceAndReused) {
  EXPECT_FALSE(overlayOwner->window());
  auto window = overlayOwner->overlayWindow();
  ASSERT_TRUE(window);
  EXPECT_EQ(overlayOwner->overlayWindow(), window);
  EXPECT_EQ(controller->overlayWindow(), window);

  EXPECT_EQ(window->styleMask(), appkit::NSWindowStyleMaskBorderless);
  EXPECT_EQ(window->level(), 101);
  EXPECT_EQ(window->collectionBehavior(), 257u);
  EXPECT_EQ(window->alphaValue(), 1.0);
  EXPECT_FALSE(window->isOpaque());
  EXPECT_EQ(window->backgroundColor(), ui::Color::clear().toNS());
  EXPECT_FALSE(window->isReleasedWhenClosed());
  EXPECT_FALSE(window->isVisible());

  // Shown, closed and shown again: the same window.
  controller->snapMode = SnapController::SnapMode::snap(windowElement(kMail, kInbox),
                                                        {SnapAlignment::maximized, screen(1)}, {});
  controller->updateSnapPreview();
  EXPECT_TRUE(window->isVisible());
  window->close();
  controller->snapMode = SnapController::SnapMode::snap(windowElement(kMail, kInbox),
                                                        {SnapAlignment::left, screen(1)}, {});
  controller->updateSnapPreview();
  EXPECT_EQ(overlayOwner->window(), window);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(overlayFrame(), CGRect(1440, 25, 960, 1055));
  EXPECT_EQ(appkit::WindowList::visibleWindows().front().window, window);  // level 101 is above the rest
}

TEST_F(SnapTest, TheOverlayIsTheAccentColourWithABorder) {
  auto window = overlayOwner->overlayWindow();
  window->setFrame(appkit::NSMakeRect(0, 0, 200, 100), true);
  window->orderBack();
  auto bitmap = window->renderContent();
  ASSERT_TRUE(bitmap);
  ASSERT_EQ(bitmap->pixelsWide(), 200);
  const ui::Color accent = ui::Color::fromNS(appkit::controlAccentColor());
  const img::Pixel inside = bitmap->pixel(100, 50);
  EXPECT_NEAR(inside.a, 0.4 * 255, 2);
  EXPECT_NEAR(inside.b, accent.b * 255, 2);
  EXPECT_NEAR(inside.r, accent.r * 255, 2);
  // The border: the fill under the 0.8 stroke, a little more opaque.
  const img::Pixel edge = bitmap->pixel(100, 0);
  EXPECT_GT(edge.a, inside.a);
  // The corners are rounded off.
  EXPECT_EQ(bitmap->pixel(0, 0).a, 0);
}

}  // namespace
