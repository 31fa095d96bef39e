#include "app/nowplaying/NowPlayingInfo.h"

bool operator==(const NowPlayingInfo& a, const NowPlayingInfo& b) {
  return a.artist == b.artist && a.title == b.title && a.album == b.album && a.duration == b.duration &&
         a.artwork.has_value() == b.artwork.has_value() && a.isPlaying == b.isPlaying;
}
