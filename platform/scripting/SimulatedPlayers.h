#pragma once
// The two music players of the simulated desktop, scriptable through the
// bridge: Apple Music ("com.apple.Music") and Spotify ("com.spotify.client").
//
// A player runs while the simulated desktop runs a process with its bundle
// identifier (launch() and quit() start and end one). It holds a playlist,
// the index of its current track, a state code and a position that moves
// with the scheduler's clock while it plays (virtual time in tests). Tests
// and scenarios set all of it, make it leave members unanswered, make events
// fail, and read back every event it received.
//
// Thread safety: every member may be called from any thread.

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/image/Image.h"
#include "platform/scripting/ScriptingBridge.h"

namespace sb {

// Player states, shared by both players' dictionaries.
inline constexpr FourCharCode kPlayerStateStopped = fourCharCode("kPSS");
inline constexpr FourCharCode kPlayerStatePlaying = fourCharCode("kPSP");
inline constexpr FourCharCode kPlayerStatePaused = fourCharCode("kPSp");
inline constexpr FourCharCode kPlayerStateFastForwarding = fourCharCode("kPSF");
inline constexpr FourCharCode kPlayerStateRewinding = fourCharCode("kPSR");

// One entry of an Apple Music track's artwork list.
struct MusicArtworkSpec {
  // The image its `data` answers.
  std::optional<img::Image> image{};
  // Without an image, `data` answers these raw bytes (not an image).
  ns::Data rawData{};
  bool answersData = true;  // false: the artwork does not declare `data`
  bool isArtwork = true;    // false: the element is of another class ("item")
};

struct MusicTrackSpec {
  std::string name;
  std::string artist;
  std::string album;
  double duration = 0;  // seconds
  std::vector<MusicArtworkSpec> artworks{};
  // Members the track does not declare ("album", "artworks", ...).
  std::set<std::string, std::less<>> unanswered{};
};

struct SpotifyTrackSpec {
  std::string id;  // "spotify:track:..."
  std::string name;
  std::string artist;
  std::string album;
  std::string albumArtist;
  std::int64_t duration = 0;  // milliseconds
  std::optional<std::string> artworkUrl{};
  std::int64_t trackNumber = 0;
  std::int64_t discNumber = 0;
  std::int64_t playedCount = 0;
  std::int64_t popularity = 0;
  bool starred = false;
  std::set<std::string, std::less<>> unanswered{};
};

// One event as the player received it.
struct ReceivedEvent {
  std::string receiver;  // "application", "track", "artwork"
  std::string selector;
  bool operator==(const ReceivedEvent&) const = default;
};

// What the players have in common: running, state, position, playlist
// navigation, faults and the event log.
class SimulatedPlayer : public ScriptableApplication, public std::enable_shared_from_this<SimulatedPlayer> {
 public:
  std::string bundleIdentifier() const override { return bundleIdentifier_; }
  const std::string& name() const { return name_; }
  std::shared_ptr<ScriptableObject> applicationObject() override;
  std::optional<ns::Error> willHandleEvent(const AppleEvent& event) override;

  // -------- the process in the simulated desktop
  // Launches a process with the bundle identifier unless one runs; its pid.
  pid_t launch();
  // Ends every process with the bundle identifier.
  void quit();

  // -------- playback state
  FourCharCode playerState() const;
  // Any code, known or not. Playing starts the position moving.
  void setPlayerState(FourCharCode state);
  double playerPosition() const;
  void setPlayerPosition(double seconds);
  // The current track's index in the playlist; nullopt without a current track.
  std::optional<std::size_t> currentTrackIndex() const;
  // nullopt: no current track (`currentTrack` names a missing object).
  void setCurrentTrackIndex(std::optional<std::size_t> index);
  std::size_t trackCount() const;

  // Transport, as the commands do it: play/pause toggles (a stopped player
  // with a track starts playing), next and previous step through the
  // playlist (wrapping) and start the track from 0.
  void playpause();
  void play();
  void pause();
  void stop();
  void nextTrack();
  void previousTrack();

  // -------- faults
  // Application members the dictionary does not declare ("playerState", ...).
  void setUnansweredSelectors(std::set<std::string, std::less<>> selectors);
  // Events with these selectors fail with the error (on any receiver).
  void setFailingSelectors(std::set<std::string, std::less<>> selectors,
                           ns::Error error = scriptingError(kErrAEEventFailed));
  // An installed application without a scripting dictionary.
  void setScriptable(bool scriptable);
  bool isScriptable() const;

  // -------- what the player received (the latest kMaxRecordedEvents events)
  static constexpr std::size_t kMaxRecordedEvents = 4096;
  std::vector<ReceivedEvent> receivedEvents() const;
  // The events whose selector is a command (playpause, nextTrack, ...).
  std::vector<std::string> receivedCommands() const;
  std::size_t eventCount(std::string_view selector) const;
  void clearReceivedEvents();

  // Stopped, position 0, empty playlist, no faults, no events; the process
  // is not touched.
  virtual void reset();

