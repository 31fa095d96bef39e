// Spotify artwork downloaded over HTTP from a local server on 127.0.0.1.

#include <gtest/gtest.h>

#include "app/nowplaying/NowPlayingPublisher.h"
#include "app/nowplaying/SpotifyNowPlayingProvider.h"
#include "app/nowplaying/tests/NowPlayingTestSupport.h"
#include "platform/image/PNG.h"
#include "platform/image/tests/EncodeSupport.h"
#include "tools/ingestion-sink/IngestionSink.h"

using nowplaying_test::solidImage;
using nowplaying_test::spotifyTrack;

namespace {

constexpr double kWait = 20.0;  // generous bound for a local download

std::string pngBody(img::Pixel pixel, int w, int h) {
  auto bitmap = img::Bitmap::filled(w, h, pixel);
  auto png = img::encodePNG(*bitmap);
  return std::string(png->begin(), png->end());
}

ingestion_sink::ScriptedResponse answer(int status, std::string body, std::string type = "image/png") {
  ingestion_sink::ScriptedResponse r;
  r.status = status;
  r.headers = {{"Content-Type", type}};
  r.body = std::move(body);
  return r;
}

class SpotifyArtworkTest : public nowplaying_test::NowPlayingTest {
 protected:
  SpotifyArtworkTest() {
    std::string error;
    EXPECT_TRUE(sink->start(&error)) << error;
  }
  ~SpotifyArtworkTest() override {
    // Close the session's kept-alive connections before the server stops,
    // which would otherwise wait for them.
    session->invalidateAndCancel();
    provider.reset();
    session.reset();
    sink->stop();
  }

  std::string address(const std::string& path) const { return sink->baseURL() + path; }
  void serve(std::vector<ingestion_sink::ScriptedResponse> responses,
             ingestion_sink::ScriptedResponse fallback = answer(404, "not here", "text/plain")) {
    ingestion_sink::Script script;
    script.responses = std::move(responses);
    script.fallback = std::move(fallback);
    sink->setScript(std::move(script));
  }
  void play(const std::string& artworkPath, const std::string& name = "Song") {
    spotify->setCurrentTrack(spotifyTrack(name, "Singer", 200000, address(artworkPath)));
    spotify->setPlayerState(sb::kPlayerStatePlaying);
    spotify->launch();
  }
  void refresh() {
    auto p = provider;
    conc::spawnOnMain([p]() -> conc::Task<void> {
      auto r = p->refresh();
      co_await std::move(r);
    });
  }
  // Waits until every download has come back and the main queue is drained.
  bool settle() {
    auto& scheduler = dispatch::Scheduler::shared();
    if (!scheduler.runMainUntil([this] { return session->outstandingTaskCount() == 0; }, kWait)) return false;
    scheduler.runUntilIdle();
    return true;
  }

  std::unique_ptr<ingestion_sink::Sink> sink = std::make_unique<ingestion_sink::Sink>();
  std::shared_ptr<net::URLSession> session =
      net::URLSession::sessionWithConfiguration(net::URLSessionConfiguration::defaultSessionConfiguration());
  std::shared_ptr<SpotifyNowPlayingProvider> provider = SpotifyNowPlayingProvider::make(session);
};

}  // namespace

TEST_F(SpotifyArtworkTest, TheFirstReadStartsTheDownloadAndTheImageArrivesWithARead) {
  serve({answer(200, pngBody({0, 128, 255, 255}, 6, 4))});
  play("/art/one.png");
  auto first = provider->readNowPlayingInfo();
  ASSERT_TRUE(first.has_value());
  EXPECT_FALSE(first->artwork.has_value()) << "the download has only started";

  // The download caches the image and starts a read that finds it.
  ASSERT_TRUE(dispatch::Scheduler::shared().runMainUntil(
      [&] { return provider->nowPlayingInfo() && provider->nowPlayingInfo()->artwork; }, kWait));
  EXPECT_EQ(provider->nowPlayingInfo()->artwork->size(), (img::Size{6, 4}));
  ASSERT_TRUE(provider->imageCache().contains(address("/art/one.png")));
  ASSERT_EQ(sink->requestCount(), 1u);
  EXPECT_EQ(sink->requests()[0].path, "/art/one.png");
  EXPECT_EQ(sink->requests()[0].method, "GET");

  // Another track and back: the image comes from the cache at once.
  play("/art/two.png", "Other");
  EXPECT_FALSE(provider->readNowPlayingInfo()->artwork.has_value());
  ASSERT_TRUE(settle());
  play("/art/one.png");
  auto again = provider->readNowPlayingInfo();
  ASSERT_TRUE(again->artwork.has_value());
  EXPECT_TRUE(again->artwork->isSameObject(*provider->imageCache().find(address("/art/one.png"))));
  EXPECT_EQ(sink->requestCount(), 2u) << "no third download";
  EXPECT_EQ(log.count(), 0u);
}

