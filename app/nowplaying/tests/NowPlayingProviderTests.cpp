#include <gtest/gtest.h>

#include <limits>

#include "app/nowplaying/AppleMusicNowPlayingProvider.h"
#include "app/nowplaying/SpotifyNowPlayingProvider.h"
#include "app/nowplaying/tests/NowPlayingTestSupport.h"

using nowplaying_test::musicTrack;
using nowplaying_test::solidImage;
using nowplaying_test::spotifyTrack;

namespace {

class AppleMusicProviderTest : public nowplaying_test::NowPlayingTest {
 protected:
  std::shared_ptr<AppleMusicNowPlayingProvider> provider = AppleMusicNowPlayingProvider::make();

  // A running player with one track in the given state.
  void play(sb::MusicTrackSpec track, sb::FourCharCode state = sb::kPlayerStatePlaying) {
    music->setCurrentTrack(std::move(track));
    music->setPlayerState(state);
    music->launch();
  }

  // Runs a provider command to its end on the main actor.
  void run(conc::Task<void> (AppleMusicNowPlayingProvider::*command)()) { runCommand(provider, command); }
};

}  // namespace

TEST_F(AppleMusicProviderTest, StartsWithoutRecordAndKnowsItsPlayer) {
  EXPECT_FALSE(provider->nowPlayingInfo().has_value());
  EXPECT_EQ(provider->bundleIdentifier(), "com.apple.Music");
}

TEST_F(AppleMusicProviderTest, APlayingTrackIsReadWhole) {
  auto track = musicTrack("Song", "Singer", 215.7);
  sb::MusicArtworkSpec first, second;
  first.image = solidImage({255, 0, 0, 255}, 3, 3);
  second.image = solidImage({0, 255, 0, 255}, 5, 5);
  track.artworks = {first, second};
  play(track);
  music->setPlayerPosition(12);

  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->artist, "Singer");
  EXPECT_EQ(info->title, "Song");
  EXPECT_EQ(info->album, "Album of Song");
  EXPECT_EQ(info->duration, 215.7) << "no rounding";
  EXPECT_TRUE(info->isPlaying);
  ASSERT_TRUE(info->artwork.has_value());
  EXPECT_EQ(info->artwork->size(), (img::Size{3, 3})) << "the first artwork of the list";
  EXPECT_EQ(info->getPlaybackPosition(), 12);
  EXPECT_EQ(log.count(), 0u) << log.lines().front();

  auto again = provider->readNowPlayingInfo();
  EXPECT_NE(again->uuid, info->uuid);
  EXPECT_TRUE(*again == *info);
}

TEST_F(AppleMusicProviderTest, OnlyThePlayingCodeMeansPlaying) {
  for (auto state : {sb::kPlayerStatePaused, sb::kPlayerStateStopped, sb::kPlayerStateFastForwarding,
                     sb::fourCharCode("kPSp"), sb::fourCharCode("zzzz")}) {
    play(musicTrack("Song", "Singer"), state);
    auto info = provider->readNowPlayingInfo();
    ASSERT_TRUE(info.has_value()) << sb::fourCharCodeString(state);
    EXPECT_FALSE(info->isPlaying) << sb::fourCharCodeString(state);
  }
  play(musicTrack("Song", "Singer"), 0x6B505350u);
  EXPECT_TRUE(provider->readNowPlayingInfo()->isPlaying);
}

TEST_F(AppleMusicProviderTest, APlayerThatIsNotRunningOrNotInstalledYieldsNothingSilently) {
  music->setCurrentTrack(musicTrack("Song", "Singer"));
  EXPECT_FALSE(provider->readNowPlayingInfo().has_value());
  EXPECT_EQ(music->receivedEvents().size(), 0u) << "no event is sent to a player that does not run";

  sb::ScriptingRegistry::shared().uninstall("com.apple.Music");
  EXPECT_EQ(sb::SBApplication::applicationWithBundleIdentifier("com.apple.Music"), nullptr);
  EXPECT_FALSE(provider->readNowPlayingInfo().has_value());
  EXPECT_EQ(log.count(), 0u);
}

TEST_F(AppleMusicProviderTest, APlayerWithoutScriptingLogsTheMissingTrack) {
  music->setScriptable(false);
  play(musicTrack("Song", "Singer"));
  EXPECT_FALSE(provider->readNowPlayingInfo().has_value());
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"currentTrack not found"}));
}

