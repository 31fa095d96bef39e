#pragma once
// Keeps the throw site of an uncaught CXX exception. The executable's own
// __cxa_throw records, per thread, the backtrace of every throw compiled into
// it (while a handler is registered); a terminate handler turns the current
// exception into a DVACCrashesUncaughtCXXExceptionInfo record (type name,
// message, throw-site frames) and hands it to every registered handler.

#include <cstdint>

// The record handed to the handlers; it lives on the terminate handler's
// stack, so a handler must not keep it beyond its call.
struct DVACCrashesUncaughtCXXExceptionInfo {
  // The terminate handler's std::exception_ptr on the current exception.
  const void* exception;
  // The thrown type's mangled name; may be null.
  const char* exception_type_name;
  // The exception's message; null when it has none.
  const char* exception_message;
  uint32_t exception_frames_count;
  // Throw-site return addresses, innermost first.
  const uint64_t* exception_frames;
};

using DVACCrashesUncaughtCXXExceptionHandlerFunction = void (*)(const DVACCrashesUncaughtCXXExceptionInfo* info);

// The throw-time backtrace of one thread, and which exception it belongs to.
struct DVACCrashesThrowBacktrace {
  uint64_t frames[128];
  uint32_t count;
  // The thrown object and its type.
  const void* object;
  const void* type;
  // The entry of the live-throw table that follows the object's lifetime
  // (-1 when the table was full), and the ticket it was given.
  int32_t liveIndex;
  uint64_t liveTicket;
};

class DVACCrashesUncaughtCXXExceptionHandlerManager {
 public:
  DVACCrashesUncaughtCXXExceptionHandlerManager() = delete;

  // Appends the handler (the same one twice is called twice); the first call
  // installs the terminate handler.
  static void addCXXExceptionHandler(DVACCrashesUncaughtCXXExceptionHandlerFunction handler);
  // Removes its first occurrence; an empty list uninstalls the terminate
  // handler, unless another party has replaced it meanwhile.
  static void removeCXXExceptionHandler(DVACCrashesUncaughtCXXExceptionHandlerFunction handler);
  static uint32_t countCXXExceptionHandler();
  // Whether the terminate handler is installed.
  static bool isInstalled();
};

// The terminate handler.
void DVACCrashesUncaughtCXXTerminateHandler();

// The calling thread's record of its latest recorded throw; null when none.
const DVACCrashesThrowBacktrace* DVACCrashesCurrentThreadThrowBacktrace();
// Whether that record describes this exception object, thrown and not yet
// destroyed (an object at the same address may be a later exception).
bool DVACCrashesThrowBacktraceDescribes(const DVACCrashesThrowBacktrace& record, const void* object,
                                        const void* type);
