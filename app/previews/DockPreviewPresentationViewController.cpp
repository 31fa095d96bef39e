#include "app/previews/DockPreviewPresentationViewController.h"

#include "app/previews/DockPreviewView.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/ui/Animation.h"

namespace {

bool sameDelegate(const std::optional<std::weak_ptr<DockPreviewViewDelegate>>& a,
                  const std::optional<std::weak_ptr<DockPreviewViewDelegate>>& b) {
  if (!a || !b) return !a && !b;
  return !a->owner_before(*b) && !b->owner_before(*a);
}

}  // namespace

ui::View DockPreviewPresentationView::body() const {
  auto box = delegateContainer ? delegateContainer : std::make_shared<DockPreviewViewDelegateContainer>();
  // Empty once the delegate is gone.
  std::optional<std::weak_ptr<DockPreviewViewDelegate>> wanted;
  if (!delegate.expired()) wanted = delegate;
  if (!sameDelegate(*box->value, wanted)) box->value = wanted;
  return ui::View(DockPreviewView{}).environmentObject(contentContainer.pointer()).environmentObject(box);
}

DockPreviewPresentationViewController::DockPreviewPresentationViewController()
    : DockPreviewPresentationViewController(DockPreviewPresentationView{}) {
  presentationView_.contentContainer = contentContainer_;
  appkit::NSHostingController::setRootView(ui::View(presentationView_));
}

DockPreviewPresentationViewController::DockPreviewPresentationViewController(DockPreviewPresentationView rootView)
    : appkit::NSHostingController(ui::View(rootView)),
      contentContainer_(std::make_shared<DockPreviewContentContainer>()),
      presentationView_(std::move(rootView)) {}

void DockPreviewPresentationViewController::setPresentationView(DockPreviewPresentationView view) {
  presentationView_ = std::move(view);
  appkit::NSHostingController::setRootView(ui::View(presentationView_));
}

void DockPreviewPresentationViewController::setDelegate(std::weak_ptr<DockPreviewViewDelegate> delegate) {
  auto view = presentationView_;
  view.delegate = std::move(delegate);
  setPresentationView(std::move(view));
}

void DockPreviewPresentationViewController::viewDidLoad() { appkit::NSHostingController::viewDidLoad(); }

void DockPreviewPresentationViewController::update(std::optional<DockPreviewContent> content, bool animated) {
  const std::uint64_t generation = ++*updateGeneration_;
  if (!animated) {
    contentContainer_->value = std::move(content);
    return;
  }
  auto first = content;
  if (first) first->animating = true;
  auto container = contentContainer_;
  ui::withAnimation(ui::Animation::standard(), [&] { container->value = std::move(first); });
  // The second step keeps the controller alive (when it is shared) and its box.
  auto self = weak_from_this().lock();
  dispatch::Queue::main()->asyncAfter(
      dispatch::after(kAnimationSettleDelay),
      [self, container, counter = updateGeneration_, generation, settled = std::move(content)] {
        // A newer update owns the content now; writing this one back would
        // show stale windows.
        if (*counter != generation) return;
        container->value = settled;
      });
}
