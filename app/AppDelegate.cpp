#include "app/AppDelegate.h"

#include <functional>
#include <string>
#include <utility>

#include "app/shell/AnalyticsManager.h"
#include "app/shell/LoginItem.h"
#include "app/snapping/SnapAnalytics.h"
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/concurrency/Task.h"
#include "platform/dispatch/Dispatch.h"

// ---------------------------------------------------------------- UpdateManager

namespace {

std::unique_ptr<UpdateManager>& sharedUpdateManager() {
  static auto* slot = new std::unique_ptr<UpdateManager>();
  return *slot;
}

// One preference observer's work, as a task on the main actor: the
// component's effect while the delegate lives, then the analytics event
// (sent whether or not the delegate is still there).
conc::Task<void> preferenceDidChange(std::weak_ptr<AppDelegate> weak, std::string key, bool tracksAnalytics,
                                     std::function<void(AppDelegate&)> effect) {
  if (auto self = weak.lock(); self && effect) effect(*self);
  if (tracksAnalytics) AnalyticsManager::shared()->trackPreferenceChange(key);
  co_return;
}

}  // namespace

UpdateManager& UpdateManager::shared() {
  auto& slot = sharedUpdateManager();
  if (!slot) slot.reset(new UpdateManager());
  return *slot;
}

void UpdateManager::resetForTesting() { sharedUpdateManager().reset(new UpdateManager()); }

UpdateManager::UpdateManager()
    : updateController(appkit::SPUStandardUpdaterController::initWithStartingUpdater(false)) {}

// ---------------------------------------------------------------- init

std::shared_ptr<AppDelegate> AppDelegate::make() { return std::shared_ptr<AppDelegate>(new AppDelegate()); }

AppDelegate::AppDelegate()
    : accessibilityPermissionManager(AccessibilityPermissionManager::shared()),
      screenRecordingPermissionManager(ScreenRecordingPermissionManager::shared()),
      applicationRepository(ApplicationRepository::make()),
      snapController(SnapController::make()),
      nowPlayingCoordinator(std::make_shared<NowPlayingCoordinator>()),
      dockMenu(appkit::NSMenu::make(kDockMenuTitle)) {}

const std::shared_ptr<ScreenResizeCorrector>& AppDelegate::screenResizeCorrector() {
  if (!screenResizeCorrector_) screenResizeCorrector_ = ScreenResizeCorrector::make(applicationRepository);
  return screenResizeCorrector_;
}

// ---------------------------------------------------------------- NSApplicationDelegate

void AppDelegate::applicationDidFinishLaunching(const ns::Notification&) { startApplication(); }

// Nothing is torn down; only the events already tracked (the permissions
// failure that ends the process, above all) must reach the store first.
void AppDelegate::applicationWillTerminate(const ns::Notification&) {
  AnalyticsManager::shared()->applicationWillTerminate();
}

bool AppDelegate::applicationShouldHandleReopen(bool) {
  showDesktop();
  dockPreviewCoordinator->reset();
  snapController->updateEventMonitor();
  return false;
}

void AppDelegate::applicationDidChangeScreenParameters(const ns::Notification&) {
  screenResizeCorrector()->screenParametersDidChange();
}

std::shared_ptr<appkit::NSMenu> AppDelegate::applicationDockMenu() { return dockMenu; }

// ---------------------------------------------------------------- start-up

void AppDelegate::startApplication() {
  auto analytics = AnalyticsManager::shared();
  analytics->start();
  SnapAnalytics::setShared(analytics);

  screenResizeCorrector();
  dockPreviewCoordinator =
      DockPreviewCoordinator::make(applicationRepository, snapController, screenResizeCorrector(), nowPlayingCoordinator);

  snapPreviewWindowController = std::make_shared<SnapPreviewWindowController>();
  snapController->previewDelegate = snapPreviewWindowController;
  snapController->applicationRepository = applicationRepository;

  preferencesViewCoordinator = PreferencesViewCoordinator::make();
  permissionsViewCoordinator = PermissionsViewCoordinator::make();

  MorvalentDefaults::standard().registerDefaults();

  std::weak_ptr<AppDelegate> weak = weak_from_this();
  permissionsViewCoordinator->start([weak] {
    auto self = weak.lock();
    if (!self) return;
    self->startAfterPermissionsGranted();
    if (MorvalentDefaults::standard().preferencesOnboardingRequired()) {
      self->preferencesViewCoordinator->setPreferencesSuccessHandler([] {});
      self->preferencesViewCoordinator->show();
    }
  });
}

