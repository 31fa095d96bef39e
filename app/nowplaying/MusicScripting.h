#pragma once
// The Music application's scripting interface as this program declares it:
// protocols named after the dictionary's classes (with the members that are
// sent), the dictionary's four-character-code enumerations and its class
// names.

#include <array>
#include <iterator>
#include <string_view>
#include <utility>

#include "app/nowplaying/RawRepresentable.h"
#include "app/nowplaying/ScriptingBridgeProtocols.h"
#include "platform/scripting/ScriptingBridge.h"

// ---------------------------------------------------------------- protocols

struct MusicGenericMethods {};

struct MusicApplication : SBApplicationProtocol {
  static constexpr const char* currentTrack = "currentTrack";
  static constexpr const char* playerState = "playerState";        // MusicEPlS
  static constexpr const char* playerPosition = "playerPosition";  // seconds
  static constexpr const char* playpause = "playpause";
  static constexpr const char* backTrack = "backTrack";
  static constexpr const char* nextTrack = "nextTrack";
  static constexpr const char* previousTrack = "previousTrack";
};

struct MusicItem : SBObjectProtocol, MusicGenericMethods {
  static constexpr const char* name = "name";
};

struct MusicAirPlayDevice : MusicItem {};
struct MusicArtwork : MusicItem {
  static constexpr const char* data = "data";  // an image
};
struct MusicEncoder : MusicItem {};
struct MusicEQPreset : MusicItem {};
struct MusicPlaylist : MusicItem {};
struct MusicSource : MusicItem {};
struct MusicTrack : MusicItem {
  static constexpr const char* artist = "artist";
  static constexpr const char* album = "album";
  static constexpr const char* duration = "duration";  // seconds
  static constexpr const char* artworks = "artworks";  // element list of MusicArtwork
};
struct MusicVisual : MusicItem {};
struct MusicWindow : MusicItem {};

struct MusicAudioCDPlaylist : MusicPlaylist {};
struct MusicLibraryPlaylist : MusicPlaylist {};
struct MusicRadioTunerPlaylist : MusicPlaylist {};
struct MusicSubscriptionPlaylist : MusicPlaylist {};
struct MusicUserPlaylist : MusicPlaylist {};
struct MusicFolderPlaylist : MusicUserPlaylist {};

struct MusicAudioCDTrack : MusicTrack {};
struct MusicFileTrack : MusicTrack {};
struct MusicSharedTrack : MusicTrack {};
struct MusicURLTrack : MusicTrack {};

struct MusicBrowserWindow : MusicWindow {};
struct MusicEQWindow : MusicWindow {};
struct MusicMiniplayerWindow : MusicWindow {};
struct MusicPlaylistWindow : MusicWindow {};
struct MusicVideoWindow : MusicWindow {};

// ---------------------------------------------------------------- four-character codes

enum class MusicEKnd : sb::FourCharCode {
  trackListing = sb::fourCharCode("kTrk"),
  albumListing = sb::fourCharCode("kAlb"),
  cdInsert = sb::fourCharCode("kCDi"),
};

enum class MusicEnum : sb::FourCharCode {
  standard = sb::fourCharCode("lwst"),
  detailed = sb::fourCharCode("lwdt"),
};

enum class MusicEPlS : sb::FourCharCode {
  stopped = sb::fourCharCode("kPSS"),
  playing = sb::fourCharCode("kPSP"),
  paused = sb::fourCharCode("kPSp"),
  fastForwarding = sb::fourCharCode("kPSF"),
  rewinding = sb::fourCharCode("kPSR"),
};

enum class MusicERpt : sb::FourCharCode {
  off = sb::fourCharCode("kRpO"),
  one = sb::fourCharCode("kRp1"),
  all = sb::fourCharCode("kAll"),
};

enum class MusicEShM : sb::FourCharCode {
  songs = sb::fourCharCode("kShS"),
  albums = sb::fourCharCode("kShA"),
  groupings = sb::fourCharCode("kShG"),
};