TEST_F(SpotifyArtworkTest, AFailureIsRememberedForAWhileAndABadImageIsLogged) {
  const std::string tooLong(SpotifyNowPlayingProvider::kArtworkMaximumBytes + 1, 'x');
  serve({answer(500, "oops", "text/plain"), answer(200, "this is not a png"), answer(200, tooLong)},
        answer(200, pngBody({1, 2, 3, 255}, 2, 2)));
  play("/art/flaky.png");

  provider->readNowPlayingInfo();
  ASSERT_TRUE(settle());
  EXPECT_TRUE(provider->imageCache().empty()) << "an error page is no image";
  EXPECT_FALSE(provider->nowPlayingInfo().has_value()) << "no read was started by the failure";
  EXPECT_EQ(log.count(), 0u) << "a failed download leaves no trace";
  // Polls within the next minute do not ask again.
  for (int poll = 0; poll < 10; ++poll) {
    advance(1);
    provider->readNowPlayingInfo();
  }
  ASSERT_TRUE(settle());
  EXPECT_EQ(sink->requestCount(), 1u);

  advance(SpotifyNowPlayingProvider::kFailureMemory);
  provider->readNowPlayingInfo();
  ASSERT_TRUE(settle());
  EXPECT_TRUE(provider->imageCache().empty()) << "data that is not an image stores nothing";
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Undecodable artwork:" + address("/art/flaky.png") +
                                                   " (not a PNG or JPEG image)"}));

  // A download past the limit is refused as it arrives, and logged.
  advance(SpotifyNowPlayingProvider::kFailureMemory);
  provider->readNowPlayingInfo();
  ASSERT_TRUE(settle());
  ASSERT_EQ(log.count(), 2u);
  EXPECT_EQ(log.lines()[1], "Artwork too large:" + address("/art/flaky.png") + " (over 16 MiB)");

  advance(SpotifyNowPlayingProvider::kFailureMemory);
  provider->readNowPlayingInfo();
  ASSERT_TRUE(settle());
  EXPECT_EQ(provider->imageCache().size(), 1u);
  EXPECT_EQ(sink->requestCount(), 4u);
}

TEST_F(SpotifyArtworkTest, ASlowAddressIsDownloadedOnceAndJPEGArtworkFitsTheShowcaseAtTheScreensScale) {
  auto big = img::Bitmap::filled(2000, 1000, img::Pixel{200, 40, 90, 255});
  auto jpeg = imagetest::encodeJPEG(*big);
  auto slow = answer(200, std::string(jpeg.begin(), jpeg.end()), "image/jpeg");
  slow.delay = std::chrono::milliseconds(300);
  serve({}, slow);
  sim::DisplaySpec display;
  display.frame = CGRect(0, 0, 1440, 900);
  sim::World::shared().addDisplay(display);
  play("/art/big.jpg");
  // Polls while the download is under way start no other.
  for (int poll = 0; poll < 5; ++poll) EXPECT_FALSE(provider->readNowPlayingInfo()->artwork.has_value());
  EXPECT_TRUE(provider->isDownloading(address("/art/big.jpg")));
  ASSERT_TRUE(dispatch::Scheduler::shared().runMainUntil(
      [&] { return provider->nowPlayingInfo() && provider->nowPlayingInfo()->artwork; }, kWait));
  EXPECT_EQ(sink->requestCount(), 1u);
  const img::Image artwork = *provider->nowPlayingInfo()->artwork;
  EXPECT_EQ(artwork.size(), (img::Size{200, 100}));  // the showcase's 200 points on a 1x screen
  EXPECT_EQ(provider->imageCache().bytes(), 200u * 100u * 4u);
  const img::Pixel p = artwork.bestRepresentation()->pixel(100, 80);
  EXPECT_NEAR(p.r, 200, 6);
  EXPECT_NEAR(p.g, 40, 6);
  EXPECT_NEAR(p.b, 90, 6);

  // 400 pixels once a 2x screen is attached as well.
  display.frame = CGRect(1440, 0, 1440, 900);
  display.scale = 2;
  sim::World::shared().addDisplay(display);
  play("/art/big2x.jpg");
  provider->readNowPlayingInfo();
  ASSERT_TRUE(settle());
  EXPECT_EQ(provider->imageCache().find(address("/art/big2x.jpg")).value().size(), (img::Size{400, 200}));
}

