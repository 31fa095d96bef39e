#include <gtest/gtest.h>

#include "app/nowplaying/NowPlayingPublisher.h"
#include "app/nowplaying/tests/NowPlayingTestSupport.h"

using nowplaying_test::record;

namespace {

// A provider whose reads store `next`, started on the main actor like a
// player's, and which counts what it was asked.
class FakeProvider : public NowPlayingProvider, public std::enable_shared_from_this<FakeProvider> {
 public:
  std::optional<NowPlayingInfo> nowPlayingInfo() const override { return current; }
  std::string bundleIdentifier() const override { return "com.example.player"; }

  conc::Task<void> refresh() override {
    ++readsStarted;
    auto self = shared_from_this();
    auto read = [self]() -> conc::Task<void> {
      ++self->readsFinished;
      self->current = self->next;
      co_return;
    };
    conc::spawnOnMain(std::move(read));
    co_return;
  }
  conc::Task<void> playPause() override { return command("playPause"); }
  conc::Task<void> previousTrack() override { return command("previousTrack"); }
  conc::Task<void> nextTrack() override { return command("nextTrack"); }

  conc::Task<void> command(std::string name) {
    auto self = shared_from_this();
    self->commands.push_back(name);
    if (self->onCommand) self->onCommand(name);
    auto read = self->refresh();
    co_await std::move(read);
  }

  std::optional<NowPlayingInfo> current;
  std::optional<NowPlayingInfo> next;
  int readsStarted = 0;
  int readsFinished = 0;
  std::vector<std::string> commands;
  std::function<void(const std::string&)> onCommand;
};

class NowPlayingPublisherTest : public nowplaying_test::NowPlayingTest {
 protected:
  // As the coordinator makes one: seeded with the provider's record, then refreshed.
  std::shared_ptr<NowPlayingPublisher> makePublisher() {
    auto publisher = NowPlayingPublisher::make(std::nullopt, NowPlayingPublisher::Subject(), false, provider);
    publisher->setNowPlayingInfo(provider->nowPlayingInfo());
    publisher->refresh();
    subscription = publisher->nowPlayingInfoPublisher().sink([this](const std::optional<NowPlayingInfo>& info) {
      sent.push_back(info);
      sentOnMain.push_back(dispatch::isMainThread());
    });
    return publisher;
  }

  std::shared_ptr<FakeProvider> provider = std::make_shared<FakeProvider>();
  std::vector<std::optional<NowPlayingInfo>> sent;
  std::vector<bool> sentOnMain;
  conc::AnyCancellable subscription;
};

}  // namespace

TEST_F(NowPlayingPublisherTest, StartsWithTheProvidersRecordAndSendsNothingUntilItChanges) {
  provider->current = provider->next = record("Song");
  auto publisher = makePublisher();
  ASSERT_TRUE(publisher->nowPlayingInfo().has_value());
  EXPECT_EQ(publisher->nowPlayingInfo()->title, "Song");
  runUntilIdle();
  advance(5);
  EXPECT_TRUE(sent.empty());

  provider->next = record("Other");
  advance(1);  // this poll starts the read that sees the change
  advance(1);  // and this one publishes it
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]->title, "Other");
  EXPECT_EQ(publisher->nowPlayingInfo()->title, "Other");
  EXPECT_TRUE(sentOnMain[0]);
  advance(5);
  EXPECT_EQ(sent.size(), 1u) << "no duplicate sends";
}

TEST_F(NowPlayingPublisherTest, PollsEverySecondWhileItLives) {
  provider->next = record("Song");
  auto publisher = makePublisher();
  runUntilIdle();
  EXPECT_EQ(provider->readsStarted, 1);
  EXPECT_TRUE(publisher->refreshScheduled());
  advance(0.5);
  EXPECT_EQ(provider->readsStarted, 1);
  advance(0.5);
  EXPECT_EQ(provider->readsStarted, 2);
  advance(10);
  EXPECT_EQ(provider->readsStarted, 12);
  EXPECT_EQ(provider->readsFinished, 12);
  ASSERT_EQ(sent.size(), 1u) << "nothing to a record: sent once";
  EXPECT_EQ(sent[0]->title, "Song");
}

TEST_F(NowPlayingPublisherTest, RepeatedRefreshesLeaveOnePollPending) {
  auto publisher = makePublisher();
  publisher->refresh();
  publisher->refresh();
  runUntilIdle();
  EXPECT_EQ(provider->readsStarted, 3);
  advance(1);
  EXPECT_EQ(provider->readsStarted, 4) << "one poll, not three";
  advance(1);
  EXPECT_EQ(provider->readsStarted, 5);
}

