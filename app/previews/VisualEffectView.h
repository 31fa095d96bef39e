#pragma once
// The translucent material behind the preview panel: an NSVisualEffectView
// bridged into the view tree. It is always drawn active, so the material
// keeps its look while another application is frontmost.

#include <memory>

#include "platform/appkit/NSView.h"
#include "platform/ui/View.h"

struct VisualEffectView {
  appkit::NSVisualEffectView::Material material;
  appkit::NSVisualEffectView::BlendingMode blendingMode;

  // A new view with its default settings.
  std::shared_ptr<appkit::NSVisualEffectView> makeNSView() const;
  void updateNSView(appkit::NSVisualEffectView& view) const;
};
