#pragma once
// The text and transport block of the Now Playing card: artist, title, the
// elapsed time (refreshed once a second) against the duration, and the
// previous, play/pause and next buttons. It keeps no state and never talks
// to the player: a pressed button goes to the closure.

#include <cstdint>
#include <functional>
#include <string>

#include "app/nowplaying/MediaButton.h"
#include "app/nowplaying/NowPlayingInfo.h"
#include "platform/ui/Color.h"
#include "platform/ui/View.h"

struct DockPreviewNowPlayingControls {
  // Seconds between two reads of the playback position.
  static constexpr double kRefreshInterval = 1.0;

  NowPlayingInfo nowPlayingInfo;
  ui::Color foregroundColor;
  std::function<void(MediaButton)> onClickMediaButton;

  // "mm:ss" under an hour, "hh:mm:ss" from one hour on (more digits for
  // 100 hours and beyond). Seconds are truncated toward zero; a negative
  // time shows as 00:00, and one that is not a finite number of seconds
  // within the 64-bit range as "--:--".
  static std::string formatTime(double seconds);
  // The decimal text with a leading "0" for values of 9 or less.
  static std::string zeroPadded(std::int64_t value);

  ui::View body() const;
};
