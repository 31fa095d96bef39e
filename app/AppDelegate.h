#pragma once
// The application delegate: the spine of the program. It owns every
// long-lived component for the life of the process and starts them in two
// phases: at launch (telemetry, the preview coordinator, the snap overlay's
// controller, the settings and permissions coordinators, the registered
// defaults, the permission onboarding) and once both permissions are granted
// (the repository, the snap monitor, the now-playing providers, the nine
// preference observers, the updater, sleep, wake and Space observers, the icon
// mode, the Dock menu and the 300-second re-arm loop). It answers a click on
// the program's Dock icon with show desktop.
//
// Main thread only. Made by make() (two-phase): the handlers it installs hold
// it weakly.

#include <memory>
#include <optional>
#include <vector>

#include "app/model/ApplicationRepository.h"
#include "app/model/DiagnosticLogging.h"
#include "app/nowplaying/NowPlayingCoordinator.h"
#include "app/previews/DockPreviewCoordinator.h"
#include "app/shell/PermissionManagers.h"
#include "app/shell/PermissionsViewCoordinator.h"
#include "app/preferences/Preferences.h"
#include "app/shell/PreferencesViewCoordinator.h"
#include "app/snapping/ScreenResizeCorrector.h"
#include "app/snapping/SnapController.h"
#include "app/snapping/SnapPreviewWindowController.h"
#include "platform/appkit/NSApplicationDelegate.h"
#include "platform/appkit/NSMenu.h"
#include "platform/appkit/NSStatusBar.h"
#include "platform/appkit/SPUStandardUpdaterController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ObserverToken.h"

// The small front to the external update framework.
class UpdateManager {
 public:
  // Made on first use, with an updater controller that does not start by itself.
  static UpdateManager& shared();

  std::shared_ptr<appkit::SPUStandardUpdaterController> updateController;

  // A fresh controller (tests).
  static void resetForTesting();

 private:
  UpdateManager();
};

class AppDelegate final : public appkit::NSApplicationDelegate,
                          public DiagnosticLogging,
                          public std::enable_shared_from_this<AppDelegate> {
 public:
  using ApplicationIconMode = ::ApplicationIconMode;
  static constexpr ApplicationIconMode kAllApplicationIconModes[] = {ApplicationIconMode::dockIcon,
                                                                     ApplicationIconMode::statusItem};

  // The interval of the re-arm loop.
  static constexpr double kReArmInterval = 300.0;
  static constexpr const char* kDockMenuTitle = "Dock Menu";
  static constexpr const char* kMenuBarIconName = "MenuBarIcon";

  // init
  static std::shared_ptr<AppDelegate> make();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  std::string className() const override { return "AppDelegate"; }

  // ---------------------------------------------------------------- fields

  const std::shared_ptr<AccessibilityPermissionManager> accessibilityPermissionManager;
  const std::shared_ptr<ScreenRecordingPermissionManager> screenRecordingPermissionManager;
  const std::shared_ptr<ApplicationRepository> applicationRepository;
  const std::shared_ptr<SnapController> snapController;
  const std::shared_ptr<NowPlayingCoordinator> nowPlayingCoordinator;
  // Built on first use with the delegate's repository, then always the same.
  const std::shared_ptr<ScreenResizeCorrector>& screenResizeCorrector();
  bool hasScreenResizeCorrector() const { return static_cast<bool>(screenResizeCorrector_); }
  std::shared_ptr<DockPreviewCoordinator> dockPreviewCoordinator;
  std::shared_ptr<SnapPreviewWindowController> snapPreviewWindowController;
  std::shared_ptr<PreferencesViewCoordinator> preferencesViewCoordinator;
  std::shared_ptr<PermissionsViewCoordinator> permissionsViewCoordinator;
  // The nine preference observations; holding them keeps them alive.
  std::optional<std::vector<ns::ObserverToken>> preferencesObservers;
  // Present only in status-item mode.
  std::shared_ptr<appkit::NSStatusItem> statusBarItem;
  const std::shared_ptr<appkit::NSMenu> dockMenu;

  // Whether the second phase has run (it runs once per process).
  bool hasStartedAfterPermissions() const { return startedAfterPermissions_; }

  // ---------------------------------------------------------------- NSApplicationDelegate

  void applicationDidFinishLaunching(const ns::Notification& notification) override;
  void applicationWillTerminate(const ns::Notification& notification) override;
  bool applicationShouldHandleReopen(bool hasVisibleWindows) override;
  void applicationDidChangeScreenParameters(const ns::Notification& notification) override;
  std::shared_ptr<appkit::NSMenu> applicationDockMenu() override;

  // ---------------------------------------------------------------- start-up

  void startApplication();
  void startAfterPermissionsGranted();
  // The mode rule and the login item, as the observers run them.
  void applyAnalyticsMode();
  void updateLoginItem();

  // ---------------------------------------------------------------- icon mode, show desktop

  void applyApplicationIconMode();
  std::shared_ptr<appkit::NSMenu> makeStatusMenu();
  void showDesktop();

  // ---------------------------------------------------------------- notifications, re-arm

  void handleSleepNotification(const ns::Notification& notification);
  void handleSpaceChange();
  void scheduleReArm();

  // ---------------------------------------------------------------- actions

  void showPreferences(const void* sender);
  void showSettings();
  void showHelp(const void* sender);
  void checkForUpdates(const void* sender);
  void quit();
  void sleepListener(const ns::Notification& notification);
  void spaceDidChange(const ns::Notification& notification);

 private:
  AppDelegate();
  void installPreferenceObservers();
  void prepareSnapOverlayWindow();
  void removeStatusBarItem();

  std::shared_ptr<ScreenResizeCorrector> screenResizeCorrector_;
  std::vector<ns::ObserverToken> workspaceObservers_;
  bool startedAfterPermissions_ = false;
};
