#include "app/nowplaying/NowPlayingPublisher.h"

#include "platform/concurrency/Task.h"
#include "platform/dispatch/Dispatch.h"

std::shared_ptr<NowPlayingPublisher> NowPlayingPublisher::make(std::optional<NowPlayingInfo> nowPlayingInfo,
                                                               Subject subject, bool refreshScheduled,
                                                               std::shared_ptr<NowPlayingProvider> provider) {
  return std::make_shared<NowPlayingPublisher>(std::move(nowPlayingInfo), std::move(subject), refreshScheduled,
                                               std::move(provider));
}

NowPlayingPublisher::NowPlayingPublisher(std::optional<NowPlayingInfo> nowPlayingInfo, Subject subject,
                                         bool refreshScheduled, std::shared_ptr<NowPlayingProvider> provider)
    : nowPlayingInfo_(std::move(nowPlayingInfo)),
      nowPlayingInfoPublisher_(std::move(subject)),
      refreshScheduled_(refreshScheduled),
      provider_(std::move(provider)) {}

void NowPlayingPublisher::refresh() {
  auto self = shared_from_this();
  auto body = [self]() -> conc::Task<void> {
    // The provider only starts its read: what we compare is the latest read
    // that has finished, normally the one the previous poll started.
    auto read = self->provider_->refresh();
    co_await std::move(read);
    auto old = self->nowPlayingInfo_;
    auto fresh = self->provider_->nowPlayingInfo();
    if (old == fresh) {
      // Unchanged: nothing to send.
    } else if (old && fresh && old->artwork && !fresh->artwork) {
      // Most likely a new track whose artwork is still on its way: give it a
      // moment rather than flash a card without artwork.
      self->scheduleArtworkReload();
    } else {
      self->nowPlayingInfo_ = self->provider_->nowPlayingInfo();
      self->nowPlayingInfoPublisher_.send(self->nowPlayingInfo_);
    }
    if (!self->refreshScheduled_) {
      self->refreshScheduled_ = true;
      self->schedulePoll();
    }
  };
  conc::spawnOnMain(std::move(body));
}

void NowPlayingPublisher::scheduleArtworkReload() {
  auto self = shared_from_this();
  dispatch::Queue::main()->asyncAfterDelay(kArtworkReloadDelay, [self] {
    auto body = [self]() -> conc::Task<void> {
      auto read = self->provider_->refresh();
      co_await std::move(read);
      self->nowPlayingInfo_ = self->provider_->nowPlayingInfo();
      self->nowPlayingInfoPublisher_.send(self->nowPlayingInfo_);
    };
    conc::spawnOnMain(std::move(body));
  });
}

void NowPlayingPublisher::schedulePoll() {
  std::weak_ptr<NowPlayingPublisher> weakSelf = weak_from_this();
  dispatch::Queue::main()->asyncAfterDelay(kPollInterval, [weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    self->refreshScheduled_ = false;
    self->refresh();
  });
}

void NowPlayingPublisher::handleMediaButton(MediaButton button) {
  auto self = shared_from_this();
  auto body = [self, button]() -> conc::Task<void> {
    std::optional<conc::Task<void>> command;
    switch (button) {
      case MediaButton::back:
        command.emplace(self->provider_->previousTrack());
        break;
      case MediaButton::playPause:
        command.emplace(self->provider_->playPause());
        break;
      case MediaButton::forward:
        command.emplace(self->provider_->nextTrack());
        break;
    }
    if (command) co_await std::move(*command);
    self->refresh();
  };
  conc::spawnOnMain(std::move(body));
}
