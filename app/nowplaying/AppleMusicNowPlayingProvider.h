#pragma once
// The now-playing source of the Music application.

#include <memory>
#include <optional>

#include "app/nowplaying/MusicScripting.h"
#include "app/nowplaying/ScriptingBridgeNowPlayingProvider.h"

class AppleMusicNowPlayingProvider : public ScriptingBridgeNowPlayingProvider {
 public:
  static constexpr const char* kBundleIdentifier = "com.apple.Music";

  static std::shared_ptr<AppleMusicNowPlayingProvider> make();

  std::optional<NowPlayingInfo> readNowPlayingInfo() override;
  conc::Task<void> playPause() override;
  // Music's "back track" (to the start of the track, or the previous one),
  // not its previousTrack.
  conc::Task<void> previousTrack() override;
  conc::Task<void> nextTrack() override;

 protected:
  AppleMusicNowPlayingProvider();
};
