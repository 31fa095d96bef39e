#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/image/Bitmap.h"
#include "platform/scripting/ScriptingBridge.h"
#include "platform/scripting/SimulatedPlayers.h"
#include "platform/sim/World.h"

namespace {

using sb::SBApplication;

class RecordingDelegate : public sb::SBApplicationDelegate {
 public:
  ns::Value eventDidFail(const sb::AppleEvent& event, const ns::Error& error) override {
    events.push_back(event);
    errors.push_back(error);
    return reply;
  }
  std::vector<sb::AppleEvent> events;
  std::vector<ns::Error> errors;
  ns::Value reply;
};

img::Image solidImage(img::Pixel pixel, int w = 8, int h = 8) {
  return img::Image::withBitmap(*img::Bitmap::filled(w, h, pixel));
}

sb::MusicTrackSpec musicTrack(std::string name, std::string artist, double duration = 215.7) {
  sb::MusicTrackSpec t;
  t.name = std::move(name);
  t.artist = std::move(artist);
  t.album = "Album";
  t.duration = duration;
  return t;
}

class ScriptingBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::World::shared().reset();
    sb::SimulatedPlayers::reset();
  }
  void TearDown() override {
    sb::SimulatedPlayers::reset();
    sim::World::shared().reset();
  }
  dispatch::VirtualClockScope clock;
  std::shared_ptr<sb::MusicPlayer> music = sb::MusicPlayer::shared();
  std::shared_ptr<sb::SpotifyPlayer> spotify = sb::SpotifyPlayer::shared();
};

}  // namespace

TEST(FourCharCodeTest, BigEndianAndBack) {
  EXPECT_EQ(sb::fourCharCode("kPSP"), 0x6B505350u);
  EXPECT_EQ(sb::fourCharCodeFromString("kPSp"), sb::fourCharCode("kPSp"));
  EXPECT_FALSE(sb::fourCharCodeFromString("kPS").has_value());
  EXPECT_FALSE(sb::fourCharCodeFromString("kPSPP").has_value());
  EXPECT_EQ(sb::fourCharCodeString(sb::fourCharCode("kPSS")), "kPSS");
  EXPECT_EQ(sb::fourCharCodeString(0x00414243u), "\\x00ABC");
}

TEST_F(ScriptingBridgeTest, ApplicationsAreFoundByBundleIdentifierAndRunWithTheirProcess) {
  EXPECT_EQ(SBApplication::applicationWithBundleIdentifier("com.example.nothing"), nullptr);
  auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(app->bundleIdentifier(), "com.apple.Music");
  EXPECT_FALSE(app->isRunning());

  pid_t pid = music->launch();
  EXPECT_TRUE(app->isRunning()) << "running is asked of the desktop at each call";
  EXPECT_EQ(music->launch(), pid) << "a second launch finds the running process";
  auto info = sim::World::shared().application(pid);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->bundleIdentifier, "com.apple.Music");
  EXPECT_EQ(info->name, "Music");

  music->quit();
  EXPECT_FALSE(app->isRunning());
  EXPECT_NE(SBApplication::applicationWithBundleIdentifier("com.apple.Music"), app) << "a new object each time";
}

TEST_F(ScriptingBridgeTest, AnApplicationWithoutDictionaryAnswersOnlyTheBaseSelectors) {
  sim::ApplicationSpec spec;
  spec.bundleIdentifier = "com.example.Editor";
  sim::World::shared().launchApplication(spec);
  auto editor = SBApplication::applicationWithBundleIdentifier("com.example.Editor");
  ASSERT_NE(editor, nullptr);
  EXPECT_TRUE(editor->isRunning());
  EXPECT_TRUE(editor->respondsToSelector("isRunning"));
  EXPECT_TRUE(editor->respondsToSelector("setDelegate:"));
  EXPECT_FALSE(editor->respondsToSelector("currentTrack"));

  music->setScriptable(false);
  music->launch();
  auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
  ASSERT_NE(app, nullptr);
  EXPECT_TRUE(app->isRunning());
  EXPECT_FALSE(app->respondsToSelector("currentTrack"));
  EXPECT_FALSE(app->respondsToSelector("playpause"));
}

