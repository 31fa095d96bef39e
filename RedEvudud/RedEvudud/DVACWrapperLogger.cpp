#include "RedEvudud/RedEvudud/DVACWrapperLogger.h"

void DVACWrapperLogger::DVACWrapperLog(const DVACLogMessageProvider& message, std::string_view tag,
                                       DVACLogLevel level) {
  DVACLogger::logMessage(message, level, tag, __FILE__, __func__, static_cast<unsigned int>(__LINE__));
}
