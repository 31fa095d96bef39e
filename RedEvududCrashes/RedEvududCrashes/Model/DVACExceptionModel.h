#pragma once
// An exception or error with its stack: the exception of a handled error, of
// a crashed thread (the uncaught exception's throw-site frames), or one a
// wrapper SDK saved.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACStackFrame.h"
#include "platform/foundation/Error.h"
#include "platform/machcompat/NSException.h"

// What an exception-like object answers; nullopt for what it does not
// respond to.
struct DVACExceptionDescription {
  std::optional<std::string> name;
  std::optional<std::string> reason;
  std::optional<std::vector<std::string>> callStackSymbols;
};

class DVACExceptionModel : public DVACSerializableObject, public DVACModel {
 public:
  DVACExceptionModel() = default;

  // type = the error's domain, message = the description of its user info
  // (when not empty); the stack is the calling thread's.
  static std::shared_ptr<DVACExceptionModel> initWithError(const ns::Error& error);
  // Each part only when the object answers it; without call-stack symbols
  // the frames come from the calling thread and stackTrace stays absent.
  static std::shared_ptr<DVACExceptionModel> initWithException(const DVACExceptionDescription& exception);
  // The exception's name and reason; its return addresses as symbol lines.
  static std::shared_ptr<DVACExceptionModel> initWithException(const ns::NSException& exception);
  // The given symbol lines, or the calling thread's stack when there are none.
  static std::shared_ptr<DVACExceptionModel> initWithType(std::optional<std::string> type,
                                                          std::optional<std::string> exceptionMessage,
                                                          std::optional<std::vector<std::string>> stackTrace);

  // One frame per line in the call-stack symbol format (DVACCrashesCallStack.h):
  // its address and, where the line knows them, its image and symbol.
  // Lines in any other form give no frame.
  static DVACStackFrames loadStackTrace(const std::vector<std::string>& stackTrace);

  std::optional<std::string> type;
  std::optional<std::string> message;
  std::optional<std::string> stackTrace;
  std::optional<DVACStackFrames> frames;

  ns::Value serializeToDictionary() const override;
  // A type and at least one frame.
  bool isValid() const override;
  bool isEqual(const ns::Object& other) const override;
  std::string description() const override;

  static std::shared_ptr<DVACExceptionModel> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACExceptionModel"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACExceptionModel", "NSObject"}; }

 protected:
  void setStack(const std::vector<std::string>& symbols);
};
