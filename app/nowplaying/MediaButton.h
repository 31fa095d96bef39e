#pragma once
// The playback buttons of the Now Playing card, in their order on the card.

enum class MediaButton { back, playPause, forward };
