#pragma once
// Owns the settings window, "Morvalent Settings": made on the first show and
// kept for the life of the process; closing only orders it out, and the next
// show brings the same window back. Every closing ends the preferences
// onboarding and runs the success handler. Main thread only.

#include <functional>
#include <memory>
#include <optional>

#include "app/shell/PreferencesView.h"
#include "platform/appkit/NSWindow.h"
#include "platform/appkit/NSWindowController.h"

class PreferencesViewCoordinator : public appkit::NSWindowDelegate,
                                   public std::enable_shared_from_this<PreferencesViewCoordinator> {
 public:
  static std::shared_ptr<PreferencesViewCoordinator> make();

  const std::shared_ptr<appkit::NSWindowController>& windowController() const { return windowController_; }
  void setWindowController(std::shared_ptr<appkit::NSWindowController> controller) {
    windowController_ = std::move(controller);
  }
  const std::optional<PreferencesView>& view() const { return view_; }
  void setView(std::optional<PreferencesView> view) { view_ = std::move(view); }
  const std::function<void()>& preferencesSuccessHandler() const { return preferencesSuccessHandler_; }
  void setPreferencesSuccessHandler(std::function<void()> handler) { preferencesSuccessHandler_ = std::move(handler); }

  // Orders the window front and makes it key, building it on first use.
  void show();

  // NSWindowDelegate
  void windowWillClose(appkit::NSWindow& window) override;

 private:
  PreferencesViewCoordinator() = default;

  std::shared_ptr<appkit::NSWindowController> windowController_;
  std::optional<PreferencesView> view_;
  std::function<void()> preferencesSuccessHandler_;
};
