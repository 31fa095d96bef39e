#pragma once
// One running application: its window elements in three lists, its own
// Accessibility observer, the publisher of focused-window changes, its window
// summaries with thumbnails and the actions on its windows.
//
// Everything here runs on the main actor. Every Accessibility read or write is
// a job on the one serial Accessibility queue; an operation that needs a
// result suspends until the job hands it back and continues on the main
// queue. Jobs never touch the controller: they get copies of what they need
// and their results are stored when the caller resumes.
//
// Made by make() (two-phase): the controller registers itself as the weak
// delegate of its observer once it is owned by a shared_ptr.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/model/AXObserverWrapper.h"
#include "app/model/AXUIElementWrapper.h"
#include "app/model/DiagnosticLogging.h"
#include "app/model/ScreenAndSpaceRepository.h"
#include "app/model/WindowSummary.h"
#include "platform/appkit/NSRunningApplication.h"
#include "platform/concurrency/Publisher.h"
#include "platform/concurrency/Task.h"
#include "platform/foundation/URL.h"
#include "platform/image/Image.h"

class ApplicationController;

class ApplicationControllerDelegate {
 public:
  virtual ~ApplicationControllerDelegate() = default;
  // One of the controller's known windows was destroyed and the windows have
  // been read again. Main actor.
  virtual void applicationControllerWindowDidClose(const std::shared_ptr<ApplicationController>& controller) = 0;
};

