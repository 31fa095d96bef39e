#pragma once
// The state machine behind the Dock previews. It takes the mouse tracker's
// events, decides which Dock icon is hovered, shows that application's
// preview panel 0.5 s after the pointer came to rest on the icon and hides it
// 1.0 s after the pointer left the Dock and the panel; it widens the event tap
// to the whole session while a preview is pending or shown and narrows it to
// the Dock again afterwards, and keeps the panel in step with the presented
// application's windows and its now-playing track. It also carries out what
// the user does in the panel (select, close, snap, swipe a window).
//
// It is the delegate of the repository (for the Dock's controller), of the
// mouse tracker, of the preview view, and of the presented application's
// controller only (for closed windows).
//
// Main thread only. Made by make() (two-phase): it registers itself with its
// collaborators through weak references.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/model/AXUIElementWrapper.h"
#include "app/model/ApplicationController.h"
#include "app/model/ApplicationRepository.h"
#include "app/model/DiagnosticLogging.h"
#include "app/model/WindowSummary.h"
#include "app/nowplaying/NowPlayingCoordinator.h"
#include "app/nowplaying/NowPlayingPublisher.h"
#include "app/previews/DockPreviewMouseTracker.h"
#include "app/previews/DockPreviewPresenter.h"
#include "app/previews/DockPreviewViewDelegate.h"
#include "app/previews/SingleCallDelayedTask.h"
#include "app/snapping/ScreenResizeCorrector.h"
#include "app/snapping/SnapController.h"
#include "platform/concurrency/Publisher.h"
#include "platform/concurrency/Task.h"
#include "platform/foundation/Geometry.h"
#include "platform/foundation/URL.h"

