#pragma once
// The now-playing records of one Dock preview of a music player: polls the
// player's provider about once a second while it lives, sends a record only
// when it differs from the last one, and carries out the playback buttons.
//
// Main thread only. Owned by shared_ptr (make()): its tasks and its delayed
// reload hold it strongly, its poll only weakly, so the polling ends once the
// last holder lets go.

#include <memory>
#include <optional>

#include "app/nowplaying/MediaButton.h"
#include "app/nowplaying/NowPlayingInfo.h"
#include "app/nowplaying/NowPlayingProvider.h"
#include "platform/concurrency/Publisher.h"

class NowPlayingPublisher : public std::enable_shared_from_this<NowPlayingPublisher> {
 public:
  using Subject = conc::PassthroughSubject<std::optional<NowPlayingInfo>>;

  static constexpr double kPollInterval = 1.0;
  // How long a change that loses the artwork waits for the artwork to come back.
  static constexpr double kArtworkReloadDelay = 1.0;

  static std::shared_ptr<NowPlayingPublisher> make(std::optional<NowPlayingInfo> nowPlayingInfo, Subject subject,
                                                   bool refreshScheduled, std::shared_ptr<NowPlayingProvider> provider);
  NowPlayingPublisher(std::optional<NowPlayingInfo> nowPlayingInfo, Subject subject, bool refreshScheduled,
                      std::shared_ptr<NowPlayingProvider> provider);
  virtual ~NowPlayingPublisher() = default;
  NowPlayingPublisher(const NowPlayingPublisher&) = delete;
  NowPlayingPublisher& operator=(const NowPlayingPublisher&) = delete;

  // The record last published, or the one the coordinator seeded.
  const std::optional<NowPlayingInfo>& nowPlayingInfo() const { return nowPlayingInfo_; }
  void setNowPlayingInfo(std::optional<NowPlayingInfo> info) { nowPlayingInfo_ = std::move(info); }
  // Every change is sent here, on the main thread.
  Subject& nowPlayingInfoPublisher() { return nowPlayingInfoPublisher_; }
  // True while a poll is pending.
  bool refreshScheduled() const { return refreshScheduled_; }
  void setRefreshScheduled(bool scheduled) { refreshScheduled_ = scheduled; }
  const std::shared_ptr<NowPlayingProvider>& provider() const { return provider_; }

  // Starts one refresh and returns at once; it keeps one poll pending.
  virtual void refresh();
  // Starts the button's command and then a refresh; returns at once.
  virtual void handleMediaButton(MediaButton button);

 private:
  void scheduleArtworkReload();
  void schedulePoll();

  std::optional<NowPlayingInfo> nowPlayingInfo_;
  Subject nowPlayingInfoPublisher_;
  bool refreshScheduled_;
  std::shared_ptr<NowPlayingProvider> provider_;
};
