#pragma once
// Menus and menu items. Tests and the demo pick items with
// performActionForItemAtIndex() or NSMenuItem::performAction().

#include <any>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace appkit {

class NSMenu;

enum NSControlStateValue : int { NSControlStateValueMixed = -1, NSControlStateValueOff = 0, NSControlStateValueOn = 1 };

class NSMenuItem : public std::enable_shared_from_this<NSMenuItem> {
 public:
  using Action = std::function<void(NSMenuItem&)>;

  static std::shared_ptr<NSMenuItem> make(std::string title, Action action = {}, std::string keyEquivalent = "");
  static std::shared_ptr<NSMenuItem> separatorItem();

  const std::string& title() const { return title_; }
  void setTitle(std::string t) { title_ = std::move(t); }
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(std::string k) { keyEquivalent_ = std::move(k); }
  const Action& action() const { return action_; }
  void setAction(Action a) { action_ = std::move(a); }
  long tag() const { return tag_; }
  void setTag(long t) { tag_ = t; }
  NSControlStateValue state() const { return state_; }
  void setState(NSControlStateValue s) { state_ = s; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool e) { enabled_ = e; }
  bool isHidden() const { return hidden_; }
  void setHidden(bool h) { hidden_ = h; }
  bool isSeparatorItem() const { return separator_; }
  const std::any& representedObject() const { return representedObject_; }
  void setRepresentedObject(std::any o) { representedObject_ = std::move(o); }
  std::shared_ptr<NSMenu> submenu() const { return submenu_; }
  void setSubmenu(std::shared_ptr<NSMenu> m);
  std::shared_ptr<NSMenu> menu() const { return menu_.lock(); }

  // Runs the action when the item is enabled, visible and has one; returns whether it ran.
  bool performAction();

 private:
  friend class NSMenu;
  NSMenuItem() = default;
  std::string title_;
  std::string keyEquivalent_;
  Action action_;
  long tag_ = 0;
  NSControlStateValue state_ = NSControlStateValueOff;
  bool enabled_ = true;
  bool hidden_ = false;
  bool separator_ = false;
  std::any representedObject_;
  std::shared_ptr<NSMenu> submenu_;
  std::weak_ptr<NSMenu> menu_;
};

class NSMenuDelegate {
 public:
  virtual ~NSMenuDelegate() = default;
  virtual void menuNeedsUpdate(NSMenu&) {}
  virtual void menuWillOpen(NSMenu&) {}
  virtual void menuDidClose(NSMenu&) {}
};

class NSMenu : public std::enable_shared_from_this<NSMenu> {
 public:
  static std::shared_ptr<NSMenu> make(std::string title = "");

  const std::string& title() const { return title_; }
  void setTitle(std::string t) { title_ = std::move(t); }
  const std::vector<std::shared_ptr<NSMenuItem>>& items() const { return items_; }
  long numberOfItems() const { return static_cast<long>(items_.size()); }

  void addItem(std::shared_ptr<NSMenuItem> item);
  std::shared_ptr<NSMenuItem> addItemWithTitle(std::string title, NSMenuItem::Action action,
                                               std::string keyEquivalent = "");
  void insertItem(std::shared_ptr<NSMenuItem> item, long index);
  void removeItem(const std::shared_ptr<NSMenuItem>& item);
  void removeItemAtIndex(long index);
  void removeAllItems();
  std::shared_ptr<NSMenuItem> itemAtIndex(long index) const;
  std::shared_ptr<NSMenuItem> itemWithTitle(const std::string& title) const;
  std::shared_ptr<NSMenuItem> itemWithTag(long tag) const;
  // -1 when the item is not in the menu.
  long indexOfItem(const std::shared_ptr<NSMenuItem>& item) const;
  long indexOfItemWithTitle(const std::string& title) const;

  std::shared_ptr<NSMenuDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<NSMenuDelegate> d) { delegate_ = std::move(d); }

  // Opening as the user would: menuNeedsUpdate, menuWillOpen; closing: menuDidClose.
  void open();
  void close();
  bool isOpen() const { return open_; }
  // Chooses an item as the user would: closes the menu, then runs the item's
  // action when it is enabled. Returns whether an action ran.
  bool performActionForItemAtIndex(long index);

 private:
  NSMenu() = default;
  std::string title_;
  std::vector<std::shared_ptr<NSMenuItem>> items_;
  std::weak_ptr<NSMenuDelegate> delegate_;
  bool open_ = false;
};

}  // namespace appkit
