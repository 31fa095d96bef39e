#include "app/previews/VisualEffectView.h"

std::shared_ptr<appkit::NSVisualEffectView> VisualEffectView::makeNSView() const {
  return std::make_shared<appkit::NSVisualEffectView>();
}

void VisualEffectView::updateNSView(appkit::NSVisualEffectView& view) const {
  view.setMaterial(material);
  view.setBlendingMode(blendingMode);
  view.setState(appkit::NSVisualEffectView::State::active);
}
