#pragma once
// Owns the music players' providers, keyed by bundle identifier, refreshes
// the one of a hovered Dock icon and hands out publishers for previews. Both
// do nothing while the preference "showNowPlaying" is off.
//
// Main thread only.

#include <map>
#include <memory>
#include <string>

#include "app/nowplaying/NowPlayingProvider.h"
#include "app/nowplaying/NowPlayingPublisher.h"

class NowPlayingCoordinator {
 public:
  // Bundle identifiers compare exactly, letter case included.
  using ProviderTable = std::map<std::string, std::shared_ptr<NowPlayingProvider>>;

  NowPlayingCoordinator() = default;
  virtual ~NowPlayingCoordinator() = default;
  NowPlayingCoordinator(const NowPlayingCoordinator&) = delete;
  NowPlayingCoordinator& operator=(const NowPlayingCoordinator&) = delete;

  const ProviderTable& providers() const { return providers_; }
  void setProviders(ProviderTable providers) { providers_ = std::move(providers); }

  // Replaces the table with new Apple Music and Spotify providers.
  virtual void createProviders();
  // The name the application delegate knows the same step by.
  void setUpProviders() { createProviders(); }

  // Starts a read of the player's provider, without waiting for it.
  virtual void refresh(const std::string& bundleIdentifier);
  // A new publisher (seeded with the provider's current record and already
  // polling), or nothing. The coordinator keeps no reference to it.
  virtual std::shared_ptr<NowPlayingPublisher> nowPlayingPublisher(const std::string& bundleIdentifier);

 private:
  std::shared_ptr<NowPlayingProvider> provider(const std::string& bundleIdentifier) const;
  ProviderTable providers_;
};