void AppDelegate::startAfterPermissionsGranted() {
  // Observers, workspace observers, the Dock menu item and the re-arm loop
  // exist once per process; a second success would double every one of them.
  if (startedAfterPermissions_) return;
  startedAfterPermissions_ = true;

  applicationRepository->setUp();
  snapController->updateEventMonitor();
  prepareSnapOverlayWindow();
  screenResizeCorrector()->screenRects = ScreenResizeCorrector::currentScreenRects();
  nowPlayingCoordinator->setUpProviders();
  installPreferenceObservers();
  UpdateManager::shared().updateController->startUpdater();

  std::weak_ptr<AppDelegate> weak = weak_from_this();
  auto center = appkit::NSWorkspace::sharedWorkspace()->notificationCenter();
  const void* anyObject = nullptr;
  for (const char* name : {appkit::NSWorkspaceWillSleepNotification, appkit::NSWorkspaceDidWakeNotification}) {
    workspaceObservers_.push_back(center->addObserver(name, anyObject, [weak](const ns::Notification& n) {
      if (auto self = weak.lock()) self->sleepListener(n);
    }));
  }
  workspaceObservers_.push_back(center->addObserver(appkit::NSWorkspaceActiveSpaceDidChangeNotification, anyObject,
                                                    [weak](const ns::Notification& n) {
                                                      if (auto self = weak.lock()) self->spaceDidChange(n);
                                                    }));

  applyApplicationIconMode();
  dockMenu->addItemWithTitle(
      "Settings",
      [weak](appkit::NSMenuItem& item) {
        if (auto self = weak.lock()) self->showPreferences(&item);
      },
      "");
  scheduleReArm();
}

void AppDelegate::prepareSnapOverlayWindow() {
  auto controller = snapController->previewDelegate.lock();
  if (!controller) return;
  if (!controller->window()) controller->setWindow(SnapPreviewWindowController::makeOverlayWindow());
  if (auto window = controller->window(); window && window->isVisible()) window->close();
}

void AppDelegate::installPreferenceObservers() {
  namespace k = preferencekeys;
  using Effect = std::function<void(AppDelegate&)>;
  struct Observation {
    const char* key;
    bool tracksAnalytics;
    Effect effect;
  };
  const std::vector<Observation> observations{
      {k::applicationIconMode, true, [](AppDelegate& self) { self.applyApplicationIconMode(); }},
      {k::openAtStartup, true, [](AppDelegate& self) { self.updateLoginItem(); }},
      {k::dockPreviewsEnabled, true,
       [](AppDelegate& self) {
         self.dockPreviewCoordinator->setEnabled(MorvalentDefaults::standard().dockPreviewsEnabled());
       }},
      {k::dragWindowSnappingEnabled, true,
       [](AppDelegate& self) {
         self.snapController->setDragWindowSnappingEnabled(MorvalentDefaults::standard().dragWindowSnappingEnabled());
       }},
      {k::scrollWindowSnappingEnabled, true,
       [](AppDelegate& self) {
         self.snapController->setScrollWindowSnappingEnabled(
             MorvalentDefaults::standard().scrollWindowSnappingEnabled());
       }},
      // The preview views read this one themselves.
      {k::scrollPreviewSnappingEnabled, true, nullptr},
      {k::screenResizeCorrectionEnabled, true,
       [](AppDelegate& self) {
         self.screenResizeCorrector()->setEnabled(MorvalentDefaults::standard().screenResizeCorrectionEnabled());
       }},
      {k::analyticsMode, true, [](AppDelegate& self) { self.applyAnalyticsMode(); }},
      {k::preferencesOnboardingRequired, false,
       [](AppDelegate& self) {
         self.applyAnalyticsMode();
         self.updateLoginItem();
       }},
  };

  std::weak_ptr<AppDelegate> weak = weak_from_this();
  const auto defaults = MorvalentDefaults::standard();
  std::vector<ns::ObserverToken> tokens;
  tokens.reserve(observations.size());
  for (const auto& o : observations) {
    std::string key = o.key;
    tokens.push_back(defaults.observe(key, [weak, key, tracks = o.tracksAnalytics, effect = o.effect] {
      conc::spawnOnMain(preferenceDidChange(weak, key, tracks, effect));
    }));
  }
  preferencesObservers = std::move(tokens);
}

void AppDelegate::applyAnalyticsMode() { AnalyticsManager::shared()->applyAnalyticsMode(); }

