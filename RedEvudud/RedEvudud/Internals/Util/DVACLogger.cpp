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

LoggerState& loggerState() {
  static LoggerState* s = new LoggerState();  // outlives static destructors that still log
  return *s;
}

}  // namespace

DVACLogLevel DVACLogger::currentLogLevel() {
  std::lock_guard<std::mutex> lock(loggerState().mutex);
  return static_cast<DVACLogLevel>(loggerState().level.load());
}

void DVACLogger::setCurrentLogLevel(DVACLogLevel level) {
  {
    std::lock_guard<std::mutex> lock(loggerState().mutex);
    loggerState().level = level;
  }
  loggerState().userDefined = true;
}

DVACLogHandler DVACLogger::logHandler() {
  std::lock_guard<std::mutex> lock(loggerState().mutex);
  return loggerState().handler ? *loggerState().handler : DVACLogHandler();
}

void DVACLogger::setLogHandler(DVACLogHandler handler) {
  {
    std::lock_guard<std::mutex> lock(loggerState().mutex);
    loggerState().handler = handler ? std::make_shared<const DVACLogHandler>(std::move(handler)) : nullptr;
  }
  loggerState().userDefined = true;
}

bool DVACLogger::isUserDefinedLogLevel() { return loggerState().userDefined; }

void DVACLogger::setIsUserDefinedLogLevel(bool isUserDefinedLogLevel) {
  loggerState().userDefined = isUserDefinedLogLevel;
}

void DVACLogger::logMessage(const DVACLogMessageProvider& messageProvider, DVACLogLevel level, std::string_view tag,
                            const char* file, const char* function, unsigned int line) {
  std::shared_ptr<const DVACLogHandler> handler;
  {
    std::lock_guard<std::mutex> lock(loggerState().mutex);
    handler = loggerState().handler;
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
  if (!messageProvider || static_cast<int>(level) < loggerState().level.load()) return;
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
  std::lock_guard<std::mutex> lock(loggerState().mutex);
  loggerState().level = DVACLogLevelAssert;
  loggerState().handler = std::make_shared<const DVACLogHandler>(&DVACLogger::defaultLogHandler);
  loggerState().userDefined = false;
}