TEST_F(NowPlayingPublisherTest, StopsPollingWhenReleased) {
  auto publisher = makePublisher();
  runUntilIdle();
  std::weak_ptr<NowPlayingPublisher> weak = publisher;
  publisher.reset();
  EXPECT_TRUE(weak.expired()) << "a pending poll does not keep the publisher";
  advance(1);
  advance(5);
  EXPECT_EQ(provider->readsStarted, 1) << "the one pending poll found nothing to do";
  EXPECT_EQ(dispatch::Queue::main()->pendingCount(), 0u);
}

TEST_F(NowPlayingPublisherTest, LosingTheArtworkIsHeldBackForASecond) {
  provider->current = provider->next = record("Old", true);
  auto publisher = makePublisher();
  runUntilIdle();
  provider->current = provider->next = record("New", false);  // the new track's artwork is on its way
  advance(1);
  EXPECT_TRUE(sent.empty()) << "held back";
  EXPECT_EQ(publisher->nowPlayingInfo()->title, "Old");

  provider->current = provider->next = record("New", true);  // the artwork arrived
  advance(1);
  ASSERT_GE(sent.size(), 1u);
  EXPECT_EQ(sent[0]->title, "New");
  EXPECT_TRUE(sent[0]->artwork.has_value()) << "published as it is when the reload runs";
}

TEST_F(NowPlayingPublisherTest, TheDelayedReloadPublishesWithoutArtworkToo) {
  provider->current = provider->next = record("Old", true);
  auto publisher = makePublisher();
  runUntilIdle();
  provider->current = provider->next = record("New", false);
  advance(1);
  EXPECT_TRUE(sent.empty());
  advance(1);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0]->title, "New");
  EXPECT_FALSE(sent[0]->artwork.has_value());
}

TEST_F(NowPlayingPublisherTest, OtherChangesArePublishedAtOnce) {
  provider->current = provider->next = record("Song", false);
  auto publisher = makePublisher();
  runUntilIdle();

  provider->current = provider->next = record("Song", true);  // artwork gained
  advance(1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(sent.back()->artwork.has_value());

  provider->current = provider->next = std::nullopt;  // the player quit
  advance(1);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_FALSE(sent.back().has_value());

  provider->current = provider->next = record("Back", true);  // and came back
  advance(1);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent.back()->title, "Back");
}

TEST_F(NowPlayingPublisherTest, ANewImageAloneIsNotPublished) {
  provider->current = provider->next = record("Song", true);
  auto publisher = makePublisher();
  runUntilIdle();
  auto changed = record("Song", true);
  changed.artwork = nowplaying_test::solidImage({200, 0, 0, 255}, 30, 30);
  provider->current = provider->next = changed;
  advance(3);
  EXPECT_TRUE(sent.empty());
}

TEST_F(NowPlayingPublisherTest, MediaButtonsSendTheirCommandThenRefresh) {
  provider->current = provider->next = record("Song", false, false);
  auto publisher = makePublisher();
  runUntilIdle();
  provider->onCommand = [this](const std::string& name) {
    if (name == "playPause") provider->next = record("Song", false, true);
  };

  publisher->handleMediaButton(MediaButton::playPause);
  runUntilIdle();
  EXPECT_EQ(provider->commands, (std::vector<std::string>{"playPause"}));
  ASSERT_EQ(sent.size(), 1u) << "published at once, without waiting for the poll";
  EXPECT_TRUE(sent[0]->isPlaying);

  publisher->handleMediaButton(MediaButton::back);
  publisher->handleMediaButton(MediaButton::forward);
  runUntilIdle();
  EXPECT_EQ(provider->commands, (std::vector<std::string>{"playPause", "previousTrack", "nextTrack"}));
  EXPECT_EQ(sent.size(), 1u) << "the command's own read and the refresh publish once at most";
}

TEST_F(NowPlayingPublisherTest, APendingReloadOutlivesThePreviewOnce) {
  provider->current = provider->next = record("Old", true);
  auto publisher = makePublisher();
  runUntilIdle();
  provider->current = provider->next = record("New", false);
  advance(1);
  auto subject = publisher->nowPlayingInfoPublisher();
  subscription.cancel();
  std::weak_ptr<NowPlayingPublisher> weak = publisher;
  publisher.reset();
  EXPECT_FALSE(weak.expired()) << "the delayed reload holds it";
  int reads = provider->readsStarted;
  // The reload and the poll are due together; the reload's hold lets that
  // poll run once more, and nothing holds the publisher afterwards.
  advance(1);
  EXPECT_EQ(provider->readsStarted, reads + 2);
  EXPECT_TRUE(weak.expired());
  advance(5);
  EXPECT_EQ(provider->readsStarted, reads + 2) << "the last pending poll found nothing to do";
  EXPECT_EQ(subject.subscriberCount(), 0u);
  EXPECT_EQ(dispatch::Queue::main()->pendingCount(), 0u);
}
