#include "platform/scripting/SimulatedPlayers.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "platform/dispatch/Dispatch.h"
#include "platform/image/Bitmap.h"
#include "platform/sim/World.h"

namespace sb {

namespace {

using SelectorSet = std::set<std::string, std::less<>>;

ns::Value number(double v) { return ns::Value(v); }

// The player's own object: every application member goes to the player.
class PlayerApplicationObject : public ScriptableObject {
 public:
  explicit PlayerApplicationObject(std::weak_ptr<SimulatedPlayer> player) : player_(std::move(player)) {}
  std::string scriptingClass() const override { return "application"; }
  bool respondsToSelector(std::string_view selector) const override {
    auto player = player_.lock();
    return player && player->applicationResponds(selector);
  }
  EventReply handleEvent(std::string_view selector, const ns::Array& arguments) override {
    auto player = player_.lock();
    if (!player) return EventReply::failure(kProcNotFound);
    return player->handleApplicationEvent(selector, arguments);
  }

 private:
  std::weak_ptr<SimulatedPlayer> player_;
};

// Members answered from a snapshot of one track, less the unanswered ones.
class TrackObjectBase : public ScriptableObject {
 public:
  explicit TrackObjectBase(SelectorSet unanswered) : unanswered_(std::move(unanswered)) {}
  std::string scriptingClass() const override { return "track"; }
  bool respondsToSelector(std::string_view selector) const override {
    return declares(selector) && !unanswered_.contains(selector);
  }
  EventReply handleEvent(std::string_view selector, const ns::Array&) override {
    if (!respondsToSelector(selector)) return EventReply::failure(kErrAEEventNotHandled);
    return EventReply::reply(value(selector));
  }

 protected:
  virtual bool declares(std::string_view selector) const = 0;
  virtual ns::Value value(std::string_view selector) const = 0;

 private:
  SelectorSet unanswered_;
};

class MusicArtworkObject : public ScriptableObject {
 public:
  explicit MusicArtworkObject(MusicArtworkSpec spec) : spec_(std::move(spec)) {}
  std::string scriptingClass() const override { return spec_.isArtwork ? "artwork" : "item"; }
  bool respondsToSelector(std::string_view selector) const override {
    if (selector == "name") return true;
    return spec_.isArtwork && spec_.answersData && selector == "data";
  }
  EventReply handleEvent(std::string_view selector, const ns::Array&) override {
    if (!respondsToSelector(selector)) return EventReply::failure(kErrAEEventNotHandled);
    if (selector == "name") return EventReply::reply(ns::Value(""));
    if (spec_.image) return EventReply::reply(ns::Value(std::make_shared<ImageObject>(*spec_.image)));
    return EventReply::reply(ns::Value(spec_.rawData));
  }

 private:
  MusicArtworkSpec spec_;
};

class MusicTrackObject : public TrackObjectBase {
 public:
  explicit MusicTrackObject(MusicTrackSpec spec) : TrackObjectBase(spec.unanswered), spec_(std::move(spec)) {}

 protected:
  bool declares(std::string_view s) const override {
    return s == "name" || s == "artist" || s == "album" || s == "duration" || s == "artworks";
  }
  ns::Value value(std::string_view s) const override {
    if (s == "name") return spec_.name;
    if (s == "artist") return spec_.artist;
    if (s == "album") return spec_.album;
    if (s == "duration") return number(spec_.duration);
    ns::Array artworks;
    for (const auto& artwork : spec_.artworks)
      artworks.push_back(ns::Value(std::make_shared<MusicArtworkObject>(artwork)));
    return artworks;
  }

 private:
  MusicTrackSpec spec_;
};

class SpotifyTrackObject : public TrackObjectBase {
 public:
  explicit SpotifyTrackObject(SpotifyTrackSpec spec) : TrackObjectBase(spec.unanswered), spec_(std::move(spec)) {}

