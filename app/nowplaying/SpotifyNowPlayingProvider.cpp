#include "app/nowplaying/SpotifyNowPlayingProvider.h"

#include <mutex>

#include "platform/foundation/Log.h"

SpotifyNowPlayingProvider::SpotifyNowPlayingProvider(std::shared_ptr<net::URLSession> session)
    : ScriptingBridgeNowPlayingProvider(kBundleIdentifier, "SpotifyNowPlayingProvider error:"),
      session_(std::move(session)) {}

std::shared_ptr<SpotifyNowPlayingProvider> SpotifyNowPlayingProvider::make(std::shared_ptr<net::URLSession> session) {
  return std::shared_ptr<SpotifyNowPlayingProvider>(new SpotifyNowPlayingProvider(std::move(session)));
}

std::shared_ptr<net::URLSession> SpotifyNowPlayingProvider::sharedSession() {
  static std::once_flag once;
  static std::shared_ptr<net::URLSession> session;
  std::call_once(once, [] {
    session = net::URLSession::sessionWithConfiguration(net::URLSessionConfiguration::defaultSessionConfiguration());
  });
  return session;
}

std::optional<NowPlayingInfo> SpotifyNowPlayingProvider::readNowPlayingInfo() {
  PlayerRules rules;
  // Whole milliseconds; the record keeps whole seconds (4999 ms is 4 s).
  rules.duration = [](sb::SBObject& track) {
    return static_cast<double>(track.integerForSelector(SpotifyTrack::duration) / 1000);
  };
  auto self = std::static_pointer_cast<SpotifyNowPlayingProvider>(shared_from_this());
  rules.artwork = [self](sb::SBObject& track) {
    std::optional<std::string> url;
    if (track.respondsToSelector(SpotifyTrack::artworkUrl)) url = track.stringForSelector(SpotifyTrack::artworkUrl);
    return self->loadArtwork(url);
  };
  return readPlayer(rules);
}

std::optional<img::Image> SpotifyNowPlayingProvider::loadArtwork(const std::optional<std::string>& urlString) {
  if (!urlString) return std::nullopt;
  if (auto cached = imageCache_.find(*urlString); cached != imageCache_.end()) return cached->second;

  auto url = ns::URL::URLWithString(*urlString);
  if (!url) {
    ns::NSLog("Invalid artwork URL:" + *urlString);
    return std::nullopt;
  }
  auto session = session_ ? session_ : sharedSession();
  std::weak_ptr<SpotifyNowPlayingProvider> weakSelf =
      std::static_pointer_cast<SpotifyNowPlayingProvider>(shared_from_this());
  std::string address = *urlString;
  // Runs on the session's queue: it touches nothing but the image and the
  // address before handing over to the main actor.
  auto completion = [weakSelf, address](std::optional<ns::Data> data, std::shared_ptr<const net::HTTPURLResponse>,
                                        std::optional<ns::Error>) {
    if (!data) return;
    auto image = img::Image::withData(*data);
    if (!image) return;
    auto store = [weakSelf, address, image = *image]() -> conc::Task<void> {
      if (auto self = weakSelf.lock()) self->imageCache_[address] = image;
      if (auto self = weakSelf.lock()) {
        auto read = self->refresh();
        co_await std::move(read);
      }
    };
    conc::spawnOnMain(std::move(store));
  };
  session->dataTaskWithRequest(net::URLRequest(*url), std::move(completion))->resume();
  return std::nullopt;
}

conc::Task<void> SpotifyNowPlayingProvider::playPause() { return sendCommand(SpotifyApplication::playpause); }

conc::Task<void> SpotifyNowPlayingProvider::previousTrack() { return sendCommand(SpotifyApplication::previousTrack); }

conc::Task<void> SpotifyNowPlayingProvider::nextTrack() { return sendCommand(SpotifyApplication::nextTrack); }