class DockPreviewCoordinator : public ApplicationRepositoryDelegate,
                               public ApplicationControllerDelegate,
                               public DockPreviewViewDelegate,
                               public DockPreviewMouseTrackerDelegate,
                               public DiagnosticLogging,
                               public std::enable_shared_from_this<DockPreviewCoordinator> {
 public:
  using TrackingMode = DockPreviewMouseTracker::TrackingMode;
  using MouseEvent = DockPreviewMouseTracker::MouseEvent;

  static constexpr double kShowDelay = 0.5;
  static constexpr double kHideDelay = 1.0;

  // One hovered or presented Dock icon. Equal when both hold the same
  // controller object and the same element object and equal URLs.
  struct DockIconApplication {
    std::shared_ptr<ApplicationController> controller;
    AXUIElementWrapper element;  // the Dock item
    ns::URL bundleURL;

    friend bool operator==(const DockIconApplication& a, const DockIconApplication& b) {
      return a.controller == b.controller && a.element.element == b.element.element && a.bundleURL == b.bundleURL;
    }
  };

  struct HoverState {
    enum class Kind { hoverOverDockIcon, none, hoverOverDock, hoverOverPreviewWindow, hoverOverScreen };
    Kind kind = Kind::none;
    std::optional<ns::URL> bundleURL{};  // hoverOverDockIcon

    static HoverState hoverOverDockIcon(ns::URL bundleURL) { return HoverState{Kind::hoverOverDockIcon, bundleURL}; }
    static HoverState none() { return HoverState{Kind::none}; }
    static HoverState hoverOverDock() { return HoverState{Kind::hoverOverDock}; }
    static HoverState hoverOverPreviewWindow() { return HoverState{Kind::hoverOverPreviewWindow}; }
    static HoverState hoverOverScreen() { return HoverState{Kind::hoverOverScreen}; }

    // The case, and for hoverOverDockIcon the URL.
    friend bool operator==(const HoverState& a, const HoverState& b) {
      return a.kind == b.kind && (a.kind != Kind::hoverOverDockIcon || a.bundleURL == b.bundleURL);
    }
    // The case name; "hoverOverDockIcon(bundleURL: <url>)" for the first case.
    std::string description() const;
  };

  // init(applicationRepository:snapController:screenResizeCorrector:nowPlayingCoordinator:)
  static std::shared_ptr<DockPreviewCoordinator> make(std::shared_ptr<ApplicationRepository> applicationRepository,
                                                      std::shared_ptr<SnapController> snapController,
                                                      std::shared_ptr<ScreenResizeCorrector> screenResizeCorrector,
                                                      std::shared_ptr<NowPlayingCoordinator> nowPlayingCoordinator);
  ~DockPreviewCoordinator() override;
  DockPreviewCoordinator(const DockPreviewCoordinator&) = delete;
  DockPreviewCoordinator& operator=(const DockPreviewCoordinator&) = delete;

  // ---------------------------------------------------------------- fields

  // The two delayed tasks, made on first use: the show task carries the
  // application it was scheduled for.
  SingleCallDelayedTask<DockIconApplication>& showTask();
  SingleCallDelayedTask<>& hideTask();

  const std::shared_ptr<ApplicationRepository> applicationRepository;
  const std::shared_ptr<SnapController> snapController;
  const std::shared_ptr<ScreenResizeCorrector> screenResizeCorrector;
  const std::shared_ptr<DockPreviewMouseTracker> mouseTracker;
  const std::shared_ptr<DockPreviewPresenter> presenter;
  const std::shared_ptr<NowPlayingCoordinator> nowPlayingCoordinator;

  const std::shared_ptr<ApplicationController>& dockController() const { return dockController_; }
  // Also hands the controller to the mouse tracker.
  void setDockController(std::shared_ptr<ApplicationController> controller);

  const HoverState& hoverState() const { return hoverState_; }
  // A different state is logged ("hoverState:").
  void setHoverState(HoverState state);

  bool enabled() const { return enabled_; }
  // Turning previews on selects the Dock-only tap; turning them off hides the
  // panel, forgets everything and stops the tap.
  void setEnabled(bool enabled);

  const std::optional<DockIconApplication>& hoveringDockIconApplication() const { return hoveringDockIconApplication_; }
  void setHoveringDockIconApplication(std::optional<DockIconApplication> application);

  const std::optional<DockIconApplication>& presentedDockIconApplication() const {
    return presentedDockIconApplication_;
  }
  // Hands the controller delegate role over to the new application's
  // controller; a change starts the presentation.
  void setPresentedDockIconApplication(std::optional<DockIconApplication> application);

  const std::shared_ptr<NowPlayingPublisher>& presentedNowPlayingPublisher() const {
    return presentedNowPlayingPublisher_;
  }
  // Every store rebuilds the subscription: each record of the publisher
  // refreshes the panel.
  void setPresentedNowPlayingPublisher(std::shared_ptr<NowPlayingPublisher> publisher);
  const std::optional<conc::AnyCancellable>& presentedNowPlayingPublisherCancellable() const {
    return presentedNowPlayingPublisherCancellable_;
  }

  // The presented Dock item's frame, top-left, kept for updates.
  std::optional<CGRect> presentedDockIconElementFrame;

  // Whether the preview panel is on screen (a fading panel still is).
  bool isPanelVisible() const;

  // ---------------------------------------------------------------- operations

  virtual void hoveringDockIconApplicationDidChange();
  // Both start a task on the main actor and return.
  virtual void presentedDockIconApplicationDidChange(bool animated);
  virtual void presentedDockIconApplicationDidUpdate(bool animated);
  virtual void show();
  virtual void cancelShow();
  virtual void hide(bool animated);
  virtual void scheduleHide();
  virtual void cancelHide();
  virtual void didMouseMoveOverDockIcon(const ns::URL& bundleURL, const std::string& title,
                                        const AXUIElementWrapper& element);
  virtual void didMouseMoveOverDockArea();
  // Starts a task on the main actor and returns.
  virtual void didClickOnDock();
  virtual void didClickOnScreen();
  virtual void didExitDock();
  // Re-arms the event tap.
  virtual void reset();

  // ---------------------------------------------------------------- delegates

  void applicationRepositoryDockControllerDidChange(const std::shared_ptr<ApplicationController>& controller) override;
  void applicationControllerWindowDidClose(const std::shared_ptr<ApplicationController>& controller) override;

  void mouseTrackerDidReceive(DockPreviewMouseTracker& tracker, const MouseEvent& event) override;
  bool mouseTrackerContainsPoint(DockPreviewMouseTracker& tracker, CGPoint point) override;

  // The preview view; each action starts its own task and returns at once.
  void previewHoverDidChange(bool hovering) override;
  void didClickOnThumbnail(const DockPreviewThumbnailContent& content) override;
  void didRightClickOnThumbnail(const DockPreviewThumbnailContent& content, bool activate) override;
  void didSwipeOnThumbnail(const DockPreviewThumbnailContent& content, std::shared_ptr<appkit::NSScreen> screen,
                           SnapAlignment alignment) override;
  void didHoverOnSnapButton(const DockPreviewThumbnailContent& content, std::shared_ptr<appkit::NSScreen> screen,
                            std::optional<SnapAlignment> alignment) override;
  void didClickOnSnapButton(const DockPreviewThumbnailContent& content, std::shared_ptr<appkit::NSScreen> screen,
                            SnapAlignment alignment) override;
  void didClickOnCloseButton(const DockPreviewThumbnailContent& content) override;
  void didClickMediaButton(MediaButton button) override;

  // ---------------------------------------------------------------- events

  // The usage events of a snap-button click and of a swipe to the alignment.
  static const char* snapButtonEventName(SnapAlignment alignment);
  static const char* swipeEventName(SnapAlignment alignment);
  // Sends the event with the thumbnail's display modes, only in analytics
  // mode 2 ("Automatic Analytics").
  static void record(const std::string& event, const DockPreviewThumbnailContent& content);

  // ---------------------------------------------------------------- diagnostics

  void logHoverState() const;
  void logHoveringApplicationDidChange(const std::optional<std::string>& bundleIdentifier) const;
  void logEnabled(bool value) const;
  void logPresentedApplicationDidChange(const std::optional<std::string>& bundleIdentifier) const;
  void logPresentedApplicationDidChangeDispatched(const std::optional<std::string>& bundleIdentifier) const;
  void logPresenting(const std::string& title) const;
  void logPresentedApplicationDidUpdate(const std::optional<std::string>& bundleIdentifier) const;
  void logUpdating(const std::string& title) const;
  void logHoverOnNewDockIcon(const std::optional<ns::URL>& bundleURL) const;
  // Written under the tracker's type name.
  void logTrackingMode(TrackingMode mode) const;

 protected:
  DockPreviewCoordinator(std::shared_ptr<ApplicationRepository> applicationRepository,
                         std::shared_ptr<SnapController> snapController,
                         std::shared_ptr<ScreenResizeCorrector> screenResizeCorrector,
                         std::shared_ptr<NowPlayingCoordinator> nowPlayingCoordinator);

 private:
  // The bundle identifier of the application's process, if any.
  static std::optional<std::string> bundleIdentifierOf(const std::optional<DockIconApplication>& application);
  void showTaskFired(const DockIconApplication& application);
  void setSnapModeNone();
  // Shows the summary above the stored Dock item frame on the screen under
  // the pointer; false when no screen holds the pointer.
  bool present(const ApplicationSummary& summary, const CGRect& dockItemFrame, bool animated);
  // Stores the presented application and hands the controller delegate role
  // over, without starting a presentation.
  void storePresentedDockIconApplication(std::optional<DockIconApplication> application);

  static conc::Task<void> presentIn(std::shared_ptr<DockPreviewCoordinator> self, bool animated);
  static conc::Task<void> updateIn(std::shared_ptr<DockPreviewCoordinator> self, bool animated);
  static conc::Task<void> clickOnDockIn(std::shared_ptr<DockPreviewCoordinator> self);
  // Carries out a pending snap, hides the panel, activates the window and
  // records the event of a click on the thumbnail.
  static conc::Task<void> selectWindowIn(std::shared_ptr<DockPreviewCoordinator> self,
                                         DockPreviewThumbnailContent content);
  // Snaps the window to the clicked target, hides the panel, activates the
  // window and records the event of a snap that happened.
  static conc::Task<void> snapButtonClickIn(std::shared_ptr<DockPreviewCoordinator> self,
                                            DockPreviewThumbnailContent content,
                                            std::shared_ptr<appkit::NSScreen> screen, SnapAlignment alignment);
  static conc::Task<void> rightClickIn(std::shared_ptr<DockPreviewCoordinator> self,
                                       DockPreviewThumbnailContent content, bool activate);
  static conc::Task<void> swipeIn(std::shared_ptr<DockPreviewCoordinator> self, DockPreviewThumbnailContent content,
                                  std::shared_ptr<appkit::NSScreen> screen, SnapAlignment alignment);
  static conc::Task<void> swipeCompletedIn(std::shared_ptr<DockPreviewCoordinator> self,
                                           DockPreviewThumbnailContent content, SnapAlignment alignment);
  // Sets or clears the snap the button hover previews, unless a later hover
  // or a hide has come since the hover numbered `serial`.
  static conc::Task<void> snapButtonHoverIn(std::shared_ptr<DockPreviewCoordinator> self,
                                            DockPreviewThumbnailContent content,
                                            std::shared_ptr<appkit::NSScreen> screen,
                                            std::optional<SnapAlignment> alignment, std::uint64_t serial);
  static conc::Task<void> closeWindowIn(std::shared_ptr<DockPreviewCoordinator> self,
                                        DockPreviewThumbnailContent content);
  static conc::Task<void> windowDidCloseIn(std::shared_ptr<DockPreviewCoordinator> self);

  std::unique_ptr<SingleCallDelayedTask<DockIconApplication>> showTask_;
  std::unique_ptr<SingleCallDelayedTask<>> hideTask_;
  std::shared_ptr<ApplicationController> dockController_;
  HoverState hoverState_ = HoverState::none();
  bool enabled_ = false;
  std::optional<DockIconApplication> hoveringDockIconApplication_;
  std::optional<DockIconApplication> presentedDockIconApplication_;
  // The application whose windows the panel shows; what the presented
  // application returns to when a newer presentation finds nothing to show.
  std::optional<DockIconApplication> shownDockIconApplication_;
  std::shared_ptr<NowPlayingPublisher> presentedNowPlayingPublisher_;
  // Counts snap-button hovers and hides: each ends the hover before it.
  std::uint64_t snapButtonHoverSerial_ = 0;
  std::optional<conc::AnyCancellable> presentedNowPlayingPublisherCancellable_;
};