 protected:
  bool declares(std::string_view s) const override {
    static const SelectorSet members{"id",         "name",       "artist",        "album",       "albumArtist",
                                     "spotifyUrl", "discNumber", "duration",      "playedCount", "trackNumber",
                                     "popularity", "starred",    "setSpotifyUrl:"};
    if (s == "artworkUrl") return spec_.artworkUrl.has_value();
    return members.contains(s);
  }
  ns::Value value(std::string_view s) const override {
    if (s == "id" || s == "spotifyUrl") return spec_.id;
    if (s == "name") return spec_.name;
    if (s == "artist") return spec_.artist;
    if (s == "album") return spec_.album;
    if (s == "albumArtist") return spec_.albumArtist;
    if (s == "artworkUrl") return *spec_.artworkUrl;
    if (s == "duration") return spec_.duration;
    if (s == "discNumber") return spec_.discNumber;
    if (s == "playedCount") return spec_.playedCount;
    if (s == "trackNumber") return spec_.trackNumber;
    if (s == "popularity") return spec_.popularity;
    if (s == "starred") return spec_.starred;
    return {};  // setSpotifyUrl: is accepted and ignored
  }

 private:
  SpotifyTrackSpec spec_;
};

}  // namespace

// ---------------------------------------------------------------- SimulatedPlayer

SimulatedPlayer::SimulatedPlayer(std::string bundleIdentifier, std::string name, std::string bundleURL,
                                 SelectorSet applicationSelectors, SelectorSet commands)
    : bundleIdentifier_(std::move(bundleIdentifier)),
      name_(std::move(name)),
      bundleURL_(std::move(bundleURL)),
      applicationSelectors_(std::move(applicationSelectors)),
      commands_(std::move(commands)) {
  faults_.failure = scriptingError(kErrAEEventFailed);
}

std::shared_ptr<ScriptableObject> SimulatedPlayer::applicationObject() {
  std::lock_guard lock(mutex_);
  if (!faults_.scriptable) return nullptr;
  if (!applicationObject_) applicationObject_ = std::make_shared<PlayerApplicationObject>(weak_from_this());
  return applicationObject_;
}

std::optional<ns::Error> SimulatedPlayer::willHandleEvent(const AppleEvent& event) {
  std::lock_guard lock(mutex_);
  events_.push_back({event.receiver, event.selector});
  // A long scenario polls for hours: keep the log bounded.
  if (events_.size() > kMaxRecordedEvents) events_.pop_front();
  if (faults_.failing.contains(event.selector)) return faults_.failure;
  return std::nullopt;
}

pid_t SimulatedPlayer::launch() {
  auto& world = sim::World::shared();
  for (const auto& app : world.runningApplications()) {
    if (app.bundleIdentifier == bundleIdentifier_) return app.pid;
  }
  sim::ApplicationSpec spec;
  spec.bundleIdentifier = bundleIdentifier_;
  spec.bundleURL = bundleURL_;
  spec.name = name_;
  return world.launchApplication(spec);
}

void SimulatedPlayer::quit() {
  auto& world = sim::World::shared();
  for (const auto& app : world.runningApplications()) {
    if (app.bundleIdentifier == bundleIdentifier_) world.terminateApplication(app.pid);
  }
  std::lock_guard lock(mutex_);
  setStateLocked(kPlayerStateStopped);
  positionBase_ = 0;
}

FourCharCode SimulatedPlayer::playerState() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void SimulatedPlayer::setPlayerState(FourCharCode state) {
  std::lock_guard lock(mutex_);
  setStateLocked(state);
}

double SimulatedPlayer::playerPosition() const {
  std::lock_guard lock(mutex_);
  return positionLocked();
}

void SimulatedPlayer::setPlayerPosition(double seconds) {
  std::lock_guard lock(mutex_);
  positionBase_ = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
  positionStamp_ = dispatch::now();
}

std::optional<std::size_t> SimulatedPlayer::currentTrackIndex() const {
  std::lock_guard lock(mutex_);
  return current_;
}

void SimulatedPlayer::setCurrentTrackIndex(std::optional<std::size_t> index) {
  std::lock_guard lock(mutex_);
  current_ = (index && *index < trackCountLocked()) ? index : std::nullopt;
  positionBase_ = 0;
  positionStamp_ = dispatch::now();
}

std::size_t SimulatedPlayer::trackCount() const {
  std::lock_guard lock(mutex_);
  return trackCountLocked();
}

double SimulatedPlayer::positionLocked() const {
  double position = positionBase_;
  if (state_ == kPlayerStatePlaying) {
    position += static_cast<double>(dispatch::now() - positionStamp_) / static_cast<double>(dispatch::kNanosPerSecond);
  }
  if (current_) {
    double duration = durationLocked(*current_);
    if (duration > 0) position = std::min(position, duration);
  }
  return position;
}

void SimulatedPlayer::setStateLocked(FourCharCode state) {
  positionBase_ = positionLocked();
  positionStamp_ = dispatch::now();
  state_ = state;
}

void SimulatedPlayer::stepLocked(int delta) {
  auto count = trackCountLocked();
  if (count == 0) return;
  if (!current_) {
    current_ = 0;
  } else {
    auto n = static_cast<long long>(count);
    current_ = static_cast<std::size_t>(((static_cast<long long>(*current_) + delta) % n + n) % n);
  }
  positionBase_ = 0;
  positionStamp_ = dispatch::now();
}

void SimulatedPlayer::playpause() {
  std::lock_guard lock(mutex_);
  if (state_ == kPlayerStatePlaying) {
    setStateLocked(kPlayerStatePaused);
    return;
  }
  if (!current_ && trackCountLocked() > 0) current_ = 0;
  if (current_) setStateLocked(kPlayerStatePlaying);
}

void SimulatedPlayer::play() {
  std::lock_guard lock(mutex_);
  if (!current_ && trackCountLocked() > 0) current_ = 0;
  if (current_ && state_ != kPlayerStatePlaying) setStateLocked(kPlayerStatePlaying);
}

void SimulatedPlayer::pause() {
  std::lock_guard lock(mutex_);
  if (state_ == kPlayerStatePlaying) setStateLocked(kPlayerStatePaused);
}

void SimulatedPlayer::stop() {
  std::lock_guard lock(mutex_);
  setStateLocked(kPlayerStateStopped);
  positionBase_ = 0;
}

void SimulatedPlayer::nextTrack() {
  std::lock_guard lock(mutex_);
  stepLocked(1);
}

void SimulatedPlayer::previousTrack() {
  std::lock_guard lock(mutex_);
  stepLocked(-1);
}

void SimulatedPlayer::setUnansweredSelectors(SelectorSet selectors) {
  std::lock_guard lock(mutex_);
  faults_.unanswered = std::move(selectors);
}

void SimulatedPlayer::setFailingSelectors(SelectorSet selectors, ns::Error error) {
  std::lock_guard lock(mutex_);
  faults_.failing = std::move(selectors);
  faults_.failure = std::move(error);
}

void SimulatedPlayer::setScriptable(bool scriptable) {
  std::lock_guard lock(mutex_);
  faults_.scriptable = scriptable;
}

bool SimulatedPlayer::isScriptable() const {
  std::lock_guard lock(mutex_);
  return faults_.scriptable;
}

std::vector<ReceivedEvent> SimulatedPlayer::receivedEvents() const {
  std::lock_guard lock(mutex_);
  return {events_.begin(), events_.end()};
}

std::vector<std::string> SimulatedPlayer::receivedCommands() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> commands;
  for (const auto& e : events_) {
    if (e.receiver == "application" && commands_.contains(e.selector)) commands.push_back(e.selector);
  }
  return commands;
}

