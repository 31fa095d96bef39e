#include "platform/appkit/NSMenu.h"

#include <algorithm>

namespace appkit {

std::shared_ptr<NSMenuItem> NSMenuItem::make(std::string title, Action action, std::string keyEquivalent) {
  std::shared_ptr<NSMenuItem> item(new NSMenuItem());
  item->title_ = std::move(title);
  item->action_ = std::move(action);
  item->keyEquivalent_ = std::move(keyEquivalent);
  return item;
}

std::shared_ptr<NSMenuItem> NSMenuItem::separatorItem() {
  std::shared_ptr<NSMenuItem> item(new NSMenuItem());
  item->separator_ = true;
  item->enabled_ = false;
  return item;
}

void NSMenuItem::setSubmenu(std::shared_ptr<NSMenu> m) { submenu_ = std::move(m); }

bool NSMenuItem::performAction() {
  if (!enabled_ || hidden_ || separator_ || !action_) return false;
  auto self = shared_from_this();
  auto action = action_;
  action(*self);
  return true;
}

std::shared_ptr<NSMenu> NSMenu::make(std::string title) {
  std::shared_ptr<NSMenu> menu(new NSMenu());
  menu->title_ = std::move(title);
  return menu;
}

void NSMenu::addItem(std::shared_ptr<NSMenuItem> item) { insertItem(std::move(item), numberOfItems()); }

std::shared_ptr<NSMenuItem> NSMenu::addItemWithTitle(std::string title, NSMenuItem::Action action,
                                                     std::string keyEquivalent) {
  auto item = NSMenuItem::make(std::move(title), std::move(action), std::move(keyEquivalent));
  addItem(item);
  return item;
}

void NSMenu::insertItem(std::shared_ptr<NSMenuItem> item, long index) {
  if (!item) return;
  // An item belongs to one menu at a time.
  if (auto owner = item->menu()) owner->removeItem(item);
  index = std::clamp(index, 0L, numberOfItems());
  item->menu_ = weak_from_this();
  items_.insert(items_.begin() + index, std::move(item));
}

void NSMenu::removeItem(const std::shared_ptr<NSMenuItem>& item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  (*it)->menu_.reset();
  items_.erase(it);
}

void NSMenu::removeItemAtIndex(long index) {
  if (index < 0 || index >= numberOfItems()) return;
  removeItem(items_[static_cast<std::size_t>(index)]);
}

void NSMenu::removeAllItems() {
  for (auto& i : items_) i->menu_.reset();
  items_.clear();
}

std::shared_ptr<NSMenuItem> NSMenu::itemAtIndex(long index) const {
  if (index < 0 || index >= numberOfItems()) return nullptr;
  return items_[static_cast<std::size_t>(index)];
}

std::shared_ptr<NSMenuItem> NSMenu::itemWithTitle(const std::string& title) const {
  for (const auto& i : items_) {
    if (i->title() == title) return i;
  }
  return nullptr;
}

std::shared_ptr<NSMenuItem> NSMenu::itemWithTag(long tag) const {
  for (const auto& i : items_) {
    if (i->tag() == tag) return i;
  }
  return nullptr;
}

long NSMenu::indexOfItem(const std::shared_ptr<NSMenuItem>& item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<long>(it - items_.begin());
}

long NSMenu::indexOfItemWithTitle(const std::string& title) const { return indexOfItem(itemWithTitle(title)); }

void NSMenu::open() {
  if (open_) return;
  if (auto d = delegate()) {
    d->menuNeedsUpdate(*this);
    d->menuWillOpen(*this);
  }
  open_ = true;
}

void NSMenu::close() {
  if (!open_) return;
  open_ = false;
  if (auto d = delegate()) d->menuDidClose(*this);
}

bool NSMenu::performActionForItemAtIndex(long index) {
  auto self = shared_from_this();
  auto item = itemAtIndex(index);
  close();
  return item && item->performAction();
}

}  // namespace appkit
