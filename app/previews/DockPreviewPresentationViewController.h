#pragma once
// The content view controller of the preview panel. It hosts the panel's root
// view and owns the box through which the presenter replaces the content; a
// change of content animates in two steps: first shown with `animating` set,
// inside a default animation, and half a second later set again as given.

#include <cstdint>
#include <memory>
#include <optional>

#include "app/previews/DockPreviewContent.h"
#include "app/previews/DockPreviewViewDelegate.h"
#include "platform/appkit/NSViewController.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

// The root view of the panel: the preview view with the content box and a
// box holding the delegate in its environment.
struct DockPreviewPresentationView {
  ui::ObservedObject<DockPreviewContentContainer> contentContainer;
  std::weak_ptr<DockPreviewViewDelegate> delegate;
  // The box the preview view reads the delegate from. One box for the life of
  // the view (copies share it), so the tree watches one object, not a new one
  // at every render; the body keeps it in step with `delegate`.
  std::shared_ptr<DockPreviewViewDelegateContainer> delegateContainer =
      std::make_shared<DockPreviewViewDelegateContainer>();

  ui::View body() const;
};

class DockPreviewPresentationViewController : public appkit::NSHostingController {
 public:
  // Seconds between the animated first step of an update and the second.
  static constexpr double kAnimationSettleDelay = 0.5;

  // An empty content box, and a root view built from it without a delegate.
  DockPreviewPresentationViewController();
  // An empty content box; the given root view is hosted unchanged.
  explicit DockPreviewPresentationViewController(DockPreviewPresentationView rootView);
  static std::shared_ptr<DockPreviewPresentationViewController> make() {
    return std::make_shared<DockPreviewPresentationViewController>();
  }

  const std::shared_ptr<DockPreviewContentContainer>& contentContainer() const { return contentContainer_; }

  // The root view as hosted; replacing it re-hosts it.
  const DockPreviewPresentationView& presentationView() const { return presentationView_; }
  void setPresentationView(DockPreviewPresentationView view);
  // Sets the root view's delegate (held weakly).
  void setDelegate(std::weak_ptr<DockPreviewViewDelegate> delegate);

  void viewDidLoad() override;

  // Not animated: the content is set at once. Animated: a copy with
  // `animating` set is stored inside a default animation, and 0.5 s later the
  // content as given, unless a later update came in the meantime.
  virtual void update(std::optional<DockPreviewContent> content, bool animated);

 private:
  std::shared_ptr<DockPreviewContentContainer> contentContainer_;
  DockPreviewPresentationView presentationView_;
  // Counts updates, so a second step knows whether a newer update replaced it.
  std::shared_ptr<std::uint64_t> updateGeneration_ = std::make_shared<std::uint64_t>(0);
};
