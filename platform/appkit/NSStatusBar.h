#pragma once
// The status bar and its items. A click on an item's button opens its menu
// when it has one (pick an item with NSMenu::performActionForItemAtIndex),
// otherwise runs the button's action.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSMenu.h"
#include "platform/image/Image.h"

namespace appkit {

inline constexpr double NSVariableStatusItemLength = -1;
inline constexpr double NSSquareStatusItemLength = -2;

class NSStatusItem;

class NSStatusBarButton {
 public:
  const std::string& title() const { return title_; }
  void setTitle(std::string t) { title_ = std::move(t); }
  // A symbol image by name, or a bitmap image.
  const std::string& symbolName() const { return symbolName_; }
  void setSymbolName(std::string name) { symbolName_ = std::move(name); }
  const std::optional<img::Image>& image() const { return image_; }
  void setImage(std::optional<img::Image> image) { image_ = std::move(image); }
  const std::string& toolTip() const { return toolTip_; }
  void setToolTip(std::string t) { toolTip_ = std::move(t); }
  void setAction(std::function<void()> action) { action_ = std::move(action); }

  // A click as the user makes it.
  void performClick();

 private:
  friend class NSStatusItem;
  friend class NSStatusBar;
  std::string title_;
  std::string symbolName_;
  std::optional<img::Image> image_;
  std::string toolTip_;
  std::function<void()> action_;
  std::weak_ptr<NSStatusItem> item_;
};

class NSStatusItem : public std::enable_shared_from_this<NSStatusItem> {
 public:
  double length() const { return length_; }
  void setLength(double l) { length_ = l; }
  NSStatusBarButton& button() { return button_; }
  std::shared_ptr<NSMenu> menu() const { return menu_; }
  void setMenu(std::shared_ptr<NSMenu> menu) { menu_ = std::move(menu); }
  bool isVisible() const { return visible_; }
  void setVisible(bool v) { visible_ = v; }

 private:
  friend class NSStatusBar;
  explicit NSStatusItem(double length) : length_(length) {}
  double length_;
  NSStatusBarButton button_;
  std::shared_ptr<NSMenu> menu_;
  bool visible_ = true;
};

class NSStatusBar {
 public:
  static NSStatusBar& systemStatusBar();
  std::shared_ptr<NSStatusItem> statusItemWithLength(double length);
  void removeStatusItem(const std::shared_ptr<NSStatusItem>& item);
  // The items in the bar, in the order they were added.
  const std::vector<std::shared_ptr<NSStatusItem>>& statusItems() const { return items_; }
  double thickness() const { return 24; }
  void removeAllForTesting() { items_.clear(); }

 private:
  NSStatusBar() = default;
  std::vector<std::shared_ptr<NSStatusItem>> items_;
};

}  // namespace appkit