  // -------- for the scripting objects
  struct Faults {
    std::set<std::string, std::less<>> unanswered;
    std::set<std::string, std::less<>> failing;
    ns::Error failure;
    bool scriptable = true;
  };
  Faults faults() const;
  bool isCommand(std::string_view selector) const;
  // The reply of an application property or command (locks the player).
  virtual EventReply handleApplicationEvent(std::string_view selector, const ns::Array& arguments);
  virtual bool applicationResponds(std::string_view selector) const;

 protected:
  SimulatedPlayer(std::string bundleIdentifier, std::string name, std::string bundleURL,
                  std::set<std::string, std::less<>> applicationSelectors, std::set<std::string, std::less<>> commands);

  // The current track as a scripting object; nullptr without one. Called with the lock held.
  virtual std::shared_ptr<ScriptableObject> makeTrackObject(std::size_t index) = 0;
  virtual std::size_t trackCountLocked() const = 0;
  // The current track's length in seconds; the position stops there.
  virtual double durationLocked(std::size_t index) const = 0;

  double positionLocked() const;
  void setStateLocked(FourCharCode state);
  void stepLocked(int delta);

  mutable std::recursive_mutex mutex_;
  std::optional<std::size_t> current_;

 private:
  const std::string bundleIdentifier_;
  const std::string name_;
  const std::string bundleURL_;
  const std::set<std::string, std::less<>> applicationSelectors_;
  const std::set<std::string, std::less<>> commands_;
  FourCharCode state_ = kPlayerStateStopped;
  double positionBase_ = 0;         // seconds, at positionStamp_
  std::int64_t positionStamp_ = 0;  // dispatch time when the position was last set
  Faults faults_;
  std::deque<ReceivedEvent> events_;  // the latest kMaxRecordedEvents
  std::shared_ptr<ScriptableObject> applicationObject_;
};

class MusicPlayer : public SimulatedPlayer {
 public:
  static constexpr const char* kBundleIdentifier = "com.apple.Music";
  // The player installed in the scripting registry.
  static std::shared_ptr<MusicPlayer> shared();
  static std::shared_ptr<MusicPlayer> make();

  void setPlaylist(std::vector<MusicTrackSpec> tracks, std::optional<std::size_t> current = 0);
  // A playlist of this one track, current.
  void setCurrentTrack(MusicTrackSpec track);
  std::vector<MusicTrackSpec> playlist() const;
  std::optional<MusicTrackSpec> currentTrack() const;
  void reset() override;

  struct Key;
  explicit MusicPlayer(const Key&);

 protected:
  std::shared_ptr<ScriptableObject> makeTrackObject(std::size_t index) override;
  std::size_t trackCountLocked() const override { return tracks_.size(); }
  double durationLocked(std::size_t index) const override;

 private:
  std::vector<MusicTrackSpec> tracks_;
};

class SpotifyPlayer : public SimulatedPlayer {
 public:
  static constexpr const char* kBundleIdentifier = "com.spotify.client";
  static std::shared_ptr<SpotifyPlayer> shared();
  static std::shared_ptr<SpotifyPlayer> make();

  void setPlaylist(std::vector<SpotifyTrackSpec> tracks, std::optional<std::size_t> current = 0);
  void setCurrentTrack(SpotifyTrackSpec track);
  std::vector<SpotifyTrackSpec> playlist() const;
  std::optional<SpotifyTrackSpec> currentTrack() const;
  std::int64_t soundVolume() const;
  bool isRepeating() const;
  bool isShuffling() const;
  void reset() override;

  EventReply handleApplicationEvent(std::string_view selector, const ns::Array& arguments) override;

  struct Key;
  explicit SpotifyPlayer(const Key&);

 protected:
  std::shared_ptr<ScriptableObject> makeTrackObject(std::size_t index) override;
  std::size_t trackCountLocked() const override { return tracks_.size(); }
  double durationLocked(std::size_t index) const override;

 private:
  std::vector<SpotifyTrackSpec> tracks_;
  std::int64_t soundVolume_ = 100;
  bool repeating_ = false;
  bool shuffling_ = false;
};

// Both shared players.
namespace SimulatedPlayers {
// Resets both shared players and reinstalls them in the registry (the
// simulated desktop's processes are not touched).
void reset();

// Sets the shared players from JSON, for scenarios and demos:
//   {"com.apple.Music": P, "com.spotify.client": P}, every key optional, where P is
//   {"running": true, "state": "playing" | "paused" | "stopped" | "kPSF" (any four characters),
//    "position": 12.5, "current": 0 | null, "scriptable": true,
//    "unanswered": ["playerPosition"], "failing": ["artist"],
//    "tracks": [T...]}
// and T is, for Apple Music,
//   {"name", "artist", "album", "duration" (seconds), "unanswered": [...],
//    "artworks": [{"color": "#rrggbb", "width": 64, "height": 64} | {"data": "not an image"} ...]}
// and for Spotify
//   {"id", "name", "artist", "album", "duration" (milliseconds), "artworkUrl", "unanswered": [...]}.
// A player that is given is reset first. False and a message naming the
// place of the first problem from the document's root, called "players"
// ("players.com.apple.Music.state: ..."), on bad input; nothing is changed then.
bool load(std::string_view json, std::string* error = nullptr);
}  // namespace SimulatedPlayers

}  // namespace sb
