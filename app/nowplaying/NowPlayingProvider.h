#pragma once
// A music player as a source of now-playing records.

#include <optional>
#include <string>

#include "app/nowplaying/NowPlayingInfo.h"
#include "platform/concurrency/Task.h"

class NowPlayingProvider {
 public:
  virtual ~NowPlayingProvider() = default;

  // The outcome of the latest finished read: nothing before the first read
  // and after a read that failed.
  virtual std::optional<NowPlayingInfo> nowPlayingInfo() const = 0;
  virtual std::string bundleIdentifier() const = 0;

  // Starts a new read on the main actor and returns without waiting for it.
  virtual conc::Task<void> refresh() = 0;
  // Each sends its command to a running player, then starts a read.
  virtual conc::Task<void> playPause() = 0;
  virtual conc::Task<void> previousTrack() = 0;
  virtual conc::Task<void> nextTrack() = 0;
};