TEST_F(AppleMusicProviderTest, AStoppedPlayerWithoutTrackEndsAtTheArtist) {
  music->launch();
  EXPECT_FALSE(provider->readNowPlayingInfo().has_value());
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"artist not found"}));
}

TEST_F(AppleMusicProviderTest, AStoppedPlayerWithATrackStillHasARecord) {
  play(musicTrack("Song", "Singer"), sb::kPlayerStateStopped);
  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_FALSE(info->isPlaying);
}

TEST_F(AppleMusicProviderTest, EachMissingMemberEndsTheReadWithItsMessage) {
  struct Case {
    const char* selector;
    bool onTrack;
    const char* message;
  };
  const Case cases[] = {
      {"currentTrack", false, "currentTrack not found"},
      {"artist", true, "artist not found"},
      {"name", true, "name not found"},
      {"duration", true, "duration not found"},
      {"playerState", false, "playerState not found"},
      {"playerPosition", false, "playerPosition not found"},
  };
  for (const auto& c : cases) {
    sb::SimulatedPlayers::reset();
    auto track = musicTrack("Song", "Singer");
    if (c.onTrack) track.unanswered = {c.selector};
    play(track);
    if (!c.onTrack) music->setUnansweredSelectors({c.selector});
    log.clear();
    EXPECT_FALSE(provider->readNowPlayingInfo().has_value()) << c.selector;
    EXPECT_EQ(log.lines(), (std::vector<std::string>{c.message})) << c.selector;
  }
}

TEST_F(AppleMusicProviderTest, EmptyArtistAndNameTogetherYieldNothing) {
  play(musicTrack("", ""));
  EXPECT_FALSE(provider->readNowPlayingInfo().has_value());
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Artist and name were both empty strings"}));

  log.clear();
  play(musicTrack("Song", ""));
  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value()) << "one empty field is accepted";
  EXPECT_EQ(info->artist, "");
  EXPECT_EQ(log.count(), 0u);
}

TEST_F(AppleMusicProviderTest, AMissingAlbumIsEmptyAndUnlogged) {
  auto track = musicTrack("Song", "Singer");
  track.unanswered = {"album"};
  play(track);
  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->album, "");
  EXPECT_EQ(log.count(), 0u);
}

TEST_F(AppleMusicProviderTest, ArtworkRules) {
  auto withArtworks = [](std::vector<sb::MusicArtworkSpec> artworks, bool declared = true) {
    auto track = musicTrack("Song", "Singer");
    track.artworks = std::move(artworks);
    if (!declared) track.unanswered = {"artworks"};
    return track;
  };
  sb::MusicArtworkSpec image;
  image.image = solidImage({1, 2, 3, 255});
  sb::MusicArtworkSpec notAnImage;
  notAnImage.rawData = {0x89, 'P', 'N', 'G'};
  sb::MusicArtworkSpec withoutData = image;
  withoutData.answersData = false;
  sb::MusicArtworkSpec otherClass = image;
  otherClass.isArtwork = false;

  struct Case {
    const char* what;
    sb::MusicTrackSpec track;
  };
  const Case cases[] = {
      {"no artworks member", withArtworks({image}, false)},
      {"empty list", withArtworks({})},
      {"data that is not an image", withArtworks({notAnImage, image})},
      {"artwork without data", withArtworks({withoutData})},
      {"element of another class", withArtworks({otherClass})},
  };
  for (const auto& c : cases) {
    play(c.track);
    auto info = provider->readNowPlayingInfo();
    ASSERT_TRUE(info.has_value()) << c.what;
    EXPECT_FALSE(info->artwork.has_value()) << c.what;
  }
  EXPECT_EQ(log.count(), 0u) << "the artwork rule never logs";
}

TEST_F(AppleMusicProviderTest, RefreshReturnsBeforeTheRecordChanges) {
  play(musicTrack("Song", "Singer"));
  bool sawNothing = false;
  auto p = provider;
  conc::spawnOnMain([p, &sawNothing]() -> conc::Task<void> {
    auto refresh = p->refresh();
    co_await std::move(refresh);
    sawNothing = !p->nowPlayingInfo().has_value();
  });
  runUntilIdle();
  EXPECT_TRUE(sawNothing);
  ASSERT_TRUE(provider->nowPlayingInfo().has_value());
  EXPECT_EQ(provider->nowPlayingInfo()->title, "Song");

  // A player that quits clears the record at the next read.
  music->quit();
  run(&AppleMusicNowPlayingProvider::refresh);
  EXPECT_FALSE(provider->nowPlayingInfo().has_value());
}

