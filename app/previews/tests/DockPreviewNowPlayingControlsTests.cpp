#include <gtest/gtest.h>

#include <limits>

#include "app/previews/DockPreviewNowPlayingControls.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/ui/Host.h"

namespace {

using Controls = DockPreviewNowPlayingControls;

struct Card {
  std::shared_ptr<int> reads = std::make_shared<int>(0);
  std::shared_ptr<double> position = std::make_shared<double>(83);
  std::vector<MediaButton> pressed;
  std::shared_ptr<ui::Host> host;

  explicit Card(bool playing, double duration = 296, std::string artist = "Artist", std::string title = "Title") {
    NowPlayingInfo info;
    info.artist = std::move(artist);
    info.title = std::move(title);
    info.duration = duration;
    info.isPlaying = playing;
    auto r = reads;
    auto p = position;
    info.getPlaybackPosition = [r, p] {
      ++*r;
      return *p;
    };
    host = ui::Host::make(ui::View(Controls{info, ui::Color::labelColor(), [this](MediaButton b) { pressed.push_back(b); }})
                              .frame(240, 80));
  }
};

}  // namespace

TEST(FormatTime, MinutesAndSecondsUnderAnHour) {
  EXPECT_EQ(Controls::formatTime(0), "00:00");
  EXPECT_EQ(Controls::formatTime(7.9), "00:07");
  EXPECT_EQ(Controls::formatTime(59.9), "00:59");
  EXPECT_EQ(Controls::formatTime(65), "01:05");
  EXPECT_EQ(Controls::formatTime(225), "03:45");
  EXPECT_EQ(Controls::formatTime(3599), "59:59");
}

TEST(FormatTime, HoursFromOneHourOn) {
  EXPECT_EQ(Controls::formatTime(3600), "01:00:00");
  EXPECT_EQ(Controls::formatTime(3661), "01:01:01");
  EXPECT_EQ(Controls::formatTime(25 * 3600), "25:00:00");
  EXPECT_EQ(Controls::formatTime(100 * 3600), "100:00:00");
}

TEST(FormatTime, ValuesOutsideItsDomainStillGiveAText) {
  EXPECT_EQ(Controls::formatTime(std::numeric_limits<double>::quiet_NaN()), "--:--");
  EXPECT_EQ(Controls::formatTime(std::numeric_limits<double>::infinity()), "--:--");
  EXPECT_EQ(Controls::formatTime(-std::numeric_limits<double>::infinity()), "--:--");
  EXPECT_EQ(Controls::formatTime(1e300), "--:--");
  EXPECT_EQ(Controls::formatTime(-12), "00:00");
  EXPECT_FALSE(Controls::formatTime(9.2e18).empty());
}

TEST(FormatTime, ZeroPadding) {
  EXPECT_EQ(Controls::zeroPadded(0), "00");
  EXPECT_EQ(Controls::zeroPadded(9), "09");
  EXPECT_EQ(Controls::zeroPadded(10), "10");
  EXPECT_EQ(Controls::zeroPadded(123), "123");
}

TEST(NowPlayingControls, ElapsedAgainstDurationWithoutAGap) {
  dispatch::VirtualClockScope clock;
  Card card(true);
  auto elapsed = card.host->frameOf("01:23");
  auto duration = card.host->frameOf("/ 04:56");
  ASSERT_TRUE(elapsed);
  ASSERT_TRUE(duration);
  EXPECT_DOUBLE_EQ(elapsed->maxX(), duration->x);
  EXPECT_EQ(card.host->find("01:23")->env->font, ui::Font::system(8));
  EXPECT_EQ(card.host->find("Artist")->env->font, ui::Font::system(11));
  // 10 points between the title and the time row.
  EXPECT_NEAR(elapsed->y - card.host->frameOf("Title")->maxY(), 10, 1.5);
  Card zero(false, 0);
  EXPECT_TRUE(zero.host->find("/ 00:00"));
}

TEST(NowPlayingControls, PlayPauseGlyphFollowsTheRecordAndAlwaysSendsPlayPause) {
  dispatch::VirtualClockScope clock;
  Card playing(true);
  EXPECT_TRUE(playing.host->find("pause.fill"));
  EXPECT_FALSE(playing.host->find("play.fill"));
  ASSERT_TRUE(playing.host->click("pause.fill"));
  EXPECT_TRUE(playing.host->find("pause.fill")) << "only a new record changes the glyph";
  Card paused(false);
  ASSERT_TRUE(paused.host->click("play.fill"));
  ASSERT_TRUE(paused.host->click("backward.fill"));
  ASSERT_TRUE(paused.host->click("forward.fill"));
  EXPECT_EQ(playing.pressed, (std::vector<MediaButton>{MediaButton::playPause}));
  EXPECT_EQ(paused.pressed, (std::vector<MediaButton>{MediaButton::playPause, MediaButton::back, MediaButton::forward}));
  auto play = paused.host->frameOf("play.fill");
  EXPECT_EQ(play->height, 32);
  auto back = paused.host->frameOf("backward.fill");
  EXPECT_EQ(back->height, 16);
}

TEST(NowPlayingControls, ButtonsAreTwentyPointsApart) {
  dispatch::VirtualClockScope clock;
  Card card(false);
  auto back = *card.host->frameOf("backward.fill");
  auto play = *card.host->frameOf("play.fill");
  auto forward = *card.host->frameOf("forward.fill");
  // The play glyph is centred in its 34-point frame.
  const double playFrameX = play.midX() - 17;
  EXPECT_NEAR(playFrameX - back.maxX(), 20, 0.01);
  EXPECT_NEAR(forward.x - (playFrameX + 34), 20, 0.01);
}

TEST(NowPlayingControls, LongTextsStayOnOneLine) {
  dispatch::VirtualClockScope clock;
  Card card(true, 296, std::string(200, 'a'), "A title that goes on and on and on well past the card's edge");
  const ui::Node* artist = card.host->find(std::string(200, 'a'));
  ASSERT_NE(artist, nullptr);
  EXPECT_EQ(artist->env->lineLimit, 1);
  EXPECT_LE(artist->frame.width, 240);
  EXPECT_LT(artist->frame.height, 16);
}

TEST(NowPlayingControls, ElapsedTimeAdvancesOnceASecond) {
  dispatch::VirtualClockScope clock;
  auto& sched = dispatch::Scheduler::shared();
  Card card(true);
  card.host->layoutIfNeeded();
  EXPECT_TRUE(card.host->find("01:23"));
  const int readsAfterBuild = *card.reads;
  EXPECT_GE(readsAfterBuild, 1);
  *card.position = 84.2;
  sched.advance(0.5);
  card.host->layoutIfNeeded();
  EXPECT_TRUE(card.host->find("01:23")) << "not refreshed before the second is over";
  sched.advance(0.5);
  card.host->layoutIfNeeded();
  EXPECT_TRUE(card.host->find("01:24"));
  EXPECT_TRUE(card.host->find("/ 04:56"));
  EXPECT_EQ(*card.reads, readsAfterBuild + 1) << "one position read per tick";
}
