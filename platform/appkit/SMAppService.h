#pragma once
// SMAppService (ServiceManagement) for the main application: registering it
// makes the program start at login of the simulated system. The login item
// is a freedesktop autostart entry whose Exec line names the running
// executable, kept with the simulated system's state,
// "<simulatedSystemDirectory>/autostart/<bundle identifier>.desktop": never
// in the real session's autostart folder, which would start it at the next
// login of the machine.
//
// The entry is this program's own only when its Exec line names this
// executable: an entry left by another copy of the program is neither
// reported as enabled nor removed by unregistering; registering replaces it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"

namespace appkit {

enum class SMAppServiceStatus { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

inline constexpr const char* SMAppServiceErrorDomain = "SMAppServiceErrorDomain";
enum : std::int64_t {
  // Unregistering a service that is not registered.
  SMAppServiceErrorJobNotFound = 1,
  // The entry could not be written or removed.
  SMAppServiceErrorWriteFailed = 2,
  // The bundle identifier cannot name a file.
  SMAppServiceErrorInvalidIdentifier = 3,
};

class SMAppService {
 public:
  // The main bundle's identifier and name, and the running executable.
  static std::shared_ptr<SMAppService> mainAppService();
  // A service for another identity (tests; other copies of the program).
  static std::shared_ptr<SMAppService> make(std::string bundleIdentifier, std::string name,
                                            std::string executablePath);

  // Writes the entry (replacing one of another copy). Registering while
  // registered changes nothing and succeeds.
  bool registerAndReturnError(ns::Error* error = nullptr);
  // Removes the own entry; SMAppServiceErrorJobNotFound when there is none.
  bool unregisterAndReturnError(ns::Error* error = nullptr);
  SMAppServiceStatus status() const;

  // Where the entry lives (read at each call, so a redirected config
  // directory is followed).
  std::string entryPath() const;
  const std::string& executablePath() const { return executablePath_; }

  // Desktop-entry encoding of the Exec line's program (quoted and escaped),
  // and its decoding; nothing for a line that is not well formed.
  static std::string execLineForProgram(const std::string& path);
  static std::optional<std::string> programOfExecLine(const std::string& value);

 private:
  SMAppService(std::string bundleIdentifier, std::string name, std::string executablePath);
  // The program named by the entry on disk, if the entry exists and is enabled.
  std::optional<std::string> registeredProgram() const;
  bool validIdentifier() const;

  std::string bundleIdentifier_;
  std::string name_;
  std::string executablePath_;
};

}  // namespace appkit
