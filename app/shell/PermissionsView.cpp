#include "app/shell/PermissionsView.h"

#include <string>

namespace {

// Runs a handler of the view model when it is set at the time of the press.
std::function<void()> perform(std::shared_ptr<PermissionsViewModel> model,
                              std::function<void()> PermissionsViewModel::*handler) {
  return [model, handler] {
    if (auto action = (*model).*handler) action();
  };
}

ui::View permissionRow(const std::string& title, const std::string& description, bool granted,
                       std::function<void()> configure) {
  ui::View status = ui::If(granted,
                           ui::SystemImage("checkmark.seal.fill")
                               .font(ui::Font::system(30, ui::FontWeight::regular, ui::FontDesign::standard))
                               .foregroundColor(ui::Color::green()),
                           ui::Button("Configure...", std::move(configure)));
  return ui::HStack(ui::VerticalAlignment::center, std::nullopt,
                    {
                        ui::VStack(ui::HorizontalAlignment::leading, std::nullopt,
                                   {ui::Text(title).font(ui::Font::body().bold()), ui::Text(description)}),
                        ui::Spacer(),
                        ui::VStack(ui::HorizontalAlignment::center, std::nullopt, {status})
                            .frame(100, std::nullopt, ui::Alignment::center),
                    });
}

}  // namespace

ui::View PermissionsView::body() const {
  PermissionsViewModel& model = *viewModel;
  const auto& pointer = viewModel.pointer();
  return ui::VStack(ui::HorizontalAlignment::center, std::nullopt,
                    {
                        permissionRow("Accessibility Permissions",
                                      "Morvalent needs these permissions for all functionality.  They allow Morvalent "
                                      "to react to mouse activity and manipulate windows.",
                                      *model.hasAccessibilityPermission,
                                      perform(pointer, &PermissionsViewModel::accessibilityPermissionHandler)),
                        ui::Spacer().frame(std::nullopt, 30),
                        permissionRow("Screen Recording Permissions",
                                      "Morvalent needs these permissions to generate the window previews.",
                                      *model.hasScreenRecordingPermission,
                                      perform(pointer, &PermissionsViewModel::screenRecordingPermissionHandler)),
                        ui::Spacer().frame(std::nullopt, 30),
                        ui::Button("Continue", perform(pointer, &PermissionsViewModel::continueButtonHandler))
                            .keyboardShortcut(ui::KeyboardShortcut::defaultAction)
                            .disabled(!*model.canContinue),
                    })
      .padding(ui::EdgeInsets{50, 50, 30, 50})
      .frame(500, std::nullopt, ui::Alignment::center);
}
