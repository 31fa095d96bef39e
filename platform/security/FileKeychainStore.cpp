#include "platform/security/FileKeychainStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "platform/foundation/AtomicFile.h"

namespace sec {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr std::string_view kFormat = "morvalent-keychain";
constexpr int kVersion = 1;
constexpr std::string_view kPrefix = "service-";
constexpr std::string_view kSuffix = ".keychain";
constexpr std::size_t kMaxEncodedName = 200;

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const Bytes& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kBase64Alphabet[(v >> 18) & 63];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += kBase64Alphabet[(v >> 6) & 63];
    out += kBase64Alphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t v = bytes[i] << 16;
    if (rest == 2) v |= bytes[i + 1] << 8;
    out += kBase64Alphabet[(v >> 18) & 63];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict: padded, no whitespace, no stray bits in the last group.
std::optional<Bytes> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  Bytes out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int v[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++padding;
        continue;
      }
      if (padding > 0) return std::nullopt;  // data after "="
      v[k] = base64Value(c);
      if (v[k] < 0) return std::nullopt;
    }
    const std::uint32_t group = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out.push_back(static_cast<std::uint8_t>(group >> 16));
    if (padding < 2) out.push_back(static_cast<std::uint8_t>(group >> 8));
    if (padding < 1) out.push_back(static_cast<std::uint8_t>(group));
    if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0)) {
      return std::nullopt;
    }
  }
  return out;
}

std::int64_t toMillis(std::chrono::system_clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

std::chrono::system_clock::time_point fromMillis(std::int64_t millis) {
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(millis));
}

std::string encodeDocument(const std::string& service, const std::vector<KeychainItem>& items) {
  json list = json::array();
  for (const auto& item : items) {
    list.push_back({{"account", item.account},
                    {"data", base64Encode(item.data)},
                    {"accessible", std::string(accessibleName(item.accessible))},
                    {"created", toMillis(item.creationDate)},
                    {"modified", toMillis(item.modificationDate)}});
  }
  const json document = {{"format", kFormat},
                         {"version", kVersion},
                         {"service", service},
                         {"items", std::move(list)}};
  return document.dump(1) + "\n";
}

enum class Decoded { ok, corrupt, newerVersion };

// Fills service and items from a parsed document; on failure says why.
Decoded decodeDocument(const json& document, std::string& service,
                       std::vector<KeychainItem>& items, std::string& reason) {
  if (!document.is_object()) {
    reason = "not a JSON object";
    return Decoded::corrupt;
  }
  const auto format = document.find("format");
  if (format == document.end() || !format->is_string() || *format != kFormat) {
    reason = "missing or unknown \"format\"";
    return Decoded::corrupt;
  }
  const auto version = document.find("version");
  if (version == document.end() || !version->is_number_integer() || *version < 1) {
    reason = "missing or bad \"version\"";
    return Decoded::corrupt;
  }
  if (*version > kVersion) {
    reason = "format version " + version->dump() + " is newer than this keychain";
    return Decoded::newerVersion;
  }
  const auto name = document.find("service");
  const auto list = document.find("items");
  if (name == document.end() || !name->is_string() || list == document.end() ||
      !list->is_array()) {
    reason = "missing \"service\" or \"items\"";
    return Decoded::corrupt;
  }
  service = name->get<std::string>();
  items.clear();
  std::set<std::string> accounts;
  for (const auto& entry : *list) {
    if (!entry.is_object()) {
      reason = "an item is not an object";
      return Decoded::corrupt;
    }
    const auto account = entry.find("account");
    const auto data = entry.find("data");
    const auto accessible = entry.find("accessible");
    const auto created = entry.find("created");
    const auto modified = entry.find("modified");
    if (account == entry.end() || !account->is_string() || data == entry.end() ||
        !data->is_string() || accessible == entry.end() || !accessible->is_string() ||
        created == entry.end() || !created->is_number_integer() || modified == entry.end() ||
        !modified->is_number_integer()) {
      reason = "an item lacks a field or has one of the wrong type";
      return Decoded::corrupt;
    }
    KeychainItem item;
    item.service = service;
    item.account = account->get<std::string>();
    auto bytes = base64Decode(data->get_ref<const std::string&>());
    const auto level = accessibleFromName(accessible->get_ref<const std::string&>());
    if (!bytes || !level) {
      reason = "item \"" + item.account + "\" has bad data or accessibility";
      return Decoded::corrupt;
    }
    if (!accounts.insert(item.account).second) {
      reason = "account \"" + item.account + "\" appears twice";
      return Decoded::corrupt;
    }
    item.data = std::move(*bytes);
    item.accessible = *level;
    item.creationDate = fromMillis(created->get<std::int64_t>());
    item.modificationDate = fromMillis(modified->get<std::int64_t>());
    items.push_back(std::move(item));
  }
  return Decoded::ok;
}