std::size_t SimulatedPlayer::eventCount(std::string_view selector) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(events_.begin(), events_.end(), [&](const ReceivedEvent& e) { return e.selector == selector; }));
}

void SimulatedPlayer::clearReceivedEvents() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

void SimulatedPlayer::reset() {
  std::lock_guard lock(mutex_);
  current_.reset();
  state_ = kPlayerStateStopped;
  positionBase_ = 0;
  positionStamp_ = dispatch::now();
  faults_ = Faults{};
  faults_.failure = scriptingError(kErrAEEventFailed);
  events_.clear();
}

SimulatedPlayer::Faults SimulatedPlayer::faults() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

bool SimulatedPlayer::isCommand(std::string_view selector) const { return commands_.contains(selector); }

bool SimulatedPlayer::applicationResponds(std::string_view selector) const {
  std::lock_guard lock(mutex_);
  return faults_.scriptable && applicationSelectors_.contains(selector) && !faults_.unanswered.contains(selector);
}

EventReply SimulatedPlayer::handleApplicationEvent(std::string_view selector, const ns::Array& arguments) {
  if (!applicationResponds(selector)) return EventReply::failure(kErrAEEventNotHandled);
  std::lock_guard lock(mutex_);
  if (selector == "currentTrack") {
    if (!current_) return EventReply::reply(ns::Value(std::make_shared<MissingValue>()));
    return EventReply::reply(ns::Value(makeTrackObject(*current_)));
  }
  if (selector == "playerState") return EventReply::reply(ns::Value(static_cast<std::uint64_t>(state_)));
  if (selector == "playerPosition") return EventReply::reply(number(positionLocked()));
  if (selector == "name") return EventReply::reply(name_);
  if (selector == "version") return EventReply::reply("1.0");
  if (selector == "frontmost") {
    auto front = sim::World::shared().frontmostApplication();
    auto app = front ? sim::World::shared().application(*front) : std::nullopt;
    return EventReply::reply(app && app->bundleIdentifier == bundleIdentifier_);
  }
  if (selector == "setPlayerPosition:") {
    auto seconds = arguments.empty() ? std::nullopt : arguments.front().asDouble();
    if (!seconds) return EventReply::failure(kErrAEEventFailed);
    positionBase_ = std::isfinite(*seconds) ? std::max(0.0, *seconds) : 0.0;
    positionStamp_ = dispatch::now();
    return EventReply::reply();
  }
  if (selector == "playpause") {
    playpause();
  } else if (selector == "play") {
    play();
  } else if (selector == "pause") {
    pause();
  } else if (selector == "stop") {
    stop();
  } else if (selector == "nextTrack") {
    nextTrack();
  } else if (selector == "previousTrack") {
    previousTrack();
  } else if (selector == "backTrack") {
    // Music's "back track": to the start of the track, or to the previous
    // one when already near the start.
    if (positionLocked() >= 3.0) {
      positionBase_ = 0;
      positionStamp_ = dispatch::now();
    } else {
      previousTrack();
    }
  } else {
    return EventReply::failure(kErrAEEventNotHandled);
  }
  return EventReply::reply();
}

