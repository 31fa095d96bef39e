#include "app/previews/RightClickViewModifier.h"

RightClickViewModifier::HostingView::HostingView(std::function<void()> onRightClick, ui::View rootView)
    : appkit::NSHostingView(std::move(rootView)), onRightClick_(std::move(onRightClick)) {}

void RightClickViewModifier::HostingView::rightMouseDown(const appkit::NSEvent&) {
  if (onRightClick_) onRightClick_();
}

std::shared_ptr<RightClickViewModifier::HostingView> RightClickViewModifier::Representable::makeNSView() const {
  return std::make_shared<HostingView>(onRightClick, content);
}

void RightClickViewModifier::Representable::updateNSView(HostingView& view) const { view.setRootView(content); }

ui::View RightClickViewModifier::body(ui::View content) const {
  return ui::View(Representable{onRightClick, std::move(content)});
}
