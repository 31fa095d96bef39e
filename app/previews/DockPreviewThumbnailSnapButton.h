#pragma once
// One snap or move button of a thumbnail's snap bar: the glyph of its action,
// highlighted while it is the overlay's highlighted action. It reports the
// pointer entering and leaving it (only while hover reports are enabled, and
// only changes) and its click.

#include <functional>
#include <optional>
#include <string>

#include "app/previews/DockPreviewContent.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

struct DockPreviewThumbnailSnapButton {
  using ButtonAction = DockPreviewThumbnailContent::ButtonAction;

  std::optional<ButtonAction> highlightedButtonAction;
  ButtonAction action;
  ui::Binding<bool> snapPreviewEnabled;
  ui::State<bool> hovering{false};
  std::function<void(const ButtonAction&, bool)> onButtonHover;
  std::function<void(const ButtonAction&)> onButtonClick;

  // The symbol of an action; empty for snap targets the bar never offers
  // (centered, snapBack).
  static std::string symbolName(const ButtonAction& action);

  bool isHighlighted() const { return highlightedButtonAction && *highlightedButtonAction == action; }
  // The pointer entered (true) or left (false) the button.
  void hoverChanged(bool hovering) const;

  ui::View body() const;
};