TEST_F(ScriptingBridgeTest, TrackPropertiesAndUnansweredMembers) {
  auto track = musicTrack("Song", "Singer");
  track.unanswered = {"album"};
  music->setCurrentTrack(track);
  music->launch();
  auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
  ASSERT_TRUE(app->respondsToSelector("currentTrack"));
  auto current = app->objectForSelector("currentTrack");
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current->scriptingClass(), "track");
  EXPECT_EQ(current->stringForSelector("name"), "Song");
  EXPECT_EQ(current->stringForSelector("artist"), "Singer");
  EXPECT_DOUBLE_EQ(current->doubleForSelector("duration"), 215.7);
  EXPECT_TRUE(current->respondsToSelector("artist"));
  EXPECT_FALSE(current->respondsToSelector("album"));
  EXPECT_FALSE(current->respondsToSelector("artworkUrl")) << "a Music track has no artwork address";
  EXPECT_TRUE(current->get().objectAs<sb::SBObject>() == current);
}

TEST_F(ScriptingBridgeTest, NoCurrentTrackIsAMissingObjectThatAnswersNothing) {
  music->launch();
  auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
  auto delegate = std::make_shared<RecordingDelegate>();
  app->setDelegate(delegate);
  auto current = app->objectForSelector("currentTrack");
  ASSERT_NE(current, nullptr);
  EXPECT_TRUE(current->isMissing());
  EXPECT_FALSE(current->respondsToSelector("artist"));
  EXPECT_FALSE(current->respondsToSelector("get"));
  EXPECT_TRUE(current->get().isNull());
  EXPECT_TRUE(current->sendEvent("artist").isNull());
  ASSERT_EQ(delegate->errors.size(), 1u);
  EXPECT_EQ(delegate->errors[0].code, sb::kErrAENoSuchObject);
}

TEST_F(ScriptingBridgeTest, PlayerStateAndPositionFollowTheClock) {
  music->setCurrentTrack(musicTrack("Song", "Singer", 100));
  music->launch();
  auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
  EXPECT_EQ(app->codeForSelector("playerState"), sb::kPlayerStateStopped);
  EXPECT_TRUE(app->sendEvent("playerState").isUInt()) << "an unsigned 32-bit code";

  music->setPlayerState(sb::kPlayerStatePlaying);
  dispatch::Scheduler::shared().advance(2.5);
  EXPECT_DOUBLE_EQ(app->doubleForSelector("playerPosition"), 2.5);

  music->setPlayerState(sb::kPlayerStatePaused);
  dispatch::Scheduler::shared().advance(10);
  EXPECT_DOUBLE_EQ(app->doubleForSelector("playerPosition"), 2.5) << "a paused player keeps its position";

  music->setPlayerState(sb::kPlayerStatePlaying);
  dispatch::Scheduler::shared().advance(500);
  EXPECT_DOUBLE_EQ(app->doubleForSelector("playerPosition"), 100) << "stops at the end of the track";

  app->sendEvent("setPlayerPosition:", {ns::Value(42.0)});
  EXPECT_DOUBLE_EQ(music->playerPosition(), 42);
}

TEST_F(ScriptingBridgeTest, CommandsDriveThePlayerAndAreRecorded) {
  music->setPlaylist({musicTrack("One", "A"), musicTrack("Two", "B"), musicTrack("Three", "C")}, 0);
  music->launch();
  auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");

  app->sendEvent("playpause");
  EXPECT_EQ(music->playerState(), sb::kPlayerStatePlaying);
  app->sendEvent("playpause");
  EXPECT_EQ(music->playerState(), sb::kPlayerStatePaused);

  app->sendEvent("nextTrack");
  EXPECT_EQ(music->currentTrackIndex(), 1u);
  app->sendEvent("previousTrack");
  app->sendEvent("previousTrack");
  EXPECT_EQ(music->currentTrackIndex(), 2u) << "wraps to the last track";

  // Back track: near the start it goes to the previous track, further in to the start.
  app->sendEvent("backTrack");
  EXPECT_EQ(music->currentTrackIndex(), 1u);
  music->setPlayerPosition(30);
  app->sendEvent("backTrack");
  EXPECT_EQ(music->currentTrackIndex(), 1u);
  EXPECT_DOUBLE_EQ(music->playerPosition(), 0);

  EXPECT_EQ(music->receivedCommands(), (std::vector<std::string>{"playpause", "playpause", "nextTrack", "previousTrack",
                                                                 "previousTrack", "backTrack", "backTrack"}));
  EXPECT_EQ(music->eventCount("backTrack"), 2u);

  EXPECT_FALSE(SBApplication::applicationWithBundleIdentifier("com.spotify.client")->respondsToSelector("backTrack"))
      << "Spotify has no back track";
}

