#include "app/nowplaying/NowPlayingCoordinator.h"

#include "app/nowplaying/AppleMusicNowPlayingProvider.h"
#include "app/nowplaying/SpotifyNowPlayingProvider.h"
// Only the header's inline accessors are used: the shell links against this
// module, not the other way round.
#include "app/preferences/Preferences.h"
#include "platform/concurrency/Task.h"

void NowPlayingCoordinator::createProviders() {
  ProviderTable table;
  table.emplace(AppleMusicNowPlayingProvider::kBundleIdentifier, AppleMusicNowPlayingProvider::make());
  table.emplace(SpotifyNowPlayingProvider::kBundleIdentifier, SpotifyNowPlayingProvider::make());
  providers_ = std::move(table);
}

std::shared_ptr<NowPlayingProvider> NowPlayingCoordinator::provider(const std::string& bundleIdentifier) const {
  auto it = providers_.find(bundleIdentifier);
  return it == providers_.end() ? nullptr : it->second;
}

void NowPlayingCoordinator::refresh(const std::string& bundleIdentifier) {
  if (!MorvalentDefaults::standard().showNowPlaying()) return;
  auto found = provider(bundleIdentifier);
  if (!found) return;
  auto body = [found]() -> conc::Task<void> {
    auto read = found->refresh();
    co_await std::move(read);
  };
  conc::spawnOnMain(std::move(body));
}

std::shared_ptr<NowPlayingPublisher> NowPlayingCoordinator::nowPlayingPublisher(const std::string& bundleIdentifier) {
  if (!MorvalentDefaults::standard().showNowPlaying()) return nullptr;
  auto found = provider(bundleIdentifier);
  if (!found) return nullptr;
  auto publisher = NowPlayingPublisher::make(std::nullopt, NowPlayingPublisher::Subject(), false, found);
  // Seeded without a send: the first send comes with the first difference.
  publisher->setNowPlayingInfo(found->nowPlayingInfo());
  publisher->refresh();
  return publisher;
}
