#include <gtest/gtest.h>

#include "app/nowplaying/AppleMusicNowPlayingProvider.h"
#include "app/nowplaying/NowPlayingCoordinator.h"
#include "app/nowplaying/SpotifyNowPlayingProvider.h"
#include "app/nowplaying/tests/NowPlayingTestSupport.h"

using nowplaying_test::musicTrack;
using nowplaying_test::solidImage;

namespace {

class NowPlayingCoordinatorTest : public nowplaying_test::NowPlayingTest {
 protected:
  void setShowNowPlaying(bool on) { MorvalentDefaults::standard().setShowNowPlaying(on); }
  void playSong(const std::string& name = "Song") {
    music->setCurrentTrack(musicTrack(name, "Singer"));
    music->setPlayerState(sb::kPlayerStatePlaying);
    music->launch();
  }

  NowPlayingCoordinator coordinator;
};

}  // namespace

TEST_F(NowPlayingCoordinatorTest, NothingBeforeTheProvidersAreMade) {
  playSong();
  EXPECT_TRUE(coordinator.providers().empty());
  coordinator.refresh("com.apple.Music");
  EXPECT_EQ(coordinator.nowPlayingPublisher("com.apple.Music"), nullptr);
  runUntilIdle();
  EXPECT_TRUE(music->receivedEvents().empty());
}

TEST_F(NowPlayingCoordinatorTest, CreatesExactlyTheTwoProviders) {
  coordinator.createProviders();
  const auto& table = coordinator.providers();
  ASSERT_EQ(table.size(), 2u);
  auto apple = std::dynamic_pointer_cast<AppleMusicNowPlayingProvider>(table.at("com.apple.Music"));
  auto spotify = std::dynamic_pointer_cast<SpotifyNowPlayingProvider>(table.at("com.spotify.client"));
  ASSERT_NE(apple, nullptr);
  ASSERT_NE(spotify, nullptr);
  EXPECT_FALSE(apple->nowPlayingInfo().has_value());
  EXPECT_FALSE(spotify->nowPlayingInfo().has_value());
  EXPECT_TRUE(spotify->imageCache().empty());

  coordinator.setUpProviders();
  EXPECT_NE(coordinator.providers().at("com.apple.Music"), apple) << "earlier providers are replaced";
  EXPECT_EQ(coordinator.providers().size(), 2u);
}

TEST_F(NowPlayingCoordinatorTest, RefreshReadsTheHoveredPlayerWithoutWaiting) {
  coordinator.createProviders();
  playSong();
  coordinator.refresh("com.apple.Music");
  auto provider = coordinator.providers().at("com.apple.Music");
  EXPECT_FALSE(provider->nowPlayingInfo().has_value()) << "returns at once";
  runUntilIdle();
  ASSERT_TRUE(provider->nowPlayingInfo().has_value());
  EXPECT_EQ(provider->nowPlayingInfo()->title, "Song");
}

TEST_F(NowPlayingCoordinatorTest, UnknownIdentifiersYieldNothing) {
  coordinator.createProviders();
  playSong();
  for (const char* id : {"com.apple.music", "com.apple.Safari", "", "com.spotify.Client"}) {
    coordinator.refresh(id);
    EXPECT_EQ(coordinator.nowPlayingPublisher(id), nullptr) << id;
  }
  runUntilIdle();
  EXPECT_TRUE(music->receivedEvents().empty());
}

TEST_F(NowPlayingCoordinatorTest, ThePreferenceSwitchesEverythingOffAtTheNextCall) {
  coordinator.createProviders();
  playSong();
  setShowNowPlaying(false);
  coordinator.refresh("com.apple.Music");
  EXPECT_EQ(coordinator.nowPlayingPublisher("com.apple.Music"), nullptr);
  runUntilIdle();
  advance(3);
  EXPECT_TRUE(music->receivedEvents().empty()) << "no player is asked anything";

  setShowNowPlaying(true);
  coordinator.refresh("com.apple.Music");
  runUntilIdle();
  EXPECT_FALSE(music->receivedEvents().empty());
}