TEST_F(ScriptingBridgeTest, FailedEventsGoToTheDelegateWhoseReplyIsTheResult) {
  music->setCurrentTrack(musicTrack("Song", "Singer"));
  music->setFailingSelectors({"artist"}, ns::Error::withDescription(sb::NSOSStatusErrorDomain, -1712, "Timed out."));
  music->launch();
  auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
  auto track = app->objectForSelector("currentTrack");

  EXPECT_EQ(track->stringForSelector("artist", "fallback"), "fallback") << "no delegate: nil";

  auto delegate = std::make_shared<RecordingDelegate>();
  delegate->reply = ns::Value("from the delegate");
  app->setDelegate(delegate);
  EXPECT_EQ(track->stringForSelector("artist"), "from the delegate");
  ASSERT_EQ(delegate->events.size(), 1u);
  EXPECT_EQ(delegate->events[0].selector, "artist");
  EXPECT_EQ(delegate->events[0].receiver, "track");
  EXPECT_EQ(delegate->events[0].application, "com.apple.Music");
  EXPECT_EQ(delegate->errors[0].localizedDescription(), "Timed out.");
  EXPECT_EQ(track->stringForSelector("name"), "Song") << "other members are unaffected";
}

TEST_F(ScriptingBridgeTest, EventsToAQuitApplicationFailWithProcNotFound) {
  music->setCurrentTrack(musicTrack("Song", "Singer"));
  music->launch();
  auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
  auto delegate = std::make_shared<RecordingDelegate>();
  app->setDelegate(delegate);
  music->quit();
  EXPECT_TRUE(app->respondsToSelector("playerPosition")) << "the dictionary still declares it";
  EXPECT_DOUBLE_EQ(app->doubleForSelector("playerPosition"), 0);
  ASSERT_EQ(delegate->errors.size(), 1u);
  EXPECT_EQ(delegate->errors[0].code, sb::kProcNotFound);
  EXPECT_EQ(delegate->errors[0].localizedDescription(), "The application isn't running.");
  EXPECT_EQ(music->eventCount("playerPosition"), 0u) << "the event never reached the player";
}

TEST_F(ScriptingBridgeTest, TheDelegateIsHeldWeakly) {
  music->launch();
  auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
  std::weak_ptr<RecordingDelegate> weak;
  {
    auto delegate = std::make_shared<RecordingDelegate>();
    weak = delegate;
    app->setDelegate(delegate);
    EXPECT_EQ(app->delegate(), delegate);
  }
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(app->delegate(), nullptr);
  EXPECT_TRUE(app->objectForSelector("currentTrack")->sendEvent("artist").isNull()) << "no delegate, no crash";
}

TEST_F(ScriptingBridgeTest, ArtworkElementsAndTheirData) {
  auto track = musicTrack("Song", "Singer");
  sb::MusicArtworkSpec first;
  first.image = solidImage({255, 0, 0, 255});
  sb::MusicArtworkSpec raw;
  raw.rawData = {1, 2, 3};
  sb::MusicArtworkSpec other;
  other.isArtwork = false;
  track.artworks = {first, raw, other};
  music->setCurrentTrack(track);
  music->launch();
  auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
  auto current = app->objectForSelector("currentTrack");
  auto artworks = current->elementArrayForSelector("artworks");
  ASSERT_NE(artworks, nullptr);
  ASSERT_EQ(artworks->count(), 3u);
  EXPECT_EQ(artworks->objectAtIndex(3), nullptr);
  EXPECT_TRUE(artworks->elementAtIndex(99).isNull());

  auto a0 = artworks->objectAtIndex(0);
  EXPECT_EQ(a0->scriptingClass(), "artwork");
  auto data = a0->sendEvent("data");
  EXPECT_TRUE(sb::valueRespondsToSelector(data, "size"));
  auto image = data.objectAs<sb::ImageObject>();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->size(), (img::Size{8, 8}));

  auto rawData = artworks->objectAtIndex(1)->sendEvent("data");
  EXPECT_TRUE(rawData.isData());
  EXPECT_FALSE(sb::valueRespondsToSelector(rawData, "size"));

  EXPECT_EQ(artworks->objectAtIndex(2)->scriptingClass(), "item");
  EXPECT_FALSE(artworks->objectAtIndex(2)->respondsToSelector("data"));
}

