#include "app/model/ApplicationRepository.h"

#include <algorithm>
#include <limits>
#include <set>
#include <utility>

#include "app/preferences/Preferences.h"
#include "platform/appkit/NSProcessInfo.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/foundation/Bundle.h"
#include "platform/windowserver/CGSSpace.h"

namespace {

using Controllers = std::vector<std::shared_ptr<ApplicationController>>;

// A window-server list of ids; nothing when the answer is missing or not a
// list of numbers that fit the id type.
template <class Id>
std::optional<std::vector<Id>> idList(const std::optional<ns::Value>& answer) {
  if (!answer || !answer->array()) return std::nullopt;
  std::vector<Id> ids;
  ids.reserve(answer->array()->size());
  for (const auto& v : *answer->array()) {
    if (!v.isInteger() || (v.isInt() && *v.asInt64() < 0)) return std::nullopt;
    const std::uint64_t n = *v.asUInt64();
    if (n > std::numeric_limits<Id>::max()) return std::nullopt;
    ids.push_back(static_cast<Id>(n));
  }
  return ids;
}

template <class Id>
ns::Value numberList(const std::vector<Id>& ids) {
  ns::Array out;
  out.reserve(ids.size());
  for (Id id : ids) out.push_back(ns::Value(id));
  return ns::Value(std::move(out));
}

bool isThisProgram(const std::shared_ptr<ApplicationController>& controller, const std::optional<ns::URL>& ownURL) {
  const auto& url = controller->runningApplication->bundleURL();
  return url && ownURL && *url == *ownURL;
}

// The window-server memberships that make other Spaces' windows readable;
// taken away once, by whichever comes first: the end of the collection or
// the time limit.
class TemporarySpaceMemberships {
 public:
  TemporarySpaceMemberships(cgs::CGSConnectionID connection, ns::Value windows, ns::Value spaces)
      : connection_(connection), windows_(std::move(windows)), spaces_(std::move(spaces)) {
    cgs::CGSAddWindowsToSpaces(connection_, windows_, spaces_);
  }
  void undo() {
    if (std::exchange(undone_, true)) return;
    cgs::CGSRemoveWindowsFromSpaces(connection_, windows_, spaces_);
  }

 private:
  cgs::CGSConnectionID connection_;
  ns::Value windows_;
  ns::Value spaces_;
  bool undone_ = false;
};

}  // namespace

bool operator==(const ApplicationRepository::RecentActiveWindow& a, const ApplicationRepository::RecentActiveWindow& b) {
  const std::optional<ns::URL> none;
  const auto& urlA = a.applicationController ? a.applicationController->dockBundleURL : none;
  const auto& urlB = b.applicationController ? b.applicationController->dockBundleURL : none;
  return urlA == urlB && a.element == b.element;
}

const std::vector<std::string>& ApplicationRepository::titleMatchedBundleIdentifiers() {
  static const std::vector<std::string> identifiers{"com.valvesoftware.steam"};
  return identifiers;
}

std::shared_ptr<ApplicationRepository> ApplicationRepository::make() {
  return std::shared_ptr<ApplicationRepository>(new ApplicationRepository());
}

void ApplicationRepository::setDockApplicationController(std::shared_ptr<ApplicationController> controller) {
  dockApplicationController_ = std::move(controller);
  if (auto d = delegate.lock()) d->applicationRepositoryDockControllerDidChange(dockApplicationController_);
}

std::shared_ptr<ApplicationController> ApplicationRepository::makeController(
    const std::shared_ptr<appkit::NSRunningApplication>& app) const {
  if (app->activationPolicy() == appkit::NSApplicationActivationPolicy::Regular) return ApplicationController::make(app);
  const auto& identifier = app->bundleIdentifier();
  if (identifier && *identifier == kDockBundleIdentifier) return ApplicationController::make(app);
  return nullptr;
}

std::shared_ptr<ApplicationController> ApplicationRepository::findDockController() const {
  for (const auto& c : applicationControllers) {
    const auto& identifier = c->runningApplication->bundleIdentifier();
    if (identifier && *identifier == kDockBundleIdentifier) return c;
  }
  return nullptr;
}

// ---------------------------------------------------------------- set-up and notifications