// ---------------------------------------------------------------- MusicPlayer

struct MusicPlayer::Key {};

MusicPlayer::MusicPlayer(const Key&)
    : SimulatedPlayer(
          kBundleIdentifier, "Music", "file:///System/Applications/Music.app/",
          {"currentTrack", "playerState", "playerPosition", "setPlayerPosition:", "name", "version", "frontmost",
           "playpause", "play", "pause", "stop", "backTrack", "nextTrack", "previousTrack"},
          {"playpause", "play", "pause", "stop", "backTrack", "nextTrack", "previousTrack", "setPlayerPosition:"}) {}

std::shared_ptr<MusicPlayer> MusicPlayer::make() { return std::make_shared<MusicPlayer>(Key{}); }

std::shared_ptr<MusicPlayer> MusicPlayer::shared() {
  static const std::shared_ptr<MusicPlayer> player = make();
  return player;
}

void MusicPlayer::setPlaylist(std::vector<MusicTrackSpec> tracks, std::optional<std::size_t> current) {
  std::lock_guard lock(mutex_);
  tracks_ = std::move(tracks);
  current_ = (current && *current < tracks_.size()) ? current : std::nullopt;
  SimulatedPlayer::setPlayerPosition(0);
}

void MusicPlayer::setCurrentTrack(MusicTrackSpec track) { setPlaylist({std::move(track)}, 0); }

