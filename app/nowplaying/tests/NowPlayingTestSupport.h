#pragma once
// The world every Now Playing test starts from: the virtual clock, an empty
// simulated desktop with both players reset, fresh preferences with Now
// Playing on, and the log captured.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "app/nowplaying/NowPlayingInfo.h"
#include "app/preferences/Preferences.h"
#include "platform/concurrency/Task.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestSupport.h"
#include "platform/image/Bitmap.h"
#include "platform/scripting/SimulatedPlayers.h"
#include "platform/sim/World.h"

namespace nowplaying_test {

inline img::Image solidImage(img::Pixel pixel, int w = 8, int h = 8) {
  return img::Image::withBitmap(*img::Bitmap::filled(w, h, pixel));
}

inline sb::MusicTrackSpec musicTrack(std::string name, std::string artist, double duration = 215.7) {
  sb::MusicTrackSpec t;
  t.name = std::move(name);
  t.artist = std::move(artist);
  t.album = "Album of " + t.name;
  t.duration = duration;
  return t;
}

inline sb::SpotifyTrackSpec spotifyTrack(std::string name, std::string artist, std::int64_t ms = 180000,
                                         std::optional<std::string> artworkUrl = std::nullopt) {
  sb::SpotifyTrackSpec t;
  t.id = "spotify:track:" + name;
  t.name = std::move(name);
  t.artist = std::move(artist);
  t.album = "Album";
  t.duration = ms;
  t.artworkUrl = std::move(artworkUrl);
  return t;
}

inline NowPlayingInfo record(std::string title, bool artwork = false, bool playing = true, double duration = 100) {
  NowPlayingInfo info;
  info.uuid = ns::UUID::random();
  info.artist = "Artist";
  info.title = std::move(title);
  info.album = "Album";
  info.duration = duration;
  info.getPlaybackPosition = [] { return 0.0; };
  if (artwork) info.artwork = solidImage({10, 20, 30, 255});
  info.isPlaying = playing;
  return info;
}

class NowPlayingTest : public ::testing::Test {
 protected:
  NowPlayingTest() {
    sim::World::shared().reset();
    sb::SimulatedPlayers::reset();
    defaults->registerDefaults({{preferencekeys::showNowPlaying, ns::Value(true)}});
  }
  ~NowPlayingTest() override {
    sb::SimulatedPlayers::reset();
    sim::World::shared().reset();
  }
  void runUntilIdle() { dispatch::Scheduler::shared().runUntilIdle(); }
  void advance(double seconds) { dispatch::Scheduler::shared().advance(seconds); }

  // Runs a provider command to its end on the main actor.
  template <class Provider>
  void runCommand(std::shared_ptr<Provider> provider, conc::Task<void> (Provider::*command)()) {
    conc::spawnOnMain([provider, command]() -> conc::Task<void> {
      auto task = ((*provider).*command)();
      co_await std::move(task);
    });
    runUntilIdle();
  }

  dispatch::VirtualClockScope clock;
  ns::test::ScopedStandardDefaults defaults;
  ns::LogCapture log;
  std::shared_ptr<sb::MusicPlayer> music = sb::MusicPlayer::shared();
  std::shared_ptr<sb::SpotifyPlayer> spotify = sb::SpotifyPlayer::shared();
};

}  // namespace nowplaying_test