bool readAll(int fd, std::string& out) {
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

void syncDirectory(const fs::path& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::string utcStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
  return text;
}

bool isServiceFileName(std::string_view name) {
  return name.size() >= kPrefix.size() + kSuffix.size() && name.starts_with(kPrefix) &&
         name.ends_with(kSuffix);
}

}  // namespace

FileKeychainStore::FileKeychainStore(std::filesystem::path directory)
    : directory_(std::move(directory)) {}

FileKeychainStore::~FileKeychainStore() {
  if (lockFd_ >= 0) ::close(lockFd_);
}

std::filesystem::path FileKeychainStore::defaultDirectory() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome && dataHome[0] == '/') return fs::path(dataHome) / "keychain";
  std::string home;
  if (const char* env = std::getenv("HOME"); env && env[0] == '/') {
    home = env;
  } else {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/') {
      home = found->pw_dir;
    }
  }
  if (home.empty()) return {};
  return fs::path(home) / ".local" / "share" / "keychain";
}

std::string FileKeychainStore::fileNameForService(std::string_view service) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : service) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '.' || byte == '_' || byte == '-') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    }
    if (encoded.size() > kMaxEncodedName) break;
  }
  if (encoded.size() > kMaxEncodedName) {
    static constexpr char kLowerHex[] = "0123456789abcdef";
    encoded = "#";
    for (const auto byte : sha256(asBytes(service))) {
      encoded += kLowerHex[byte >> 4];
      encoded += kLowerHex[byte & 15];
    }
  }
  return std::string(kPrefix) + encoded + std::string(kSuffix);
}

void FileKeychainStore::setCorruptionHandler(CorruptionHandler handler) {
  std::lock_guard lock(reportMutex_);
  handler_ = std::move(handler);
}

OSStatus FileKeychainStore::ensureDirectory() {
  std::error_code error;
  if (directory_.has_parent_path()) fs::create_directories(directory_.parent_path(), error);
  if (::mkdir(directory_.c_str(), 0700) != 0 && errno != EEXIST) return errSecIO;
  struct stat info {};
  if (::stat(directory_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return errSecIO;
  // The directory holds secrets: keep others out even if it was made by hand.
  if ((info.st_mode & 077) != 0 && info.st_uid == ::geteuid()) {
    ::chmod(directory_.c_str(), 0700);
  }
  return errSecSuccess;
}

OSStatus FileKeychainStore::beginOperation(bool writing) {
  if (directory_.empty()) return errSecNotAvailable;
  if (writing) {
    if (const OSStatus status = ensureDirectory()) return status;
  }
  const fs::path lockPath = directory_ / ".lock";
  lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd_ < 0) {
    // A reader of a missing or read-only directory needs no lock: it cannot
    // race a writer that has no place to write.
    return writing ? errSecIO : errSecSuccess;
  }
  while (::flock(lockFd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(lockFd_);
      lockFd_ = -1;
      return errSecIO;
    }
  }
  return errSecSuccess;
}

void FileKeychainStore::endOperation() {
  if (lockFd_ >= 0) {
    ::close(lockFd_);  // releases the flock
    lockFd_ = -1;
  }
}

void FileKeychainStore::operationFinished() {
  std::vector<KeychainCorruptionReport> reports;
  CorruptionHandler handler;
  {
    std::lock_guard lock(reportMutex_);
    reports.swap(pendingReports_);
    handler = handler_;
  }
  for (const auto& report : reports) {
    if (handler) {
      handler(report);
    } else {
      std::cerr << "keychain: corrupt file " << report.file << " ("
                << report.reason << ")";
      if (report.movedTo.empty()) {
        std::cerr << " could not be moved aside\n";
      } else {
        std::cerr << " moved to " << report.movedTo << "\n";
      }
    }
  }
}

void FileKeychainStore::moveAside(const std::filesystem::path& file, std::string reason) {
  KeychainCorruptionReport report{file, {}, std::move(reason)};
  const std::string base = file.string() + ".corrupt-" + utcStamp();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    fs::path target = attempt == 0 ? base : base + "-" + std::to_string(attempt);
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0) continue;
    if (::rename(file.c_str(), target.c_str()) == 0) report.movedTo = std::move(target);
    break;
  }
  std::lock_guard lock(reportMutex_);
  pendingReports_.push_back(std::move(report));
}

