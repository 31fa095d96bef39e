#pragma once
// The platform's standard directories mapped onto the XDG base directories:
// Application Support -> $XDG_DATA_HOME (~/.local/share), Caches ->
// $XDG_CACHE_HOME (~/.cache), Preferences -> $XDG_CONFIG_HOME (~/.config).
// Relative XDG values are ignored, as the XDG rules say.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace ns::paths {

std::string homeDirectory();
std::string applicationSupportDirectory();
std::string cachesDirectory();
std::string preferencesDirectory();
// The state the simulated system keeps for the user (its login items), kept
// with the program's own data rather than in the real session's places:
// "<Application Support>/com.morvalent.Morvalent/SimulatedSystem".
std::string simulatedSystemDirectory();
// $TMPDIR or /tmp; not redirected by setRootForTesting.
std::string temporaryDirectory();

// Redirects the three directories to <root>/ApplicationSupport, <root>/Caches
// and <root>/Preferences (and the home directory to <root>); nullopt restores
// the real ones.
void setRootForTesting(std::optional<std::string> root);
std::optional<std::string> rootForTesting();

// "a" + "b" -> "a/b", without doubling or dropping the separator.
std::string appendingPathComponent(std::string_view base, std::string_view component);
std::string lastPathComponent(std::string_view path);
std::string deletingLastPathComponent(std::string_view path);

// Creates the directory and its missing parents (mode 0700 for new ones).
// True when it exists afterwards; otherwise an NSPOSIXErrorDomain error.
bool createDirectory(const std::string& path, Error* error = nullptr);

bool fileExists(const std::string& path, bool* isDirectory = nullptr);

}  // namespace ns::paths
