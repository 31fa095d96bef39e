#include "app/previews/DockPreviewThumbnailSnapButton.h"

#include "app/previews/TrackingAreaViewModifier.h"

std::string DockPreviewThumbnailSnapButton::symbolName(const ButtonAction& action) {
  if (action.isClose()) return "xmark";
  if (action.asScreen()) return "display";
  if (const auto* snap = action.asSnap()) {
    switch (snap->snapAlignment) {
      case SnapAlignment::left: return "rectangle.lefthalf.inset.filled";
      case SnapAlignment::maximized: return "rectangle.inset.filled";
      case SnapAlignment::right: return "rectangle.righthalf.inset.filled";
      case SnapAlignment::centered:
      case SnapAlignment::snapBack: break;
    }
  }
  return {};
}

void DockPreviewThumbnailSnapButton::hoverChanged(bool newValue) const {
  // Tracking reports every move inside as true; only changes are reported,
  // and none while the bar is still settling under the pointer.
  if (!snapPreviewEnabled.get()) return;
  if (newValue == hovering.get()) return;
  if (onButtonHover) onButtonHover(action, newValue);
  hovering.set(newValue);
}

ui::View DockPreviewThumbnailSnapButton::body() const {
  const bool highlighted = isHighlighted();
  const std::string symbol = symbolName(action);
  ui::View label = symbol.empty() ? ui::EmptyView()
                                  : ui::SystemImage(symbol)
                                        .font(ui::Font::system(10, ui::FontWeight::bold))
                                        .padding(6)
                                        .foregroundColor(highlighted ? ui::Color::controlAccentColor()
                                                                     : ui::Color::controlTextColor())
                                        .background(ui::View(ui::Color::controlBackgroundColor()).ignoresSafeArea())
                                        .scaleEffect(highlighted ? 1.1 : 1.0);
  auto self = *this;
  return ui::Button(
             [self] {
               if (self.onButtonClick) self.onButtonClick(self.action);
             },
             label)
      .buttonStyle(ui::ButtonStyle::plain)
      .modifier(TrackinAreaViewModifier{[self](bool inside) { self.hoverChanged(inside); }})
      .frame(ui::FlexFrame{.maxWidth = 30, .maxHeight = 30});
}
