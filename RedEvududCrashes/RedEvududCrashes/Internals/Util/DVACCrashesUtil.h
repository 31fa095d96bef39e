#pragma once
// The Crashes service's directories, as path components under the SDK's
// file-storage directory. Each is created on the first call that names it.

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

inline constexpr const char* kDVACCrashesDirectory = "crashes";
inline constexpr const char* kDVACLogBufferDirectory = "crasheslogbuffer";
inline constexpr const char* kDVACWrapperExceptionsDirectory = "crasheswrapperexceptions";

class DVACCrashesUtil {
 public:
  DVACCrashesUtil() = delete;

  // "crashes": saved crash reports and the analyzer marker.
  static std::string crashesDir();
  // "crasheslogbuffer": the crash-time log buffer files.
  static std::string logBufferDir();
  // "crasheswrapperexceptions": exceptions saved by a wrapper SDK.
  static std::string wrapperExceptionsDir();
  // The next call of each creates its directory again.
  static void resetDirectory();

  // The whole file at the path; nil when it cannot be opened.
  static std::optional<ns::Data> readFile(const std::string& path);
};