TEST_F(AppleMusicProviderTest, TheStoredOutcomeIsAnnounced) {
  play(musicTrack("Song", "Singer"));
  std::vector<std::optional<NowPlayingInfo>> seen;
  auto sub = provider->nowPlayingInfoPublisher().sink([&](const auto& v) { seen.push_back(v); });
  run(&AppleMusicNowPlayingProvider::refresh);
  ASSERT_EQ(seen.size(), 2u) << "the current value, then the read";
  EXPECT_FALSE(seen[0].has_value());
  EXPECT_EQ(seen[1]->title, "Song");
}

TEST_F(AppleMusicProviderTest, ThePositionIsAskedAtEachCall) {
  play(musicTrack("Song", "Singer", 300));
  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value());
  music->clearReceivedEvents();
  EXPECT_EQ(info->getPlaybackPosition(), 0);
  advance(5);
  EXPECT_EQ(info->getPlaybackPosition(), 5);
  EXPECT_EQ(music->eventCount("playerPosition"), 2u);

  // Once the player quits nothing is sent (an event would launch it again)
  // and the position reads as 0.
  music->quit();
  EXPECT_EQ(info->getPlaybackPosition(), 0);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(AppleMusicProviderTest, ANaNDurationReadsAsZero) {
  play(musicTrack("Song", "Singer", std::numeric_limits<double>::quiet_NaN()));
  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->duration, 0) << "a NaN duration would make every comparison unequal";
  EXPECT_TRUE(*info == *provider->readNowPlayingInfo());
}

TEST_F(AppleMusicProviderTest, FailedEventsAreLoggedWithThePrefix) {
  music->setFailingSelectors({"album"}, ns::Error::withDescription(sb::NSOSStatusErrorDomain, -1712, "Timed out."));
  play(musicTrack("Song", "Singer"));
  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->album, "") << "a failed read answers nil";
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"AppleMusicNowPlayingProvider error:Timed out."}));
  EXPECT_TRUE(provider->eventDidFail({}, ns::Error::withDescription("D", 1, "x")).isNull());
}

TEST_F(AppleMusicProviderTest, CommandsReachThePlayerAndStartARead) {
  music->setPlaylist({musicTrack("One", "A"), musicTrack("Two", "B"), musicTrack("Three", "C")}, 1);
  music->setPlayerState(sb::kPlayerStatePaused);
  music->launch();

  run(&AppleMusicNowPlayingProvider::playPause);
  EXPECT_EQ(music->playerState(), sb::kPlayerStatePlaying);
  ASSERT_TRUE(provider->nowPlayingInfo().has_value()) << "the command is followed by a read";
  EXPECT_TRUE(provider->nowPlayingInfo()->isPlaying);

  run(&AppleMusicNowPlayingProvider::nextTrack);
  EXPECT_EQ(provider->nowPlayingInfo()->title, "Three");
  run(&AppleMusicNowPlayingProvider::previousTrack);
  EXPECT_EQ(provider->nowPlayingInfo()->title, "Two");
  EXPECT_EQ(music->receivedCommands(), (std::vector<std::string>{"playpause", "nextTrack", "backTrack"}))
      << "previous track is Music's back track";
  EXPECT_EQ(music->eventCount("previousTrack"), 0u);
}

TEST_F(AppleMusicProviderTest, ACommandToAPlayerThatDoesNotRunIsDroppedButStillReads) {
  music->setCurrentTrack(musicTrack("Song", "Singer"));
  music->launch();
  run(&AppleMusicNowPlayingProvider::refresh);
  ASSERT_TRUE(provider->nowPlayingInfo().has_value());

  music->quit();
  run(&AppleMusicNowPlayingProvider::playPause);
  EXPECT_TRUE(music->receivedCommands().empty());
  EXPECT_FALSE(provider->nowPlayingInfo().has_value()) << "the read after the command cleared it";
  EXPECT_EQ(log.count(), 0u);

  music->launch();
  music->setUnansweredSelectors({"playpause"});
  run(&AppleMusicNowPlayingProvider::playPause);
  EXPECT_TRUE(music->receivedCommands().empty()) << "a command the player does not declare is not sent";
}

// ---------------------------------------------------------------- Spotify

namespace {

class SpotifyProviderTest : public nowplaying_test::NowPlayingTest {
 protected:
  std::shared_ptr<net::URLSession> session =
      net::URLSession::sessionWithConfiguration(net::URLSessionConfiguration::defaultSessionConfiguration());
  std::shared_ptr<SpotifyNowPlayingProvider> provider = SpotifyNowPlayingProvider::make(session);