TEST_F(ScriptingBridgeTest, SpotifyTracksAndSetters) {
  sb::SpotifyTrackSpec one;
  one.id = "spotify:track:1";
  one.name = "One";
  one.artist = "A";
  one.duration = 4999;
  one.artworkUrl = "http://127.0.0.1:1/one.png";
  sb::SpotifyTrackSpec two;
  two.id = "spotify:track:2";
  two.name = "Two";
  spotify->setPlaylist({one, two});
  spotify->launch();
  auto app = SBApplication::applicationWithBundleIdentifier("com.spotify.client");
  auto track = app->objectForSelector("currentTrack");
  EXPECT_EQ(track->integerForSelector("duration"), 4999);
  EXPECT_TRUE(track->sendEvent("duration").isInt()) << "whole milliseconds";
  EXPECT_EQ(track->stringForSelector("artworkUrl"), "http://127.0.0.1:1/one.png");
  EXPECT_FALSE(app->respondsToSelector("backTrack"));

  app->sendEvent("setSoundVolume:", {ns::Value(250)});
  EXPECT_EQ(spotify->soundVolume(), 100);
  app->sendEvent("setShuffling:", {ns::Value(true)});
  EXPECT_TRUE(spotify->isShuffling());
  app->sendEvent("playTrack:inContext:", {ns::Value("spotify:track:2"), ns::Value()});
  EXPECT_EQ(spotify->currentTrackIndex(), 1u);
  EXPECT_EQ(spotify->playerState(), sb::kPlayerStatePlaying);
  auto second = app->objectForSelector("currentTrack");
  EXPECT_FALSE(second->respondsToSelector("artworkUrl")) << "a track without an address does not declare it";
}

TEST_F(ScriptingBridgeTest, PlayersLoadFromJson) {
  std::string error;
  ASSERT_TRUE(sb::SimulatedPlayers::load(R"({
    "com.apple.Music": {"running": true, "state": "playing", "position": 12,
      "tracks": [{"name": "Song", "artist": "Singer", "duration": 200,
                  "artworks": [{"color": "#ff8000", "width": 4, "height": 2}], "unanswered": ["album"]}]},
    "com.spotify.client": {"state": "kPSp", "current": null,
      "tracks": [{"id": "spotify:track:9", "name": "S", "duration": 1000, "artworkUrl": "http://x/y.png"}]}
  })",
                                         &error))
      << error;
  EXPECT_TRUE(sb::isApplicationRunning("com.apple.Music"));
  EXPECT_FALSE(sb::isApplicationRunning("com.spotify.client"));
  EXPECT_EQ(music->playerState(), sb::kPlayerStatePlaying);
  EXPECT_DOUBLE_EQ(music->playerPosition(), 12);
  auto current = music->currentTrack();
  ASSERT_TRUE(current.has_value());
  EXPECT_EQ(current->artist, "Singer");
  ASSERT_EQ(current->artworks.size(), 1u);
  EXPECT_EQ(current->artworks[0].image->size(), (img::Size{4, 2}));
  EXPECT_EQ(current->artworks[0].image->bestRepresentation()->pixel(0, 0), (img::Pixel{255, 128, 0, 255}));
  EXPECT_TRUE(current->unanswered.contains("album"));
  EXPECT_EQ(spotify->playerState(), sb::kPlayerStatePaused);
  EXPECT_FALSE(spotify->currentTrackIndex().has_value());
  EXPECT_EQ(spotify->trackCount(), 1u);
}