OSStatus FileKeychainStore::readFile(const std::filesystem::path& file,
                                     const std::string* expectedService, std::string& service,
                                     std::vector<KeychainItem>& items) {
  items.clear();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? errSecSuccess : errSecIO;
  std::string content;
  const bool read = readAll(fd, content);
  ::close(fd);
  if (!read) return errSecIO;

  const json document = json::parse(content, nullptr, /*allow_exceptions=*/false);
  std::string reason;
  Decoded decoded = Decoded::corrupt;
  if (document.is_discarded()) {
    reason = "not valid JSON";
  } else {
    decoded = decodeDocument(document, service, items, reason);
  }
  if (decoded == Decoded::ok) {
    if (expectedService && service != *expectedService) {
      reason = "holds service \"" + service + "\" instead of \"" + *expectedService + "\"";
      decoded = Decoded::corrupt;
    } else if (file.filename() != fileNameForService(service)) {
      reason = "holds service \"" + service + "\", which belongs in another file";
      decoded = Decoded::corrupt;
    }
  }
  switch (decoded) {
    case Decoded::ok:
      return errSecSuccess;
    case Decoded::newerVersion:
      items.clear();
      return errSecDecode;
    case Decoded::corrupt:
      break;
  }
  items.clear();
  moveAside(file, std::move(reason));
  return errSecSuccess;
}

OSStatus FileKeychainStore::loadService(const std::string& service,
                                        std::vector<KeychainItem>& items) {
  std::string found;
  return readFile(directory_ / fileNameForService(service), &service, found, items);
}

OSStatus FileKeychainStore::loadAllServices(ServiceMap& services) {
  services.clear();
  DIR* dir = ::opendir(directory_.c_str());
  if (!dir) return errno == ENOENT ? errSecSuccess : errSecIO;
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (isServiceFileName(entry->d_name)) names.emplace_back(entry->d_name);
  }
  const bool listed = errno == 0;
  ::closedir(dir);
  if (!listed) return errSecIO;
  for (const auto& name : names) {
    std::string service;
    std::vector<KeychainItem> items;
    if (const OSStatus status = readFile(directory_ / name, nullptr, service, items)) {
      return status;
    }
    if (!items.empty()) services[service] = std::move(items);
  }
  return errSecSuccess;
}

OSStatus FileKeychainStore::saveService(const std::string& service,
                                        const std::vector<KeychainItem>& items) {
  const fs::path file = directory_ / fileNameForService(service);
  if (items.empty()) {
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) return errSecIO;
    syncDirectory(directory_);
    return errSecSuccess;
  }
  std::string content;
  try {
    content = encodeDocument(service, items);
  } catch (const json::exception&) {
    return errSecParam;  // not UTF-8; the store rejects such names before this
  }
  if (ns::writeFileAtomically(file.string(), content, 0600) != 0) return errSecIO;
  syncDirectory(directory_);
  return errSecSuccess;
}

}  // namespace sec