  void play(sb::SpotifyTrackSpec track, sb::FourCharCode state = sb::kPlayerStatePlaying) {
    spotify->setCurrentTrack(std::move(track));
    spotify->setPlayerState(state);
    spotify->launch();
  }
  void run(conc::Task<void> (SpotifyNowPlayingProvider::*command)()) { runCommand(provider, command); }
};

}  // namespace

TEST_F(SpotifyProviderTest, StartsEmpty) {
  EXPECT_EQ(provider->bundleIdentifier(), "com.spotify.client");
  EXPECT_TRUE(provider->imageCache().empty());
  EXPECT_FALSE(provider->nowPlayingInfo().has_value());
}

TEST_F(SpotifyProviderTest, DurationIsWholeSecondsOfTheMilliseconds) {
  for (auto [ms, seconds] : {std::pair<std::int64_t, double>{4999, 4.0}, {999, 0.0}, {215000, 215.0}, {0, 0.0}}) {
    play(spotifyTrack("Song", "Singer", ms));
    auto info = provider->readNowPlayingInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->duration, seconds) << ms;
  }
}

TEST_F(SpotifyProviderTest, ReadsTheCommonFields) {
  play(spotifyTrack("Song", "Singer"), sb::kPlayerStatePaused);
  spotify->setPlayerPosition(33);
  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->title, "Song");
  EXPECT_EQ(info->artist, "Singer");
  EXPECT_EQ(info->album, "Album");
  EXPECT_FALSE(info->isPlaying);
  EXPECT_EQ(info->getPlaybackPosition(), 33);
}

TEST_F(SpotifyProviderTest, ATrackWithoutAddressHasNoArtworkAndDownloadsNothing) {
  play(spotifyTrack("Song", "Singer"));
  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_FALSE(info->artwork.has_value());
  EXPECT_EQ(session->outstandingTaskCount(), 0u);
  EXPECT_EQ(log.count(), 0u);
  EXPECT_FALSE(provider->loadArtwork(std::nullopt).has_value());
}

TEST_F(SpotifyProviderTest, AnEmptyAddressIsLoggedAlone) {
  play(spotifyTrack("Song", "Singer", 1000, ""));
  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_FALSE(info->artwork.has_value());
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Invalid artwork URL:"}));
  EXPECT_EQ(session->outstandingTaskCount(), 0u);

  log.clear();
  EXPECT_FALSE(provider->loadArtwork("http://bad host/a.png").has_value());
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Invalid artwork URL:http://bad host/a.png"}));
}

TEST_F(SpotifyProviderTest, ACachedImageIsUsedWithoutDownload) {
  provider->imageCache().insert("http://127.0.0.1:9/cached.png", solidImage({9, 9, 9, 255}, 4, 4));
  play(spotifyTrack("Song", "Singer", 1000, "http://127.0.0.1:9/cached.png"));
  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value());
  ASSERT_TRUE(info->artwork.has_value());
  EXPECT_EQ(info->artwork->size(), (img::Size{4, 4}));
  EXPECT_EQ(session->outstandingTaskCount(), 0u);
}

TEST_F(SpotifyProviderTest, CommandsUseSpotifysSelectors) {
  spotify->setPlaylist({spotifyTrack("One", "A"), spotifyTrack("Two", "B")}, 0);
  spotify->launch();
  run(&SpotifyNowPlayingProvider::nextTrack);
  EXPECT_EQ(provider->nowPlayingInfo()->title, "Two");
  run(&SpotifyNowPlayingProvider::previousTrack);
  EXPECT_EQ(provider->nowPlayingInfo()->title, "One");
  run(&SpotifyNowPlayingProvider::playPause);
  EXPECT_TRUE(provider->nowPlayingInfo()->isPlaying);
  EXPECT_EQ(spotify->receivedCommands(), (std::vector<std::string>{"nextTrack", "previousTrack", "playpause"}));
}

TEST_F(SpotifyProviderTest, FailedEventsAreLoggedWithThePrefix) {
  spotify->setFailingSelectors({"artist"}, ns::Error::withDescription(sb::NSOSStatusErrorDomain, -1, "Broken."));
  play(spotifyTrack("Song", "Singer"));
  auto info = provider->readNowPlayingInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->artist, "");
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"SpotifyNowPlayingProvider error:Broken."}));
}