TEST_F(ScriptingBridgeTest, BadJsonIsRefusedWithItsPlaceAndChangesNothing) {
  music->setCurrentTrack(musicTrack("Keep", "Me"));
  struct Case {
    const char* json;
    const char* where;
  };
  const Case cases[] = {
      {"not json", "players"},
      {R"({"com.apple.music": {}})", "unknown key \"com.apple.music\""},
      {R"({"com.apple.Music": {"tracks": [{"duration": "long"}]}})", "com.apple.Music.tracks[0].duration"},
      {R"({"com.apple.Music": {"tracks": [], "current": 0}})", "com.apple.Music.current"},
      {R"({"com.apple.Music": {"state": "quiet"}})", "players.com.apple.Music.state: "},
      {R"({"com.apple.Music": {"position": -1}})", "com.apple.Music.position"},
      {R"({"com.apple.Music": {"tracks": [{"artworks": [{"color": "#12"}]}]}})",
       "com.apple.Music.tracks[0].artworks[0].color"},
      {R"({"com.apple.Music": {"tracks": [{"artworks": [{"color": "#123456", "width": 1e9}]}]}})",
       "com.apple.Music.tracks[0].artworks[0]"},
      {R"({"com.spotify.client": {"tracks": [{"duration": 1e300}]}})", "com.spotify.client.tracks[0].duration"},
      {R"({"com.spotify.client": {"unanswered": [1]}})", "com.spotify.client.unanswered[0]"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(sb::SimulatedPlayers::load(c.json, &error)) << c.json;
    EXPECT_NE(error.find(c.where), std::string::npos) << c.json << " -> " << error;
  }
  ASSERT_TRUE(music->currentTrack().has_value());
  EXPECT_EQ(music->currentTrack()->name, "Keep");
  EXPECT_FALSE(sb::isApplicationRunning("com.apple.Music"));
}

TEST_F(ScriptingBridgeTest, ReadsAndChangesFromManyThreads) {
  music->setPlaylist({musicTrack("One", "A"), musicTrack("Two", "B")}, 0);
  music->launch();
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&] {
      while (!stop) {
        auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
        if (auto track = app->objectForSelector("currentTrack")) track->stringForSelector("name");
        app->doubleForSelector("playerPosition");
      }
    });
  }
  for (int i = 0; i < 200; ++i) {
    music->nextTrack();
    music->playpause();
    music->setFailingSelectors(i % 2 ? std::set<std::string, std::less<>>{"name"}
                                     : std::set<std::string, std::less<>>{});
  }
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(music->trackCount(), 2u);
}

namespace {

// An application of its own, to show the bridge is not tied to the players.
class Counter : public sb::ScriptableApplication {
 public:
  class Root : public sb::ScriptableObject {
   public:
    std::string scriptingClass() const override { return "application"; }
    bool respondsToSelector(std::string_view s) const override { return s == "count" || s == "increment"; }
    sb::EventReply handleEvent(std::string_view s, const ns::Array&) override {
      if (s == "increment") ++count;
      if (s == "count" || s == "increment") return sb::EventReply::reply(count);
      return sb::EventReply::failure(sb::kErrAEEventNotHandled);
    }
    int count = 0;
  };
  std::string bundleIdentifier() const override { return "com.example.Counter"; }
  std::shared_ptr<sb::ScriptableObject> applicationObject() override { return root; }
  bool isRunning() const override { return true; }
  std::shared_ptr<Root> root = std::make_shared<Root>();
};

}  // namespace

TEST_F(ScriptingBridgeTest, TheRegistryScriptsAnyInstalledApplication) {
  auto counter = std::make_shared<Counter>();
  sb::ScriptingRegistry::shared().install(counter);
  auto ids = sb::ScriptingRegistry::shared().bundleIdentifiers();
  EXPECT_EQ(ids.size(), 3u);
  auto app = SBApplication::applicationWithBundleIdentifier("com.example.Counter");
  ASSERT_NE(app, nullptr);
  EXPECT_TRUE(app->isRunning()) << "the application decides";
  app->sendEvent("increment");
  EXPECT_EQ(app->integerForSelector("increment"), 2);
  EXPECT_EQ(counter->root->count, 2);
  auto delegate = std::make_shared<RecordingDelegate>();
  app->setDelegate(delegate);
  EXPECT_TRUE(app->sendEvent("reset").isNull());
  ASSERT_EQ(delegate->errors.size(), 1u);
  EXPECT_EQ(delegate->errors[0].code, sb::kErrAEEventNotHandled);

  EXPECT_TRUE(sb::ScriptingRegistry::shared().uninstall("com.example.Counter"));
  EXPECT_FALSE(sb::ScriptingRegistry::shared().uninstall("com.example.Counter"));
  EXPECT_EQ(SBApplication::applicationWithBundleIdentifier("com.example.Counter"), nullptr);
}

TEST_F(ScriptingBridgeTest, TheEventLogKeepsTheLatestEvents) {
  music->launch();
  auto app = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
  for (std::size_t i = 0; i < sb::SimulatedPlayer::kMaxRecordedEvents + 10; ++i) app->sendEvent("playerState");
  app->sendEvent("playerPosition");
  auto events = music->receivedEvents();
  EXPECT_EQ(events.size(), sb::SimulatedPlayer::kMaxRecordedEvents);
  EXPECT_EQ(events.back(), (sb::ReceivedEvent{"application", "playerPosition"}));
}