TEST(ArtworkCache, KeepsTheMostRecentlyUsedImagesWithinItsBytes) {
  const std::size_t one = 8 * 8 * 4;
  ArtworkCache cache(3 * one);
  for (const char* address : {"a", "b", "c"}) cache.insert(address, solidImage({1, 2, 3, 255}));
  EXPECT_TRUE(cache.find("a"));  // now the most recent
  cache.insert("d", solidImage({4, 5, 6, 255}));
  EXPECT_FALSE(cache.contains("b"));
  EXPECT_TRUE(cache.contains("a") && cache.contains("c") && cache.contains("d"));
  EXPECT_EQ(cache.bytes(), 3 * one);
  // Replacing keeps one entry; an image larger than the budget is not kept.
  cache.insert("d", solidImage({7, 8, 9, 255}, 4, 4));
  EXPECT_EQ(cache.bytes(), 2 * one + 4 * 4 * 4);
  cache.insert("huge", solidImage({0, 0, 0, 255}, 64, 64));
  EXPECT_FALSE(cache.contains("huge"));
  EXPECT_EQ(cache.size(), 3u);
}

TEST_F(SpotifyArtworkTest, AnUnreachableServerOrSchemeIsAFailedDownload) {
  const std::string closed = "http://127.0.0.1:1/art.png";  // nothing listens on port 1
  spotify->setCurrentTrack(spotifyTrack("Song", "Singer", 1000, closed));
  spotify->launch();
  EXPECT_FALSE(provider->readNowPlayingInfo()->artwork.has_value());
  ASSERT_TRUE(settle());
  EXPECT_TRUE(provider->imageCache().empty());

  // The address comes from another application: only the web's schemes are fetched.
  EXPECT_FALSE(provider->loadArtwork("file:///etc/hostname").has_value());
  ASSERT_TRUE(settle());
  EXPECT_TRUE(provider->imageCache().empty());
}

TEST_F(SpotifyArtworkTest, ADownloadOutlivingItsProviderIsDropped) {
  auto slow = answer(200, pngBody({9, 9, 9, 255}, 2, 2));
  slow.delay = std::chrono::milliseconds(200);
  serve({slow});
  play("/art/slow.png");
  provider->readNowPlayingInfo();
  std::weak_ptr<SpotifyNowPlayingProvider> weak = provider;
  provider.reset();
  EXPECT_TRUE(weak.expired()) << "a download in flight does not keep the provider";
  ASSERT_TRUE(settle());
  EXPECT_EQ(sink->requestCount(), 1u);
}

TEST_F(SpotifyArtworkTest, ThePublisherShowsTheArtworkOnceItHasArrived) {
  serve({answer(200, pngBody({200, 100, 0, 255}, 3, 3))});
  play("/art/card.png");
  refresh();
  dispatch::Scheduler::shared().runUntilIdle();
  // On a fast loopback the download may already be back: start from the
  // record as it was before it arrived.
  auto before = provider->nowPlayingInfo();
  ASSERT_TRUE(before.has_value());
  before->artwork.reset();
  auto publisher = NowPlayingPublisher::make(before, NowPlayingPublisher::Subject(), false, provider);
  std::vector<std::optional<NowPlayingInfo>> sent;
  auto sub = publisher->nowPlayingInfoPublisher().sink([&](const auto& info) { sent.push_back(info); });
  publisher->refresh();
  ASSERT_TRUE(settle());
  ASSERT_TRUE(provider->nowPlayingInfo()->artwork.has_value()) << "the download's read found the image";
  advance(1);
  ASSERT_EQ(sent.size(), 1u) << "gaining the artwork is published at the next poll";
  EXPECT_TRUE(sent[0]->artwork.has_value());
}
