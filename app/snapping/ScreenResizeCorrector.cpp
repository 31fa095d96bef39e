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

void ScreenResizeCorrector::recordScreenRects() {
  const std::vector<CGRect> current = currentScreenRects();
  screenRects.insert(screenRects.end(), current.begin(), current.end());
  if (screenRects.size() >= kHistoryTrimThreshold) screenRects.erase(screenRects.begin());
}

void ScreenResizeCorrector::screenParametersDidChange() {
  log([enabled = enabled_] { return diagnostics::messages::screenParametersDidChange(enabled); });
  if (!enabled_ || pendingScreenParameterChange) return;
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
    self->recordScreenRects();
    self->log([oldRects] { return diagnostics::messages::oldScreenRects(oldRects); });
    for (const auto& summary : summaries) {
      self->log([title = summary.title] { return diagnostics::messages::checkingWindowsFor(title); });
      self->queueCorrection(summary, oldRects);
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
  if (!enabled_) return;
  for (const auto& id : checkedApplicationBundleIDs) {
    if (id == summary.bundleID) return;
  }
  log([title = summary.title] { return diagnostics::messages::checkingWindowsFor(title); });
  queueCorrection(summary, screenRects);
  checkedApplicationBundleIDs.push_back(summary.bundleID);
}

void ScreenResizeCorrector::queueCorrection(const ApplicationSummary& summary, const std::vector<CGRect>& rects) const {
  AXUIElementContext::shared().perform([windows = summary.allWindows(), rects](AXUIElementContext::ControllerFactory&) {
    correctWindows(windows, rects);
  });
}

void ScreenResizeCorrector::correctWindows(const std::vector<WindowSummary>& windows, const std::vector<CGRect>& rects) {
  for (const WindowSummary& window : windows) {
    const AXUIElementController controller(window.element.element);
    const AXUIElementData data = controller.data();
    if (!data.frame) {
      logLine([&] { return diagnostics::messages::windowNoFrame(data.title); });
      continue;
    }
    const CGRect f = *data.frame;

    std::optional<CGRect> visible;
    for (const auto& screen : appkit::NSScreen::screens()) {
      if (appkit::NSScreen::flippedRect(screen->frame()).contains(f.origin)) {
        visible = appkit::NSScreen::flippedRect(screen->visibleFrame());
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
    for (const CGRect& s : rects) {
      if (sizedTo(f.size, s.size)) {
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
