#include <gtest/gtest.h>

#include <unordered_set>

#include "app/previews/DockPreviewContent.h"
#include "app/previews/tests/PreviewTestSupport.h"

namespace {

using ButtonAction = DockPreviewThumbnailContent::ButtonAction;
using ScreenDisplayMode = DockPreviewThumbnailContent::ScreenDisplayMode;
using SpaceDisplayMode = DockPreviewThumbnailContent::SpaceDisplayMode;

std::shared_ptr<appkit::NSScreen> screen(std::uint32_t id, double x) {
  return std::make_shared<appkit::NSScreen>(id, CGRect(x, 0, 1440, 900), CGRect(x, 0, 1440, 875), 1.0,
                                            "Display " + std::to_string(id), true);
}

}  // namespace

TEST(ButtonAction, SnapActionsDifferByDisplayAndCase) {
  auto a = screen(1, 0), b = screen(2, 1440);
  EXPECT_EQ(ButtonAction::snap(SnapAlignment::left, a), ButtonAction::snap(SnapAlignment::left, a));
  EXPECT_NE(ButtonAction::snap(SnapAlignment::left, a), ButtonAction::snap(SnapAlignment::left, b));
  EXPECT_NE(ButtonAction::snap(SnapAlignment::left, a).hashValue(), ButtonAction::snap(SnapAlignment::left, b).hashValue());
  EXPECT_NE(ButtonAction::snap(SnapAlignment::left, a), ButtonAction::snap(SnapAlignment::right, a));
  // A snap and a move to the same display are never equal.
  EXPECT_NE(ButtonAction::snap(SnapAlignment::maximized, a), ButtonAction::screen(a));
  EXPECT_NE(ButtonAction::snap(SnapAlignment::maximized, a).hashValue(), ButtonAction::screen(a).hashValue());
  EXPECT_NE(ButtonAction::screen(a), ButtonAction::close());
  EXPECT_EQ(ButtonAction::screen(b), ButtonAction::screen(b));
  EXPECT_NE(ButtonAction::screen(a), ButtonAction::screen(b));
}

TEST(ButtonAction, ScreensCompareAsObjects) {
  // Two screen objects describing the same display are still two displays
  // to the buttons: identity decides.
  auto a = screen(1, 0), sameDisplay = screen(1, 0);
  EXPECT_NE(ButtonAction::screen(a), ButtonAction::screen(sameDisplay));
}

TEST(ButtonAction, CloseValuesAreEqualAndHashAlike) {
  EXPECT_EQ(ButtonAction::close(), ButtonAction::close());
  EXPECT_EQ(ButtonAction::close().hashValue(), ButtonAction::close().hashValue());
  EXPECT_TRUE(ButtonAction::close().isClose());
  EXPECT_EQ(ButtonAction::close().asSnap(), nullptr);
}

TEST(ButtonAction, HashesIdentifyTheBarsButtons) {
  auto a = screen(1, 0), b = screen(2, 1440);
  std::unordered_set<ButtonAction> set = {ButtonAction::screen(a), ButtonAction::snap(SnapAlignment::left, b),
                                          ButtonAction::snap(SnapAlignment::maximized, b),
                                          ButtonAction::snap(SnapAlignment::right, b)};
  EXPECT_EQ(set.size(), 4u);
  EXPECT_EQ(set.count(ButtonAction::snap(SnapAlignment::maximized, b)), 1u);
  EXPECT_EQ(set.count(ButtonAction::snap(SnapAlignment::maximized, a)), 0u);
}

TEST(DisplayModes, TextsAreTheCaseNames) {
  EXPECT_STREQ(toString(ScreenDisplayMode::current), "current");
  EXPECT_STREQ(toString(ScreenDisplayMode::left), "left");
  EXPECT_STREQ(toString(ScreenDisplayMode::right), "right");
  EXPECT_STREQ(toString(SpaceDisplayMode::normal), "normal");
  EXPECT_STREQ(toString(SpaceDisplayMode::otherSpace), "otherSpace");
  EXPECT_STREQ(toString(SpaceDisplayMode::fullscreen), "fullscreen");
  EXPECT_NE(std::hash<SpaceDisplayMode>{}(SpaceDisplayMode::normal), std::hash<SpaceDisplayMode>{}(SpaceDisplayMode::fullscreen));
}

TEST(ThumbnailContent, ThumbnailsAreToldApartByTheirElements) {
  auto a = previewtest::thumbnail(1, "A");
  auto retitled = previewtest::thumbnail(1, "A, renamed");
  auto b = previewtest::thumbnail(2, "A");
  EXPECT_TRUE(a.isSameThumbnail(retitled));
  EXPECT_FALSE(a.isSameThumbnail(b));
}
