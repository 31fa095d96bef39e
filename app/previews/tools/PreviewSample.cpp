// The "preview" sample of morvalent-render: the preview panel of an
// application with four windows (one on another Space, one on the display to
// the right), the pointer resting on the second thumbnail.

#include <memory>
#include <string>
#include <vector>

#include "app/previews/DockPreviewContent.h"
#include "app/previews/DockPreviewView.h"
#include "app/previews/DockPreviewViewDelegate.h"
#include "platform/accessibility/AXUIElement.h"
#include "platform/image/Bitmap.h"
#include "platform/ui/Host.h"
#include "platform/ui/tools/Samples.h"

namespace {

using ButtonAction = DockPreviewThumbnailContent::ButtonAction;

// A window capture stand-in: a title bar with its three buttons over a page
// of text lines, drawn at a quarter of the window's size in points.
img::Image windowCapture(int width, int height, img::Pixel accent) {
  const int w = width / 4, h = height / 4;
  auto bitmap = img::Bitmap::filled(w, h, img::Pixel{252, 252, 252, 255});
  const int bar = 7;
  bitmap->fillRect(0, 0, w, bar, img::Pixel{230, 230, 232, 255});
  const img::Pixel lights[] = {{255, 95, 87, 255}, {254, 188, 46, 255}, {40, 200, 64, 255}};
  for (int i = 0; i < 3; ++i) bitmap->fillRect(4 + i * 6, 2, 8 + i * 6, 5, lights[i]);
  bitmap->fillRect(0, bar, w / 4, h, img::Pixel{240, 240, 244, 255});
  for (int y = bar + 6, row = 0; y + 2 < h - 4; y += 7, ++row) {
    const int end = w / 4 + 8 + (w * 3 / 4 - 20) * (5 + (row * 7) % 5) / 10;
    bitmap->fillRect(w / 4 + 8, y, end, y + 2, row % 4 == 0 ? accent : img::Pixel{170, 170, 178, 255});
    bitmap->fillRect(6, y, w / 4 - 6, y + 2, img::Pixel{200, 200, 208, 255});
  }
  auto image = img::Image::withBitmap(std::move(*bitmap));
  image.setSize(img::Size{static_cast<double>(width), static_cast<double>(height)});
  return image;
}

DockPreviewThumbnailContent thumbnail(std::uint64_t id, std::string title, img::Image capture,
                                      DockPreviewThumbnailContent::SpaceDisplayMode space,
                                      DockPreviewThumbnailContent::ScreenDisplayMode screen,
                                      std::vector<ButtonAction> actions) {
  auto element = std::make_shared<ax::AXUIElement>(sim::ElementID{501, sim::ElementKind::Window, id});
  return DockPreviewThumbnailContent{AXUIElementWrapper(element),
                                     std::move(title),
                                     std::move(capture),
                                     space,
                                     ScreenSummary{},
                                     screen,
                                     "1",
                                     id == 1,
                                     false,
                                     std::move(actions),
                                     true};
}

ui::View preview() {
  using Space = DockPreviewThumbnailContent::SpaceDisplayMode;
  using Screen = DockPreviewThumbnailContent::ScreenDisplayMode;
  const std::vector<ButtonAction> snaps = {ButtonAction::snap(SnapAlignment::left, nullptr),
                                           ButtonAction::snap(SnapAlignment::maximized, nullptr),
                                           ButtonAction::snap(SnapAlignment::right, nullptr)};
  DockPreviewContent content;
  content.title = "Mail";
  content.windows = {
      thumbnail(1, "Inbox — 3 unread", windowCapture(1280, 800, {0, 122, 255, 255}), Space::normal, Screen::current,
                snaps),
      thumbnail(2, "Re: Quarterly plan", windowCapture(900, 700, {52, 199, 89, 255}), Space::normal, Screen::current,
                snaps),
      thumbnail(3, "Drafts", windowCapture(1024, 768, {255, 149, 0, 255}), Space::otherSpace, Screen::current, {}),
      thumbnail(4, "A message with a subject far too long for its thumbnail", windowCapture(1440, 900, {175, 82, 222, 255}),
                Space::normal, Screen::right, snaps),
  };
  content.numberOfColumns = 4;
  auto container = std::make_shared<DockPreviewContentContainer>(std::move(content));
  auto delegate = std::make_shared<DockPreviewViewDelegateContainer>();
  return ui::View(DockPreviewView{}).environmentObject(container).environmentObject(delegate);
}

// The pointer on the second thumbnail: its ring, badge-free label and buttons.
void hoverSecondThumbnail(ui::Host& host) {
  host.layoutIfNeeded();
  const ui::Node* second = nullptr;
  int seen = 0;
  host.root()->findFirst([&](const ui::Node& n) {
    if (n.typeName == "DockPreviewThumbnailView" && ++seen == 2) second = &n;
    return second != nullptr;
  });
  if (!second) return;
  host.mouseMoved({second->frame.midX(), second->frame.midY()});
  host.layoutIfNeeded();
}

[[maybe_unused]] const bool registered = ui::samples::add(
    {"preview", "a Dock preview panel of four windows, the second one hovered", std::nullopt, &preview,
     &hoverSecondThumbnail});

}  // namespace
