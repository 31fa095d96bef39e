#pragma once
// The registry of the running applications the program works on: one
// ApplicationController per application with a regular activation policy plus
// one for the Dock, kept in step with launches and terminations; the
// frontmost application's controller; the six most recently active windows;
// the lookup of a Dock item's controller; show desktop (hide all, restore);
// and the collection of every application's windows, on the current Spaces
// and once across all Spaces.
//
// All state belongs to the main thread. Made by make() (two-phase), since
// setUp() registers the repository with the workspace through weak references.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/model/ApplicationController.h"
#include "app/model/DiagnosticLogging.h"
#include "platform/concurrency/Publisher.h"
#include "platform/concurrency/Task.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ObserverToken.h"
#include "platform/foundation/URL.h"

class ApplicationRepositoryDelegate {
 public:
  virtual ~ApplicationRepositoryDelegate() = default;
  // The Dock's controller (or none); told on every set, also when unchanged.
  virtual void applicationRepositoryDockControllerDidChange(const std::shared_ptr<ApplicationController>& controller) = 0;
};

class ApplicationRepository final : public DiagnosticLogging,
                                    public std::enable_shared_from_this<ApplicationRepository> {
 public:
  static constexpr const char* kDockBundleIdentifier = "com.apple.dock";

  struct RecentActiveWindow {
    std::shared_ptr<ApplicationController> applicationController;
    std::optional<AXUIElementWrapper> element;  // its focused window then, when it could be read

    // Equal when the controllers' Dock bundle URLs are equal (two absent ones
    // too) and the elements are equal (two absent ones too).
    friend bool operator==(const RecentActiveWindow& a, const RecentActiveWindow& b);
  };

  // What the last hide-all hid.
  struct RecentlyHidden {
    std::vector<std::shared_ptr<ApplicationController>> applicationControllers;  // visible then
    std::vector<RecentActiveWindow> recentActiveWindows;                         // theirs, newest first
  };

  // The applications whose Dock item is matched by its title.
  static const std::vector<std::string>& titleMatchedBundleIdentifiers();
  static constexpr std::size_t kRecentActiveWindowLimit = 6;
  // How long the windows of other Spaces may stay members of a current Space
  // while every application reads them.
  static constexpr double kSpaceMembershipTimeLimit = 5.0;
  // The delays of hide-all's second pass and of its Finder step.
  static constexpr double kHidePassDelay = 0.05;

  // init()
  static std::shared_ptr<ApplicationRepository> make();

  ApplicationRepository(const ApplicationRepository&) = delete;
  ApplicationRepository& operator=(const ApplicationRepository&) = delete;

  std::weak_ptr<ApplicationRepositoryDelegate> delegate;
  std::vector<std::shared_ptr<ApplicationController>> applicationControllers;
  std::shared_ptr<ApplicationController> activeApplicationController;
  std::optional<conc::AnyCancellable> activeApplicationControllerCancellable;
  ns::ObserverToken activeApplicationObservation;
  std::vector<RecentActiveWindow> recentActiveWindows;  // newest first
  std::optional<RecentlyHidden> recentlyHidden;

  const std::shared_ptr<ApplicationController>& dockApplicationController() const { return dockApplicationController_; }
  // Stores the controller and tells the delegate, also when it did not change.
  void setDockApplicationController(std::shared_ptr<ApplicationController> controller);

  // Fills the controller list and starts all observation. Once, main thread.
  void setUp();

  // The workspace's notifications.
  void appDidLaunch(const ns::Notification& notification);
  void appDidTerminate(const ns::Notification& notification);
  void spaceDidChange(const ns::Notification& notification);

  // Records the active application's focused window; starts a task and returns.
  void recordRecentActiveWindow();

  // The controller of a Dock item, by its URL, else by its title for the
  // title-matched applications (which then remember the item's URL).
  std::shared_ptr<ApplicationController> applicationController(const ns::URL& forURL, const std::string& title);

  // ---------------------------------------------------------------- show desktop

  // Hides every application but this program and remembers what was visible.
  // Returns after the first pass; the second pass and the Finder step follow
  // on the main queue.
  void hideAllApplications();
  // Un-hides what the last hide-all hid and re-activates its recent windows,
  // oldest first. Starts a task and returns.
  void restoreHiddenApplications();
  // The records whose window is still on a current Space, oldest first.
  conc::Task<std::vector<RecentActiveWindow>> restorableWindows(
      std::vector<RecentActiveWindow> records, std::shared_ptr<const ScreenAndSpaceCollection> screenAndSpaceCollection);

  // ---------------------------------------------------------------- collecting windows

  // Every controller re-reads its windows, one after another.
  conc::Task<void> collectElementsInCurrentSpace();
  // The windows of the other Spaces are made members of a current Space for
  // the time of one collection, so that every controller learns them.
  conc::Task<void> collectElementsInAllSpaces();

 private:
  ApplicationRepository() = default;

  std::shared_ptr<ApplicationController> makeController(const std::shared_ptr<appkit::NSRunningApplication>& app) const;
  std::shared_ptr<ApplicationController> findDockController() const;
  void frontmostApplicationDidChange();
  // The recording steps; `endsPendingRestore` false for an activation this
  // program made itself.
  void recordRecentActiveWindow(bool endsPendingRestore);
  void hidePass(const std::vector<std::shared_ptr<ApplicationController>>& candidates);
  void activateFinderAfterHiding();

  static conc::Task<void> recordIn(std::shared_ptr<ApplicationRepository> self, bool endsPendingRestore);
  static conc::Task<void> restoreIn(std::shared_ptr<ApplicationRepository> self);
  static conc::Task<std::vector<RecentActiveWindow>> restorableIn(std::vector<RecentActiveWindow> records,
                                                                  std::shared_ptr<const ScreenAndSpaceCollection> collection);
  static conc::Task<void> collectCurrentIn(std::shared_ptr<ApplicationRepository> self);
  static conc::Task<void> collectAllIn(std::shared_ptr<ApplicationRepository> self);

  std::shared_ptr<ApplicationController> dockApplicationController_;
  std::vector<ns::ObserverToken> workspaceObservers_;
  // The application this program itself brought to the front at the end of a
  // hide-all, until the next change of the frontmost application.
  std::optional<pid_t> ownActivation_;
};