std::vector<MusicTrackSpec> MusicPlayer::playlist() const {
  std::lock_guard lock(mutex_);
  return tracks_;
}

std::optional<MusicTrackSpec> MusicPlayer::currentTrack() const {
  std::lock_guard lock(mutex_);
  if (!current_) return std::nullopt;
  return tracks_[*current_];
}

void MusicPlayer::reset() {
  std::lock_guard lock(mutex_);
  tracks_.clear();
  SimulatedPlayer::reset();
}

std::shared_ptr<ScriptableObject> MusicPlayer::makeTrackObject(std::size_t index) {
  return std::make_shared<MusicTrackObject>(tracks_.at(index));
}

double MusicPlayer::durationLocked(std::size_t index) const {
  return index < tracks_.size() ? tracks_[index].duration : 0;
}

// ---------------------------------------------------------------- SpotifyPlayer

struct SpotifyPlayer::Key {};

SpotifyPlayer::SpotifyPlayer(const Key&)
    : SimulatedPlayer(kBundleIdentifier, "Spotify", "file:///Applications/Spotify.app/",
                      {"currentTrack",
                       "soundVolume",
                       "playerState",
                       "playerPosition",
                       "repeatingEnabled",
                       "repeating",
                       "shufflingEnabled",
                       "shuffling",
                       "name",
                       "version",
                       "frontmost",
                       "nextTrack",
                       "previousTrack",
                       "playpause",
                       "pause",
                       "play",
                       "playTrack:inContext:",
                       "setSoundVolume:",
                       "setPlayerPosition:",
                       "setRepeating:",
                       "setShuffling:"},
                      {"nextTrack", "previousTrack", "playpause", "pause", "play", "playTrack:inContext:",
                       "setSoundVolume:", "setPlayerPosition:", "setRepeating:", "setShuffling:"}) {}

std::shared_ptr<SpotifyPlayer> SpotifyPlayer::make() { return std::make_shared<SpotifyPlayer>(Key{}); }

std::shared_ptr<SpotifyPlayer> SpotifyPlayer::shared() {
  static const std::shared_ptr<SpotifyPlayer> player = make();
  return player;
}

void SpotifyPlayer::setPlaylist(std::vector<SpotifyTrackSpec> tracks, std::optional<std::size_t> current) {
  std::lock_guard lock(mutex_);
  tracks_ = std::move(tracks);
  current_ = (current && *current < tracks_.size()) ? current : std::nullopt;
  SimulatedPlayer::setPlayerPosition(0);
}

void SpotifyPlayer::setCurrentTrack(SpotifyTrackSpec track) { setPlaylist({std::move(track)}, 0); }

std::vector<SpotifyTrackSpec> SpotifyPlayer::playlist() const {
  std::lock_guard lock(mutex_);
  return tracks_;
}

std::optional<SpotifyTrackSpec> SpotifyPlayer::currentTrack() const {
  std::lock_guard lock(mutex_);
  if (!current_) return std::nullopt;
  return tracks_[*current_];
}

std::int64_t SpotifyPlayer::soundVolume() const {
  std::lock_guard lock(mutex_);
  return soundVolume_;
}

bool SpotifyPlayer::isRepeating() const {
  std::lock_guard lock(mutex_);
  return repeating_;
}

bool SpotifyPlayer::isShuffling() const {
  std::lock_guard lock(mutex_);
  return shuffling_;
}

void SpotifyPlayer::reset() {
  std::lock_guard lock(mutex_);
  tracks_.clear();
  soundVolume_ = 100;
  repeating_ = false;
  shuffling_ = false;
  SimulatedPlayer::reset();
}

