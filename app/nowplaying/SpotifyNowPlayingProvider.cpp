#include "app/nowplaying/SpotifyNowPlayingProvider.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/appkit/NSScreen.h"
#include "platform/foundation/Log.h"
#include "platform/image/Decode.h"

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
  if (auto cached = imageCache_.find(*urlString)) return cached;
  // One download per address at a time, and none for an address that failed lately.
  if (downloading_.contains(*urlString) || failedLately(*urlString)) return std::nullopt;

  auto url = ns::URL::URLWithString(*urlString);
  if (!url) {
    ns::NSLog("Invalid artwork URL:" + *urlString);
    rememberFailure(*urlString);
    return std::nullopt;
  }
  auto session = session_ ? session_ : sharedSession();
  std::weak_ptr<SpotifyNowPlayingProvider> weakSelf =
      std::static_pointer_cast<SpotifyNowPlayingProvider>(shared_from_this());
  std::string address = *urlString;
  downloading_.insert(address);
  const int pixels = artworkPixels();
  // Runs on the session's queue: it decodes there and hands only the image
  // and the address to the main actor.
  auto completion = [weakSelf, address, pixels](std::optional<ns::Data> data,
                                                std::shared_ptr<const net::HTTPURLResponse> response,
                                                std::optional<ns::Error> error) {
    if (weakSelf.expired()) return;
    auto image = artworkFrom(address, data, response, error, pixels);
    conc::spawnOnMain([weakSelf, address, image]() -> conc::Task<void> {
      auto self = weakSelf.lock();
      if (!self) co_return;
      self->downloadFinished(address, image);
      if (!image) co_return;
      auto read = self->refresh();
      co_await std::move(read);
    });
  };
  auto task = session->dataTaskWithRequest(net::URLRequest(*url), std::move(completion));
  task->setMaximumResponseBytes(kArtworkMaximumBytes);
  task->resume();
  return std::nullopt;
}

int SpotifyNowPlayingProvider::artworkPixels() {
  double scale = 1;
  for (const auto& screen : appkit::NSScreen::screens()) scale = std::max(scale, screen->backingScaleFactor());
  return static_cast<int>(std::ceil(kNowPlayingArtworkPoints * scale));
}

std::optional<img::Image> SpotifyNowPlayingProvider::artworkFrom(
    const std::string& address, const std::optional<ns::Data>& data,
    const std::shared_ptr<const net::HTTPURLResponse>& response, const std::optional<ns::Error>& error, int pixels) {
  if (error && error->code == ns::NSURLErrorDataLengthExceedsMaximum) {
    ns::NSLog("Artwork too large:" + address + " (over " + std::to_string(kArtworkMaximumBytes >> 20) + " MiB)");
    return std::nullopt;
  }
  // No answer, or an error page: a failed download, not a bad image.
  if (!data || (response && response->statusCode() >= 400)) return std::nullopt;
  std::string problem;
  auto bitmap = img::decodeImageFitting(*data, pixels, pixels, &problem);
  if (!bitmap) {
    ns::NSLog("Undecodable artwork:" + address + " (" + problem + ")");
    return std::nullopt;
  }
  return img::Image::withBitmap(std::move(*bitmap));
}

void SpotifyNowPlayingProvider::downloadFinished(const std::string& address, std::optional<img::Image> image) {
  downloading_.erase(address);
  if (image) {
    imageCache_.insert(address, std::move(*image));
  } else {
    rememberFailure(address);
  }
}

bool SpotifyNowPlayingProvider::failedLately(const std::string& address) {
  auto it = failedUntil_.find(address);
  if (it == failedUntil_.end()) return false;
  if (dispatch::now() < it->second) return true;
  failedUntil_.erase(it);
  return false;
}

void SpotifyNowPlayingProvider::rememberFailure(const std::string& address) {
  const dispatch::Time now = dispatch::now();
  std::erase_if(failedUntil_, [now](const auto& entry) { return entry.second <= now; });
  failedUntil_[address] = dispatch::after(kFailureMemory);
}

conc::Task<void> SpotifyNowPlayingProvider::playPause() { return sendCommand(SpotifyApplication::playpause); }

conc::Task<void> SpotifyNowPlayingProvider::previousTrack() { return sendCommand(SpotifyApplication::previousTrack); }

conc::Task<void> SpotifyNowPlayingProvider::nextTrack() { return sendCommand(SpotifyApplication::nextTrack); }
