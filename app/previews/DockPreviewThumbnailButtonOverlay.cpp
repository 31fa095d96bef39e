#include "app/previews/DockPreviewThumbnailButtonOverlay.h"

#include <string>
#include <vector>

#include "app/previews/DockPreviewThumbnailSnapButton.h"
#include "app/previews/TrackingAreaViewModifier.h"
#include "platform/dispatch/Dispatch.h"

ui::View DockPreviewThumbnailAccessoryButton::body() const {
  const bool hover = hovering.get();
  auto self = *this;
  return ui::Button(
             [self] {
               if (self.handler) self.handler();
             },
             ui::SystemImage(systemImageName)
                 .font(ui::Font::system(12, ui::FontWeight::bold))
                 .foregroundColor(hover ? ui::Color::controlAccentColor() : ui::Color::controlTextColor())
                 .frame(20, 20)
                 .background(ui::View(ui::Color::controlBackgroundColor()))
                 .clipShape(ui::Shape::circle())
                 .scaleEffect(hover ? 1.1 : 1.0))
      .buttonStyle(ui::ButtonStyle::plain)
      .modifier(TrackinAreaViewModifier{[self](bool inside) { self.hovering.set(inside); }})
      .shadow(ui::Color::black().opacity(0.3), 5);
}

ui::View DockPreviewThumbnailButtonOverlay::buttonRow() const {
  auto self = *this;
  std::vector<ui::View> children;
  children.push_back(ui::If(thumbnailContent.closeButtonEnabled,
                            ui::View(DockPreviewThumbnailAccessoryButton{"xmark", [self] {
                                                                           if (self.onButtonClick) {
                                                                             self.onButtonClick(ButtonAction::close());
                                                                           }
                                                                         }})));
  children.push_back(ui::View(ui::Color::clear()).frame(ui::FlexFrame{.maxWidth = ui::infinity}));
  children.push_back(ui::If(!thumbnailContent.snapButtonActions.empty(),
                            ui::View(DockPreviewThumbnailAccessoryButton{
                                         "ellipsis",
                                         [self] {
                                           ui::withAnimation(snapButtonsAnimation(),
                                                             [&self] { self.showingSnapButtons.set(true); });
                                         }})
                                .matchedGeometryEffect("snapButtons", animationNamespace, true)));
  return ui::HStack(ui::VerticalAlignment::top, std::nullopt, std::move(children))
      .padding(ui::EdgeInsets{0, 14, 0, 14});
}

ui::View DockPreviewThumbnailButtonOverlay::snapBar() const {
  // Centred targets and snap-back have no button.
  std::vector<ButtonAction> actions;
  for (const auto& action : thumbnailContent.snapButtonActions) {
    if (!DockPreviewThumbnailSnapButton::symbolName(action).empty()) actions.push_back(action);
  }
  auto enabled = snapPreviewEnabled.binding();
  auto self = *this;
  return ui::HStack(ui::VerticalAlignment::center, 0,
                    {ui::ForEach(
                        actions, [](const ButtonAction& a) { return std::to_string(a.hashValue()); },
                        [self, enabled](const ButtonAction& a) {
                          return DockPreviewThumbnailSnapButton{self.highlightedButtonAction, a, enabled, false,
                                                                self.onButtonHover, self.onButtonClick};
                        })})
      .background(ui::View(ui::Color::controlBackgroundColor()))
      .clipShape(ui::Shape::roundedRectangle(10, ui::RoundedCornerStyle::continuous))
      .shadow(ui::Color::black().opacity(0.3), 5)
      .matchedGeometryEffect("snapButtons", animationNamespace, true)
      .onAppear([enabled, showings = snapBarShowings.get()] {
        const std::uint64_t showing = ++*showings;
        enabled.set(false);
        dispatch::Queue::main()->asyncAfter(dispatch::after(kSnapPreviewDelay), [enabled, showings, showing] {
          if (*showings == showing) enabled.set(true);
        });
      });
}

ui::View DockPreviewThumbnailButtonOverlay::body() const {
  const bool showing = showingSnapButtons.get();
  return ui::VStack(ui::HorizontalAlignment::center, std::nullopt,
                    {ui::If(showing, snapBar(), buttonRow()), ui::Spacer(0)});
}