EventReply SpotifyPlayer::handleApplicationEvent(std::string_view selector, const ns::Array& arguments) {
  if (!applicationResponds(selector)) return EventReply::failure(kErrAEEventNotHandled);
  std::lock_guard lock(mutex_);
  auto argument = [&]() -> const ns::Value* { return arguments.empty() ? nullptr : &arguments.front(); };
  if (selector == "soundVolume") return EventReply::reply(soundVolume_);
  if (selector == "repeatingEnabled" || selector == "shufflingEnabled") return EventReply::reply(true);
  if (selector == "repeating") return EventReply::reply(repeating_);
  if (selector == "shuffling") return EventReply::reply(shuffling_);
  if (selector == "setSoundVolume:") {
    auto v = argument() ? argument()->asInt64() : std::nullopt;
    if (!v) return EventReply::failure(kErrAEEventFailed);
    soundVolume_ = std::clamp<std::int64_t>(*v, 0, 100);
    return EventReply::reply();
  }
  if (selector == "setRepeating:" || selector == "setShuffling:") {
    auto v = argument() ? argument()->asBool() : std::nullopt;
    if (!v) return EventReply::failure(kErrAEEventFailed);
    (selector == "setRepeating:" ? repeating_ : shuffling_) = *v;
    return EventReply::reply();
  }
  if (selector == "playTrack:inContext:") {
    auto uri = argument() ? argument()->string() : nullptr;
    if (!uri) return EventReply::failure(kErrAEEventFailed);
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
      if (tracks_[i].id == *uri) {
        current_ = i;
        SimulatedPlayer::setPlayerPosition(0);
        setStateLocked(kPlayerStatePlaying);
        return EventReply::reply();
      }
    }
    return EventReply::failure(kErrAENoSuchObject);
  }
  return SimulatedPlayer::handleApplicationEvent(selector, arguments);
}

std::shared_ptr<ScriptableObject> SpotifyPlayer::makeTrackObject(std::size_t index) {
  return std::make_shared<SpotifyTrackObject>(tracks_.at(index));
}

double SpotifyPlayer::durationLocked(std::size_t index) const {
  return index < tracks_.size() ? static_cast<double>(tracks_[index].duration) / 1000.0 : 0;
}

// ---------------------------------------------------------------- JSON

namespace SimulatedPlayers {

void reset() { ScriptingRegistry::shared().reset(); }

namespace {

using Json = nlohmann::json;

struct LoadError {
  std::string message;
};

[[noreturn]] void fail(const std::string& where, const std::string& message) {
  throw LoadError{where + ": " + message};
}

std::string stringAt(const Json& object, const char* key, const std::string& where) {
  auto it = object.find(key);
  if (it == object.end()) return {};
  if (!it->is_string()) fail(where + "." + key, "expected a string");
  return it->get<std::string>();
}

double numberAt(const Json& object, const char* key, const std::string& where, double fallback = 0) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (!it->is_number()) fail(where + "." + key, "expected a number");
  double v = it->get<double>();
  if (!std::isfinite(v)) fail(where + "." + key, "expected a finite number");
  return v;
}

SelectorSet stringSetAt(const Json& object, const char* key, const std::string& where) {
  SelectorSet out;
  auto it = object.find(key);
  if (it == object.end()) return out;
  if (!it->is_array()) fail(where + "." + key, "expected an array of strings");
  for (std::size_t i = 0; i < it->size(); ++i) {
    if (!(*it)[i].is_string()) fail(where + "." + key + "[" + std::to_string(i) + "]", "expected a string");
    out.insert((*it)[i].get<std::string>());
  }
  return out;
}

void checkKeys(const Json& object, std::initializer_list<const char*> known, const std::string& where) {
  if (!object.is_object()) fail(where, "expected an object");
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool ok = std::any_of(known.begin(), known.end(), [&](const char* k) { return it.key() == k; });
    if (!ok) fail(where, "unknown key \"" + it.key() + "\"");
  }
}

img::Pixel parseColor(const std::string& text, const std::string& where) {
  auto hex = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    fail(where, "expected a colour \"#rrggbb\"");
  };
  if (text.size() != 7 || text[0] != '#') fail(where, "expected a colour \"#rrggbb\"");
  auto byte = [&](int i) { return static_cast<uint8_t>(hex(text[i]) * 16 + hex(text[i + 1])); };
  return {byte(1), byte(3), byte(5), 255};
}