enum class MusicESrc : sb::FourCharCode {
  library = sb::fourCharCode("kLib"),
  audioCD = sb::fourCharCode("kACD"),
  mp3CD = sb::fourCharCode("kMCD"),
  radioTuner = sb::fourCharCode("kTun"),
  sharedLibrary = sb::fourCharCode("kShd"),
  iTunesStore = sb::fourCharCode("kITS"),
  unknown = sb::fourCharCode("kUnk"),
};

enum class MusicESrA : sb::FourCharCode {
  albums = sb::fourCharCode("kSrL"),
  all = sb::fourCharCode("kAll"),
  artists = sb::fourCharCode("kSrR"),
  composers = sb::fourCharCode("kSrC"),
  displayed = sb::fourCharCode("kSrV"),
  names = sb::fourCharCode("kSrS"),
};

enum class MusicESpK : sb::FourCharCode {
  none = sb::fourCharCode("kNon"),
  folder = sb::fourCharCode("kSpF"),
  genius = sb::fourCharCode("kSpG"),
  library = sb::fourCharCode("kSpL"),
  music = sb::fourCharCode("kSpZ"),
  purchasedMusic = sb::fourCharCode("kSpM"),
};

enum class MusicEMdK : sb::FourCharCode {
  song = sb::fourCharCode("kMdS"),
  musicVideo = sb::fourCharCode("kVdV"),
  unknown = sb::fourCharCode("kUnk"),
};

enum class MusicERtK : sb::FourCharCode {
  user = sb::fourCharCode("kRtU"),
  computed = sb::fourCharCode("kRtC"),
};

enum class MusicEAPD : sb::FourCharCode {
  computer = sb::fourCharCode("kAPC"),
  airPortExpress = sb::fourCharCode("kAPX"),
  appleTV = sb::fourCharCode("kAPT"),
  airPlayDevice = sb::fourCharCode("kAPO"),
  bluetoothDevice = sb::fourCharCode("kAPB"),
  homePod = sb::fourCharCode("kAPH"),
  unknown = sb::fourCharCode("kAPU"),
};

enum class MusicEClS : sb::FourCharCode {
  unknown = sb::fourCharCode("kUnk"),
  purchased = sb::fourCharCode("kPur"),
  matched = sb::fourCharCode("kMat"),
  uploaded = sb::fourCharCode("kUpl"),
  ineligible = sb::fourCharCode("kRej"),
  removed = sb::fourCharCode("kRem"),
  error = sb::fourCharCode("kErr"),
  duplicate = sb::fourCharCode("kDup"),
  subscription = sb::fourCharCode("kSub"),
  prerelease = sb::fourCharCode("kPrR"),
  noLongerAvailable = sb::fourCharCode("kRev"),
  notUploaded = sb::fourCharCode("kUpP"),
};

enum class MusicEExF : sb::FourCharCode {
  plainText = sb::fourCharCode("kTXT"),
  unicodeText = sb::fourCharCode("kUCT"),
  xml = sb::fourCharCode("kXML"),
  m3u = sb::fourCharCode("kM3U"),
  m3u8 = sb::fourCharCode("kM38"),
};

// Every code enumeration's raw value is its underlying number; the tables
// below list the accepted ones.
#define MORVALENT_CASES(E, ...)                                           \
  template <>                                                             \
  struct RawValues<E> {                                                   \
    static constexpr auto table = [] {                                    \
      constexpr E cases[] = {__VA_ARGS__};                                \
      std::array<std::pair<E, sb::FourCharCode>, std::size(cases)> out{}; \
      for (std::size_t i = 0; i < std::size(cases); ++i) {                \
        out[i] = {cases[i], static_cast<sb::FourCharCode>(cases[i])};     \
      }                                                                   \
      return out;                                                         \
    }();                                                                  \
  }

MORVALENT_CASES(MusicEKnd, MusicEKnd::trackListing, MusicEKnd::albumListing, MusicEKnd::cdInsert);
MORVALENT_CASES(MusicEnum, MusicEnum::standard, MusicEnum::detailed);
MORVALENT_CASES(MusicEPlS, MusicEPlS::stopped, MusicEPlS::playing, MusicEPlS::paused, MusicEPlS::fastForwarding,
                MusicEPlS::rewinding);
