#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/foundation/Log.h"

namespace {

struct LoggerState {
  std::mutex mutex;
  std::atomic<int> level{DVACLogLevelAssert};
  // Swapped whole so that logMessage can call a handler while another thread
  // replaces it.
  std::shared_ptr<const DVACLogHandler> handler =
      std::make_shared<const DVACLogHandler>(&DVACLogger::defaultLogHandler);
  std::atomic<bool> userDefined{false};
};

LoggerState& state() {
  static LoggerState* s = new LoggerState();  // outlives static destructors that still log
  return *s;
}

}  // namespace

DVACLogLevel DVACLogger::currentLogLevel() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return static_cast<DVACLogLevel>(state().level.load());
}

void DVACLogger::setCurrentLogLevel(DVACLogLevel level) {
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().level = level;
  }
  state().userDefined = true;
}

DVACLogHandler DVACLogger::logHandler() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().handler ? *state().handler : DVACLogHandler();
}

void DVACLogger::setLogHandler(DVACLogHandler handler) {
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().handler = handler ? std::make_shared<const DVACLogHandler>(std::move(handler)) : nullptr;
  }
  state().userDefined = true;
}

bool DVACLogger::isUserDefinedLogLevel() { return state().userDefined; }

void DVACLogger::setIsUserDefinedLogLevel(bool isUserDefinedLogLevel) { state().userDefined = isUserDefinedLogLevel; }

void DVACLogger::logMessage(const DVACLogMessageProvider& messageProvider, DVACLogLevel level, std::string_view tag,
                            const char* file, const char* function, unsigned int line) {
  std::shared_ptr<const DVACLogHandler> handler;
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    handler = state().handler;
  }
  if (handler && *handler) {
    (*handler)(messageProvider, level, std::string(tag), file, function, line);
  }
}

std::string DVACLogger::levelName(DVACLogLevel level) {
  switch (level) {
    case DVACLogLevelVerbose:
      return "VERBOSE";
    case DVACLogLevelDebug:
      return "DEBUG";
    case DVACLogLevelInfo:
      return "INFO";
    case DVACLogLevelWarning:
      return "WARNING";
    case DVACLogLevelError:
      return "ERROR";
    case DVACLogLevelAssert:
      return "ASSERT";
    default:
      return "(null)";
  }
}

void DVACLogger::defaultLogHandler(const DVACLogMessageProvider& messageProvider, DVACLogLevel level,
                                   const std::string& tag, const char* /*file*/, const char* function,
                                   unsigned int line) {
  if (!messageProvider || static_cast<int>(level) < state().level.load()) return;
  if (level == DVACLogLevelNone) return;
  std::string text;
  text.reserve(64);
  text += "[";
  text += tag;
  text += "] ";
  text += levelName(level);
  text += ": ";
  text += function ? function : "(null)";
  text += "/";
  text += std::to_string(line);
  text += " ";
  text += messageProvider();
  ns::NSLog(text);
}

void DVACLogger::resetForTesting() {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().level = DVACLogLevelAssert;
  state().handler = std::make_shared<const DVACLogHandler>(&DVACLogger::defaultLogHandler);
  state().userDefined = false;
}
