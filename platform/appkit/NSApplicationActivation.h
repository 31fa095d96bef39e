#pragma once
// The application's activation notifications. The application object posts
// them on the default notification centre, on the main thread, with itself
// (or no sender) as the object: "will become" / "did become" active when the
// application comes to the front, "will resign" / "did resign" active when
// another application takes it.

namespace appkit {

inline constexpr const char* NSApplicationWillBecomeActiveNotification = "NSApplicationWillBecomeActiveNotification";
inline constexpr const char* NSApplicationDidBecomeActiveNotification = "NSApplicationDidBecomeActiveNotification";
inline constexpr const char* NSApplicationWillResignActiveNotification = "NSApplicationWillResignActiveNotification";
inline constexpr const char* NSApplicationDidResignActiveNotification = "NSApplicationDidResignActiveNotification";

}  // namespace appkit