TEST_F(NowPlayingCoordinatorTest, APublisherStartsWithTheProvidersRecordAndPolls) {
  coordinator.createProviders();
  playSong();
  coordinator.refresh("com.apple.Music");
  runUntilIdle();

  auto publisher = coordinator.nowPlayingPublisher("com.apple.Music");
  ASSERT_NE(publisher, nullptr);
  ASSERT_TRUE(publisher->nowPlayingInfo().has_value()) << "the provider's record at once";
  EXPECT_EQ(publisher->nowPlayingInfo()->title, "Song");
  EXPECT_EQ(publisher->provider(), coordinator.providers().at("com.apple.Music"));

  std::vector<std::optional<NowPlayingInfo>> sent;
  auto sub = publisher->nowPlayingInfoPublisher().sink([&](const auto& info) { sent.push_back(info); });
  runUntilIdle();
  advance(3);
  EXPECT_TRUE(sent.empty()) << "the seeded record is not sent";

  auto other = coordinator.nowPlayingPublisher("com.apple.Music");
  EXPECT_NE(other, publisher);
  EXPECT_EQ(other->provider(), publisher->provider());
  runUntilIdle();
  music->clearReceivedEvents();
  advance(1);
  EXPECT_EQ(music->eventCount("currentTrack"), 2u) << "each publisher polls on its own";
}

TEST_F(NowPlayingCoordinatorTest, ChangesAtThePlayerReachTheCardWithinTwoPolls) {
  coordinator.createProviders();
  music->setPlaylist({musicTrack("One", "A"), musicTrack("Two", "B")}, 0);
  music->setPlayerState(sb::kPlayerStatePaused);
  music->launch();
  coordinator.refresh("com.apple.Music");
  runUntilIdle();
  auto publisher = coordinator.nowPlayingPublisher("com.apple.Music");
  std::vector<std::optional<NowPlayingInfo>> sent;
  auto sub = publisher->nowPlayingInfoPublisher().sink([&](const auto& info) { sent.push_back(info); });
  runUntilIdle();

  music->nextTrack();
  advance(2);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]->title, "Two");

  // The play button: the player plays, and the card learns it without waiting for the poll.
  publisher->handleMediaButton(MediaButton::playPause);
  runUntilIdle();
  EXPECT_EQ(music->playerState(), sb::kPlayerStatePlaying);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(sent[1]->isPlaying);

  publisher->handleMediaButton(MediaButton::back);
  runUntilIdle();
  EXPECT_EQ(music->receivedCommands(), (std::vector<std::string>{"playpause", "backTrack"}));
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[2]->title, "One");

  publisher->handleMediaButton(MediaButton::forward);
  runUntilIdle();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[3]->title, "Two");

  // The player quits: the card is told there is nothing.
  music->quit();
  advance(2);
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_FALSE(sent[4].has_value());
}

TEST_F(NowPlayingCoordinatorTest, ANewTrackWithoutArtworkWaitsForTheReload) {
  coordinator.createProviders();
  auto withArt = musicTrack("One", "A");
  sb::MusicArtworkSpec art;
  art.image = solidImage({5, 5, 5, 255});
  withArt.artworks = {art};
  music->setPlaylist({withArt, musicTrack("Two", "B")}, 0);
  music->launch();
  coordinator.refresh("com.apple.Music");
  runUntilIdle();
  auto publisher = coordinator.nowPlayingPublisher("com.apple.Music");
  std::vector<std::optional<NowPlayingInfo>> sent;
  auto sub = publisher->nowPlayingInfoPublisher().sink([&](const auto& info) { sent.push_back(info); });
  runUntilIdle();

  music->nextTrack();
  advance(2);  // the second poll sees the track without artwork and holds it back
  EXPECT_TRUE(sent.empty());
  advance(1);  // the reload publishes it as it is
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]->title, "Two");
  EXPECT_FALSE(sent[0]->artwork.has_value());
  advance(3);
  EXPECT_EQ(sent.size(), 1u);
}
