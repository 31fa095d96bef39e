#pragma once
// The scripting interfaces as this program talks to them. Each protocol is a
// tag naming the selectors it declares; a player's own protocols derive from
// these two. Every player member is optional: it is sent only after the very
// object has answered respondsToSelector() for it.

struct SBObjectProtocol {
  static constexpr const char* get = "get";
};

struct SBApplicationProtocol : SBObjectProtocol {
  static constexpr const char* activate = "activate";
  static constexpr const char* delegate = "delegate";
  static constexpr const char* setDelegate = "setDelegate:";
  static constexpr const char* isRunning = "isRunning";
};
