#include <gtest/gtest.h>

#include <set>

#include "app/nowplaying/MusicScripting.h"
#include "app/nowplaying/NowPlayingInfo.h"
#include "app/nowplaying/SpotifyScripting.h"
#include "app/nowplaying/tests/NowPlayingTestSupport.h"

using nowplaying_test::record;
using nowplaying_test::solidImage;

TEST(NowPlayingInfoEquality, OptionalRecords) {
  std::optional<NowPlayingInfo> none;
  std::optional<NowPlayingInfo> some = record("Song");
  EXPECT_TRUE(none == std::optional<NowPlayingInfo>());
  EXPECT_FALSE(none == some);
  EXPECT_FALSE(some == none);
}

TEST(NowPlayingInfoEquality, TwoReadsOfOneTrackAreEqualDespiteTheirIdentifiers) {
  auto a = record("Song", true);
  auto b = record("Song", true);
  ASSERT_NE(a.uuid, b.uuid);
  b.artwork = solidImage({1, 2, 3, 255}, 50, 50);
  b.getPlaybackPosition = [] { return 99.0; };
  EXPECT_TRUE(a == b) << "images, identifiers and the position function take no part";
}

TEST(NowPlayingInfoEquality, EveryComparedFieldCounts) {
  const auto base = record("Song", true);
  auto changed = [&](auto change) {
    auto other = base;
    change(other);
    return !(base == other);
  };
  EXPECT_TRUE(changed([](NowPlayingInfo& r) { r.artist = "Other"; }));
  EXPECT_TRUE(changed([](NowPlayingInfo& r) { r.title = "Other"; }));
  EXPECT_TRUE(changed([](NowPlayingInfo& r) { r.album = ""; }));
  EXPECT_TRUE(changed([](NowPlayingInfo& r) { r.duration = 100.5; }));
  EXPECT_TRUE(changed([](NowPlayingInfo& r) { r.artwork.reset(); }));
  EXPECT_TRUE(changed([](NowPlayingInfo& r) { r.isPlaying = false; }));
}

TEST(MusicScriptingEnumerations, CodesAreBigEndianAndConstructionIsExact) {
  EXPECT_EQ(static_cast<sb::FourCharCode>(MusicEPlS::playing), 0x6B505350u);
  EXPECT_EQ(fromRawValue<MusicEPlS>(0x6B505350u), MusicEPlS::playing);
  EXPECT_EQ(fromRawValue<MusicEPlS>(sb::fourCharCode("kPSp")), MusicEPlS::paused);
  EXPECT_FALSE(fromRawValue<MusicEPlS>(sb::fourCharCode("kPSX")).has_value());
  EXPECT_FALSE(fromRawValue<MusicEPlS>(0u).has_value());
  EXPECT_EQ(rawValue(MusicERpt::one), sb::fourCharCode("kRp1"));

  // The number of codes each enumeration accepts.
  EXPECT_EQ(RawValues<MusicEKnd>::table.size(), 3u);
  EXPECT_EQ(RawValues<MusicEnum>::table.size(), 2u);
  EXPECT_EQ(RawValues<MusicEPlS>::table.size(), 5u);
  EXPECT_EQ(RawValues<MusicERpt>::table.size(), 3u);
  EXPECT_EQ(RawValues<MusicEShM>::table.size(), 3u);
  EXPECT_EQ(RawValues<MusicESrc>::table.size(), 7u);
  EXPECT_EQ(RawValues<MusicESrA>::table.size(), 6u);
  EXPECT_EQ(RawValues<MusicESpK>::table.size(), 6u);
  EXPECT_EQ(RawValues<MusicEMdK>::table.size(), 3u);
  EXPECT_EQ(RawValues<MusicERtK>::table.size(), 2u);
  EXPECT_EQ(RawValues<MusicEAPD>::table.size(), 7u);
  EXPECT_EQ(RawValues<MusicEClS>::table.size(), 12u);
  EXPECT_EQ(RawValues<MusicEExF>::table.size(), 5u);
  // A code shared by two enumerations belongs to each.
  EXPECT_EQ(fromRawValue<MusicERpt>(sb::fourCharCode("kAll")), MusicERpt::all);
  EXPECT_EQ(fromRawValue<MusicESrA>(sb::fourCharCode("kAll")), MusicESrA::all);
  EXPECT_FALSE(fromRawValue<MusicEShM>(sb::fourCharCode("kAll")).has_value());
}

TEST(MusicScriptingEnumerations, ClassNames) {
  std::set<std::string_view> names;
  for (const auto& [c, raw] : RawValues<MusicScripting>::table) {
    EXPECT_EQ(fromRawValue<MusicScripting>(raw), c);
    names.insert(raw);
  }
  EXPECT_EQ(names.size(), 26u);
  EXPECT_EQ(rawValue(MusicScripting::airplayDevice), "AirPlay device");
  EXPECT_EQ(rawValue(MusicScripting::urlTrack), "URL track");
  EXPECT_EQ(fromRawValue<MusicScripting>(std::string("artwork")), MusicScripting::artwork);
  EXPECT_FALSE(fromRawValue<MusicScripting>(std::string("Artwork")).has_value());
  EXPECT_FALSE(fromRawValue<MusicScripting>(std::string("")).has_value());
  EXPECT_EQ(static_cast<int>(MusicScripting::window), 25) << "declared in table order";
}

TEST(SpotifyScriptingEnumerations, StatesAndClassNames) {
  EXPECT_EQ(fromRawValue<SpotifyEPlS>(sb::fourCharCode("kPSP")), SpotifyEPlS::playing);
  EXPECT_EQ(fromRawValue<SpotifyEPlS>(sb::fourCharCode("kPSS")), SpotifyEPlS::stopped);
  EXPECT_EQ(fromRawValue<SpotifyEPlS>(sb::fourCharCode("kPSp")), SpotifyEPlS::paused);
  EXPECT_FALSE(fromRawValue<SpotifyEPlS>(sb::fourCharCode("kPSF")).has_value()) << "Spotify does not fast-forward";
  EXPECT_EQ(fromRawValue<SpotifyScripting>(std::string("track")), SpotifyScripting::track);
  EXPECT_EQ(rawValue(SpotifyScripting::application), "application");
  EXPECT_FALSE(fromRawValue<SpotifyScripting>(std::string("playlist")).has_value());
}
