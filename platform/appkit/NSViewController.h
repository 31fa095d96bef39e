#pragma once
// View controllers. A controller's view is loaded on first use; the
// appearance calls run when the window that shows the view is ordered front
// (will/did appear) or out (will/did disappear).

#include <functional>
#include <memory>
#include <string>

#include "platform/appkit/NSGeometry.h"
#include "platform/appkit/NSView.h"

namespace appkit {

class NSViewController : public NSResponder, public std::enable_shared_from_this<NSViewController> {
 public:
  ~NSViewController() override = default;

  std::shared_ptr<NSView> view();
  bool isViewLoaded() const { return view_ != nullptr; }
  void setView(std::shared_ptr<NSView> view) { view_ = std::move(view); }

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  NSSize preferredContentSize() const { return preferredContentSize_; }
  void setPreferredContentSize(NSSize s) { preferredContentSize_ = s; }

  // Overridable steps; see the appearance hook below.
  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewWillAppear() {}
  virtual void viewDidAppear() {}
  virtual void viewWillDisappear() {}
  virtual void viewDidDisappear() {}

  // Process-wide observation of every controller's appearance (a page
  // tracker's). Installs once: a second installation is refused (false).
  // `willAppear` takes the place of viewWillAppear, as a replaced method
  // would: it gets the controller's own viewWillAppear to call where it
  // wants. `didAppear` runs before viewDidAppear.
  struct AppearanceHook {
    std::function<void(NSViewController&, const std::function<void()>& viewWillAppear)> willAppear;
    std::function<void(NSViewController&)> didAppear;
  };
  static bool installAppearanceHook(AppearanceHook hook);
  static void removeAppearanceHookForTesting();

  // Called by the window that shows this controller's view.
  void notifyWillAppear();
  void notifyDidAppear();
  void notifyWillDisappear();
  void notifyDidDisappear();

  // The name shown to the appearance hook (the dynamic type by default).
  virtual std::string className() const;

 private:
  std::shared_ptr<NSView> view_;
  std::string title_;
  NSSize preferredContentSize_;
};

// A controller whose view is a hosting view of a ui tree.
class NSHostingController : public NSViewController {
 public:
  explicit NSHostingController(ui::View rootView) : rootView_(std::move(rootView)) {}
  static std::shared_ptr<NSHostingController> make(ui::View rootView) {
    return std::make_shared<NSHostingController>(std::move(rootView));
  }

  const ui::View& rootView() const { return rootView_; }
  void setRootView(ui::View rootView);
  std::shared_ptr<NSHostingView> hostingView();
  NSSize sizeThatFits(ui::ProposedSize proposal) { return hostingView()->sizeThatFits(proposal); }

  void loadView() override;

 private:
  ui::View rootView_;
};

}  // namespace appkit