void ApplicationRepository::setUp() {
  log([] { return "initializing applicationController collection...."; });
  auto workspace = appkit::NSWorkspace::sharedWorkspace();
  Controllers controllers;
  for (const auto& app : workspace->runningApplications()) {
    if (auto c = makeController(app)) controllers.push_back(std::move(c));
  }
  applicationControllers = std::move(controllers);
  log([] { return "initialized."; });
  setDockApplicationController(findDockController());

  std::weak_ptr<ApplicationRepository> weak = weak_from_this();
  auto center = workspace->notificationCenter();
  const void* anySender = nullptr;
  workspaceObservers_.push_back(center->addObserver(appkit::NSWorkspaceDidLaunchApplicationNotification, anySender,
                                                    [weak](const ns::Notification& n) {
                                                      if (auto self = weak.lock()) self->appDidLaunch(n);
                                                    }));
  workspaceObservers_.push_back(center->addObserver(appkit::NSWorkspaceDidTerminateApplicationNotification, anySender,
                                                    [weak](const ns::Notification& n) {
                                                      if (auto self = weak.lock()) self->appDidTerminate(n);
                                                    }));
  workspaceObservers_.push_back(center->addObserver(appkit::NSWorkspaceActiveSpaceDidChangeNotification, anySender,
                                                    [weak](const ns::Notification& n) {
                                                      if (auto self = weak.lock()) self->spaceDidChange(n);
                                                    }));
  activeApplicationObservation = workspace->observeFrontmostApplication([weak] {
    if (auto self = weak.lock()) self->frontmostApplicationDidChange();
  });

  auto self = shared_from_this();
  conc::spawnOnMain([self]() -> conc::Task<void> {
    auto all = self->collectElementsInAllSpaces();
    co_await std::move(all);
    auto current = self->collectElementsInCurrentSpace();
    co_await std::move(current);
  });
}

void ApplicationRepository::appDidLaunch(const ns::Notification& notification) {
  auto entry = notification.userInfo.find(appkit::NSWorkspaceApplicationKey);
  if (entry == notification.userInfo.end()) return;
  auto app = entry->second.objectAs<appkit::NSRunningApplication>();
  if (!app) return;
  // An application without a bundle identifier is not this program; the factory decides.
  const auto own = ns::Bundle::main()->bundleIdentifier();
  if (app->bundleIdentifier() && own && *app->bundleIdentifier() == *own) return;
  // A launch posted before set-up read the running applications arrives after it.
  const pid_t pid = app->processIdentifier();
  if (std::any_of(applicationControllers.begin(), applicationControllers.end(), [&](const auto& c) {
        return c->runningApplication->processIdentifier() == pid && c->runningApplication->isEqual(*app);
      })) {
    return;
  }
  auto controller = makeController(app);
  if (!controller) return;
  applicationControllers.push_back(std::move(controller));
  setDockApplicationController(findDockController());
}

void ApplicationRepository::appDidTerminate(const ns::Notification& notification) {
  auto entry = notification.userInfo.find(appkit::NSWorkspaceApplicationKey);
  if (entry == notification.userInfo.end()) return;
  auto app = entry->second.objectAs<appkit::NSRunningApplication>();
  if (!app) return;
  const pid_t pid = app->processIdentifier();
  std::erase_if(applicationControllers,
                [pid](const auto& c) { return c->runningApplication->processIdentifier() == pid; });
  setDockApplicationController(findDockController());
}

void ApplicationRepository::spaceDidChange(const ns::Notification& /*notification*/) {
  auto self = shared_from_this();
  conc::spawnOnMain([self]() -> conc::Task<void> {
    auto collect = self->collectElementsInCurrentSpace();
    co_await std::move(collect);
  });
}

void ApplicationRepository::frontmostApplicationDidChange() {
  std::weak_ptr<ApplicationRepository> weak = weak_from_this();
  conc::spawnOnMain([weak]() -> conc::Task<void> {
    auto self = weak.lock();
    if (!self) co_return;
    auto frontmost = appkit::NSWorkspace::sharedWorkspace()->frontmostApplication();
    const bool ownActivation =
        self->ownActivation_ && frontmost && frontmost->processIdentifier() == *self->ownActivation_;
    self->ownActivation_.reset();

    std::shared_ptr<ApplicationController> active;
    if (frontmost && frontmost->bundleIdentifier()) {
      const std::string& identifier = *frontmost->bundleIdentifier();
      for (const auto& c : self->applicationControllers) {
        if (c->runningApplication->bundleIdentifier() == identifier) {
          active = c;
          break;
        }
      }
    }
    self->activeApplicationController = active;
    self->recordRecentActiveWindow(!ownActivation);
    if (active) {
      self->activeApplicationControllerCancellable =
          active->focusedWindowDidChangePublisher.sink([weak](const AXUIElementWrapper&) {
            if (auto repository = weak.lock()) repository->recordRecentActiveWindow(true);
          });
    } else {
      self->activeApplicationControllerCancellable.reset();
    }
  });
}

// ---------------------------------------------------------------- recent active windows

void ApplicationRepository::recordRecentActiveWindow() { recordRecentActiveWindow(true); }

