#include "app/model/ApplicationController.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>
#include <utility>

#include "app/preferences/Preferences.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/windowserver/CGSSpace.h"

namespace {

using Wrappers = std::vector<AXUIElementWrapper>;

// Options of the thumbnail capture: one pixel per point, no clip shape.
constexpr std::uint32_t kThumbnailCaptureOptions = 0xA00;
// The Spaces of a window: current and other, user and fullscreen.
constexpr int kWindowSpacesMask = 7;

// Whether the application answers Accessibility calls at all. Only "cannot
// complete" means it does not: any other answer, an error included, comes
// from a live process.
bool applicationAnswers(pid_t pid) {
  ns::Value role;
  return ax::AXUIElementCopyAttributeValue(ax::AXUIElementCreateApplication(pid), ax::kAXRoleAttribute, &role) !=
         ax::kAXErrorCannotComplete;
}

std::optional<pid_t> pidOf(const AXUIElementWrapper& element) {
  pid_t pid = 0;
  if (ax::AXUIElementGetPid(element.element, &pid) != ax::kAXErrorSuccess) return std::nullopt;
  return pid;
}

// A Bool as the Accessibility API hands it: a Boolean, or a number 0 or 1.
std::optional<bool> boolValue(const ns::Value& v) {
  if (v.isBool()) return v.asBool();
  if (v.isInteger()) {
    auto n = v.asInt64();
    if (n && (*n == 0 || *n == 1)) return *n == 1;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------- reading the window lists

struct WindowListRead {
  bool answered = true;
  Wrappers windows;     // the windows attribute as read
  Wrappers candidates;  // what the read looked at: the previous list and the new windows
  Wrappers kept;        // the standard windows and dialogs among them, one per window id
};

bool isAcceptedSubrole(const std::optional<std::string>& subrole) {
  return subrole && (*subrole == ax::NSAccessibilityStandardWindowSubrole || *subrole == ax::NSAccessibilityDialogSubrole);
}

// On the Accessibility queue.
WindowListRead readWindowListsNow(pid_t pid, const Wrappers& previous, AXUIElementContext::ControllerFactory& factory) {
  WindowListRead read;
  const AXUIElementController application = factory.controller(ax::AXUIElementCreateApplication(pid));
  ns::Value value;
  const ax::AXError error =
      ax::AXUIElementCopyAttributeValue(application.element(), ax::NSAccessibilityWindowsAttribute, &value);
  if (error == ax::kAXErrorCannotComplete) {
    read.answered = false;
    return read;
  }
  if (error == ax::kAXErrorSuccess) {
    if (auto elements = ax::elementsFromValue(value)) {
      read.windows.reserve(elements->size());
      for (auto& e : *elements) read.windows.emplace_back(std::move(e));
    }
  }

  const std::unordered_set<AXUIElementWrapper> known(previous.begin(), previous.end());
  read.candidates = previous;
  for (const auto& w : read.windows) {
    if (!known.count(w)) read.candidates.push_back(w);
  }

  std::unordered_set<std::uint32_t> seenIDs;
  bool lostAKnownWindow = false;
  for (std::size_t i = 0; i < read.candidates.size(); ++i) {
    const AXUIElementData data = factory.controller(read.candidates[i]).data();
    if (!data.windowID) {
      if (i < previous.size()) lostAKnownWindow = true;
      continue;
    }
    if (!seenIDs.insert(*data.windowID).second) continue;
    if (!isAcceptedSubrole(data.subrole)) continue;
    read.kept.push_back(read.candidates[i]);
  }
  // Known windows that stopped giving their number either closed or belong
  // to an application that stopped answering halfway; only the first may
  // forget them.
  if (lostAKnownWindow && !applicationAnswers(pid)) read.answered = false;
  return read;
}

conc::ContinuationAwaiter<WindowListRead> readWindowLists(pid_t pid, Wrappers previous) {
  return conc::withCheckedContinuation<WindowListRead>(
      [pid, previous = std::move(previous)](conc::CheckedContinuation<WindowListRead> continuation) {
        AXUIElementContext::shared().perform(
            [pid, previous, continuation](AXUIElementContext::ControllerFactory& factory) {
              WindowListRead read = readWindowListsNow(pid, previous, factory);
              AXUIElementContext::returnToMain(
                  [continuation, read = std::move(read)]() mutable { continuation.resume(std::move(read)); });
            });
      });
}

// ---------------------------------------------------------------- summaries

// On the Accessibility queue. `notAnswering` is set when the window's
// application does not answer, so that the caller can stop asking it.
std::optional<WindowSummary> summarize(const AXUIElementWrapper& element, const ScreenAndSpaceCollection& collection,
                                       bool includeThumbnail, bool* notAnswering, std::size_t windowCount = 1) {
  const AXUIElementData data = AXUIElementController(element.element).data();
  if (!data.windowID) {
    if (notAnswering) {
      ax::CGWindowID ignored = 0;
      *notAnswering = ax::_AXUIElementGetWindow(element.element, &ignored) == ax::kAXErrorCannotComplete;
    }
    return std::nullopt;
  }
  const cgs::CGSConnectionID connection = cgs::CGSMainConnectionID();
  std::vector<std::uint64_t> spaceIDs;
  const ns::Value windowList(ns::Array{ns::Value(static_cast<std::uint32_t>(*data.windowID))});
  if (auto answer = cgs::CGSCopySpacesForWindows(connection, kWindowSpacesMask, windowList); answer && answer->array()) {
    for (const auto& v : *answer->array()) {
      if (!v.isInteger() || (v.isInt() && *v.asInt64() < 0)) continue;
      spaceIDs.push_back(*v.asUInt64());
    }
  }

  std::optional<SpaceSummary> space = collection.space(spaceIDs);
  std::optional<ScreenSummary> screen;
  if (space) {
    // The screen of the chosen Space itself, so the two never name different displays.
    screen = collection.screen({space->id});
  } else {
    screen = collection.screen(spaceIDs);
  }
  if (!screen) {
    auto main = appkit::NSScreen::mainScreen();
    if (!main) return std::nullopt;  // nowhere to show it
    screen = ApplicationController::fallbackScreen(std::move(main));
  }

  WindowSummary summary{element, space.value_or(ApplicationController::fallbackSpace()), std::move(*screen)};
  summary.frame = data.frame;
  summary.title = data.title.value_or("");
  summary.windowID = *data.windowID;
  summary.minimized = data.minimized.value_or(false);
  if (includeThumbnail) {
    const CGSize windowSize = data.frame ? data.frame->size : CGSize{};
    summary.thumbnailImage = ApplicationController::captureThumbnail(
        *data.windowID, ApplicationController::thumbnailPixelSize(windowSize, windowCount));
  }
  summary.isMain = data.isMain.value_or(false);
  summary.isHidden = data.hidden.value_or(false);
  summary.isResizable = data.resizable.value_or(false);
  return summary;
}

conc::ContinuationAwaiter<std::vector<WindowSummary>> summarizeAll(
    Wrappers elements, std::shared_ptr<const ScreenAndSpaceCollection> collection) {
  using Result = std::vector<WindowSummary>;
  return conc::withCheckedContinuation<Result>(
      [elements = std::move(elements), collection = std::move(collection)](conc::CheckedContinuation<Result> c) {
        AXUIElementContext::shared().perform([elements, collection, c](AXUIElementContext::ControllerFactory&) {
          Result summaries;
          // An application that does not answer costs one call, not one per attribute and window.
          const std::optional<pid_t> pid = elements.empty() ? std::nullopt : pidOf(elements.front());
          if (!pid || applicationAnswers(*pid)) {
            summaries.reserve(elements.size());
            for (const auto& element : elements) {
              bool notAnswering = false;
              auto summary = summarize(element, *collection, true, &notAnswering, elements.size());
              if (summary) summaries.push_back(std::move(*summary));
              if (notAnswering) break;
            }
          }
          AXUIElementContext::returnToMain(
              [c, summaries = std::move(summaries)]() mutable { c.resume(std::move(summaries)); });
        });
      });
}

conc::ContinuationAwaiter<std::optional<WindowSummary>> summarizeOne(
    AXUIElementWrapper element, std::shared_ptr<const ScreenAndSpaceCollection> collection, bool includeThumbnail) {
  using Result = std::optional<WindowSummary>;
  return conc::withCheckedContinuation<Result>([element = std::move(element), collection = std::move(collection),
                                                includeThumbnail](conc::CheckedContinuation<Result> c) {
    AXUIElementContext::shared().perform([element, collection, includeThumbnail, c](AXUIElementContext::ControllerFactory&) {
      Result summary = ApplicationController::makeWindowSummary(element, *collection, includeThumbnail);
      AXUIElementContext::returnToMain([c, summary = std::move(summary)]() mutable { c.resume(std::move(summary)); });
    });
  });
}

// ---------------------------------------------------------------- actions

conc::ContinuationAwaiter<std::optional<AXUIElementWrapper>> readFocusedWindow(pid_t pid) {
  using Result = std::optional<AXUIElementWrapper>;
  return conc::withCheckedContinuation<Result>([pid](conc::CheckedContinuation<Result> c) {
    AXUIElementContext::shared().perform([pid, c](AXUIElementContext::ControllerFactory& factory) {
      Result focused = factory.controller(ax::AXUIElementCreateApplication(pid))
                           .elementAttribute(ax::NSAccessibilityFocusedWindowAttribute);
      if (focused && !factory.controller(*focused).subroleAttribute(ax::NSAccessibilitySubroleAttribute)) {
        focused.reset();
      }
      AXUIElementContext::returnToMain([c, focused] { c.resume(focused); });
    });
  });
}

conc::ContinuationAwaiter<Wrappers> minimizeWindows(Wrappers elements) {
  return conc::withCheckedContinuation<Wrappers>([elements = std::move(elements)](conc::CheckedContinuation<Wrappers> c) {
    AXUIElementContext::shared().perform([elements, c](AXUIElementContext::ControllerFactory& factory) {
      Wrappers minimized;
      for (const auto& element : elements) {
        const AXUIElementController window = factory.controller(element);
        ns::Value value;
        const ax::AXError error =
            ax::AXUIElementCopyAttributeValue(window.element(), ax::NSAccessibilityMinimizedAttribute, &value);
        // The rest of an application that stopped answering would fail the same way.
        if (error == ax::kAXErrorCannotComplete) break;
        if (error != ax::kAXErrorSuccess || boolValue(value) != false) continue;
        window.setMinimized(true);
        minimized.push_back(element);
      }
      AXUIElementContext::returnToMain([c, minimized = std::move(minimized)]() mutable { c.resume(std::move(minimized)); });
    });
  });
}

// Un-minimizes the windows (the reverse of the list, the target last), lets
// them settle for 0.2 s and raises the target.
conc::ContinuationAwaiter<void> restoreWindows(Wrappers remembered, std::optional<AXUIElementWrapper> target) {
  return conc::withCheckedContinuation<void>(
      [remembered = std::move(remembered), target = std::move(target)](conc::CheckedContinuation<void> c) {
        AXUIElementContext::shared().perform([remembered, target, c](AXUIElementContext::ControllerFactory& factory) {
          Wrappers order;
          order.reserve(remembered.size());
          for (auto it = remembered.rbegin(); it != remembered.rend(); ++it) {
            if (!(target && *it == *target)) order.push_back(*it);
          }
          if (target && containsElement(remembered, *target)) order.push_back(*target);
          for (const auto& window : order) factory.controller(window).setMinimized(false);
          AXUIElementDispatchQueue::pause(0.2);
          if (target) factory.controller(*target).raise();
          AXUIElementContext::returnToMain([c] { c.resume(); });
        });
      });
}

}  // namespace

// ---------------------------------------------------------------- creation

ApplicationController::ApplicationController(std::shared_ptr<appkit::NSRunningApplication> runningApplication)
    : runningApplication(std::move(runningApplication)) {}

ApplicationController::~ApplicationController() = default;

std::shared_ptr<ApplicationController> ApplicationController::make(
    std::shared_ptr<appkit::NSRunningApplication> runningApplication) {
  std::shared_ptr<ApplicationController> controller(new ApplicationController(std::move(runningApplication)));
  const pid_t pid = controller->runningApplication->processIdentifier();
  controller->axObserverWrapper = std::make_unique<AXObserverWrapper>(pid, ax::AXUIElementCreateApplication(pid));
  controller->axObserverWrapper->delegate = std::static_pointer_cast<AXObserverWrapperDelegate>(controller);
  controller->axObserverWrapper->start();
  return controller;
}

bool ApplicationController::isFinder() const {
  const auto& identifier = runningApplication->bundleIdentifier();
  return identifier && *identifier == kFinderBundleIdentifier;
}

// ---------------------------------------------------------------- window lists

conc::Task<void> ApplicationController::updateElements() { return updateElementsOf(shared_from_this()); }

conc::Task<void> ApplicationController::updateElementsOf(std::shared_ptr<ApplicationController> self) {
  self->log([&self] { return diagnostics::messages::updateElements(self->bundleIdentifier()); });
  const pid_t pid = self->runningApplication->processIdentifier();
  auto read = readWindowLists(pid, self->allWindowElements);
  WindowListRead result = co_await read;
  if (!result.answered) co_return;  // keep what is known until the application answers again

  self->currentWindowElements = std::move(result.windows);
  // Windows that an overlapping update learned after this one took its list
  // were not looked at here; they stay, after the ones this update kept.
  Wrappers merged = std::move(result.kept);
  const std::unordered_set<AXUIElementWrapper> looked(result.candidates.begin(), result.candidates.end());
  for (const auto& element : self->allWindowElements) {
    if (!looked.count(element) && !containsElement(merged, element)) merged.push_back(element);
  }
  self->allWindowElements = std::move(merged);
}

// ---------------------------------------------------------------- summaries

SpaceSummary ApplicationController::fallbackSpace() {
  SpaceSummary space;
  space.id = 0;
  space.userSpaceNumber = 1;
  space.sortOrder = 0;
  space.type = CGSSpaceType::user;
  space.isCurrentSpace = true;
  return space;
}

ScreenSummary ApplicationController::fallbackScreen(std::shared_ptr<appkit::NSScreen> mainScreen) {
  ScreenSummary screen;
  screen.id = "";
  screen.screen = std::move(mainScreen);
  screen.isCurrentDisplay = true;
  screen.spaces = {fallbackSpace()};
  return screen;
}

conc::Task<std::optional<ApplicationSummary>> ApplicationController::getApplicationSummary() {
  return applicationSummaryOf(shared_from_this());
}

conc::Task<std::optional<ApplicationSummary>> ApplicationController::applicationSummaryOf(
    std::shared_ptr<ApplicationController> self) {
  self->log([&self] { return diagnostics::messages::getApplicationSummary(self->bundleIdentifier()); });
  std::shared_ptr<const ScreenAndSpaceCollection> collection = ScreenAndSpaceRepository::getScreensAndSpaces();
  if (!collection) co_return std::nullopt;

  auto update = self->updateElements();
  co_await std::move(update);
  auto read = self->getWindows(collection);
  std::vector<WindowSummary> windows = co_await std::move(read);

  std::stable_sort(windows.begin(), windows.end(), [](const WindowSummary& a, const WindowSummary& b) {
    return a.space.sortOrder < b.space.sortOrder;
  });

  ApplicationSummary summary;
  const auto& application = *self->runningApplication;
  summary.title = application.localizedName().value_or(application.description());
  summary.bundleID = application.bundleIdentifier().value_or(application.description());
  for (const ScreenSummary& screen : collection->screens()) {
    ApplicationSummaryScreen screenSummary{screen};
    for (const SpaceSummary& space : screen.spaces) {
      ApplicationSummarySpace spaceSummary{space};
      for (const WindowSummary& window : windows) {
        if (window.space.id == space.id) spaceSummary.windows.push_back(window);
      }
      if (!spaceSummary.windows.empty()) screenSummary.spaces.push_back(std::move(spaceSummary));
    }
    if (!screenSummary.spaces.empty()) summary.screens.push_back(std::move(screenSummary));
  }
  co_return summary;
}

conc::Task<std::vector<WindowSummary>> ApplicationController::getWindowSummaries(
    std::shared_ptr<const ScreenAndSpaceCollection> screenAndSpaceCollection) {
  return windowSummariesOf(shared_from_this(), std::move(screenAndSpaceCollection));
}

conc::Task<std::vector<WindowSummary>> ApplicationController::windowSummariesOf(
    std::shared_ptr<ApplicationController> self, std::shared_ptr<const ScreenAndSpaceCollection> collection) {
  auto update = self->updateElements();
  co_await std::move(update);
  auto read = self->getWindows(collection);
  co_return co_await std::move(read);
}

conc::Task<std::vector<WindowSummary>> ApplicationController::getWindows(
    std::shared_ptr<const ScreenAndSpaceCollection> screenAndSpaceCollection) {
  return windowsOf(allWindowElements, std::move(screenAndSpaceCollection));
}

conc::Task<std::vector<WindowSummary>> ApplicationController::windowsOf(
    std::vector<AXUIElementWrapper> elements, std::shared_ptr<const ScreenAndSpaceCollection> collection) {
  if (!collection) co_return std::vector<WindowSummary>{};
  auto job = summarizeAll(std::move(elements), std::move(collection));
  co_return co_await job;
}

conc::Task<std::optional<WindowSummary>> ApplicationController::getWindowSummary(
    AXUIElementWrapper element, std::shared_ptr<const ScreenAndSpaceCollection> screenAndSpaceCollection,
    bool includeThumbnail) {
  return windowSummaryOf(std::move(element), std::move(screenAndSpaceCollection), includeThumbnail);
}

conc::Task<std::optional<WindowSummary>> ApplicationController::windowSummaryOf(
    AXUIElementWrapper element, std::shared_ptr<const ScreenAndSpaceCollection> collection, bool includeThumbnail) {
  if (!collection) co_return std::nullopt;
  auto job = summarizeOne(std::move(element), std::move(collection), includeThumbnail);
  co_return co_await job;
}

std::optional<WindowSummary> ApplicationController::makeWindowSummary(const AXUIElementWrapper& element,
                                                                      const ScreenAndSpaceCollection& collection,
                                                                      bool includeThumbnail) {
  return summarize(element, collection, includeThumbnail, nullptr);
}

CGSize ApplicationController::thumbnailPixelSize(CGSize windowSize, std::size_t windowCount) {
  double width = windowSize.width > 0 ? windowSize.width : kThumbnailMaximumPixels;
  double height = windowSize.height > 0 ? windowSize.height : kThumbnailMaximumPixels;
  double k = std::min({1.0, kThumbnailMaximumPixels / width, kThumbnailMaximumPixels / height});
  const double share = kThumbnailPixelBudget / static_cast<double>(std::max<std::size_t>(windowCount, 1));
  if (width * height * k * k > share) k = std::sqrt(share / (width * height));
  return {std::max(1.0, std::ceil(width * k)), std::max(1.0, std::ceil(height * k))};
}

std::optional<img::Image> ApplicationController::captureThumbnail(std::uint32_t windowID, CGSize maximumPixelSize) {
  const cgs::CGWindowID list[1] = {windowID};
  std::vector<std::pair<std::size_t, std::size_t>> fullSizes;
  auto images = cgs::CGSHWCaptureWindowListFitting(cgs::CGSMainConnectionID(), list, 1, kThumbnailCaptureOptions,
                                                   static_cast<std::size_t>(maximumPixelSize.width),
                                                   static_cast<std::size_t>(maximumPixelSize.height), &fullSizes);
  if (!images || images->empty() || !images->front() || fullSizes.empty()) return std::nullopt;
  // The thumbnail keeps the size of the whole capture in points; only its pixels are fewer.
  img::Image thumbnail(img::Size{static_cast<double>(fullSizes.front().first),
                                 static_cast<double>(fullSizes.front().second)});
  thumbnail.addRepresentation(images->front());
  return thumbnail;
}

// ---------------------------------------------------------------- actions

conc::Task<std::optional<AXUIElementWrapper>> ApplicationController::getFocusedWindow() {
  return focusedWindowOf(runningApplication->processIdentifier());
}

conc::Task<std::optional<AXUIElementWrapper>> ApplicationController::focusedWindowOf(pid_t pid) {
  auto job = readFocusedWindow(pid);
  co_return co_await job;
}

conc::Task<void> ApplicationController::activate(AXUIElementWrapper window) {
  return activateIn(shared_from_this(), std::move(window));
}

conc::Task<void> ApplicationController::activateIn(std::shared_ptr<ApplicationController> self,
                                                   AXUIElementWrapper window) {
  if (containsElement(self->minimizedElements, window)) {
    window.unminimize();
    std::erase(self->minimizedElements, window);
  }
  window.raise();
  std::optional<ns::URL> url = self->dockBundleURL ? self->dockBundleURL : self->runningApplication->bundleURL();
  if (url) {
    appkit::NSWorkspace::sharedWorkspace()->openURL(*url);
    window.raise();
  }
  co_return;
}

void ApplicationController::hide() {
  runningApplication->hide();
  if (!MorvalentDefaults::standard().minimizeFinderWindowsEnabled() || !isFinder()) return;
  std::weak_ptr<ApplicationController> weak = weak_from_this();
  conc::spawnOnMain([weak]() -> conc::Task<void> {
    auto self = weak.lock();
    if (!self) co_return;
    auto minimize = self->minimizeAndRememberWindows();
    co_await std::move(minimize);
  });
}

conc::Task<void> ApplicationController::minimizeAndRememberWindows() { return minimizeAndRememberIn(shared_from_this()); }

conc::Task<void> ApplicationController::minimizeAndRememberIn(std::shared_ptr<ApplicationController> self) {
  auto read = self->getFocusedWindow();
  std::optional<AXUIElementWrapper> focused = co_await std::move(read);
  if (focused) self->focusedWindowBeforeMinimize = std::move(focused);
  auto minimize = self->minimizeAllWindows();
  Wrappers minimized = co_await std::move(minimize);
  for (auto& window : minimized) {
    if (!containsElement(self->minimizedElements, window)) self->minimizedElements.push_back(std::move(window));
  }
}

conc::Task<std::vector<AXUIElementWrapper>> ApplicationController::minimizeAllWindows() {
  return minimizeAll(allWindowElements);
}

conc::Task<std::vector<AXUIElementWrapper>> ApplicationController::minimizeAll(std::vector<AXUIElementWrapper> elements) {
  auto job = minimizeWindows(std::move(elements));
  co_return co_await job;
}

conc::Task<void> ApplicationController::unminimizeIfNeeded() { return unminimizeIn(shared_from_this()); }

conc::Task<void> ApplicationController::unminimizeIn(std::shared_ptr<ApplicationController> self) {
  if (self->minimizedElements.empty()) co_return;
  auto read = self->getFocusedWindow();
  std::optional<AXUIElementWrapper> focused = co_await std::move(read);
  std::optional<AXUIElementWrapper> target = focused ? std::move(focused) : self->focusedWindowBeforeMinimize;
  // This restore takes what is remembered now; windows minimized while it
  // runs are remembered anew for the next one.
  Wrappers remembered = std::exchange(self->minimizedElements, {});
  self->focusedWindowBeforeMinimize.reset();
  if (remembered.empty()) co_return;  // another restore took them meanwhile
  auto job = restoreWindows(std::move(remembered), std::move(target));
  co_await job;
}

// ---------------------------------------------------------------- observer events

void ApplicationController::windowCreated(const ax::AXUIElementRef& /*element*/) {
  std::weak_ptr<ApplicationController> weak = weak_from_this();
  conc::spawnOnMain([weak]() -> conc::Task<void> {
    auto self = weak.lock();
    if (!self) co_return;
    auto update = self->updateElements();
    co_await std::move(update);
  });
}

void ApplicationController::elementDestroyed(const AXUIElementWrapper& element) {
  std::weak_ptr<ApplicationController> weak = weak_from_this();
  conc::spawnOnMain([weak, element]() -> conc::Task<void> {
    auto self = weak.lock();
    if (!self || !containsElement(self->allWindowElements, element)) co_return;
    auto update = self->updateElements();
    co_await std::move(update);
    if (auto delegate = self->delegate.lock()) delegate->applicationControllerWindowDidClose(self);
  });
}

void ApplicationController::focusedWindowChanged(const AXUIElementWrapper& element) {
  focusedWindowDidChangePublisher.send(element);
}
