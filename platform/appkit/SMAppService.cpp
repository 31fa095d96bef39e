#include "platform/appkit/SMAppService.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"

namespace appkit {

namespace {

ns::Error makeError(std::int64_t code, std::string description) {
  return ns::Error::withDescription(SMAppServiceErrorDomain, code, std::move(description));
}

bool fail(ns::Error* error, std::int64_t code, std::string description) {
  if (error) *error = makeError(code, std::move(description));
  return false;
}

// The string escapes of desktop-entry values.
std::string escapeValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string unescapeValue(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (char c = text[++i]) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default:
        out += '\\';
        out += c;
    }
  }
  return out;
}

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

}  // namespace

std::shared_ptr<SMAppService> SMAppService::mainAppService() {
  auto bundle = ns::Bundle::main();
  return make(bundle->bundleIdentifier().value_or(ns::kMainBundleIdentifier), bundle->name(),
              bundle->executablePath());
}

std::shared_ptr<SMAppService> SMAppService::make(std::string bundleIdentifier, std::string name,
                                                 std::string executablePath) {
  return std::shared_ptr<SMAppService>(
      new SMAppService(std::move(bundleIdentifier), std::move(name), std::move(executablePath)));
}

SMAppService::SMAppService(std::string bundleIdentifier, std::string name, std::string executablePath)
    : bundleIdentifier_(std::move(bundleIdentifier)), name_(std::move(name)), executablePath_(std::move(executablePath)) {}

bool SMAppService::validIdentifier() const {
  if (bundleIdentifier_.empty() || bundleIdentifier_ == "." || bundleIdentifier_ == "..") return false;
  for (char c : bundleIdentifier_) {
    if (c == '/' || c == '\0' || c == '\n' || c == '\r') return false;
  }
  return true;
}

std::string SMAppService::entryPath() const {
  return ns::paths::appendingPathComponent(
      ns::paths::appendingPathComponent(ns::paths::simulatedSystemDirectory(), "autostart"), bundleIdentifier_ + ".desktop");
}

std::string SMAppService::execLineForProgram(const std::string& path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
    if (c == '%') quoted += '%';
  }
  quoted += '"';
  return escapeValue(quoted);
}

std::optional<std::string> SMAppService::programOfExecLine(const std::string& value) {
  const std::string line = unescapeValue(value);
  std::size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos) return std::nullopt;
  std::string raw;
  if (line[i] == '"') {
    bool closed = false;
    for (++i; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        raw += line[++i];
      } else if (line[i] == '"') {
        closed = true;
        break;
      } else {
        raw += line[i];
      }
    }
    if (!closed) return std::nullopt;
  } else {
    const auto end = line.find_first_of(" \t", i);
    raw = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
  }
  std::string program;
  for (std::size_t k = 0; k < raw.size(); ++k) {
    program += raw[k];
    if (raw[k] == '%' && k + 1 < raw.size() && raw[k + 1] == '%') ++k;
  }
  if (program.empty()) return std::nullopt;
  return program;
}

std::optional<std::string> SMAppService::registeredProgram() const {
  if (!validIdentifier()) return std::nullopt;
  std::ifstream in(entryPath());
  if (!in) return std::nullopt;
  bool inMainGroup = false;
  std::optional<std::string> program;
  bool enabled = true;
  std::string line;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inMainGroup) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = trim(line.substr(0, eq));
    const std::string value = trim(line.substr(eq + 1));
    if (key == "Exec") program = programOfExecLine(value);
    if (key == "Hidden" && value == "true") enabled = false;
    if (key == "X-GNOME-Autostart-enabled" && value == "false") enabled = false;
  }
  if (!enabled) return std::nullopt;
  return program;
}

SMAppServiceStatus SMAppService::status() const {
  auto program = registeredProgram();
  return program && *program == executablePath_ ? SMAppServiceStatus::enabled : SMAppServiceStatus::notRegistered;
}

bool SMAppService::registerAndReturnError(ns::Error* error) {
  if (!validIdentifier()) {
    return fail(error, SMAppServiceErrorInvalidIdentifier, "The bundle identifier cannot name a login item.");
  }
  if (status() == SMAppServiceStatus::enabled) return true;
  const std::string path = entryPath();
  ns::Error directoryError;
  if (!ns::paths::createDirectory(ns::paths::deletingLastPathComponent(path), &directoryError)) {
    return fail(error, SMAppServiceErrorWriteFailed, directoryError.localizedDescription());
  }
  std::ostringstream entry;
  entry << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=" << escapeValue(name_) << "\n"
        << "Exec=" << execLineForProgram(executablePath_) << "\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=true\n";
  if (ns::writeFileAtomically(path, entry.str(), 0644, /*applyUmask=*/true) != 0) {
    return fail(error, SMAppServiceErrorWriteFailed, "The login item could not be written.");
  }
  return true;
}

bool SMAppService::unregisterAndReturnError(ns::Error* error) {
  if (status() != SMAppServiceStatus::enabled) {
    return fail(error, SMAppServiceErrorJobNotFound, "The login item is not registered.");
  }
  std::error_code ec;
  if (!std::filesystem::remove(entryPath(), ec) || ec) {
    return fail(error, SMAppServiceErrorWriteFailed, "The login item could not be removed.");
  }
  return true;
}

}  // namespace appkit
