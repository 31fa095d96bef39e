#include "app/snapping/ScreenResizeCorrector.h"

#include <typeinfo>

#include "app/model/ApplicationController.h"
#include "app/model/ApplicationRepository.h"
#include "app/model/AXUIElementWrapper.h"
#include "platform/appkit/NSScreen.h"
#include "platform/dispatch/Dispatch.h"

namespace {

constexpr double kLeftEdgeTolerance = 10;
constexpr double kWidthTolerance = 10;
constexpr double kHeightTolerance = 150;

// Lines written from the Accessibility queue, under this type's name.
template <class F>
void logLine(F&& makeMessage) {
  if (!diagnostics::isEnabled(typeid(ScreenResizeCorrector))) return;
  diagnostics::write(typeid(ScreenResizeCorrector), makeMessage());
}

std::string optionalBoolText(const std::optional<bool>& value) {
  return value ? std::string("Optional(") + diagnostics::text(*value) + ")" : std::string("nil");
}

// Up to `tolerance` below the reference size (bounds included) in width, and
// up to `heightTolerance` below it in height.
bool sizedTo(const CGSize& size, const CGSize& reference) {
  return size.width >= reference.width - kWidthTolerance && size.width <= reference.width &&
         size.height >= reference.height - kHeightTolerance && size.height <= reference.height;
}

}  // namespace

std::shared_ptr<ScreenResizeCorrector> ScreenResizeCorrector::make(std::shared_ptr<ApplicationRepository> repository) {
  return std::shared_ptr<ScreenResizeCorrector>(new ScreenResizeCorrector(std::move(repository)));
}

void ScreenResizeCorrector::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  log([enabled] { return diagnostics::messages::enabled(enabled); });
}

std::vector<CGRect> ScreenResizeCorrector::currentScreenRects() {
  std::vector<CGRect> rects;
  for (const auto& screen : appkit::NSScreen::screens()) rects.push_back(appkit::NSScreen::flippedRect(screen->visibleFrame()));
  return rects;
}

std::vector<ScreenResizeCorrector::Screen> ScreenResizeCorrector::currentScreens() {
  std::vector<Screen> screens;
  for (const auto& screen : appkit::NSScreen::screens()) {
    screens.push_back(Screen{screen->displayNumber(), appkit::NSScreen::flippedRect(screen->visibleFrame())});
  }
  return screens;
}

ScreenResizeCorrector::ScreenChange ScreenResizeCorrector::changeBetween(const std::vector<Screen>& before,
                                                                         const std::vector<Screen>& after) {
  ScreenChange change;
  for (const Screen& old : before) {
    const Screen* now = nullptr;
    for (const Screen& candidate : after) {
      const bool same = old.displayNumber ? candidate.displayNumber == old.displayNumber
                                          : !candidate.displayNumber && candidate.visibleFrame == old.visibleFrame;
      if (same) {
        now = &candidate;
        break;
      }
    }
    if (!now) {
      change.removed.push_back(old.visibleFrame.size);
    } else if (old.displayNumber && now->visibleFrame.size != old.visibleFrame.size) {
      change.resized[*old.displayNumber] = old.visibleFrame.size;
    }
  }
  return change;
}

std::vector<CGSize> ScreenResizeCorrector::ScreenChange::earlierSizes(
    const std::optional<std::uint32_t>& displayNumber) const {
  std::vector<CGSize> sizes = removed;
  if (displayNumber) {
    if (auto it = resized.find(*displayNumber); it != resized.end()) sizes.push_back(it->second);
  }
  return sizes;
}

void ScreenResizeCorrector::recordScreenRects() {
  const std::vector<CGRect> current = currentScreenRects();
  screenRects.insert(screenRects.end(), current.begin(), current.end());
  if (screenRects.size() >= kHistoryTrimThreshold) screenRects.erase(screenRects.begin());
  screens_ = currentScreens();
}

void ScreenResizeCorrector::screenParametersDidChange() {
  log([enabled = enabled_] { return diagnostics::messages::screenParametersDidChange(enabled); });
  if (pendingScreenParameterChange) return;
  if (!enabled_) {
    // Not acted on, but the next change is measured from here.
    screens_ = currentScreens();
    return;
  }
  pendingScreenParameterChange = true;
  checkedApplicationBundleIDs.clear();
  startProcessing(0);
}

void ScreenResizeCorrector::startProcessing(int attemptCount) {
  auto self = shared_from_this();
  conc::spawnOnMain([self, attemptCount]() -> conc::Task<void> {
    auto pass = self->processScreenParametersChange(attemptCount);
    co_await std::move(pass);
  });
}

conc::Task<void> ScreenResizeCorrector::processScreenParametersChange(int attemptCount) {
  return processIn(shared_from_this(), attemptCount);
}

