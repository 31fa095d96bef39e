#pragma once
// RightClickViewModifier: reports each press of the right mouse button on a
// view. The content is hosted inside a hosting view that takes the press, so
// the content never sees it (and no context menu opens); left clicks,
// scrolling and moves still reach the content.

#include <functional>
#include <memory>

#include "platform/appkit/NSView.h"
#include "platform/ui/View.h"

struct RightClickViewModifier {
  std::function<void()> onRightClick;

  class HostingView : public appkit::NSHostingView {
   public:
    HostingView(std::function<void()> onRightClick, ui::View rootView);
    explicit HostingView(ui::View rootView) = delete;

    void rightMouseDown(const appkit::NSEvent& event) override;

   private:
    std::function<void()> onRightClick_;
  };

  struct Representable {
    std::function<void()> onRightClick;
    ui::View content;

    std::shared_ptr<HostingView> makeNSView() const;
    // The callback given at creation stays; only the content is replaced.
    void updateNSView(HostingView& view) const;
  };

  ui::View body(ui::View content) const;
};