MusicArtworkSpec parseArtwork(const Json& j, const std::string& where) {
  checkKeys(j, {"color", "width", "height", "data", "answersData", "isArtwork"}, where);
  MusicArtworkSpec spec;
  if (j.contains("color")) {
    auto color = parseColor(stringAt(j, "color", where), where + ".color");
    double w = numberAt(j, "width", where, 64), h = numberAt(j, "height", where, 64);
    if (w < 1 || h < 1 || w > 4096 || h > 4096) fail(where, "width and height must lie in 1...4096");
    auto bitmap = img::Bitmap::filled(static_cast<int>(w), static_cast<int>(h), color);
    if (!bitmap) fail(where, "cannot make the image");
    spec.image = img::Image::withBitmap(std::move(*bitmap));
  } else if (j.contains("data")) {
    auto text = stringAt(j, "data", where);
    spec.rawData.assign(text.begin(), text.end());
  }
  if (j.contains("answersData")) {
    if (!j["answersData"].is_boolean()) fail(where + ".answersData", "expected a Boolean");
    spec.answersData = j["answersData"].get<bool>();
  }
  if (j.contains("isArtwork")) {
    if (!j["isArtwork"].is_boolean()) fail(where + ".isArtwork", "expected a Boolean");
    spec.isArtwork = j["isArtwork"].get<bool>();
  }
  return spec;
}

MusicTrackSpec parseMusicTrack(const Json& j, const std::string& where) {
  checkKeys(j, {"name", "artist", "album", "duration", "artworks", "unanswered"}, where);
  MusicTrackSpec spec;
  spec.name = stringAt(j, "name", where);
  spec.artist = stringAt(j, "artist", where);
  spec.album = stringAt(j, "album", where);
  spec.duration = numberAt(j, "duration", where);
  spec.unanswered = stringSetAt(j, "unanswered", where);
  if (j.contains("artworks")) {
    const auto& list = j["artworks"];
    if (!list.is_array()) fail(where + ".artworks", "expected an array");
    for (std::size_t i = 0; i < list.size(); ++i) {
      spec.artworks.push_back(parseArtwork(list[i], where + ".artworks[" + std::to_string(i) + "]"));
    }
  }
  return spec;
}

SpotifyTrackSpec parseSpotifyTrack(const Json& j, const std::string& where) {
  checkKeys(j, {"id", "name", "artist", "album", "albumArtist", "duration", "artworkUrl", "unanswered"}, where);
  SpotifyTrackSpec spec;
  spec.id = stringAt(j, "id", where);
  spec.name = stringAt(j, "name", where);
  spec.artist = stringAt(j, "artist", where);
  spec.album = stringAt(j, "album", where);
  spec.albumArtist = stringAt(j, "albumArtist", where);
  double ms = numberAt(j, "duration", where);
  if (std::fabs(ms) > 9.0e15) fail(where + ".duration", "out of range");
  spec.duration = static_cast<std::int64_t>(ms);
  if (j.contains("artworkUrl")) spec.artworkUrl = stringAt(j, "artworkUrl", where);
  spec.unanswered = stringSetAt(j, "unanswered", where);
  return spec;
}

// Everything a player is given, checked before anything is changed.
struct PlayerConfig {
  std::optional<bool> running;
  FourCharCode state = kPlayerStateStopped;
  double position = 0;
  std::optional<std::size_t> current = 0;
  bool scriptable = true;
  SelectorSet unanswered;
  SelectorSet failing;
  std::vector<MusicTrackSpec> musicTracks;
  std::vector<SpotifyTrackSpec> spotifyTracks;
};

