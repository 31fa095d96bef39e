#pragma once
// The buttons over a hovered thumbnail: a close button and an ellipsis button
// along the top edge, or, once the ellipsis button or a right click asked for
// them, a compact bar of snap and move buttons. The overlay only reports:
// button clicks and hovers go to the two closures it is given.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/previews/DockPreviewContent.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

// A small round symbol button (close, ellipsis) that grows and takes the
// accent colour under the pointer.
struct DockPreviewThumbnailAccessoryButton {
  std::string systemImageName;
  std::function<void()> handler;
  ui::State<bool> hovering{false};

  ui::View body() const;
};

struct DockPreviewThumbnailButtonOverlay {
  using ButtonAction = DockPreviewThumbnailContent::ButtonAction;

  // Seconds a freshly shown snap bar ignores the pointer, so that a button
  // that comes up under it does not start a snap preview at once.
  static constexpr double kSnapPreviewDelay = 0.2;

  ui::Namespace animationNamespace;
  DockPreviewThumbnailContent thumbnailContent;
  std::optional<ButtonAction> highlightedButtonAction;
  ui::Binding<bool> showingSnapButtons;
  std::function<void(const ButtonAction&, bool)> onButtonHover;
  std::function<void(const ButtonAction&)> onButtonClick;
  ui::State<bool> snapPreviewEnabled{false};
  // Counts the showings of the bar: a delayed enable belongs to the showing
  // that scheduled it and is void once the bar went and came back. A shared
  // counter rather than a plain state, so counting re-renders nothing.
  ui::State<std::shared_ptr<std::uint64_t>> snapBarShowings{std::make_shared<std::uint64_t>(0)};

  // The snap bar's spring.
  static ui::Animation snapButtonsAnimation() { return ui::Animation::interpolatingSpring(0.2, 100, 20, 0); }

  ui::View body() const;

 private:
  ui::View buttonRow() const;
  ui::View snapBar() const;
};