void ApplicationRepository::recordRecentActiveWindow(bool endsPendingRestore) {
  auto self = shared_from_this();
  conc::spawnOnMain([self, endsPendingRestore]() -> conc::Task<void> {
    auto record = recordIn(self, endsPendingRestore);
    co_await std::move(record);
  });
}

conc::Task<void> ApplicationRepository::recordIn(std::shared_ptr<ApplicationRepository> self, bool endsPendingRestore) {
  std::shared_ptr<ApplicationController> controller = self->activeApplicationController;
  if (!controller) co_return;
  if (controller->runningApplication->bundleURL() == ns::Bundle::main()->bundleURL()) co_return;

  auto read = controller->getFocusedWindow();
  std::optional<AXUIElementWrapper> window = co_await std::move(read);

  RecentActiveWindow record{controller, window};
  auto& list = self->recentActiveWindows;
  if (list.empty() || !(list.front() == record)) {
    std::vector<RecentActiveWindow> updated;
    updated.reserve(kRecentActiveWindowLimit);
    updated.push_back(std::move(record));
    const std::size_t kept = std::min(list.size(), kRecentActiveWindowLimit - 1);
    updated.insert(updated.end(), list.begin(), list.begin() + static_cast<std::ptrdiff_t>(kept));
    list = std::move(updated);
  }
  if (window && endsPendingRestore) self->recentlyHidden.reset();
}

// ---------------------------------------------------------------- Dock items

std::shared_ptr<ApplicationController> ApplicationRepository::applicationController(const ns::URL& forURL,
                                                                                    const std::string& title) {
  for (const auto& c : applicationControllers) {
    const auto& url = c->runningApplication->bundleURL();
    if (url && *url == forURL) return c;
  }
  for (const auto& c : applicationControllers) {
    const auto& name = c->runningApplication->localizedName();
    if (!name || *name != title) continue;
    const auto& identifier = c->runningApplication->bundleIdentifier();
    const auto& matched = titleMatchedBundleIdentifiers();
    if (!identifier || std::find(matched.begin(), matched.end(), *identifier) == matched.end()) return nullptr;
    c->dockBundleURL = forURL;
    return c;
  }
  return nullptr;
}

// ---------------------------------------------------------------- show desktop

void ApplicationRepository::hideAllApplications() {
  const std::optional<ns::URL> ownURL = ns::Bundle::main()->bundleURL();
  Controllers candidates;
  for (const auto& c : applicationControllers) {
    if (!isThisProgram(c, ownURL)) candidates.push_back(c);
  }
  RecentlyHidden hidden;
  for (const auto& c : candidates) {
    if (!c->runningApplication->isHidden()) hidden.applicationControllers.push_back(c);
  }
  for (const auto& r : recentActiveWindows) {
    if (!r.applicationController->runningApplication->isHidden()) hidden.recentActiveWindows.push_back(r);
  }
  recentlyHidden = std::move(hidden);

  hidePass(candidates);
  auto self = shared_from_this();
  dispatch::Queue::main()->asyncAfterDelay(kHidePassDelay, [self, candidates] {
    self->hidePass(candidates);
    // Only from 14.0 on does the system need Finder brought forward after hiding.
    if (!appkit::NSProcessInfo::processInfo().isOperatingSystemAtLeastVersion({14, 0, 0})) return;
    dispatch::Queue::main()->asyncAfterDelay(kHidePassDelay, [self] { self->activateFinderAfterHiding(); });
  });
}

void ApplicationRepository::hidePass(const std::vector<std::shared_ptr<ApplicationController>>& candidates) {
  for (const auto& c : candidates) {
    c->runningApplication->hide();
    if (!c->isFinder() || !MorvalentDefaults::standard().minimizeFinderWindowsEnabled()) continue;
    conc::spawnOnMain([c]() -> conc::Task<void> {
      auto minimize = c->minimizeAndRememberWindows();
      co_await std::move(minimize);
    });
  }
}

void ApplicationRepository::activateFinderAfterHiding() {
  if (!MorvalentDefaults::standard().minimizeFinderWindowsEnabled()) return;
  for (const auto& c : applicationControllers) {
    if (!c->isFinder()) continue;
    // Finder coming forward is this program's doing, not the user's: it does
    // not end the pending restore.
    ownActivation_ = c->runningApplication->processIdentifier();
    c->runningApplication->activateWithOptions(0);
    return;
  }
}

void ApplicationRepository::restoreHiddenApplications() {
  auto self = shared_from_this();
  conc::spawnOnMain([self]() -> conc::Task<void> {
    auto restore = restoreIn(self);
    co_await std::move(restore);
  });
}

