#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACCrashesUtil.h"

#include <fstream>
#include <iterator>
#include <mutex>

#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"

namespace {

struct DirectoryTokens {
  std::mutex mutex;
  bool crashes = false;
  bool logBuffer = false;
  bool wrapperExceptions = false;
};

DirectoryTokens& tokens() {
  static DirectoryTokens shared;
  return shared;
}

std::string directoryOnce(bool DirectoryTokens::*token, const char* name) {
  auto& state = tokens();
  std::lock_guard lock(state.mutex);
  if (!(state.*token)) {
    state.*token = true;
    DVACUtility::createDirectoryForPathComponent(std::string(name));
  }
  return name;
}

}  // namespace

std::string DVACCrashesUtil::crashesDir() { return directoryOnce(&DirectoryTokens::crashes, kDVACCrashesDirectory); }

std::string DVACCrashesUtil::logBufferDir() {
  return directoryOnce(&DirectoryTokens::logBuffer, kDVACLogBufferDirectory);
}

std::string DVACCrashesUtil::wrapperExceptionsDir() {
  return directoryOnce(&DirectoryTokens::wrapperExceptions, kDVACWrapperExceptionsDirectory);
}

void DVACCrashesUtil::resetDirectory() {
  auto& state = tokens();
  std::lock_guard lock(state.mutex);
  state.crashes = state.logBuffer = state.wrapperExceptions = false;
}

std::optional<ns::Data> DVACCrashesUtil::readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return ns::Data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
