#include "platform/appkit/NSViewController.h"

#include <cxxabi.h>

#include <cstdlib>
#include <optional>
#include <typeinfo>

namespace appkit {
namespace {

std::optional<NSViewController::AppearanceHook>& hookSlot() {
  static std::optional<NSViewController::AppearanceHook> hook;
  return hook;
}

}  // namespace

std::shared_ptr<NSView> NSViewController::view() {
  if (!view_) {
    loadView();
    if (!view_) view_ = std::make_shared<NSView>();
    viewDidLoad();
  }
  return view_;
}

void NSViewController::loadView() { view_ = std::make_shared<NSView>(); }

bool NSViewController::installAppearanceHook(AppearanceHook hook) {
  if (hookSlot()) return false;
  hookSlot() = std::move(hook);
  return true;
}

void NSViewController::removeAppearanceHookForTesting() { hookSlot().reset(); }

void NSViewController::notifyWillAppear() {
  if (hookSlot() && hookSlot()->willAppear) {
    hookSlot()->willAppear(*this, [this] { viewWillAppear(); });
  } else {
    viewWillAppear();
  }
}

void NSViewController::notifyDidAppear() {
  if (hookSlot() && hookSlot()->didAppear) hookSlot()->didAppear(*this);
  viewDidAppear();
}

void NSViewController::notifyWillDisappear() { viewWillDisappear(); }
void NSViewController::notifyDidDisappear() { viewDidDisappear(); }

std::string NSViewController::className() const {
  int status = 0;
  char* name = abi::__cxa_demangle(typeid(*this).name(), nullptr, nullptr, &status);
  std::string out = status == 0 && name ? name : typeid(*this).name();
  std::free(name);
  auto colon = out.rfind("::");
  return colon == std::string::npos ? out : out.substr(colon + 2);
}

void NSHostingController::setRootView(ui::View rootView) {
  rootView_ = std::move(rootView);
  if (isViewLoaded()) hostingView()->setRootView(rootView_);
}

std::shared_ptr<NSHostingView> NSHostingController::hostingView() {
  return std::static_pointer_cast<NSHostingView>(view());
}

void NSHostingController::loadView() { setView(NSHostingView::make(rootView_)); }

}  // namespace appkit
