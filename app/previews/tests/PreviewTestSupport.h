#pragma once
// Helpers for the preview tests: window elements, captures, thumbnail
// contents, a delegate that records what it is told, and a host running the
// preview view over a content box.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/previews/DockPreviewContent.h"
#include "app/previews/DockPreviewView.h"
#include "app/previews/DockPreviewViewDelegate.h"
#include "platform/accessibility/AXUIElement.h"
#include "platform/image/Bitmap.h"
#include "platform/ui/Host.h"

namespace previewtest {

inline AXUIElementWrapper windowElement(std::uint64_t id, pid_t pid = 501) {
  return AXUIElementWrapper(std::make_shared<ax::AXUIElement>(sim::ElementID{pid, sim::ElementKind::Window, id}));
}

// A capture of one colour, `width` x `height` points over a small bitmap.
inline img::Image capture(double width, double height, img::Pixel pixel = {40, 90, 200, 255}) {
  auto bitmap = img::Bitmap::filled(32, 20, pixel);
  auto image = img::Image::withBitmap(std::move(*bitmap));
  image.setSize(img::Size{width, height});
  return image;
}

inline DockPreviewThumbnailContent thumbnail(
    std::uint64_t id, std::string title,
    std::vector<DockPreviewThumbnailContent::ButtonAction> actions = {},
    DockPreviewThumbnailContent::SpaceDisplayMode space = DockPreviewThumbnailContent::SpaceDisplayMode::normal,
    DockPreviewThumbnailContent::ScreenDisplayMode screen = DockPreviewThumbnailContent::ScreenDisplayMode::current,
    bool closeButtonEnabled = true) {
  return DockPreviewThumbnailContent{windowElement(id), std::move(title), capture(1280, 800), space,
                                     ScreenSummary{},   screen,           "1",                false,
                                     false,             std::move(actions), closeButtonEnabled};
}

inline DockPreviewContent content(std::vector<DockPreviewThumbnailContent> windows, int columns = -1) {
  DockPreviewContent c;
  c.title = "App";
  c.numberOfColumns = columns < 0 ? static_cast<int>(std::min<std::size_t>(windows.size(), 5)) : columns;
  c.windows = std::move(windows);
  return c;
}

class RecordingDelegate : public DockPreviewViewDelegate {
 public:
  std::vector<std::string> calls;

  static std::string describe(const std::shared_ptr<appkit::NSScreen>& screen) {
    return screen ? screen->localizedName() : "none";
  }

  void previewHoverDidChange(bool hovering) override { calls.push_back(std::string("hover ") + (hovering ? "true" : "false")); }
  void didClickOnThumbnail(const DockPreviewThumbnailContent& c) override { calls.push_back("click " + c.title); }
  void didRightClickOnThumbnail(const DockPreviewThumbnailContent& c, bool activate) override {
    calls.push_back("rightClick " + c.title + (activate ? " true" : " false"));
  }
  void didSwipeOnThumbnail(const DockPreviewThumbnailContent& c, std::shared_ptr<appkit::NSScreen> screen,
                           SnapAlignment alignment) override {
    calls.push_back("swipe " + c.title + " " + std::string(rawValue(alignment)) + " " + describe(screen));
  }
  void didHoverOnSnapButton(const DockPreviewThumbnailContent& c, std::shared_ptr<appkit::NSScreen> screen,
                            std::optional<SnapAlignment> alignment) override {
    calls.push_back("snapHover " + c.title + " " + (alignment ? std::string(rawValue(*alignment)) : "none") + " " +
                    describe(screen));
  }
  void didClickOnSnapButton(const DockPreviewThumbnailContent& c, std::shared_ptr<appkit::NSScreen> screen,
                            SnapAlignment alignment) override {
    calls.push_back("snapClick " + c.title + " " + std::string(rawValue(alignment)) + " " + describe(screen));
  }
  void didClickOnCloseButton(const DockPreviewThumbnailContent& c) override { calls.push_back("close " + c.title); }
  void didClickMediaButton(MediaButton button) override {
    calls.push_back(std::string("media ") + (button == MediaButton::back        ? "back"
                                             : button == MediaButton::playPause ? "playPause"
                                                                                : "forward"));
  }

  // The calls so far, emptied.
  std::vector<std::string> take() { return std::exchange(calls, {}); }
};

// The preview view in a host, over a content box and a delegate box.
struct PreviewHarness {
  std::shared_ptr<DockPreviewContentContainer> container = std::make_shared<DockPreviewContentContainer>();
  std::shared_ptr<DockPreviewViewDelegateContainer> delegateContainer =
      std::make_shared<DockPreviewViewDelegateContainer>();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<ui::Host> host;

  explicit PreviewHarness(std::optional<DockPreviewContent> initial = std::nullopt, bool withDelegate = true) {
    container->value = std::move(initial);
    if (withDelegate) {
      delegateContainer->value = std::optional<std::weak_ptr<DockPreviewViewDelegate>>(delegate);
    }
    host = ui::Host::make(ui::View(DockPreviewView{}).environmentObject(container).environmentObject(delegateContainer));
  }

  void set(std::optional<DockPreviewContent> c) {
    container->value = std::move(c);
    host->layoutIfNeeded();
  }

  // The thumbnail views in grid order.
  std::vector<const ui::Node*> thumbnails() {
    std::vector<const ui::Node*> out;
    std::function<void(const ui::Node&)> walk = [&](const ui::Node& n) {
      if (n.typeName == "DockPreviewThumbnailView") out.push_back(&n);
      for (const auto& c : n.children) walk(*c);
    };
    if (host->root()) walk(*host->root());
    return out;
  }
  ui::Rect thumbnailFrame(std::size_t index) {
    auto all = thumbnails();
    return index < all.size() ? all[index]->frame : ui::Rect{};
  }
  void hoverThumbnail(std::size_t index) {
    auto f = thumbnailFrame(index);
    host->mouseMoved({f.midX(), f.midY()});
    host->layoutIfNeeded();
  }
  // Nodes of the given kind and text (symbol name) inside the subtree.
  static std::vector<const ui::Node*> symbols(const ui::Node& root, const std::string& name) {
    std::vector<const ui::Node*> out;
    std::function<void(const ui::Node&)> walk = [&](const ui::Node& n) {
      if (n.kind == ui::NodeKind::symbol && n.text() == name) out.push_back(&n);
      for (const auto& c : n.children) walk(*c);
    };
    walk(root);
    return out;
  }
  std::vector<const ui::Node*> symbols(const std::string& name) { return symbols(*host->root(), name); }
  void moveTo(const ui::Node& node) {
    host->mouseMoved({node.frame.midX(), node.frame.midY()});
    host->layoutIfNeeded();
  }
  void clickOn(const ui::Node& node) {
    host->click(ui::Point{node.frame.midX(), node.frame.midY()});
    host->layoutIfNeeded();
  }
};

}  // namespace previewtest
