#pragma once
// The telemetry client's log sink. Every line carries a level, a tag, the
// source position and a message provider that is called only when the line is
// actually written, so building an expensive message costs nothing while the
// level filters it out.

#include <functional>
#include <string>
#include <string_view>

enum DVACLogLevel : int {
  DVACLogLevelVerbose = 2,
  DVACLogLevelDebug = 3,
  DVACLogLevelInfo = 4,
  DVACLogLevelWarning = 5,
  DVACLogLevelError = 6,
  DVACLogLevelAssert = 7,
  DVACLogLevelNone = 99,
};

// Builds the message text. It is only valid during the logMessage call that
// receives it: a handler that wants the text later must call it right away.
using DVACLogMessageProvider = std::function<std::string()>;

using DVACLogHandler =
    std::function<void(const DVACLogMessageProvider& messageProvider, DVACLogLevel level, const std::string& tag,
                       const char* file, const char* function, unsigned int line)>;

// The client's own tag; services log under theirs.
inline constexpr const char* kDVACLogTag = "RedEvudud";

class DVACLogger {
 public:
  DVACLogger() = delete;

  static DVACLogLevel currentLogLevel();
  // Also marks the level as chosen by the user.
  static void setCurrentLogLevel(DVACLogLevel level);

  static DVACLogHandler logHandler();
  // Also marks the level as chosen by the user. An empty handler silences
  // every message.
  static void setLogHandler(DVACLogHandler handler);

  static bool isUserDefinedLogLevel();
  static void setIsUserDefinedLogLevel(bool isUserDefinedLogLevel);

  // Hands the message to the current handler on the calling thread; the
  // handler does the filtering.
  static void logMessage(const DVACLogMessageProvider& messageProvider, DVACLogLevel level, std::string_view tag,
                         const char* file, const char* function, unsigned int line);

  // Writes "[tag] LEVEL: function/line message" through NSLog when the level
  // passes the current one.
  static void defaultLogHandler(const DVACLogMessageProvider& messageProvider, DVACLogLevel level,
                                const std::string& tag, const char* file, const char* function, unsigned int line);

  // The level's name, or "(null)" for a level that has none.
  static std::string levelName(DVACLogLevel level);

  // Back to the state of a fresh process: level ASSERT, the default handler,
  // not user-defined.
  static void resetForTesting();
};

// The message argument is an expression yielding text; it is evaluated only
// when the line is written.
#define DVACLOG_AT(level, tag, ...)                                                                           \
  DVACLogger::logMessage([&]() -> std::string { return std::string(__VA_ARGS__); }, (level), (tag), __FILE__, \
                         __func__, static_cast<unsigned int>(__LINE__))
#define DVACLogVerbose(tag, ...) DVACLOG_AT(DVACLogLevelVerbose, tag, __VA_ARGS__)
#define DVACLogDebug(tag, ...) DVACLOG_AT(DVACLogLevelDebug, tag, __VA_ARGS__)
#define DVACLogInfo(tag, ...) DVACLOG_AT(DVACLogLevelInfo, tag, __VA_ARGS__)
#define DVACLogWarning(tag, ...) DVACLOG_AT(DVACLogLevelWarning, tag, __VA_ARGS__)
#define DVACLogError(tag, ...) DVACLOG_AT(DVACLogLevelError, tag, __VA_ARGS__)
#define DVACLogAssert(tag, ...) DVACLOG_AT(DVACLogLevelAssert, tag, __VA_ARGS__)
