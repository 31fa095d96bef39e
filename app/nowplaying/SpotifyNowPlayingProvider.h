#pragma once
// The now-playing source of Spotify. Its artwork comes from the web address
// the player reports; each downloaded image is kept for the provider's life.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/nowplaying/ScriptingBridgeNowPlayingProvider.h"
#include "app/nowplaying/SpotifyScripting.h"
#include "platform/net/URLSession.h"

class SpotifyNowPlayingProvider : public ScriptingBridgeNowPlayingProvider {
 public:
  static constexpr const char* kBundleIdentifier = "com.spotify.client";
  using ImageCache = std::map<std::string, std::optional<img::Image>>;

  // Downloads go through `session`, or the process's shared session when none is given.
  static std::shared_ptr<SpotifyNowPlayingProvider> make(std::shared_ptr<net::URLSession> session = nullptr);

  // Artwork address, as the player gave it, to its downloaded image. Main actor only.
  const ImageCache& imageCache() const { return imageCache_; }
  void setImageCache(ImageCache cache) { imageCache_ = std::move(cache); }

  std::optional<NowPlayingInfo> readNowPlayingInfo() override;
  // The cached image for the address; otherwise nothing now, and a download
  // that caches the image and starts a new read when it brings one.
  std::optional<img::Image> loadArtwork(const std::optional<std::string>& urlString);

  conc::Task<void> playPause() override;
  conc::Task<void> previousTrack() override;
  conc::Task<void> nextTrack() override;

  // The session used when none is given; made at its first use.
  static std::shared_ptr<net::URLSession> sharedSession();

 protected:
  explicit SpotifyNowPlayingProvider(std::shared_ptr<net::URLSession> session);

 private:
  ImageCache imageCache_;
  std::shared_ptr<net::URLSession> session_;
};
