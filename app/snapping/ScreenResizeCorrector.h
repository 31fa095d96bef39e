#pragma once
// Keeps windows that filled a screen fitted to it when displays change. It
// remembers the visible frames of the screens it has seen; after a change of
// screen parameters every window sized to one of those earlier frames, with
// its left edge at the left edge of its screen, is set to the visible frame of
// the screen it now stands on. The Dock preview asks it to check each
// application once between changes.
//
// Fields are touched on the main actor only; the per-window correction runs
// on the Accessibility queue with its own copies.

#include <memory>
#include <string>
#include <vector>

#include "app/model/DiagnosticLogging.h"
#include "app/model/WindowSummary.h"
#include "platform/concurrency/Task.h"
#include "platform/foundation/Geometry.h"

class ApplicationRepository;

class ScreenResizeCorrector : public DiagnosticLogging, public std::enable_shared_from_this<ScreenResizeCorrector> {
 public:
  // A pass needs at least this many windows; fewer means the window server is still settling.
  static constexpr std::size_t kMinimumWindowCount = 3;
  static constexpr int kMaximumAttempt = 20;
  static constexpr double kRetryDelay = 0.5;
  static constexpr std::size_t kHistoryTrimThreshold = 21;

  static std::shared_ptr<ScreenResizeCorrector> make(std::shared_ptr<ApplicationRepository> applicationRepository);
  ScreenResizeCorrector(const ScreenResizeCorrector&) = delete;
  ScreenResizeCorrector& operator=(const ScreenResizeCorrector&) = delete;

  std::vector<CGRect> screenRects;  // top-left visible frames seen, oldest first
  std::vector<std::string> checkedApplicationBundleIDs;
  std::shared_ptr<ApplicationRepository> applicationRepository;
  bool pendingScreenParameterChange = false;

  bool enabled() const { return enabled_; }
  // A different value logs "enabled:" with it.
  void setEnabled(bool enabled);

  // The visible frame of every screen, in NSScreen order, top-left.
  static std::vector<CGRect> currentScreenRects();
  // Appends the current rectangles, then drops the oldest one when 21 or more.
  virtual void recordScreenRects();
  virtual conc::Task<void> processScreenParametersChange(int attemptCount);
  virtual void checkApplicationIfNeeded(const ApplicationSummary& summary);
  virtual void screenParametersDidChange();

  // On the Accessibility queue: fits each window that was sized to one of
  // `rects` to the visible frame of the screen under its top-left corner.
  static void correctWindows(const std::vector<WindowSummary>& windows, const std::vector<CGRect>& rects);

  virtual ~ScreenResizeCorrector() = default;

 protected:
  explicit ScreenResizeCorrector(std::shared_ptr<ApplicationRepository> repository)
      : applicationRepository(std::move(repository)) {}

 private:
  static conc::Task<void> processIn(std::shared_ptr<ScreenResizeCorrector> self, int attemptCount);
  void startProcessing(int attemptCount);
  void queueCorrection(const ApplicationSummary& summary, const std::vector<CGRect>& rects) const;

  bool enabled_ = false;
};