class ApplicationController final : public AXObserverWrapperDelegate,
                                    public DiagnosticLogging,
                                    public std::enable_shared_from_this<ApplicationController> {
 public:
  static constexpr const char* kFinderBundleIdentifier = "com.apple.finder";

  // init(runningApplication:): the controller with its observer started. Main thread.
  static std::shared_ptr<ApplicationController> make(std::shared_ptr<appkit::NSRunningApplication> runningApplication);

  ApplicationController(const ApplicationController&) = delete;
  ApplicationController& operator=(const ApplicationController&) = delete;
  ~ApplicationController() override;

  std::weak_ptr<ApplicationControllerDelegate> delegate;
  const std::shared_ptr<appkit::NSRunningApplication> runningApplication;
  // The application's new focused window at each change; never completes.
  conc::PassthroughSubject<AXUIElementWrapper> focusedWindowDidChangePublisher;
  std::unique_ptr<AXObserverWrapper> axObserverWrapper;
  // Every standard window and dialog seen on any Space that still exists.
  std::vector<AXUIElementWrapper> allWindowElements;
  // The application's windows attribute as last read.
  std::vector<AXUIElementWrapper> currentWindowElements;
  // The windows this program minimized and has not restored yet.
  std::vector<AXUIElementWrapper> minimizedElements;
  std::optional<AXUIElementWrapper> focusedWindowBeforeMinimize;
  // The URL of the Dock item matched to this application by title, if any.
  std::optional<ns::URL> dockBundleURL;

  bool isFinder() const;

  // ---------------------------------------------------------------- window lists

  // Re-reads the windows. When it returns, both lists have been replaced,
  // unless the application did not answer at all: then both are kept.
  conc::Task<void> updateElements();

  // ---------------------------------------------------------------- summaries

  // The windows with thumbnails, grouped by screen and Space; nothing when the
  // displays and Spaces cannot be read (the windows are then not re-read).
  conc::Task<std::optional<ApplicationSummary>> getApplicationSummary();
  // Re-reads the windows and summarizes them, in the order of allWindowElements.
  conc::Task<std::vector<WindowSummary>> getWindowSummaries(
      std::shared_ptr<const ScreenAndSpaceCollection> screenAndSpaceCollection);
  // Summarizes allWindowElements as they are, with thumbnails.
  conc::Task<std::vector<WindowSummary>> getWindows(
      std::shared_ptr<const ScreenAndSpaceCollection> screenAndSpaceCollection);
  conc::Task<std::optional<WindowSummary>> getWindowSummary(
      AXUIElementWrapper element, std::shared_ptr<const ScreenAndSpaceCollection> screenAndSpaceCollection,
      bool includeThumbnail);

  // On the Accessibility queue only.
  static std::optional<WindowSummary> makeWindowSummary(const AXUIElementWrapper& element,
                                                        const ScreenAndSpaceCollection& collection,
                                                        bool includeThumbnail);
  // The capture comes out scaled down to fit `maximumPixelSize`; its size in
  // points stays the whole capture's (one pixel per point).
  static std::optional<img::Image> captureThumbnail(std::uint32_t windowID, CGSize maximumPixelSize);

  // A preview cell is at most 240 points each way; a thumbnail is captured at
  // no more than twice that. The thumbnails of one summary share a budget of
  // pixels (about 46 MiB), as the preview shrinks its cells to fit many.
  static constexpr double kThumbnailMaximumPixels = 480;
  static constexpr double kThumbnailPixelBudget = 12'000'000;
  // The largest capture of a window of that size (in points) among `windowCount`.
  static CGSize thumbnailPixelSize(CGSize windowSize, std::size_t windowCount);

  // The Space of a window whose Spaces are not in the collection, and the
  // screen of a window none of whose Spaces is on a screen.
  static SpaceSummary fallbackSpace();
  static ScreenSummary fallbackScreen(std::shared_ptr<appkit::NSScreen> mainScreen);

  // ---------------------------------------------------------------- actions

  conc::Task<std::optional<AXUIElementWrapper>> getFocusedWindow();
  // Un-minimizes the window when this program minimized it, raises it, opens
  // the application and raises it again. Returns once the jobs are queued.
  conc::Task<void> activate(AXUIElementWrapper window);
  // Hides the application; Finder also minimizes its windows when the
  // preference says so.
  void hide();
  conc::Task<void> minimizeAndRememberWindows();
  // The windows it minimized, in the order of allWindowElements.
  conc::Task<std::vector<AXUIElementWrapper>> minimizeAllWindows();
  // Restores the windows this program minimized and raises the focused one.
  conc::Task<void> unminimizeIfNeeded();

  // ---------------------------------------------------------------- observer events

  void windowCreated(const ax::AXUIElementRef& element) override;
  void elementDestroyed(const AXUIElementWrapper& element) override;
  void focusedWindowChanged(const AXUIElementWrapper& element) override;

 private:
  explicit ApplicationController(std::shared_ptr<appkit::NSRunningApplication> runningApplication);

  std::optional<std::string> bundleIdentifier() const { return runningApplication->bundleIdentifier(); }

  static conc::Task<void> updateElementsOf(std::shared_ptr<ApplicationController> self);
  static conc::Task<std::optional<ApplicationSummary>> applicationSummaryOf(std::shared_ptr<ApplicationController> self);
  static conc::Task<std::vector<WindowSummary>> windowSummariesOf(
      std::shared_ptr<ApplicationController> self, std::shared_ptr<const ScreenAndSpaceCollection> collection);
  static conc::Task<std::vector<WindowSummary>> windowsOf(std::vector<AXUIElementWrapper> elements,
                                                          std::shared_ptr<const ScreenAndSpaceCollection> collection);
  static conc::Task<std::optional<WindowSummary>> windowSummaryOf(
      AXUIElementWrapper element, std::shared_ptr<const ScreenAndSpaceCollection> collection, bool includeThumbnail);
  static conc::Task<std::optional<AXUIElementWrapper>> focusedWindowOf(pid_t pid);
  static conc::Task<void> activateIn(std::shared_ptr<ApplicationController> self, AXUIElementWrapper window);
  static conc::Task<void> minimizeAndRememberIn(std::shared_ptr<ApplicationController> self);
  static conc::Task<std::vector<AXUIElementWrapper>> minimizeAll(std::vector<AXUIElementWrapper> elements);
  static conc::Task<void> unminimizeIn(std::shared_ptr<ApplicationController> self);
};
