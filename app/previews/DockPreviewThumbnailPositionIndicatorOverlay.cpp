#include "app/previews/DockPreviewThumbnailPositionIndicatorOverlay.h"

#include <vector>

namespace {

ui::View glyph(const char* name, double size) {
  return ui::SystemImage(name).font(ui::Font::system(size, ui::FontWeight::bold));
}

}  // namespace

ui::View DockPreviewThumbnailPositionIndicatorOverlay::body() const {
  using ScreenDisplayMode = DockPreviewThumbnailContent::ScreenDisplayMode;
  using SpaceDisplayMode = DockPreviewThumbnailContent::SpaceDisplayMode;

  ui::View badge;
  if (thumbnailContent.screenDisplayMode != ScreenDisplayMode::current) {
    std::vector<ui::View> glyphs;
    if (thumbnailContent.screenDisplayMode == ScreenDisplayMode::right) glyphs.push_back(glyph("chevron.right", 15));
    glyphs.push_back(glyph("display", 20));
    if (thumbnailContent.screenDisplayMode == ScreenDisplayMode::left) glyphs.push_back(glyph("chevron.left", 15));
    badge = ui::HStack(ui::VerticalAlignment::center, std::nullopt, std::move(glyphs));
  } else if (thumbnailContent.spaceDisplayMode != SpaceDisplayMode::normal) {
    badge = glyph("arrow.left.arrow.right.square.fill", 25);
  } else {
    return ui::EmptyView();
  }
  const ui::Color background =
      highlighted ? ui::Color::controlAccentColor().opacity(0.6) : ui::Color::black().opacity(0.5);
  return badge.foregroundColor(ui::Color::white())
      .opacity(1.0)
      .padding(10)
      .background(ui::View(background))
      .clipped()
      .clipShape(ui::Shape::roundedRectangle(5, ui::RoundedCornerStyle::continuous));
}
