#include "app/previews/DockPreviewThumbnailLabel.h"

#include <string>
#include <vector>

namespace {

ui::View badgeSymbol(const std::string& name, double size) {
  return ui::SystemImage(name)
      .font(ui::Font::system(size, ui::FontWeight::bold))
      .foregroundColor(ui::Color::labelColor());
}

}  // namespace

ui::View DockPreviewThumbnailLabel::body() const {
  using ScreenDisplayMode = DockPreviewThumbnailContent::ScreenDisplayMode;
  using SpaceDisplayMode = DockPreviewThumbnailContent::SpaceDisplayMode;

  std::vector<ui::View> children;
  switch (thumbnailContent.screenDisplayMode) {
    case ScreenDisplayMode::current:
      // Another display always wins over another Space, so the Space badge
      // shows only on the current display.
      if (thumbnailContent.spaceDisplayMode != SpaceDisplayMode::normal) {
        children.push_back(badgeSymbol("arrow.left.arrow.right.square.fill", 14));
      }
      break;
    case ScreenDisplayMode::left:
      children.push_back(badgeSymbol("display", 10));
      children.push_back(badgeSymbol("chevron.left", 10));
      break;
    case ScreenDisplayMode::right:
      children.push_back(badgeSymbol("chevron.right", 10));
      children.push_back(badgeSymbol("display", 10));
      break;
  }
  if (!thumbnailContent.title.empty()) {
    children.push_back(ui::Text(thumbnailContent.title)
                           .lineLimit(1)
                           .truncationMode(ui::TruncationMode::tail)
                           .foregroundColor(ui::Color::labelColor())
                           .font(ui::Font::system(11))
                           .opacity(0.8));
  }
  return ui::HStack(ui::VerticalAlignment::center, 4, std::move(children));
}
