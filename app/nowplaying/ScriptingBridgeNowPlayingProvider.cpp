#include "app/nowplaying/ScriptingBridgeNowPlayingProvider.h"

#include <cmath>

#include "app/nowplaying/ScriptingBridgeProtocols.h"
#include "platform/foundation/Log.h"

namespace {

// The members every player declares under the same names.
constexpr const char* kCurrentTrack = "currentTrack";
constexpr const char* kPlayerState = "playerState";
constexpr const char* kPlayerPosition = "playerPosition";
constexpr const char* kArtist = "artist";
constexpr const char* kName = "name";
constexpr const char* kDuration = "duration";
constexpr const char* kAlbum = "album";
constexpr sb::FourCharCode kPlaying = sb::fourCharCode("kPSP");

bool responds(const std::shared_ptr<sb::SBObject>& object, const char* selector) {
  return object && object->respondsToSelector(selector);
}

// A position the player cannot have is shown as the start.
double finiteOrZero(double seconds) { return std::isfinite(seconds) ? seconds : 0; }

}  // namespace

ScriptingBridgeNowPlayingProvider::ScriptingBridgeNowPlayingProvider(std::string bundleIdentifier,
                                                                     std::string errorPrefix)
    : bundleIdentifier_(std::move(bundleIdentifier)), errorPrefix_(std::move(errorPrefix)) {}

conc::Task<void> ScriptingBridgeNowPlayingProvider::refresh() {
  auto self = shared_from_this();
  auto read = [self]() -> conc::Task<void> {
    self->nowPlayingInfo_.set(self->readNowPlayingInfo());
    co_return;
  };
  conc::spawnOnMain(std::move(read));
  co_return;
}

ns::Value ScriptingBridgeNowPlayingProvider::eventDidFail(const sb::AppleEvent&, const ns::Error& error) {
  ns::NSLog(errorPrefix_ + error.localizedDescription());
  return {};
}

std::optional<NowPlayingInfo> ScriptingBridgeNowPlayingProvider::readPlayer(const PlayerRules& rules) {
  // A new application object at every read: nothing of an earlier read is reused.
  auto application = sb::SBApplication::applicationWithBundleIdentifier(bundleIdentifier_);
  if (!application) return std::nullopt;
  if (!application->isRunning()) return std::nullopt;
  application->setDelegate(weak_from_this());

  if (!application->respondsToSelector(kCurrentTrack)) {
    ns::NSLog("currentTrack not found");
    return std::nullopt;
  }
  // A player without a track answers a missing object, which declines every
  // selector below.
  auto track = application->objectForSelector(kCurrentTrack);

  if (!responds(track, kArtist)) {
    ns::NSLog("artist not found");
    return std::nullopt;
  }
  std::string artist = track->stringForSelector(kArtist);

  if (!responds(track, kName)) {
    ns::NSLog("name not found");
    return std::nullopt;
  }
  std::string title = track->stringForSelector(kName);

  if (!responds(track, kDuration)) {
    ns::NSLog("duration not found");
    return std::nullopt;
  }
  double duration = finiteOrZero(rules.duration(*track));

  if (!application->respondsToSelector(kPlayerState)) {
    ns::NSLog("playerState not found");
    return std::nullopt;
  }
  sb::FourCharCode playerState = application->codeForSelector(kPlayerState);

  if (!application->respondsToSelector(kPlayerPosition)) {
    ns::NSLog("playerPosition not found");
    return std::nullopt;
  }

  if (artist.empty() && title.empty()) {
    ns::NSLog("Artist and name were both empty strings");
    return std::nullopt;
  }

  std::string album = responds(track, kAlbum) ? track->stringForSelector(kAlbum) : std::string();
  auto artwork = rules.artwork(*track);

  NowPlayingInfo info;
  info.uuid = ns::UUID::random();
  info.artist = std::move(artist);
  info.title = std::move(title);
  info.album = std::move(album);
  info.duration = duration;
  info.getPlaybackPosition = [application]() -> double {
    // An event to a player the user quit would launch it again.
    if (!application->isRunning() || !application->respondsToSelector(kPlayerPosition)) return 0;
    return finiteOrZero(application->doubleForSelector(kPlayerPosition));
  };
  info.artwork = std::move(artwork);
  info.isPlaying = playerState == kPlaying;
  return info;
}

conc::Task<void> ScriptingBridgeNowPlayingProvider::sendCommand(std::string selector) {
  auto self = shared_from_this();
  auto application = sb::SBApplication::applicationWithBundleIdentifier(self->bundleIdentifier_);
  if (application && application->isRunning() && application->respondsToSelector(selector)) {
    application->sendEvent(selector);
  }
  auto read = self->refresh();
  co_await std::move(read);
}
