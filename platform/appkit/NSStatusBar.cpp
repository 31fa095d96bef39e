#include "platform/appkit/NSStatusBar.h"

#include <algorithm>

namespace appkit {

void NSStatusBarButton::performClick() {
  auto item = item_.lock();
  if (item && item->menu()) {
    item->menu()->open();
    return;
  }
  if (auto action = action_) action();
}

NSStatusBar& NSStatusBar::systemStatusBar() {
  static NSStatusBar* bar = new NSStatusBar();
  return *bar;
}

std::shared_ptr<NSStatusItem> NSStatusBar::statusItemWithLength(double length) {
  std::shared_ptr<NSStatusItem> item(new NSStatusItem(length));
  item->button_.item_ = item;
  items_.push_back(item);
  return item;
}

void NSStatusBar::removeStatusItem(const std::shared_ptr<NSStatusItem>& item) {
  auto keep = item;  // the argument may be an element of the list itself
  std::erase(items_, keep);
}

}  // namespace appkit