MORVALENT_CASES(MusicERpt, MusicERpt::off, MusicERpt::one, MusicERpt::all);
MORVALENT_CASES(MusicEShM, MusicEShM::songs, MusicEShM::albums, MusicEShM::groupings);
MORVALENT_CASES(MusicESrc, MusicESrc::library, MusicESrc::audioCD, MusicESrc::mp3CD, MusicESrc::radioTuner,
                MusicESrc::sharedLibrary, MusicESrc::iTunesStore, MusicESrc::unknown);
MORVALENT_CASES(MusicESrA, MusicESrA::albums, MusicESrA::all, MusicESrA::artists, MusicESrA::composers,
                MusicESrA::displayed, MusicESrA::names);
MORVALENT_CASES(MusicESpK, MusicESpK::none, MusicESpK::folder, MusicESpK::genius, MusicESpK::library, MusicESpK::music,
                MusicESpK::purchasedMusic);
MORVALENT_CASES(MusicEMdK, MusicEMdK::song, MusicEMdK::musicVideo, MusicEMdK::unknown);
MORVALENT_CASES(MusicERtK, MusicERtK::user, MusicERtK::computed);
MORVALENT_CASES(MusicEAPD, MusicEAPD::computer, MusicEAPD::airPortExpress, MusicEAPD::appleTV, MusicEAPD::airPlayDevice,
                MusicEAPD::bluetoothDevice, MusicEAPD::homePod, MusicEAPD::unknown);
MORVALENT_CASES(MusicEClS, MusicEClS::unknown, MusicEClS::purchased, MusicEClS::matched, MusicEClS::uploaded,
                MusicEClS::ineligible, MusicEClS::removed, MusicEClS::error, MusicEClS::duplicate,
                MusicEClS::subscription, MusicEClS::prerelease, MusicEClS::noLongerAvailable, MusicEClS::notUploaded);
MORVALENT_CASES(MusicEExF, MusicEExF::plainText, MusicEExF::unicodeText, MusicEExF::xml, MusicEExF::m3u,
                MusicEExF::m3u8);

#undef MORVALENT_CASES

// ---------------------------------------------------------------- class names

enum class MusicScripting {
  airplayDevice,
  eqPreset,
  eqWindow,
  urlTrack,
  application,
  artwork,
  audioCdPlaylist,
  audioCdTrack,
  browserWindow,
  encoder,
  fileTrack,
  folderPlaylist,
  item,
  libraryPlaylist,
  miniplayerWindow,
  playlistWindow,
  playlist,
  radioTunerPlaylist,
  sharedTrack,
  source,
  subscriptionPlaylist,
  track,
  userPlaylist,
  videoWindow,
  visual,
  window,
};

template <>
struct RawValues<MusicScripting> {
  static constexpr std::array<std::pair<MusicScripting, std::string_view>, 26> table{{
      {MusicScripting::airplayDevice, "AirPlay device"},
      {MusicScripting::eqPreset, "EQ preset"},
      {MusicScripting::eqWindow, "EQ window"},
      {MusicScripting::urlTrack, "URL track"},
      {MusicScripting::application, "application"},
      {MusicScripting::artwork, "artwork"},
      {MusicScripting::audioCdPlaylist, "audio CD playlist"},
      {MusicScripting::audioCdTrack, "audio CD track"},
      {MusicScripting::browserWindow, "browser window"},
      {MusicScripting::encoder, "encoder"},
      {MusicScripting::fileTrack, "file track"},
      {MusicScripting::folderPlaylist, "folder playlist"},
      {MusicScripting::item, "item"},
      {MusicScripting::libraryPlaylist, "library playlist"},
      {MusicScripting::miniplayerWindow, "miniplayer window"},
      {MusicScripting::playlistWindow, "playlist window"},
      {MusicScripting::playlist, "playlist"},
      {MusicScripting::radioTunerPlaylist, "radio tuner playlist"},
      {MusicScripting::sharedTrack, "shared track"},
      {MusicScripting::source, "source"},
      {MusicScripting::subscriptionPlaylist, "subscription playlist"},
      {MusicScripting::track, "track"},
      {MusicScripting::userPlaylist, "user playlist"},
      {MusicScripting::videoWindow, "video window"},
      {MusicScripting::visual, "visual"},
      {MusicScripting::window, "window"},
  }};
};
