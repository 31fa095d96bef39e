#include "platform/foundation/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace ns {

int writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode, bool applyUmask) {
  static std::atomic<unsigned long> counter{0};
  std::string temporary;
  int fd = -1;
  // O_EXCL rather than reusing a name: another writer of the same target may
  // have its own temporary file there right now.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return errno ? errno : EIO;

  int error = 0;
  if (!applyUmask && ::fchmod(fd, mode) != 0) error = errno;
  for (size_t done = 0; error == 0 && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno != EINTR) error = errno;
      continue;
    }
    done += static_cast<size_t>(n);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temporary.c_str());
  return error;
}

int writeFileAtomically(const std::string& path, const Data& bytes, mode_t mode, bool applyUmask) {
  return writeFileAtomically(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), mode,
                             applyUmask);
}

}  // namespace ns
