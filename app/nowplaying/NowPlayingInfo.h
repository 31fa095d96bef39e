#pragma once
// One playing track as read from a music player.

#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/image/Image.h"

// The largest a track's artwork is shown, in points: the preview's showcase
// of a music player's single window.
inline constexpr double kNowPlayingArtworkPoints = 200;

struct NowPlayingInfo {
  // Made new at every read: two reads of one track carry different ones.
  ns::UUID uuid;
  std::string artist;
  std::string title;
  std::string album;
  double duration = 0;  // seconds
  // Asks the player for its position in seconds at each call (a scripting
  // event each time); 0 when the player does not answer.
  std::function<double()> getPlaybackPosition;
  std::optional<img::Image> artwork;
  bool isPlaying = false;
};

// Whether a change is worth publishing: artist, title, album, duration,
// presence of artwork and the playing flag. The images themselves, the uuid
// and the position function take no part. std::optional's comparison built
// on it gives the rule for optional records (nothing equals only nothing).
bool operator==(const NowPlayingInfo& a, const NowPlayingInfo& b);
