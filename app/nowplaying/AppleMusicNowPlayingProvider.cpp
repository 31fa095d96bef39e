#include "app/nowplaying/AppleMusicNowPlayingProvider.h"

namespace {

// The first artwork of the track's list, when it is an image.
std::optional<img::Image> firstArtwork(sb::SBObject& track) {
  if (!track.respondsToSelector(MusicTrack::artworks)) return std::nullopt;
  auto artworks = track.elementArrayForSelector(MusicTrack::artworks);
  if (!artworks || artworks->count() < 1) return std::nullopt;
  auto artwork = artworks->objectAtIndex(0);
  if (!artwork || fromRawValue<MusicScripting>(artwork->scriptingClass()) != MusicScripting::artwork) {
    return std::nullopt;
  }
  if (!artwork->respondsToSelector(MusicArtwork::data)) return std::nullopt;
  auto data = artwork->sendEvent(MusicArtwork::data);
  if (!sb::valueRespondsToSelector(data, "size")) return std::nullopt;
  auto image = data.objectAs<sb::ImageObject>();
  if (!image) return std::nullopt;
  return image->image;
}

}  // namespace

AppleMusicNowPlayingProvider::AppleMusicNowPlayingProvider()
    : ScriptingBridgeNowPlayingProvider(kBundleIdentifier, "AppleMusicNowPlayingProvider error:") {}

std::shared_ptr<AppleMusicNowPlayingProvider> AppleMusicNowPlayingProvider::make() {
  return std::shared_ptr<AppleMusicNowPlayingProvider>(new AppleMusicNowPlayingProvider());
}

std::optional<NowPlayingInfo> AppleMusicNowPlayingProvider::readNowPlayingInfo() {
  PlayerRules rules;
  rules.duration = [](sb::SBObject& track) { return track.doubleForSelector(MusicTrack::duration); };
  rules.artwork = firstArtwork;
  return readPlayer(rules);
}

conc::Task<void> AppleMusicNowPlayingProvider::playPause() { return sendCommand(MusicApplication::playpause); }

conc::Task<void> AppleMusicNowPlayingProvider::previousTrack() { return sendCommand(MusicApplication::backTrack); }

conc::Task<void> AppleMusicNowPlayingProvider::nextTrack() { return sendCommand(MusicApplication::nextTrack); }
