#pragma once
// Spotify's scripting interface as this program declares it.

#include <array>
#include <string_view>
#include <utility>

#include "app/nowplaying/RawRepresentable.h"
#include "app/nowplaying/ScriptingBridgeProtocols.h"
#include "platform/scripting/ScriptingBridge.h"

struct SpotifyApplication : SBApplicationProtocol {
  static constexpr const char* currentTrack = "currentTrack";
  static constexpr const char* soundVolume = "soundVolume";
  static constexpr const char* playerState = "playerState";        // SpotifyEPlS
  static constexpr const char* playerPosition = "playerPosition";  // seconds
  static constexpr const char* repeatingEnabled = "repeatingEnabled";
  static constexpr const char* repeating = "repeating";
  static constexpr const char* shufflingEnabled = "shufflingEnabled";
  static constexpr const char* shuffling = "shuffling";
  static constexpr const char* nextTrack = "nextTrack";
  static constexpr const char* previousTrack = "previousTrack";
  static constexpr const char* playpause = "playpause";
  static constexpr const char* pause = "pause";
  static constexpr const char* play = "play";
  static constexpr const char* playTrackInContext = "playTrack:inContext:";
  static constexpr const char* setSoundVolume = "setSoundVolume:";
  static constexpr const char* setPlayerPosition = "setPlayerPosition:";
  static constexpr const char* setRepeating = "setRepeating:";
  static constexpr const char* setShuffling = "setShuffling:";
  static constexpr const char* name = "name";
  static constexpr const char* version = "version";
  static constexpr const char* frontmost = "frontmost";
};

struct SpotifyTrack : SBObjectProtocol {
  static constexpr const char* artist = "artist";
  static constexpr const char* album = "album";
  static constexpr const char* discNumber = "discNumber";
  static constexpr const char* duration = "duration";  // whole milliseconds
  static constexpr const char* playedCount = "playedCount";
  static constexpr const char* trackNumber = "trackNumber";
  static constexpr const char* starred = "starred";
  static constexpr const char* popularity = "popularity";
  static constexpr const char* id = "id";
  static constexpr const char* name = "name";
  static constexpr const char* artworkUrl = "artworkUrl";
  static constexpr const char* artwork = "artwork";
  static constexpr const char* albumArtist = "albumArtist";
  static constexpr const char* spotifyUrl = "spotifyUrl";
  static constexpr const char* setSpotifyUrl = "setSpotifyUrl:";
};

enum class SpotifyEPlS : sb::FourCharCode {
  stopped = sb::fourCharCode("kPSS"),
  playing = sb::fourCharCode("kPSP"),
  paused = sb::fourCharCode("kPSp"),
};

template <>
struct RawValues<SpotifyEPlS> {
  static constexpr std::array<std::pair<SpotifyEPlS, sb::FourCharCode>, 3> table{{
      {SpotifyEPlS::stopped, sb::fourCharCode("kPSS")},
      {SpotifyEPlS::playing, sb::fourCharCode("kPSP")},
      {SpotifyEPlS::paused, sb::fourCharCode("kPSp")},
  }};
};

enum class SpotifyScripting { application, track };

template <>
struct RawValues<SpotifyScripting> {
  static constexpr std::array<std::pair<SpotifyScripting, std::string_view>, 2> table{{
      {SpotifyScripting::application, "application"},
      {SpotifyScripting::track, "track"},
  }};
};
