#pragma once
// The now-playing source of Spotify. Its artwork comes from the web address
// the player reports: downloaded once at a time per address (and refused past
// a size), decoded (PNG or JPEG) to the largest size the preview shows it at,
// and kept in a cache bounded in bytes. An address whose download or decoding
// failed is not asked again for a while.

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "app/nowplaying/ArtworkCache.h"
#include "app/nowplaying/ScriptingBridgeNowPlayingProvider.h"
#include "app/nowplaying/SpotifyScripting.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/net/URLSession.h"

class SpotifyNowPlayingProvider : public ScriptingBridgeNowPlayingProvider {
 public:
  static constexpr const char* kBundleIdentifier = "com.spotify.client";
  // The most an artwork download may bring; a longer one is abandoned as it arrives.
  static constexpr std::size_t kArtworkMaximumBytes = std::size_t{16} << 20;
  // The decoded artwork kept: some 25 square covers at 200 pixels, six at 400.
  static constexpr std::size_t kArtworkCacheBytes = std::size_t{4} << 20;
  // Seconds an address whose artwork could not be had is left alone.
  static constexpr double kFailureMemory = 60;

  // Downloads go through `session`, or the process's shared session when none is given.
  static std::shared_ptr<SpotifyNowPlayingProvider> make(std::shared_ptr<net::URLSession> session = nullptr);

  // Artwork address, as the player gave it, to its decoded image. Main actor only.
  ArtworkCache& imageCache() { return imageCache_; }
  const ArtworkCache& imageCache() const { return imageCache_; }
  // Whether a download of the address is under way.
  bool isDownloading(const std::string& address) const { return downloading_.contains(address); }

  std::optional<NowPlayingInfo> readNowPlayingInfo() override;
  // The cached image for the address; otherwise nothing now, and a download
  // (unless one is under way, or the address failed lately) that caches the
  // image and starts a new read when it brings one.
  std::optional<img::Image> loadArtwork(const std::optional<std::string>& urlString);

  conc::Task<void> playPause() override;
  conc::Task<void> previousTrack() override;
  conc::Task<void> nextTrack() override;

  // The session used when none is given; made at its first use.
  static std::shared_ptr<net::URLSession> sharedSession();

  // The side, in pixels, of the square artwork is decoded to fit: the largest
  // it is shown at (kNowPlayingArtworkPoints), at the highest screen scale.
  static int artworkPixels();

 protected:
  explicit SpotifyNowPlayingProvider(std::shared_ptr<net::URLSession> session);

  // On the session's queue: the image the downloaded data makes, fitted into
  // pixels x pixels, or nothing (a bad image, or a download refused for its
  // size, is logged).
  static std::optional<img::Image> artworkFrom(const std::string& address, const std::optional<ns::Data>& data,
                                               const std::shared_ptr<const net::HTTPURLResponse>& response,
                                               const std::optional<ns::Error>& error, int pixels);

 private:
  void downloadFinished(const std::string& address, std::optional<img::Image> image);
  bool failedLately(const std::string& address);
  void rememberFailure(const std::string& address);

  ArtworkCache imageCache_{kArtworkCacheBytes};
  std::set<std::string> downloading_;
  std::unordered_map<std::string, dispatch::Time> failedUntil_;
  std::shared_ptr<net::URLSession> session_;
};