conc::Task<void> ApplicationRepository::restoreIn(std::shared_ptr<ApplicationRepository> self) {
  if (!self->recentlyHidden) co_return;
  const RecentlyHidden record = *self->recentlyHidden;
  std::shared_ptr<const ScreenAndSpaceCollection> collection = ScreenAndSpaceRepository::getScreensAndSpaces();
  if (!collection) co_return;

  auto find = self->restorableWindows(record.recentActiveWindows, collection);
  std::vector<RecentActiveWindow> restorable = co_await std::move(find);
  for (const auto& c : record.applicationControllers) c->runningApplication->unhide();
  for (const auto& r : restorable) {
    auto activate = r.applicationController->activate(*r.element);
    co_await std::move(activate);
  }
  self->recentlyHidden.reset();
}

conc::Task<std::vector<ApplicationRepository::RecentActiveWindow>> ApplicationRepository::restorableWindows(
    std::vector<RecentActiveWindow> records, std::shared_ptr<const ScreenAndSpaceCollection> screenAndSpaceCollection) {
  return restorableIn(std::move(records), std::move(screenAndSpaceCollection));
}

conc::Task<std::vector<ApplicationRepository::RecentActiveWindow>> ApplicationRepository::restorableIn(
    std::vector<RecentActiveWindow> records, std::shared_ptr<const ScreenAndSpaceCollection> collection) {
  std::vector<RecentActiveWindow> kept;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (!it->element) continue;
    auto read = it->applicationController->getWindowSummaries(collection);
    std::vector<WindowSummary> summaries = co_await std::move(read);
    const AXUIElementWrapper& window = *it->element;
    const bool onCurrentSpace = std::any_of(summaries.begin(), summaries.end(), [&window](const WindowSummary& s) {
      return s.element == window && s.space.isCurrentSpace;
    });
    if (onCurrentSpace) kept.push_back(*it);
  }
  co_return kept;
}

// ---------------------------------------------------------------- collecting windows

conc::Task<void> ApplicationRepository::collectElementsInCurrentSpace() { return collectCurrentIn(shared_from_this()); }

conc::Task<void> ApplicationRepository::collectCurrentIn(std::shared_ptr<ApplicationRepository> self) {
  self->log([] { return "collecting AXUIElements for all applications in current spaces"; });
  const Controllers controllers = self->applicationControllers;
  for (const auto& controller : controllers) {
    auto update = controller->updateElements();
    co_await std::move(update);
  }
  self->log([] { return "collected for current space"; });
}

conc::Task<void> ApplicationRepository::collectElementsInAllSpaces() { return collectAllIn(shared_from_this()); }

conc::Task<void> ApplicationRepository::collectAllIn(std::shared_ptr<ApplicationRepository> self) {
  self->log([] { return "collecting AXUIElements for all applications in all spaces"; });
  const cgs::CGSConnectionID connection = cgs::CGSMainConnectionID();
  const auto currentSpaces = idList<std::uint64_t>(cgs::CGSCopySpaces(connection, cgs::kCGSCurrentSpacesMask));
  if (!currentSpaces) co_return;
  const auto otherSpaces = idList<std::uint64_t>(cgs::CGSCopySpaces(connection, cgs::kCGSOtherSpacesMask));
  if (!otherSpaces) co_return;
  if (currentSpaces->empty() || otherSpaces->empty()) co_return;

  std::uint64_t setTags = 0;
  std::uint64_t clearTags = 0;
  const auto currentWindows = idList<std::uint32_t>(cgs::CGSCopyWindowsWithOptionsAndTags(
      connection, 0, numberList(*currentSpaces), cgs::kCGSWindowListIncludeOffscreen, &setTags, &clearTags));
  if (!currentWindows) co_return;
  const auto otherWindows = idList<std::uint32_t>(cgs::CGSCopyWindowsWithOptionsAndTags(
      connection, 0, numberList(*otherSpaces), cgs::kCGSWindowListIncludeOffscreen, &setTags, &clearTags));
  if (!otherWindows) co_return;

  const std::uint64_t target = currentSpaces->front();
  std::set<std::uint32_t> toMove(otherWindows->begin(), otherWindows->end());
  for (std::uint32_t id : *currentWindows) toMove.erase(id);
  const std::vector<std::uint32_t> windows(toMove.begin(), toMove.end());
  const std::vector<std::uint64_t> spaces{target};

  auto memberships = std::make_shared<TemporarySpaceMemberships>(connection, numberList(windows), numberList(spaces));
  // An application that answers slowly or not at all must not leave other
  // Spaces' windows on this one.
  dispatch::Queue::main()->asyncAfterDelay(kSpaceMembershipTimeLimit, [memberships] { memberships->undo(); });
  auto collect = self->collectElementsInCurrentSpace();
  co_await std::move(collect);
  memberships->undo();
  self->log([] { return "collected for all spaces"; });
}
