#include "app/shell/PreferencesViewCoordinator.h"

#include "app/preferences/Preferences.h"
#include "platform/appkit/NSView.h"

std::shared_ptr<PreferencesViewCoordinator> PreferencesViewCoordinator::make() {
  return std::shared_ptr<PreferencesViewCoordinator>(new PreferencesViewCoordinator());
}

void PreferencesViewCoordinator::show() {
  if (windowController_ && windowController_->window()) {
    windowController_->window()->makeKeyAndOrderFront();
    return;
  }
  view_ = PreferencesView();
  auto window = appkit::NSWindow::make(appkit::NSMakeRect(0, 0, 1000, 1000),
                                       appkit::NSWindowStyleMaskTitled | appkit::NSWindowStyleMaskClosable,
                                       appkit::NSBackingStoreType::buffered, false);
  window->setContentView(appkit::NSHostingView::make(ui::View(*view_)));
  window->setTitle("Morvalent Settings");
  window->center();
  window->setLevel(appkit::NSPopUpMenuWindowLevel);
  window->makeKeyAndOrderFront();
  window->setDelegate(weak_from_this());
  windowController_ = std::make_shared<appkit::NSWindowController>(window);
}

void PreferencesViewCoordinator::windowWillClose(appkit::NSWindow&) {
  MorvalentDefaults::standard().setPreferencesOnboardingRequired(false);
  // Copied: the handler may replace itself.
  if (auto handler = preferencesSuccessHandler_) handler();
}
