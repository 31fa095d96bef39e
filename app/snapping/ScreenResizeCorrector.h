#pragma once
// Keeps windows that filled a screen fitted to it when displays change. It
// remembers the visible frames of the screens it has seen and the displays as
// they were at the last change; after a change of screen parameters a window
// with its left edge at the left edge of its screen is set to that screen's
// visible frame when it was sized to a display the change resized (the one it
// stands on) or removed (whose windows went elsewhere). Windows sized by hand
// on a display that stayed as it was are left alone, and nothing is touched
// before a change. The Dock preview asks it to check each application once
// after a change.
//
// Fields are touched on the main actor only; the per-window correction runs
// on the Accessibility queue with its own copies.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
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

  // One display: its number (absent when the screen does not say) and its
  // visible frame, top-left.
  struct Screen {
    std::optional<std::uint32_t> displayNumber;
    CGRect visibleFrame;
  };

  // What a change did to the displays: the visible sizes the displays it
  // removed had, and those the displays it resized had before, by number.
  struct ScreenChange {
    std::vector<CGSize> removed;
    std::map<std::uint32_t, CGSize> resized;

    bool empty() const { return removed.empty() && resized.empty(); }
    // The sizes a window on that display may have been fitted to.
    std::vector<CGSize> earlierSizes(const std::optional<std::uint32_t>& displayNumber) const;
  };

  // The displays as the corrector remembers them: made with the current ones.
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
  static std::vector<Screen> currentScreens();
  // Displays are matched by number, those without one by visible frame; a
  // display that only moved has not changed.
  static ScreenChange changeBetween(const std::vector<Screen>& before, const std::vector<Screen>& after);
  // Appends the current rectangles, then drops the oldest one when 21 or
  // more; the current displays become the ones the next change is measured from.
  virtual void recordScreenRects();
  // The last accepted change; none before the first.
  const std::optional<ScreenChange>& lastChange() const { return lastChange_; }
  virtual conc::Task<void> processScreenParametersChange(int attemptCount);
  virtual void checkApplicationIfNeeded(const ApplicationSummary& summary);
  virtual void screenParametersDidChange();

  // On the Accessibility queue: fits each window that was sized to a display
  // the change resized or removed to the visible frame of the screen under
  // its top-left corner.
  static void correctWindows(const std::vector<WindowSummary>& windows, const ScreenChange& change);

  virtual ~ScreenResizeCorrector() = default;

 protected:
  explicit ScreenResizeCorrector(std::shared_ptr<ApplicationRepository> repository)
      : applicationRepository(std::move(repository)), screens_(currentScreens()) {}

 private:
  static conc::Task<void> processIn(std::shared_ptr<ScreenResizeCorrector> self, int attemptCount);
  void startProcessing(int attemptCount);
  void queueCorrection(const ApplicationSummary& summary, const ScreenChange& change) const;

  bool enabled_ = false;
  // The displays as they were before the change being waited for.
  std::vector<Screen> screens_;
  std::optional<ScreenChange> lastChange_;
};