conc::Task<void> ScreenResizeCorrector::processIn(std::shared_ptr<ScreenResizeCorrector> self, int attemptCount) {
  self->log([attemptCount] {
    return "processScreenParametersChange (attemptCount:" + std::to_string(attemptCount) + ")";
  });

  std::vector<ApplicationSummary> summaries;
  std::vector<std::shared_ptr<ApplicationController>> controllers;
  if (self->applicationRepository) controllers = self->applicationRepository->applicationControllers;
  for (const auto& controller : controllers) {
    if (!controller) continue;
    auto summarizing = controller->getApplicationSummary();
    std::optional<ApplicationSummary> summary = co_await std::move(summarizing);
    if (summary) summaries.push_back(std::move(*summary));
  }

  std::size_t windowCount = 0;
  for (const auto& summary : summaries) windowCount += summary.allWindows().size();

  if (windowCount >= kMinimumWindowCount) {
    const std::vector<CGRect> oldRects = self->screenRects;
    const ScreenChange change = changeBetween(self->screens_, currentScreens());
    self->recordScreenRects();
    self->lastChange_ = change;
    self->log([oldRects] { return diagnostics::messages::oldScreenRects(oldRects); });
    for (const auto& summary : summaries) {
      self->log([title = summary.title] { return diagnostics::messages::checkingWindowsFor(title); });
      self->queueCorrection(summary, change);
    }
    self->pendingScreenParameterChange = false;
    co_return;
  }

  self->log([windowCount] { return std::to_string(windowCount) + " windows found."; });
  if (attemptCount > kMaximumAttempt - 1) {
    self->log([] { return std::string("exceeded retry attempts"); });
    self->pendingScreenParameterChange = false;
    co_return;
  }
  self->log([] { return std::string("trying again..."); });
  // Still pending meanwhile, so further changes are ignored.
  dispatch::Queue::main()->asyncAfterDelay(kRetryDelay, [self, attemptCount] { self->startProcessing(attemptCount + 1); });
}

void ScreenResizeCorrector::checkApplicationIfNeeded(const ApplicationSummary& summary) {
  // Before any change, or after one that resized and removed nothing, no
  // window can have lost its screen's size: whatever size it has, the user gave it.
  if (!enabled_ || !lastChange_ || lastChange_->empty()) return;
  for (const auto& id : checkedApplicationBundleIDs) {
    if (id == summary.bundleID) return;
  }
  log([title = summary.title] { return diagnostics::messages::checkingWindowsFor(title); });
  queueCorrection(summary, *lastChange_);
  checkedApplicationBundleIDs.push_back(summary.bundleID);
}

void ScreenResizeCorrector::queueCorrection(const ApplicationSummary& summary, const ScreenChange& change) const {
  AXUIElementContext::shared().perform([windows = summary.allWindows(), change](AXUIElementContext::ControllerFactory&) {
    correctWindows(windows, change);
  });
}

void ScreenResizeCorrector::correctWindows(const std::vector<WindowSummary>& windows, const ScreenChange& change) {
  for (const WindowSummary& window : windows) {
    const AXUIElementController controller(window.element.element);
    const AXUIElementData data = controller.data();
    if (!data.frame) {
      logLine([&] { return diagnostics::messages::windowNoFrame(data.title); });
      continue;
    }
    const CGRect f = *data.frame;

    std::optional<CGRect> visible;
    std::optional<std::uint32_t> displayNumber;
    for (const auto& screen : appkit::NSScreen::screens()) {
      if (appkit::NSScreen::flippedRect(screen->frame()).contains(f.origin)) {
        visible = appkit::NSScreen::flippedRect(screen->visibleFrame());
        displayNumber = screen->displayNumber();
        break;
      }
    }
    if (!visible) {
      logLine([&] { return diagnostics::messages::windowNoScreen(data.title); });
      continue;
    }
    const CGRect v = *visible;

    const bool atLeftEdge = f.origin.x >= v.origin.x && f.origin.x <= v.origin.x + kLeftEdgeTolerance;
    const bool alreadyFits = sizedTo(f.size, v.size);
    bool sizedToEarlierScreen = false;
    for (const CGSize& s : change.earlierSizes(displayNumber)) {
      if (sizedTo(f.size, s)) {
        sizedToEarlierScreen = true;
        break;
      }
    }

    if (!(atLeftEdge && !alreadyFits && sizedToEarlierScreen)) {
      logLine([&] {
        return "[" + data.title.value_or("Untitled") + "] - Not resizing:" + diagnostics::text(f) +
               " Minimized:" + optionalBoolText(data.minimized) + " Hidden:" + optionalBoolText(data.hidden);
      });
      continue;
    }
    logLine([&] { return diagnostics::messages::windowMoved(data.title, f, v); });
    controller.setFrame(v);
  }
}
