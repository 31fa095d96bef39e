#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"

namespace {

constexpr const char* kDVACDirectoryName = "com.diruriduv.redevudud";
// The freedesktop attribute that backup tools read.
constexpr const char* kBackupAttribute = "user.xdg.robots.backup";

// File operations of different threads never interleave.
std::recursive_mutex& fileLock() {
  static std::recursive_mutex mutex;
  return mutex;
}

struct DirectoryCache {
  std::mutex mutex;
  std::string applicationSupport;
  std::string bundleIdentifier;
  std::optional<ns::URL> url;
};

DirectoryCache& directoryCache() {
  static DirectoryCache cache;
  return cache;
}

ns::Error posixError(int code) { return ns::Error::withDescription(ns::NSPOSIXErrorDomain, code, std::strerror(code)); }

// A component that climbs out of the SDK directory is refused.
bool isSafeComponent(std::string_view component) {
  size_t start = 0;
  while (start <= component.size()) {
    size_t end = component.find('/', start);
    if (end == std::string_view::npos) end = component.size();
    if (component.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string pathOf(const ns::URL& url) {
  std::string path = url.path();
  return path.empty() ? "/" : path;
}

bool writeAll(int fd, const ns::Data& data) {
  size_t written = 0;
  while (written < data.size()) {
    ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<size_t>(n);
  }
  return true;
}

// Writes the file whole; atomically means through a temporary file renamed
// over the target, so a reader never sees half of it.
bool writeFile(const std::string& path, const ns::Data& data, bool atomically, mode_t mode, int* errorCode) {
  if (atomically) {
    *errorCode = ns::writeFileAtomically(path, data, mode, /*applyUmask=*/true);
    return *errorCode == 0;
  }
  auto fail = [&](int fd) {
    *errorCode = errno ? errno : EIO;
    if (fd >= 0) ::close(fd);
    return false;
  };
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return fail(-1);
  if (!writeAll(fd, data)) return fail(fd);
  if (::close(fd) != 0) return fail(-1);
  return true;
}

}  // namespace

ns::URL DVACUtility::redEvududDirectoryURL() {
  DirectoryCache& cache = directoryCache();
  const std::string applicationSupport = ns::paths::applicationSupportDirectory();
  const std::string bundleIdentifier = ns::Bundle::main()->bundleIdentifier().value_or("(null)");
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (!cache.url || cache.applicationSupport != applicationSupport || cache.bundleIdentifier != bundleIdentifier) {
    ns::URL url = ns::URL::fileURLWithPath(applicationSupport, true)
                      .URLByAppendingPathComponent(bundleIdentifier + "/")
                      .URLByAppendingPathComponent(kDVACDirectoryName, true);
    createDirectoryAtURL(url);
    cache.applicationSupport = applicationSupport;
    cache.bundleIdentifier = bundleIdentifier;
    cache.url = url;
  }
  return *cache.url;
}

void DVACUtility::resetRedEvududDirectoryForTesting() {
  DirectoryCache& cache = directoryCache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  cache.url.reset();
}

std::optional<ns::URL> DVACUtility::fullURLForPathComponent(const std::optional<std::string>& component) {
  if (!component || !isSafeComponent(*component)) return std::nullopt;
  return redEvududDirectoryURL().URLByAppendingPathComponent(*component);
}

bool DVACUtility::fileExistsForPathComponent(const std::optional<std::string>& component) {
  auto url = fullURLForPathComponent(component);
  if (!url) return false;
  struct stat info {};
  return ::stat(pathOf(*url).c_str(), &info) == 0;
}

std::optional<ns::URL> DVACUtility::createFileAtPathComponent(const std::optional<std::string>& component,
                                                              const std::optional<ns::Data>& data, bool atomically,
                                                              bool forceOverwrite) {
  std::lock_guard<std::recursive_mutex> lock(fileLock());
  auto url = fullURLForPathComponent(component);
  if (!url) return std::nullopt;
  const std::string path = pathOf(*url);
  struct stat info {};
  if (!forceOverwrite && ::stat(path.c_str(), &info) == 0) return url;
  createDirectoryAtURL(url->URLByDeletingLastPathComponent());
  int errorCode = 0;
  if (!writeFile(path, data.value_or(ns::Data{}), atomically, 0666, &errorCode)) {
    DVACLogError(kDVACLogTag, "Couldn't create new file at path " + url->absoluteString());
    return std::nullopt;
  }
  return url;
}

bool DVACUtility::deleteItemForPathComponent(const std::optional<std::string>& component) {
  std::lock_guard<std::recursive_mutex> lock(fileLock());
  if (!component) return false;
  auto url = fullURLForPathComponent(component);
  if (!url) return false;
  return deleteFileAtURL(url);
}

bool DVACUtility::deleteFileAtURL(const std::optional<ns::URL>& url) {
  std::lock_guard<std::recursive_mutex> lock(fileLock());
  if (!url) return false;
  const std::string path = pathOf(*url);
  std::error_code ec;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    ec = std::error_code(errno, std::generic_category());
  } else {
    std::filesystem::remove_all(path, ec);
  }
  if (ec) {
    DVACLogDebug(kDVACLogTag, "Couldn't remove item at " + url->absoluteString() + ": " +
                                  posixError(ec.value()).localizedDescription());
    return false;
  }
  return true;
}

std::optional<ns::URL> DVACUtility::createDirectoryForPathComponent(const std::optional<std::string>& component) {
  std::lock_guard<std::recursive_mutex> lock(fileLock());
  auto url = fullURLForPathComponent(component);
  if (!url || !createDirectoryAtURL(url)) return std::nullopt;
  return url;
}

std::optional<ns::Data> DVACUtility::loadDataForPathComponent(const std::optional<std::string>& component) {
  std::lock_guard<std::recursive_mutex> lock(fileLock());
  auto url = fullURLForPathComponent(component);
  if (!url) return std::nullopt;
  int fd = ::open(pathOf(*url).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  ns::Data data;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  data.reserve(static_cast<size_t>(info.st_size));
  uint8_t buffer[64 * 1024];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    data.insert(data.end(), buffer, buffer + n);
  }
  ::close(fd);
  return data;
}

std::optional<std::vector<ns::URL>> DVACUtility::contentsOfDirectory(const std::optional<std::string>& component,
                                                                     const std::vector<std::string>& /*keys*/) {
  std::lock_guard<std::recursive_mutex> lock(fileLock());
  if (!component || component->empty()) return std::nullopt;
  auto url = fullURLForPathComponent(component);
  if (!url) return std::nullopt;
  const std::string path = pathOf(*url);
  DIR* dir = ::opendir(path.c_str());
  if (!dir) {
    DVACLogDebug(kDVACLogTag, "Couldn't get files in the directory \"" + *component +
                                  "\": " + posixError(errno).localizedDescription());
    return std::nullopt;
  }
  std::vector<ns::URL> entries;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string entryPath = ns::paths::appendingPathComponent(path, name);
    bool isDirectory = false;
    ns::paths::fileExists(entryPath, &isDirectory);
    entries.push_back(ns::URL::fileURLWithPath(entryPath, isDirectory));
  }
  ::closedir(dir);
  return entries;
}

bool DVACUtility::createFileAtPath(const std::string& path, const ns::Data& contents,
                                   const ns::Dictionary& attributes) {
  mode_t mode = 0666;
  if (auto it = attributes.find("NSFilePosixPermissions"); it != attributes.end()) {
    if (auto permissions = it->second.asInt64()) mode = static_cast<mode_t>(*permissions & 07777);
  }
  int errorCode = 0;
  return writeFile(path, contents, true, mode, &errorCode);
}

bool DVACUtility::createDirectoryAtURL(const std::optional<ns::URL>& url) {
  if (!url) return false;
  ns::Error error;
  if (!ns::paths::createDirectory(pathOf(*url), &error)) {
    DVACLogError(kDVACLogTag,
                 "Couldn't create directory at " + url->absoluteString() + ": " + error.localizedDescription());
    return false;
  }
  disableBackupForDirectoryURL(url);
  return true;
}

bool DVACUtility::disableBackupForDirectoryURL(const std::optional<ns::URL>& url) {
  if (!url) return false;
  static constexpr char kNo[] = "false";
  if (::setxattr(pathOf(*url).c_str(), kBackupAttribute, kNo, sizeof kNo - 1, 0) == 0) return true;
  // A file system without user attributes has nothing a backup tool could read.
  if (errno == ENOTSUP || errno == EOPNOTSUPP) return true;
  DVACLogError(kDVACLogTag, "Error excluding " + url->absoluteString() + " from iCloud backup " +
                                posixError(errno).localizedDescription());
  return false;
}
