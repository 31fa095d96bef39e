#pragma once

// A keychain kept in files, one per service, in a directory of its own.
//
// File names: "service-" + the service name with every byte other than
// A-Z a-z 0-9 "." "_" "-" written as %XX, + ".keychain". When that encoding
// would pass 200 characters the name is "service-#" + the lowercase hex
// SHA-256 of the service + ".keychain".
//
// File content, UTF-8 JSON:
//   {"format": "morvalent-keychain", "version": 1, "service": "<service>",
//    "items": [{"account": "<account>", "data": "<standard Base64>",
//               "accessible": "AfterFirstUnlockThisDeviceOnly",
//               "created": <ms since 1970>, "modified": <ms since 1970>}, ...]}
// "accessible" is one of the kSecAttrAccessible names without that prefix.
//
// The directory is made 0700 and each file 0600. A file is replaced by writing
// a temporary file beside it and renaming it over the old one, so a reader
// sees the old or the new content, never a mix. Every operation holds an
// exclusive flock on "<directory>/.lock", so stores in several threads or
// processes may share a directory.
//
// A file that does not parse or does not follow the format is renamed to
// "<file>.corrupt-<UTC yyyymmddThhmmssZ>" (with "-N" added when that is taken),
// reported, and from then on the service reads as empty. A file of a newer
// format version is left alone; operations on its service, and queries that
// name no service, answer errSecDecode.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/security/Keychain.h"

namespace sec {

struct KeychainCorruptionReport {
  std::filesystem::path file;
  std::filesystem::path movedTo;  // empty when the file could not be moved
  std::string reason;
};

class FileKeychainStore final : public KeychainStore {
 public:
  // Nothing is created until the first write.
  explicit FileKeychainStore(std::filesystem::path directory);
  ~FileKeychainStore() override;

  const std::filesystem::path& directory() const { return directory_; }

  // "$XDG_DATA_HOME/keychain", or "~/.local/share/keychain" when
  // XDG_DATA_HOME is unset or not absolute; empty when no home is known (every
  // operation of a store there answers errSecNotAvailable).
  static std::filesystem::path defaultDirectory();

  static std::string fileNameForService(std::string_view service);

  // Receives every corrupt file found, after the operation that found it has
  // released the store (so the handler may use the store). The default
  // handler, also restored by an empty one, writes one line to stderr.
  using CorruptionHandler = std::function<void(const KeychainCorruptionReport&)>;
  void setCorruptionHandler(CorruptionHandler handler);

 protected:
  OSStatus loadService(const std::string& service, std::vector<KeychainItem>& items) override;
  OSStatus loadAllServices(ServiceMap& services) override;
  OSStatus saveService(const std::string& service,
                       const std::vector<KeychainItem>& items) override;
  OSStatus beginOperation(bool writing) override;
  void endOperation() override;
  void operationFinished() override;

 private:
  OSStatus readFile(const std::filesystem::path& file, const std::string* expectedService,
                    std::string& service, std::vector<KeychainItem>& items);
  void moveAside(const std::filesystem::path& file, std::string reason);
  OSStatus ensureDirectory();

  std::filesystem::path directory_;
  int lockFd_ = -1;
  std::mutex reportMutex_;
  CorruptionHandler handler_;
  std::vector<KeychainCorruptionReport> pendingReports_;
};

}  // namespace sec