PlayerConfig parsePlayer(const Json& j, bool spotify, const std::string& where) {
  checkKeys(j, {"running", "state", "position", "current", "scriptable", "unanswered", "failing", "tracks"}, where);
  PlayerConfig config;
  if (j.contains("running")) {
    if (!j["running"].is_boolean()) fail(where + ".running", "expected a Boolean");
    config.running = j["running"].get<bool>();
  }
  if (j.contains("state")) {
    auto text = stringAt(j, "state", where);
    if (text == "playing") {
      config.state = kPlayerStatePlaying;
    } else if (text == "paused") {
      config.state = kPlayerStatePaused;
    } else if (text == "stopped") {
      config.state = kPlayerStateStopped;
    } else if (auto code = fourCharCodeFromString(text)) {
      config.state = *code;
    } else {
      fail(where + ".state", "expected \"playing\", \"paused\", \"stopped\" or four characters");
    }
  }
  config.position = numberAt(j, "position", where);
  if (config.position < 0) fail(where + ".position", "must not be negative");
  if (j.contains("scriptable")) {
    if (!j["scriptable"].is_boolean()) fail(where + ".scriptable", "expected a Boolean");
    config.scriptable = j["scriptable"].get<bool>();
  }
  config.unanswered = stringSetAt(j, "unanswered", where);
  config.failing = stringSetAt(j, "failing", where);
  std::size_t count = 0;
  if (j.contains("tracks")) {
    const auto& list = j["tracks"];
    if (!list.is_array()) fail(where + ".tracks", "expected an array");
    for (std::size_t i = 0; i < list.size(); ++i) {
      auto at = where + ".tracks[" + std::to_string(i) + "]";
      if (spotify) {
        config.spotifyTracks.push_back(parseSpotifyTrack(list[i], at));
      } else {
        config.musicTracks.push_back(parseMusicTrack(list[i], at));
      }
    }
    count = list.size();
  }
  if (j.contains("current")) {
    const auto& c = j["current"];
    if (c.is_null()) {
      config.current.reset();
    } else if (c.is_number_unsigned() && c.get<std::uint64_t>() < count) {
      config.current = static_cast<std::size_t>(c.get<std::uint64_t>());
    } else {
      fail(where + ".current", "expected null or the index of a track");
    }
  }
  if (count == 0) config.current.reset();
  return config;
}

void applyConfig(SimulatedPlayer& player, const PlayerConfig& config) {
  player.reset();
  if (auto* music = dynamic_cast<MusicPlayer*>(&player)) music->setPlaylist(config.musicTracks, config.current);
  if (auto* spotify = dynamic_cast<SpotifyPlayer*>(&player)) spotify->setPlaylist(config.spotifyTracks, config.current);
  player.setScriptable(config.scriptable);
  player.setUnansweredSelectors(config.unanswered);
  player.setFailingSelectors(config.failing);
  player.setPlayerPosition(config.position);
  player.setPlayerState(config.state);
  if (config.running) {
    if (*config.running) {
      player.launch();
    } else {
      player.quit();
      player.setPlayerState(config.state);
    }
  }
}

}  // namespace

bool load(std::string_view json, std::string* error) {
  try {
    auto root = Json::parse(json.begin(), json.end());
    checkKeys(root, {MusicPlayer::kBundleIdentifier, SpotifyPlayer::kBundleIdentifier}, "players");
    std::optional<PlayerConfig> music, spotify;
    if (root.contains(MusicPlayer::kBundleIdentifier)) {
      music = parsePlayer(root[MusicPlayer::kBundleIdentifier], false,
                          std::string("players.") + MusicPlayer::kBundleIdentifier);
    }
    if (root.contains(SpotifyPlayer::kBundleIdentifier)) {
      spotify = parsePlayer(root[SpotifyPlayer::kBundleIdentifier], true,
                            std::string("players.") + SpotifyPlayer::kBundleIdentifier);
    }
    if (music) applyConfig(*MusicPlayer::shared(), *music);
    if (spotify) applyConfig(*SpotifyPlayer::shared(), *spotify);
    return true;
  } catch (const LoadError& e) {
    if (error) *error = e.message;
  } catch (const Json::exception& e) {
    if (error) *error = std::string("players: ") + e.what();
  }
  return false;
}

}  // namespace SimulatedPlayers

}  // namespace sb