void AppDelegate::updateLoginItem() { ::updateLoginItem(); }

// ---------------------------------------------------------------- icon mode

void AppDelegate::removeStatusBarItem() {
  // The status bar holds its items until told to remove them; dropping the
  // reference alone would leave the old item in the menu bar.
  if (auto item = std::exchange(statusBarItem, nullptr)) appkit::NSStatusBar::systemStatusBar().removeStatusItem(item);
}

void AppDelegate::applyApplicationIconMode() {
  auto& application = appkit::NSApplication::shared();
  switch (MorvalentDefaults::standard().applicationIconMode()) {
    case ApplicationIconMode::statusItem: {
      removeStatusBarItem();
      auto item = appkit::NSStatusBar::systemStatusBar().statusItemWithLength(appkit::NSSquareStatusItemLength);
      statusBarItem = item;
      item->setMenu(makeStatusMenu());
      // The image asset of the application bundle, by name.
      item->button().setSymbolName(kMenuBarIconName);
      application.setActivationPolicy(appkit::NSApplicationActivationPolicy::Accessory);
      break;
    }
    case ApplicationIconMode::dockIcon:
      removeStatusBarItem();
      application.setActivationPolicy(appkit::NSApplicationActivationPolicy::Regular);
      break;
  }
}

std::shared_ptr<appkit::NSMenu> AppDelegate::makeStatusMenu() {
  // No explicit target: the actions reach the delegate, held weakly.
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  auto menu = appkit::NSMenu::make();
  menu->addItemWithTitle(
      "Settings",
      [weak](appkit::NSMenuItem&) {
        if (auto self = weak.lock()) self->showSettings();
      },
      "");
  menu->addItem(appkit::NSMenuItem::separatorItem());
  menu->addItemWithTitle(
      "Quit Morvalent",
      [weak](appkit::NSMenuItem&) {
        if (auto self = weak.lock()) self->quit();
      },
      "");
  return menu;
}

// ---------------------------------------------------------------- show desktop

void AppDelegate::showDesktop() {
  const auto defaults = MorvalentDefaults::standard();
  if (!defaults.showDesktopEnabled()) {
    preferencesViewCoordinator->show();
    return;
  }
  // Before both permissions are granted the repository knows no application:
  // a hide-all would hide nothing yet remember an empty record, and the next
  // click would "restore" that instead of hiding.
  if (!startedAfterPermissions_) return;
  if (AnalyticsManager::shared()->mode() == AnalyticsMode::automaticAnalytics) {
    AnalyticsManager::shared()->trackEvent("showDesktop");
  }
  if (defaults.unhideWindowsEnabled() && applicationRepository->recentlyHidden) {
    applicationRepository->restoreHiddenApplications();
  } else {
    applicationRepository->hideAllApplications();
  }
}

// ---------------------------------------------------------------- notifications, re-arm

void AppDelegate::handleSleepNotification(const ns::Notification& notification) {
  log([] { return "listening to sleep"; });
  if (notification.name == appkit::NSWorkspaceWillSleepNotification) {
    log([] { return "Going to sleep"; });
  } else if (notification.name == appkit::NSWorkspaceDidWakeNotification) {
    log([] { return "Woke up"; });
    dockPreviewCoordinator->reset();
    snapController->updateEventMonitor();
  } else {
    log([] { return "Some other event other than the first two"; });
  }
}

void AppDelegate::handleSpaceChange() {
  log([] { return "space did change"; });
  dockPreviewCoordinator->hide(false);
}

void AppDelegate::scheduleReArm() {
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  dispatch::Queue::main()->asyncAfterDelay(kReArmInterval, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->dockPreviewCoordinator->reset();
    self->snapController->updateEventMonitor();
    self->scheduleReArm();
  });
}

// ---------------------------------------------------------------- actions

void AppDelegate::showPreferences(const void*) { preferencesViewCoordinator->show(); }

void AppDelegate::showSettings() { preferencesViewCoordinator->show(); }

void AppDelegate::showHelp(const void*) {}

void AppDelegate::checkForUpdates(const void*) {
  auto& controller = UpdateManager::shared().updateController;
  controller->startUpdater();
  controller->checkForUpdates(nullptr);
}

void AppDelegate::quit() { appkit::NSApplication::shared().terminate(nullptr); }

void AppDelegate::sleepListener(const ns::Notification& notification) { handleSleepNotification(notification); }

void AppDelegate::spaceDidChange(const ns::Notification&) { handleSpaceChange(); }
